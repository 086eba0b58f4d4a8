#include "widgets/vxslider.h"

#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionSlider>

VxSlider::VxSlider(QWidget *parent)
    : QSlider(parent)
{
}

VxSlider::VxSlider(Qt::Orientation orientation, QWidget *parent)
    : QSlider(orientation, parent)
{
}

void VxSlider::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QSlider::mousePressEvent(event);
        return;
    }

    QStyleOptionSlider opt;
    initStyleOption(&opt);
    const QRect handle = style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, this);
    const QPointF pos = event->position();

    const bool horizontal = orientation() == Qt::Horizontal;
    const double handleLength = horizontal ? handle.width() : handle.height();
    const double length = horizontal ? width() : height();
    const double click = horizontal ? pos.x() : pos.y();

    // The handle centre travels from L/2 to W - L/2; map the click onto that
    // span. A widget no longer than its handle has no span to map onto.
    const double span = length - handleLength;
    double value = minimum();
    if (span > 0)
        value += (double(maximum()) - double(minimum())) * (click - handleLength * 0.5) / span;
    const int clicked = static_cast<int>(qBound(-2147483648.0, value, 2147483647.0));

    setValue(clicked);
    emit trackClicked(clicked);

    if (!handle.contains(pos.toPoint())) {
        event->accept();
        return;
    }
    QSlider::mousePressEvent(event);
}
