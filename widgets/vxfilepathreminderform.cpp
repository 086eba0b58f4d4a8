#include "widgets/vxfilepathreminderform.h"
#include "ui_vxfilepathreminderform.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDesktopServices>
#include <QLayout>
#include <QTimer>
#include <QUrl>

#include "app/vxutils.h"

VxFilePathReminderForm::VxFilePathReminderForm(QString tips, int type, QString file_path,
                                               QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::VxFilePathReminderForm)
{
    ui->setupUi(this);
    // A toast must not take the keyboard from the window the user works in
    // (a window manager activates every new window by default).
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint
                   | Qt::WindowDoesNotAcceptFocus);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TranslucentBackground);
    // A toast is a parentless window: left as it is, one still on screen
    // would keep the program running after the main window has closed.
    // At the end of the event loop it goes with the rest of the program.
    setAttribute(Qt::WA_QuitOnClose, false);
    if (QCoreApplication *app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, &QObject::deleteLater);

    ui->lb_show_tips->setText(tips);
    if (file_path.isEmpty())
        ui->pb_open_dir->hide();

    // The form's sheets are changed below; an unpolished widget would keep
    // the rules of its first sheet.
    ensurePolished();
    switch (type) {
    case static_cast<int>(VxMessageType::Warning):
        ui->widget_item->setStyleSheet(
            "QWidget#widget_item{background-color:#FEFBF4;border:1px solid #F9BF37;border-radius:3px;color:#555555;}");
        ui->pb_logo->setStyleSheet("image: url(:/img/assets/icon_toasts_warning.svg);");
        ui->lb_title->setText(tr("Warning"));
        ui->lb_title->setStyleSheet("font: 12px \"Noto Sans SC Medium\";color: #F9BF37;");
        break;
    case static_cast<int>(VxMessageType::Error):
        ui->widget_item->setStyleSheet(
            "QWidget#widget_item{background-color:#FFF6F6;border:1px solid #FF6058;border-radius:3px;color:#555555;}");
        ui->pb_logo->setStyleSheet("image: url(:/img/assets/icon_toasts_error.svg);");
        ui->lb_title->setText(tr("Error"));
        ui->lb_title->setStyleSheet("font: 12px \"Noto Sans SC Medium\";color: #FF6058;");
        break;
    default:
        break; // the form's success look
    }

    // A file opens its folder; a path that no longer exists falls back to
    // what was given, and opening it reports the failure.
    if (!file_path.isEmpty()) {
        directory_ = resolveDirectory(file_path);
        if (directory_.isEmpty())
            directory_ = file_path;
    }

    lifetimeTimer_ = new QTimer(this);
    lifetimeTimer_->setSingleShot(true);
    connect(lifetimeTimer_, &QTimer::timeout, this, &VxFilePathReminderForm::onTimeupDestroy);
    lifetimeTimer_->start(kLifetimeMs);
}

VxFilePathReminderForm::~VxFilePathReminderForm()
{
    delete ui;
}

VxFilePathReminderForm *VxFilePathReminderForm::showAt(QWidget *anchor, const QString &tips,
                                                       VxMessageType type,
                                                       const QString &file_path)
{
    auto *toast = new VxFilePathReminderForm(tips, static_cast<int>(type), file_path, nullptr);
    // Keep the designed 226 x 70 unless a long text needs more room.
    toast->ensurePolished();
    if (toast->layout())
        toast->layout()->activate();
    toast->resize(toast->size().expandedTo(toast->minimumSizeHint()));
    if (anchor) {
        const QPoint bottomLeft = anchor->mapToGlobal(QPoint(0, anchor->height()));
        toast->move(bottomLeft.x(), bottomLeft.y() - toast->height());
    }
    toast->show();
    toast->raise();
    return toast;
}

void VxFilePathReminderForm::onTimeupDestroy()
{
    delete this;
}

void VxFilePathReminderForm::on_pb_open_dir_clicked()
{
    if (directory_.isEmpty() || !QDesktopServices::openUrl(QUrl::fromLocalFile(directory_)))
        qWarning() << "Failed to open directory.";
}

void VxFilePathReminderForm::on_pb_close_clicked()
{
    close();
}
