#include "widgets/vxlineeditbase.h"

#include "widgets/vxstyle.h"

VxLineEditBase::VxLineEditBase(QWidget *parent)
    : QLineEdit(parent)
{
    setAlignment(Qt::AlignCenter);
    // The border must stay the first "border..." declaration: setBorderColor
    // edits the first match.
    setStyleSheet(QStringLiteral("font: 12px \"Noto Sans SC Medium\"; color: #555555; "
                                 "border: 1px solid #ACACAC; border-radius: 3px;"));
}

void VxLineEditBase::setBorderColor(const QString &color)
{
    setWidgetStyleProperty(this, QStringLiteral("border"),
                           QStringLiteral("border: 1px solid ") + color + QLatin1Char(';'));
}

void VxLineEditBase::focusInEvent(QFocusEvent *event)
{
    setBorderColor(QStringLiteral("#004B6A"));
    emit signalMouseHoverd(true);
    QLineEdit::focusInEvent(event);
}

void VxLineEditBase::focusOutEvent(QFocusEvent *event)
{
    setBorderColor(QStringLiteral("#ACACAC"));
    QLineEdit::focusOutEvent(event);
    emit signalMouseHoverd(false);
}
