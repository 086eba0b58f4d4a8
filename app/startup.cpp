#include "app/startup.h"

#include <QApplication>
#include <QDebug>
#include <QFont>
#include <QFontDatabase>
#include <QTranslator>

bool registerApplicationFont(const QString &resourcePath)
{
    const int id = QFontDatabase::addApplicationFont(resourcePath);
    if (id == -1) {
        qDebug() << "Failed to load font!";
        return false;
    }
    const QStringList families = QFontDatabase::applicationFontFamilies(id);
    if (!families.isEmpty()) {
        QFont font(families.first(), -1, -1, false);
        font.setHintingPreference(QFont::PreferNoHinting);
        // QApplication's setter also drops the per-class fonts a desktop
        // theme installs (menus, tool tips, message boxes), so every widget
        // uses our font.
        QApplication::setFont(font);
    }
    return true;
}

QTranslator *loadLanguage(const QString &language)
{
    // Parented to the application so it lives exactly as long as the
    // translation is in use.
    auto *translator = new QTranslator(QCoreApplication::instance());
    const QString file = language == QLatin1String("zh") ? QStringLiteral(":/app_zh.qm")
                                                         : QStringLiteral(":/app_en.qm");
    if (!translator->load(file, QString(), QString(), QString())) {
        qDebug() << "Load language failed.";
        delete translator;
        return nullptr;
    }
    if (!QCoreApplication::installTranslator(translator)) {
        qDebug() << "install translator failed.";
        delete translator;
        return nullptr;
    }
    return translator;
}

QStringList filesFromArguments(const QStringList &arguments)
{
    QStringList files;
    bool optionsEnded = false;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &arg = arguments.at(i);
        if (!optionsEnded && arg == QLatin1String("--")) {
            optionsEnded = true;
        } else if (!optionsEnded && arg.startsWith(QLatin1Char('-')) && arg != QLatin1String("-")) {
            qWarning() << "Unknown option ignored:" << arg;
        } else {
            files.append(arg);
        }
    }
    return files;
}
