#include <QtTest>
#include <QDesktopServices>
#include <QFontDatabase>
#include <QPainter>
#include <QLabel>
#include <QMovie>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTranslator>

#include "widgets/popwidget.h"
#include "widgets/vxfilepathreminderform.h"
#include "widgets/vxmessagebox.h"
#include "widgets/vxtooltip.h"
#include "widgets/waitingwin.h"
#include "support/qtesttime.h"

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
    if (dir.isEmpty())
        return;
    // Let pending layout requests run, as they would before a real paint.
    QCoreApplication::processEvents();
    w->grab().save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
}

// The Chinese texts of these forms, for looking at the layout in both languages.
class TableTranslator : public QTranslator
{
public:
    QString translate(const char *context, const char *source, const char *, int) const override
    {
        static const QHash<QString, QString> zh = {
            {"VxFilePathReminderForm|Success", "成功"},
            {"VxFilePathReminderForm|Save File Success!", "保存文件成功！"},
            {"VxFilePathReminderForm|Open Dir", "打开目录"},
            {"VXMessageBox|Title", "标题"},
            {"VXMessageBox|Close", "关闭"},
            {"VXMessageBox|Open", "打开"},
        };
        return zh.value(QString::fromLatin1(context) + QLatin1Char('|') + QString::fromUtf8(source));
    }
    bool isEmpty() const override { return false; }
};

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
    void visibleToastDoesNotKeepProgramRunning();
    void messageBoxResults();
    void toolTipPlacement();
    void toolTipTiming();
    void toolTipProperties();
    void waitingWindowCentresAndAnimates();
    void renderForLooking();
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
    QTest::mouseClick(openDir, Qt::LeftButton);
    QCOMPARE(catcher.urls.size(), 1);
    QCOMPARE(QDir(catcher.urls.first().toLocalFile()), QDir(dir.path()));
    QVERIFY(toast->isVisible()); // the toast stays

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
    QTRY_VERIFY_WITH_TIMEOUT(guard.isNull(), vxtest::scaled(2000));
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

void TstNotifications::visibleToastDoesNotKeepProgramRunning()
{
    QWidget window;
    window.resize(400, 300);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QPointer<VxFilePathReminderForm> toast = VxFilePathReminderForm::showAt(&window, "saved");
    QVERIFY(toast && toast->isVisible());

    // The user closes the main window while the toast is still up: the
    // event loop must end then, not when the toast's 5 s are over.
    bool forced = false;
    QTimer watchdog;
    watchdog.setSingleShot(true);
    connect(&watchdog, &QTimer::timeout, this, [&] {
        forced = true;
        QCoreApplication::quit();
    });
    watchdog.start(3000);
    QTimer::singleShot(0, &window, &QWidget::close);
    QApplication::exec();
    QVERIFY(!forced);
    // The end of the program takes the toast with it.
    QVERIFY(toast.isNull());
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
    QTRY_VERIFY_WITH_TIMEOUT(tip.isVisible(), vxtest::scaled(1000));
    QTRY_VERIFY_WITH_TIMEOUT(tip.isHidden(), vxtest::scaled(1000));

    // Leaving a shown tip hides it shortly after.
    sendEnterLeave(button, QEvent::Enter);
    QTRY_VERIFY_WITH_TIMEOUT(tip.isVisible(), vxtest::scaled(1000));
    sendEnterLeave(button, QEvent::Leave);
    QVERIFY(tip.isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(tip.isHidden(), vxtest::scaled(200));
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

    waiting.close();
    QCOMPARE(waiting.movie()->state(), QMovie::NotRunning);
    // Hidden: recentring does nothing.
    window.move(0, 0);
    const QPoint before = waiting.pos();
    waiting.recentre();
    QCOMPARE(waiting.pos(), before);
}

void TstNotifications::renderForLooking()
{
    if (qEnvironmentVariableIsEmpty("VX_GRAB_DIR"))
        QSKIP("set VX_GRAB_DIR to save screenshots");
    QFontDatabase::addApplicationFont(":/font/NotoSansSC-Medium.ttf");

    for (const bool chinese : {false, true}) {
        TableTranslator translator;
        if (chinese)
            QCoreApplication::installTranslator(&translator);
        const QString lang = chinese ? "zh" : "en";
        const QString tips = chinese ? "录制文件已保存" : "Recording file saved";
        for (int type : {0, 1, 2}) {
            VxFilePathReminderForm toast(tips, type, "/tmp", nullptr);
            toast.show();
            grabTo(&toast, QString("look_toast_%1_%2").arg(type).arg(lang));
        }
        QScopedPointer<VxFilePathReminderForm> plain(VxFilePathReminderForm::showAt(
            nullptr,
            chinese ? QString("手动标定参数已成功写入！")
                    : QString("Manual calibration parameters were written successfully!")));
        grabTo(plain.data(), "look_toast_long_" + lang);

        VXMessageBox box(chinese ? "固件需要升级，是否在浏览器中打开下载页面？"
                                 : "The camera firmware needs to be upgraded! Is it open in the browser?",
                         chinese ? "提示" : "Tips", chinese ? "打开" : "Open", chinese ? "以后" : "Later");
        box.show();
        grabTo(&box, "look_messagebox_" + lang);
        VXMessageBox formTexts(QCoreApplication::translate("VXMessageBox", "Lorem Ipsum is simply dummy text of the printing and typesetting industry."),
                               QCoreApplication::translate("VXMessageBox", "Title"),
                               QCoreApplication::translate("VXMessageBox", "Open"),
                               QCoreApplication::translate("VXMessageBox", "Close"));
        formTexts.show();
        grabTo(&formTexts, "look_messagebox_form_" + lang);

        VxToolTip tip(chinese ? "播放/暂停" : "Play/Stop", 0);
        tip.show();
        grabTo(&tip, "look_tooltip_" + lang);
        VxToolTip longTip(chinese ? "选择后在播放结束时自动重新播放" : "Select to automatically replay at the end of the playback", 2);
        longTip.show();
        grabTo(&longTip, "look_tooltip_long_" + lang);

        if (chinese)
            QCoreApplication::removeTranslator(&translator);
    }

    PopWidget pop;
    pop.addContentWidget(new QLabel("Accumulation time"));
    pop.addContentWidget(new QLabel("Slow Rate"));
    pop.resize(200, 80);
    pop.show();
    grabTo(&pop, "look_popwidget");

    QWidget host;
    host.setStyleSheet("background: #707070;");
    host.resize(500, 400);
    host.show();
    WaitingWin waiting(&host);
    waiting.show();
    QTest::qWait(200);
    // The waiting window is translucent: look at it over the image area.
    QPixmap over = host.grab();
    QPainter painter(&over);
    painter.drawPixmap(waiting.pos() - host.mapToGlobal(QPoint(0, 0)), waiting.grab());
    painter.end();
    over.save(qEnvironmentVariable("VX_GRAB_DIR") + "/look_waiting.png");
}

QTEST_MAIN(TstNotifications)
#include "tst_notifications.moc"
