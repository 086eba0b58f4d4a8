#include "app/appsettings.h"
#include "app/vxutils.h"
#include "camera/dvsfilereader.h"
#include "processing/vxeventprocessor.h"
#include "support/qtesttime.h"
#include "support/syntheticevents.h"
#include "ui/mainwidget.h"
#include "ui/vxcutrawfile.h"
#include "ui/vxexportvideoui.h"
#include "widgets/vxfilepathreminderform.h"
#include "widgets/vxthreehandleslider.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

struct Recording {
    QString path;
    uint64_t first = 0;
    uint64_t last = 0;
    std::vector<vexadin::Event2D> events;
};

Recording makeRecording(const QString &path, uint64_t startUs, uint64_t durationUs, uint64_t seed = 7)
{
    vxtest::SyntheticOptions opt;
    opt.seed = seed;
    opt.eventRate = 300000;
    opt.startTimestampUs = startUs;
    opt.durationUs = durationUs;
    Recording r;
    r.path = path;
    r.events = vxtest::generateEvents(opt);
    if (!r.events.empty() && vxtest::writeRecording(path.toStdString(), r.events)) {
        r.first = r.events.front().timestamp;
        r.last = r.events.back().timestamp;
    }
    return r;
}

QString fmt(uint64_t us)
{
    return QString::fromStdString(formatTimestampUs(us));
}

// Closes whatever modal dialog a faulty command might open, so a test fails
// instead of hanging.
void closeModalsSoon(QObject *context)
{
    QTimer::singleShot(300, context, [] {
        if (QWidget *modal = QApplication::activeModalWidget())
            modal->close();
    });
}

} // namespace

class TstMainWidget : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    Recording m_plain;

    std::unique_ptr<MainWidget> openWindow()
    {
        auto w = std::make_unique<MainWidget>();
        w->show();
        if (!QTest::qWaitForWindowExposed(w.get()))
            return nullptr;
        return w;
    }

    template <typename T> static T *child(MainWidget &w, const char *name)
    {
        return w.findChild<T *>(QString::fromLatin1(name));
    }

    // Opens the plain recording and waits until its range arrived and playback runs.
    static bool openAndWait(MainWidget &w, const Recording &r)
    {
        w.openRecording(r.path);
        QPushButton *play = child<QPushButton>(w, "pb_play");
        return QTest::qWaitFor([&] {
            return w.timeSlider()->minimum() == r.first && w.timeSlider()->maximum() == r.last && play->isChecked();
        }, vxtest::scaled(5000));
    }

    static VxFilePathReminderForm *visibleToast()
    {
        for (QWidget *top : QApplication::topLevelWidgets()) {
            if (auto *toast = qobject_cast<VxFilePathReminderForm *>(top); toast && toast->isVisible())
                return toast;
        }
        return nullptr;
    }

    static bool pause(MainWidget &w)
    {
        QTest::keyClick(&w, Qt::Key_Space);
        return !child<QPushButton>(w, "pb_play")->isChecked();
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(m_dir.isValid());
        AppSettings &settings = AppSettings::instance();
        settings.outputRawFilePath = m_dir.path();
        settings.videoSavePath = m_dir.path();
        m_plain = makeRecording(m_dir.filePath("plain.raw"), 1000000, 3000000);
        QVERIFY(m_plain.last > m_plain.first);
    }

    void startsEmptyWithControlsDisabled()
    {
        auto w = openWindow();
        QVERIFY(w);
        QCOMPARE(w->sourceMode(), int(MainWidget::Empty));
        QVERIFY(!w->timeSlider()->isEnabled());
        for (const char *name : {"pb_prv", "pb_next", "pb_stop", "pb_loop"})
            QVERIFY2(!child<QPushButton>(*w, name)->isEnabled(), name);
        QCOMPARE(child<QLabel>(*w, "label_time")->text(), QString("--/ --"));
        QCOMPARE(child<QLabel>(*w, "lb_status_bar")->text(), QString("Bandwidth: Mbps"));
        QCOMPARE(w->size(), QSize(1000, 650));
        // Nothing to play yet: Space and a click leave the button in its play look.
        QTest::keyClick(w.get(), Qt::Key_Space);
        QVERIFY(!child<QPushButton>(*w, "pb_play")->isChecked());
        child<QPushButton>(*w, "pb_play")->click();
        QVERIFY(!child<QPushButton>(*w, "pb_play")->isChecked());
    }

    void openingAPlainRecordingPlaysIt()
    {
        auto w = openWindow();
        QVERIFY(w);
        QSignalSpy frames(w->eventProcessor(), &VxEventProcessor::signalEventImage);
        QVERIFY(openAndWait(*w, m_plain));
        QCOMPARE(w->sourceMode(), int(MainWidget::RawRecording));
        QCOMPARE(AppSettings::instance().inputRawFilePath, m_dir.path());
        QVERIFY(w->timeSlider()->isEnabled());
        QVERIFY(child<QPushButton>(*w, "pb_next")->isEnabled());

        QTRY_VERIFY_WITH_TIMEOUT(frames.count() >= 3, vxtest::scaled(5000));
        const QImage frame = frames.last().at(0).value<QImage>();
        QCOMPARE(frame.size(), QSize(1280, 720));
        // The time label follows the position and names the end of the recording.
        QTRY_VERIFY(child<QLabel>(*w, "label_time")->text().endsWith("/" + fmt(m_plain.last)));
        QVERIFY(w->timeSlider()->centerValue() > m_plain.first);
        QVERIFY(!child<QLabel>(*w, "label_show_timestamp_info")->text().isEmpty());
        QVERIFY(pause(*w));
    }

    void spaceAndArrowKeysDrivePlayback()
    {
        auto w = openWindow();
        QVERIFY(w);
        QVERIFY(openAndWait(*w, m_plain));
        QVERIFY(pause(*w));
        QTest::qWait(100); // let the last queued position arrive
        VxThreeHandleSlider *slider = w->timeSlider();
        const uint64_t before = slider->centerValue();

        QTest::keyClick(w.get(), Qt::Key_Right);
        QTRY_COMPARE(slider->centerValue(), before + 30303);
        QTest::keyClick(w.get(), Qt::Key_Right);
        QTRY_COMPARE(slider->centerValue(), before + 2 * 30303);
        QTest::keyClick(w.get(), Qt::Key_Left);
        QTRY_COMPARE(slider->centerValue(), before + 30303);
        QVERIFY(!child<QPushButton>(*w, "pb_play")->isChecked());

        // Space again resumes playback from there.
        QTest::keyClick(w.get(), Qt::Key_Space);
        QVERIFY(child<QPushButton>(*w, "pb_play")->isChecked());
        QTRY_VERIFY(slider->centerValue() > before + 2 * 30303);
        QVERIFY(pause(*w));
    }

    void clickingTheSliderSeeks()
    {
        auto w = openWindow();
        QVERIFY(w);
        QVERIFY(openAndWait(*w, m_plain));
        QVERIFY(pause(*w));
        VxThreeHandleSlider *slider = w->timeSlider();
        QSignalSpy clicks(slider, &VxThreeHandleSlider::centerValueTrackClick);
        // A quarter of the way along a track that starts at pixel 13.
        const int x = 13 + (slider->width() - 12) / 4;
        QVERIFY(!slider->centerHandleRect().contains(QPoint(x, slider->height() / 2)));
        QTest::mouseClick(slider, Qt::LeftButton, {}, QPoint(x, slider->height() / 2));
        QCOMPARE(clicks.count(), 1);
        const uint64_t target = clicks.last().at(0).toULongLong();
        QVERIFY(target > m_plain.first && target < m_plain.last);
        // The engine shows the window that starts at the target and reports its end.
        QTRY_COMPARE(child<QLabel>(*w, "label_show_timestamp_info")->text(), fmt(target + 33333));
    }

    void startAndEndPointsBoundExportAndCut()
    {
        auto w = openWindow();
        QVERIFY(w);
        QVERIFY(openAndWait(*w, m_plain));
        QVERIFY(pause(*w));
        VxThreeHandleSlider *slider = w->timeSlider();
        QSignalSpy lower(slider, &VxThreeHandleSlider::lowerValueChanged);

        w->startEndPointAction()->trigger();
        QVERIFY(w->startEndPointAction()->isChecked());
        QCOMPARE(slider->handleMode(), 3);
        QCOMPARE(lower.count(), 1);
        QCOMPARE(lower.last().at(0).toULongLong(), quint64(m_plain.first));

        // Seek to the middle, then drag the start handle towards it.
        QTest::mouseClick(slider, Qt::LeftButton, {}, QPoint(slider->width() / 2, slider->height() / 2));
        QTRY_VERIFY(slider->centerValue() > m_plain.first + (m_plain.last - m_plain.first) / 3);
        const QPoint grab = slider->lowerHandleRect().center();
        QTest::mousePress(slider, Qt::LeftButton, {}, grab);
        QTest::mouseMove(slider, grab + QPoint(slider->width() / 4, 0));
        QTest::mouseRelease(slider, Qt::LeftButton, {}, grab + QPoint(slider->width() / 4, 0));
        QVERIFY(slider->rangeStart() > m_plain.first);
        QVERIFY(slider->rangeStart() <= slider->centerValue());
        QCOMPARE(slider->rangeEnd(), m_plain.last);

        VxExportVideoUI exportDialog;
        w->prepareExportDialog(exportDialog);
        QCOMPARE(exportDialog.getStartTime(), slider->rangeStart());
        QCOMPARE(exportDialog.getEndTime(), m_plain.last);
        QCOMPARE(exportDialog.getSaveDir(), AppSettings::instance().videoSavePath);
        QVERIFY(exportDialog.getOutputPath().endsWith(".mp4"));
        QSignalSpy exports(w.get(), &MainWidget::signalExportVideo);
        exportDialog.setFileName("range.mp4");
        w->exportFromDialog(exportDialog);
        QCOMPARE(exports.count(), 1);
        QCOMPARE(exports.last().at(0).toString(), m_dir.path() + "/range.mp4");
        QCOMPARE(exports.last().at(1).toString(), m_dir.path());
        QCOMPARE(exports.last().at(2).toULongLong(), quint64(slider->rangeStart()));
        QCOMPARE(exports.last().at(3).toULongLong(), quint64(m_plain.last));

        // Switching the points off gives the whole recording back.
        w->startEndPointAction()->trigger();
        QCOMPARE(slider->handleMode(), 1);
        QCOMPARE(lower.last().at(0).toULongLong(), quint64(m_plain.first));
        VxCutRawFile cutDialog;
        w->prepareCutDialog(cutDialog);
        QCOMPARE(cutDialog.getStartTime(), m_plain.first);
        QCOMPARE(cutDialog.getSaveDir(), AppSettings::instance().outputRawFilePath);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_dir.filePath("range.mp4")), vxtest::scaled(60000));
    }

    void fileCommandsNeedAPlainRecording()
    {
        auto w = openWindow();
        QVERIFY(w);
        QSignalSpy tips(w.get(), &MainWidget::signalShowLeftBottomTips);
        QSignalSpy exports(w.get(), &MainWidget::signalExportVideo);
        QSignalSpy cuts(w.get(), &MainWidget::signalCutRawFile);
        closeModalsSoon(w.get());
        w->slotSaveAs();
        closeModalsSoon(w.get());
        w->slotCutRecording();
        QCOMPARE(tips.count(), 2);
        for (const QList<QVariant> &args : tips) {
            QCOMPARE(args.at(0).toString(), QString("Please open a raw file first."));
            QCOMPARE(args.at(1).value<VxMessageType>(), VxMessageType::Warning);
            QVERIFY(args.at(2).toString().isEmpty());
        }
        QCOMPARE(exports.count() + cuts.count(), 0);
    }

    void acceptedCutWritesTheRange()
    {
        auto w = openWindow();
        QVERIFY(w);
        QVERIFY(openAndWait(*w, m_plain));
        QVERIFY(pause(*w));
        QSignalSpy tips(w->eventProcessor(), &VxEventProcessor::signalShowLeftBottomTips);

        // Through the menu command and its modal dialog, as a user would.
        const QString outDir = m_dir.filePath("cuts");
        QVERIFY(QDir().mkpath(outDir));
        QTimer::singleShot(200, w.get(), [&] {
            auto *dialog = qobject_cast<VxCutRawFile *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            dialog->findChild<QLineEdit *>("le_start_time")->setText(QString::number(m_plain.first + 500000));
            dialog->findChild<QLineEdit *>("le_end_time")->setText(QString::number(m_plain.first + 1500000));
            dialog->findChild<QLineEdit *>("le_save_file_path")->setText(outDir);
            dialog->findChild<QLineEdit *>("le_file_name")->setText("part.raw");
            QTest::mouseClick(dialog->findChild<QPushButton *>("pb_save"), Qt::LeftButton);
        });
        closeModalsSoon(w.get());
        w->slotCutRecording();

        const QString outPath = outDir + "/part.raw";
        QTRY_VERIFY_WITH_TIMEOUT(tips.count() == 1, vxtest::scaled(10000));
        QCOMPARE(tips.last().at(0).toString(), QString("Export raw file success!"));
        QCOMPARE(tips.last().at(2).toString(), outDir);

        auto reader = vexadin::DvsFileReader::createFileReader(outPath.toStdString());
        QVERIFY(reader);
        QVERIFY(reader->open());
        const uint64_t from = m_plain.first + 500000, to = m_plain.first + 1500000;
        size_t expected = 0;
        for (const auto &e : m_plain.events)
            expected += (e.timestamp >= from && e.timestamp <= to) ? 1 : 0;
        uint64_t cutFirst = 0, cutLast = 0;
        QVERIFY(reader->getStartTimestamp(cutFirst) && reader->getEndTimestamp(cutLast));
        QVERIFY(cutFirst >= from && cutLast <= to);
        auto all = reader->readRange(cutFirst, cutLast - cutFirst + 1);
        QVERIFY(all);
        const size_t got = all->size();
        QCOMPARE(got, expected);
    }

    void unusableCutRangesWriteNothing()
    {
        auto w = openWindow();
        QVERIFY(w);
        QVERIFY(openAndWait(*w, m_plain));
        QVERIFY(pause(*w));
        QSignalSpy tips(w->eventProcessor(), &VxEventProcessor::signalShowLeftBottomTips);
        QSignalSpy loading(w->eventProcessor(), &VxEventProcessor::signalLoadingStatus);

        const struct {
            const char *name;
            uint64_t start, end;
        } cases[] = {
            {"inverted.raw", m_plain.first + 1000000, m_plain.first + 10},
            {"beyond.raw", m_plain.last + 1000000, m_plain.last + 2000000},
        };
        for (const auto &c : cases) {
            VxCutRawFile dialog;
            w->prepareCutDialog(dialog);
            dialog.setStartTime(c.start);
            dialog.setEndTime(c.end);
            dialog.setSavePath(m_dir.path());
            dialog.setFileName(c.name);
            loading.clear();
            w->cutFromDialog(dialog);
            QTRY_VERIFY(loading.count() >= 2 && !loading.last().at(0).toBool());
            QVERIFY2(!QFile::exists(m_dir.filePath(c.name)), c.name);
        }
        QTest::qWait(50);
        QCOMPARE(tips.count(), 0);
    }

    void badFilesLeaveTheWindowUsable()
    {
        auto w = openWindow();
        QVERIFY(w);
        const QString text = m_dir.filePath("notes.raw");
        {
            QFile f(text);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("this is not an event recording\n");
        }
        const QString truncated = m_dir.filePath("truncated.raw");
        {
            QFile src(m_plain.path);
            QVERIFY(src.open(QIODevice::ReadOnly));
            QFile dst(truncated);
            QVERIFY(dst.open(QIODevice::WriteOnly));
            dst.write(src.read(src.size() / 2));
        }
        QSignalSpy loading(w->eventProcessor(), &VxEventProcessor::signalLoadingStatus);
        for (const QString &path : {text, m_dir.filePath("vanished.raw"), truncated}) {
            w->openRecording(path);
            QTest::qWait(200);
            // Never left waiting: every load that started has ended.
            QTRY_VERIFY(loading.count() % 2 == 0);
            QVERIFY(loading.isEmpty() || !loading.last().at(0).toBool());
            if (child<QPushButton>(*w, "pb_play")->isChecked())
                QVERIFY(pause(*w));
        }
        // Steps and seeks on whatever is (not) loaded do not crash.
        QTest::keyClick(w.get(), Qt::Key_Right);
        QTest::keyClick(w.get(), Qt::Key_Left);

        // A good recording still opens afterwards.
        QVERIFY(openAndWait(*w, m_plain));
        QVERIFY(pause(*w));
    }

    void windowIsInPlaceBeforeItIsMapped()
    {
        // Moving a window between creating and mapping its native window
        // races with a reparenting window manager: the first show must find
        // the window centred already.
        struct MovesAfterShow : QObject {
            bool shown = false;
            int moves = 0;
            bool eventFilter(QObject *, QEvent *event) override
            {
                if (event->type() == QEvent::Show)
                    shown = true;
                else if (event->type() == QEvent::Move && shown)
                    ++moves;
                return false;
            }
        } watch;
        MainWidget w;
        w.installEventFilter(&watch);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTest::qWait(20);
        QCOMPARE(watch.moves, 0);
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        QCOMPARE(w.pos(), QPoint(area.width() / 2 - 500, area.height() / 2 - 325));

        // Shown again (restored from minimised): centred once more.
        w.move(w.pos() + QPoint(40, 30));
        QShowEvent shownAgain;
        QCoreApplication::sendEvent(&w, &shownAgain);
        QCOMPARE(w.pos(), w.centredPosition());
    }

    void commandLineOpensTheFirstFileLikeTheOpenDialog()
    {
        auto w = openWindow();
        QVERIFY(w);
        QSignalSpy opened(w.get(), &MainWidget::signalOpenRawFile);
        QSignalSpy tips(w.get(), &MainWidget::signalShowLeftBottomTips);
        const QString startDir = QDir::currentPath();
        QVERIFY(QDir::setCurrent(m_dir.path()));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("ignored: \"other.raw\"$"));
        w->openFromCommandLine({"plain.raw", "other.raw"});
        QDir::setCurrent(startDir);

        // A relative name is taken from where the program was started.
        QCOMPARE(opened.count(), 1);
        QCOMPARE(opened.at(0).at(0).toString(), QFileInfo(m_plain.path).absoluteFilePath());
        QCOMPARE(w->sourceMode(), int(MainWidget::RawRecording));
        QCOMPARE(AppSettings::instance().inputRawFilePath, QFileInfo(m_plain.path).absolutePath());
        QTRY_COMPARE_WITH_TIMEOUT(w->timeSlider()->maximum(), m_plain.last, vxtest::scaled(5000));
        QCOMPARE(tips.count(), 1);
        QCOMPARE(tips.at(0).at(1).value<VxMessageType>(), VxMessageType::Warning);

        // The warning toast stands on the window's bottom-left corner.
        VxFilePathReminderForm *toast = nullptr;
        QTRY_VERIFY((toast = visibleToast()) != nullptr);
        QCOMPARE(toast->frameGeometry().bottomLeft(), w->mapToGlobal(QPoint(0, w->height() - 1)));
        QTRY_VERIFY(child<QPushButton>(*w, "pb_play")->isChecked());
        QVERIFY(pause(*w));

        // What cannot be opened ends as it would from the Open dialog.
        QTest::ignoreMessage(QtDebugMsg, "not raw file.");
        w->openFromCommandLine({m_dir.filePath("vanished.raw")});
        QCOMPARE(opened.count(), 2);
        w->openFromCommandLine({});
        QCOMPARE(opened.count(), 2);
    }

    void sidePanelsAreExclusive()
    {
        auto w = openWindow();
        QVERIFY(w);
        auto *frame = child<QFrame>(*w, "frame_setting");
        auto *sideBar = child<QWidget>(*w, "widget_side_bar");
        auto *display = child<QPushButton>(*w, "pb_fold_setting");
        auto *dvs = child<QPushButton>(*w, "pb_fold_dvs_setting");
        auto *aps = child<QPushButton>(*w, "pb_fold_aps_setting");
        // The display panel is there from the start and open.
        QCOMPARE(frame->maximumWidth(), 500);

        QWidget *displayPanel = w->sidePanel(MainWidget::DisplayPanel);
        QVERIFY(displayPanel);
        // The DVS and APS panels come with the window, closed.
        QWidget *dvsPanel = w->sidePanel(MainWidget::DvsPanel);
        QWidget *apsPanel = w->sidePanel(MainWidget::ApsPanel);
        QVERIFY(dvsPanel && apsPanel);
        QVERIFY(display->isChecked());
        QVERIFY(displayPanel->isVisible() && !apsPanel->isVisible() && !dvsPanel->isVisible());
        QCOMPARE(frame->maximumWidth(), 500);

        QTest::mouseClick(aps, Qt::LeftButton);
        QVERIFY(aps->isChecked() && !display->isChecked());
        QVERIFY(apsPanel->isVisible() && !displayPanel->isVisible());
        QTest::mouseClick(dvs, Qt::LeftButton);
        QVERIFY(dvs->isChecked() && !aps->isChecked());
        QVERIFY(dvsPanel->isVisible() && !apsPanel->isVisible());
        QTest::mouseClick(dvs, Qt::LeftButton);
        QVERIFY(!dvs->isChecked() && !dvsPanel->isVisible());
        QCOMPARE(frame->maximumWidth(), sideBar->width());
    }

    void liveCameraUiDisablesTheRangeControls()
    {
        auto w = openWindow();
        QVERIFY(w);
        QVERIFY(openAndWait(*w, m_plain));
        QVERIFY(pause(*w));
        emit w->setShowCameraLiveUI(true);
        QVERIFY(!w->timeSlider()->isEnabled());
        QVERIFY(!child<QPushButton>(*w, "pb_loop")->isEnabled());
        QCOMPARE(child<QLabel>(*w, "label_time")->text(), QString("--/--"));
        emit w->setShowCameraLiveUI(false);
        QVERIFY(w->timeSlider()->isEnabled());
        QVERIFY(child<QPushButton>(*w, "pb_prv")->isEnabled());
    }

    void maximiseButtonTogglesOnceAndRestyles()
    {
        auto w = openWindow();
        QVERIFY(w);
        auto *max = child<QPushButton>(*w, "pb_win_max");
        auto *titleBar = child<QWidget>(*w, "widget_title_bar");
        QTest::mouseClick(max, Qt::LeftButton);
        QTRY_VERIFY(w->isMaximized());
        QVERIFY(titleBar->styleSheet().contains("border-top-left-radius:0px"));
        QTRY_COMPARE(max->property("type").toString(), QString("restore"));
        QTest::mouseClick(max, Qt::LeftButton);
        QTRY_VERIFY(!w->isMaximized());
        QVERIFY(titleBar->styleSheet().contains("border-top-left-radius:6px"));
        QTRY_COMPARE(max->property("type").toString(), QString("maxsize"));
    }

    void languageSwitchRule()
    {
        QCOMPARE(MainWidget::switchedLanguage("en"), QString("zh"));
        QCOMPARE(MainWidget::switchedLanguage("zh"), QString("en"));
        QCOMPARE(MainWidget::switchedLanguage(""), QString("en"));
        QCOMPARE(MainWidget::switchedLanguage("EN"), QString("en"));

        auto w = openWindow();
        QVERIFY(w);
        AppSettings &settings = AppSettings::instance();
        settings.language = "en";
        w->saveSwitchedLanguage();
        QCOMPARE(settings.language, QString("zh"));
        QSettings stored(settings.configDir + "/config.ini", QSettings::IniFormat);
        QCOMPARE(stored.value("Setting/language").toString(), QString("zh"));
        w->saveSwitchedLanguage();
        QCOMPARE(settings.language, QString("en"));
    }

    void fusionRecordingIsRecognisedByItsVideo()
    {
        const QString raw = m_dir.filePath("fusion.raw");
        QVERIFY(QFile::copy(m_plain.path, raw));
        QVERIFY(!MainWidget::isFusionRecording(raw));
        {
            QFile video(m_dir.filePath("fusion.mp4"));
            QVERIFY(video.open(QIODevice::WriteOnly));
        }
        QVERIFY(MainWidget::isFusionRecording(raw));

        // It goes to the fusion worker; the event worker drops what it had. An
        // empty video cannot play: said once the load ends.
        auto w = openWindow();
        QVERIFY(w);
        QSignalSpy tips(w.get(), &MainWidget::signalShowLeftBottomTips);
        QSignalSpy rawOpens(w.get(), &MainWidget::signalOpenRawFile);
        QSignalSpy fusionOpens(w.get(), &MainWidget::signalOpenFusionFile);
        w->openRecording(raw);
        QCOMPARE(w->sourceMode(), int(MainWidget::FusionRecording));
        QCOMPARE(rawOpens.count(), 1);
        QCOMPARE(rawOpens.last().at(0).toString(), QString());
        QCOMPARE(fusionOpens.count(), 1);
        QCOMPARE(fusionOpens.last().at(0).toString(), raw);
        QTRY_COMPARE(tips.count(), 1);
        QCOMPARE(tips.last().at(0).toString(),
                 QString("Cannot open the fusion recording fusion.raw: its video or events cannot be read."));
        QCOMPARE(tips.last().at(1).value<VxMessageType>(), VxMessageType::Error);
        w->slotSaveAs();
        QCOMPARE(tips.last().at(0).toString(), QString("Please open a raw file first."));
    }
};

QTEST_MAIN(TstMainWidget)
#include "tst_mainwidget.moc"
