// Camera speed: the simulated camera's CPU at its default rate and the rate its
// sensor can produce; a replay camera of a 50 M events/s recording delivering in
// real time to a live consumer that accumulates every batch (paced as the window's
// live loop, and ready for every batch); and
// recording a 50 M events/s stream for 10 s (every event written, peak memory).
// Timings are wall clock with CPU time beside them: note the machine's load.
#include "camera/dvscamera.h"
#include "camera/dvscameramanager.h"
#include "driver/biasestool.h"
#include "driver/liveslicer.h"
#include "driver/rawfilereader.h"
#include "driver/replaysource.h"
#include "driver/simulatedcamerakind.h"
#include "driver/simulatedsource.h"
#include "driver/streamingcamera.h"
#include "driver/streamrecorder.h"
#include "driver/triggerintool.h"
#include "processing/vxeventprocessor.h"
#include "app/appsettings.h"
#include "support/cameratestkit.h"
#include "support/syntheticevents.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <cstring>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include <sys/resource.h>
#include <time.h>

using namespace vexadin;
using Clock = std::chrono::steady_clock;

namespace {

double cpuSeconds()
{
    rusage u {};
    ::getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double threadCpuMs()
{
    timespec t {};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// kB of a "VmHWM:"-style line of /proc/self/status.
long statusKb(const char *key)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.compare(0, std::strlen(key), key) == 0)
            return std::atol(line.c_str() + std::strlen(key));
    return -1;
}

void resetPeakRss()
{
    std::ofstream("/proc/self/clear_refs") << "5"; // the peak starts again from the present size
}

AppSettings &settings()
{
    static QTemporaryDir dir;
    static AppSettings s(dir.filePath("config.ini"));
    return s;
}

// A live consumer. `WindowLoop` paces like the window's live loop: 30 ms of sleep
// after every batch, at least 30.3 ms per iteration, whatever the work took. With
// 33.3 ms slices that loop only keeps up while a batch costs under ~3 ms, so at high
// rates it skips slices by its own pacing. `Ready` polls every 2 ms while nothing is
// waiting and takes each slice as soon as it completes: what the camera delivers to
// a consumer that is ready for every batch.
enum class Pacing { WindowLoop, Ready };

struct LiveConsumer {
    LiveConsumer(DvsCamera &camera, bool accumulate, Pacing pacing = Pacing::WindowLoop)
        : camera_(camera), accumulate_(accumulate), pacing_(pacing)
    {
    }
    void run(double seconds)
    {
        VxEventProcessor processor(&settings());
        std::vector<Event2D> batch;
        const auto until = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
        while (Clock::now() < until) {
            const auto t0 = Clock::now();
            const bool got = camera_.getNextBatch(batch) && !batch.empty();
            if (got) {
                const auto w0 = Clock::now();
                const double c0 = threadCpuMs();
                if (accumulate_) {
                    processor.accumulate(batch);
                    processor.publishLiveFrame();
                }
                const double work = std::chrono::duration<double, std::milli>(Clock::now() - w0).count();
                workMsMax = std::max(workMsMax, work);
                workMsSum += work;
                workCpuMsSum += threadCpuMs() - c0;
                events += batch.size();
                ++batches;
            }
            if (pacing_ == Pacing::Ready) {
                if (!got)
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                continue;
            }
            if (got)
                std::this_thread::sleep_until(Clock::now() + std::chrono::milliseconds(30));
            const auto period = std::chrono::microseconds(30303);
            if (Clock::now() - t0 < period)
                std::this_thread::sleep_until(t0 + period);
        }
    }
    DvsCamera &camera_;
    bool accumulate_;
    Pacing pacing_;
    uint64_t events = 0, batches = 0;
    double workMsMax = 0, workMsSum = 0, workCpuMsSum = 0;
};

// A 1 s recording of `rate` events/s at 1280 x 720 in the cameras folder, made once.
std::string replayRecording(const vxtest::ScopedCameraFolder &folder, const std::string &serial, double rate)
{
    const std::string path = folder.file(serial + ".raw");
    vxtest::SyntheticOptions o;
    o.eventRate = rate;
    o.durationUs = 1000000;
    vxtest::SyntheticEventStream stream(o);
    RawFileWriter writer;
    RawFileHeader h;
    h.product = "EVK4";
    if (!writer.open(path, h))
        return std::string();
    std::vector<Event2D> slice;
    while (stream.nextSlice(slice, 10000))
        writer.write(slice);
    writer.close();
    return path;
}

} // namespace

// The simulated EVK4 streaming to the live loop for 5 s: at its default settings
// (argument 0), and with the biases turned to the most events (argument 1).
static void BM_SimulatedCamera(benchmark::State &state)
{
    vxtest::ScopedCameraFolder folder;
    DvsCameraManager manager;
    for (auto _ : state) {
        std::shared_ptr<DvsCamera> camera = manager.openCamera(SimulatedCameraKind::kEvk4Serial);
        if (state.range(0) == 1) {
            auto biases = camera->getTool(TOOL_BIASES);
            for (const char *name : {"on_threshold", "off_threshold", "refractory_period"})
                biases->setIntValue(name, -100);
            biases->setIntValue("bandwidth", 100);
            biases->setIntValue("noise_level", 100);
        }
        camera->setBatchSliceTime(33333);
        const double cpu0 = cpuSeconds();
        const auto t0 = Clock::now();
        camera->start();
        LiveConsumer consumer(*camera, false);
        consumer.run(5.0);
        camera->stop();
        const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
        const double cpu = cpuSeconds() - cpu0;
        auto &s = vxtest::streamingCamera(camera);
        state.SetIterationTime(wall);
        state.counters["cores"] = cpu / wall;
        state.counters["delivered_Mev_s"] = double(s.deliveredEvents()) / wall / 1e6;
        state.counters["skipped_slices"] = double(s.skippedSlices());
        state.counters["lag_jumps"] = double(s.lagJumps());
    }
}
BENCHMARK(BM_SimulatedCamera)->Arg(0)->Arg(1)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// How fast the simulated sensor produces with biases turned to the most events
// (lowest thresholds, shortest refractory period, widest bandwidth; noise as the
// argument): events per CPU second, and the rate of the stream it made.
static void BM_SimulatedSensorCapacity(benchmark::State &state)
{
    auto biases = std::make_shared<BiasesTool>();
    biases->setIntValue("on_threshold", -100);
    biases->setIntValue("off_threshold", -100);
    biases->setIntValue("refractory_period", -100);
    biases->setIntValue("bandwidth", 100);
    biases->setIntValue("noise_level", int(state.range(0)));
    SimulatedSource source(1280, 720, 7, biases, std::make_shared<TriggerInTool>());
    std::vector<Event2D> events;
    std::vector<EventTriggerIn> triggers;
    uint64_t t = 0, produced = 0;
    source.startAt(0);
    for (auto _ : state) {
        events.clear();
        source.produce(t, t + 2000, events, triggers); // one producer step
        t += 2000;
        produced += events.size();
    }
    state.SetItemsProcessed(int64_t(produced));
    state.counters["stream_Mev_s"] = double(produced) / (double(t) / 1e6) / 1e6; // rate of the stream it made
}
BENCHMARK(BM_SimulatedSensorCapacity)->Arg(0)->Arg(100)->MinTime(3.0)->Unit(benchmark::kMillisecond);

// The producer's work for a replay camera of a 50 M events/s recording, as fast as
// it goes (no pacing): reading ahead, shifting to camera time and slicing. CPU
// time per event tells how much of a core real time needs, whatever the load.
static void BM_ReplayProducerWork(benchmark::State &state)
{
    vxtest::ScopedCameraFolder folder(false);
    const std::string path = replayRecording(folder, "dense", 50e6);
    std::string error;
    std::unique_ptr<ReplaySource> source = ReplaySource::open(path, &error);
    if (!source) {
        state.SkipWithError(error.c_str());
        return;
    }
    LiveSlicer slicer(33333);
    std::vector<Event2D> events, batch;
    std::vector<EventTriggerIn> triggers;
    source->startAt(0);
    slicer.begin(0);
    uint64_t t = 0, produced = 0;
    for (auto _ : state) {
        events.clear();
        source->produce(t, t + 2000, events, triggers);
        t += 2000;
        slicer.add(events.data(), events.data() + events.size(), t);
        slicer.fetch(batch);
        produced += events.size();
    }
    state.SetItemsProcessed(int64_t(produced));
}
BENCHMARK(BM_ReplayProducerWork)->MinTime(3.0)->Unit(benchmark::kMicrosecond);

// A replay camera of a 50 M events/s recording to a live loop that accumulates
// every batch: nothing may be skipped.
static void BM_ReplayCamera50MToLiveView(benchmark::State &state)
{
    vxtest::ScopedCameraFolder folder(false);
    if (replayRecording(folder, "dense", 50e6).empty()) {
        state.SkipWithError("cannot write the recording");
        return;
    }
    const Pacing pacing = state.range(1) == 0 ? Pacing::WindowLoop : Pacing::Ready;
    DvsCameraManager manager;
    for (auto _ : state) {
        std::shared_ptr<DvsCamera> camera = manager.openCamera("dense");
        camera->setBatchSliceTime(33333);
        auto &s = vxtest::streamingCamera(camera);
        const double cpu0 = cpuSeconds();
        const auto t0 = Clock::now();
        camera->start();
        LiveConsumer consumer(*camera, true, pacing);
        consumer.run(double(state.range(0)));
        camera->stop();
        const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
        state.SetIterationTime(wall);
        state.counters["cores"] = (cpuSeconds() - cpu0) / wall;
        state.counters["delivered_Mev_s"] = double(s.deliveredEvents()) / wall / 1e6;
        state.counters["accumulated_Mev_s"] = double(consumer.events) / wall / 1e6;
        state.counters["batches"] = double(consumer.batches);
        state.counters["skipped_slices"] = double(s.skippedSlices());
        state.counters["lag_jumps"] = double(s.lagJumps());
        state.counters["batch_work_ms_mean"] = consumer.batches ? consumer.workMsSum / double(consumer.batches) : 0.0;
        state.counters["batch_work_ms_max"] = consumer.workMsMax;
        state.counters["batch_work_cpu_ms_mean"] = consumer.batches ? consumer.workCpuMsSum / double(consumer.batches) : 0.0;
    }
}
// Arguments: seconds, pacing (0 = the window's loop, 1 = a consumer ready for every batch).
BENCHMARK(BM_ReplayCamera50MToLiveView)->Args({5, 0})->Args({5, 1})->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// Recording 10 s of a 50 M events/s stream (a replay camera) while the live loop
// runs: every event written, and the peak resident memory meanwhile.
static void BM_Record50MFor10s(benchmark::State &state)
{
    vxtest::ScopedCameraFolder folder(false);
    vxtest::ScopedTempFolder out("bench-record");
    if (replayRecording(folder, "dense", 50e6).empty()) {
        state.SkipWithError("cannot write the recording");
        return;
    }
    DvsCameraManager manager;
    for (auto _ : state) {
        std::shared_ptr<DvsCamera> camera = manager.openCamera("dense");
        auto &s = vxtest::streamingCamera(camera);
        camera->setBatchSliceTime(33333);
        const std::string path = out.file("record.raw");
        resetPeakRss();
        const long rssBefore = statusKb("VmRSS:");
        const double cpu0 = cpuSeconds();
        camera->startRecording(path);
        const uint64_t delivered0 = s.deliveredEvents();
        camera->start();
        LiveConsumer consumer(*camera, true);
        consumer.run(10.0);
        camera->stop();
        const uint64_t delivered = s.deliveredEvents() - delivered0;
        const auto t0 = Clock::now();
        camera->stopRecording();
        const double stopSeconds = std::chrono::duration<double>(Clock::now() - t0).count();
        const double cpu = cpuSeconds() - cpu0;
        vexadin::DvsFileInfo info;
        auto reader = RawFileReader::create(path);
        if (!reader || !reader->open() || !reader->getFileInfo(info)) {
            state.SkipWithError("the recording cannot be read");
            return;
        }
        state.SetIterationTime(10.0 + stopSeconds);
        state.counters["delivered_Mev"] = double(delivered) / 1e6;
        state.counters["written_Mev"] = double(info.eventCount) / 1e6;
        state.counters["lost_ev"] = double(s.recorder().lostEvents());
        state.counters["file_MB"] = double(reader->fileSize()) / 1e6;
        state.counters["VmHWM_MB"] = double(statusKb("VmHWM:")) / 1024.0;
        state.counters["RSS_before_MB"] = double(rssBefore) / 1024.0;
        state.counters["stop_s"] = stopSeconds;
        state.counters["cores"] = cpu / (10.0 + stopSeconds);
        state.counters["skipped_slices"] = double(s.skippedSlices());
    }
}
BENCHMARK(BM_Record50MFor10s)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
