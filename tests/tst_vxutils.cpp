#include "app/vxutils.h"
#include "app/workerthread.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>

#include "support/qtesttime.h"

class TstVxUtils : public QObject
{
    Q_OBJECT

private slots:
    void ensureDirExistsCreatesParents();
    void resolveDirectory();
    void isVersionAtLeast_data();
    void isVersionAtLeast();
    void versionMissingWarnsAboutTheOffendingText();
    void formatHms_data();
    void formatHms();
    void formatTimestampUs_data();
    void formatTimestampUs();
    void workerThreadRunsTaskOnItsOwnThread();
    void workerThreadWithoutTaskEmitsNothing();
    void destroyingRunningWorkerThreadWaitsForTask();
};

void TstVxUtils::ensureDirExistsCreatesParents()
{
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString nested = tmp.filePath("a/b/c");
    QVERIFY(ensureDirExists(nested));
    QVERIFY(QDir(nested).exists());
    QVERIFY(ensureDirExists(nested));

    // Below a regular file nothing can be created.
    QFile file(tmp.filePath("plain"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QVERIFY(!ensureDirExists(tmp.filePath("plain/sub")));
}

void TstVxUtils::resolveDirectory()
{
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString root = QDir(tmp.path()).absolutePath();
    QVERIFY(QDir().mkpath(root + "/rec"));
    QFile file(root + "/rec/a.raw");
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();

    QCOMPARE(::resolveDirectory(root + "/rec"), root + "/rec");
    QCOMPARE(::resolveDirectory(root + "/rec/a.raw"), root + "/rec");
    // A file that has not been written yet: its folder, as written.
    QCOMPARE(::resolveDirectory(root + "/rec/../rec/new.mp4"), root + "/rec/../rec");

    const QString missing = root + "/gone/x.raw";
    QTest::ignoreMessage(QtDebugMsg, qPrintable("Path does not exist: \"" + missing + "\""));
    QCOMPARE(::resolveDirectory(missing), QString());

#ifndef Q_OS_WIN
    // A backslash is part of the file name here, not a separator.
    QCOMPARE(::resolveDirectory(root + "/rec/new\\part.raw"), root + "/rec");
    QCOMPARE(::resolveDirectory(root + "/rec\\new.raw"), root);
#endif
    // A missing entry at the top level lies in the root folder.
    QCOMPARE(::resolveDirectory("/vx-no-such-entry-" + QString::number(QCoreApplication::applicationPid())), QString("/"));

    // An empty path must not resolve to the working directory.
    QTest::ignoreMessage(QtDebugMsg, "Path does not exist: \"\"");
    QCOMPARE(::resolveDirectory(QString()), QString());
}

void TstVxUtils::isVersionAtLeast_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<bool>("expected");
    QTest::newRow("longer and newer") << "Firmware V1.2.3" << "V1.2" << true;
    QTest::newRow("equal in text") << "fw V1.2.3 build 7" << "V1.2.3" << true;
    QTest::newRow("numeric not lexical") << "V1.9" << "V1.10" << false;
    QTest::newRow("numeric not lexical, reversed") << "V1.10" << "V1.9" << true;
    QTest::newRow("shorter is lower") << "V1.2" << "V1.2.0" << false;
    QTest::newRow("longer is higher") << "V1.2.0" << "V1.2" << true;
    QTest::newRow("major only") << "V2" << "V1.99.99" << true;
    QTest::newRow("fourth part ignored") << "V1.2.3.9" << "V1.2.4" << false;
    QTest::newRow("first match wins") << "V1.0 then V9.9" << "V2.0" << false;
}

void TstVxUtils::isVersionAtLeast()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(bool, expected);
    QCOMPARE(::isVersionAtLeast(a, b), expected);
}

void TstVxUtils::versionMissingWarnsAboutTheOffendingText()
{
    QTest::ignoreMessage(QtWarningMsg, "Cannot parse version from: \"1.2.3\"");
    QVERIFY(!::isVersionAtLeast("1.2.3", "V1.0"));
    QTest::ignoreMessage(QtWarningMsg, "Cannot parse version from: \"v1.0\"");
    QVERIFY(!::isVersionAtLeast("V9.9", "v1.0"));
}

void TstVxUtils::formatHms_data()
{
    QTest::addColumn<quint64>("seconds");
    QTest::addColumn<QString>("expected");
    QTest::newRow("zero") << quint64(0) << "00:00:00";
    QTest::newRow("3725") << quint64(3725) << "01:02:05";
    QTest::newRow("just under an hour") << quint64(3599) << "00:59:59";
    QTest::newRow("hundred hours") << quint64(360000) << "100:00:00";
    QTest::newRow("largest") << quint64(UINT64_MAX) << "5124095576030431:00:15";
}

void TstVxUtils::formatHms()
{
    QFETCH(quint64, seconds);
    QFETCH(QString, expected);
    QCOMPARE(QString::fromStdString(::formatHms(seconds)), expected);
}

void TstVxUtils::formatTimestampUs_data()
{
    QTest::addColumn<quint64>("us");
    QTest::addColumn<QString>("expected");
    QTest::newRow("zero") << quint64(0) << "00:00:000000";
    QTest::newRow("61 s 123 us") << quint64(61000123) << "01:01:000123";
    QTest::newRow("just under a second") << quint64(999999) << "00:00:999999";
    QTest::newRow("hour as minutes") << quint64(3600000000ULL) << "60:00:000000";
    QTest::newRow("two hours plus") << quint64(7261000001ULL) << "121:01:000001";
}

void TstVxUtils::formatTimestampUs()
{
    QFETCH(quint64, us);
    QFETCH(QString, expected);
    QCOMPARE(QString::fromStdString(::formatTimestampUs(us)), expected);
}

void TstVxUtils::workerThreadRunsTaskOnItsOwnThread()
{
    std::atomic<bool> ranElsewhere{false};
    std::atomic<bool> taskDone{false};
    std::atomic<int> completed{0};
    std::atomic<bool> completedAfterTask{false};
    QThread *const guiThread = QThread::currentThread();
    WorkerThread worker([&] {
        ranElsewhere = QThread::currentThread() != guiThread;
        taskDone = true;
    });
    connect(&worker, &WorkerThread::taskCompleted, &worker, [&] {
        completedAfterTask = taskDone.load();
        ++completed;
    }, Qt::DirectConnection);
    worker.start();
    QVERIFY(worker.wait(vxtest::scaled(5000)));
    QVERIFY(ranElsewhere.load());
    QCOMPARE(completed.load(), 1);
    QVERIFY(completedAfterTask.load());
}

void TstVxUtils::workerThreadWithoutTaskEmitsNothing()
{
    WorkerThread worker(nullptr);
    std::atomic<int> completed{0};
    connect(&worker, &WorkerThread::taskCompleted, &worker, [&] { ++completed; },
            Qt::DirectConnection);
    worker.start();
    QVERIFY(worker.wait(vxtest::scaled(5000)));
    QCOMPARE(completed.load(), 0);
}

void TstVxUtils::destroyingRunningWorkerThreadWaitsForTask()
{
    std::atomic<bool> release{false};
    std::atomic<bool> started{false};
    std::atomic<bool> finished{false};
    {
        WorkerThread worker([&] {
            started = true;
            while (!release.load())
                QThread::msleep(1);
            QThread::msleep(50);
            finished = true;
        });
        worker.start();
        QTRY_VERIFY(started.load());
        release = true;
        // Leaving the scope destroys the thread object mid-task.
    }
    QVERIFY(finished.load());
}

QTEST_GUILESS_MAIN(TstVxUtils)

#include "tst_vxutils.moc"
