// "Open Recording" of event data from other tools: converted on a job thread into
// the cache folder, reused while the source is unchanged, cancellable, and opened
// like any recording; failures end in an Error toast with the importer's reason.
// (The job's own threading runs under ThreadSanitizer in tst_recordingimportjob.)
#include "app/appsettings.h"
#include "processing/recordingimportjob.h"
#include "support/foreignfiles.h"
#include "support/qtesttime.h"
#include "support/syntheticevents.h"
#include "ui/mainwidget.h"
#include "widgets/vxthreehandleslider.h"
#include "widgets/waitingwin.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <sys/time.h>

#include <memory>

namespace {

using vexadin::Event2D;

// A DVS128 AEDAT 2.0 file: events at 1000 + 10 k µs.
void writeAedat2(const QString &path, int events)
{
    std::string f = vxtest::aedat2Header("ch.unizh.ini.jaer.chip.retina.DVS128");
    for (int k = 0; k < events; ++k)
        vxtest::appendAedat2Record(f, static_cast<uint32_t>((k % 128) << 1), static_cast<uint32_t>(1000 + 10 * k));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(f.data(), static_cast<qint64>(f.size()));
}

bool writeHdf5(const QString &path, uint64_t count, uint64_t firstUs)
{
    vxtest::Hdf5Layout layout;
    layout.width = 320;
    layout.height = 240;
    return vxtest::writeHdf5Events(path.toStdString(), layout, count, [&](uint64_t first, size_t n, Event2D *out) {
        for (size_t i = 0; i < n; ++i)
            out[i] = Event2D(static_cast<uint16_t>((first + i) % 320), static_cast<uint16_t>((first + i) % 240),
                             static_cast<uint8_t>(i & 1), firstUs + (first + i) / 4);
    });
}

// Moves the source's modification time, as an edit would.
void touch(const QString &path, int secondsBack)
{
    timeval times[2];
    gettimeofday(&times[0], nullptr);
    times[0].tv_sec -= secondsBack;
    times[1] = times[0];
    utimes(QFile::encodeName(path).constData(), times);
}

} // namespace

class TstRecordingImport : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    static std::unique_ptr<MainWidget> openWindow()
    {
        auto w = std::make_unique<MainWidget>();
        w->show();
        if (!QTest::qWaitForWindowExposed(w.get()))
            return nullptr;
        return w;
    }

    static bool loaded(MainWidget &w, uint64_t first, uint64_t last)
    {
        return QTest::qWaitFor([&] {
            return !w.isImporting() && w.sourceMode() == MainWidget::RawRecording
                   && w.timeSlider()->minimum() == first && w.timeSlider()->maximum() == last;
        }, vxtest::scaled(10000));
    }

    static QStringList cacheFiles()
    {
        return QDir(RecordingImportJob::defaultCacheDir()).entryList(QDir::Files);
    }

private slots:
    void initTestCase()
    {
        // A cache (and settings) of this run's own, whatever else runs on the machine.
        QVERIFY(m_dir.isValid());
        qputenv("HOME", QFile::encodeName(m_dir.path()));
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(RecordingImportJob::defaultCacheDir().startsWith(m_dir.path()));
    }

    void cleanupTestCase() { QDir(RecordingImportJob::defaultCacheDir()).removeRecursively(); }

    void aedatAndHdf5FilesOpenThroughTheCache()
    {
        const QString aedat = m_dir.filePath("dvs128.aedat");
        writeAedat2(aedat, 500);
        const QString hdf5 = m_dir.filePath("unix.h5");
        // Unix times: the recording starts at 0.
        QVERIFY(writeHdf5(hdf5, 4000, 1605537493718345ull));

        auto w = openWindow();
        QVERIFY(w);
        QSignalSpy tips(w.get(), &MainWidget::signalShowLeftBottomTips);
        w->importRecording(aedat);
        QVERIFY(w->isImporting());
        QVERIFY(loaded(*w, 1000, 1000 + 10 * 499));
        QCOMPARE(AppSettings::instance().inputRawFilePath, m_dir.path());
        const QString cached = RecordingImportJob::cachePathFor(aedat, RecordingImportJob::defaultCacheDir());
        QVERIFY(QFileInfo::exists(cached));

        w->importRecording(hdf5);
        QVERIFY(loaded(*w, 0, 999));
        QCOMPARE(cacheFiles().size(), 2);
        QVERIFY(tips.isEmpty());

        // The unchanged source is opened from the cache, a changed one converted anew.
        const QDateTime before = QFileInfo(cached).lastModified();
        QTest::qWait(20);
        w->importRecording(aedat);
        QVERIFY(loaded(*w, 1000, 1000 + 10 * 499));
        QCOMPARE(QFileInfo(cached).lastModified(), before);
        QCOMPARE(cacheFiles().size(), 2);
        writeAedat2(aedat, 300);
        touch(aedat, 5);
        w->importRecording(aedat);
        QVERIFY(loaded(*w, 1000, 1000 + 10 * 299));
        QCOMPARE(cacheFiles().size(), 3);
    }

    void recordingsOpenByTheirSignatureAndOtherFilesAreImported()
    {
        // One of our recordings under another name needs no import.
        const QString renamed = m_dir.filePath("recording.data");
        std::vector<Event2D> events = {{1, 1, 1, 2000}, {2, 2, 0, 9000}};
        QVERIFY(vxtest::writeRecording(renamed.toStdString(), events));
        QVERIFY(RecordingImportJob::isRecording(renamed));
        const QString aedat = m_dir.filePath("cmdline.aedat");
        writeAedat2(aedat, 20);
        QVERIFY(!RecordingImportJob::isRecording(aedat));

        auto w = openWindow();
        QVERIFY(w);
        const QStringList before = cacheFiles();
        w->openChosenFile(renamed);
        QVERIFY(!w->isImporting());
        QVERIFY(loaded(*w, 2000, 9000));
        QCOMPARE(cacheFiles(), before);
        // The command line goes the same way as the Open dialog.
        w->openFromCommandLine({aedat});
        QVERIFY(w->isImporting());
        QVERIFY(loaded(*w, 1000, 1000 + 10 * 19));
        QCOMPARE(cacheFiles().size(), before.size() + 1);
    }

    void unusableFilesGiveAnErrorToastWithTheReason()
    {
        const QString noChip = m_dir.filePath("nochip.aedat");
        {
            QFile f(noChip);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("#!AER-DAT2.0\r\n# nothing about the sensor\r\n");
        }
        auto w = openWindow();
        QVERIFY(w);
        QSignalSpy tips(w.get(), &MainWidget::signalShowLeftBottomTips);
        w->importRecording(noChip);
        QTRY_VERIFY_WITH_TIMEOUT(!w->isImporting(), vxtest::scaled(10000));
        QTRY_COMPARE(tips.count(), 1);
        QCOMPARE(tips.at(0).at(1).value<VxMessageType>(), VxMessageType::Error);
        const QString text = tips.at(0).at(0).toString();
        QVERIFY2(text.startsWith("Cannot import nochip.aedat: header: no 'AEChip:' line names the sensor"), qPrintable(text));
        QCOMPARE(w->sourceMode(), int(MainWidget::Empty));
        QVERIFY(!w->findChild<WaitingWin *>()->isVisible());
        QVERIFY(!QFileInfo::exists(RecordingImportJob::cachePathFor(noChip, RecordingImportJob::defaultCacheDir())));
    }

    void cancelLeavesNoFileAndNoToast()
    {
        const QString big = m_dir.filePath("big.h5");
        QVERIFY(writeHdf5(big, 3000000, 0));
        auto w = openWindow();
        QVERIFY(w);
        QSignalSpy tips(w.get(), &MainWidget::signalShowLeftBottomTips);
        const QStringList before = cacheFiles();
        w->importRecording(big);
        auto *waiting = w->findChild<WaitingWin *>();
        QVERIFY(waiting->isVisible());
        auto *cancel = waiting->findChild<QPushButton *>("pb_cancel");
        QVERIFY(cancel && cancel->isVisible());
        cancel->click();
        QVERIFY(!w->isImporting());
        QVERIFY(!waiting->isVisible());
        QTest::qWait(300);
        QVERIFY(tips.isEmpty());
        QCOMPARE(w->sourceMode(), int(MainWidget::Empty));
        // The window waits for the cancelled job's thread when it closes; nothing of
        // the job stays in the cache.
        w.reset();
        QCOMPARE(cacheFiles(), before);

        // A window closed during an import cancels it the same way.
        w = openWindow();
        QVERIFY(w);
        w->importRecording(big);
        w.reset();
        QCOMPARE(cacheFiles(), before);
    }
};

QTEST_MAIN(TstRecordingImport)
#include "tst_recordingimport.moc"
