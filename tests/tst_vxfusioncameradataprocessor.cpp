// vx-test-labels: tsan
// The fusion worker with fusion recordings written by our own writers and with live
// data fed from test threads the way the camera's callbacks feed it. Worker signals
// are recorded under a mutex from the emitting thread; the play status, which the
// worker emits on the GUI thread, is handed back to slotPlaybackCtrl as the main
// window's play button does.
#include "processing/vxfusioncameradataprocessor.h"

#include "app/appsettings.h"
#include "camera/calibrationjson.h"
#include "support/apspattern.h"
#include "support/fusionrecording.h"

#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

#include "support/qtesttime.h"

using vexadin::ApsFrame;
using vexadin::Event2D;
using vexadin::EventTriggerIn;

namespace {

constexpr QRgb kPositive = qRgb(191, 188, 180);
constexpr QRgb kNegative = qRgb(64, 61, 51);
constexpr QRgb kBackground = qRgb(112, 112, 112);
constexpr QRgb kRed = qRgb(255, 0, 0);
constexpr uint16_t kApsW = 320;
constexpr uint16_t kApsH = 180;
constexpr int64_t kOffset = 5000000;
constexpr uint64_t kFrameUs = 33333;
// Marker pixels (bottom right, on the red third of the frames) that fire all the time.
constexpr int kMarkX = 1000;
constexpr int kMarkY = 700;

QRgb at(const QImage &img, int x, int y)
{
    return img.pixel(x, y) | 0xff000000u;
}

// H.264 keeps flat colours within a few levels.
bool near(QRgb a, QRgb b)
{
    return std::abs(qRed(a) - qRed(b)) < 24 && std::abs(qGreen(a) - qGreen(b)) < 24 &&
           std::abs(qBlue(a) - qBlue(b)) < 24;
}

// The frame number shown in a picture warped with the 1/4 scale calibration.
int shownFrame(const QImage &img)
{
    ApsFrame frame(kApsW, kApsH, 0, 0);
    uint8_t *p = frame.data();
    for (int y = 0; y < kApsH; ++y)
        for (int x = 0; x < kApsW; ++x, p += 3) {
            const QRgb c = img.pixel(x * 4, y * 4);
            p[0] = uint8_t(qBlue(c));
            p[1] = uint8_t(qGreen(c));
            p[2] = uint8_t(qRed(c));
        }
    return int(vxtest::readFrameNumber(frame));
}

// Two marker pixels with one event each per millisecond, with a gap of quiet.
std::vector<Event2D> markerEvents(uint64_t from, uint64_t to, uint64_t gapFrom = 0, uint64_t gapTo = 0)
{
    std::vector<Event2D> ev;
    for (uint64_t t = from; t <= to; t += 1000) {
        if (t >= gapFrom && t < gapTo)
            continue;
        ev.emplace_back(uint16_t(kMarkX), uint16_t(kMarkY), uint8_t(1), t);
        ev.emplace_back(uint16_t(kMarkX + 1), uint16_t(kMarkY), uint8_t(0), t);
    }
    return ev;
}

class FakeCamera : public vexadin::FusionCamera {
public:
    FakeCamera() : FusionCamera(vexadin::CameraDescription{"F1", "Omnira", "Vexadin", 1280, 720, "fusion", ""}) {}
    bool isConnected() override { return connected.load(); }
    void addEventsCallback(std::function<void(const Event2D *, const Event2D *)>) override {}
    int addApsFrameCallback(std::function<void(ApsFrame)>) override { return 0; }
    void addTriggerInCallback(std::function<void(const EventTriggerIn &)>) override {}
    bool start(vexadin::STREAM_TYPE) override { return true; }
    void stop(vexadin::STREAM_TYPE) override {}
    void shutdown() override {}
    bool startRecording(const std::string &, const std::string &, vexadin::STREAM_TYPE) override { return false; }
    bool stopRecording(vexadin::STREAM_TYPE) override { return false; }
    bool writeCalibrationFile(const std::string &path) override
    {
        written = path;
        vexadin::CalibratorParameters p;
        return vexadin::jsonFileToParam(path, p);
    }
    bool getCalibration(vexadin::CalibratorParameters &) override { return false; }
    std::string getFirmwareVersion() override { return "Omnira_V1.7.2"; }

    std::atomic<bool> connected{true};
    std::string written;
};

// Debug lines of the worker (one per rendered tick) kept for inspection, not printed.
std::mutex g_logMutex;
QStringList g_log;
QtMessageHandler g_previousHandler = nullptr;

void captureMessages(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    {
        std::lock_guard<std::mutex> lock(g_logMutex);
        g_log << message;
    }
    if (type != QtDebugMsg && g_previousHandler)
        g_previousHandler(type, context, message);
}

bool logContains(const QString &line)
{
    std::lock_guard<std::mutex> lock(g_logMutex);
    return g_log.contains(line);
}

} // namespace

// Records the worker's signals in order, from whatever thread emits them.
class Relay {
public:
    struct Tip {
        QString text;
        VxMessageType type;
    };

    void attach(VxFusionCameraDataProcessor *p)
    {
        m_worker = p;
        const auto d = Qt::DirectConnection;
        QObject::connect(p, &VxFusionCameraDataProcessor::signalFusionImage, p, [this](const QImage &img) {
            QImage copy = img.copy(); // the worker draws into its image again
            std::lock_guard<std::mutex> lock(m_mutex);
            m_images.push_back(copy);
        }, d);
        QObject::connect(p, &VxFusionCameraDataProcessor::signalTimeStamp, p, [this](uint64_t t) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_times.push_back(t);
        }, d);
        QObject::connect(p, &VxFusionCameraDataProcessor::signalStartTimeStamp, p,
                         [this](uint64_t t) { add(QString("start %1").arg(t)); }, d);
        QObject::connect(p, &VxFusionCameraDataProcessor::signalEndTimeStamp, p,
                         [this](uint64_t t) { add(QString("end %1").arg(t)); }, d);
        QObject::connect(p, &VxFusionCameraDataProcessor::signalLoadingStatus, p,
                         [this](bool on) { add(QString("loading %1").arg(on)); }, d);
        QObject::connect(p, &VxFusionCameraDataProcessor::signalPalyFileFinished, p, [this] {
            Q_ASSERT(QThread::currentThread() == m_worker->thread());
            add("finished");
        }, d);
        QObject::connect(p, &VxFusionCameraDataProcessor::signalPlayStatus, p, [this](bool on) {
            Q_ASSERT(QThread::currentThread() == m_worker->thread());
            add(QString("play %1").arg(on));
            m_playRequests.push_back(on);
        }, d);
        QObject::connect(p, &VxFusionCameraDataProcessor::signalShowLeftBottomTips, p,
                         [this](const QString &text, VxMessageType type, const QString &) {
                             std::lock_guard<std::mutex> lock(m_mutex);
                             m_tips.push_back({text, type});
                         }, d);
    }

    // Play statuses start and stop playback, as through the main window's button.
    void actAsMainWindow(bool on = true) { m_mainWindow = on; }

    bool waitFor(const std::function<bool()> &condition, int timeoutMs = 20000)
    {
        QElapsedTimer timer;
        timer.start();
        for (;;) {
            QCoreApplication::processEvents();
            std::vector<bool> requests;
            requests.swap(m_playRequests);
            if (m_mainWindow)
                for (bool on : requests)
                    m_worker->slotPlaybackCtrl(on);
            if (condition())
                return true;
            if (timer.elapsed() > vxtest::scaled(timeoutMs))
                return false;
            QThread::msleep(2);
        }
    }
    void settle(int ms) { waitFor([] { return false; }, ms); }

    QStringList log() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        QStringList copy = m_log;
        copy.detach();
        return copy;
    }
    std::vector<QImage> images() const { std::lock_guard<std::mutex> lock(m_mutex); return m_images; }
    size_t imageCount() const { std::lock_guard<std::mutex> lock(m_mutex); return m_images.size(); }
    QImage lastImage() const { std::lock_guard<std::mutex> lock(m_mutex); return m_images.empty() ? QImage() : m_images.back(); }
    std::vector<uint64_t> times() const { std::lock_guard<std::mutex> lock(m_mutex); return m_times; }
    std::vector<Tip> tips() const { std::lock_guard<std::mutex> lock(m_mutex); return m_tips; }
    void clear()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_log.clear();
        m_images.clear();
        m_times.clear();
        m_tips.clear();
    }

private:
    void add(const QString &entry)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_log << entry;
    }

    mutable std::mutex m_mutex;
    QStringList m_log;
    std::vector<QImage> m_images;
    std::vector<uint64_t> m_times;
    std::vector<Tip> m_tips;
    std::vector<bool> m_playRequests; // GUI thread only
    VxFusionCameraDataProcessor *m_worker = nullptr;
    bool m_mainWindow = false;
};

#define WAIT_VERIFY(cond) QVERIFY2(r.waitFor([&] { return bool(cond); }), #cond)

class TestVxFusionCameraDataProcessor : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<AppSettings> m_settings;
    QString m_recording;      // 1.4 s: frames 0..41, events with a quiet stretch
    QString m_zeroRecording;  // offset 0, no calibration file

    std::unique_ptr<VxFusionCameraDataProcessor> makeWorker()
    {
        return std::make_unique<VxFusionCameraDataProcessor>(m_settings.get());
    }

    // Opens and waits for the end of the load.
    static bool load(VxFusionCameraDataProcessor &p, Relay &r, const QString &path)
    {
        if (!p.slotReadFusionFile(path))
            return false;
        return r.waitFor([&] { return r.log().contains("loading 0"); });
    }

    // Feeds `frames` exposures from a camera thread: the events of exposure k (plus
    // `extra(k)`), the edge that closes them, frame k, the opposite edge.
    static void feedLive(VxFusionCameraDataProcessor &p, int frames,
                         const std::function<std::vector<Event2D>(int)> &extra = {})
    {
        std::thread camera([&] {
            for (int k = 0; k < frames; ++k) {
                const uint64_t t0 = uint64_t(k) * kFrameUs;
                std::vector<Event2D> ev = markerEvents(t0, t0 + kFrameUs - 1);
                if (extra) {
                    const std::vector<Event2D> more = extra(k);
                    ev.insert(ev.end(), more.begin(), more.end());
                }
                p.accumulateEvents(ev.data(), ev.data() + ev.size());
                p.addDvsData(ev.data(), ev.data() + ev.size());
                p.addSyncSignal(EventTriggerIn(0, 1, t0 + kFrameUs));
                ApsFrame frame(kApsW, kApsH, uint64_t(k), t0);
                vxtest::drawNumberedFrame(frame, uint32_t(k));
                p.addApsData(frame);
                p.addSyncSignal(EventTriggerIn(0, 0, t0 + kFrameUs + 100));
            }
        });
        camera.join();
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        g_previousHandler = qInstallMessageHandler(captureMessages);
        QVERIFY(m_dir.isValid());
        m_settings = std::make_unique<AppSettings>(m_dir.filePath("config.ini"));
        m_settings->inputRawFilePath = m_dir.path();
        QCOMPARE(m_settings->eventColors().positive, kPositive);

        vxtest::FusionSetOptions o;
        o.frames = 42;
        o.events = markerEvents(kOffset, kOffset + 1400000, kOffset + 600000, kOffset + 700000);
        m_recording = m_dir.filePath("rec.2024.raw");
        QVERIFY(vxtest::writeFusionSet(m_dir.filePath("rec.2024").toStdString(), o));

        vxtest::FusionSetOptions z;
        z.frames = 12;
        z.apsTimeOffset = 0;
        z.writeJson = false;
        z.events = markerEvents(0, 400000);
        m_zeroRecording = m_dir.filePath("zero.raw");
        QVERIFY(vxtest::writeFusionSet(m_dir.filePath("zero").toStdString(), z));
    }

    void cleanupTestCase()
    {
        qInstallMessageHandler(g_previousHandler);
        m_settings.reset();
    }

    // --- opening ----------------------------------------------------------------

    void openingAndLoadSignals()
    {
        Relay r;
        auto p = makeWorker();
        r.attach(p.get());
        QVERIFY(load(*p, r, m_recording));
        // The play status comes on the GUI thread, after the load has ended.
        WAIT_VERIFY(r.log().contains("play 1"));
        const uint64_t last = kOffset + 1400000;
        QCOMPARE(r.log(), (QStringList{"loading 1", QString("start %1").arg(kOffset), QString("end %1").arg(last),
                                       "loading 0", "play 1"}));
        QCOMPARE(r.times(), std::vector<uint64_t>{uint64_t(kOffset)});
        QCOMPARE(p->timeBase(), uint64_t(kOffset));
        QCOMPARE(p->rangeStart(), uint64_t(kOffset));
        QCOMPARE(p->rangeEnd(), last);
        QVERIFY(!p->isLoading());
        QVERIFY(logContains(QString("Read aps file time offset:  %1").arg(kOffset)));
        // The calibration of rec.2024.json (base name with a dot) was taken.
        QCOMPARE(p->calibrator().dvsToAps()[0], 0.25);
        QCOMPARE(p->calibrator().parameters().aps_width, kApsW);

        // An empty path drops the recording: steps do nothing any more.
        QVERIFY(!p->slotReadFusionFile(QString()));
        r.clear();
        p->nextFrame();
        p->slotPlaybackCtrl(true);
        r.settle(100);
        QVERIFY(r.times().empty());
        QVERIFY(!p->isPlaying());
    }

    void recordingWithoutCalibrationKeepsTheCurrentOne()
    {
        Relay r;
        auto p = makeWorker();
        r.attach(p.get());
        vexadin::CalibratorParameters camera = vxtest::fusionScaleCalibration(kApsW, kApsH);
        camera.label = "camera";
        QVERIFY(p->loadCalibrationParam(camera));
        QVERIFY(load(*p, r, m_zeroRecording));
        QCOMPARE(p->calibrator().parameters().label, std::string("camera"));
        QCOMPARE(p->rangeStart(), uint64_t(0));
        // A damaged calibration file is refused too: the matrices stay.
        QFile::copy(m_dir.filePath("zero.mp4"), m_dir.filePath("bad.mp4"));
        QFile::copy(m_dir.filePath("zero.raw"), m_dir.filePath("bad.raw"));
        QFile json(m_dir.filePath("bad.json"));
        QVERIFY(json.open(QIODevice::WriteOnly));
        json.write("{\"label\": \"bro");
        json.close();
        r.clear();
        QVERIFY(load(*p, r, m_dir.filePath("bad.raw")));
        QCOMPARE(p->calibrator().parameters().label, std::string("camera"));
    }

    void failedLoads()
    {
        Relay r;
        auto p = makeWorker();
        r.attach(p.get());
        r.actAsMainWindow();
        // No video beside the events.
        QFile::copy(m_dir.filePath("zero.raw"), m_dir.filePath("novideo.raw"));
        QVERIFY(load(*p, r, m_dir.filePath("novideo.raw")));
        QVERIFY(logContains("Load aps file failed."));
        // A video but no events.
        QFile::copy(m_dir.filePath("zero.mp4"), m_dir.filePath("noevents.mp4"));
        r.clear();
        QVERIFY(load(*p, r, m_dir.filePath("noevents.raw")));
        QVERIFY(logContains("Load dvs file failed."));
        r.settle(50);
        QVERIFY(!r.log().contains("play 1"));
        p->slotPlaybackCtrl(true);
        p->nextFrame();
        r.settle(50);
        QVERIFY(!p->isPlaying());
        QVERIFY(r.images().empty());
    }

    // --- playback ---------------------------------------------------------------

    void ticksAdvanceByTheFrameInterval()
    {
        Relay r;
        auto p = makeWorker();
        r.attach(p.get());
        QVERIFY(load(*p, r, m_recording));
        r.clear();
        p->slotPlaybackCtrl(true);
        p->slotPlaybackCtrl(true); // ignored: one playback thread
        WAIT_VERIFY(r.times().size() >= 30);
        p->slotPlaybackCtrl(false);
        QCOMPARE(r.times()[29], uint64_t(kOffset) + 999990);

        p->slotPlaybackReset();
        QCOMPARE(p->timeBase(), uint64_t(kOffset));
        p->setFps(0);
        p->setFps(-4);
        QCOMPARE(p->frameInterval(), uint64_t(33333));
        p->setFps(60);
        QCOMPARE(p->frameInterval(), uint64_t(16666));
        r.clear();
        p->slotPlaybackCtrl(true);
        WAIT_VERIFY(r.times().size() >= 30);
        p->slotPlaybackCtrl(false);
        QCOMPARE(r.times()[29], uint64_t(kOffset) + 499980);
    }

    void rangeEndWithAndWithoutLoop()
    {
        Relay r;
        auto p = makeWorker();
        r.attach(p.get());
        r.actAsMainWindow();
        QVERIFY(load(*p, r, m_recording));
        p->slotSetUpperTimeStamp(kOffset + 200000);
        WAIT_VERIFY(r.log().contains("finished"));
        r.settle(150);
        QCOMPARE(r.log().count("finished"), 1);
        QVERIFY(!p->isPlaying());
        QCOMPARE(p->timeBase(), uint64_t(kOffset));
        const std::vector<uint64_t> times = r.times();
        // The tick that reached the end shows the end, not a time past it.
        QCOMPARE(times.back(), uint64_t(kOffset) + 200000);
        QCOMPARE(times[times.size() - 2], uint64_t(kOffset) + 6 * 33333);

        // With loop on, playback goes on from the range start.
        r.clear();
        p->slotSetReplayFlag(true);
        p->slotPlaybackCtrl(true);
        WAIT_VERIFY(r.times().size() >= 12);
        p->slotPlaybackCtrl(false);
        const std::vector<uint64_t> looped = r.times();
        QVERIFY(!r.log().contains("finished"));
        QCOMPARE(looped[7], uint64_t(kOffset) + 33333);
        // After the loop the frames start again from the first.
        const std::vector<QImage> shown = r.images();
        QCOMPARE(shown.size(), looped.size());
        QVERIFY(shownFrame(shown[6]) >= 5);
        QVERIFY(shownFrame(shown[7]) <= 1);
    }

    void stepsAtTheRangeEnds()
    {
        Relay r;
        auto p = makeWorker();
        r.attach(p.get());
        QVERIFY(load(*p, r, m_zeroRecording));
        QCOMPARE(p->timeBase(), uint64_t(0));
        p->preFrame();
        QCOMPARE(p->timeBase(), uint64_t(0)); // range start 0: no wrap below zero
        p->nextFrame();
        p->nextFrame();
        QCOMPARE(p->timeBase(), uint64_t(66666));
        p->preFrame();
        QCOMPARE(p->timeBase(), uint64_t(33333));
        // Near the end a step forward changes nothing.
        const uint64_t end = p->rangeEnd();
        p->setPlayPos(end - 1000);
        r.clear();
        p->nextFrame();
        QCOMPARE(p->timeBase(), end - 1000);
        QVERIFY(r.times().empty());
    }

    // The picture shows the frame at or before the position, also when the position
    // moves many frames per step or back.
    void framesFollowThePosition()
    {
        Relay r;
        auto p = makeWorker();
        r.attach(p.get());
        QVERIFY(load(*p, r, m_recording));
        p->setPlayPos(kOffset + 10 * kFrameUs + 5000);
        QCOMPARE(shownFrame(r.lastImage()), 10);
        p->setFps(3); // ten frames per step
        p->nextFrame();
        QCOMPARE(shownFrame(r.lastImage()), 20);
        p->nextFrame();
        QCOMPARE(shownFrame(r.lastImage()), 30);
        p->preFrame();
        QCOMPARE(shownFrame(r.lastImage()), 20);
        p->setFps(30);
        p->nextFrame();
        QCOMPARE(shownFrame(r.lastImage()), 21);
        p->slotPlaybackReset();
        QCOMPARE(p->timeBase(), uint64_t(kOffset));
        QCOMPARE(shownFrame(r.lastImage()), 0);
    }

    void recordingViewModes()
    {
        Relay r;
        auto p = makeWorker();
        r.attach(p.get());
        QVERIFY(load(*p, r, m_recording));
        const uint64_t t = kOffset + 15 * kFrameUs + 100;

        p->setPlayPos(t); // fusion (the default)
        QImage img = r.lastImage();
        QCOMPARE(img.size(), QSize(1280, 720));
        QCOMPARE(shownFrame(img), 15);
        QCOMPARE(at(img, kMarkX, kMarkY), kPositive);
        QCOMPARE(at(img, kMarkX + 1, kMarkY), kNegative);

        p->slotSetViewerType(vexadin::STREAM_APS);
        p->setPlayPos(t);
        img = r.lastImage();
        QCOMPARE(shownFrame(img), 15);
        QVERIFY(near(at(img, kMarkX, kMarkY), kRed));

        p->slotSetViewerType(vexadin::STREAM_DVS);
        p->setPlayPos(t);
        img = r.lastImage();
        QCOMPARE(at(img, kMarkX, kMarkY), kPositive);
        QCOMPARE(at(img, kMarkX + 1, kMarkY), kNegative);
        QCOMPARE(at(img, 10, 10), kBackground);
        QCOMPARE(r.times().back(), t);

        // A window without events shows the frame, whatever the mode.
        p->setPlayPos(kOffset + 660000);
        img = r.lastImage();
        QCOMPARE(shownFrame(img), 19);
        QVERIFY(near(at(img, kMarkX, kMarkY), kRed));
    }

    // --- live -------------------------------------------------------------------

    void liveViewModes()
    {
        Relay r;
        auto p = makeWorker();
        r.attach(p.get());
        vexadin::CalibratorParameters calibration = vxtest::fusionScaleCalibration(kApsW, kApsH);
        QVERIFY(p->loadCalibrationParam(calibration));

        // Frames only.
        p->slotSetViewerType(vexadin::STREAM_APS);
        feedLive(*p, 5);
        QCOMPARE(r.imageCount(), size_t(5));
        QCOMPARE(shownFrame(r.lastImage()), 4);
        QVERIFY(near(at(r.lastImage(), kMarkX, kMarkY), kRed));
        QCOMPARE(r.times(), (std::vector<uint64_t>{0, kFrameUs, 2 * kFrameUs, 3 * kFrameUs, 4 * kFrameUs}));

        // Fusion needs a connected camera.
        r.clear();
        p->slotSetViewerType(vexadin::STREAM_FUSION);
        feedLive(*p, 3);
        QCOMPARE(r.imageCount(), size_t(0));
        auto camera = std::make_shared<FakeCamera>();
        p->setCamera(camera);
        feedLive(*p, 3);
        QCOMPARE(r.imageCount(), size_t(3));
        QCOMPARE(shownFrame(r.lastImage()), 2);
        QCOMPARE(at(r.lastImage(), kMarkX, kMarkY), kPositive);
        QCOMPARE(at(r.lastImage(), kMarkX + 1, kMarkY), kNegative);
        // Live events are drawn where they are, also while a recording is held.
        QVERIFY(load(*p, r, m_recording));
        r.clear();
        feedLive(*p, 1, [](int) { return std::vector<Event2D>{{5, 500, 1, 10}}; });
        QCOMPARE(at(r.lastImage(), 5, 500), kPositive);
        camera->connected = false;
        r.clear();
        feedLive(*p, 2);
        QCOMPARE(r.imageCount(), size_t(0));

        // Events only: the vote over the events counted since the previous frame.
        r.clear();
        p->slotSetViewerType(vexadin::STREAM_DVS);
        feedLive(*p, 2, [](int k) {
            std::vector<Event2D> ev;
            if (k != 0)
                return ev;
            auto add = [&](uint16_t x, uint8_t pol, int n) {
                for (int i = 0; i < n; ++i)
                    ev.emplace_back(x, uint16_t(100), pol, uint64_t(i));
            };
            add(100, 1, 3); add(100, 0, 3);   // tie: positive
            add(101, 1, 2); add(101, 0, 5);   // negative
            add(102, 1, 12); add(102, 0, 25); // both capped at 10: positive
            add(103, 1, 50);
            ev.emplace_back(uint16_t(1300), uint16_t(0), uint8_t(1), 0); // off the grid, not in row 1
            return ev;
        });
        const std::vector<QImage> images = r.images();
        QCOMPARE(images.size(), size_t(2));
        QCOMPARE(at(images[0], 100, 100), kPositive);
        QCOMPARE(at(images[0], 101, 100), kNegative);
        QCOMPARE(at(images[0], 102, 100), kPositive);
        QCOMPARE(at(images[0], 103, 100), kPositive);
        QCOMPARE(at(images[0], 20, 1), kBackground);
        QCOMPARE(at(images[0], kMarkX, kMarkY), kPositive);
        QCOMPARE(at(images[0], 10, 10), kBackground);
        // Counters start again at every frame.
        QCOMPARE(at(images[1], 100, 100), kBackground);
        QCOMPARE(at(images[1], kMarkX, kMarkY), kPositive);
    }

    // --- manual calibration -------------------------------------------------------

    void applyOffset()
    {
        Relay r;
        auto p = makeWorker();
        r.attach(p.get());
        const QString file = m_dir.filePath("tmp_calibration_file.json");
        const double before = p->calibrator().dvsToAps()[2];

        // Without a camera: error, yet the file is written and the offsets folded.
        p->slotSetApsOffset(12, -3);
        p->slotSetApsOffset(12, -3);
        QCOMPARE(p->calibrator().offsetX(), 12.0);
        p->slotApplyOffset();
        QCOMPARE(r.tips().size(), size_t(1));
        QCOMPARE(r.tips()[0].type, VxMessageType::Error);
        QCOMPARE(r.tips()[0].text, QString("Manual calibration parameters were written failed!"));
        QVERIFY(QFile::exists(file));
        QCOMPARE(p->calibrator().offsetX(), 0.0);
        QCOMPARE(p->calibrator().dvsToAps()[2], before + 12.0);

        auto camera = std::make_shared<FakeCamera>();
        p->setCamera(camera);
        r.clear();
        p->slotApplyOffset();
        QCOMPARE(r.tips().size(), size_t(1));
        QCOMPARE(r.tips()[0].type, VxMessageType::Success);
        QCOMPARE(r.tips()[0].text, QString("Manual calibration parameters were written successfully!"));
        QCOMPARE(QString::fromStdString(camera->written), file);

        camera->connected = false;
        r.clear();
        p->slotApplyOffset();
        QCOMPARE(r.tips()[0].type, VxMessageType::Error);
    }

    // --- threads ------------------------------------------------------------------

    // Live feeding, playback with loop, and GUI-thread changes all at once.
    void everythingAtOnce()
    {
        Relay r;
        auto p = makeWorker();
        r.attach(p.get());
        r.actAsMainWindow();
        auto camera = std::make_shared<FakeCamera>();
        p->setCamera(camera);
        QVERIFY(load(*p, r, m_recording));
        p->slotSetReplayFlag(true);
        WAIT_VERIFY(p->isPlaying());
        constexpr int kLiveFrames = 60;
        std::atomic<bool> fed{false};
        std::thread feeder([&] {
            for (int k = 0; k < kLiveFrames; ++k) {
                const std::vector<Event2D> ev = markerEvents(uint64_t(k) * 1000, uint64_t(k) * 1000 + 999);
                p->accumulateEvents(ev.data(), ev.data() + ev.size());
                p->addDvsData(ev.data(), ev.data() + ev.size());
                p->addSyncSignal(EventTriggerIn(0, 1, 0));
                ApsFrame frame(kApsW, kApsH, uint64_t(k), uint64_t(k));
                p->addApsData(frame);
                std::this_thread::sleep_for(std::chrono::milliseconds(3));
            }
            fed = true;
        });
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; !fed.load() || timer.elapsed() < 300; ++i) {
            p->slotSetViewerType(vexadin::STREAM_TYPE(i % 3));
            p->slotSetApsOffset(i % 5, -(i % 3));
            p->setAccTime(20000 + uint64_t(i % 4) * 10000);
            if (i % 10 == 0)
                p->setFps(20 + i % 40);
            if (i % 25 == 0)
                p->nextFrame(); // pauses; the window answers by pressing play again
            if (i % 25 == 1)
                p->slotPlaybackCtrl(true);
            r.settle(5);
        }
        feeder.join();
        // Every live pair makes a picture in every mode (the camera is connected).
        QVERIFY(r.imageCount() > size_t(kLiveFrames));
    }

    void destructionWhileLoadingOrPlaying()
    {
        {
            auto p = makeWorker();
            QVERIFY(p->slotReadFusionFile(m_recording));
        } // the load is cancelled or finished, never left running
        {
            Relay r;
            auto p = makeWorker();
            r.attach(p.get());
            r.actAsMainWindow();
            QVERIFY(load(*p, r, m_recording));
            WAIT_VERIFY(p->isPlaying());
        }
    }
};

QTEST_GUILESS_MAIN(TestVxFusionCameraDataProcessor)
#include "tst_vxfusioncameradataprocessor.moc"
