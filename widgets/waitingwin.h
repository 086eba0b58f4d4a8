#pragma once

#include <QDialog>
#include <QPointer>

class QMovie;

namespace Ui {
class WaitingWin;
}

// A translucent window with a spinning animation, centred over its anchor
// while something loads. Created once and shown/closed as loading starts
// and ends; the owner calls recentre() when the anchor's window moves.
//
// Work that knows how far it is puts the window in progress mode: the
// percentage inside the spinner and a Cancel button below it, until the
// window closes.
class WaitingWin : public QDialog
{
    Q_OBJECT

public:
    explicit WaitingWin(QWidget *anchor = nullptr);
    ~WaitingWin() override;

    void recentre();
    QMovie *movie() const { return movie_; }

    // fraction done, 0 to 1 (clamped); enters progress mode.
    void setProgress(double fraction);
    bool inProgressMode() const { return progressMode_; }

signals:
    // Cancel was pressed (once per progress mode); the owner stops the work and
    // closes the window.
    void cancelRequested();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    // hide()/done() do not go through closeEvent: stop animating there too.
    void hideEvent(QHideEvent *event) override;

private:
    void centreOverAnchor();
    void leaveProgressMode();

    Ui::WaitingWin *ui;
    QPointer<QWidget> anchor_;
    QMovie *movie_ = nullptr;
    bool progressMode_ = false;
};
