#pragma once

#include <QDialog>
#include <QTimer>

namespace Ui {
class InitDialog;
}

// Splash shown modally at start-up: logo and version. Closes itself after
// two seconds, or earlier through its close button.
class InitDialog : public QDialog
{
    Q_OBJECT

public:
    explicit InitDialog(QWidget *parent = nullptr);
    ~InitDialog() override;

    static QString version();

private slots:
    void on_btn_close_clicked();

private:
    Ui::InitDialog *ui;
    QTimer m_closeTimer;
};
