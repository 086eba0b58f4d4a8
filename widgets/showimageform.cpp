#include "widgets/showimageform.h"
#include "ui_showimageform.h"

#include <QGraphicsPixmapItem>
#include <QGraphicsScene>

ShowImageForm::ShowImageForm(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::ShowImageForm)
{
    ui->setupUi(this);
    ui->graphicsView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ui->graphicsView->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    scene_ = new QGraphicsScene(this);
    pixmap_ = QPixmap(initialWidth_, initialHeight_);
    pixmap_.fill(QColor("#707070"));
    pixmapItem_ = scene_->addPixmap(pixmap_);
    scene_->setSceneRect(pixmapItem_->boundingRect());
    ui->graphicsView->setScene(scene_);
}

ShowImageForm::~ShowImageForm()
{
    delete ui;
}

VxGraphicsView *ShowImageForm::view() const
{
    return ui->graphicsView;
}

void ShowImageForm::slotShowImage(QImage image)
{
    setPicture(QPixmap::fromImage(image));
}

void ShowImageForm::showPixMap(QPixmap *pixmap)
{
    if (!pixmap)
        return;
    setPicture(*pixmap);
}

void ShowImageForm::setPicture(const QPixmap &pixmap)
{
    const bool resized = pixmap.size() != pixmap_.size();
    pixmap_ = pixmap;
    pixmapItem_->setPixmap(pixmap_);
    if (resized) {
        // Another sensor size: the scene would otherwise keep the larger of the two
        // sizes, and the old fit would show the new picture too small or cut off.
        scene_->setSceneRect(pixmapItem_->boundingRect());
        fitToPixmap();
    }
}

void ShowImageForm::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    fitToPixmap();
}

void ShowImageForm::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    fitToPixmap();
}

void ShowImageForm::fitToPixmap()
{
    if (!pixmap_.isNull())
        ui->graphicsView->fitToItem(pixmapItem_);
}
