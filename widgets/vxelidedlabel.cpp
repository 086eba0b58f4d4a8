#include "widgets/vxelidedlabel.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOption>

VxElidedLabel::VxElidedLabel(QWidget *parent)
    : QLabel(parent)
{
    setSizePolicy(QSizePolicy::Preferred, sizePolicy().verticalPolicy());
}

QSize VxElidedLabel::minimumSizeHint() const
{
    // Room for a few characters; the rest is elided.
    const QSize hint = QLabel::minimumSizeHint();
    return QSize(qMin(hint.width(), fontMetrics().horizontalAdvance(QStringLiteral("Www...")) + 2 * margin()),
                 hint.height());
}

void VxElidedLabel::paintEvent(QPaintEvent *event)
{
    const QRect area = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    const QString shown = fontMetrics().elidedText(text(), Qt::ElideRight, area.width());
    if (shown == text()) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    QStyleOption opt;
    opt.initFrom(this);
    // Background and frame come from the style sheet as for a plain label.
    style()->drawPrimitive(QStyle::PE_Widget, &opt, &painter, this);
    style()->drawItemText(&painter, area, QStyle::visualAlignment(layoutDirection(), alignment()),
                          opt.palette, isEnabled(), shown, foregroundRole());
}
