#pragma once

#include <QGraphicsView>

// The view of the image area: wheel zoom about the mouse within limits,
// panning by dragging, double-click back to the fitted picture.
//
// `zoom` is the product of the wheel steps since the last fit; a resize or
// a double-click starts over at 1.0 (the owner refits at the same time).
class VxGraphicsView : public QGraphicsView
{
    Q_OBJECT

public:
    explicit VxGraphicsView(QWidget *parent = nullptr);

    double zoom() const;
    // Fits the item into the view, aspect ratio kept, and starts the zoom over.
    void fitToItem(const QGraphicsItem *item);
    double minZoom() const { return minZoom_; }
    double maxZoom() const { return maxZoom_; }

    static constexpr double kZoomStep = 1.1;

protected:
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    // Zoom is kept as a whole number of steps so that going in and out the
    // same number of times lands exactly on the fitted scale again.
    int zoomSteps_ = 0;
    double minZoom_ = 1.0;
    double maxZoom_ = 50.0;
};
