// The simulated event sensor and the camera's filters: events generated per second
// of CPU and the share of one core the default stream needs in real time (the
// counter core_share, CPU seconds per second of stream), the most the generator can
// give with biases that make many events, each filter's throughput, and the colour
// picture of the scene at 3840 x 2160.
#include "driver/antiflickertool.h"
#include "driver/eventratecontroltool.h"
#include "driver/eventtrailfiltertool.h"
#include "driver/roitool.h"
#include "driver/simulatedscene.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

using namespace vexadin;

namespace {

constexpr uint64_t kSliceUs = 1000;         // the producer's working slice
constexpr uint64_t kIterationUs = 50000;    // stream time per benchmark iteration

// Biases at the ends of their ranges that make the most events.
PixelModelSettings manyEvents()
{
    PixelModelSettings s;
    s.onThreshold = s.offThreshold = 0.05;
    s.refractoryUs = 50;
    s.cutoffHz = 3000;
    s.noiseRateHz = 10;
    return s;
}

void generateStream(benchmark::State &state, const PixelModelSettings &settings)
{
    const auto width = uint16_t(state.range(0)), height = uint16_t(state.range(1));
    SimulatedScene scene(width, height, 1);
    std::vector<Event2D> slice;
    slice.reserve(1 << 20);
    uint64_t t = 0;
    scene.generate(t, t + kSliceUs, settings, slice); // the first call settles every pixel
    t += kSliceUs;
    size_t events = 0;
    for (auto _ : state) {
        for (uint64_t end = t + kIterationUs; t < end; t += kSliceUs) {
            slice.clear();
            scene.generate(t, t + kSliceUs, settings, slice);
            events += slice.size();
        }
        benchmark::DoNotOptimize(slice.data());
    }
    const double streamSeconds = double(state.iterations()) * kIterationUs / 1e6;
    state.SetItemsProcessed(int64_t(events));
    state.counters["stream_ev_per_s"] = double(events) / streamSeconds;
    state.counters["core_share"] =
        benchmark::Counter(streamSeconds, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_SceneDefault(benchmark::State &state)
{
    generateStream(state, PixelModelSettings{});
}
BENCHMARK(BM_SceneDefault)->Args({1280, 720})->Args({640, 480})->Unit(benchmark::kMillisecond);

void BM_SceneManyEvents(benchmark::State &state)
{
    generateStream(state, manyEvents());
}
BENCHMARK(BM_SceneManyEvents)->Args({1280, 720})->Unit(benchmark::kMillisecond);

// Half a second of the default 1280 x 720 stream in 10 ms slices.
struct Slices {
    std::vector<std::vector<Event2D>> slices;
    size_t events = 0;
    static constexpr uint64_t kUs = 10000;
};

const Slices &defaultSlices()
{
    static const Slices s = [] {
        Slices out;
        SimulatedScene scene(1280, 720, 2);
        for (uint64_t t = 0; t < 500000; t += Slices::kUs) {
            std::vector<Event2D> slice;
            scene.generate(t, t + Slices::kUs, PixelModelSettings{}, slice);
            out.events += slice.size();
            out.slices.push_back(std::move(slice));
        }
        return out;
    }();
    return s;
}

// Runs a filter over the slices again and again, time moving on at every pass so
// that its per-pixel state sees a continuing stream.
void runFilter(benchmark::State &state, ParameterTool &tool, EventFilterStage &stage)
{
    tool.setBoolValue("enable", true);
    const Slices &in = defaultSlices();
    std::vector<Event2D> work;
    work.reserve(1 << 20);
    uint64_t offset = 0;
    size_t kept = 0;
    for (auto _ : state) {
        for (size_t i = 0; i < in.slices.size(); ++i) {
            state.PauseTiming();
            work.assign(in.slices[i].begin(), in.slices[i].end());
            for (Event2D &e : work)
                e.timestamp += offset;
            state.ResumeTiming();
            const uint64_t start = offset + i * Slices::kUs;
            stage.apply(work, start, start + Slices::kUs);
            kept += work.size();
        }
        offset += in.slices.size() * Slices::kUs;
    }
    state.SetItemsProcessed(int64_t(in.events * state.iterations()));
    state.counters["kept_share"] = double(kept) / double(in.events * state.iterations());
}

void BM_FilterRoi(benchmark::State &state)
{
    RoiTool roi(1280, 720);
    roi.setWindow(320, 180, 640, 360);
    runFilter(state, roi, roi);
}
BENCHMARK(BM_FilterRoi)->Unit(benchmark::kMillisecond);

void BM_FilterTrail(benchmark::State &state)
{
    EventTrailFilterTool trail(1280, 720);
    runFilter(state, trail, trail);
}
BENCHMARK(BM_FilterTrail)->Unit(benchmark::kMillisecond);

void BM_FilterAntiFlicker(benchmark::State &state)
{
    AntiFlickerTool flicker(1280, 720);
    flicker.setIntValue("low_frequency", 90);
    flicker.setIntValue("high_frequency", 110);
    runFilter(state, flicker, flicker);
}
BENCHMARK(BM_FilterAntiFlicker)->Unit(benchmark::kMillisecond);

void BM_FilterRateControl(benchmark::State &state)
{
    EventRateControlTool rate;
    rate.setIntValue("max_event_rate", 1000);
    runFilter(state, rate, rate);
}
BENCHMARK(BM_FilterRateControl)->Unit(benchmark::kMillisecond);

// One 3840 x 2160 colour picture of a 1280 x 720 scene, a new moment each time;
// with range(0) = 1 the gain changes every frame too (an exposure control at work),
// so the still background is drawn anew each time.
void BM_RenderBgr4K(benchmark::State &state)
{
    SimulatedScene scene(1280, 720, 3);
    const double frameToSensor[6] = {1.0 / 3, 0, -1.0 / 3, 0, 1.0 / 3, -1.0 / 3};
    std::vector<uint8_t> frame(size_t(3840) * 2160 * 3);
    uint64_t t = 0;
    double gain = 1.0;
    for (auto _ : state) {
        if (state.range(0))
            gain = gain == 1.0 ? 1.01 : 1.0;
        scene.renderBgr(t, 3840, 2160, frameToSensor, gain, frame.data());
        benchmark::DoNotOptimize(frame.data());
        t += 33333;
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * 3840 * 2160);
}
BENCHMARK(BM_RenderBgr4K)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
