#include <QtTest>
#include <QScrollBar>
#include <QWheelEvent>

#include "widgets/showimageform.h"
#include "widgets/vxgraphicsview.h"

namespace {

void sendWheel(VxGraphicsView *view, QPoint angleDelta, Qt::ScrollPhase phase = Qt::NoScrollPhase)
{
    const QPointF pos = QPointF(view->viewport()->rect().center()) + QPointF(37, -21);
    QWheelEvent ev(pos, view->viewport()->mapToGlobal(pos), QPoint(), angleDelta, Qt::NoButton,
                   Qt::NoModifier, phase, false);
    QApplication::sendEvent(view->viewport(), &ev);
}

void wheel(VxGraphicsView *view, int steps)
{
    for (int i = 0; i < qAbs(steps); ++i)
        sendWheel(view, QPoint(0, steps > 0 ? 120 : -120));
}

double scaleOf(const VxGraphicsView *view)
{
    return view->transform().m11();
}

// The scale at which the whole picture fits, as QGraphicsView::fitInView
// computes it (it keeps a 2 px margin inside the viewport).
double fittedScale(const VxGraphicsView *view, const QSizeF &picture)
{
    const QRectF area = QRectF(view->viewport()->rect()).adjusted(2, 2, -2, -2);
    return qMin(area.width() / picture.width(), area.height() / picture.height());
}

} // namespace

class TstImageView : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void startsWithGreyFittedPicture();
    void wheelZoomStopsAtLimits();
    void wheelWithoutVerticalTurnDoesNotZoom();
    void inAndOutReturnsToFitted();
    void doubleClickRefits();
    void resizeRefitsAndResetsZoom();
    void newFrameKeepsZoomAndPosition();
    void frameOfAnotherSizeRefits();

private:
    ShowImageForm *form = nullptr;
    VxGraphicsView *view = nullptr;
};

void TstImageView::init()
{
    form = new ShowImageForm;
    form->resize(800, 600);
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form));
    view = form->view();
}

void TstImageView::cleanup()
{
    delete form;
    form = nullptr;
}

void TstImageView::startsWithGreyFittedPicture()
{
    QCOMPARE(view->objectName(), QString("graphicsView"));
    QCOMPARE(form->pixmap().size(), QSize(1280, 720));
    QCOMPARE(form->pixmap().toImage().pixelColor(640, 360), QColor("#707070"));
    QCOMPARE(view->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QCOMPARE(view->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QCOMPARE(view->dragMode(), QGraphicsView::ScrollHandDrag);
    QCOMPARE(view->zoom(), 1.0);
    QVERIFY(qFuzzyCompare(scaleOf(view), fittedScale(view, QSizeF(1280, 720))));

    // The grey picture fills the width, the rest stays transparent (letterbox).
    const QImage shot = form->grab().toImage();
    QCOMPARE(shot.pixelColor(400, 300), QColor("#707070"));
    if (!qEnvironmentVariableIsEmpty("VX_GRAB_DIR"))
        shot.save(qEnvironmentVariable("VX_GRAB_DIR") + "/look_imageview.png");
}

void TstImageView::wheelZoomStopsAtLimits()
{
    const double fitted = scaleOf(view);
    wheel(view, 60);
    // 41 steps leave zoom at ~49.8 (< 50), so a 42nd is made and no more.
    QVERIFY(qFuzzyCompare(view->zoom(), qPow(1.1, 42)));
    QVERIFY(qFuzzyCompare(scaleOf(view), fitted * qPow(1.1, 42)));

    wheel(view, -100);
    QCOMPARE(view->zoom(), 1.0);
    QVERIFY(qFuzzyCompare(scaleOf(view), fitted));
}

void TstImageView::wheelWithoutVerticalTurnDoesNotZoom()
{
    wheel(view, 3);
    const QTransform zoomed = view->transform();
    // Sideways swipes and the closing event of a touchpad gesture carry no
    // vertical turn: they must not count as a step out.
    sendWheel(view, QPoint(120, 0));
    sendWheel(view, QPoint(0, 0), Qt::ScrollEnd);
    QCOMPARE(view->transform(), zoomed);
    QVERIFY(qFuzzyCompare(view->zoom(), qPow(1.1, 3)));
}

void TstImageView::inAndOutReturnsToFitted()
{
    const double fitted = scaleOf(view);
    wheel(view, 10);
    QVERIFY(scaleOf(view) > fitted * 2.5);
    wheel(view, -10);
    QVERIFY(qFuzzyCompare(scaleOf(view), fitted));
    // Never out beyond the fitted picture, also after mixed sequences.
    for (int i = 0; i < 20; ++i) {
        wheel(view, 3);
        wheel(view, -2);
    }
    wheel(view, -50);
    QVERIFY(qFuzzyCompare(scaleOf(view), fitted));
    QCOMPARE(view->zoom(), 1.0);
}

void TstImageView::doubleClickRefits()
{
    const double fitted = scaleOf(view);
    wheel(view, 7);
    view->horizontalScrollBar()->setValue(view->horizontalScrollBar()->maximum());
    QTest::mouseDClick(view->viewport(), Qt::LeftButton);
    QCOMPARE(view->zoom(), 1.0);
    QVERIFY(qFuzzyCompare(scaleOf(view), fitted));
    // The whole picture is visible again.
    const QRectF visible = view->mapToScene(view->viewport()->rect()).boundingRect();
    QVERIFY(visible.contains(QRectF(1, 1, 1278, 718)));
}

void TstImageView::resizeRefitsAndResetsZoom()
{
    wheel(view, 5);
    form->resize(500, 500);
    QCoreApplication::processEvents();
    QCOMPARE(view->zoom(), 1.0);
    QVERIFY(qFuzzyCompare(scaleOf(view), fittedScale(view, QSizeF(1280, 720))));
    // Zooming starts over from the new fit: five steps out do nothing.
    const double fitted = scaleOf(view);
    wheel(view, -5);
    QVERIFY(qFuzzyCompare(scaleOf(view), fitted));
}

void TstImageView::newFrameKeepsZoomAndPosition()
{
    wheel(view, 6);
    view->horizontalScrollBar()->setValue(view->horizontalScrollBar()->value() + 40);
    const QTransform before = view->transform();
    const QPointF centre = view->mapToScene(view->viewport()->rect().center());

    QImage frame(1280, 720, QImage::Format_RGB32);
    frame.fill(Qt::white);
    form->slotShowImage(frame);
    QCoreApplication::processEvents();
    QCOMPARE(view->transform(), before);
    QCOMPARE(view->mapToScene(view->viewport()->rect().center()), centre);
    QCOMPARE(form->pixmap().toImage().pixelColor(10, 10), QColor(Qt::white));

    QPixmap live(1280, 720);
    live.fill(Qt::black);
    form->showPixMap(&live);
    form->showPixMap(nullptr); // ignored
    QCoreApplication::processEvents();
    QCOMPARE(view->transform(), before);
    QCOMPARE(form->pixmap().toImage().pixelColor(10, 10), QColor(Qt::black));
}

// A recording or camera with another sensor size: its first frame is fitted whole,
// whatever the zoom was, and panning stays within it.
void TstImageView::frameOfAnotherSizeRefits()
{
    wheel(view, 6);
    for (const QSize size : {QSize(320, 240), QSize(2048, 1536), QSize(320, 240)}) {
        QImage frame(size, QImage::Format_RGB888);
        frame.fill(Qt::white);
        form->slotShowImage(frame);
        QCoreApplication::processEvents();
        QCOMPARE(view->zoom(), 1.0);
        QVERIFY(qFuzzyCompare(scaleOf(view), fittedScale(view, QSizeF(size))));
        QCOMPARE(view->sceneRect(), QRectF(QPointF(0, 0), QSizeF(size)));
        const QRectF visible = view->mapToScene(view->viewport()->rect()).boundingRect();
        QVERIFY(visible.contains(QRectF(1, 1, size.width() - 2, size.height() - 2)));
    }
    // Zoom out stops at the new fit.
    const double fitted = scaleOf(view);
    wheel(view, -3);
    QVERIFY(qFuzzyCompare(scaleOf(view), fitted));
}

QTEST_MAIN(TstImageView)
#include "tst_imageview.moc"
