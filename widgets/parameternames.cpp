#include "widgets/parameternames.h"

QString toParameterLabel(const QString &name)
{
    QString label;
    label.reserve(name.size());
    bool wordStart = true;
    for (const QChar c : name) {
        if (c.isSpace() || c == QLatin1Char('_')) {
            wordStart = true;
            label += c;
        } else if (c.isLetter() && wordStart) {
            label += c.toUpper();
            wordStart = false;
        } else {
            // Digits and other marks neither start nor end a word, which is
            // why "2nd" becomes "2Nd".
            label += c;
        }
    }
    label.replace(QLatin1Char('_'), QLatin1Char(' '));
    return label;
}

QString toParameterName(const QString &label)
{
    QString name = label.toLower();
    name.replace(QLatin1Char(' '), QLatin1Char('_'));
    return name;
}
