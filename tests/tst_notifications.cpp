#include <QtTest>
#include <QDesktopServices>
#include <QLabel>
#include <QMovie>
#include <QPushButton>
#include <QTemporaryDir>

#include "widgets/popwidget.h"
#include "widgets/vxfilepathreminderform.h"
#include "widgets/vxmessagebox.h"
#include "widgets/vxtooltip.h"
#include "widgets/waitingwin.h"

namespace {

// Stands in for the desktop so "Open Dir" opens nothing real.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls << url; }
};

template <typename T>
T *child(QWidget *w, const char *name)
{
    T *c = w->findChild<T *>(QString::fromLatin1(name));
    if (!c)
        qFatal("missing child %s", name);
    return c;
}

void sendEnterLeave(QWidget *w, QEvent::Type type)
{
    if (type == QEvent::Enter) {
        QEnterEvent e(QPointF(1, 1), QPointF(1, 1), w->mapToGlobal(QPointF(1, 1)));
        QApplication::sendEvent(w, &e);
    } else {
        QEvent e(QEvent::Leave);
        QApplication::sendEvent(w, &e);
    }
}

// Optional screenshots for looking at the widgets: set VX_GRAB_DIR.
void grabTo(QWidget *w, const QString &name)
{
    const QString dir = qEnvironmentVariable("VX_GRAB_DIR");
    if (!dir.isEmpty())
        w->grab().save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
}

} // namespace

class TstNotifications : public QObject
{
    Q_OBJECT

private slots:
    void toastLooks_data();
    void toastLooks();
    void toastOpenDirOpensTheFolder();
    void toastCloseHidesAndLifetimeDeletes();
    void toastIsPlacedAtAnchorBottomLeft();
    void messageBoxResults();
    void toolTipPlacement();
    void toolTipTiming();
    void toolTipProperties();
    void popWidgetStacksContent();
    void waitingWindowCentresAndAnimates();
};

void TstNotifications::toastLooks_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("accent");
    QTest::addColumn<QString>("icon");
    QTest::newRow("success") << 0 << "Success" << "#58DB6D" << "icon_toasts_success.svg";
    QTest::newRow("warning") << 1 << "Warning" << "#F9BF37" << "icon_toasts_warning.svg";
    QTest::newRow("error") << 2 << "Error" << "#FF6058" << "icon_toasts_error.svg";
    QTest::newRow("unknown 7") << 7 << "Success" << "#58DB6D" << "icon_toasts_success.svg";
    QTest::newRow("negative") << -1 << "Success" << "#58DB6D" << "icon_toasts_success.svg";
}

void TstNotifications::toastLooks()
{
    QFETCH(int, type);
    QFETCH(QString, title);
    QFETCH(QString, accent);
    QFETCH(QString, icon);

    auto *toast = new VxFilePathReminderForm("Export video success!", type, QString(), nullptr);
    QPointer<VxFilePathReminderForm> guard(toast);
    QCOMPARE(child<QLabel>(toast, "lb_title")->text(), title);
    QVERIFY(child<QLabel>(toast, "lb_title")->styleSheet().contains(accent));
    QVERIFY(child<QWidget>(toast, "widget_item")->styleSheet().contains(accent));
    QVERIFY(child<QPushButton>(toast, "pb_logo")->styleSheet().contains(icon));
    QCOMPARE(child<QLabel>(toast, "lb_show_tips")->text(), QString("Export video success!"));
    QVERIFY(toast->windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(toast->windowFlags() & Qt::WindowStaysOnTopHint);
    QVERIFY(toast->testAttribute(Qt::WA_TranslucentBackground));
    toast->show();
    QVERIFY(child<QPushButton>(toast, "pb_open_dir")->isHidden());
    grabTo(toast, QStringLiteral("toast_%1").arg(type));
    delete toast;
}

void TstNotifications::toastOpenDirOpensTheFolder()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString file = dir.filePath("rec_20260101_120000.raw");
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();

    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("file", &catcher, "open");

    auto *toast = new VxFilePathReminderForm("Record saved", 2, file, nullptr);
    toast->show();
    QPushButton *openDir = child<QPushButton>(toast, "pb_open_dir");
    QVERIFY(openDir->isVisible());
    grabTo(toast, "toast_error_opendir");
    QTest::mouseClick(openDir, Qt::LeftButton);
    QCOMPARE(catcher.urls.size(), 1);
    QCOMPARE(QDir(catcher.urls.first().toLocalFile()), QDir(dir.path()));
    QVERIFY(toast->isVisible()); // the toast stays

    // A folder that is gone: the button stays but opening it fails quietly.
    QDesktopServices::unsetUrlHandler("file");
    delete toast;
}

void TstNotifications::toastCloseHidesAndLifetimeDeletes()
{
    auto *toast = new VxFilePathReminderForm("tips", 0, QString(), nullptr);
    QPointer<VxFilePathReminderForm> guard(toast);
    QVERIFY(toast->lifetimeTimer()->isSingleShot());
    QVERIFY(toast->lifetimeTimer()->isActive());
    QCOMPARE(toast->lifetimeTimer()->interval(), VxFilePathReminderForm::kLifetimeMs);
    QCOMPARE(VxFilePathReminderForm::kLifetimeMs, 5000);
    toast->show();

    QTest::mouseClick(child<QPushButton>(toast, "pb_close"), Qt::LeftButton);
    QVERIFY(!toast->isVisible());
    QVERIFY(guard); // closing does not delete

    toast->lifetimeTimer()->start(50); // a short life for the test
    QTRY_VERIFY_WITH_TIMEOUT(guard.isNull(), 2000);
}

void TstNotifications::toastIsPlacedAtAnchorBottomLeft()
{
    QWidget window;
    window.setGeometry(200, 150, 800, 600);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QPointer<VxFilePathReminderForm> first =
        VxFilePathReminderForm::showAt(&window, "first", VxMessageType::Warning);
    QPointer<VxFilePathReminderForm> second =
        VxFilePathReminderForm::showAt(&window, QString(200, QChar(0x4E2D)), VxMessageType::Success);
    QVERIFY(first && second && second->isVisible());
    const QPoint windowBottomLeft = window.mapToGlobal(QPoint(0, window.height()));
    for (VxFilePathReminderForm *t : {first.data(), second.data()}) {
        QCOMPARE(t->x(), windowBottomLeft.x());
        QCOMPARE(t->y() + t->height(), windowBottomLeft.y());
        QVERIFY(t->width() >= 226);
        QVERIFY(t->height() >= 70);
    }
    // Long texts widen the card rather than being cut.
    QVERIFY(second->width() > 226);
    QVERIFY(child<QLabel>(second, "lb_show_tips")->width()
            >= child<QLabel>(second, "lb_show_tips")->sizeHint().width());
    delete first;
    delete second;
}

void TstNotifications::messageBoxResults()
{
    VXMessageBox box("Really stop the recording?", "Stop", "Stop", "Cancel");
    QCOMPARE(child<QLabel>(&box, "lb_title")->text(), QString("Stop"));
    QCOMPARE(child<QLabel>(&box, "lb_show_message")->text(), QString("Really stop the recording?"));
    QCOMPARE(child<QPushButton>(&box, "pb_open")->text(), QString("Stop"));
    QCOMPARE(child<QPushButton>(&box, "pb_close")->text(), QString("Cancel"));
    QVERIFY(box.windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(box.width() >= 500 && box.height() >= 270);

    struct Case { const char *button; int expected; };
    for (const Case &c : {Case{"pb_open", QDialog::Accepted}, Case{"pb_close", QDialog::Rejected},
                          Case{"pb_win_close", QDialog::Rejected}}) {
        QPushButton *button = child<QPushButton>(&box, c.button);
        QTimer::singleShot(0, button, [button] { QTest::mouseClick(button, Qt::LeftButton); });
        QCOMPARE(box.exec(), c.expected);
        QVERIFY(!box.isVisible());
    }

    VXMessageBox shown("Lorem Ipsum is simply dummy text of the printing and typesetting industry.",
                       "Title", "Open", "Close");
    shown.show();
    grabTo(&shown, "messagebox");
}

void TstNotifications::toolTipPlacement()
{
    QWidget window;
    window.setGeometry(300, 300, 600, 200);
    auto *button = new QPushButton(&window);
    button->setGeometry(100, 80, 30, 30);
    auto *wide = new QWidget(&window);
    wide->setGeometry(200, 120, 300, 30);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    VxToolTip tip0("Play", 0, &window);
    QCOMPARE(tip0.width(), 100);
    QCOMPARE(tip0.height(), 20);
    tip0.setTarget(button);
    QVERIFY(button->hasMouseTracking());
    sendEnterLeave(button, QEvent::Enter);
    const QPoint b = button->mapToGlobal(QPoint(0, 0));
    QCOMPARE(tip0.pos(), QPoint(b.x() - 35, b.y() - 20));

    VxToolTip tipWide("Play", 0, &window);
    tipWide.setTarget(wide);
    sendEnterLeave(wide, QEvent::Enter);
    const QPoint w = wide->mapToGlobal(QPoint(0, 0));
    QCOMPARE(tipWide.pos(), QPoint(w.x() - 100, w.y() - 20));

    VxToolTip tip2("Bias", 2, &window);
    tip2.setTarget(button);
    sendEnterLeave(button, QEvent::Enter);
    QCOMPARE(tip2.pos(), QPoint(b.x() - 100, b.y() - 20));

    // Other modes leave the position alone.
    VxToolTip tip5("x", 5, &window);
    tip5.move(7, 9);
    tip5.setTarget(button);
    sendEnterLeave(button, QEvent::Enter);
    QCOMPARE(tip5.pos(), QPoint(7, 9));

    // Events of other widgets are ignored; a null target changes nothing.
    tip5.setTarget(nullptr);
    QCOMPARE(tip5.target(), button);
}

void TstNotifications::toolTipTiming()
{
    QWidget window;
    auto *button = new QPushButton("Play", &window);
    button->setGeometry(100, 80, 60, 30);
    window.resize(300, 200);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    VxToolTip tip("Play", 0, &window);
    tip.setDelays(200, 300, 30);
    tip.setTarget(button);

    // Leaving before the delay: nothing shows.
    sendEnterLeave(button, QEvent::Enter);
    QTest::qWait(50);
    sendEnterLeave(button, QEvent::Leave);
    QTest::qWait(300);
    QVERIFY(tip.isHidden());

    // Staying: shows after the delay, then goes by itself.
    sendEnterLeave(button, QEvent::Enter);
    QTRY_VERIFY_WITH_TIMEOUT(tip.isVisible(), 1000);
    grabTo(&tip, "tooltip");
    QTRY_VERIFY_WITH_TIMEOUT(tip.isHidden(), 1000);

    // Leaving a shown tip hides it shortly after.
    sendEnterLeave(button, QEvent::Enter);
    QTRY_VERIFY_WITH_TIMEOUT(tip.isVisible(), 1000);
    sendEnterLeave(button, QEvent::Leave);
    QVERIFY(tip.isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(tip.isHidden(), 200);
}

void TstNotifications::toolTipProperties()
{
    VxToolTip tip("a", 0);
    QSignalSpy text(&tip, &VxToolTip::textChanged);
    QSignalSpy align(&tip, &VxToolTip::alignmentChanged);
    QSignalSpy xo(&tip, &VxToolTip::xOffsetChanged);
    QSignalSpy yo(&tip, &VxToolTip::yOffsetChanged);

    QVERIFY(tip.setProperty("text", "a"));
    QVERIFY(tip.setProperty("text", "A much longer tool tip text than before"));
    QCOMPARE(text.count(), 1);
    QVERIFY(tip.width() > 100); // grows with its text
    tip.setAlignment(Qt::AlignCenter);
    tip.setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    QCOMPARE(align.count(), 1);
    QCOMPARE(tip.property("alignment").value<Qt::Alignment>(), Qt::AlignLeft | Qt::AlignVCenter);
    tip.setXOffset(0);
    tip.setXOffset(4);
    tip.setXOffset(4);
    tip.setYOffset(-3);
    QCOMPARE(xo.count(), 1);
    QCOMPARE(yo.count(), 1);
    QCOMPARE(tip.property("y_offset").toInt(), -3);
}

void TstNotifications::popWidgetStacksContent()
{
    PopWidget pop;
    auto *a = new QLabel("first");
    auto *b = new QLabel("second");
    pop.addContentWidget(a);
    pop.addContentWidget(b);
    pop.addContentWidget(nullptr);
    QCOMPARE(a->parentWidget(), child<QWidget>(&pop, "widget"));
    QVERIFY(pop.testAttribute(Qt::WA_TranslucentBackground));
    pop.resize(200, 120);
    pop.show();
    QVERIFY(QTest::qWaitForWindowExposed(&pop));
    QVERIFY(a->geometry().bottom() < b->geometry().top());
    QCOMPARE(a->x(), 6);
    grabTo(&pop, "popwidget");
}

void TstNotifications::waitingWindowCentresAndAnimates()
{
    QWidget window;
    window.setGeometry(100, 100, 900, 700);
    auto *area = new QWidget(&window);
    area->setGeometry(50, 40, 700, 500);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    WaitingWin waiting(area);
    waiting.show();
    const QPoint a = area->mapToGlobal(QPoint(0, 0));
    QCOMPARE(waiting.pos(), QPoint(a.x() + (700 - waiting.width()) / 2,
                                    a.y() + (500 - waiting.height()) / 2));
    QCOMPARE(child<QLabel>(&waiting, "label_waiting")->size(), QSize(150, 150));
    if (waiting.movie()->isValid())
        QCOMPARE(waiting.movie()->state(), QMovie::Running);

    window.move(400, 300);
    waiting.recentre();
    const QPoint a2 = area->mapToGlobal(QPoint(0, 0));
    QCOMPARE(waiting.pos(), QPoint(a2.x() + (700 - waiting.width()) / 2,
                                    a2.y() + (500 - waiting.height()) / 2));
    grabTo(&waiting, "waiting");

    waiting.close();
    QCOMPARE(waiting.movie()->state(), QMovie::NotRunning);
    // Hidden: recentring does nothing.
    window.move(0, 0);
    const QPoint before = waiting.pos();
    waiting.recentre();
    QCOMPARE(waiting.pos(), before);
}

QTEST_MAIN(TstNotifications)
#include "tst_notifications.moc"
