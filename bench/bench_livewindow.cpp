// The main window streaming a replay camera of 30 M events/s: how evenly frames
// reach the GUI, how late the GUI thread's event loop runs, how old the events
// of a shown frame are, and whether resident memory stays flat.
//
// One run of VX_BENCH_LIVE_SECONDS (default 20; 600 for the memory soak).
// Counters (milliseconds unless named otherwise):
//   frame_p50/p99/max  interval between frames arriving on the GUI thread
//   stall_p99/max      lateness of a 1 ms timer on the GUI thread
//   age_p50/p99/max    time from the arrival of the oldest batch of a frame (the
//                      live loop has fetched and accumulated it and asks for a
//                      frame) to that frame arriving on the GUI thread
//   camera_MEv_s       event rate of the last statistics line (what the camera delivered)
//   rss_first/min/max/last_MB  resident memory sampled every 5 s after a 5 s warm-up
#include "app/appsettings.h"
#include "camera/cameraslist.h"
#include "driver/rawfilewriter.h"
#include "processing/vxeventprocessor.h"
#include "support/syntheticevents.h"
#include "ui/mainwidget.h"
#include "bench/guistallmeter.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QRegularExpression>
#include <QListWidget>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {

using vxbench::GuiStallMeter;
using vxbench::ms;
using vxbench::percentile;

QTemporaryDir &cameraDir()
{
    static QTemporaryDir dir;
    return dir;
}

double rssMb()
{
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            double kb = 0;
            status >> kb;
            return kb / 1024;
        }
        status.ignore(1 << 12, '\n');
    }
    return 0;
}

bool writeReplayRecording(const std::string &path, double rate, uint64_t durationUs)
{
    vxtest::SyntheticOptions o;
    o.eventRate = rate;
    o.durationUs = durationUs;
    vxtest::SyntheticEventStream stream(o);
    vexadin::RawFileWriter writer;
    if (!writer.open(path, {}))
        return false;
    std::vector<vexadin::Event2D> slice;
    while (stream.nextSlice(slice, 10000))
        if (!writer.write(slice))
            return false;
    return writer.close();
}

void spin(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

static void BM_LiveWindow30M(benchmark::State &state)
{
    const char *env = std::getenv("VX_BENCH_LIVE_SECONDS");
    const int seconds = std::max(6, env ? std::atoi(env) : 20);
    for (auto _ : state) {
        MainWidget w;
        w.show();

        std::vector<double> frameIntervals, ages;
        std::vector<double> rss;
        Clock::time_point lastFrame{};
        bool measuring = false;

        // The live loop asks for a frame once per frame, right after the first batch
        // that arrived since the last publish: that batch is the oldest of the frame.
        std::atomic<int64_t> arrivalNs{0};
        QObject::connect(&w, &MainWidget::triggerEventsToShow, &w,
                         [&] { arrivalNs.store(Clock::now().time_since_epoch().count()); }, Qt::DirectConnection);
        int64_t pendingArrivalNs = 0;
        bool havePending = false;
        VxEventProcessor *processor = w.eventProcessor();
        QObject::connect(processor, &VxEventProcessor::signalRealTimeTimeStamp, &w, [&](uint64_t) {
            pendingArrivalNs = arrivalNs.load();
            havePending = pendingArrivalNs != 0;
        });
        QObject::connect(processor, &VxEventProcessor::signalEventImage, &w, [&](const QImage &) {
            const Clock::time_point now = Clock::now();
            if (measuring) {
                if (lastFrame != Clock::time_point{})
                    frameIntervals.push_back(ms(now - lastFrame));
                if (havePending)
                    ages.push_back(ms(now - Clock::time_point(Clock::duration(pendingArrivalNs))));
            }
            havePending = false;
            lastFrame = now;
        }, Qt::QueuedConnection);

        GuiStallMeter meter(&w);

        // Choose the only camera (simulated ones are switched off) and open it.
        QTimer chooser;
        chooser.setInterval(20);
        QObject::connect(&chooser, &QTimer::timeout, &w, [&] {
            if (auto *list = qobject_cast<CamerasList *>(QApplication::activeModalWidget())) {
                chooser.stop();
                list->findChild<QPushButton *>("pb_open")->click();
            }
        });
        chooser.start();
        w.slotOpenCamera();
        spin(500);
        if (!w.isStreaming()) {
            state.SkipWithError("the replay camera did not stream");
            return;
        }

        meter.start();
        spin(5000); // warm-up: caches, first slices, page cache
        measuring = true;
        meter.setMeasuring(true);
        lastFrame = {};
        const Clock::time_point end = Clock::now() + std::chrono::seconds(seconds - 5);
        while (Clock::now() < end) {
            rss.push_back(rssMb());
            spin(int(std::min<int64_t>(5000, std::max<int64_t>(
                1, std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count()))));
        }
        rss.push_back(rssMb());
        measuring = false;
        meter.setMeasuring(false);
        meter.stop();

        state.counters["frames"] = double(frameIntervals.size() + 1);
        state.counters["frame_p50"] = percentile(frameIntervals, 0.5);
        state.counters["frame_p99"] = percentile(frameIntervals, 0.99);
        state.counters["frame_max"] = percentile(frameIntervals, 1.0);
        state.counters["stall_p99"] = percentile(meter.stalls(), 0.99);
        state.counters["stall_max"] = percentile(meter.stalls(), 1.0);
        state.counters["age_p50"] = percentile(ages, 0.5);
        state.counters["age_p99"] = percentile(ages, 0.99);
        state.counters["age_max"] = percentile(ages, 1.0);
        const QString status = w.findChild<QLabel *>("lb_status_bar")->text();
        const QRegularExpressionMatch rate = QRegularExpression("Events: ([0-9.]+) MEv/s").match(status);
        state.counters["camera_MEv_s"] = rate.hasMatch() ? rate.captured(1).toDouble() : -1;
        state.counters["rss_first_MB"] = rss.front();
        state.counters["rss_min_MB"] = *std::min_element(rss.begin(), rss.end());
        state.counters["rss_max_MB"] = *std::max_element(rss.begin(), rss.end());
        state.counters["rss_last_MB"] = rss.back();
    }
}
BENCHMARK(BM_LiveWindow30M)->Iterations(1)->Unit(benchmark::kSecond);

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // One replay camera of 30 M events/s (1 s, looped by the camera), no simulated ones.
    qputenv("VEXADIN_SIMULATED_CAMERAS", "0");
    qputenv("VEXADIN_CAMERA_DIR", cameraDir().path().toLocal8Bit());
    QApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    if (!writeReplayRecording(cameraDir().filePath("replay30m.raw").toStdString(), 30e6, 1000000)) {
        fprintf(stderr, "cannot write the replay recording\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
