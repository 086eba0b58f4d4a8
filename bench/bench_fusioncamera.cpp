// The simulated fusion camera on this machine: frames per second it sustains at a
// frame size (3840 x 2160 by default; 1920 x 1080 for comparison) with the events
// streaming beside them, and the CPU it takes; and a 10 s fusion recording of the
// stream (frames written, frames the encoder could not take). Timings are wall
// clock with CPU time beside them: note the machine's load.
#include "camera/apsfilereader.h"
#include "camera/dvscameramanager.h"
#include "camera/dvsfilereader.h"
#include "driver/framesyncsource.h"
#include "driver/simulatedfusioncamera.h"
#include "driver/simulatedfusioncamerakind.h"
#include "driver/streamingcamera.h"
#include "support/cameratestkit.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include <sys/resource.h>

using namespace vexadin;
using Clock = std::chrono::steady_clock;

namespace {

double cpuSeconds()
{
    rusage u {};
    ::getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Opens the camera with frames of width x height at fps frames per second.
std::shared_ptr<SimulatedFusionCamera> openOmnira(DvsCameraManager &manager, int64_t width, int64_t height,
                                                  int64_t fps = 30)
{
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    ::setenv("VEXADIN_FUSION_FRAME_SIZE", size.c_str(), 1);
    ::setenv("VEXADIN_FUSION_FPS", std::to_string(fps).c_str(), 1);
    auto camera = std::dynamic_pointer_cast<SimulatedFusionCamera>(
        manager.openFusionCamera(SimulatedFusionCameraKind::kSerial));
    ::unsetenv("VEXADIN_FUSION_FRAME_SIZE");
    ::unsetenv("VEXADIN_FUSION_FPS");
    return camera;
}

struct Counts {
    std::atomic<uint64_t> frames{0}, events{0};
    void attach(FusionCamera &camera)
    {
        camera.addApsFrameCallback([this](ApsFrame) { ++frames; });
        camera.addEventsCallback([this](const Event2D *b, const Event2D *e) { events += uint64_t(e - b); });
    }
};

void sleepSeconds(double s)
{
    std::this_thread::sleep_for(std::chrono::duration<double>(s));
}

} // namespace

// 5 s of streaming (after 2 s to settle) at the frame size and rate given: frames delivered
// per second, frames the sensor thread could not read out in time, the producer's
// jumps after falling behind, and cores used.
static void BM_FusionCameraStream(benchmark::State &state)
{
    vxtest::ScopedCameraFolder folder;
    DvsCameraManager manager;
    for (auto _ : state) {
        auto camera = openOmnira(manager, state.range(0), state.range(1), state.range(2));
        if (!camera) {
            state.SkipWithError("no fusion camera");
            return;
        }
        Counts counts;
        counts.attach(*camera);
        camera->start(STREAM_FUSION);
        sleepSeconds(2.0); // the first full-size buffers take a while to fault in
        const uint64_t frames0 = counts.frames, events0 = counts.events, dropped0 = camera->framesDropped();
        const uint64_t jumps0 = camera->eventCamera()->lagJumps();
        const double cpu0 = cpuSeconds();
        const auto t0 = Clock::now();
        sleepSeconds(5.0);
        const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
        const double cpu = cpuSeconds() - cpu0;
        const uint64_t frames = counts.frames - frames0, events = counts.events - events0;
        const uint64_t dropped = camera->framesDropped() - dropped0;
        const uint64_t jumps = camera->eventCamera()->lagJumps() - jumps0;
        camera->stop(STREAM_FUSION);
        state.SetIterationTime(wall);
        state.counters["frames_s"] = double(frames) / wall;
        state.counters["frames_dropped"] = double(dropped);
        state.counters["lag_jumps"] = double(jumps);
        state.counters["events_Mev_s"] = double(events) / wall / 1e6;
        state.counters["cores"] = cpu / wall;
    }
}
BENCHMARK(BM_FusionCameraStream)
    ->Args({3840, 2160, 30})
    ->Args({1920, 1080, 30})
    ->Args({3840, 2160, 120}) // how far beyond 30 frames per second the camera keeps up
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

// A 10 s fusion recording while the stream runs: frames in the video against the
// exposures recorded in the .raw (each has its edge 1 there); the difference is
// what the encoder could not take (or the sensor could not read out).
static void BM_FusionRecord10s(benchmark::State &state)
{
    vxtest::ScopedCameraFolder folder;
    vxtest::ScopedTempFolder out("benchfusionrec");
    DvsCameraManager manager;
    for (auto _ : state) {
        auto camera = openOmnira(manager, state.range(0), state.range(1));
        if (!camera) {
            state.SkipWithError("no fusion camera");
            return;
        }
        Counts counts;
        counts.attach(*camera);
        camera->start(STREAM_FUSION);
        sleepSeconds(0.5);
        const uint64_t jumps0 = camera->eventCamera()->lagJumps(), dropped0 = camera->framesDropped();
        const double cpu0 = cpuSeconds();
        const auto t0 = Clock::now();
        if (!camera->startRecording(out.path(), "bench", STREAM_FUSION)) {
            state.SkipWithError("recording refused");
            return;
        }
        sleepSeconds(10.0);
        const auto stopping = Clock::now();
        camera->stopRecording(STREAM_FUSION);
        const double stopSeconds = std::chrono::duration<double>(Clock::now() - stopping).count();
        const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
        const double cpu = cpuSeconds() - cpu0;
        const uint64_t jumps = camera->eventCamera()->lagJumps() - jumps0;
        const uint64_t sensorDropped = camera->framesDropped() - dropped0;
        camera->stop(STREAM_FUSION);

        const vxtest::RecordingContent raw = vxtest::readRecording(out.file("bench.raw"));
        uint64_t exposures = 0;
        for (const EventTriggerIn &t : raw.triggers)
            exposures += t.id == FrameSyncSource::kSyncChannel && t.edge == 1;
        std::vector<uint64_t> index;
        auto video = ApsFileReader::createFileReader(out.file("bench.mp4"));
        if (!video || !video->open() || !video->getFrameIndex(index)) {
            state.SkipWithError("the video does not read back");
            return;
        }
        state.SetIterationTime(wall);
        state.counters["exposures"] = double(exposures);
        state.counters["frames_written"] = double(index.size());
        state.counters["frames_missing"] = double(exposures) - double(index.size());
        state.counters["events_M"] = double(raw.events.size()) / 1e6;
        state.counters["stop_s"] = stopSeconds;
        state.counters["lag_jumps"] = double(jumps);
        state.counters["sensor_dropped"] = double(sensorDropped);
        state.counters["cores"] = cpu / wall;
    }
}
BENCHMARK(BM_FusionRecord10s)
    ->Args({3840, 2160})
    ->Args({1920, 1080})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

BENCHMARK_MAIN();
