// vx-test-labels: tsan
// The import job on its own thread: what it reuses from the cache, how it ends
// (done, failed with the reason, cancelled, destroyed while running) and that
// its signals reach the owner's thread. Signals are taken through queued
// connections into this thread, so nothing here is shared without Qt's hand-over.
#include "processing/recordingimportjob.h"
#include "support/foreignfiles.h"
#include "support/qtesttime.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <vector>

namespace {

using vexadin::Event2D;

void writeAedat2(const QString &path, int events)
{
    std::string f = vxtest::aedat2Header("DVS128");
    for (int k = 0; k < events; ++k)
        vxtest::appendAedat2Record(f, static_cast<uint32_t>((k % 128) << 1), static_cast<uint32_t>(10 * k));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(f.data(), static_cast<qint64>(f.size()));
}

// What a job reported, received on this thread.
struct Outcome {
    std::vector<double> progress;
    int finishedCount = 0;
    bool ok = false;
    QString message;
};

void watch(RecordingImportJob &job, QObject &context, Outcome &outcome)
{
    QObject::connect(&job, &RecordingImportJob::progress, &context,
                     [&outcome](double f) { outcome.progress.push_back(f); });
    QObject::connect(&job, &RecordingImportJob::finished, &context, [&outcome](bool ok, const QString &message) {
        ++outcome.finishedCount;
        outcome.ok = ok;
        outcome.message = message;
    });
}

} // namespace

class TstRecordingImportJob : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QStringList filesIn(const QString &dir) const { return QDir(dir).entryList(QDir::Files); }

private slots:
    void onlyACompleteConversionIsReused()
    {
        const QString src = m_dir.filePath("reuse.aedat");
        writeAedat2(src, 50);
        const QString dir = m_dir.filePath("cache");
        const QString cached = RecordingImportJob::cachePathFor(src, dir);
        QVERIFY(cached.startsWith(dir + "/reuse-"));
        QVERIFY(RecordingImportJob::cachePathFor(m_dir.filePath("missing.aedat"), dir).isEmpty());

        // A leftover under the final name that is not a finished recording is never opened.
        QDir().mkpath(dir);
        {
            QFile half(cached);
            QVERIFY(half.open(QIODevice::WriteOnly));
            half.write("half-written");
        }
        for (int round = 0; round < 2; ++round) {
            QObject context;
            Outcome outcome;
            RecordingImportJob job(src, dir);
            watch(job, context, outcome);
            job.start();
            QTRY_COMPARE_WITH_TIMEOUT(outcome.finishedCount, 1, vxtest::scaled(10000));
            QVERIFY(outcome.ok);
            QCOMPARE(job.outputPath(), cached);
            QCOMPARE(job.reusedCache(), round == 1);
            QVERIFY(!outcome.progress.empty());
            QCOMPARE(outcome.progress.back(), 1.0);
        }
        QCOMPARE(filesIn(dir), QStringList{QFileInfo(cached).fileName()});

        // A changed source (other size) is another conversion.
        writeAedat2(src, 60);
        QVERIFY(RecordingImportJob::cachePathFor(src, dir) != cached);
    }

    void failuresNameTheReasonWithoutThePath()
    {
        const QString broken = m_dir.filePath("broken.aedat");
        {
            QFile f(broken);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("#!AER-DAT3.1\r\n#Format: RAW\r\n"); // no end of header
        }
        const QString dir = m_dir.filePath("cache-fail");
        for (const QString &src : {broken, m_dir.filePath("missing.h5")}) {
            QObject context;
            Outcome outcome;
            RecordingImportJob job(src, dir);
            watch(job, context, outcome);
            job.start();
            QTRY_COMPARE_WITH_TIMEOUT(outcome.finishedCount, 1, vxtest::scaled(10000));
            QVERIFY(!outcome.ok);
            QVERIFY(!job.wasCancelled());
            QCOMPARE(outcome.message,
                     src == broken ? QString("header: no '#!END-HEADER' line") : QString("the file does not exist"));
        }
        QCOMPARE(filesIn(dir), QStringList());
    }

    void cancelledOrDestroyedJobsLeaveNothing()
    {
        const QString big = m_dir.filePath("big.h5");
        vxtest::Hdf5Layout layout;
        layout.width = 100;
        layout.height = 100;
        QVERIFY(vxtest::writeHdf5Events(big.toStdString(), layout, 2000000, [](uint64_t first, size_t n, Event2D *out) {
            for (size_t i = 0; i < n; ++i)
                out[i] = Event2D(static_cast<uint16_t>((first + i) % 100), 7, 1, first + i);
        }));
        const QString dir = m_dir.filePath("cache-cancel");

        // Cancelled while running: finished(false, "") and no file.
        {
            QObject context;
            Outcome outcome;
            RecordingImportJob job(big, dir);
            watch(job, context, outcome);
            // Cancelled from its first progress report, on the job's thread: a fast
            // conversion would otherwise be done before this thread got to cancel it.
            QObject::connect(&job, &RecordingImportJob::progress, &context, [&job] { job.cancel(); },
                             Qt::DirectConnection);
            job.start();
            QTRY_COMPARE_WITH_TIMEOUT(outcome.finishedCount, 1, vxtest::scaled(10000));
            QVERIFY(!outcome.ok);
            QVERIFY(outcome.message.isEmpty());
            QVERIFY(job.wasCancelled());
        }
        QCOMPARE(filesIn(dir), QStringList());

        // Destroyed while running: the destructor stops and joins the thread.
        for (int delayMs : {0, 5}) {
            auto job = std::make_unique<RecordingImportJob>(big, dir);
            job->start();
            QTest::qWait(delayMs);
            job.reset();
            QCOMPARE(filesIn(dir), QStringList());
        }
    }
};

QTEST_GUILESS_MAIN(TstRecordingImportJob)
#include "tst_recordingimportjob.moc"
