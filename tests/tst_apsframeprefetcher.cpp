// vx-test-labels: tsan
// Frames decoded ahead must be exactly the frames the reader gives for the same calls:
// a reader of its own on the same video is the reference, step by step, through reads,
// skips, seeks back and forth, rewinds (the kept first frames and the frames decoded
// past the end for the next rewind included) and the end.
#include "processing/apsframeprefetcher.h"

#include "support/apspattern.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cstring>
#include <memory>

#include "support/qtesttime.h"

using vexadin::ApsFileReader;
using vexadin::ApsFrame;

namespace {

std::shared_ptr<ApsFileReader> openReader(const std::string &path)
{
    std::shared_ptr<ApsFileReader> reader = ApsFileReader::createFileReader(path);
    if (!reader || !reader->open())
        return nullptr;
    return reader;
}

bool sameFrame(const ApsFrame &a, const ApsFrame &b)
{
    return a.getFrameNumber() == b.getFrameNumber() && a.getTimestamp() == b.getTimestamp() &&
           a.getDataSize() == b.getDataSize() && !a.isEmpty() &&
           std::memcmp(a.data(), b.data(), a.getDataSize()) == 0;
}

} // namespace

class TestApsFramePrefetcher : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_video = m_dir.filePath("frames.mp4").toStdString();
        // Uneven spacing and a long gap: skips cannot rely on a fixed frame period.
        m_stamps = vxtest::irregularTimestamps(50, 0, 11);
        vexadin::ApsVideoWriterOptions options;
        options.keyFrameInterval = 8;
        QVERIFY(vxtest::writeNumberedVideo(m_video, 96, 64, m_stamps, options));
    }

    void sameFramesAsTheReader()
    {
        std::shared_ptr<ApsFileReader> plain = openReader(m_video);
        std::shared_ptr<ApsFileReader> ahead = openReader(m_video);
        QVERIFY(plain && ahead);
        // As the worker does: the first frame is read before decoding ahead starts.
        ApsFrame want, got;
        QVERIFY(plain->readNextFrame(want));
        QVERIFY(ahead->readNextFrame(got));
        ApsFramePrefetcher prefetcher(3);
        prefetcher.start(ahead, got);
        QVERIFY(prefetcher.isRunning());

        enum Op { Next, At, Rewind, GoneRound };
        struct Step {
            Op op;
            uint64_t time;
            const char *what;
        };
        const uint64_t mid = (m_stamps[5] + m_stamps[6]) / 2;
        const std::vector<Step> steps = {
            {Next, 0, "next"},
            {Next, 0, "next"},
            {At, m_stamps[3], "at an already decoded frame"},
            {At, mid, "between two frames ahead"},
            {Next, 0, "next after a skip"},
            {At, m_stamps[30] + 1, "far ahead"},
            {Next, 0, "next after a far seek"},
            {At, m_stamps[10], "back"},
            {Next, 0, "next after going back"},
            {Rewind, 0, "first rewind (kept first frame, decodes the next ones again)"},
            {Next, 0, "first frame"},
            {Next, 0, "second frame"},
            {Next, 0, "third frame"},
            {Next, 0, "fourth frame"},
            {Next, 0, "fifth frame"},
            {Rewind, 0, "second rewind (kept first frames)"},
            {Next, 0, "first frame again"},
            {Next, 0, "second kept frame"},
            {Next, 0, "third kept frame"},
            {Next, 0, "first frame after the kept ones"},
            {Rewind, 0, "third rewind"},
            {At, m_stamps[2], "skip into the kept frames"},
            {Next, 0, "past the kept frames"},
            {At, m_stamps[1], "back into the kept frames"},
            {Next, 0, "next"},
            {At, m_stamps[47], "near the end"},
            {Next, 0, "next to last frame"},
            {Next, 0, "last frame"},
            {Next, 0, "past the end"},
            {GoneRound, 0, "frames after the kept ones decoded at the end"},
            {Rewind, 0, "rewind after going round"},
            {Next, 0, "first kept frame after going round"},
            {Next, 0, "second kept frame after going round"},
            {Next, 0, "third kept frame after going round"},
            {Next, 0, "first frame decoded past the end"},
            {Next, 0, "second frame decoded past the end"},
            {Next, 0, "third frame decoded past the end"},
            {Next, 0, "first frame the decoder went on to"},
            {Next, 0, "second frame the decoder went on to"},
            {At, m_stamps[47], "near the end again"},
            {Next, 0, "next to last frame"},
            {Next, 0, "last frame again"},
            {Next, 0, "past the end once more"},
            {At, m_stamps[49] + 1000000, "after the last frame"},
            {Rewind, 0, "rewind at the end"},
            {Next, 0, "first frame after the end"},
            {At, 0, "before the first frame"},
            {Rewind, m_stamps[20], "rewind into the middle"},
            {Next, 0, "frame at the rewind time"},
        };
        for (const Step &step : steps) {
            bool wantOk = false, gotOk = false;
            switch (step.op) {
            case Next:
                wantOk = plain->readNextFrame(want);
                gotOk = prefetcher.readNextFrame(got);
                break;
            case At:
                wantOk = plain->readFrameAt(step.time, want);
                gotOk = prefetcher.readFrameAt(step.time, got);
                break;
            case Rewind:
                wantOk = plain->rewind(step.time);
                gotOk = prefetcher.rewind(step.time);
                break;
            case GoneRound:
                wantOk = true;
                gotOk = QTest::qWaitFor([&] { return prefetcher.queuedForRewind() == 3; }, vxtest::scaled(5000));
                break;
            }
            QVERIFY2(wantOk == gotOk, step.what);
            if ((step.op == Next || step.op == At) && wantOk) {
                QVERIFY2(sameFrame(want, got), step.what);
                QCOMPARE(vxtest::readFrameNumber(got), uint32_t(got.getFrameNumber()));
            }
        }
        // Frames handed out stay as they were while the decoder goes on into reused buffers.
        QVERIFY(prefetcher.rewind(0));
        ApsFrame first, second;
        QVERIFY(prefetcher.readNextFrame(first));
        const ApsFrame firstCopy = first.clone();
        for (int i = 0; i < 10; ++i)
            QVERIFY(prefetcher.readNextFrame(second));
        QVERIFY(sameFrame(first, firstCopy));
    }

    void boundedStopAndRestart()
    {
        std::shared_ptr<ApsFileReader> reader = openReader(m_video);
        QVERIFY(reader);
        ApsFramePrefetcher prefetcher(2);
        ApsFrame frame;
        QVERIFY(!prefetcher.readNextFrame(frame)); // nothing to read before start
        QVERIFY(!prefetcher.rewind(0));
        QVERIFY(prefetcher.waitUntilFull(0)); // nothing to wait for
        prefetcher.start(reader);
        QVERIFY(prefetcher.waitUntilFull(vxtest::scaled(5000)));
        QCOMPARE(prefetcher.queued(), size_t(2));
        QTest::qWait(50);
        QCOMPARE(prefetcher.queued(), size_t(2)); // never more than asked for
        // Stopping while the decoder waits for room, and starting again where the reader is.
        prefetcher.stop();
        QVERIFY(!prefetcher.isRunning());
        QVERIFY(!prefetcher.readNextFrame(frame));
        prefetcher.start(reader);
        QVERIFY(prefetcher.readNextFrame(frame));
        QCOMPARE(frame.getFrameNumber(), uint64_t(2)); // frames 0 and 1 were decoded before the stop
        // Destroyed while decoding: joins without a hang.
    }

private:
    QTemporaryDir m_dir;
    std::string m_video;
    std::vector<uint64_t> m_stamps;
};

QTEST_GUILESS_MAIN(TestApsFramePrefetcher)
#include "tst_apsframeprefetcher.moc"
