// Fusion speed: warping a 3840 x 2160 colour frame onto the 1280 x 720 event grid
// (plain scale, rotated, and the pixel-by-pixel formula for comparison), and the
// work of one fusion playback tick (one frame decoded and warped, one event window
// read and drawn) on a full-size recording, slowest of 300.
//
// The recording set is made once and kept in $VX_BENCH_DIR (default
// /tmp/vx-bench-fusion): 4 s of 3840 x 2160 frames at 30 fps (a textured, moving
// picture) and 10 M events/s.
#include "processing/calibrator.h"
#include "processing/vxfusioncameradataprocessor.h"

#include "app/appsettings.h"
#include "camera/calibrationjson.h"
#include "driver/apsvideowriter.h"
#include "support/fusionrecording.h"
#include "support/syntheticevents.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <random>
#include <sys/stat.h>
#include <thread>
#include <time.h>

using vexadin::ApsFrame;
using vexadin::Calibrator;

namespace {

std::string benchDir()
{
    const char *env = std::getenv("VX_BENCH_DIR");
    const std::string dir = env && *env ? env : "/tmp/vx-bench-fusion";
    ::mkdir(dir.c_str(), 0755);
    return dir;
}

double threadCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// Squares drifting over a vertical gradient, with noise.
void drawTiles(ApsFrame &frame, uint32_t number, std::mt19937 &rng)
{
    const int w = frame.getWidth(), h = frame.getHeight();
    uint8_t *p = frame.data();
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x, p += 3) {
            const bool tile = (((x + int(number) * 11) / 96) + ((y + int(number) * 5) / 96)) % 2 == 0;
            const int base = 40 + y * 160 / h + (tile ? 50 : 0);
            const int n = int(rng() & 7) - 4;
            p[0] = uint8_t(std::clamp(base + n, 0, 255));
            p[1] = uint8_t(std::clamp(base + 20 + n, 0, 255));
            p[2] = uint8_t(std::clamp(255 - base + n, 0, 255));
        }
}

ApsFrame sourceFrame()
{
    std::mt19937 rng(3);
    ApsFrame f(3840, 2160, 0, 0);
    drawTiles(f, 0, rng);
    return f;
}

vexadin::CalibratorParameters rotated()
{
    vexadin::CalibratorParameters p = vxtest::fusionScaleCalibration(3840, 2160);
    p.transforms["1"].values = {2.99, 0.052, -12.5, -0.052, 2.99, 20.25};
    Calibrator::computeInverseAffine(p.transforms["1"].values.data(), p.transforms["0"].values.data());
    return p;
}

void BM_MapApsToDvs(benchmark::State &state)
{
    Calibrator c;
    if (state.range(0) == 1 || state.range(0) == 3) {
        vexadin::CalibratorParameters p = rotated();
        c.loadCalibrationParam(p);
    }
    Calibrator::setWideVectorsAllowed(state.range(0) != 3);
    if (state.range(0) == 2) {
        vexadin::CalibratorParameters p = rotated();
        Calibrator d;
        const Calibrator::Affine a = d.dvsToAps();
        p.transforms["1"].values.assign(a.begin(), a.end());
        p.transforms["1"].values[1] = 1e-300;
        c.loadCalibrationParam(p);
    }
    c.adjustAffineTranslation(7, -3);
    const ApsFrame src = sourceFrame();
    for (auto _ : state) {
        ApsFrame out = c.mapApsToDvs(src);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * 1280 * 720);
    Calibrator::setWideVectorsAllowed(true);
    static const char *const labels[] = {"default scale", "rotated", "near-axis, general path", "rotated, SSE2 only"};
    state.SetLabel(labels[state.range(0)]);
}
BENCHMARK(BM_MapApsToDvs)->Arg(0)->Arg(1)->Arg(2)->Arg(3)->Unit(benchmark::kMillisecond);

// The formula evaluated pixel by pixel, as a yardstick.
void BM_MapApsToDvsPlainFormula(benchmark::State &state)
{
    Calibrator c;
    const Calibrator::Affine m = c.dvsToAps();
    const ApsFrame src = sourceFrame();
    std::atomic<double> ox{7}, oy{-3};
    for (auto _ : state) {
        ApsFrame out(1280, 720, 0, 0);
        for (int y = 0; y < 720; ++y)
            for (int x = 0; x < 1280; ++x) {
                const int sx = int(((y * m[1] + x * m[0]) + m[2]) + ox.load(std::memory_order_relaxed));
                const int sy = int(((y * m[4] + x * m[3]) + m[5]) + oy.load(std::memory_order_relaxed));
                if (sx >= 0 && sx < 3840 && sy >= 0 && sy < 2160)
                    std::memcpy(out.data() + (size_t(y) * 1280 + x) * 3, src.data() + (size_t(sy) * 3840 + sx) * 3, 3);
            }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * 1280 * 720);
}
BENCHMARK(BM_MapApsToDvsPlainFormula)->Unit(benchmark::kMillisecond);

constexpr int64_t kOffset = 2000000;
constexpr size_t kFrames = 120;

// The full-size recording set, made when missing.
std::string fusionSet()
{
    const std::string base = benchDir() + "/fullsize";
    struct stat st{};
    if (::stat((base + ".json").c_str(), &st) == 0)
        return base;
    std::fprintf(stderr, "making %s.{raw,mp4,json} (%zu frames of 3840 x 2160)...\n", base.c_str(), kFrames);
    {
        std::mt19937 rng(5);
        std::vector<ApsFrame> pictures;
        for (uint32_t i = 0; i < 30; ++i) {
            pictures.emplace_back(3840, 2160, i, 0);
            drawTiles(pictures.back(), i, rng);
        }
        vexadin::ApsVideoWriter writer;
        if (!writer.open(base + ".mp4", 3840, 2160))
            return base;
        for (size_t i = 0; i < kFrames; ++i) {
            ApsFrame f = pictures[i % pictures.size()].clone();
            f.setFrameNumber(i);
            f.setTimestamp(i * 1000000 / 30);
            while (writer.framesQueued() >= 4)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            writer.push(f);
        }
        writer.close();
    }
    vxtest::SyntheticOptions o;
    o.eventRate = 10e6;
    o.durationUs = kFrames * 1000000 / 30 + 100000;
    o.startTimestampUs = uint64_t(kOffset);
    vexadin::RawFileHeader header;
    header.apsTimeOffset = kOffset;
    vxtest::writeRecording(base + ".raw", vxtest::generateEvents(o), {}, header);
    vexadin::CalibratorParameters calibration;
    Calibrator defaults;
    calibration = defaults.parameters();
    const Calibrator::Affine toAps = defaults.dvsToAps(), toDvs = defaults.apsToDvs();
    calibration.transforms["1"].values.assign(toAps.begin(), toAps.end());
    calibration.transforms["0"].values.assign(toDvs.begin(), toDvs.end());
    vexadin::paramToJsonFile(calibration, base + ".json");
    return base;
}

void quietDebug(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type != QtDebugMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

double processCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// One tick's work (a step forward renders exactly what a playback tick renders),
// 300 ticks paced at the playback period as the playback thread paces them (frames
// decoded ahead need that time), looping over the recording: the loop's rewind is
// counted in the tick that does it. Reported: the ticking thread's CPU and wall time
// (median, slowest, slowest after the cold first tick, slowest of the five ticks from
// each loop's rewind on), the whole process's CPU per tick (decoding ahead included)
// and how long the load took.
void BM_FusionPlaybackTick(benchmark::State &state)
{
    const std::string base = fusionSet();
    QTemporaryDir dir;
    AppSettings settings(dir.filePath("config.ini"));
    const QtMessageHandler previous = qInstallMessageHandler(quietDebug);
    VxFusionCameraDataProcessor worker(&settings);
    worker.slotSetViewerType(vexadin::STREAM_TYPE(state.range(0)));
    const auto loadStart = std::chrono::steady_clock::now();
    if (!worker.slotReadFusionFile(QString::fromStdString(base + ".raw"))) {
        state.SkipWithError("cannot open the recording");
        return;
    }
    while (worker.isLoading())
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    state.counters["load_ms"] =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - loadStart).count();
    std::vector<double> wall, cpu, process;
    double slowestAfterRewind = 0;
    int sinceRewind = 1 << 20;
    const bool verbose = std::getenv("VX_BENCH_VERBOSE") != nullptr;
    const auto period = std::chrono::microseconds(VxFusionCameraDataProcessor::kTickPeriodUs);
    for (auto _ : state) {
        auto due = std::chrono::steady_clock::now();
        for (int tick = 0; tick < 300; ++tick) {
            std::this_thread::sleep_until(due);
            due += period;
            const auto t0 = std::chrono::steady_clock::now();
            const double c0 = threadCpuMs();
            const double p0 = processCpuMs();
            if (worker.timeBase() + 33333 >= worker.rangeEnd()) {
                worker.slotPlaybackReset();
                sinceRewind = 0;
            }
            worker.nextFrame();
            cpu.push_back(threadCpuMs() - c0);
            process.push_back(processCpuMs() - p0);
            wall.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
            if (sinceRewind++ < 5)
                slowestAfterRewind = std::max(slowestAfterRewind, wall.back());
            if (verbose)
                std::fprintf(stderr, "tick %d at %llu: cpu %.1f ms, wall %.1f ms, process cpu %.1f ms\n", tick,
                             (unsigned long long)worker.timeBase(), cpu.back(), wall.back(), process.back());
        }
    }
    qInstallMessageHandler(previous);
    const auto over = std::count_if(wall.begin(), wall.end(), [](double ms) { return ms > 33.333; });
    state.counters["wall_over_33ms"] = double(over);
    state.counters["wall_slowest_after_rewind_ms"] = slowestAfterRewind;
    state.counters["wall_slowest_after_first_ms"] = *std::max_element(wall.begin() + 1, wall.end());
    state.counters["cpu_slowest_after_first_ms"] = *std::max_element(cpu.begin() + 1, cpu.end());
    std::sort(wall.begin(), wall.end());
    std::sort(cpu.begin(), cpu.end());
    std::sort(process.begin(), process.end());
    state.counters["wall_slowest_ms"] = wall.back();
    state.counters["wall_median_ms"] = wall[wall.size() / 2];
    state.counters["cpu_slowest_ms"] = cpu.back();
    state.counters["cpu_median_ms"] = cpu[cpu.size() / 2];
    state.counters["process_cpu_median_ms"] = process[process.size() / 2];
    const char *names[] = {"events only", "frames only", "fusion"};
    state.SetLabel(names[state.range(0)]);
}
BENCHMARK(BM_FusionPlaybackTick)->Arg(2)->Arg(1)->Arg(0)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
