#include "widgets/vxgraphicsview.h"

#include <QMouseEvent>
#include <QtMath>
#include <QResizeEvent>
#include <QWheelEvent>

VxGraphicsView::VxGraphicsView(QWidget *parent)
    : QGraphicsView(parent)
{
    setDragMode(QGraphicsView::ScrollHandDrag);
    setResizeAnchor(QGraphicsView::NoAnchor);
    setTransformationAnchor(QGraphicsView::AnchorUnderMouse);
    setContentsMargins(0, 0, 0, 0);
    setStyleSheet(QStringLiteral("border: 0px;"));
}

double VxGraphicsView::zoom() const
{
    return qPow(kZoomStep, zoomSteps_);
}

void VxGraphicsView::fitToItem(const QGraphicsItem *item)
{
    zoomSteps_ = 0;
    fitInView(item, Qt::KeepAspectRatio);
}

void VxGraphicsView::mouseDoubleClickEvent(QMouseEvent *event)
{
    zoomSteps_ = 0;
    if (scene())
        fitInView(scene()->itemsBoundingRect(), Qt::KeepAspectRatio);
    QGraphicsView::mouseDoubleClickEvent(event);
}

void VxGraphicsView::wheelEvent(QWheelEvent *event)
{
    const int delta = event->angleDelta().y();
    if (delta > 0) {
        if (zoom() < maxZoom_) {
            scale(kZoomStep, kZoomStep);
            ++zoomSteps_;
        }
    } else if (delta < 0 && zoom() > minZoom_) {
        // A zero vertical delta (a sideways swipe, the end of a touchpad
        // gesture) asks for no zoom at all.
        scale(1.0 / kZoomStep, 1.0 / kZoomStep);
        --zoomSteps_;
    }
    // Wheel never scrolls.
    event->accept();
}

void VxGraphicsView::resizeEvent(QResizeEvent *event)
{
    zoomSteps_ = 0;
    QGraphicsView::resizeEvent(event);
}
