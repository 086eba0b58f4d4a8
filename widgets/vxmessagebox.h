#pragma once

#include <QDialog>
#include <QString>

class VxWindowAgent;

namespace Ui {
class VXMessageBox;
}

// A frameless modal question: a title, a message and two buttons. Run it
// with exec(); Accepted means the accept button, everything else (the reject
// button, the title-bar close button, Esc) is Rejected.
class VXMessageBox : public QDialog
{
    Q_OBJECT

public:
    VXMessageBox(QString message, QString title, QString accept_text, QString reject_text,
                 QWidget *parent = nullptr);
    ~VXMessageBox() override;

private slots:
    void on_pb_open_clicked();
    void on_pb_close_clicked();
    void on_pb_win_close_clicked();

private:
    Ui::VXMessageBox *ui;
    VxWindowAgent *agent_ = nullptr;
};
