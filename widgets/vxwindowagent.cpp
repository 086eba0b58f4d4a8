#include "widgets/vxwindowagent.h"

#include <QAbstractButton>
#include <QMouseEvent>
#include <QWidget>
#include <QWindow>

VxWindowAgent::VxWindowAgent(QObject *parent)
    : QObject(parent)
{
}

VxWindowAgent::~VxWindowAgent()
{
    // The agent may die before its window (a parent other than the window):
    // leave no filter or borrowed cursor behind.
    if (window_) {
        updateEdgeCursor({});
        window_->removeEventFilter(this);
    }
    if (handle_)
        handle_->removeEventFilter(this);
    if (titleBar_)
        titleBar_->removeEventFilter(this);
}

bool VxWindowAgent::setup(QWidget *window)
{
    if (!window || window_ || !window->isWindow())
        return false;

    window_ = window;
    const bool wasVisible = window->isVisible();
    window->setWindowFlag(Qt::FramelessWindowHint, true);
    if (wasVisible)
        window->show(); // changing flags hides a shown window
    window->installEventFilter(this);
    lastMaximized_ = window->isMaximized();
    attachWindowHandle();
    return true;
}

QWidget *VxWindowAgent::window() const
{
    return window_;
}

void VxWindowAgent::setTitleBar(QWidget *titleBar)
{
    if (titleBar_ == titleBar)
        return;
    if (titleBar_)
        titleBar_->removeEventFilter(this);
    titleBar_ = titleBar;
    dragPending_ = false;
    manualMove_ = false;
    if (titleBar_)
        titleBar_->installEventFilter(this);
}

QWidget *VxWindowAgent::titleBar() const
{
    return titleBar_;
}

void VxWindowAgent::setSystemButton(SystemButton role, QAbstractButton *button)
{
    if (role < WindowIcon || role > Close)
        return;
    QObject::disconnect(pressedConnections_[role]);
    QObject::disconnect(clickedConnections_[role]);
    if (buttons_[role])
        setHitTestVisible(buttons_[role], false);

    buttons_[role] = button;
    if (!button)
        return;
    setHitTestVisible(button, true);
    pressedConnections_[role] = connect(button, &QAbstractButton::pressed, this,
                                        [this, role] { onSystemButtonPressed(role); });
    clickedConnections_[role] = connect(button, &QAbstractButton::clicked, this,
                                        [this, role] { onSystemButtonClicked(role); });
}

QAbstractButton *VxWindowAgent::systemButton(SystemButton role) const
{
    if (role < WindowIcon || role > Close)
        return nullptr;
    return buttons_[role];
}

void VxWindowAgent::setHitTestVisible(QWidget *w, bool visible)
{
    if (!w)
        return;
    if (visible) {
        if (hitTestVisible_.contains(w))
            return;
        hitTestVisible_.insert(w);
        // Forget it when it dies, so a new widget at the same address is not
        // mistaken for it.
        connect(w, &QObject::destroyed, this, [this, w] { hitTestVisible_.remove(w); });
    } else {
        hitTestVisible_.remove(w);
        disconnect(w, &QObject::destroyed, this, nullptr);
    }
}

bool VxWindowAgent::isHitTestVisible(const QWidget *w) const
{
    return hitTestVisible_.contains(w);
}

int VxWindowAgent::resizeBorderWidth() const
{
    return borderWidth_;
}

void VxWindowAgent::setResizeBorderWidth(int pixels)
{
    borderWidth_ = qMax(0, pixels);
}

bool VxWindowAgent::eventFilter(QObject *watched, QEvent *event)
{
    if (window_ && watched == window_)
        return windowEvent(event);

    if (handle_ && watched == handle_) {
        switch (event->type()) {
        case QEvent::Expose:
            if (positionCheckPending_ && handle_->isExposed()) {
                positionCheckPending_ = false;
                confirmNativePosition();
            }
            return false;
        case QEvent::MouseMove:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
            return edgeEvent(static_cast<QMouseEvent *>(event));
        default:
            return false;
        }
    }

    if (titleBar_ && watched == titleBar_) {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseMove:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
            return titleBarEvent(static_cast<QMouseEvent *>(event));
        default:
            return false;
        }
    }
    return QObject::eventFilter(watched, event);
}

bool VxWindowAgent::windowEvent(QEvent *event)
{
    switch (event->type()) {
    case QEvent::WindowStateChange: {
        const bool maximized = window_->isMaximized();
        if (maximized != lastMaximized_) {
            lastMaximized_ = maximized;
            if (maximized)
                updateEdgeCursor({});
            emit maximizedChanged(maximized);
        }
        break;
    }
    case QEvent::Show:
    case QEvent::WinIdChange:
        // The native window exists only from the first show on and may be
        // recreated (flag changes): follow it.
        attachWindowHandle();
        if (event->type() == QEvent::Show && !event->spontaneous())
            positionCheckPending_ = true;
        break;
    case QEvent::Leave:
        if (!manualEdges_)
            updateEdgeCursor({});
        break;
    default:
        break;
    }
    return false;
}

void VxWindowAgent::attachWindowHandle()
{
    QWindow *handle = window_ ? window_->windowHandle() : nullptr;
    if (handle == handle_)
        return;
    if (handle_)
        handle_->removeEventFilter(this);
    handle_ = handle;
    if (handle_)
        handle_->installEventFilter(this);
}

void VxWindowAgent::confirmNativePosition()
{
    // A window moved after its native window was created but before the
    // window manager mapped it (QDialog centres itself that way) can leave Qt
    // holding the position of the manager's frame before it was placed, while
    // the widget keeps the position it asked for. mapToGlobal() then misplaces
    // every popup and a system move starts from a wrong pointer position.
    // Asking for the position once more makes the window manager confirm the
    // real one.
    if (!window_ || !handle_ || window_->isMaximized() || window_->isFullScreen() || window_->isMinimized())
        return;
    const QPoint wanted = window_->geometry().topLeft();
    if (handle_->position() != wanted)
        handle_->setPosition(wanted);
}

bool VxWindowAgent::isResizable() const
{
    if (!window_ || window_->isMaximized() || window_->isFullScreen())
        return false;
    return window_->minimumWidth() != window_->maximumWidth()
        || window_->minimumHeight() != window_->maximumHeight();
}

Qt::Edges VxWindowAgent::edgesAt(const QPoint &pos) const
{
    Qt::Edges edges;
    if (!isResizable() || borderWidth_ <= 0)
        return edges;
    const int w = window_->width();
    const int h = window_->height();
    if (pos.x() < 0 || pos.y() < 0 || pos.x() >= w || pos.y() >= h)
        return edges;
    if (window_->minimumWidth() != window_->maximumWidth()) {
        if (pos.x() < borderWidth_)
            edges |= Qt::LeftEdge;
        else if (pos.x() >= w - borderWidth_)
            edges |= Qt::RightEdge;
    }
    if (window_->minimumHeight() != window_->maximumHeight()) {
        if (pos.y() < borderWidth_)
            edges |= Qt::TopEdge;
        else if (pos.y() >= h - borderWidth_)
            edges |= Qt::BottomEdge;
    }
    return edges;
}

void VxWindowAgent::updateEdgeCursor(Qt::Edges edges)
{
    if (!window_)
        return;
    if (!edges) {
        if (edgeCursorShown_) {
            edgeCursorShown_ = false;
            if (hadOwnCursor_)
                window_->setCursor(ownCursor_);
            else
                window_->unsetCursor();
        }
        return;
    }

    Qt::CursorShape shape = Qt::ArrowCursor;
    if (edges == (Qt::LeftEdge | Qt::TopEdge) || edges == (Qt::RightEdge | Qt::BottomEdge))
        shape = Qt::SizeFDiagCursor;
    else if (edges == (Qt::RightEdge | Qt::TopEdge) || edges == (Qt::LeftEdge | Qt::BottomEdge))
        shape = Qt::SizeBDiagCursor;
    else if (edges & (Qt::LeftEdge | Qt::RightEdge))
        shape = Qt::SizeHorCursor;
    else
        shape = Qt::SizeVerCursor;

    if (!edgeCursorShown_) {
        hadOwnCursor_ = window_->testAttribute(Qt::WA_SetCursor);
        ownCursor_ = window_->cursor();
        edgeCursorShown_ = true;
    }
    if (window_->cursor().shape() != shape)
        window_->setCursor(shape);
}

bool VxWindowAgent::edgeEvent(QMouseEvent *event)
{
    const QPoint pos = event->position().toPoint();
    const QPoint global = event->globalPosition().toPoint();

    switch (event->type()) {
    case QEvent::MouseMove:
        if (manualEdges_ && !(event->buttons() & Qt::LeftButton))
            manualEdges_ = {}; // the release went elsewhere
        if (manualEdges_) {
            const QPoint d = global - resizePressGlobal_;
            QRect g = resizeStartGeometry_;
            const QSize minS = window_->minimumSize();
            const QSize maxS = window_->maximumSize();
            if (manualEdges_ & Qt::LeftEdge)
                g.setLeft(qBound(g.right() + 1 - maxS.width(), g.left() + d.x(),
                                 g.right() + 1 - minS.width()));
            if (manualEdges_ & Qt::RightEdge)
                g.setWidth(qBound(minS.width(), g.width() + d.x(), maxS.width()));
            if (manualEdges_ & Qt::TopEdge)
                g.setTop(qBound(g.bottom() + 1 - maxS.height(), g.top() + d.y(),
                                g.bottom() + 1 - minS.height()));
            if (manualEdges_ & Qt::BottomEdge)
                g.setHeight(qBound(minS.height(), g.height() + d.y(), maxS.height()));
            window_->setGeometry(g);
            return true;
        }
        if (event->buttons() == Qt::NoButton)
            updateEdgeCursor(edgesAt(pos));
        return false;

    case QEvent::MouseButtonPress: {
        if (event->button() != Qt::LeftButton)
            return false;
        const Qt::Edges edges = edgesAt(pos);
        if (!edges)
            return false;
        if (!handle_->startSystemResize(edges)) {
            manualEdges_ = edges;
            resizeStartGeometry_ = window_->geometry();
            resizePressGlobal_ = global;
        }
        return true;
    }

    case QEvent::MouseButtonRelease:
        if (manualEdges_ && event->button() == Qt::LeftButton) {
            manualEdges_ = {};
            updateEdgeCursor(edgesAt(pos));
            return true;
        }
        return false;

    default:
        return false;
    }
}

bool VxWindowAgent::isDragArea(const QPoint &pos) const
{
    if (!titleBar_ || !titleBar_->rect().contains(pos))
        return false;
    for (QWidget *w = titleBar_->childAt(pos); w && w != titleBar_; w = w->parentWidget()) {
        if (hitTestVisible_.contains(w))
            return false;
    }
    return !hitTestVisible_.contains(titleBar_.data());
}

bool VxWindowAgent::titleBarEvent(QMouseEvent *event)
{
    if (!window_)
        return false;
    const QPoint global = event->globalPosition().toPoint();

    switch (event->type()) {
    case QEvent::MouseButtonPress:
        if (event->button() != Qt::LeftButton || !isDragArea(event->position().toPoint()))
            return false;
        dragPending_ = true;
        manualMove_ = false;
        pressGlobal_ = global;
        windowStartPos_ = window_->pos();
        event->accept();
        return true;

    case QEvent::MouseMove:
        if (!dragPending_ || !(event->buttons() & Qt::LeftButton))
            return false;
        if (!manualMove_) {
            // Starting the move only once the mouse really moves keeps the
            // button grab for a following double-click. The window manager
            // moves the window from where the pointer is when the move
            // starts, so the window trails the pointer by this distance:
            // keep it small (a drag-and-drop distance is about 10 px).
            if ((global - pressGlobal_).manhattanLength() < kMoveStartDistance)
                return true;
            QWindow *handle = window_->windowHandle();
            if (handle && handle->startSystemMove()) {
                dragPending_ = false;
                return true;
            }
            if (window_->isMaximized() || window_->isFullScreen()) {
                dragPending_ = false;
                return true;
            }
            manualMove_ = true;
        }
        window_->move(windowStartPos_ + (global - pressGlobal_));
        return true;

    case QEvent::MouseButtonRelease:
        if (event->button() != Qt::LeftButton || !dragPending_)
            return false;
        dragPending_ = false;
        manualMove_ = false;
        return true;

    case QEvent::MouseButtonDblClick:
        if (event->button() != Qt::LeftButton || !isDragArea(event->position().toPoint()))
            return false;
        dragPending_ = false;
        manualMove_ = false;
        toggleMaximized();
        return true;

    default:
        return false;
    }
}

void VxWindowAgent::toggleMaximized()
{
    if (!window_)
        return;
    // A fixed-size window (most dialogs) has nothing to maximise to.
    if (window_->minimumSize() == window_->maximumSize())
        return;
    if (window_->isMaximized())
        window_->showNormal();
    else
        window_->showMaximized();
}

void VxWindowAgent::onSystemButtonPressed(SystemButton role)
{
    if (role == Maximize && window_)
        maximizedAtPress_ = window_->isMaximized() ? 1 : 0;
}

void VxWindowAgent::onSystemButtonClicked(SystemButton role)
{
    if (!window_)
        return;
    switch (role) {
    case WindowIcon:
        break;
    case Minimize:
        if (!window_->isMinimized())
            window_->showMinimized();
        break;
    case Maximize: {
        // Aim at the opposite of the state seen at the press: if the
        // window's own clicked() slot already toggled, there is nothing left
        // to do, and the two handlers never cancel each other out.
        const bool wasMaximized = maximizedAtPress_ >= 0 ? maximizedAtPress_ == 1
                                                         : window_->isMaximized();
        maximizedAtPress_ = -1;
        if (window_->isMaximized() == wasMaximized) {
            if (wasMaximized)
                window_->showNormal();
            else
                window_->showMaximized();
        }
        break;
    }
    case Close:
        if (window_->isVisible())
            window_->close();
        break;
    }
}
