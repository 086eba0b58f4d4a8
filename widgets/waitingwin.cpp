#include "widgets/waitingwin.h"
#include "ui_waitingwin.h"

#include <QDebug>
#include <QGuiApplication>
#include <QMovie>
#include <QScreen>

WaitingWin::WaitingWin(QWidget *anchor)
    : QDialog(anchor)
    , ui(new Ui::WaitingWin)
    , anchor_(anchor)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_TranslucentBackground);
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    movie_ = new QMovie(QStringLiteral(":/img/icon/waiting.gif"));
    ui->label_waiting->setScaledContents(true);
    ui->label_waiting->setStyleSheet(QStringLiteral("background: transparent;"));
    setStyleSheet(QStringLiteral("background: transparent;"));
}

WaitingWin::~WaitingWin()
{
    movie_->stop();
    delete movie_;
    delete ui;
}

void WaitingWin::centreOverAnchor()
{
    QRect area;
    if (anchor_)
        area = QRect(anchor_->mapToGlobal(QPoint(0, 0)), anchor_->size());
    else if (QScreen *screen = QGuiApplication::primaryScreen())
        area = screen->availableGeometry(); // no anchor: the middle of the screen
    else
        return;
    move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
}

void WaitingWin::showEvent(QShowEvent *event)
{
    centreOverAnchor();
    if (movie_->isValid()) {
        ui->label_waiting->setMovie(movie_);
        movie_->start();
    } else {
        qWarning() << "GIF is not valid or not found";
    }
    QDialog::showEvent(event);
}

void WaitingWin::closeEvent(QCloseEvent *event)
{
    movie_->stop();
    QDialog::closeEvent(event);
}

void WaitingWin::hideEvent(QHideEvent *event)
{
    movie_->stop();
    QDialog::hideEvent(event);
}

void WaitingWin::recentre()
{
    if (isVisible())
        centreOverAnchor();
}
