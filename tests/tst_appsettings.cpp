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

const EventColors kGray{qRgb(191, 188, 180), qRgb(64, 61, 51), qRgb(112, 112, 112)};
const EventColors kDark{qRgb(216, 223, 236), qRgb(64, 126, 201), qRgb(30, 37, 52)};
const EventColors kRedBlue{qRgb(255, 0, 0), qRgb(0, 0, 255), qRgb(112, 112, 112)};
const EventColors kRedGreen{qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(112, 112, 112)};
const EventColors kLight{qRgb(0, 0, 0), qRgb(64, 126, 201), qRgb(255, 255, 255)};
const EventColors kBlack{qRgb(0, 0, 0), qRgb(0, 0, 0), qRgb(0, 0, 0)};

bool operator==(const EventColors &a, const EventColors &b)
{
    return a.positive == b.positive && a.negative == b.negative && a.background == b.background;
}

bool isKnownScheme(const EventColors &c)
{
    for (const EventColors &scheme : {kGray, kDark, kRedBlue, kRedGreen, kLight}) {
        if (scheme == c)
            return true;
    }
    return false;
}

// Collects the diagnostic lines written while it exists.
class MessageCapture
{
public:
    MessageCapture()
    {
        s_lines.clear();
        m_previous = qInstallMessageHandler(&MessageCapture::handle);
    }
    ~MessageCapture() { qInstallMessageHandler(m_previous); }
    QStringList lines() const { return s_lines; }

private:
    static void handle(QtMsgType, const QMessageLogContext &, const QString &text) { s_lines << text; }
    static inline QStringList s_lines;
    QtMessageHandler m_previous;
};

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
    void colourSchemesFollowNameExactlyOnSave();
    void staleFolderReplacedExistingFolderKept();
    void destructorWritesExactlyTheNineKeys();
    void wrongTypedValuesLoadDefaults();
    void damagedFilesLoadDefaultsAndAreRepaired();
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
    QTest::addColumn<QByteArray>("contents");
    QTest::newRow("missing") << QByteArray();
    QTest::newRow("empty") << QByteArray("");
}

void TstAppSettings::defaultsForMissingOrEmptyFile()
{
    QFETCH(QByteArray, contents);
    if (!contents.isNull())
        writeFile(m_ini, contents);

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
    QVERIFY(s.eventColors() == kGray);
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
    }
    QCOMPARE(QSettings(m_ini, QSettings::IniFormat).value("Setting/language").toString(), loaded);
}

void TstAppSettings::triggerKeysReadOnlyWhenEnablePresent()
{
    // Enable present, the rest missing: they read as empty / 0, not as the
    // defaults used when the whole group is absent.
    writeFile(m_ini, "[Setting]\ndvs_trigger_in_rec_enable=true\n");
    {
        AppSettings s(m_ini);
        QCOMPARE(s.triggerInRecEnable, true);
        QCOMPARE(s.triggerInEdgeType, QString());
        QCOMPARE(s.afterTriggerInSaveTime, 0u);
    }

    // Without the enable key the other three are ignored.
    writeFile(m_ini, "[Setting]\ndvs_trigger_in_rec_edge_type=Falling Edge\n"
                     "dvs_before_tirgger_in_save_time=5\n");
    AppSettings s(m_ini);
    QCOMPARE(s.triggerInRecEnable, false);
    QCOMPARE(s.triggerInEdgeType, QString("Rising Edge"));
    QCOMPARE(s.beforeTriggerInSaveTime, 0u);
}

void TstAppSettings::colourSchemesFollowNameExactlyOnSave()
{
    writeFile(m_ini, "[Setting]\ndvs_color_type=gray\n");
    AppSettings s(m_ini);
    // Names are case-sensitive: "gray" selects nothing and unset colours
    // draw as opaque black.
    QCOMPARE(s.colorType, QString("gray"));
    QVERIFY(!s.positiveColor.isValid());
    QVERIFY(s.eventColors() == kBlack);

    // A new name takes effect at the next save, not before.
    s.colorType = "Dark";
    QVERIFY(s.eventColors() == kBlack);
    s.save();
    QVERIFY(s.eventColors() == kDark);
    QCOMPARE(s.backgroundColor, QColor(30, 37, 52));

    // An unknown name keeps the colours in effect.
    s.colorType = "Purple";
    s.save();
    QVERIFY(s.eventColors() == kDark);
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
    QCOMPARE(QSettings(m_ini, QSettings::IniFormat).value("Setting/input_raw_file_path").toString(),
             defaultFolder());
}

void TstAppSettings::destructorWritesExactlyTheNineKeys()
{
    // Values set in memory and never saved explicitly still reach the file.
    const QString folder = m_dir->filePath("out, with comma");
    QVERIFY(QDir().mkpath(folder));
    {
        AppSettings s(m_ini);
        s.outputRawFilePath = s.inputRawFilePath = s.videoSavePath = folder;
        s.language = "zh";
        s.triggerInRecEnable = true;
        s.triggerInEdgeType = "Falling Edge";
        s.beforeTriggerInSaveTime = 3;
        s.afterTriggerInSaveTime = 4294967295u;
        s.colorType = "RedBlue";
        QTest::ignoreMessage(QtDebugMsg, "Write to config file.");
    }

    QSettings file(m_ini, QSettings::IniFormat);
    QCOMPARE(file.childGroups(), QStringList{"Setting"});
    file.beginGroup("Setting");
    QStringList keys = file.childKeys();
    keys.sort();
    QCOMPARE(keys, kNineKeys);
    QCOMPARE(file.value("dvs_trigger_in_rec_enable").toString(), QString("true"));
    QCOMPARE(file.value("dvs_before_tirgger_in_save_time").toString(), QString("3"));

    AppSettings again(m_ini);
    QCOMPARE(again.outputRawFilePath, folder);
    QCOMPARE(again.videoSavePath, folder);
    QCOMPARE(again.language, QString("zh"));
    QCOMPARE(again.triggerInRecEnable, true);
    QCOMPARE(again.triggerInEdgeType, QString("Falling Edge"));
    QCOMPARE(again.afterTriggerInSaveTime, 4294967295u);
    QVERIFY(again.eventColors() == kRedBlue);
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

    // Times beyond 32 bits are wrong values too; blanks around a number are not.
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
    // A good file cut short at many points, random bytes, and a folder in the
    // file's place: loading never crashes, every field is usable, and what
    // the next save writes reads back the same.
    const QByteArray good = "[Setting]\ndvs_after_tirgger_in_save_time=7\n"
                            "dvs_color_type=Dark\ndvs_trigger_in_rec_enable=true\nlanguage=zh\n";
    QList<QByteArray> samples;
    for (int cut = 0; cut < good.size(); cut += 5)
        samples << good.left(cut);
    std::mt19937 rng(20260101);
    for (int i = 0; i < 24; ++i) {
        QByteArray noise(int(rng() % 2048), Qt::Uninitialized);
        for (char &ch : noise)
            ch = char(rng());
        samples << (i % 2 ? noise : good.left(int(rng() % good.size())) + noise);
    }

    for (const QByteArray &bytes : std::as_const(samples)) {
        writeFile(m_ini, bytes);
        QString language;
        {
            MessageCapture capture;
            AppSettings s(m_ini);
            // A damaged file is no news at load: the defaults simply apply.
            QCOMPARE(capture.lines(), QStringList());
            QVERIFY(s.language == "en" || s.language == "zh");
            QVERIFY(QDir(s.inputRawFilePath).exists());
            language = s.language;
        }
        QCOMPARE(AppSettings(m_ini).language, language);
    }

    QFile::remove(m_ini);
    QVERIFY(QDir().mkpath(m_ini));
    AppSettings s(m_ini);
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
    // A render thread must never see a mix of two schemes.
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
