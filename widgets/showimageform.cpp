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
    pixmap_ = QPixmap::fromImage(image);
    pixmapItem_->setPixmap(pixmap_);
}

void ShowImageForm::showPixMap(QPixmap *pixmap)
{
    if (!pixmap)
        return;
    pixmap_ = *pixmap;
    pixmapItem_->setPixmap(pixmap_);
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
        ui->graphicsView->fitInView(pixmapItem_, Qt::KeepAspectRatio);
}
