#pragma once

#include <QSlider>

// A slider that jumps straight to the clicked position instead of paging
// towards it; a press on the handle still drags it.
class VxSlider : public QSlider
{
    Q_OBJECT

public:
    explicit VxSlider(QWidget *parent = nullptr);
    explicit VxSlider(Qt::Orientation orientation, QWidget *parent = nullptr);

signals:
    // The value computed from the click position, before the range clamps it.
    void trackClicked(int value);

protected:
    void mousePressEvent(QMouseEvent *event) override;
};
