// vx-test-labels: tsan
// Timed recordings on a real (simulated) camera: refusals, the worker's own stop,
// an early stop, and a recorder destroyed in the middle of a recording.
#include "Utility/vxfilerecorder.h"
#include "app/appsettings.h"
#include "camera/dvscamera.h"
#include "camera/dvscameramanager.h"
#include "camera/dvsfilereader.h"
#include "camera/logger.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

struct Tip {
    QString text;
    VxMessageType type;
    QString path;
};

// Collects the recorder's notifications on the GUI thread (they come from its worker).
class TipLog : public QObject
{
public:
    explicit TipLog(VxFileRecorder *recorder)
    {
        connect(recorder, &VxFileRecorder::signalShowLeftBottomTips, this,
                [this](QString text, VxMessageType type, QString path) { tips.append({text, type, path}); },
                Qt::QueuedConnection);
    }
    int count(const QString &text) const
    {
        return int(std::count_if(tips.begin(), tips.end(), [&](const Tip &t) { return t.text == text; }));
    }
    QList<Tip> tips;
};

QString logText()
{
    QFile log(QString::fromLocal8Bit(vexadin::Logger::Instance().logFilePath()));
    return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
}

// Whole seconds of events in a finished recording that vxraw accepts; -1 when not.
double checkedDurationSeconds(const QString &path)
{
    QProcess check;
    check.start(VX_VXRAW_EXE, {"check", path});
    if (!check.waitForFinished(30000) || check.exitCode() != 0)
        return -1;
    auto reader = vexadin::DvsFileReader::createFileReader(path.toLocal8Bit().toStdString());
    uint64_t first = 0, last = 0;
    if (!reader || !reader->open() || !reader->getStartTimestamp(first) || !reader->getEndTimestamp(last))
        return -1;
    return double(last - first) / 1e6;
}

} // namespace

class TstVxFileRecorder : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    vexadin::DvsCameraManager m_manager;
    std::shared_ptr<vexadin::DvsCamera> m_camera;

    QString path(const QString &name) const { return m_dir.filePath(name); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        AppSettings::instance().configDir = m_dir.path();
        m_camera = m_manager.openCamera("EVK4-SIM-0001");
        if (!m_camera) {
            for (const auto &d : m_manager.getCameraDescs())
                if (d.product == "EVK4" && (m_camera = m_manager.openCamera(d.serial)))
                    break;
        }
        QVERIFY2(m_camera, "no simulated EVK4 camera");
        QCOMPARE(m_camera->start(), 0);
    }

    void cleanupTestCase()
    {
        if (m_camera)
            m_camera->stop();
    }

    void namingRule()
    {
        const QDateTime when(QDate(2024, 1, 31), QTime(23, 59, 59));
        QCOMPARE(VxFileRecorder::recordingFilePath("F", "S", when), QString("F/S_20240131_235959.raw"));
        const QDateTime morning(QDate(2024, 3, 5), QTime(7, 8, 9));
        QCOMPARE(VxFileRecorder::recordingFilePath("/data/rec", "00ab", morning),
                 QString("/data/rec/00ab_20240305_070809.raw"));
    }

    // Every refusal reads "Currently being recorded.", whatever the reason.
    void refusals()
    {
        VxFileRecorder recorder;
        TipLog log(&recorder);
        QVERIFY(!recorder.recordingTime(5, path("none.raw"))); // no camera
        QVERIFY(!recorder.startRecording(path("none.raw")));
        QVERIFY(!recorder.stopRecording());
        recorder.setCacheTime(3); // without a camera: nothing, no crash
        QVERIFY(!recorder.isCacheEnabled());

        recorder.setCamera(m_camera);
        QVERIFY(!recorder.recordingTime(0, path("zero.raw")));
        QVERIFY(!recorder.stopRecording());
        QTRY_COMPARE(log.count("Currently being recorded."), 2);
        for (const Tip &tip : std::as_const(log.tips))
            QCOMPARE(tip.type, VxMessageType::Warning);
        QVERIFY(!QFile::exists(path("none.raw")));
        QVERIFY(!QFile::exists(path("zero.raw")));

        recorder.setCacheTime(2);
        QVERIFY(recorder.isCacheEnabled());
        recorder.setCacheTime(0);
        QVERIFY(!recorder.isCacheEnabled());
    }

    // A timed recording stops by itself after its seconds (up to half a second
    // more); a second request meanwhile is refused and does not lengthen it.
    void timedRecordingStopsByItself()
    {
        VxFileRecorder recorder;
        TipLog log(&recorder);
        recorder.setCamera(m_camera);
        const int endsBefore = logText().count("recording end");

        const QString file = path("timed.raw");
        QElapsedTimer clock;
        clock.start();
        QVERIFY(recorder.recordingTime(1, file));
        QVERIFY(recorder.isRecording());
        QVERIFY(!recorder.recordingTime(1, path("second.raw")));
        QVERIFY(!recorder.startRecording(path("third.raw")));
        QTRY_VERIFY_WITH_TIMEOUT(!recorder.isRecording(), 5000);
        QVERIFY(clock.elapsed() >= 1000);

        QTRY_COMPARE(log.count("Recording end"), 1);
        QCOMPARE(log.count("Recording file ... "), 1);
        QCOMPARE(log.tips.first().path, file);
        QCOMPARE(log.count("Currently being recorded."), 1);
        QVERIFY(!QFile::exists(path("second.raw")));
        QVERIFY(!QFile::exists(path("third.raw")));
        const double seconds = checkedDurationSeconds(file);
        QVERIFY2(seconds > 0.8 && seconds < 1.9, qPrintable(QString::number(seconds)));
        QCOMPARE(logText().count("recording end"), endsBefore + 1);
        QVERIFY(logText().contains("recording start"));

        // Done: the next request is accepted again.
        QVERIFY(recorder.recordingTime(1, path("again.raw")));
        QVERIFY(recorder.stopRecording());
        QTRY_COMPARE(log.count("Recording end"), 2);
    }

    // stopRecording() and the destructor end a long recording at once, and
    // the file is finished either way.
    void earlyStopAndDestruction()
    {
        const int endsBefore = logText().count("recording end");
        const QString stopped = path("stopped.raw");
        {
            VxFileRecorder recorder;
            recorder.setCamera(m_camera);
            QVERIFY(recorder.recordingTime(60, stopped));
            QTest::qWait(300);
            QElapsedTimer clock;
            clock.start();
            QVERIFY(recorder.stopRecording());
            QTRY_VERIFY_WITH_TIMEOUT(!recorder.isRecording(), 2000);
            QVERIFY(clock.elapsed() < 1000);
        }
        const QString destroyed = path("destroyed.raw");
        {
            auto recorder = std::make_unique<VxFileRecorder>();
            recorder->setCamera(m_camera);
            QVERIFY(recorder->recordingTime(60, destroyed));
            QTest::qWait(300);
            // The camera in use is kept even when the recorder is given another one.
            recorder->setCamera(nullptr);
            QVERIFY(recorder->isRecording());
            recorder.reset();
        }
        QCOMPARE(logText().count("recording end"), endsBefore + 2);
        QVERIFY(checkedDurationSeconds(stopped) >= 0);
        QVERIFY(checkedDurationSeconds(destroyed) >= 0);
    }

    // A camera that already records (a manual recording) is left alone.
    void cameraAlreadyRecording()
    {
        const QString manual = path("manual.raw");
        QVERIFY(m_camera->startRecording(manual.toLocal8Bit().toStdString()));
        VxFileRecorder recorder;
        TipLog log(&recorder);
        recorder.setCamera(m_camera);
        QVERIFY(recorder.recordingTime(1, path("refused.raw")));
        QTRY_VERIFY(!recorder.isRecording());
        QTRY_COMPARE(log.count("Currently being recorded."), 1);
        QCOMPARE(log.count("Recording end"), 0);
        // Still recording: stopping it now succeeds.
        QVERIFY(m_camera->stopRecording());
        QVERIFY(checkedDurationSeconds(manual) >= 0);
    }
};

int main(int argc, char **argv)
{
    // Settings, logs and camera caches of this run stay in a folder of their own.
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toLocal8Bit());
    qputenv("XDG_DATA_HOME", (home.path() + "/data").toLocal8Bit());
    qputenv("XDG_CACHE_HOME", (home.path() + "/cache").toLocal8Bit());
    qputenv("VEXADIN_CAMERA_DIR", (home.path() + "/cameras").toLocal8Bit());
    QCoreApplication app(argc, argv);
    TstVxFileRecorder test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_vxfilerecorder.moc"
