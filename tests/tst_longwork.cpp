// Long work seen from the window: the waiting window's progress mode and Cancel, one
// waiting window for several jobs, closing the window during an export, and a quick
// second "Open Recording".
#include "app/appsettings.h"
#include "app/startup.h"
#include "processing/vxeventprocessor.h"
#include "support/qtesttime.h"
#include "support/syntheticevents.h"
#include "ui/mainwidget.h"
#include "widgets/vxmessagebox.h"
#include "widgets/vxthreehandleslider.h"
#include "widgets/waitingwin.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QTranslator>

#include <memory>

namespace {

struct Recording {
    QString path;
    uint64_t first = 0;
    uint64_t last = 0;
};

Recording makeRecording(const QString &path, uint64_t startUs, uint64_t durationUs)
{
    vxtest::SyntheticOptions opt;
    opt.seed = 3;
    opt.eventRate = 100000;
    opt.startTimestampUs = startUs;
    opt.durationUs = durationUs;
    const auto events = vxtest::generateEvents(opt);
    Recording r;
    if (!events.empty() && vxtest::writeRecording(path.toStdString(), events)) {
        r.path = path;
        r.first = events.front().timestamp;
        r.last = events.back().timestamp;
    }
    return r;
}

// Answers the next message box with its accept ("Open") or reject ("Close") button.
void answerMessageBox(QObject *context, bool accept)
{
    QTimer::singleShot(50, context, [accept] {
        if (auto *box = qobject_cast<VXMessageBox *>(QApplication::activeModalWidget()))
            QTest::mouseClick(box->findChild<QPushButton *>(accept ? "pb_open" : "pb_close"), Qt::LeftButton);
    });
}

// Saves the window over a grey picture like the image area, when VX_SCREENSHOT_DIR is set.
void saveShot(QWidget &w, const QString &name)
{
    const QString dir = qEnvironmentVariable("VX_SCREENSHOT_DIR");
    if (dir.isEmpty())
        return;
    QCoreApplication::processEvents(); // lay out what progress mode showed
    QImage shot(w.size(), QImage::Format_ARGB32);
    shot.fill(QColor("#707070"));
    QPainter painter(&shot);
    painter.drawPixmap(0, 0, w.grab());
    painter.end();
    shot.save(QDir(dir).filePath(name));
}

} // namespace

class TstLongWork : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    Recording m_long;

    template <typename T> static T *child(QObject &parent, const char *name)
    {
        return parent.findChild<T *>(QString::fromLatin1(name));
    }

    static WaitingWin *waitingWindow(MainWidget &w) { return w.findChild<WaitingWin *>(); }

    std::unique_ptr<MainWidget> openWindowWith(const Recording &r)
    {
        auto w = std::make_unique<MainWidget>();
        w->show();
        if (!QTest::qWaitForWindowExposed(w.get()))
            return nullptr;
        w->openRecording(r.path);
        QPushButton *play = child<QPushButton>(*w, "pb_play");
        if (!QTest::qWaitFor([&] { return w->timeSlider()->maximum() == r.last && play->isChecked(); }, vxtest::scaled(10000)))
            return nullptr;
        QTest::keyClick(w.get(), Qt::Key_Space); // pause
        return w;
    }

    // Starts an export of the whole recording and waits until it reports progress.
    static bool startExport(MainWidget &w, const Recording &r, const QString &out)
    {
        emit w.signalExportVideo(out, QFileInfo(out).path(), r.first, r.last);
        WaitingWin *waiting = waitingWindow(w);
        return QTest::qWaitFor([&] { return waiting->isVisible() && waiting->inProgressMode(); }, vxtest::scaled(10000));
    }

    QStringList outputFiles(const QString &dir) const { return QDir(dir).entryList(QDir::Files | QDir::Hidden); }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(m_dir.isValid());
        QVERIFY(registerApplicationFont(":/font/NotoSansSC-Medium.ttf")); // as the program starts
        m_long = makeRecording(m_dir.filePath("long.raw"), 1000000, 8000000);
        QVERIFY(!m_long.path.isEmpty());
    }

    void waitingWindowProgressMode()
    {
        QWidget anchor;
        anchor.resize(700, 500);
        anchor.show();
        WaitingWin waiting(&anchor);
        auto *percent = child<QLabel>(waiting, "lb_progress");
        auto *cancel = child<QPushButton>(waiting, "pb_cancel");
        QSignalSpy requests(&waiting, &WaitingWin::cancelRequested);
        waiting.show();
        QVERIFY(!percent->isVisible() && !cancel->isVisible()); // the plain spinner

        waiting.setProgress(0.426);
        QVERIFY(waiting.inProgressMode());
        QVERIFY(percent->isVisible() && cancel->isVisible());
        QCOMPARE(percent->text(), QString("42%"));
        QCOMPARE(cancel->text(), QString("Cancel"));
        waiting.setProgress(7.0);
        QCOMPARE(percent->text(), QString("100%"));
        saveShot(waiting, "waiting-progress-en.png");

        QTest::mouseClick(cancel, Qt::LeftButton);
        QTest::mouseClick(cancel, Qt::LeftButton);
        QCOMPARE(requests.count(), 1);

        // Closing ends progress mode: the next work starts with the spinner only.
        waiting.close();
        QVERIFY(!waiting.inProgressMode());
        waiting.show();
        QVERIFY(!percent->isVisible() && !cancel->isVisible());
        waiting.setProgress(0.1);
        QVERIFY(cancel->isEnabled());
        waiting.close();

        QTranslator chinese;
        QVERIFY(chinese.load(":/app_zh.qm"));
        QCoreApplication::installTranslator(&chinese);
        WaitingWin translated(&anchor);
        translated.show();
        translated.setProgress(0.67);
        QCOMPARE(child<QPushButton>(translated, "pb_cancel")->text(), QString::fromUtf8("取消"));
        saveShot(translated, "waiting-progress-zh.png");
        QCoreApplication::removeTranslator(&chinese);
    }

    // Two jobs under way: the first to end leaves the window up for the other.
    void waitingWindowStaysUntilTheLastJobEnds()
    {
        MainWidget w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        WaitingWin *waiting = waitingWindow(w);
        w.slotSetWaitWinStatus(true);
        w.slotSetWaitWinStatus(true);
        w.slotSetWaitWinStatus(false);
        QVERIFY(waiting->isVisible());
        w.slotSetWaitWinStatus(false);
        QVERIFY(!waiting->isVisible());
        w.slotSetWaitWinStatus(false); // an unmatched end
        w.slotSetWaitWinStatus(true);
        QVERIFY(waiting->isVisible());
        w.slotSetWaitWinStatus(false);
        QVERIFY(!waiting->isVisible());
    }

    void cancelInTheWaitingWindowStopsTheExport()
    {
        auto w = openWindowWith(m_long);
        QVERIFY(w);
        const QString outDir = m_dir.filePath("cancelled");
        QVERIFY(QDir().mkpath(outDir));
        QSignalSpy tips(w->eventProcessor(), &VxEventProcessor::signalShowLeftBottomTips);
        QVERIFY(startExport(*w, m_long, outDir + "/video.mp4"));
        WaitingWin *waiting = waitingWindow(*w);
        QTest::mouseClick(child<QPushButton>(*waiting, "pb_cancel"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!waiting->isVisible(), vxtest::scaled(5000));
        QVERIFY(!w->eventProcessor()->hasRangeJobs());
        QTest::qWait(100);
        QCOMPARE(tips.count(), 0);
        QCOMPARE(outputFiles(outDir), QStringList());
    }

    void closingDuringAnExportAsks()
    {
        auto w = openWindowWith(m_long);
        QVERIFY(w);
        const QString outDir = m_dir.filePath("closing");
        QVERIFY(QDir().mkpath(outDir));

        // Keep working: the window stays, the export goes on to the end. The close
        // button asks to close twice (its own slot and the window agent): one question.
        QVERIFY(startExport(*w, m_long, outDir + "/kept.mp4"));
        int questions = 0;
        bool waitingOverQuestion = false;
        QTimer::singleShot(50, w.get(), [&] {
            if (auto *box = qobject_cast<VXMessageBox *>(QApplication::activeModalWidget())) {
                ++questions;
                waitingOverQuestion = waitingWindow(*w)->isVisible();
                QTest::mouseClick(box->findChild<QPushButton *>("pb_close"), Qt::LeftButton);
            }
        });
        QVERIFY(!w->close());
        QVERIFY(!w->close());
        QTest::qWait(300);
        QCOMPARE(questions, 1);
        QVERIFY(!waitingOverQuestion);
        QVERIFY(w->isVisible());
        QVERIFY(w->eventProcessor()->hasRangeJobs());
        QVERIFY(waitingWindow(*w)->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!waitingWindow(*w)->isVisible(), vxtest::scaled(60000));
        QCOMPARE(outputFiles(outDir), QStringList{"kept.mp4"});
        QVERIFY(QFile::remove(outDir + "/kept.mp4"));

        // Cancel and quit: the window closes and goes within a second, leaving nothing.
        QVERIFY(startExport(*w, m_long, outDir + "/quit.mp4"));
        answerMessageBox(w.get(), true);
        QElapsedTimer clock;
        clock.start();
        w->close();
        QTRY_VERIFY_WITH_TIMEOUT(!w->isVisible(), vxtest::scaled(5000));
        w.reset();
        const qint64 ms = clock.elapsed();
        QVERIFY2(ms < 1000, qPrintable(QString("closing took %1 ms").arg(ms)));
        QCOMPARE(outputFiles(outDir), QStringList());
    }

    // The window without work to stop closes without asking.
    void closingIdleDoesNotAsk()
    {
        MainWidget w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(w.close());
        QVERIFY(QApplication::activeModalWidget() == nullptr);
    }

    // A second "Open Recording" right behind the first: the second file plays, with
    // its range, and the waiting window is gone.
    void quickSecondOpenWins()
    {
        const Recording a = makeRecording(m_dir.filePath("a.raw"), 1000000, 1000000);
        const Recording b = makeRecording(m_dir.filePath("b.raw"), 20000000, 2000000);
        MainWidget w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.openRecording(a.path);
        QThread::msleep(300); // the first load ends while the event loop is busy
        w.openRecording(b.path);
        QTRY_VERIFY_WITH_TIMEOUT(w.eventProcessor()->isPlaying(), vxtest::scaled(10000));
        QCOMPARE(w.timeSlider()->minimum(), b.first);
        QCOMPARE(w.timeSlider()->maximum(), b.last);
        QVERIFY(child<QPushButton>(w, "pb_play")->isChecked());
        QVERIFY(!waitingWindow(w)->isVisible());
        QTRY_VERIFY(w.timeSlider()->centerValue() > b.first);
    }
};

QTEST_MAIN(TstLongWork)
#include "tst_longwork.moc"
