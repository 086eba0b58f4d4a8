#include "app/appsettings.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <memory>
#include <random>
#include <thread>

namespace {

const QStringList kNineKeys = {
    "dvs_after_tirgger_in_save_time", "dvs_before_tirgger_in_save_time", "dvs_color_type",
    "dvs_trigger_in_rec_edge_type",   "dvs_trigger_in_rec_enable",       "input_raw_file_path",
    "language",                       "output_raw_file_path",            "video_save_path",
};

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

QString defaultFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) + "/VexadinData";
}

bool isKnownScheme(const EventColors &c)
{
    const EventColors schemes[] = {
        {qRgb(191, 188, 180), qRgb(64, 61, 51), qRgb(112, 112, 112)},
        {qRgb(216, 223, 236), qRgb(64, 126, 201), qRgb(30, 37, 52)},
        {qRgb(255, 0, 0), qRgb(0, 0, 255), qRgb(112, 112, 112)},
        {qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(112, 112, 112)},
        {qRgb(0, 0, 0), qRgb(64, 126, 201), qRgb(255, 255, 255)},
    };
    for (const EventColors &s : schemes) {
        if (s.positive == c.positive && s.negative == c.negative && s.background == c.background)
            return true;
    }
    return false;
}

} // namespace

class TstAppSettings : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void defaultsForMissingOrEmptyFile_data();
    void defaultsForMissingOrEmptyFile();
    void unknownLanguageLoadsAndSavesAsEnglish_data();
    void unknownLanguageLoadsAndSavesAsEnglish();
    void triggerKeysReadOnlyWhenEnablePresent();
    void colourSchemeNamesAreCaseSensitive();
    void colourChangeTakesEffectOnSave();
    void staleFolderReplacedExistingFolderKept();
    void saveWritesExactlyTheNineKeys();
    void destructorSaves();
    void wrongTypedValuesLoadDefaults();
    void damagedFilesLoadDefaultsAndAreRepaired();
    void unreadableFileLoadsDefaults();
    void instanceUsesPerUserDataFolder();
    void workersSeeConsistentColours();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_ini;
};

void TstAppSettings::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_ini = m_dir->filePath("config.ini");
    QDir(defaultFolder()).removeRecursively();
}

void TstAppSettings::cleanup()
{
    m_dir.reset();
}

void TstAppSettings::defaultsForMissingOrEmptyFile_data()
{
    QTest::addColumn<bool>("createEmpty");
    QTest::newRow("missing") << false;
    QTest::newRow("empty") << true;
}

void TstAppSettings::defaultsForMissingOrEmptyFile()
{
    QFETCH(bool, createEmpty);
    if (createEmpty)
        writeFile(m_ini, QByteArray());

    AppSettings s(m_ini);
    QCOMPARE(s.outputRawFilePath, defaultFolder());
    QCOMPARE(s.inputRawFilePath, defaultFolder());
    QCOMPARE(s.videoSavePath, defaultFolder());
    QVERIFY(QDir(defaultFolder()).exists());
    QCOMPARE(s.language, QString("en"));
    QCOMPARE(s.triggerInRecEnable, false);
    QCOMPARE(s.triggerInEdgeType, QString("Rising Edge"));
    QCOMPARE(s.beforeTriggerInSaveTime, 0u);
    QCOMPARE(s.afterTriggerInSaveTime, 0u);
    QCOMPARE(s.colorType, QString("Gray"));
    QCOMPARE(s.positiveColor, QColor(191, 188, 180));
    QCOMPARE(s.negativeColor, QColor(64, 61, 51));
    QCOMPARE(s.backgroundColor, QColor(112, 112, 112));
    const EventColors c = s.eventColors();
    QCOMPARE(c.positive, qRgb(191, 188, 180));
    QCOMPARE(c.negative, qRgb(64, 61, 51));
    QCOMPARE(c.background, qRgb(112, 112, 112));
}

void TstAppSettings::unknownLanguageLoadsAndSavesAsEnglish_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("loaded");
    QTest::newRow("de") << "de" << "en";
    QTest::newRow("upper case ZH") << "ZH" << "en";
    QTest::newRow("empty") << "" << "en";
    QTest::newRow("zh") << "zh" << "zh";
}

void TstAppSettings::unknownLanguageLoadsAndSavesAsEnglish()
{
    QFETCH(QString, stored);
    QFETCH(QString, loaded);
    writeFile(m_ini, "[Setting]\nlanguage=" + stored.toUtf8() + "\n");
    {
        AppSettings s(m_ini);
        QCOMPARE(s.language, loaded);
        s.save();
    }
    QCOMPARE(QSettings(m_ini, QSettings::IniFormat).value("Setting/language").toString(), loaded);
}

void TstAppSettings::triggerKeysReadOnlyWhenEnablePresent()
{
    // Enable present, the rest missing: the others read as empty / 0, not as
    // the defaults used when the whole group is absent.
    writeFile(m_ini, "[Setting]\ndvs_trigger_in_rec_enable=true\n");
    {
        AppSettings s(m_ini);
        QCOMPARE(s.triggerInRecEnable, true);
        QCOMPARE(s.triggerInEdgeType, QString());
        QCOMPARE(s.beforeTriggerInSaveTime, 0u);
        QCOMPARE(s.afterTriggerInSaveTime, 0u);
    }

    // Without the enable key the other three are ignored.
    writeFile(m_ini, "[Setting]\ndvs_trigger_in_rec_edge_type=Falling Edge\n"
                     "dvs_before_tirgger_in_save_time=5\ndvs_after_tirgger_in_save_time=7\n");
    {
        AppSettings s(m_ini);
        QCOMPARE(s.triggerInRecEnable, false);
        QCOMPARE(s.triggerInEdgeType, QString("Rising Edge"));
        QCOMPARE(s.beforeTriggerInSaveTime, 0u);
        QCOMPARE(s.afterTriggerInSaveTime, 0u);
    }

    writeFile(m_ini, "[Setting]\ndvs_trigger_in_rec_enable=false\n"
                     "dvs_trigger_in_rec_edge_type=Falling Edge\n"
                     "dvs_before_tirgger_in_save_time=5\ndvs_after_tirgger_in_save_time=4294967295\n");
    AppSettings s(m_ini);
    QCOMPARE(s.triggerInRecEnable, false);
    QCOMPARE(s.triggerInEdgeType, QString("Falling Edge"));
    QCOMPARE(s.beforeTriggerInSaveTime, 5u);
    QCOMPARE(s.afterTriggerInSaveTime, 4294967295u);
}

void TstAppSettings::colourSchemeNamesAreCaseSensitive()
{
    writeFile(m_ini, "[Setting]\ndvs_color_type=gray\n");
    AppSettings s(m_ini);
    QCOMPARE(s.colorType, QString("gray"));
    QVERIFY(!s.positiveColor.isValid());
    QVERIFY(!s.negativeColor.isValid());
    QVERIFY(!s.backgroundColor.isValid());
    // Unset colours draw as opaque black.
    const EventColors c = s.eventColors();
    QCOMPARE(c.positive, qRgb(0, 0, 0));
    QCOMPARE(c.negative, qRgb(0, 0, 0));
    QCOMPARE(c.background, qRgb(0, 0, 0));

    // An unknown name later on keeps whatever colours were in effect.
    s.colorType = "RedGreen";
    s.updateColors();
    s.colorType = "Purple";
    s.updateColors();
    QCOMPARE(s.positiveColor, QColor(255, 0, 0));
    QCOMPARE(s.negativeColor, QColor(0, 255, 0));
    QCOMPARE(s.eventColors().background, qRgb(112, 112, 112));
}

void TstAppSettings::colourChangeTakesEffectOnSave()
{
    AppSettings s(m_ini);
    s.colorType = "Dark";
    QCOMPARE(s.eventColors().positive, qRgb(191, 188, 180));
    s.save();
    const EventColors c = s.eventColors();
    QCOMPARE(c.positive, qRgb(216, 223, 236));
    QCOMPARE(c.negative, qRgb(64, 126, 201));
    QCOMPARE(c.background, qRgb(30, 37, 52));
    QCOMPARE(s.backgroundColor, QColor(30, 37, 52));
    QCOMPARE(qAlpha(c.background), 255);

    s.colorType = "Light";
    s.save();
    QCOMPARE(s.eventColors().positive, qRgb(0, 0, 0));
    QCOMPARE(s.eventColors().background, qRgb(255, 255, 255));
}

void TstAppSettings::staleFolderReplacedExistingFolderKept()
{
    const QString existing = m_dir->filePath("recordings");
    QVERIFY(QDir().mkpath(existing));
    const QString gone = m_dir->filePath("no/such/folder");
    writeFile(m_ini, "[Setting]\noutput_raw_file_path=" + existing.toUtf8()
                         + "\ninput_raw_file_path=" + gone.toUtf8() + "\nvideo_save_path=\n");
    {
        AppSettings s(m_ini);
        QCOMPARE(s.outputRawFilePath, existing);
        QCOMPARE(s.inputRawFilePath, defaultFolder());
        QCOMPARE(s.videoSavePath, defaultFolder());
        QVERIFY(!QDir(gone).exists());
    }
    // The stale value is overwritten by the save at destruction.
    QCOMPARE(QSettings(m_ini, QSettings::IniFormat).value("Setting/input_raw_file_path").toString(),
             defaultFolder());
}

void TstAppSettings::saveWritesExactlyTheNineKeys()
{
    const QString folder = m_dir->filePath("out, with comma");
    QVERIFY(QDir().mkpath(folder));
    {
        AppSettings s(m_ini);
        s.outputRawFilePath = folder;
        s.inputRawFilePath = folder;
        s.videoSavePath = folder;
        s.language = "zh";
        s.triggerInRecEnable = true;
        s.triggerInEdgeType = "Falling Edge";
        s.beforeTriggerInSaveTime = 3;
        s.afterTriggerInSaveTime = 12;
        s.colorType = "RedBlue";
        QTest::ignoreMessage(QtDebugMsg, "Write to config file.");
        s.save();

        QSettings file(m_ini, QSettings::IniFormat);
        QCOMPARE(file.childGroups(), QStringList{"Setting"});
        file.beginGroup("Setting");
        QStringList keys = file.childKeys();
        keys.sort();
        QCOMPARE(keys, kNineKeys);
        QCOMPARE(file.value("output_raw_file_path").toString(), folder);
        QCOMPARE(file.value("dvs_trigger_in_rec_enable").toString(), QString("true"));
        QCOMPARE(file.value("dvs_before_tirgger_in_save_time").toString(), QString("3"));
        QCOMPARE(file.value("dvs_after_tirgger_in_save_time").toString(), QString("12"));
        QCOMPARE(file.value("dvs_color_type").toString(), QString("RedBlue"));
    }

    // Everything written reads back unchanged.
    AppSettings again(m_ini);
    QCOMPARE(again.outputRawFilePath, folder);
    QCOMPARE(again.inputRawFilePath, folder);
    QCOMPARE(again.videoSavePath, folder);
    QCOMPARE(again.language, QString("zh"));
    QCOMPARE(again.triggerInRecEnable, true);
    QCOMPARE(again.triggerInEdgeType, QString("Falling Edge"));
    QCOMPARE(again.beforeTriggerInSaveTime, 3u);
    QCOMPARE(again.afterTriggerInSaveTime, 12u);
    QCOMPARE(again.colorType, QString("RedBlue"));
    QCOMPARE(again.negativeColor, QColor(0, 0, 255));
}

void TstAppSettings::destructorSaves()
{
    {
        AppSettings s(m_ini);
        s.language = "zh";
        s.afterTriggerInSaveTime = 9;
    }
    QSettings file(m_ini, QSettings::IniFormat);
    QCOMPARE(file.value("Setting/language").toString(), QString("zh"));
    QCOMPARE(file.value("Setting/dvs_after_tirgger_in_save_time").toString(), QString("9"));
}

void TstAppSettings::wrongTypedValuesLoadDefaults()
{
    writeFile(m_ini, "[Setting]\n"
                     "output_raw_file_path=a, b\n"
                     "input_raw_file_path=@Variant(\\0\\0\\0\\x2\\0\\0\\0\\x5)\n"
                     "language=zh, en\n"
                     "video_save_path=@ByteArray(/tmp)\n"
                     "dvs_trigger_in_rec_enable=maybe\n"
                     "dvs_trigger_in_rec_edge_type=Rising Edge, Falling Edge\n"
                     "dvs_before_tirgger_in_save_time=abc\n"
                     "dvs_after_tirgger_in_save_time=-5\n"
                     "dvs_color_type=Dark, Light\n");
    AppSettings s(m_ini);
    QCOMPARE(s.outputRawFilePath, defaultFolder());
    QCOMPARE(s.inputRawFilePath, defaultFolder());
    QCOMPARE(s.videoSavePath, defaultFolder());
    QCOMPARE(s.language, QString("en"));
    QCOMPARE(s.triggerInRecEnable, false);
    QCOMPARE(s.triggerInEdgeType, QString("Rising Edge"));
    QCOMPARE(s.beforeTriggerInSaveTime, 0u);
    QCOMPARE(s.afterTriggerInSaveTime, 0u);
    QCOMPARE(s.colorType, QString("Gray"));
    QCOMPARE(s.eventColors().positive, qRgb(191, 188, 180));

    // Times too large for 32 bits are wrong values too.
    writeFile(m_ini, "[Setting]\ndvs_trigger_in_rec_enable=1\n"
                     "dvs_before_tirgger_in_save_time=4294967296\n"
                     "dvs_after_tirgger_in_save_time= 42 \n");
    AppSettings t(m_ini);
    QCOMPARE(t.triggerInRecEnable, true);
    QCOMPARE(t.beforeTriggerInSaveTime, 0u);
    QCOMPARE(t.afterTriggerInSaveTime, 42u);
}

void TstAppSettings::damagedFilesLoadDefaultsAndAreRepaired()
{
    // A well-formed file with non-default values, cut short at many points,
    // and files of random bytes: loading never crashes, every field holds a
    // usable value, and the next save leaves a file that reads back the same.
    QByteArray good = "[Setting]\n"
                      "dvs_after_tirgger_in_save_time=7\n"
                      "dvs_before_tirgger_in_save_time=3\n"
                      "dvs_color_type=Dark\n"
                      "dvs_trigger_in_rec_edge_type=Falling Edge\n"
                      "dvs_trigger_in_rec_enable=true\n"
                      "language=zh\n";
    QList<QByteArray> samples;
    for (int cut = 0; cut < good.size(); cut += 5)
        samples << good.left(cut);
    std::mt19937 rng(20260101);
    for (int i = 0; i < 24; ++i) {
        QByteArray noise(int(rng() % 2048), Qt::Uninitialized);
        for (char &ch : noise)
            ch = char(rng());
        // Half of them look like an INI file that went bad halfway.
        samples << (i % 2 ? noise : good.left(int(rng() % good.size())) + noise);
    }

    for (const QByteArray &bytes : std::as_const(samples)) {
        writeFile(m_ini, bytes);
        QString language;
        {
            AppSettings s(m_ini);
            QVERIFY(s.language == "en" || s.language == "zh");
            QVERIFY(QDir(s.outputRawFilePath).exists());
            QVERIFY(QDir(s.inputRawFilePath).exists());
            QVERIFY(QDir(s.videoSavePath).exists());
            language = s.language;
            s.save();
        }
        AppSettings reread(m_ini);
        QCOMPARE(reread.language, language);
    }
}

void TstAppSettings::unreadableFileLoadsDefaults()
{
    // A folder where the file should be: nothing can be read or written.
    QVERIFY(QDir().mkpath(m_ini));
    AppSettings s(m_ini);
    QCOMPARE(s.language, QString("en"));
    QCOMPARE(s.colorType, QString("Gray"));
    s.save();
    QVERIFY(QFileInfo(m_ini).isDir());
}

void TstAppSettings::instanceUsesPerUserDataFolder()
{
    AppSettings &s = AppSettings::instance();
    QCOMPARE(QCoreApplication::applicationName(), QString("VexadinView"));
    QCOMPARE(QCoreApplication::organizationName(), QString("Vexadin"));
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QVERIFY(dir.startsWith(QDir::homePath()));
    QCOMPARE(s.configDir, dir);
    QVERIFY(QDir(dir).exists());
    QCOMPARE(s.settings->fileName(), dir + "/config.ini");
    QCOMPARE(&AppSettings::instance(), &s);
}

void TstAppSettings::workersSeeConsistentColours()
{
    AppSettings s(m_ini);
    std::atomic<bool> stop{false};
    std::atomic<int> mixed{0};
    std::atomic<int> reads{0};
    std::thread reader([&] {
        while (!stop.load()) {
            if (!isKnownScheme(s.eventColors()))
                ++mixed;
            ++reads;
        }
    });
    const char *names[] = {"Gray", "Dark", "RedBlue", "RedGreen", "Light"};
    for (int i = 0; i < 20000 || reads.load() < 1000; ++i) {
        s.colorType = names[i % 5];
        s.updateColors();
    }
    stop = true;
    reader.join();
    QCOMPARE(mixed.load(), 0);
}

// HOME points at a throw-away folder for the whole run: the default
// recording folder (under Documents) and the test-mode data folder both
// derive from it, so no real user file is touched. The folder is a static
// created before the settings singleton, so it outlives that singleton's
// final save at exit.
int main(int argc, char **argv)
{
    static QTemporaryDir home;
    if (!home.isValid())
        return 1;
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (home.path() + "/.config").toLocal8Bit());
    qputenv("XDG_DATA_HOME", (home.path() + "/.local/share").toLocal8Bit());
    qunsetenv("XDG_DOCUMENTS_DIR");
    QStandardPaths::setTestModeEnabled(true);
    QApplication app(argc, argv);
    TstAppSettings tc;
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_appsettings.moc"
