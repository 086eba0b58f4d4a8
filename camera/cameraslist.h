#pragma once

#include "camera/cameradescription.h"

#include <QDialog>
#include <QPointer>
#include <QString>

#include <vector>

class VxWindowAgent;

namespace Ui {
class CamerasList;
}

// "Open a camera": lists the connected cameras by serial and lets the user
// pick one. Rows follow the description list, so a row index is an index into
// it; the search field hides the rows whose serial does not contain the text
// (rows are hidden, never removed, so the indexes stay valid).
class CamerasList : public QDialog
{
    Q_OBJECT

public:
    explicit CamerasList(const std::vector<vexadin::CameraDescription> &descriptions,
                         QWidget *parent = nullptr);
    ~CamerasList() override;

    // False when no row is current; otherwise the current row in index.
    bool selectedIndex(int &index) const;

public slots:
    void accept() override;
    // Emits the dialog's rejected() signal, nothing else.
    void rejected();

protected:
    void showEvent(QShowEvent *event) override;

private slots:
    void on_pb_win_close_clicked();
    void applySearch(const QString &text);

private:
    Ui::CamerasList *ui;
    VxWindowAgent *agent_ = nullptr;
    QPointer<QWidget> parent_;
};
