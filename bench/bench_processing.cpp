// Event processing speed: accumulating events, drawing a frame, the playback step
// period on a dense recording, video export against real time, and (VX_BENCH_BIG=1)
// resident memory while playing, stepping and seeking through a ~2 GB recording.
#include "processing/vxeventprocessor.h"

#include "app/appsettings.h"
#include "camera/operationcontrol.h"
#include "driver/rawfilereader.h"
#include "driver/rawfilewriter.h"
#include "driver/videoexporter.h"
#include "support/syntheticevents.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <sys/resource.h>

using vexadin::Event2D;
using Clock = std::chrono::steady_clock;

namespace {

AppSettings &settings()
{
    static QTemporaryDir dir;
    static AppSettings s(dir.filePath("config.ini"));
    return s;
}

std::vector<Event2D> cameraLike(double rate, uint64_t durationUs, uint64_t seed = 7)
{
    vxtest::SyntheticOptions o;
    o.seed = seed;
    o.eventRate = rate;
    o.durationUs = durationUs;
    return vxtest::generateEvents(o);
}

// Streams a long recording to disk without holding it in memory.
bool writeStreamed(const std::string &path, double rate, uint64_t durationUs)
{
    vxtest::SyntheticOptions o;
    o.eventRate = rate;
    o.durationUs = durationUs;
    o.startTimestampUs = 1000000;
    vxtest::SyntheticEventStream stream(o);
    vexadin::RawFileWriter writer;
    if (!writer.open(path, {}))
        return false;
    std::vector<Event2D> slice;
    while (stream.nextSlice(slice, 10000)) {
        if (!writer.write(slice))
            return false;
    }
    return writer.close();
}

// Recordings made once per run, shared by the benchmarks, removed at exit.
std::vector<std::pair<std::string, std::string>> made;

const std::string &recordingOf(double rate, uint64_t durationUs)
{
    const std::string key = std::to_string(rate) + "/" + std::to_string(durationUs);
    for (auto &kv : made)
        if (kv.first == key)
            return kv.second;
    std::string path = vxtest::tempPath("bench-processing");
    if (!writeStreamed(path, rate, durationUs))
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
    made.emplace_back(key, path);
    return made.back().second;
}

long procStatusKb(const char *field)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(field) + ":";
    while (std::getline(in, line))
        if (line.compare(0, prefix.size(), prefix) == 0)
            return std::atol(line.c_str() + prefix.size());
    return -1;
}

double processCpuSeconds()
{
    rusage u {};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void resetPeakRss()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

// The engine hands its load and playback results to the thread that runs the event loop.
void processEventsUntil(const std::atomic<bool> &done, Clock::time_point deadline = Clock::time_point::max())
{
    while (!done && Clock::now() < deadline) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// Plays `path` with a processor and records when each step's frame was drawn (the render
// worker emits at once, so the times are the worker's, not the event loop's).
struct PlaybackRun {
    std::vector<Clock::time_point> steps;
    double maxStepMs = 0;
    double meanStepMs = 0;
    double maxLagMs = 0;
};

PlaybackRun playThrough(const std::string &path, int fps, uint64_t accTime, double maxSeconds)
{
    PlaybackRun run;
    VxEventProcessor p(&settings());
    std::mutex m;
    std::atomic<bool> loaded{false}, stopped{false};
    QObject::connect(&p, &VxEventProcessor::signalEventImage, &p, [&](const QImage &) {
        std::lock_guard<std::mutex> lock(m);
        run.steps.push_back(Clock::now());
    }, Qt::DirectConnection);
    QObject::connect(&p, &VxEventProcessor::signalLoadingStatus, [&](bool on) {
        if (!on)
            loaded = true;
    });
    p.setFps(fps);
    p.setAccTime(accTime);
    p.loadFile(QString::fromStdString(path));
    processEventsUntil(loaded);
    QObject::connect(&p, &VxEventProcessor::signalPlayStatus, [&](bool on) {
        if (!on)
            stopped = true;
    });
    p.slotPlaybackCtrl(true);
    processEventsUntil(stopped, Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                    std::chrono::duration<double>(maxSeconds)));
    p.slotPlaybackCtrl(false);
    std::lock_guard<std::mutex> lock(m);
    for (size_t i = 1; i < run.steps.size(); ++i) {
        const double ms = std::chrono::duration<double, std::milli>(run.steps[i] - run.steps[i - 1]).count();
        run.maxStepMs = std::max(run.maxStepMs, ms);
        run.meanStepMs += ms;
    }
    if (run.steps.size() > 1)
        run.meanStepMs /= double(run.steps.size() - 1);
    // How far behind the fixed 33,333 µs schedule a step reported: stays at a few ms of
    // read-time jitter while the worker keeps its period, grows when it falls behind.
    for (size_t i = 1; i < run.steps.size(); ++i) {
        const double due = double(i) * 33.333;
        const double at = std::chrono::duration<double, std::milli>(run.steps[i] - run.steps[0]).count();
        run.maxLagMs = std::max(run.maxLagMs, at - due);
    }
    return run;
}

} // namespace

// Adding one batch of camera-like events (one core).
static void BM_Accumulate(benchmark::State &state)
{
    VxEventProcessor p(&settings());
    const auto events = cameraLike(10e6, 100000); // 1 M events
    for (auto _ : state)
        p.accumulate(events);
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(events.size()));
}
BENCHMARK(BM_Accumulate)->Unit(benchmark::kMillisecond);

// Drawing one 1280 x 720 frame from the counts of one 33,333 µs window.
static void BM_DrawFrame(benchmark::State &state)
{
    const double rate = double(state.range(0)) * 1e6;
    std::vector<uint8_t> counts(size_t(VxEventProcessor::kWidth) * VxEventProcessor::kHeight * 2, 0);
    for (const Event2D &e : cameraLike(rate, 33333)) {
        uint8_t &c = counts[(size_t(e.y) * VxEventProcessor::kWidth + e.x) * 2 + e.polarity];
        c = uint8_t(std::min<int>(c + 1, VxEventProcessor::countCap));
    }
    QImage image(VxEventProcessor::kWidth, VxEventProcessor::kHeight, QImage::Format_RGB888);
    const EventColors colors = settings().eventColors();
    for (auto _ : state) {
        VxEventProcessor::drawCounts(counts.data(), image, colors);
        benchmark::DoNotOptimize(image.constBits());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * VxEventProcessor::kWidth * VxEventProcessor::kHeight);
}
BENCHMARK(BM_DrawFrame)->Arg(1)->Arg(10)->Arg(50)->Unit(benchmark::kMicrosecond);

// The playback worker's step period (33,333 µs) on a 50 M events/s recording at real
// time (fps 30, 33,333 µs windows): each step reads, accumulates and publishes ~1.7 M events.
static void BM_PlaybackStepPeriod50M(benchmark::State &state)
{
    const std::string &path = recordingOf(50e6, 1500000);
    PlaybackRun run;
    for (auto _ : state)
        run = playThrough(path, 30, 33333, 10.0);
    state.counters["steps"] = double(run.steps.size());
    state.counters["mean_step_ms"] = run.meanStepMs;
    state.counters["max_step_ms"] = run.maxStepMs;
    state.counters["max_lag_ms"] = run.maxLagMs;
    if (std::getenv("VX_BENCH_VERBOSE")) {
        for (size_t i = 1; i < run.steps.size(); ++i)
            std::fprintf(stderr, "step %zu: %.2f ms\n", i,
                         std::chrono::duration<double, std::milli>(run.steps[i] - run.steps[i - 1]).count());
    }
}
BENCHMARK(BM_PlaybackStepPeriod50M)->Iterations(1)->Unit(benchmark::kSecond);

// exportVideo of a 10 M events/s recording; realtime_x = recording seconds per wall second.
static void BM_ExportVideo10M(benchmark::State &state)
{
    const uint64_t durationUs = 3000000;
    const std::string &path = recordingOf(10e6, durationUs);
    auto reader = vexadin::RawFileReader::create(path);
    uint64_t first = 0, last = 0;
    if (!reader || !reader->open() || !reader->getStartTimestamp(first) || !reader->getEndTimestamp(last)) {
        state.SkipWithError("cannot open the recording");
        return;
    }
    const std::string out = vxtest::tempPath("bench-export", ".mp4");
    double seconds = 0;
    double cpuSeconds = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        const double cpu0 = processCpuSeconds();
        if (!reader->exportVideo(first, last, out)) {
            state.SkipWithError("export failed");
            break;
        }
        seconds = std::chrono::duration<double>(Clock::now() - t0).count();
        cpuSeconds = processCpuSeconds() - cpu0;
    }
    std::remove(out.c_str());
    const double recordingSeconds = double(last - first) / 1e6;
    state.counters["realtime_x"] = recordingSeconds / seconds;
    // All threads (the encoder's included); on an idle 2-core machine the wall time
    // approaches half of it.
    state.counters["process_cpu_s"] = cpuSeconds;
    state.counters["realtime_x_idle_2core"] = recordingSeconds / (cpuSeconds / 2);
}
BENCHMARK(BM_ExportVideo10M)->Iterations(2)->Unit(benchmark::kSecond);

// How long an export takes to stop once cancelled (the window's Cancel, or closing the
// program during an export): from cancel() to exportVideo() returning, temporary file
// removed. Cancelled a third of the way through a 10 M events/s recording.
static void BM_ExportCancelLatency(benchmark::State &state)
{
    const std::string &path = recordingOf(10e6, 3000000);
    auto reader = vexadin::RawFileReader::create(path);
    uint64_t first = 0, last = 0;
    if (!reader || !reader->open() || !reader->getStartTimestamp(first) || !reader->getEndTimestamp(last)) {
        state.SkipWithError("cannot open the recording");
        return;
    }
    const std::string out = vxtest::tempPath("bench-cancel", ".mp4");
    std::vector<double> latenciesMs;
    for (auto _ : state) {
        vexadin::OperationControl control;
        std::atomic<bool> third{false};
        control.setProgressHandler([&](double f) {
            if (f >= 1.0 / 3)
                third = true;
        });
        std::atomic<bool> ok{true};
        std::thread worker([&] { ok = reader->exportVideo(first, last, out, control); });
        while (!third)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        const auto t0 = Clock::now();
        control.cancel();
        worker.join();
        latenciesMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        if (ok)
            state.SkipWithError("the export ended before it was cancelled");
    }
    std::sort(latenciesMs.begin(), latenciesMs.end());
    state.counters["median_ms"] = latenciesMs[latenciesMs.size() / 2];
    state.counters["max_ms"] = latenciesMs.back();
}
BENCHMARK(BM_ExportCancelLatency)->Iterations(9)->Unit(benchmark::kMillisecond);

// Resident memory while playing, stepping and seeking a ~2 GB recording. Only with
// VX_BENCH_BIG=1 (writing the file takes minutes and the disk space).
static void BM_BigRecordingMemory(benchmark::State &state)
{
    std::string path = vxtest::tempPath("bench-big");
    // 50 M events/s of camera-like data (about 4 bytes an event on disk): 10 s make ~2 GB.
    const char *seconds = std::getenv("VX_BENCH_BIG_SECONDS");
    const uint64_t durationUs = uint64_t((seconds ? std::atof(seconds) : 10.0) * 1e6);
    if (!writeStreamed(path, 50e6, durationUs)) {
        state.SkipWithError("cannot write the big recording");
        return;
    }
    std::ifstream size(path, std::ios::binary | std::ios::ate);
    const double fileMb = double(size.tellg()) / 1e6;
    long hwm = 0, rss = 0;
    for (auto _ : state) {
        resetPeakRss();
        VxEventProcessor p(&settings());
        std::atomic<bool> loaded{false};
        QObject::connect(&p, &VxEventProcessor::signalLoadingStatus, [&](bool on) {
            if (!on)
                loaded = true;
        });
        p.loadFile(QString::fromStdString(path));
        processEventsUntil(loaded);
        p.setFps(30);
        p.slotPlaybackCtrl(true);
        std::this_thread::sleep_for(std::chrono::seconds(3));
        for (int i = 0; i < 30; ++i)
            p.nextFrame();
        for (int i = 0; i < 10; ++i)
            p.preFrame();
        for (int i = 0; i < 100; ++i)
            p.setPlayPos(1000000 + uint64_t(i) * (durationUs / 100));
        p.slotPlaybackCtrl(true);
        std::this_thread::sleep_for(std::chrono::seconds(2));
        p.slotPlaybackCtrl(false);
        hwm = procStatusKb("VmHWM");
        rss = procStatusKb("VmRSS");
    }
    std::remove(path.c_str());
    state.counters["file_MB"] = fileMb;
    state.counters["VmHWM_MB"] = double(hwm) / 1024.0;
    state.counters["VmRSS_MB"] = double(rss) / 1024.0;
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    if (const char *big = std::getenv("VX_BENCH_BIG"); big && std::string(big) == "1")
        benchmark::RegisterBenchmark("BM_BigRecordingMemory", BM_BigRecordingMemory)
            ->Iterations(1)
            ->Unit(benchmark::kSecond);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    for (const auto &kv : made)
        std::remove(kv.second.c_str());
    return 0;
}
