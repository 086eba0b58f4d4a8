#include "widgets/vxtooltip.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QTimerEvent>

VxToolTip::VxToolTip(QString text, int mode, QWidget *parent)
    : QDialog(parent)
    , mode_(mode)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    label_ = new QLabel(text, this);
    label_->setAlignment(Qt::AlignCenter);
    layout->addWidget(label_);

    setWindowFlags(Qt::ToolTip | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
    setStyleSheet(QStringLiteral("\n.%1{\nmin-width:100px;\n\nmin-height:20px;\nmax-height:20px;\n}\n"
                                 ".%1 QLabel{\nfont: 10px \"Noto Sans SC Medium\";\ncolor:#646464;\n"
                                 "border:1px solid #A7A7A7;\npadding-left:10px;\npadding-right:10px;\n"
                                 "border-radius:5px;\nbackground-color:#FFFFFF;\n}\n")
                      .arg(QString::fromLatin1(metaObject()->className())));
    hide();
    // Placement needs the real size (style sheet minimums included) before
    // the first show.
    ensurePolished();
    adjustSize();
}

void VxToolTip::setTarget(QObject *widget)
{
    if (!widget || widget == target_)
        return;
    if (target_)
        target_->removeEventFilter(this);
    target_ = widget;
    target_->installEventFilter(this);
    if (auto *w = qobject_cast<QWidget *>(widget))
        w->setMouseTracking(true);
}

QString VxToolTip::text() const
{
    return label_->text();
}

Qt::Alignment VxToolTip::alignment() const
{
    return label_->alignment();
}

void VxToolTip::setXOffset(int offset)
{
    if (offset == xOffset_)
        return;
    xOffset_ = offset;
    emit xOffsetChanged(offset);
}

void VxToolTip::setYOffset(int offset)
{
    if (offset == yOffset_)
        return;
    yOffset_ = offset;
    emit yOffsetChanged(offset);
}

void VxToolTip::setText(const QString &text)
{
    if (text == label_->text())
        return;
    label_->setText(text);
    ensurePolished();
    adjustSize();
    emit textChanged(text);
}

void VxToolTip::setAlignment(Qt::Alignment alignment)
{
    if (alignment == label_->alignment())
        return;
    label_->setAlignment(alignment);
    emit alignmentChanged(alignment);
}

void VxToolTip::setDelays(int showDelayMs, int lifeMs, int hideDelayMs)
{
    showDelayMs_ = showDelayMs;
    lifeMs_ = lifeMs;
    hideDelayMs_ = hideDelayMs;
}

void VxToolTip::placeOver(QWidget *widget)
{
    const QPoint g = widget->mapToGlobal(QPoint(0, 0));
    switch (mode_) {
    case 0:
        move(g.x() - qAbs(width() - widget->width()) / 2, g.y() - height());
        break;
    case 2:
        move(g.x() - width(), g.y() - height());
        break;
    default:
        break;
    }
}

bool VxToolTip::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == target_) {
        if (event->type() == QEvent::Enter) {
            if (auto *w = qobject_cast<QWidget *>(watched))
                placeOver(w);
            if (!showTimer_.isActive())
                showTimer_.start(showDelayMs_, this);
        } else if (event->type() == QEvent::Leave) {
            showTimer_.stop();
            hideTimer_.stop();
            hideTimer_.start(hideDelayMs_, this);
        }
    }
    return QDialog::eventFilter(watched, event);
}

void VxToolTip::timerEvent(QTimerEvent *event)
{
    if (event->timerId() == showTimer_.timerId()) {
        showTimer_.stop();
        if (isHidden()) {
            show();
            if (!hideTimer_.isActive())
                hideTimer_.start(lifeMs_, this);
        }
    } else if (event->timerId() == hideTimer_.timerId()) {
        showTimer_.stop();
        hideTimer_.stop();
        if (isVisible())
            hide();
    } else {
        QDialog::timerEvent(event);
    }
}

void VxToolTip::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
}
