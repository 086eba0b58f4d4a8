#include "app/appsettings.h"

#include "app/vxutils.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <QVariant>


namespace {

// config.ini keys. They are the file format: spelled exactly as earlier
// versions wrote them, "tirgger" included.
const QString kOutputRawFilePathKey = QStringLiteral("Setting/output_raw_file_path");
const QString kInputRawFilePathKey = QStringLiteral("Setting/input_raw_file_path");
const QString kLanguageKey = QStringLiteral("Setting/language");
const QString kVideoSavePathKey = QStringLiteral("Setting/video_save_path");
const QString kTriggerInRecEnableKey = QStringLiteral("Setting/dvs_trigger_in_rec_enable");
const QString kTriggerInEdgeTypeKey = QStringLiteral("Setting/dvs_trigger_in_rec_edge_type");
const QString kBeforeTriggerInSaveTimeKey = QStringLiteral("Setting/dvs_before_tirgger_in_save_time");
const QString kAfterTriggerInSaveTimeKey = QStringLiteral("Setting/dvs_after_tirgger_in_save_time");
const QString kColorTypeKey = QStringLiteral("Setting/dvs_color_type");

const QString kDefaultLanguage = QStringLiteral("en");
const QString kDefaultEdgeType = QStringLiteral("Rising Edge");
const QString kDefaultColorType = QStringLiteral("Gray");

struct ColorScheme {
    const char *name;
    QRgb positive;
    QRgb negative;
    QRgb background;
};

const ColorScheme kColorSchemes[] = {
    {"Gray", qRgb(191, 188, 180), qRgb(64, 61, 51), qRgb(112, 112, 112)},
    {"Dark", qRgb(216, 223, 236), qRgb(64, 126, 201), qRgb(30, 37, 52)},
    {"RedBlue", qRgb(255, 0, 0), qRgb(0, 0, 255), qRgb(112, 112, 112)},
    {"RedGreen", qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(112, 112, 112)},
    {"Light", qRgb(0, 0, 0), qRgb(64, 126, 201), qRgb(255, 255, 255)},
};

// A hand-edited or damaged file may hold anything under a key: a list where
// a string belongs, text where a number belongs, a serialised variant of some
// other type. Each reader accepts only what the field can hold and reports
// anything else as absent, so the caller falls back to its default.

bool readString(const QSettings &settings, const QString &key, QString *out)
{
    const QVariant value = settings.value(key);
    if (value.typeId() != QMetaType::QString)
        return false;
    *out = value.toString();
    return true;
}

bool readBool(const QSettings &settings, const QString &key, bool *out)
{
    const QVariant value = settings.value(key);
    if (value.typeId() == QMetaType::Bool) {
        *out = value.toBool();
        return true;
    }
    if (value.typeId() != QMetaType::QString)
        return false;
    const QString text = value.toString().trimmed().toLower();
    if (text == QLatin1String("true") || text == QLatin1String("1")) {
        *out = true;
        return true;
    }
    if (text == QLatin1String("false") || text == QLatin1String("0")) {
        *out = false;
        return true;
    }
    return false;
}

bool readUInt(const QSettings &settings, const QString &key, uint32_t *out)
{
    const QVariant value = settings.value(key);
    switch (value.typeId()) {
    case QMetaType::QString:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        break;
    default:
        return false;
    }
    bool ok = false;
    const uint parsed = value.toString().trimmed().toUInt(&ok);
    if (!ok)
        return false;
    *out = parsed;
    return true;
}

QRgb toRgb(const QColor &color)
{
    return color.isValid() ? color.rgba() : qRgb(0, 0, 0);
}

} // namespace

AppSettings &AppSettings::instance()
{
    QCoreApplication::setApplicationName(QStringLiteral("VexadinView"));
    QCoreApplication::setOrganizationName(QStringLiteral("Vexadin"));
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    ensureDirExists(dir);
    // Function-local static: constructed once (thread-safe), destroyed at
    // process exit, when its destructor writes config.ini a last time.
    static AppSettings settings(dir + QStringLiteral("/config.ini"));
    settings.configDir = dir;
    return settings;
}

AppSettings::AppSettings(const QString &configFilePath)
{
    settings = new QSettings(configFilePath, QSettings::IniFormat);

    loadFolder(kOutputRawFilePathKey, FolderKind::Output, &outputRawFilePath);
    loadFolder(kInputRawFilePathKey, FolderKind::Input, &inputRawFilePath);

    if (!readString(*settings, kLanguageKey, &language)
        || (language != QLatin1String("en") && language != QLatin1String("zh")))
        language = kDefaultLanguage;

    loadFolder(kVideoSavePathKey, FolderKind::Video, &videoSavePath);

    // The trigger keys are written together; a file from before trigger-in
    // recording existed has none of them.
    if (settings->contains(kTriggerInRecEnableKey)) {
        if (!readBool(*settings, kTriggerInRecEnableKey, &triggerInRecEnable))
            triggerInRecEnable = false;
        if (!settings->contains(kTriggerInEdgeTypeKey))
            triggerInEdgeType.clear();
        else if (!readString(*settings, kTriggerInEdgeTypeKey, &triggerInEdgeType))
            triggerInEdgeType = kDefaultEdgeType;
        if (!readUInt(*settings, kBeforeTriggerInSaveTimeKey, &beforeTriggerInSaveTime))
            beforeTriggerInSaveTime = 0;
        if (!readUInt(*settings, kAfterTriggerInSaveTimeKey, &afterTriggerInSaveTime))
            afterTriggerInSaveTime = 0;
    } else {
        triggerInRecEnable = false;
        triggerInEdgeType = kDefaultEdgeType;
        beforeTriggerInSaveTime = 0;
        afterTriggerInSaveTime = 0;
    }

    if (!readString(*settings, kColorTypeKey, &colorType))
        colorType = kDefaultColorType;

    updateColors();
}

AppSettings::~AppSettings()
{
    save();
    delete settings;
}

void AppSettings::loadFolder(const QString &key, FolderKind kind, QString *field)
{
    QString path;
    readString(*settings, key, &path);
    if (!path.isEmpty() && QDir(path).exists()) {
        *field = path;
        return;
    }

    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (documents.isEmpty()) {
        // Keep whatever was stored: the other settings still load, so the
        // save at exit does not wipe them.
        if (kind == FolderKind::Input)
            qWarning() << "Unable to get documents location.";
        *field = path;
        return;
    }

    *field = documents + QStringLiteral("/VexadinData");
    // mkpath: on a fresh account the Documents folder itself may be missing.
    QDir dir(*field);
    if (!dir.exists() && !dir.mkpath(QStringLiteral(".")) && kind != FolderKind::Output)
        qDebug() << "Create raw file path failed.";
}

void AppSettings::save()
{
    updateColors();

    settings->setValue(kOutputRawFilePathKey, outputRawFilePath);
    settings->setValue(kInputRawFilePathKey, inputRawFilePath);
    settings->setValue(kLanguageKey, language);
    settings->setValue(kVideoSavePathKey, videoSavePath);
    settings->setValue(kTriggerInRecEnableKey, triggerInRecEnable);
    settings->setValue(kTriggerInEdgeTypeKey, triggerInEdgeType);
    settings->setValue(kBeforeTriggerInSaveTimeKey, beforeTriggerInSaveTime);
    settings->setValue(kAfterTriggerInSaveTimeKey, afterTriggerInSaveTime);
    settings->setValue(kColorTypeKey, colorType);
    settings->sync();
    qDebug() << "Write to config file.";
    // FormatError here only says the previous file was damaged; it has just
    // been rewritten. AccessError means nothing reached the disk.
    if (settings->status() == QSettings::AccessError)
        qWarning() << "Config file could not be written:" << settings->fileName();
}

void AppSettings::updateColors()
{
    std::lock_guard<std::mutex> lock(m_colorMutex);
    for (const ColorScheme &scheme : kColorSchemes) {
        if (colorType == QLatin1String(scheme.name)) {
            positiveColor = QColor::fromRgb(scheme.positive);
            negativeColor = QColor::fromRgb(scheme.negative);
            backgroundColor = QColor::fromRgb(scheme.background);
            break;
        }
    }
    m_eventColors = {toRgb(positiveColor), toRgb(negativeColor), toRgb(backgroundColor)};
}

AppSettings::EventColors AppSettings::eventColors() const
{
    std::lock_guard<std::mutex> lock(m_colorMutex);
    return m_eventColors;
}
