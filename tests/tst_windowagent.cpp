#include <QtTest>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QVBoxLayout>

#include "widgets/vxwindowagent.h"

namespace {

// A window laid out like the application's: a title bar holding a label, a
// menu button and the three system buttons, above a content area.
struct TestWindow {
    QWidget window;
    QWidget *titleBar = nullptr;
    QLabel *title = nullptr;
    QPushButton *menu = nullptr;
    QPushButton *minButton = nullptr;
    QPushButton *maxButton = nullptr;
    QPushButton *closeButton = nullptr;
    VxWindowAgent *agent = nullptr;

    TestWindow()
    {
        auto *outer = new QVBoxLayout(&window);
        outer->setContentsMargins(0, 0, 0, 0);
        titleBar = new QWidget(&window);
        titleBar->setFixedHeight(40);
        auto *row = new QHBoxLayout(titleBar);
        title = new QLabel("Title", titleBar);
        menu = new QPushButton("File", titleBar);
        minButton = new QPushButton("_", titleBar);
        maxButton = new QPushButton("[]", titleBar);
        closeButton = new QPushButton("x", titleBar);
        row->addWidget(title);
        row->addWidget(menu);
        row->addStretch();
        row->addWidget(minButton);
        row->addWidget(maxButton);
        row->addWidget(closeButton);
        outer->addWidget(titleBar);
        outer->addWidget(new QWidget(&window), 1);
        window.resize(600, 400);
        window.move(100, 100);

        agent = new VxWindowAgent(&window);
        agent->setup(&window);
        agent->setTitleBar(titleBar);
        agent->setSystemButton(VxWindowAgent::Minimize, minButton);
        agent->setSystemButton(VxWindowAgent::Maximize, maxButton);
        agent->setSystemButton(VxWindowAgent::Close, closeButton);
        agent->setHitTestVisible(menu);
    }

    // A free spot of the title bar, away from its children.
    QPoint emptyTitleSpot() const
    {
        const QPoint p(menu->geometry().right() + 40, titleBar->height() / 2);
        return titleBar->childAt(p) ? QPoint() : p;
    }
};

} // namespace

class TstWindowAgent : public QObject
{
    Q_OBJECT

private slots:
    void setupMakesFrameless();
    void doubleClickOnTitleBarTogglesMaximized();
    void systemButtonsAct();
    void maximizeButtonWithOwnSlotTogglesOnce();
    void titleBarDragMovesWindow();
    void hitTestVisibleChildDoesNotDrag();
    void edgeDragResizes();
    void fixedSizeDialogDoesNotMaximize();
};

void TstWindowAgent::setupMakesFrameless()
{
    QDialog dialog;
    VxWindowAgent agent;
    QVERIFY(agent.setup(&dialog));
    QVERIFY(dialog.windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(dialog.windowFlags() & Qt::Dialog);
    QVERIFY(!agent.setup(&dialog)); // once only

    QWidget parent;
    QWidget child(&parent);
    VxWindowAgent other;
    QVERIFY(!other.setup(&child));
    QVERIFY(!other.setup(nullptr));
}

void TstWindowAgent::doubleClickOnTitleBarTogglesMaximized()
{
    TestWindow t;
    t.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&t.window));
    QSignalSpy spy(t.agent, &VxWindowAgent::maximizedChanged);
    const QPoint spot = t.emptyTitleSpot();
    QVERIFY(!spot.isNull());

    QTest::mouseDClick(t.titleBar, Qt::LeftButton, {}, spot);
    QVERIFY(t.window.isMaximized());
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toBool(), true);

    // Also on the title label, which does not take clicks.
    QTest::mouseDClick(t.title, Qt::LeftButton);
    QVERIFY(!t.window.isMaximized());
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(1).at(0).toBool(), false);

    // Not on a hit-test visible child.
    QTest::mouseDClick(t.menu, Qt::LeftButton);
    QVERIFY(!t.window.isMaximized());
    QCOMPARE(spy.count(), 2);
}

void TstWindowAgent::systemButtonsAct()
{
    TestWindow t;
    t.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&t.window));
    QSignalSpy spy(t.agent, &VxWindowAgent::maximizedChanged);

    QTest::mouseClick(t.maxButton, Qt::LeftButton);
    QVERIFY(t.window.isMaximized());
    QTest::mouseClick(t.maxButton, Qt::LeftButton);
    QVERIFY(!t.window.isMaximized());
    QCOMPARE(spy.count(), 2);

    QTest::mouseClick(t.minButton, Qt::LeftButton);
    QVERIFY(t.window.isMinimized());
    t.window.showNormal();

    QTest::mouseClick(t.closeButton, Qt::LeftButton);
    QVERIFY(!t.window.isVisible());
}

void TstWindowAgent::maximizeButtonWithOwnSlotTogglesOnce()
{
    // Windows connect their own clicked() slots by name before the agent is
    // installed; the two must not cancel each other out.
    TestWindow t;
    QObject::disconnect(t.maxButton, nullptr, t.agent, nullptr);
    QObject::connect(t.maxButton, &QPushButton::clicked, &t.window, [&t] {
        if (t.window.isMaximized())
            t.window.showNormal();
        else
            t.window.showMaximized();
    });
    t.agent->setSystemButton(VxWindowAgent::Maximize, t.maxButton);
    t.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&t.window));

    QTest::mouseClick(t.maxButton, Qt::LeftButton);
    QVERIFY(t.window.isMaximized());
    t.maxButton->click();
    QVERIFY(!t.window.isMaximized());
}

void TstWindowAgent::titleBarDragMovesWindow()
{
    TestWindow t;
    t.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&t.window));
    const QPoint start = t.window.pos();
    const QPoint spot = t.emptyTitleSpot();

    QTest::mousePress(t.titleBar, Qt::LeftButton, {}, spot);
    QTest::mouseMove(t.titleBar, spot + QPoint(30, 12));
    QTest::mouseRelease(t.titleBar, Qt::LeftButton, {}, spot + QPoint(30, 12));
    QCOMPARE(t.window.pos(), start + QPoint(30, 12));

    // Tiny jitters below the drag distance do not move it.
    const QPoint moved = t.window.pos();
    QTest::mousePress(t.titleBar, Qt::LeftButton, {}, spot);
    QTest::mouseMove(t.titleBar, spot + QPoint(2, 1));
    QTest::mouseRelease(t.titleBar, Qt::LeftButton, {}, spot + QPoint(2, 1));
    QCOMPARE(t.window.pos(), moved);
}

void TstWindowAgent::hitTestVisibleChildDoesNotDrag()
{
    TestWindow t;
    t.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&t.window));
    QSignalSpy clicked(t.menu, &QPushButton::clicked);
    const QPoint start = t.window.pos();

    // Through the window, as the platform delivers it.
    QWindow *handle = t.window.windowHandle();
    const QPoint p = t.menu->mapTo(&t.window, t.menu->rect().center());
    QTest::mousePress(handle, Qt::LeftButton, {}, p);
    QTest::mouseMove(handle, p + QPoint(1, 0));
    QTest::mouseRelease(handle, Qt::LeftButton, {}, p + QPoint(1, 0));
    QCOMPARE(t.window.pos(), start);
    QCOMPARE(clicked.count(), 1);

    // A widget that ignores clicks but is registered still does not drag.
    t.agent->setHitTestVisible(t.title);
    QTest::mousePress(t.title, Qt::LeftButton);
    QTest::mouseMove(t.title, t.title->rect().center() + QPoint(40, 0));
    QTest::mouseRelease(t.title, Qt::LeftButton);
    QCOMPARE(t.window.pos(), start);

    t.agent->setHitTestVisible(t.title, false);
    QTest::mousePress(t.title, Qt::LeftButton);
    QTest::mouseMove(t.title, t.title->rect().center() + QPoint(40, 0));
    QTest::mouseRelease(t.title, Qt::LeftButton);
    QCOMPARE(t.window.pos(), start + QPoint(40, 0));
}

void TstWindowAgent::edgeDragResizes()
{
    TestWindow t;
    t.window.setMinimumSize(300, 200);
    t.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&t.window));
    QWindow *handle = t.window.windowHandle();
    const QRect g = t.window.geometry();

    // Hovering the right edge shows the sizing cursor, moving away restores it.
    QTest::mouseMove(handle, QPoint(g.width() - 2, 200));
    QCOMPARE(t.window.cursor().shape(), Qt::SizeHorCursor);
    QTest::mouseMove(handle, QPoint(g.width() / 2, 200));
    QCOMPARE(t.window.cursor().shape(), Qt::ArrowCursor);

    QTest::mousePress(handle, Qt::LeftButton, {}, QPoint(g.width() - 2, 200));
    QTest::mouseMove(handle, QPoint(g.width() + 48, 200));
    QTest::mouseRelease(handle, Qt::LeftButton, {}, QPoint(g.width() + 48, 200));
    QCOMPARE(t.window.width(), g.width() + 50);
    QCOMPARE(t.window.x(), g.x());

    // Top-left corner: the left and top edges move, clamped by the minimum size.
    const QRect g2 = t.window.geometry();
    // Positions are window-local and the window moves under the mouse: release
    // where the mouse really is, or the release implies one more move.
    const QPoint target = handle->mapToGlobal(QPoint(1000, 20));
    QTest::mousePress(handle, Qt::LeftButton, {}, QPoint(1, 1));
    QTest::mouseMove(handle, QPoint(1000, 20));
    QTest::mouseRelease(handle, Qt::LeftButton, {}, handle->mapFromGlobal(target));
    QCOMPARE(t.window.width(), 300);
    QCOMPARE(t.window.geometry().right(), g2.right());
    QCOMPARE(t.window.geometry().top(), g2.top() + 19);
    QCOMPARE(t.window.geometry().bottom(), g2.bottom());
}

void TstWindowAgent::fixedSizeDialogDoesNotMaximize()
{
    QDialog dialog;
    auto *title = new QWidget(&dialog);
    title->setGeometry(0, 0, 200, 40);
    dialog.setFixedSize(200, 120);
    VxWindowAgent agent;
    agent.setup(&dialog);
    agent.setTitleBar(title);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));

    QTest::mouseDClick(title, Qt::LeftButton);
    QVERIFY(!dialog.isMaximized());
    // No resize band either: a press on the edge reaches the dialog.
    const QSize before = dialog.size();
    QTest::mousePress(dialog.windowHandle(), Qt::LeftButton, {}, QPoint(199, 60));
    QTest::mouseMove(dialog.windowHandle(), QPoint(240, 60));
    QTest::mouseRelease(dialog.windowHandle(), Qt::LeftButton, {}, QPoint(240, 60));
    QCOMPARE(dialog.size(), before);
}

QTEST_MAIN(TstWindowAgent)
#include "tst_windowagent.moc"
