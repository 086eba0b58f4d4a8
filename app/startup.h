#pragma once

#include <QString>
#include <QStringList>

class QTranslator;

// Steps of program start-up that stand on their own.

// Registers the font at resourcePath and makes its first family the
// application font. False (after "Failed to load font!") when the font
// cannot be registered; Qt's default font stays in use.
bool registerApplicationFont(const QString &resourcePath);

// Installs the interface translation: ":/app_zh.qm" for "zh", ":/app_en.qm"
// for anything else. The translator is owned by the application object and
// stays installed for the rest of the run. Returns it, or nullptr when the
// file could not be loaded or installed (the English source texts show).
QTranslator *loadLanguage(const QString &language);

// The files named on the command line: every argument after the program
// name. Arguments starting with '-' are options, which the program has none
// of: they are reported and skipped, except after a "--", which ends options.
QStringList filesFromArguments(const QStringList &arguments);
