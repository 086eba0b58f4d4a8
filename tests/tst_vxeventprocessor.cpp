// vx-test-labels: tsan
// Playback, rendering, export and cut of VxEventProcessor, driven by real recordings
// written with our writer. Worker signals are recorded under a mutex (see Relay);
// QSignalSpy watches the signals that the GUI-thread slots emit themselves.
#include "processing/vxeventprocessor.h"

#include "app/appsettings.h"
#include "app/vxutils.h"
#include "driver/rawfilereader.h"
#include "driver/rawformat.h"
#include "support/syntheticevents.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QElapsedTimer>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <functional>
#include <mutex>
#include <memory>
#include <thread>

#include "support/qtesttime.h"

using vexadin::Event2D;

Q_DECLARE_METATYPE(vexadin::Event2D)

namespace {

constexpr QRgb kPositive = qRgb(191, 188, 180);
constexpr QRgb kNegative = qRgb(64, 61, 51);
constexpr QRgb kBackground = qRgb(112, 112, 112);

// A row of pixels below the markers that gets one event every `stepUs`, so every
// window of the recording holds something.
void addFiller(std::vector<Event2D> &events, uint64_t from, uint64_t to, uint64_t stepUs)
{
    for (uint64_t t = from; t <= to; t += stepUs)
        events.emplace_back(uint16_t(t / stepUs % 1280), uint16_t(600), uint8_t(1), t);
}

void sortByTime(std::vector<Event2D> &events)
{
    std::stable_sort(events.begin(), events.end(),
                     [](const Event2D &a, const Event2D &b) { return a.timestamp < b.timestamp; });
}

// Collects Qt's diagnostic lines from every thread (the workers write theirs).
class MessageLog {
public:
    MessageLog()
    {
        s_current = this;
        m_previous = qInstallMessageHandler(&MessageLog::handle);
    }
    ~MessageLog()
    {
        qInstallMessageHandler(m_previous);
        s_current = nullptr;
    }
    QStringList lines() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        QStringList copy = m_lines;
        copy.detach();
        return copy;
    }
    // Called with every line, on the thread that writes it.
    void setWatcher(std::function<void(const QString &)> watcher)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_watcher = std::move(watcher);
    }
    // Index of the first line containing `text` at or after `from`, -1 if none.
    int find(const QString &text, int from = 0) const
    {
        const QStringList all = lines();
        for (int i = from; i < all.size(); ++i)
            if (all[i].contains(text))
                return i;
        return -1;
    }

private:
    static void handle(QtMsgType, const QMessageLogContext &, const QString &message)
    {
        if (MessageLog *log = s_current) {
            std::lock_guard<std::mutex> lock(log->m_mutex);
            log->m_lines << message;
            if (log->m_watcher)
                log->m_watcher(message);
        }
    }

    static inline MessageLog *s_current = nullptr;
    QtMessageHandler m_previous = nullptr;
    mutable std::mutex m_mutex;
    QStringList m_lines;
    std::function<void(const QString &)> m_watcher;
};

// A recording without its footer index, as a killed writer leaves it: loading it
// rebuilds the index.
void dropFooter(const QString &path)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadWrite));
    const qint64 size = f.size();
    QVERIFY(f.seek(size - vexadin::rawformat::kTrailerSize + 8));
    const QByteArray offset = f.read(8);
    QCOMPARE(offset.size(), 8);
    QVERIFY(f.resize(qint64(vexadin::rawformat::load64(reinterpret_cast<const uint8_t *>(offset.constData())))));
}

} // namespace

// Records the processor's signals in order. Connections are direct (the slot runs on
// the emitting worker) and the record is guarded by a std::mutex, so the hand-over to
// the test thread is visible to ThreadSanitizer (Qt's own queue synchronises inside
// uninstrumented libraries). The play status reaches slotPlaybackCtrl on the test
// thread through pump(), as the main window's play button would pass it on.
class Relay {
public:
    struct Tip {
        QString text;
        VxMessageType type;
        QString path;
    };

    void attach(VxEventProcessor *p)
    {
        m_processor = p;
        const auto d = Qt::DirectConnection;
        QObject::connect(p, &VxEventProcessor::signalEventImage, p, [this](const QImage &img) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_images.push_back(img);
        }, d);
        QObject::connect(p, &VxEventProcessor::signalRealTimeTimeStamp, p, [this](uint64_t t) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_log << QString("position %1").arg(t);
            m_positions.push_back(t);
        }, d);
        QObject::connect(p, &VxEventProcessor::signalStartTimeStamp, p,
                         [this](uint64_t t) { add(QString("start %1").arg(t)); }, d);
        QObject::connect(p, &VxEventProcessor::signalEndTimeStamp, p,
                         [this](uint64_t t) { add(QString("end %1").arg(t)); }, d);
        QObject::connect(p, &VxEventProcessor::signalPlayStatus, p, [this](bool on) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_log << QString("play %1").arg(on);
            m_playRequests.push_back(on);
        }, d);
        QObject::connect(p, &VxEventProcessor::signalLoadingStatus, p,
                         [this](bool on) { add(QString("loading %1").arg(on)); }, d);
        QObject::connect(p, &VxEventProcessor::signalShowLeftBottomTips, p,
                         [this](const QString &text, VxMessageType type, const QString &path) {
                             std::lock_guard<std::mutex> lock(m_mutex);
                             m_tips.push_back({text, type, path});
                         }, d);
    }

    // Play statuses start and stop playback, as through the main window's button.
    void actAsMainWindow() { m_mainWindow = true; }

    // Hands pending play statuses to the processor (test thread).
    void pump()
    {
        std::vector<bool> requests;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            requests.swap(m_playRequests);
        }
        if (m_mainWindow && m_processor) {
            for (bool on : requests)
                m_processor->slotPlaybackCtrl(on);
        }
    }

    // Generous: exports under ThreadSanitizer take many times longer.
    bool waitFor(const std::function<bool()> &condition, int timeoutMs = 90000)
    {
        QElapsedTimer timer;
        timer.start();
        for (;;) {
            pump();
            QCoreApplication::processEvents();
            if (condition())
                return true;
            if (timer.elapsed() > vxtest::scaled(timeoutMs))
                return false;
            QThread::msleep(2);
        }
    }

    // A deep copy: a shared list would be detached later by the worker's next append,
    // inside Qt where ThreadSanitizer cannot see the reference count's ordering.
    QStringList log() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        QStringList copy = m_log;
        copy.detach();
        return copy;
    }
    std::vector<uint64_t> positions() const { std::lock_guard<std::mutex> lock(m_mutex); return m_positions; }
    std::vector<QImage> images() const { std::lock_guard<std::mutex> lock(m_mutex); return m_images; }
    size_t imageCount() const { std::lock_guard<std::mutex> lock(m_mutex); return m_images.size(); }
    std::vector<Tip> tips() const { std::lock_guard<std::mutex> lock(m_mutex); return m_tips; }
    void clearLog() { std::lock_guard<std::mutex> lock(m_mutex); m_log.clear(); }
    void clearPositions() { std::lock_guard<std::mutex> lock(m_mutex); m_positions.clear(); }

private:
    void add(const QString &entry)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_log << entry;
    }

    mutable std::mutex m_mutex;
    QStringList m_log;
    std::vector<uint64_t> m_positions;
    std::vector<QImage> m_images;
    std::vector<Tip> m_tips;
    std::vector<bool> m_playRequests;
    VxEventProcessor *m_processor = nullptr;
    bool m_mainWindow = false;
};

// Waits (handing play statuses on) until the condition holds, then checks it.
#define WAIT_VERIFY(cond) QVERIFY2(r.waitFor([&] { return bool(cond); }), #cond)
#define WAIT_COMPARE(actual, expected)                                                 \
    do {                                                                               \
        r.waitFor([&] { return (actual) == (expected); });                             \
        QCOMPARE(actual, expected);                                                    \
    } while (false)

class TestVxEventProcessor : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<AppSettings> m_settings;

    QString pathFor(const QString &name) const { return m_dir.filePath(name); }

    QString writeRecording(const QString &name, std::vector<Event2D> events)
    {
        sortByTime(events);
        const QString path = pathFor(name);
        if (!vxtest::writeRecording(path.toStdString(), events))
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

    std::unique_ptr<VxEventProcessor> makeProcessor() { return std::make_unique<VxEventProcessor>(m_settings.get()); }

    // Loads and waits for the end of the load (loading false).
    static bool load(VxEventProcessor &p, Relay &r, const QString &path)
    {
        p.loadFile(path);
        return r.waitFor([&] { return r.log().contains("loading 0"); });
    }

    static QRgb at(const QImage &img, int x, int y) { return img.pixel(x, y) | 0xff000000u; }

    // The boundary recording used for the window tests: markers on row 10 at the
    // edges of the first windows, a filler row far from them, end at 9,000,000.
    QString windowRecording()
    {
        std::vector<Event2D> ev;
        const uint64_t ts[] = {1000000, 1009999, 1010000, 1030302, 1030303, 1033332, 1033333,
                               1063635, 1063636, 1099999, 1100000, 1109999, 1110000};
        for (size_t i = 0; i < std::size(ts); ++i)
            ev.emplace_back(uint16_t(10 * (i + 1)), uint16_t(10), uint8_t(1), ts[i]);
        addFiller(ev, 1000000, 9000000, 997);
        ev.emplace_back(uint16_t(5), uint16_t(700), uint8_t(0), 9000000);
        return writeRecording("windows.raw", ev);
    }
    // Pixel of marker i (1-based) in windowRecording().
    static bool marked(const QImage &img, int i) { return at(img, 10 * i, 10) == kPositive; }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(m_dir.isValid());
        m_settings = std::make_unique<AppSettings>(m_dir.filePath("config.ini"));
        QCOMPARE(m_settings->eventColors().positive, kPositive);
    }

    void cleanupTestCase() { m_settings.reset(); }

    // --- rendering --------------------------------------------------------------

    void votePerPixel()
    {
        Relay r;
        auto p = makeProcessor();
        r.attach(p.get());
        std::vector<Event2D> ev;
        auto add = [&](uint16_t x, uint16_t y, uint8_t pol, int n) {
            for (int i = 0; i < n; ++i)
                ev.emplace_back(x, y, pol, 1000 + uint64_t(i));
        };
        add(100, 100, 1, 3); add(100, 100, 0, 3);   // tie -> positive
        add(101, 100, 1, 2); add(101, 100, 0, 3);   // more negatives
        add(102, 100, 1, 12); add(102, 100, 0, 25); // both capped at 10 -> tie
        add(103, 100, 0, 1);
        add(1279, 719, 1, 1);
        add(1280, 0, 1, 5);  // would land on (0, 1) if not skipped
        add(0, 720, 0, 5);   // past the buffer's end
        add(65535, 65535, 1, 1);
        p->accumulate(ev);
        p->publishFrame();
        WAIT_COMPARE(r.images().size(), size_t(1));
        const QImage img = r.images()[0];
        QCOMPARE(img.size(), QSize(1280, 720));
        QCOMPARE(img.format(), QImage::Format_RGB888);
        QCOMPARE(at(img, 100, 100), kPositive);
        QCOMPARE(at(img, 101, 100), kNegative);
        QCOMPARE(at(img, 102, 100), kPositive);
        QCOMPARE(at(img, 103, 100), kNegative);
        QCOMPARE(at(img, 1279, 719), kPositive);
        QCOMPARE(at(img, 0, 1), kBackground);
        QCOMPARE(at(img, 0, 0), kBackground);

        // Counts never carry over: the next frame (no events) is plain background.
        p->publishFrame();
        WAIT_COMPARE(r.images().size(), size_t(2));
        QImage empty(1280, 720, QImage::Format_RGB888);
        empty.fill(QColor::fromRgb(kBackground));
        QCOMPARE(r.images()[1], empty);
        // The receiver's first image is untouched by later drawing.
        QCOMPARE(at(r.images()[0], 100, 100), kPositive);
    }

    void colourSchemeAppliesFromNextFrame()
    {
        Relay r;
        auto p = makeProcessor();
        r.attach(p.get());
        const Event2D on(7, 7, 1, 5);
        m_settings->colorType = "Dark";
        m_settings->save();
        p->accumulate(&on, &on + 1);
        p->publishFrame();
        WAIT_COMPARE(r.images().size(), size_t(1));
        QCOMPARE(at(r.images()[0], 7, 7), qRgb(216, 223, 236));
        QCOMPARE(at(r.images()[0], 8, 7), qRgb(30, 37, 52));
        m_settings->colorType = "Gray";
        m_settings->save();
    }

    // The live path: a camera thread accumulates while the GUI thread publishes.
    void liveAccumulateWhilePublishing()
    {
        Relay r;
        auto p = makeProcessor();
        r.attach(p.get());
        std::atomic<bool> stop{false};
        std::vector<Event2D> batch;
        for (int i = 0; i < 5000; ++i)
            batch.emplace_back(uint16_t(i % 1280), uint16_t(i % 720), uint8_t(i & 1), 42);
        std::thread camera([&] {
            uint64_t t = 1;
            while (!stop.load()) {
                batch.front().timestamp = t++; // first event's time = batch time
                p->accumulate(batch);
            }
        });
        for (int i = 0; i < 30; ++i)
            p->publishLiveFrame();
        stop = true;
        camera.join();
        p->publishLiveFrame();
        WAIT_COMPARE(r.positions().size(), size_t(31));
        QVERIFY(r.positions().back() >= 1);
        WAIT_VERIFY(!r.images().empty());
    }

    // --- loading and playback ---------------------------------------------------

    void loadSignalsInOrderThenPlays()
    {
        std::vector<Event2D> ev;
        addFiller(ev, 1000000, 9000000, 5003);
        ev.emplace_back(uint16_t(1), uint16_t(1), uint8_t(0), 9000000);
        const QString path = writeRecording("load.raw", ev);
        Relay r;
        auto p = makeProcessor();
        r.attach(p.get());
        r.actAsMainWindow();
        QVERIFY(load(*p, r, path));
        const QStringList expected{"play 0", "loading 1", "end 9000000", "start 1000000",
                                   "position 1000000", "play 1", "loading 0"};
        QCOMPARE(r.log().mid(0, expected.size()), expected);
        QCOMPARE(r.log().filter("loading").size(), 2);
        QCOMPARE(r.images().size(), size_t(0)); // the load itself draws nothing
        // The play status started playback: positions move on.
        WAIT_VERIFY(r.positions().size() >= 3);
        QCOMPARE(r.positions()[1], uint64_t(1030303));
        p->slotPlaybackCtrl(false);
    }

    void playbackWindowsAndPositions_data()
    {
        QTest::addColumn<int>("fps");
        QTest::addColumn<quint64>("accTime");
        QTest::addColumn<std::vector<uint64_t>>("positions");
        // Markers (1-based) visible in frames 1 and 2.
        QTest::addColumn<QList<int>>("inFrame1");
        QTest::addColumn<QList<int>>("inFrame2");
        // fps 33: [1,000,000, 1,033,333) then [1,030,303, 1,063,636).
        QTest::newRow("fps 33, 33,333 µs") << 33 << quint64(33333)
                                           << std::vector<uint64_t>{1030303, 1060606, 1090909}
                                           << QList<int>{1, 2, 3, 4, 5, 6}
                                           << QList<int>{5, 6, 7, 8};
        // fps 10: [1,000,000, 1,010,000) then [1,100,000, 1,110,000).
        QTest::newRow("fps 10, 10,000 µs") << 10 << quint64(10000)
                                           << std::vector<uint64_t>{1100000, 1200000, 1300000}
                                           << QList<int>{1, 2}
                                           << QList<int>{11, 12};
    }

    void playbackWindowsAndPositions()
    {
        QFETCH(int, fps);
        QFETCH(quint64, accTime);
        QFETCH(std::vector<uint64_t>, positions);
        QFETCH(QList<int>, inFrame1);
        QFETCH(QList<int>, inFrame2);
        const QString path = windowRecording();
        Relay r;
        auto p = makeProcessor();
        r.attach(p.get());
        p->setFps(fps);
        p->setAccTime(accTime);
        r.actAsMainWindow();
        QVERIFY(load(*p, r, path));
        WAIT_VERIFY(r.positions().size() >= 4 && r.images().size() >= 3);
        p->slotPlaybackCtrl(false);
        QCOMPARE(r.positions()[0], uint64_t(1000000)); // reported by the load
        for (size_t i = 0; i < positions.size(); ++i)
            QCOMPARE(r.positions()[i + 1], positions[i]);
        for (int m = 1; m <= 13; ++m) {
            QCOMPARE(marked(r.images()[0], m), inFrame1.contains(m));
            QCOMPARE(marked(r.images()[1], m), inFrame2.contains(m));
        }
    }

    void rangeEndWithoutLoopStopsAndRewinds()
    {
        std::vector<Event2D> ev;
        addFiller(ev, 1000000, 1100000, 1000);
        ev.emplace_back(uint16_t(50), uint16_t(50), uint8_t(0), 1090909); // first µs of the last frame
        ev.emplace_back(uint16_t(60), uint16_t(50), uint8_t(0), 1100000); // the end itself (inclusive)
        const QString path = writeRecording("end.raw", ev);
        Relay r;
        auto p = makeProcessor();
        r.attach(p.get());
        r.actAsMainWindow();
        QVERIFY(load(*p, r, path));
        WAIT_VERIFY(r.log().count("play 0") == 2);
        p->slotPlaybackCtrl(false);
        QCOMPARE(r.positions(), (std::vector<uint64_t>{1000000, 1030303, 1060606, 1090909, 1100000}));
        WAIT_COMPARE(r.images().size(), size_t(4));
        const QImage last = r.images().back();
        QCOMPARE(at(last, 50, 50), kNegative);
        QCOMPARE(at(last, 60, 50), kNegative);
        QCOMPARE(r.log().last(), QString("play 0"));
        // Back at the range start: the next step shows the first window again.
        p->nextFrame();
        WAIT_COMPARE(r.positions().back(), uint64_t(1030303));
    }

    void loopRestartsWithoutStopping()
    {
        std::vector<Event2D> ev;
        addFiller(ev, 2000000, 2100000, 1000);
        const QString path = writeRecording("loop.raw", ev);
        Relay r;
        auto p = makeProcessor();
        r.attach(p.get());
        r.actAsMainWindow();
        p->slotPlayLoop(true);
        QVERIFY(load(*p, r, path));
        // 4 steps per pass: wait for the second pass to begin.
        WAIT_VERIFY(r.positions().size() >= 7);
        p->slotPlaybackCtrl(false);
        QCOMPARE(r.log().count("play 0"), 1); // only the one before the load
        QCOMPARE(r.positions()[4], uint64_t(2100000));
        QCOMPARE(r.positions()[5], uint64_t(2030303));
    }

    void stepsAndSeeks()
    {
        const QString path = windowRecording();
        Relay r;
        auto p = makeProcessor();
        r.attach(p.get());
        QVERIFY(load(*p, r, path));
        r.clearPositions();
        // Steps, seeks and resets report from the calling (GUI) thread, synchronously.
        QSignalSpy positionSpy(p.get(), &VxEventProcessor::signalRealTimeTimeStamp);
        QSignalSpy playSpy(p.get(), &VxEventProcessor::signalPlayStatus);

        // Outside the range: nothing at all.
        p->setPlayPos(999999);
        p->setPlayPos(9000001);
        QCOMPARE(positionSpy.count(), 0);
        QCOMPARE(r.imageCount(), size_t(0));

        // preFrame at the range start shows the frame at the range start, twice.
        p->preFrame();
        p->preFrame();
        WAIT_COMPARE(r.images().size(), size_t(2));
        QCOMPARE(r.positions(), (std::vector<uint64_t>{1000000, 1000000}));
        QVERIFY(marked(r.images()[1], 1) && marked(r.images()[1], 6) && !marked(r.images()[1], 7));

        // A seek shows [t, t + accTime) and reports its end.
        p->setPlayPos(1033333);
        WAIT_COMPARE(r.images().size(), size_t(3));
        QCOMPARE(r.positions().back(), uint64_t(1066666));
        QVERIFY(marked(r.images()[2], 7) && marked(r.images()[2], 8) && marked(r.images()[2], 9) && !marked(r.images()[2], 6));

        // nextFrame reads from the position and advances by one interval.
        p->nextFrame();
        WAIT_COMPARE(r.images().size(), size_t(4));
        QCOMPARE(r.positions().back(), uint64_t(1066666 + 30303));

        // Reset: back to the range start, stopped.
        p->slotPlaybackReset();
        WAIT_COMPARE(r.images().size(), size_t(5));
        QCOMPARE(r.positions().back(), uint64_t(1000000));
        QCOMPARE(r.log().last(), QString("play 0"));
        QVERIFY(marked(r.images()[4], 1));
        QCOMPARE(positionSpy.count(), 5);
        QCOMPARE(positionSpy.last().at(0).value<uint64_t>(), uint64_t(1000000));
        QCOMPARE(playSpy.count(), 1);
        QCOMPARE(playSpy.last().at(0).toBool(), false);
    }

    void invalidFpsIsRefused()
    {
        const QString path = windowRecording();
        Relay r;
        auto p = makeProcessor();
        r.attach(p.get());
        QVERIFY(load(*p, r, path));
        p->setFps(10);
        p->setFps(0);
        p->setFps(-3);
        p->nextFrame();
        r.pump();
        QCOMPARE(r.positions().back(), uint64_t(1100000));
        p->setFps(7);
        p->nextFrame();
        r.pump();
        QCOMPARE(r.positions().back(), uint64_t(1100000 + 142857));
    }

    void secondPlayStartsNoSecondWorker()
    {
        std::vector<Event2D> ev;
        addFiller(ev, 1000000, 1200000, 1000);
        const QString path = writeRecording("twice.raw", ev);
        Relay r;
        auto p = makeProcessor();
        r.attach(p.get());
        QVERIFY(load(*p, r, path));
        p->slotPlaybackCtrl(true);
        p->slotPlaybackCtrl(true);
        WAIT_VERIFY(r.log().count("play 0") == 2);
        p->slotPlaybackCtrl(true); // after the end: a fresh worker from the start
        WAIT_VERIFY(r.log().count("play 0") == 3);
        p->slotPlaybackCtrl(false);
        r.pump();
        QCOMPARE(r.log().count("play 0"), 3);
        // One worker: each pass reports 1000000 (load) then 7 strictly rising steps.
        const std::vector<uint64_t> positions = r.positions();
        QCOMPARE(positions.size(), size_t(15));
        const std::vector<uint64_t> pass(positions.begin() + 1, positions.begin() + 8);
        QVERIFY(std::is_sorted(pass.begin(), pass.end()));
        QCOMPARE(pass.back(), uint64_t(1200000));
    }

    // Recordings without a regular event flow still play to their end.
    void sparseRecordingsPlayToTheEnd_data()
    {
        QTest::addColumn<std::vector<Event2D>>("events");
        QTest::newRow("quiet stretch") << std::vector<Event2D>{{1, 1, 1, 1000000}, {2, 2, 0, 3000001}};
        QTest::newRow("single event") << std::vector<Event2D>{{3, 3, 1, 5000000}};
        QTest::newRow("one timestamp") << std::vector<Event2D>{{1, 1, 1, 7}, {2, 1, 0, 7}, {3, 1, 1, 7}};
    }

    void sparseRecordingsPlayToTheEnd()
    {
        QFETCH(std::vector<Event2D>, events);
        const QString path = writeRecording("sparse.raw", events);
        Relay r;
        auto p = makeProcessor();
        r.attach(p.get());
        p->setFps(5); // 200 ms per step: two seconds of silence in ten steps
        r.actAsMainWindow();
        QVERIFY(load(*p, r, path));
        WAIT_VERIFY((r.log().count("play 0") == 2));
        p->slotPlaybackCtrl(false);
        QCOMPARE(r.positions().back(), events.back().timestamp);
        // Every reported step drew one frame (the load reports without drawing).
        WAIT_COMPARE(r.images().size(), r.positions().size() - 1);
        QCOMPARE(at(r.images().back(), events.back().x, events.back().y), events.back().polarity ? kPositive : kNegative);
    }

    void emptyAndBadPathsLeaveTheEngineEmpty()
    {
        Relay r;
        auto p = makeProcessor();
        r.attach(p.get());
        QFile junk(pathFor("junk.raw"));
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write("not a recording at all");
        junk.close();
        p->loadFile(junk.fileName());
        p->loadFile(QString());
        p->nextFrame();
        p->slotPlaybackCtrl(true);
        p->slotExportVideo(pathFor("none.mp4"), m_dir.path(), 0, 10);
        r.pump();
        QCOMPARE(r.log(), (QStringList{"play 0", "play 0"}));
    }

    void destroyDuringLoad()
    {
        std::vector<Event2D> ev;
        addFiller(ev, 0, 2000000, 3);
        const QString path = writeRecording("destroy.raw", ev);
        for (int i = 0; i < 3; ++i) {
            auto p = makeProcessor();
            p->loadFile(path);
            p.reset(); // must wait for (or cancel) the load before the reader goes
        }
        Relay r;
        auto p = makeProcessor();
        r.attach(p.get());
        r.actAsMainWindow();
        QVERIFY(load(*p, r, path));
        p.reset(); // while playing
    }

    // --- export and cut ---------------------------------------------------------

    // The engine blocks nothing while an export or cut runs (the waiting window does):
    // playing, stepping and seeking on the same recording meanwhile must stay correct.
    void playbackWhileExportAndCutRun()
    {
        std::vector<Event2D> ev;
        addFiller(ev, 1000000, 3000000, 50);
        const QString path = writeRecording("busy.raw", ev);
        Relay r;
        auto p = makeProcessor();
        r.attach(p.get());
        QVERIFY(load(*p, r, path));
        r.clearLog();
        p->slotExportVideo(pathFor("busy.mp4"), m_dir.path(), 1000000, 3000000);
        p->slotCutRawFile(pathFor("busy-cut.raw"), m_dir.path(), 1500000, 2500000);
        p->slotPlaybackCtrl(true);
        QThread::msleep(100);
        p->setPlayPos(2000000);
        p->nextFrame();
        p->preFrame();
        QCOMPARE(r.positions().back(), uint64_t(2033333));
        p->slotPlaybackCtrl(true);
        WAIT_COMPARE(r.log().count("loading 0"), 2);
        p->slotPlaybackCtrl(false);
        QCOMPARE(r.tips().size(), size_t(2));
        auto cut = vexadin::DvsFileReader::createFileReader(pathFor("busy-cut.raw").toStdString());
        QVERIFY(cut && cut->open());
        const auto events = cut->readRange(0, ~uint64_t(0));
        QVERIFY(events);
        QCOMPARE(events->size(), size_t((2500000 - 1500000) / 50 + 1));
    }

    void exportAndCutNotifyOnceOnSuccess()
    {
        std::vector<Event2D> ev;
        addFiller(ev, 1000000, 2000000, 100);
        const QString path = writeRecording("export.raw", ev);
        Relay r;
        auto p = makeProcessor();
        r.attach(p.get());
        r.actAsMainWindow();
        QVERIFY(load(*p, r, path));
        WAIT_VERIFY(r.positions().size() >= 2); // playing
        r.clearLog();

        const QString video = pathFor("range.mp4");
        p->slotExportVideo(video, m_dir.path(), 1100000, 1400000);
        WAIT_COMPARE(r.log().count("loading 0"), 1);
        QVERIFY(r.log().contains("play 0")); // playback stopped first
        QVERIFY(r.log().indexOf("play 0") < r.log().indexOf("loading 1"));
        QCOMPARE(r.log().filter("loading"), (QStringList{"loading 1", "loading 0"}));
        QCOMPARE(r.tips().size(), size_t(1));
        QCOMPARE(r.tips()[0].text, QString("Export video success!"));
        QCOMPARE(r.tips()[0].type, VxMessageType::Success);
        QCOMPARE(r.tips()[0].path, m_dir.path());
        QVERIFY(QFileInfo(video).size() > 0);

        const QString cut = pathFor("range-cut.raw");
        p->slotCutRawFile(cut, m_dir.path(), 1100000, 1400000);
        WAIT_COMPARE(r.log().count("loading 0"), 2);
        QCOMPARE(r.tips().size(), size_t(2));
        QCOMPARE(r.tips()[1].text, QString("Export raw file success!"));
        auto reader = vexadin::DvsFileReader::createFileReader(cut.toStdString());
        QVERIFY(reader && reader->open());
        uint64_t first = 0, last = 0;
        QVERIFY(reader->getStartTimestamp(first) && reader->getEndTimestamp(last));
        QCOMPARE(first, uint64_t(1100000));
        QCOMPARE(last, uint64_t(1400000));

        // Failures: the busy bracket, no notification, no file.
        const QString badVideo = pathFor("missing-folder/x.mp4");
        p->slotExportVideo(badVideo, m_dir.path(), 1400000, 1100000);
        p->slotCutRawFile(pathFor("missing-folder/x.raw"), m_dir.path(), 1100000, 1400000);
        p->slotCutRawFile(path, m_dir.path(), 1100000, 1400000); // onto the open recording
        WAIT_COMPARE(r.log().count("loading 0"), 5);
        QCOMPARE(r.tips().size(), size_t(2));
        QVERIFY(!QFileInfo::exists(badVideo));
        auto original = vexadin::DvsFileReader::createFileReader(path.toStdString());
        QVERIFY(original && original->open() && original->getEndTimestamp(last));
        QCOMPARE(last, uint64_t(2000000));
    }

    // --- frames at the sensor's size -----------------------------------------------

    void framesHaveTheSensorSize()
    {
        Relay r;
        auto p = makeProcessor();
        r.attach(p.get());
        r.actAsMainWindow();
        QCOMPARE(p->frameSize(), QSize(1280, 720));

        // A small sensor fills the frame; a large one is no longer cut at 1280 x 720.
        const struct {
            uint16_t w, h;
        } sizes[] = {{320, 240}, {2048, 1536}, {1280, 720}};
        for (const auto &size : sizes) {
            vexadin::RawFileHeader header;
            header.width = size.w;
            header.height = size.h;
            std::vector<Event2D> ev;
            for (uint64_t t = 1000000; t < 1300000; t += 1000)
                ev.emplace_back(uint16_t(size.w - 1), uint16_t(size.h - 1), uint8_t(1), t);
            const QString path = pathFor(QString("sensor-%1.raw").arg(size.w));
            QVERIFY(vxtest::writeRecording(path.toStdString(), ev, {}, header));
            QVERIFY(load(*p, r, path));
            QCOMPARE(p->frameSize(), QSize(size.w, size.h));
            // Frames of the previous recording may still be on their way.
            WAIT_VERIFY(r.imageCount() > 0 && r.images().back().size() == QSize(size.w, size.h));
            p->slotPlaybackCtrl(false);
            const QImage img = r.images().back();
            QCOMPARE(img.size(), QSize(size.w, size.h));
            QCOMPARE(at(img, size.w - 1, size.h - 1), kPositive);
            r.clearLog();
        }

        // The entry point for cameras: unknown or unrenderable sizes fall back.
        p->setSensorSize(640, 480);
        QCOMPARE(p->frameSize(), QSize(640, 480));
        const Event2D inside(639, 479, 0, 5), outside(640, 0, 1, 5);
        p->accumulate(&inside, &inside + 1);
        p->accumulate(&outside, &outside + 1);
        p->publishFrame();
        // (A blank frame of the new size may come first: one published before the change.)
        WAIT_VERIFY(r.images().back().size() == QSize(640, 480) && at(r.images().back(), 639, 479) == kNegative);
        QCOMPARE(at(r.images().back(), 0, 1), kBackground);
        p->setSensorSize(0, 0);
        QCOMPARE(p->frameSize(), QSize(1280, 720));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("sensor too large to render"));
        p->setSensorSize(VxEventProcessor::kMaxSide + 1, 100);
        QCOMPARE(p->frameSize(), QSize(1280, 720));
    }

    // --- loads, jobs, progress and cancel -------------------------------------------

    // The first file's end of load, not yet taken by the window when the second is
    // opened, must not reach it: no range, play request or load end of the first.
    void secondLoadDropsTheFirstLoadsResults()
    {
        std::vector<Event2D> a, b;
        addFiller(a, 1000000, 2000000, 1000);
        addFiller(b, 5000000, 7000000, 1000);
        const QString pathA = writeRecording("first.raw", a);
        const QString pathB = writeRecording("second.raw", b);
        Relay r;
        auto p = makeProcessor();
        r.attach(p.get());
        r.actAsMainWindow();
        p->loadFile(pathA);
        QThread::msleep(300); // the first load is done, its results wait for the event loop
        p->loadFile(pathB);
        WAIT_VERIFY(r.log().contains("play 1"));
        WAIT_VERIFY(r.positions().size() >= 3);
        p->slotPlaybackCtrl(false);
        const QStringList log = r.log();
        QVERIFY2(!log.contains("end 2000000") && !log.contains("start 1000000"), qPrintable(log.join(", ")));
        QCOMPARE(log.filter("end ").size(), 1);
        QCOMPARE(log.count("play 1"), 1);
        QCOMPARE(log.count("loading 1"), 2);
        QCOMPARE(log.count("loading 0"), 2);
        QVERIFY(r.positions()[1] > 5000000);
    }

    // A second export starts after the first without the caller waiting for it; a
    // failed one writes its line and tells the user nothing.
    void secondExportQueuesBehindTheFirst()
    {
        std::vector<Event2D> ev;
        addFiller(ev, 1000000, 2000000, 200);
        const QString path = writeRecording("queue.raw", ev);
        Relay r;
        auto p = makeProcessor();
        r.attach(p.get());
        QVERIFY(load(*p, r, path));
        MessageLog messages;
        const QString first = pathFor("queue-1.mp4"), second = pathFor("queue-2.mp4");
        const QString failing = pathFor("no-such-folder/queue-3.mp4");
        // The second starts only once the first is finished: its file is in place.
        std::atomic<int> secondStartedAfterFirst{-1};
        messages.setWatcher([&](const QString &line) {
            if (line.contains("start export video:") && line.contains(second))
                secondStartedAfterFirst = QFileInfo::exists(first) ? 1 : 0;
        });
        p->slotExportVideo(first, m_dir.path(), 1000000, 2000000);
        p->slotExportVideo(second, m_dir.path(), 1000000, 1100000);
        p->slotExportVideo(failing, m_dir.path(), 1000000, 1100000);
        // Returned at once: the first export is still running (its file is not there yet).
        QVERIFY(!QFileInfo::exists(first));
        QVERIFY(p->hasRangeJobs());
        WAIT_COMPARE(r.log().count("loading 0"), 4);
        QVERIFY(!p->hasRangeJobs());
        QCOMPARE(r.log().count("loading 1"), 4);
        QCOMPARE(secondStartedAfterFirst.load(), 1);
        QCOMPARE(r.tips().size(), size_t(2));
        QVERIFY(QFileInfo(first).size() > 0 && QFileInfo(second).size() > 0);
        const int start2 = messages.find("start export video:  \"" + second);
        QVERIFY2(messages.find("export video failed:  \"" + failing) > start2, qPrintable(messages.lines().join("\n")));
        messages.setWatcher({});
    }

    // Progress of an export and of a cut rises to 1; the window shows their mean.
    void progressRisesToOne()
    {
        std::vector<Event2D> ev;
        addFiller(ev, 1000000, 2500000, 100);
        const QString path = writeRecording("progress.raw", ev);
        Relay r;
        auto p = makeProcessor();
        r.attach(p.get());
        QVERIFY(load(*p, r, path));
        QSignalSpy progress(p.get(), &VxEventProcessor::signalProgress);
        int ends = 2;
        for (bool video : {true, false}) {
            progress.clear();
            if (video)
                p->slotExportVideo(pathFor("progress.mp4"), m_dir.path(), 1000000, 2500000);
            else
                p->slotCutRawFile(pathFor("progress-cut.raw"), m_dir.path(), 1000000, 2500000);
            WAIT_COMPARE(r.log().count("loading 0"), ends);
            ++ends;
            std::vector<double> values;
            for (const QList<QVariant> &args : progress)
                values.push_back(args.at(0).toDouble());
            QVERIFY(!values.empty());
            QVERIFY(std::is_sorted(values.begin(), values.end()));
            QCOMPARE(values.back(), 1.0);
        }
    }

    // Cancel stops the running and the queued jobs: each ends, nothing is written, the
    // user is told nothing, and the next export works. (A cut is too quick to catch
    // here; the driver's tests stop one at several points.)
    void cancelStopsEveryJobQuietly()
    {
        std::vector<Event2D> ev;
        addFiller(ev, 1000000, 9000000, 500);
        const QString path = writeRecording("cancel.raw", ev);
        QDir out(m_dir.filePath("cancel-out"));
        QVERIFY(out.mkpath("."));
        Relay r;
        auto p = makeProcessor();
        r.attach(p.get());
        QVERIFY(load(*p, r, path));
        QSignalSpy progress(p.get(), &VxEventProcessor::signalProgress);
        p->slotExportVideo(out.filePath("a.mp4"), out.path(), 1000000, 9000000);
        p->slotExportVideo(out.filePath("b.mp4"), out.path(), 1000000, 9000000);
        WAIT_VERIFY(!progress.isEmpty());
        p->slotCancelJobs();
        QVERIFY(!p->hasRangeJobs());
        WAIT_COMPARE(r.log().count("loading 0"), 3);
        QCOMPARE(r.tips().size(), size_t(0));
        QCOMPARE(out.entryList(QDir::Files | QDir::Hidden), QStringList());

        p->slotExportVideo(out.filePath("d.mp4"), out.path(), 1000000, 1500000);
        WAIT_COMPARE(r.log().count("loading 0"), 4);
        QCOMPARE(r.tips().size(), size_t(1));
        QCOMPARE(out.entryList(QDir::Files | QDir::Hidden), QStringList{"d.mp4"});
    }

    // A load that rebuilds the index can be cancelled: the engine is then empty, and
    // the next load works.
    void cancelledLoadLeavesTheEngineEmpty()
    {
        std::vector<Event2D> ev;
        // 20,000 blocks to scan: long enough that the cancel, sent right after the load
        // starts, comes while the index is still being rebuilt.
        addFiller(ev, 1000000, 2001000000, 100000);
        const QString path = writeRecording("killed.raw", ev);
        dropFooter(path);
        Relay r;
        auto p = makeProcessor();
        r.attach(p.get());
        r.actAsMainWindow();
        p->loadFile(path);
        p->slotCancelJobs();
        WAIT_VERIFY(r.log().contains("loading 0"));
        QTest::qWait(50);
        QCOMPARE(r.log(), (QStringList{"play 0", "loading 1", "loading 0"}));
        QTest::ignoreMessage(QtDebugMsg, "not raw file.");
        p->nextFrame();

        r.clearLog();
        QVERIFY(load(*p, r, path));
        QCOMPARE(r.log().filter("end ").size(), 1);
        QVERIFY(r.log().contains("play 1"));
    }

    // Damaged blocks inside the range: the readable rest is written, and after the
    // success the user is told which part is missing.
    void skippedDamageIsReportedAfterSuccess()
    {
        std::vector<Event2D> ev;
        addFiller(ev, 1000000, 3000000, 100);
        const QString path = writeRecording("damaged.raw", ev);
        vexadin::RawBlockInfo block;
        {
            auto reader = vexadin::RawFileReader::create(path.toStdString());
            QVERIFY(reader && reader->open());
            QVERIFY(reader->blockCount() > 10);
            block = reader->blockInfo(5);
        }
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.seek(qint64(block.fileOffset + vexadin::rawformat::kBlockHeaderSize + 3)));
        char c = 0;
        QVERIFY(f.getChar(&c));
        QVERIFY(f.seek(qint64(block.fileOffset + vexadin::rawformat::kBlockHeaderSize + 3)));
        QVERIFY(f.putChar(char(c ^ 0x33)));
        f.close();

        Relay r;
        auto p = makeProcessor();
        r.attach(p.get());
        QVERIFY(load(*p, r, path));
        p->slotCutRawFile(pathFor("damaged-cut.raw"), m_dir.path(), 1000000, 3000000);
        p->slotExportVideo(pathFor("damaged.mp4"), m_dir.path(), 1000000, 2000000);
        WAIT_COMPARE(r.log().count("loading 0"), 3);
        const QString gap = QString::fromStdString(formatTimestampUs(block.firstTimestamp)) + " - " +
                            QString::fromStdString(formatTimestampUs(block.lastTimestamp));
        const std::vector<Relay::Tip> tips = r.tips();
        QCOMPARE(tips.size(), size_t(4));
        for (size_t i = 0; i < tips.size(); i += 2) {
            QCOMPARE(tips[i].type, VxMessageType::Success);
            QCOMPARE(tips[i + 1].type, VxMessageType::Warning);
            QVERIFY2(tips[i + 1].text.contains(gap), qPrintable(tips[i + 1].text));
        }
        auto cut = vexadin::DvsFileReader::createFileReader(pathFor("damaged-cut.raw").toStdString());
        vexadin::DvsFileInfo info;
        QVERIFY(cut && cut->open() && cut->getFileInfo(info));
        QCOMPARE(info.eventCount, uint64_t(ev.size() - block.eventCount));
    }
};

QTEST_GUILESS_MAIN(TestVxEventProcessor)
#include "tst_vxeventprocessor.moc"
