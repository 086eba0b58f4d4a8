#pragma once

#include <QString>
#include <QWidget>

#include "app/vxmessagetype.h"

class QTimer;

namespace Ui {
class VxFilePathReminderForm;
}

// The toast: a small frameless card that shows the kind of a notification
// (success, warning, error), its text and, when a path is given, an
// "Open Dir" button for that folder. It deletes itself 5 s after it was
// created, visible or closed.
class VxFilePathReminderForm : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kLifetimeMs = 5000;

    // `type` is a VxMessageType value; anything unknown shows as success.
    // `file_path` may name a file or a folder: "Open Dir" opens its folder.
    VxFilePathReminderForm(QString tips, int type, QString file_path, QWidget *parent = nullptr);
    ~VxFilePathReminderForm() override;

    // Creates a toast without a parent and shows it with its bottom-left
    // corner on the anchor's bottom-left corner (on top of earlier toasts).
    static VxFilePathReminderForm *showAt(QWidget *anchor, const QString &tips,
                                          VxMessageType type = VxMessageType::Success,
                                          const QString &file_path = QString());

    // The folder "Open Dir" opens; empty when there is none.
    QString directory() const { return directory_; }
    // The single-shot timer that ends the toast (exposed for tests).
    QTimer *lifetimeTimer() const { return lifetimeTimer_; }

private slots:
    void onTimeupDestroy();
    void on_pb_open_dir_clicked();
    void on_pb_close_clicked();

private:
    Ui::VxFilePathReminderForm *ui;
    QString directory_;
    QTimer *lifetimeTimer_ = nullptr;
};
