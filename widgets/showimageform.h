#pragma once

#include <QPixmap>
#include <QWidget>

class QGraphicsPixmapItem;
class QGraphicsScene;
class VxGraphicsView;

namespace Ui {
class ShowImageForm;
}

// The image area of the main window: shows the current frame fitted to the
// available space (aspect ratio kept) in a VxGraphicsView that zooms and pans.
// New frames of the same size keep the current zoom and visible part; showing
// and resizing the form, and a frame of another size (another sensor), refit
// the picture.
class ShowImageForm : public QWidget
{
    Q_OBJECT

public:
    explicit ShowImageForm(QWidget *parent = nullptr);
    ~ShowImageForm() override;

    VxGraphicsView *view() const;
    const QPixmap &pixmap() const { return pixmap_; }

public slots:
    void slotShowImage(QImage image);
    void showPixMap(QPixmap *pixmap);

protected:
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void setPicture(const QPixmap &pixmap);
    void fitToPixmap();

    Ui::ShowImageForm *ui;
    QGraphicsScene *scene_ = nullptr;
    QGraphicsPixmapItem *pixmapItem_ = nullptr;
    QPixmap pixmap_;
    int initialWidth_ = 1280;
    int initialHeight_ = 720;
};
