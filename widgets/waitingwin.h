#pragma once

#include <QDialog>
#include <QPointer>

class QLabel;
class QMovie;
class QPushButton;

namespace Ui {
class WaitingWin;
}

// A translucent window with a spinning animation, centred over its anchor
// while something loads. Created once and shown/closed as loading starts
// and ends; the owner calls recentre() when the anchor's window moves.
class WaitingWin : public QDialog
{
    Q_OBJECT

public:
    explicit WaitingWin(QWidget *anchor = nullptr);
    ~WaitingWin() override;

    void recentre();
    QMovie *movie() const { return movie_; }

    // Progress mode for a job that can tell how far it is: shows the percentage
    // and a Cancel button under the animation until the window is next hidden.
    void setProgress(double fraction);

signals:
    void cancelRequested();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    // hide()/done() do not go through closeEvent: stop animating there too.
    void hideEvent(QHideEvent *event) override;

private:
    void centreOverAnchor();

    Ui::WaitingWin *ui;
    QPointer<QWidget> anchor_;
    QMovie *movie_ = nullptr;
    QLabel *progressLabel_ = nullptr;
    QPushButton *cancelButton_ = nullptr;
};
