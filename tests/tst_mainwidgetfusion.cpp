// vx-test-labels: tsan
// The main window with the simulated fusion camera (small frames, low rate):
// opening it with the firmware check, the three view modes live, the APS panel's
// manual calibration and "Apply", camera info, and a fusion recording made by
// the window that reopens as a fusion recording and plays.
#include "app/appsettings.h"
#include "camera/cameraslist.h"
#include "camera/fusioncamera.h"
#include "driver/cameratesthooks.h"
#include "processing/vxfusioncameradataprocessor.h"
#include "support/isolatedhome.h"
#include "support/qtesttime.h"
#include "support/recordingchecks.h"
#include "support/windowtestkit.h"
#include "ui/mainwidget.h"
#include "ui/showcamerainfoui.h"
#include "widgets/settingbasewithlineedit.h"
#include "widgets/settingitembox.h"
#include "widgets/showimageform.h"
#include "widgets/sidebarapssettingui.h"
#include "widgets/vxthreehandleslider.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>
#include <mutex>

namespace {

using vxtest::child;
using vxtest::MessageLog;
using vxtest::onModal;
using vxtest::openCamera;

const std::string kOmnira = "VXSIM-OMNIRA-0001";

// Pictures the fusion worker sends to the image view, received on the GUI thread.
class Pictures : public QObject
{
public:
    explicit Pictures(VxFusionCameraDataProcessor *worker)
    {
        connect(worker, &VxFusionCameraDataProcessor::signalFusionImage, this,
                [this](QImage image) {
                    last = image;
                    ++count;
                },
                Qt::QueuedConnection);
    }
    // The next picture that arrives from now on.
    bool next(int timeoutMs = 10000)
    {
        const int before = count;
        return QTest::qWaitFor([&] { return count > before; }, vxtest::scaled(timeoutMs));
    }
    QImage last;
    int count = 0;
};

// A slow build (ThreadSanitizer) may take seconds before the camera's frames flow:
// frames are recorded before they are shown, so once pictures have come after the
// recording started, the recording holds frames too. (The first may have been read
// out just before it started.)
bool framesRecorded(Pictures &pictures)
{
    for (int i = 0; i < 3; ++i)
        if (!pictures.next(20000))
            return false;
    return true;
}

struct Census {
    int positive = 0, negative = 0, background = 0, other = 0;
};

Census census(const QImage &picture)
{
    const EventColors colors = AppSettings::instance().eventColors();
    const QImage image = picture.convertToFormat(QImage::Format_RGB32);
    Census c;
    for (int y = 0; y < image.height(); ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = line[x] | 0xff000000u;
            if (p == (colors.positive | 0xff000000u))
                ++c.positive;
            else if (p == (colors.negative | 0xff000000u))
                ++c.negative;
            else if (p == (colors.background | 0xff000000u))
                ++c.background;
            else
                ++c.other;
        }
    }
    return c;
}

// Columns at the left and right edge that are black from top to bottom: the
// parts of the event grid the frame does not cover.
QPair<int, int> blackMargins(const QImage &picture)
{
    const QImage image = picture.convertToFormat(QImage::Format_RGB32);
    auto black = [&](int x) {
        for (int y = 0; y < image.height(); ++y)
            if ((image.pixel(x, y) & 0xffffffu) != 0)
                return false;
        return true;
    };
    int left = 0;
    while (left < image.width() && black(left))
        ++left;
    int right = 0;
    while (right < image.width() && black(image.width() - 1 - right))
        ++right;
    return {left, right};
}

} // namespace

// Shown frames are converted on Qt's thread pool, which is not instrumented
// (see tst_livecamera).
extern "C" const char *__tsan_default_options()
{
    return "ignore_noninstrumented_modules=1";
}

class TstMainWidgetFusion : public QObject
{
    Q_OBJECT

    QTemporaryDir m_out;

    std::unique_ptr<MainWidget> liveWindow(vxtest::TipLog *tips = nullptr)
    {
        auto w = std::make_unique<MainWidget>();
        if (tips) {
            tips->watch(w.get());
            tips->watch(w->fusionProcessor());
        }
        w->show();
        if (!QTest::qWaitForWindowExposed(w.get()))
            return nullptr;
        openCamera(*w, kOmnira);
        return w;
    }

private slots:
    void initTestCase()
    {
        MessageLog::instance().install();
        QVERIFY(m_out.isValid());
        AppSettings &settings = AppSettings::instance();
        settings.outputRawFilePath = m_out.filePath("recordings");
        settings.inputRawFilePath = m_out.filePath("input");
        QVERIFY(QDir().mkpath(settings.outputRawFilePath));
        QVERIFY(QDir().mkpath(settings.inputRawFilePath));
        settings.triggerInRecEnable = false;
    }

    void liveFusionInAllViewModes()
    {
        auto w = liveWindow();
        QVERIFY(w);
        QCOMPARE(w->sourceMode(), int(MainWidget::LiveFusion));
        QVERIFY(w->fusionCamera());
        QVERIFY(w->isStreaming());
        QVERIFY(child<QPushButton>(*w, "pb_play")->isChecked());
        QVERIFY(child<QPushButton>(*w, "pb_record")->isEnabled());
        QCOMPARE(child<QLabel>(*w, "label_show_camera_info")->text(), QString::fromStdString(kOmnira));
        // The panel of the fusion camera: its APS tool and the manual calibration.
        auto *aps = qobject_cast<SidebarApsSettingUI *>(w->sidePanel(MainWidget::ApsPanel));
        QVERIFY(aps && aps->apsBox() && aps->calibrationBox());

        auto *viewerType = child<QPushButton>(*w, "pb_viewer_type");
        QVERIFY(viewerType->isEnabled());
        QCOMPARE(w->viewerType(), 2);
        QVERIFY(viewerType->styleSheet().contains("btn_playbar_Fusion.svg"));
        QSignalSpy modes(w.get(), &MainWidget::signalSetViewerShowType);
        Pictures pictures(w->fusionProcessor());
        auto *view = child<ShowImageForm>(*w, "widget_show_image");

        // Fusion (the mode a fusion camera starts in): frame and events.
        QVERIFY(pictures.next());
        QVERIFY(pictures.next());
        Census fused = census(pictures.last);
        QVERIFY2(fused.other > 100000, qPrintable(QString::number(fused.other)));
        QVERIFY(fused.positive + fused.negative > 0);

        // Events only, APS only, fusion again.
        const char *icons[] = {"btn_playbar_DVS.svg", "btn_playbar_APS.svg", "btn_playbar_Fusion.svg"};
        QImage previous;
        for (int mode = 0; mode < 3; ++mode) {
            viewerType->click();
            QCOMPARE(w->viewerType(), mode);
            QCOMPARE(modes.count(), mode + 1);
            QCOMPARE(modes.last().first().value<vexadin::STREAM_TYPE>(), vexadin::STREAM_TYPE(mode));
            QVERIFY(viewerType->styleSheet().contains(icons[mode]));
            // The first picture may have been under way before the switch.
            QVERIFY(pictures.next());
            QVERIFY(pictures.next());
            const Census c = census(pictures.last);
            if (mode == 0) {
                QCOMPARE(c.other, 0);
                QVERIFY(c.positive + c.negative > 0);
            } else if (mode == 1) {
                QVERIFY(c.other > 100000);
                // Only a frame pixel that happens to have an event colour.
                QVERIFY2(c.positive + c.negative < fused.positive + fused.negative + 100,
                         qPrintable(QString("%1 %2").arg(c.positive + c.negative).arg(fused.positive + fused.negative)));
            } else {
                QVERIFY(c.other > 100000);
                QVERIFY(c.positive + c.negative > 0);
            }
            // The view shows the worker's pictures, and they change with the scene.
            QVERIFY(QTest::qWaitFor([&] { return view->pixmap().size() == QSize(1280, 720); }, vxtest::scaled(5000)));
            QVERIFY(pictures.next());
            QVERIFY(pictures.last != previous);
            previous = pictures.last;
        }

        // Play off stops the camera; the pictures stop with it.
        child<QPushButton>(*w, "pb_play")->click();
        QVERIFY(!w->isStreaming());
        QTest::qWait(300);
        const int stopped = pictures.count;
        QTest::qWait(400);
        QCOMPARE(pictures.count, stopped);
    }

    void firmwareRule_data()
    {
        QTest::addColumn<QString>("firmware");
        QTest::addColumn<bool>("warns");
        QTest::addColumn<bool>("unparsable");
        QTest::newRow("1.7.1") << "Omnira_V1.7.1" << true << false;
        QTest::newRow("1.7.2") << "Omnira_V1.7.2" << false << false;
        QTest::newRow("1.8") << "Omnira_V1.8" << false << false;
        QTest::newRow("2") << "Omnira_V2" << false << false;
        QTest::newRow("no version") << "Omnira_release" << true << true;
    }

    void firmwareRule()
    {
        QFETCH(QString, firmware);
        QFETCH(bool, warns);
        QFETCH(bool, unparsable);
        vexadin::testhooks::setFusionFirmwareVersion(firmware.toStdString());
        MessageLog::instance().clear();
        vxtest::TipLog tips;
        auto w = liveWindow(&tips);
        vexadin::testhooks::setFusionFirmwareVersion("");
        QVERIFY(w);
        QTest::qWait(50); // queued toasts
        const QString toast = "The Omnira camera firmware needs to be upgraded!";
        QCOMPARE(tips.count(toast), warns ? 1 : 0);
        if (warns)
            QCOMPARE(tips.last(toast)->type, VxMessageType::Warning);
        QCOMPARE(MessageLog::instance().countStartingWith("Cannot parse version from:"), unparsable ? 1 : 0);
        // Opening goes on either way.
        QCOMPARE(w->firmwareVersion(), firmware.toStdString());
        QVERIFY(w->isStreaming());
    }

    void manualCalibrationMovesThePictureAndApplies()
    {
        vxtest::TipLog tips;
        auto w = liveWindow(&tips);
        QVERIFY(w);
        child<QPushButton>(*w, "pb_viewer_type")->click();
        child<QPushButton>(*w, "pb_viewer_type")->click(); // APS only
        QCOMPARE(w->viewerType(), 1);
        Pictures pictures(w->fusionProcessor());
        QVERIFY(pictures.next());
        QVERIFY(pictures.next());
        const QPair<int, int> before = blackMargins(pictures.last);

        auto *aps = qobject_cast<SidebarApsSettingUI *>(w->sidePanel(MainWidget::ApsPanel));
        const auto offsets = aps->calibrationBox()->findChildren<SettingBaseWithLineEdit *>();
        QCOMPARE(offsets.size(), 2);
        SettingBaseWithLineEdit *offsetX = offsets.first(); // "Offset X", then "Offset Y"
        offsetX->slotItemValueChanged(std::string("offset_x"), 40);
        // The next frame already shows it: the picture moved sideways, so the
        // black margin on one side grew and the other shrank.
        QVERIFY(pictures.next());
        QVERIFY(pictures.next());
        const QPair<int, int> after = blackMargins(pictures.last);
        const QString margins =
            QString("%1,%2 -> %3,%4").arg(before.first).arg(before.second).arg(after.first).arg(after.second);
        QVERIFY2(after != before, qPrintable(margins));
        // 40 frame pixels are 75 event pixels at this frame size (3.2 / 6 frame
        // pixels per event pixel); the other margin is gone or shrank as far.
        QVERIFY2(after.second - before.second >= 70 && after.second - before.second <= 80, qPrintable(margins));
        QVERIFY2(after.first < before.first, qPrintable(margins));

        // Apply: the file is written, the camera takes it, the toast says so, and
        // the picture stays where the offset put it.
        const QString file = AppSettings::instance().inputRawFilePath + "/tmp_calibration_file.json";
        QFile::remove(file);
        QTest::mousePress(aps->calibrationBox()->findChild<QPushButton *>("pb_apply_offset"), Qt::LeftButton);
        QVERIFY(QTest::qWaitFor([&] { return tips.count("Manual calibration parameters were written successfully!") == 1; },
                                vxtest::scaled(5000)));
        QCOMPARE(tips.last("Manual calibration parameters were written successfully!")->type, VxMessageType::Success);
        QVERIFY(QFileInfo::exists(file));
        QVERIFY(pictures.next());
        QVERIFY(pictures.next());
        const QPair<int, int> applied = blackMargins(pictures.last);
        QVERIFY(std::abs(applied.first - after.first) <= 1 && std::abs(applied.second - after.second) <= 1);

        // Without a camera (a recording open, or none): written, yet reported failed.
        child<QPushButton>(*w, "pb_play")->click();
        w.reset();
        MainWidget empty;
        vxtest::TipLog emptyTips;
        emptyTips.watch(empty.fusionProcessor());
        QFile::remove(file);
        auto *emptyAps = qobject_cast<SidebarApsSettingUI *>(empty.sidePanel(MainWidget::ApsPanel));
        QVERIFY(emptyAps && !emptyAps->calibrationBox());
        emit emptyAps->signalApplyCaliOffset();
        QVERIFY(QTest::qWaitFor([&] { return emptyTips.count("Manual calibration parameters were written failed!") == 1; },
                                vxtest::scaled(5000)));
        QCOMPARE(emptyTips.last("Manual calibration parameters were written failed!")->type, VxMessageType::Error);
        QVERIFY(QFileInfo::exists(file));
    }

    void cameraInfoForFusionOnly()
    {
        auto w = liveWindow();
        QVERIFY(w);
        QMap<QString, QString> shown;
        onModal<ShowCameraInfoUI>(w.get(), [&shown](ShowCameraInfoUI &dialog) {
            for (const char *name : {"lb_product", "lb_manufacturer", "lb_firm_ver", "lb_serial"})
                shown[name] = dialog.findChild<QLabel *>(name)->text();
            dialog.findChild<QPushButton *>("pb_close")->click();
        });
        w->slotShowCameraInfo();
        const vexadin::CameraDescription description = w->fusionCamera()->getDescription();
        QCOMPARE(shown.value("lb_product"), QString("Omnira"));
        QCOMPARE(shown.value("lb_manufacturer"), QString::fromStdString(description.manufacturer));
        QVERIFY(!description.manufacturer.empty());
        QCOMPARE(shown.value("lb_firm_ver"), QString::fromStdString(vexadin::testhooks::kDefaultFusionFirmwareVersion));
        QCOMPARE(shown.value("lb_serial"), QString::fromStdString(kOmnira));

        // An event camera replaces it: no dialog, and the APS panel is emptied.
        openCamera(*w, "VXSIM-TSK-0001");
        QCOMPARE(w->sourceMode(), int(MainWidget::LiveDvs));
        QVERIFY(!w->fusionCamera());
        QVERIFY(!child<QPushButton>(*w, "pb_viewer_type")->isEnabled());
        auto *aps = qobject_cast<SidebarApsSettingUI *>(w->sidePanel(MainWidget::ApsPanel));
        QVERIFY(!aps->apsBox() && !aps->calibrationBox());
        bool dialogShown = false;
        onModal<ShowCameraInfoUI>(w.get(), [&dialogShown](ShowCameraInfoUI &dialog) {
            dialogShown = true;
            dialog.close();
        });
        w->slotShowCameraInfo();
        QTest::qWait(100);
        QVERIFY(!dialogShown);
    }

    void closingWhileRecordingFinishesTheSet()
    {
        const QString folder = m_out.filePath("closing");
        QVERIFY(QDir().mkpath(folder));
        AppSettings &settings = AppSettings::instance();
        const QString saved = settings.outputRawFilePath;
        settings.outputRawFilePath = folder;
        {
            auto w = liveWindow();
            QVERIFY(w);
            Pictures pictures(w->fusionProcessor());
            child<QPushButton>(*w, "pb_record")->click();
            QVERIFY(w->isRecording());
            QVERIFY(framesRecorded(pictures));
            QTest::qWait(1200);
        }
        settings.outputRawFilePath = saved;
        // The camera finished all three files before it was shut down.
        const QStringList files = QDir(folder).entryList(QDir::Files, QDir::Name);
        QCOMPARE(files.size(), 3);
        const QString base = folder + "/" + QFileInfo(files.first()).completeBaseName();
        for (const char *extension : {".raw", ".mp4", ".json"})
            QVERIFY2(QFileInfo(base + extension).size() > 0, extension);
        QVERIFY(vxtest::checkedRecording(base + ".raw").ok);
    }

    void recordedFusionSetReopensAndPlays()
    {
        const QString folder = AppSettings::instance().outputRawFilePath;
        QString base;
        {
            vxtest::TipLog tips;
            auto w = liveWindow(&tips);
            QVERIFY(w);
            auto *record = child<QPushButton>(*w, "pb_record");
            Pictures live(w->fusionProcessor());
            record->click();
            QVERIFY(w->isRecording());
            QVERIFY(record->isChecked());
            QVERIFY(framesRecorded(live));
            QTest::qWait(1500);
            record->click();
            QVERIFY(!w->isRecording());
            QVERIFY(QTest::qWaitFor([&] { return tips.count("Save file success!") == 1; }, vxtest::scaled(5000)));
            const QStringList raws = QDir(folder).entryList({"*.raw"}, QDir::Files);
            QCOMPARE(raws.size(), 1);
            base = folder + "/" + QFileInfo(raws.first()).completeBaseName();
            // serial_yyyyMMdd_HHmmss
            QVERIFY(QRegularExpression("^" + QString::fromStdString(kOmnira) + "_\\d{8}_\\d{6}$")
                        .match(QFileInfo(base).fileName())
                        .hasMatch());
            QVERIFY(QFileInfo::exists(base + ".mp4"));
            QVERIFY(QFileInfo::exists(base + ".json"));

            // Opened from the live window: the camera goes, the fusion worker plays it.
            Pictures pictures(w->fusionProcessor());
            w->openRecording(base + ".raw");
            QCOMPARE(w->sourceMode(), int(MainWidget::FusionRecording));
            QVERIFY(!w->fusionCamera());
            auto *aps = qobject_cast<SidebarApsSettingUI *>(w->sidePanel(MainWidget::ApsPanel));
            QVERIFY(!aps->apsBox() && !aps->calibrationBox());
            QVERIFY(child<QPushButton>(*w, "pb_viewer_type")->isEnabled());
            auto *play = child<QPushButton>(*w, "pb_play");
            QVERIFY(QTest::qWaitFor([&] { return play->isChecked(); }, vxtest::scaled(10000)));
            QVERIFY(pictures.next());
            VxFusionCameraDataProcessor *worker = w->fusionProcessor();
            QVERIFY(worker->rangeEnd() > worker->rangeStart());
            QCOMPARE(w->timeSlider()->rangeEnd(), worker->rangeEnd());
            QVERIFY(w->timeSlider()->isEnabled());
            const uint64_t t0 = worker->timeBase();
            QVERIFY(QTest::qWaitFor([&] { return worker->timeBase() > t0 + 100000; }, vxtest::scaled(5000)));

            // The play bar drives it: pause, step, back to the start.
            play->click();
            QVERIFY(QTest::qWaitFor([&] { return !worker->isPlaying(); }, vxtest::scaled(2000)));
            const uint64_t paused = worker->timeBase();
            emit child<QPushButton>(*w, "pb_next")->pressed();
            QCOMPARE(worker->timeBase(), paused + worker->frameInterval());
            emit child<QPushButton>(*w, "pb_prv")->pressed();
            QCOMPARE(worker->timeBase(), paused);
            emit child<QPushButton>(*w, "pb_stop")->pressed();
            QCOMPARE(worker->timeBase(), worker->rangeStart());
            QVERIFY(!play->isChecked());

            // View modes act on the recording too: events only has no frame pixels.
            child<QPushButton>(*w, "pb_viewer_type")->click();
            QCOMPARE(w->viewerType(), 0);
            emit child<QPushButton>(*w, "pb_next")->pressed();
            emit child<QPushButton>(*w, "pb_next")->pressed();
            QVERIFY(pictures.next());

            // To the end without loop: playback stops and the button comes up.
            // Start a few ticks before the end: a sanitizer build renders far
            // slower than real time, and the whole recording may not fit the wait.
            worker->setPlayPos(std::max(worker->rangeStart(),
                                        worker->rangeEnd() - 10 * worker->frameInterval()));
            play->click();
            QVERIFY(QTest::qWaitFor([&] { return !play->isChecked(); }, vxtest::scaled(10000)));
            QVERIFY(!worker->isPlaying());

            // Back to the camera: it starts in the fusion mode, and the worker is
            // told so (it was left showing events only).
            QSignalSpy modes(w.get(), &MainWidget::signalSetViewerShowType);
            openCamera(*w, kOmnira);
            QCOMPARE(w->viewerType(), 2);
            QCOMPARE(modes.count(), 1);
            QCOMPARE(modes.last().first().value<vexadin::STREAM_TYPE>(), vexadin::STREAM_FUSION);
            QVERIFY(pictures.next());
            QVERIFY(pictures.next());
            QVERIFY(census(pictures.last).other > 100000);
        }

        // A set whose video is damaged, or whose calibration is, says so.
        const QString broken = m_out.filePath("broken");
        QVERIFY(QDir().mkpath(broken));
        QVERIFY(QFile::copy(base + ".raw", broken + "/set.raw"));
        {
            QFile mp4(broken + "/set.mp4");
            QVERIFY(mp4.open(QIODevice::WriteOnly));
            mp4.write(QByteArray(4096, 'x'));
        }
        {
            QFile json(broken + "/set.json");
            QVERIFY(json.open(QIODevice::WriteOnly));
            json.write("{\"0\": [1, 2");
        }
        MainWidget w;
        vxtest::TipLog tips;
        tips.watch(&w);
        w.openRecording(broken + "/set.raw");
        QCOMPARE(w.sourceMode(), int(MainWidget::FusionRecording));
        QVERIFY(QTest::qWaitFor(
            [&] { return tips.count("Cannot open the fusion recording set.raw: its video or events cannot be read.") == 1; },
            vxtest::scaled(10000)));
        QCOMPARE(tips.count("The calibration file set.json cannot be read; the current calibration is used."), 1);
        QVERIFY(!child<QPushButton>(w, "pb_play")->isChecked());
    }
};

int main(int argc, char **argv)
{
    QTemporaryDir home;
    vxtest::useIsolatedHome(home.path().toStdString());
    // Small frames at a low rate keep the camera and the warp cheap.
    qputenv("VEXADIN_FUSION_FRAME_SIZE", "640x360");
    qputenv("VEXADIN_FUSION_FPS", "10");
    QApplication app(argc, argv);
    TstMainWidgetFusion test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_mainwidgetfusion.moc"
