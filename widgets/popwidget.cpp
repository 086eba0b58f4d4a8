#include "widgets/popwidget.h"
#include "ui_popwidget.h"

PopWidget::PopWidget(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::PopWidget)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_TranslucentBackground);
}

PopWidget::~PopWidget()
{
    delete ui;
}

void PopWidget::addContentWidget(QWidget *widget)
{
    if (widget)
        ui->verticalLayout->addWidget(widget);
}
