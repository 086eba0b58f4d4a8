#include "widgets/waitingwin.h"
#include "ui_waitingwin.h"

#include <QDebug>
#include <QGuiApplication>
#include <QLabel>
#include <QMovie>
#include <QPushButton>
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

void WaitingWin::setProgress(double fraction)
{
    if (!progressLabel_) {
        progressLabel_ = new QLabel(this);
        progressLabel_->setObjectName(QStringLiteral("lb_progress"));
        progressLabel_->setAlignment(Qt::AlignCenter);
        progressLabel_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        progressLabel_->setMinimumWidth(64);
        progressLabel_->setStyleSheet(
            QStringLiteral("background: #FFFFFF; border-radius: 10px; padding: 2px 12px; color: #004B6A;"
                           "font: 16px \"Noto Sans SC Medium\";"));
        cancelButton_ = new QPushButton(tr("Cancel"), this);
        cancelButton_->setObjectName(QStringLiteral("pb_cancel"));
        cancelButton_->setMinimumSize(100, 32);
        cancelButton_->setStyleSheet(QStringLiteral(
            "QPushButton{background:#FFFFFF;border:2px solid #004B6A;border-radius:16px;color:#004B6A;"
            "font: 14px \"Noto Sans SC Medium\";}QPushButton:hover{background:#E5ECF0;}"
            "QPushButton:pressed{background:#2C6580;color:#FFFFFF;}"));
        connect(cancelButton_, &QPushButton::clicked, this, &WaitingWin::cancelRequested);
        ui->gridLayout->addWidget(progressLabel_, 1, 0, Qt::AlignHCenter);
        ui->gridLayout->addWidget(cancelButton_, 2, 0, Qt::AlignHCenter);
    }
    const double clamped = std::isfinite(fraction) ? std::clamp(fraction, 0.0, 1.0) : 0.0;
    progressLabel_->setText(QString::number(static_cast<int>(clamped * 100)) + QLatin1Char('%'));
    progressLabel_->show();
    cancelButton_->show();
}

void WaitingWin::hideEvent(QHideEvent *event)
{
    // The next show is a plain waiting window again, until setProgress().
    if (progressLabel_) {
        progressLabel_->hide();
        cancelButton_->hide();
    }
    movie_->stop();
    QDialog::hideEvent(event);
}

void WaitingWin::recentre()
{
    if (isVisible())
        centreOverAnchor();
}
