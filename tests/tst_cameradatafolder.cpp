// The camera library finds the application data folder without Qt (for its log
// and the cameras folder); it must be the very folder the settings store uses.
#include "driver/datafolders.h"

#include <QCoreApplication>
#include <QStandardPaths>
#include <QTest>

#include <cstdlib>

class TestCameraDataFolder : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // As AppSettings::instance() names the program.
        QCoreApplication::setApplicationName(QStringLiteral("VexadinView"));
        QCoreApplication::setOrganizationName(QStringLiteral("Vexadin"));
        m_saved = qgetenv("XDG_DATA_HOME");
        m_had = qEnvironmentVariableIsSet("XDG_DATA_HOME");
    }
    void cleanupTestCase()
    {
        if (m_had)
            qputenv("XDG_DATA_HOME", m_saved);
        else
            qunsetenv("XDG_DATA_HOME");
        qunsetenv("VEXADIN_CAMERA_DIR");
    }

    void sameAsTheSettingsStore_data()
    {
        QTest::addColumn<QByteArray>("xdgDataHome"); // "-" = unset
        QTest::newRow("unset") << QByteArray("-");
        QTest::newRow("empty") << QByteArray("");
        QTest::newRow("absolute") << QByteArray("/tmp/vx-data-home");
        QTest::newRow("trailing slash") << QByteArray("/tmp/vx-data-home/");
        QTest::newRow("relative") << QByteArray("relative/data");
    }
    void sameAsTheSettingsStore()
    {
        QFETCH(QByteArray, xdgDataHome);
        if (xdgDataHome == "-")
            qunsetenv("XDG_DATA_HOME");
        else
            qputenv("XDG_DATA_HOME", xdgDataHome);
        const QString qt = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        QCOMPARE(QString::fromStdString(vexadin::applicationDataFolder()), qt);

        qunsetenv("VEXADIN_CAMERA_DIR");
        QCOMPARE(QString::fromStdString(vexadin::cameraFolder()), qt + QStringLiteral("/cameras"));
        qputenv("VEXADIN_CAMERA_DIR", "/somewhere/else");
        QCOMPARE(QString::fromStdString(vexadin::cameraFolder()), QStringLiteral("/somewhere/else"));
    }

private:
    QByteArray m_saved;
    bool m_had = false;
};

QTEST_GUILESS_MAIN(TestCameraDataFolder)
#include "tst_cameradatafolder.moc"
