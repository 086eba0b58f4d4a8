#pragma once

#include <QColor>
#include <QString>

#include <cstdint>
#include <mutex>

class QSettings;

// The three event colours as one consistent value, safe to read from any
// thread. An unset colour reads as opaque black.
struct EventColors {
    QRgb positive;
    QRgb negative;
    QRgb background;
};

// The application's settings, backed by config.ini (INI format, group
// "Setting") in the per-user application data directory.
//
// One process-wide instance, reached through instance() on the GUI thread.
// Fields are public and read/written directly on the GUI thread; there are no
// change signals, readers look at the fields when they need them. Changing
// colorType takes effect through save(), which re-derives the colours.
//
// Threads: the event colours are also needed by render threads while the GUI
// thread may run save()/updateColors(). Those threads must call
// eventColors(), which returns a consistent snapshot under a lock that
// updateColors() also takes; they must not read the QColor fields directly.
class AppSettings
{
public:
    using EventColors = ::EventColors;

    // Sets the application identity, makes sure the per-user data directory
    // exists, opens config.ini there on the first call, and keeps configDir
    // up to date. The instance saves itself once more when the process ends.
    static AppSettings &instance();

    // Loads every field from the INI file at configFilePath. The application
    // goes through instance(); a separate object is only useful for a
    // different file.
    explicit AppSettings(const QString &configFilePath);
    ~AppSettings();

    AppSettings(const AppSettings &) = delete;
    AppSettings &operator=(const AppSettings &) = delete;

    // Re-derives the colours, then writes every field to config.ini.
    void save();
    // Sets the three colours from colorType; an unknown name leaves them.
    void updateColors();

    EventColors eventColors() const;

    QString configDir;
    QString outputRawFilePath;
    QString inputRawFilePath;
    QString videoSavePath;
    QString language;
    bool triggerInRecEnable = false;
    QString triggerInEdgeType;
    uint32_t beforeTriggerInSaveTime = 0;
    uint32_t afterTriggerInSaveTime = 0;
    QString colorType;
    QColor positiveColor;
    QColor negativeColor;
    QColor backgroundColor;
    QSettings *settings = nullptr;

private:
    enum class FolderKind { Output, Input, Video };
    void loadFolder(const QString &key, FolderKind kind, QString *field);

    mutable std::mutex m_colorMutex;
    EventColors m_eventColors{0xff000000, 0xff000000, 0xff000000};
};
