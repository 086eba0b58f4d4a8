#include "widgets/waitingwin.h"
#include "ui_waitingwin.h"

#include <QDebug>
#include <QGuiApplication>
#include <QHideEvent>
#include <QMovie>
#include <QScreen>

#include <algorithm>
#include <cmath>

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
    leaveProgressMode();
    connect(ui->pb_cancel, &QPushButton::clicked, this, [this] {
        ui->pb_cancel->setEnabled(false); // the work needs a moment to stop: one request is enough
        emit cancelRequested();
    });
}

void WaitingWin::setProgress(double fraction)
{
    if (!(fraction >= 0.0))
        fraction = 0.0;
    const int percent = int(std::floor(std::min(fraction, 1.0) * 100.0));
    ui->lb_progress->setText(QStringLiteral("%1%").arg(percent));
    if (progressMode_)
        return;
    progressMode_ = true;
    ui->lb_progress->show();
    ui->pb_cancel->setEnabled(true);
    ui->pb_cancel->show();
}

void WaitingWin::leaveProgressMode()
{
    progressMode_ = false;
    ui->lb_progress->hide();
    ui->pb_cancel->hide();
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
    // Closed (not merely hidden with a minimised window): the next work starts with
    // the plain spinner until it reports progress.
    if (!event->spontaneous())
        leaveProgressMode();
    QDialog::hideEvent(event);
}

void WaitingWin::recentre()
{
    if (isVisible())
        centreOverAnchor();
}
