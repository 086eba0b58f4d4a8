#pragma once

#include <QCursor>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QSet>

class QAbstractButton;
class QMouseEvent;
class QWidget;
class QWindow;

// Makes a top-level widget frameless and gives it back what the window
// manager's frame provided: dragging by a title bar, double-click to maximise,
// resizing from the edges and working system buttons.
//
// Built on QWindow::startSystemMove()/startSystemResize(), so the window
// manager does the moving and snapping where it can; platforms that refuse
// (offscreen, some Wayland compositors) get a plain manual move/resize that
// follows the mouse.
//
// Typical use, in the window's constructor after setupUi():
//     auto *agent = new VxWindowAgent(this);
//     agent->setup(this);
//     agent->setTitleBar(ui->widget_title_name);
//     agent->setSystemButton(VxWindowAgent::Close, ui->pb_win_close);
class VxWindowAgent : public QObject
{
    Q_OBJECT

public:
    enum SystemButton { WindowIcon, Minimize, Maximize, Close };
    Q_ENUM(SystemButton)

    explicit VxWindowAgent(QObject *parent = nullptr);
    ~VxWindowAgent() override;

    // Frameless flag, event filters, edge resize. False for a null widget,
    // a widget that is not a window, or a second call.
    bool setup(QWidget *window);
    QWidget *window() const;

    // Dragging the title bar (or any child of it that is not hit-test
    // visible) moves the window; double-clicking it maximises/restores.
    void setTitleBar(QWidget *titleBar);
    QWidget *titleBar() const;

    // Gives the button its native action: minimise, toggle maximised/normal,
    // close. WindowIcon has no action. The actions are idempotent with
    // respect to the press, so a window that also handles clicked() itself
    // (a slot connected by name) still sees exactly one change.
    // System buttons are hit-test visible. A null button unregisters the role.
    void setSystemButton(SystemButton role, QAbstractButton *button);
    QAbstractButton *systemButton(SystemButton role) const;

    // Widgets inside the title bar that take their own clicks (menu buttons)
    // instead of starting a drag.
    void setHitTestVisible(QWidget *w, bool visible = true);
    bool isHitTestVisible(const QWidget *w) const;

    // Width in pixels of the band along the window edges that resizes.
    int resizeBorderWidth() const;
    void setResizeBorderWidth(int pixels);

signals:
    void maximizedChanged(bool maximized);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool windowEvent(QEvent *event);
    bool titleBarEvent(QMouseEvent *event);
    bool edgeEvent(QMouseEvent *event);
    void attachWindowHandle();
    void confirmNativePosition();
    bool isDragArea(const QPoint &titleBarPos) const;
    bool isResizable() const;
    Qt::Edges edgesAt(const QPoint &windowPos) const;
    void updateEdgeCursor(Qt::Edges edges);
    void toggleMaximized();
    void onSystemButtonPressed(SystemButton role);
    void onSystemButtonClicked(SystemButton role);

    QPointer<QWidget> window_;
    QPointer<QWindow> handle_;
    QPointer<QWidget> titleBar_;
    QPointer<QAbstractButton> buttons_[4];
    QMetaObject::Connection pressedConnections_[4];
    QMetaObject::Connection clickedConnections_[4];
    QSet<const QWidget *> hitTestVisible_;
    int borderWidth_ = 5;
    bool lastMaximized_ = false;
    // Set by a show, cleared by the first exposure after it.
    bool positionCheckPending_ = false;
    // The maximised state when the maximise button was pressed; -1 = no press seen.
    int maximizedAtPress_ = -1;

    // Title-bar drag: pointer travel (Manhattan, px) that starts a move.
    static constexpr int kMoveStartDistance = 4;
    bool dragPending_ = false;
    bool manualMove_ = false;
    QPoint pressGlobal_;
    QPoint windowStartPos_;

    // Edge resize done by hand when the platform refuses a system resize.
    Qt::Edges manualEdges_;
    QRect resizeStartGeometry_;
    QPoint resizePressGlobal_;

    // The cursor the window had before an edge cursor replaced it.
    bool edgeCursorShown_ = false;
    bool hadOwnCursor_ = false;
    QCursor ownCursor_;
};
