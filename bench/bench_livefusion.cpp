// The main window streaming the simulated fusion camera at full size (3840 x 2160
// frames at 30 fps, 1280 x 720 events): how many pictures reach the GUI thread per
// second and how long the GUI thread's event loop stalls, in each view mode
// (argument: 0 events only, 1 frames only, 2 both).
//
// One run of VX_BENCH_FUSION_SECONDS (default 20) per mode after a 3 s warm-up.
// Counters:
//   shown_fps               pictures arriving on the GUI thread per second
//   interval_p50/p99/max    time between them, ms
//   stall_p99/max           lateness of a 1 ms timer on the GUI thread, ms
//   cpu_cores               process CPU time / wall time over the run
#include "app/appsettings.h"
#include "processing/vxfusioncameradataprocessor.h"
#include "support/windowtestkit.h"
#include "ui/mainwidget.h"
#include "bench/guistallmeter.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QEventLoop>
#include <QPushButton>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {

using vxbench::GuiStallMeter;
using vxbench::ms;
using vxbench::percentile;

double cpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

void spin(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

static void BM_LiveFusion30fps(benchmark::State &state)
{
    const int mode = int(state.range(0));
    const char *env = std::getenv("VX_BENCH_FUSION_SECONDS");
    const int seconds = std::max(3, env ? std::atoi(env) : 20);
    for (auto _ : state) {
        MainWidget w;
        w.show();

        std::vector<double> intervals;
        Clock::time_point lastPicture{};
        bool measuring = false;
        int pictures = 0;
        QObject::connect(w.fusionProcessor(), &VxFusionCameraDataProcessor::signalFusionImage, &w,
                         [&](const QImage &) {
                             const Clock::time_point now = Clock::now();
                             if (measuring) {
                                 ++pictures;
                                 if (lastPicture != Clock::time_point{})
                                     intervals.push_back(ms(now - lastPicture));
                             }
                             lastPicture = now;
                         },
                         Qt::QueuedConnection);
        GuiStallMeter meter(&w);

        vxtest::openCamera(w, "VXSIM-OMNIRA-0001");
        spin(500);
        if (!w.isStreaming() || !w.fusionCamera()) {
            state.SkipWithError("the fusion camera did not stream");
            return;
        }
        auto *viewerType = w.findChild<QPushButton *>("pb_viewer_type");
        while (w.viewerType() != mode)
            viewerType->click();

        meter.start();
        spin(3000);
        measuring = true;
        meter.setMeasuring(true);
        lastPicture = {};
        const double cpu0 = cpuSeconds();
        const Clock::time_point start = Clock::now();
        spin(seconds * 1000);
        const double wall = std::chrono::duration<double>(Clock::now() - start).count();
        const double cpu = cpuSeconds() - cpu0;
        measuring = false;
        meter.setMeasuring(false);
        meter.stop();

        state.counters["shown_fps"] = pictures / wall;
        state.counters["interval_p50"] = percentile(intervals, 0.5);
        state.counters["interval_p99"] = percentile(intervals, 0.99);
        state.counters["interval_max"] = percentile(intervals, 1.0);
        state.counters["stall_p99"] = percentile(meter.stalls(), 0.99);
        state.counters["stall_max"] = percentile(meter.stalls(), 1.0);
        state.counters["cpu_cores"] = cpu / wall;
    }
}
BENCHMARK(BM_LiveFusion30fps)->Arg(0)->Arg(1)->Arg(2)->Iterations(1)->Unit(benchmark::kSecond);

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The full-size camera: no size or rate override from the environment.
    qunsetenv("VEXADIN_FUSION_FRAME_SIZE");
    qunsetenv("VEXADIN_FUSION_FPS");
    QApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
