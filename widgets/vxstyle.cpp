#include "widgets/vxstyle.h"

#include <QRegularExpression>
#include <QWidget>

namespace {

QString declarationFor(const QString &property, const QString &value)
{
    // "name:" at the start marks a complete declaration; a value such as
    // "url(:/img/x.svg)" has its colon only after a parenthesis.
    static const QRegularExpression fullDeclaration(QStringLiteral("^[A-Za-z-]+\\s*:"));
    QString text = value.trimmed();
    if (!fullDeclaration.match(text).hasMatch())
        text = property + QLatin1Char(':') + text;
    if (!text.endsWith(QLatin1Char(';')))
        text += QLatin1Char(';');
    return text;
}

} // namespace

QString setStyleProperty(const QString &sheet, const QString &property, const QString &value,
                         bool appendIfMissing)
{
    if (property.isEmpty())
        return sheet;

    const QString declaration = declarationFor(property, value);
    const QRegularExpression re(QStringLiteral("(\\b") + QRegularExpression::escape(property)
                                + QStringLiteral("[^;]*;)"));
    const QRegularExpressionMatch match = re.match(sheet);
    if (!match.hasMatch()) {
        if (!appendIfMissing)
            return sheet;
        return sheet.isEmpty() ? declaration : sheet + QLatin1Char(' ') + declaration;
    }

    QString result = sheet;
    result.replace(match.capturedStart(1), match.capturedLength(1), declaration);
    return result;
}

void setWidgetStyleProperty(QWidget *widget, const QString &property, const QString &value,
                            bool appendIfMissing)
{
    if (!widget)
        return;
    const QString sheet = setStyleProperty(widget->styleSheet(), property, value, appendIfMissing);
    if (sheet == widget->styleSheet())
        return;
    // Qt keeps the rules of an unpolished widget cached from its first sheet
    // and does not repolish on a change: an edit made before the first show
    // (in a constructor) would be lost without this.
    widget->ensurePolished();
    widget->setStyleSheet(sheet);
}

const char kVxPanelButtonStyle[] = R"(
QPushButton {
    border: none;
    border-radius: 10px;
    background: #004B6A;
    color: #FFFFFF;
    font: 10px "Noto Sans SC Medium";
}
QPushButton:hover {
    background: #004460;
}
QPushButton:pressed {
    background: #002D40;
}
)";
