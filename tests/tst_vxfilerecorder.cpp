// vx-test-labels: tsan
// Timed recordings on a real (simulated) camera: refusals, the worker's own stop,
// an early stop, and a recorder destroyed in the middle of a recording.
#include "Utility/vxfilerecorder.h"
#include "app/appsettings.h"
#include "camera/dvscamera.h"
#include "camera/dvscameramanager.h"
#include "camera/dvsfilereader.h"
#include "camera/logger.h"
#include "support/cameratestkit.h"
#include "support/isolatedhome.h"
#include "support/qtesttime.h"
#include "support/recordingchecks.h"
#include "support/syntheticevents.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using vxtest::checkedRecording;
using vxtest::TipLog;

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
        // The simulated EVK4, or in sanitizer builds (where the simulator cannot keep
        // up) a replay camera.
        const std::string cameraDir = qgetenv("VEXADIN_CAMERA_DIR").toStdString();
        QVERIFY(QDir().mkpath(QString::fromStdString(cameraDir)));
        vxtest::SyntheticOptions opt;
        opt.eventRate = 300000;
        opt.durationUs = 2000000;
        QVERIFY(vxtest::writeRecording(cameraDir + "/replay.raw", vxtest::generateEvents(opt)));
        for (const auto &d : m_manager.getCameraDescs())
            if (d.kind == (vxtest::kRealTimeBuild ? "simulated" : "replay") && d.product == "EVK4" &&
                (m_camera = m_manager.openCamera(d.serial)))
                break;
        QVERIFY2(m_camera, "no camera");
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
        TipLog log;
        log.watch(&recorder);
        QVERIFY(!recorder.recordingTime(5, path("none.raw"))); // no camera
        QVERIFY(!recorder.startRecording(path("none.raw")));
        QVERIFY(!recorder.stopRecording());
        recorder.setCacheTime(3); // without a camera: nothing, no crash
        QVERIFY(!recorder.isCacheEnabled());

        recorder.setCamera(m_camera);
        QVERIFY(!recorder.recordingTime(0, path("zero.raw")));
        QVERIFY(!recorder.stopRecording());
        QTRY_COMPARE(log.count("Currently being recorded."), 2);
        for (const vxtest::Tip &tip : std::as_const(log.tips))
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
        TipLog log;
        log.watch(&recorder);
        recorder.setCamera(m_camera);
        const int endsBefore = vxtest::cameraLogText().count("recording end");

        const QString file = path("timed.raw");
        const uint64_t jumpsBefore = vxtest::streamingCamera(m_camera).lagJumps();
        QElapsedTimer clock;
        clock.start();
        QVERIFY(recorder.recordingTime(1, file));
        QVERIFY(recorder.isRecording());
        QVERIFY(!recorder.recordingTime(1, path("second.raw")));
        QVERIFY(!recorder.startRecording(path("third.raw")));
        QTRY_VERIFY_WITH_TIMEOUT(!recorder.isRecording(), vxtest::scaled(5000));
        QVERIFY(clock.elapsed() >= 1000);

        QTRY_COMPARE(log.count("Recording end"), 1);
        QCOMPARE(log.count("Recording file ... "), 1);
        QCOMPARE(log.tips.first().path, file);
        QCOMPARE(log.count("Currently being recorded."), 1);
        QVERIFY(!QFile::exists(path("second.raw")));
        QVERIFY(!QFile::exists(path("third.raw")));
        const vxtest::FileSpan span = checkedRecording(file);
        QVERIFY(span.ok);
        if (vxtest::kRealTimeBuild) {
            QVERIFY2(span.hasEvents && span.seconds() < 1.9, qPrintable(QString::number(span.seconds())));
            // A camera starved by a loaded machine jumps ahead and leaves part of the second out.
            if (vxtest::streamingCamera(m_camera).lagJumps() == jumpsBefore)
                QVERIFY2(span.seconds() > 0.8, qPrintable(QString::number(span.seconds())));
        }
        QCOMPARE(vxtest::cameraLogText().count("recording end"), endsBefore + 1);
        QVERIFY(vxtest::cameraLogText().contains("recording start"));

        // Done: the next request is accepted again.
        QVERIFY(recorder.recordingTime(1, path("again.raw")));
        QVERIFY(recorder.stopRecording());
        QTRY_COMPARE(log.count("Recording end"), 2);
    }

    // stopRecording() and the destructor end a long recording at once, and
    // the file is finished either way.
    void earlyStopAndDestruction()
    {
        const int endsBefore = vxtest::cameraLogText().count("recording end");
        const QString stopped = path("stopped.raw");
        {
            VxFileRecorder recorder;
            recorder.setCamera(m_camera);
            QVERIFY(recorder.recordingTime(60, stopped));
            QTest::qWait(300);
            QElapsedTimer clock;
            clock.start();
            QVERIFY(recorder.stopRecording());
            QTRY_VERIFY_WITH_TIMEOUT(!recorder.isRecording(), vxtest::scaled(2000));
            QVERIFY(clock.elapsed() < vxtest::scaled(1000));
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
        QCOMPARE(vxtest::cameraLogText().count("recording end"), endsBefore + 2);
        QVERIFY(checkedRecording(stopped).ok);
        QVERIFY(checkedRecording(destroyed).ok);
    }

    // A camera that already records (a manual recording) is left alone.
    void cameraAlreadyRecording()
    {
        const QString manual = path("manual.raw");
        QVERIFY(m_camera->startRecording(manual.toLocal8Bit().toStdString()));
        VxFileRecorder recorder;
        TipLog log;
        log.watch(&recorder);
        recorder.setCamera(m_camera);
        QVERIFY(recorder.recordingTime(1, path("refused.raw")));
        QTRY_VERIFY(!recorder.isRecording());
        QTRY_COMPARE(log.count("Currently being recorded."), 1);
        QCOMPARE(log.count("Recording end"), 0);
        // Still recording: stopping it now succeeds.
        QVERIFY(m_camera->stopRecording());
        QVERIFY(checkedRecording(manual).ok);
    }
};

int main(int argc, char **argv)
{
    QTemporaryDir home;
    vxtest::useIsolatedHome(home.path().toStdString());
    QCoreApplication app(argc, argv);
    TstVxFileRecorder test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_vxfilerecorder.moc"
