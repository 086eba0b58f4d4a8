#include "ui/mainwidget.h"
#include "ui_mainwidget.h"

#include "Utility/vxfilerecorder.h"
#include "app/appsettings.h"
#include "app/vxutils.h"
#include "app/workerthread.h"
#include "camera/cameraslist.h"
#include "camera/calibrationjson.h"
#include "camera/dvscamera.h"
#include "camera/dvscameramanager.h"
#include "camera/fusioncamera.h"
#include "processing/recordingimportjob.h"
#include "processing/vxeventprocessor.h"
#include "processing/vxfusioncameradataprocessor.h"
#include "ui/showcamerainfoui.h"
#include "ui/vxcutrawfile.h"
#include "ui/vxexportvideoui.h"
#include "ui/vxgeneralsetting.h"
#include "widgets/showimageform.h"
#include "widgets/sidebarapssettingui.h"
#include "widgets/sidebarcamerasettingui.h"
#include "widgets/sidebardvssettingui.h"
#include "widgets/vxfilepathreminderform.h"
#include "widgets/vxmessagebox.h"
#include "widgets/vxthreehandleslider.h"
#include "widgets/vxtooltip.h"
#include "widgets/vxwindowagent.h"
#include "widgets/waitingwin.h"

#include <algorithm>
#include <utility>

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QDebug>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QGraphicsDropShadowEffect>
#include <QGraphicsView>
#include <QKeyEvent>
#include <QMenu>
#include <QProcess>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QUrl>

namespace {

const char *const kWebSite = "https://www.vexadin.example";
// Fusion cameras with older firmware still open, with a warning to upgrade.
const char *const kMinimumFusionFirmware = "Omnira_V1.7.2";

const char *const kTitleBarNormalStyle =
    "QWidget#widget_title_bar{border-top-left-radius:6px;border-top-right-radius:6px;"
    "border-bottom-left-radius:0px;border-bottom-right-radius:0px;border-bottom: 1px solid #AAAAAA;}";
const char *const kTitleBarMaximizedStyle =
    "QWidget#widget_title_bar{border-top-left-radius:0px;border-top-right-radius:0px;"
    "border-bottom-left-radius:0px;border-bottom-right-radius:0px;border-bottom: 1px solid #AAAAAA;}";

// Drop-down menus of the title bar and the viewer settings popup. The check
// mark of the popup's one entry is drawn as a switch.
const char *const kMenuStyle = R"(
QMenu {
    background-color: #FFFFFF;
    border: 1px solid #D5DDE1;
    border-radius: 6px;
    padding: 6px 0px;
    font: 13px "Noto Sans SC Medium";
    color: #4D4D4D;
}
QMenu::item {
    padding: 7px 28px 7px 18px;
    background: transparent;
    min-width: 120px;
}
QMenu::item:selected {
    background-color: #E8EFF1;
    color: #004B6A;
}
QMenu::item:disabled {
    color: #ACACAC;
}
QMenu::separator {
    height: 1px;
    background: #E6EBEE;
    margin: 4px 12px;
}
QMenu#viewerSettingMenu::item {
    padding: 9px 66px 9px 0px;
}
QMenu#viewerSettingMenu::indicator {
    width: 36px;
    height: 20px;
    subcontrol-origin: padding;
    subcontrol-position: right center;
    right: 10px;
}
QMenu#viewerSettingMenu::indicator:checked {
    image: url(:/img/assets/btn_switch_enable.svg);
}
QMenu#viewerSettingMenu::indicator:unchecked {
    image: url(:/img/assets/btn_switch_disable.svg);
}
)";

// Icon set of a view mode (STREAM_TYPE value): events, frames, both.
const char *viewerTypeIcons(int type)
{
    switch (type) {
    case vexadin::STREAM_DVS:
        return "DVS";
    case vexadin::STREAM_APS:
        return "APS";
    default:
        return "Fusion";
    }
}

QString viewerTypeStyle(const char *mode)
{
    return QString("QPushButton#pb_viewer_type{image:url(:/img/assets/btn_playbar_%1.svg);border-radius:5px;}"
                   "QPushButton#pb_viewer_type:hover,QPushButton#pb_viewer_type:pressed,"
                   "QPushButton#pb_viewer_type:checked{image:url(:/img/assets/btn_playbar_%1_hover.svg);}"
                   "QPushButton#pb_viewer_type:disabled{image:url(:/img/assets/btn_playbar_%1_disable.svg);}")
        .arg(mode);
}

void repolish(QWidget *w)
{
    w->style()->unpolish(w);
    w->style()->polish(w);
    w->update();
}

} // namespace

struct MainWidget::CallbackGate {
    // Shared: a fusion camera's frame and event threads pass at the same time.
    std::shared_mutex mutex;
    MainWidget *window = nullptr;
    // Turned away before the lock, so that closing never waits behind a steady
    // stream of callbacks.
    std::atomic<bool> open{true};

    template <typename F> void run(F &&f)
    {
        if (!open.load())
            return;
        std::shared_lock<std::shared_mutex> lock(mutex);
        if (window)
            f(window);
    }
    void close()
    {
        open.store(false);
        std::unique_lock<std::shared_mutex> lock(mutex);
        window = nullptr;
    }
};

MainWidget::MainWidget(QWidget *parent)
    : QWidget(parent), ui(new Ui::Widget), m_cameraManager(std::make_unique<vexadin::DvsCameraManager>()),
      m_callbackGate(std::make_shared<CallbackGate>())
{
    m_callbackGate->window = this;
    ui->setupUi(this);
    resize(1000, 650);
    setMinimumSize(1000, 650);

    m_windowAgent = new VxWindowAgent(this);
    m_windowAgent->setup(this);
    m_windowAgent->setTitleBar(ui->widget_title_space);
    m_windowAgent->setSystemButton(VxWindowAgent::WindowIcon, ui->pb_logo_button);
    m_windowAgent->setSystemButton(VxWindowAgent::Minimize, ui->pb_win_min);
    m_windowAgent->setSystemButton(VxWindowAgent::Maximize, ui->pb_win_max);
    m_windowAgent->setSystemButton(VxWindowAgent::Close, ui->pb_win_close);
    connect(m_windowAgent, &VxWindowAgent::maximizedChanged, this, &MainWidget::maximizedChanged);

    m_texts.openCamera = tr("Open Camera");
    m_texts.cameraInfo = tr("Camera Info");
    m_texts.openRecording = tr("Open Recording");
    m_texts.saveAs = tr("Save as...");
    m_texts.cutRecording = tr("Cut Recording");
    m_texts.quit = tr("Quit");
    m_texts.generalSetting = tr("General Setting");
    m_texts.language = tr("EN/中文");
    m_texts.aboutUs = tr("About us");
    m_texts.toggleStartEndPoint = tr("Toggle Start/End Point");

    m_settings = &AppSettings::instance();
    m_fusionProcessor = new VxFusionCameraDataProcessor(m_settings);
    m_eventProcessor = new VxEventProcessor(m_settings);
    m_fileRecorder = new VxFileRecorder;

    m_slider = new VxThreeHandleSlider(nullptr, VxThreeHandleSlider::Horizontal, VxThreeHandleSlider::CenterOnly);
    m_slider->setEnabled(false);
    m_slider->update();
    ui->layout_time_slider->addWidget(m_slider);

    m_waitingWin = new WaitingWin(ui->widget_show_image);
    m_waitingWin->close();
    connect(m_waitingWin, &WaitingWin::cancelRequested, this, &MainWidget::cancelImport);

    ui->splitter->setContentsMargins(10, 10, 10, 10);
    ui->splitter->setStretchFactor(0, 1);
    ui->splitter->setStretchFactor(1, 10);
    for (QWidget *frame : {static_cast<QWidget *>(ui->frame_setting), static_cast<QWidget *>(ui->frame_main)}) {
        auto *shadow = new QGraphicsDropShadowEffect(frame);
        shadow->setOffset(0, 3);
        shadow->setColor(QColor(0, 0, 0, 41));
        shadow->setBlurRadius(6);
        frame->setGraphicsEffect(shadow);
    }
    attachToolTips();

    m_viewerSettingMenu = createPopupMenu();
    m_viewerSettingMenu->setObjectName("viewerSettingMenu");
    m_startEndPointAction = m_viewerSettingMenu->addAction(m_texts.toggleStartEndPoint);
    m_startEndPointAction->setCheckable(true);
    m_viewerSettingMenu->addSeparator();
    connect(m_startEndPointAction, &QAction::triggered, this, &MainWidget::slotStartEndPointEditable);

    buildMenus();

    // Side panels: added here with addSidePanel(), in the order display, APS, DVS.
    // The display panel starts open; with no panel installed the area stays
    // folded to the button column.
    auto *displayPanel = new SidebarCameraSettingUI;
    addSidePanel(DisplayPanel, displayPanel);
    connect(displayPanel, &SidebarCameraSettingUI::signalCumulativeTimeChanged, m_eventProcessor,
            &VxEventProcessor::setAccTime);
    connect(displayPanel, &SidebarCameraSettingUI::signalFpsChanged, m_eventProcessor,
            [processor = m_eventProcessor](uint32_t fps) { processor->setFps(int(fps)); });
    connect(displayPanel, &SidebarCameraSettingUI::signalCumulativeTimeChanged, this,
            &MainWidget::setLiveAccumulationTime, Qt::DirectConnection);
    connect(displayPanel, &SidebarCameraSettingUI::signalFpsChanged, m_fusionProcessor,
            [processor = m_fusionProcessor](uint32_t fps) { processor->setFps(int(fps)); });
    connect(displayPanel, &SidebarCameraSettingUI::signalCumulativeTimeChanged, m_fusionProcessor,
            &VxFusionCameraDataProcessor::setAccTime);
    auto *apsPanel = new SidebarApsSettingUI;
    addSidePanel(ApsPanel, apsPanel);
    connect(apsPanel, &SidebarApsSettingUI::signalManualCaliOffsetXY, m_fusionProcessor,
            &VxFusionCameraDataProcessor::slotSetApsOffset);
    connect(apsPanel, &SidebarApsSettingUI::signalApplyCaliOffset, m_fusionProcessor,
            &VxFusionCameraDataProcessor::slotApplyOffset);
    auto *dvsPanel = new SidebarDvsSettingUI;
    addSidePanel(DvsPanel, dvsPanel);
    connect(dvsPanel, &SidebarDvsSettingUI::signalShowLeftBottomTips, this, &MainWidget::slotShowLeftBottomTips,
            Qt::QueuedConnection);
    on_pb_fold_setting_clicked(ui->pb_fold_setting->isChecked());

    // The record button only means something with a camera, the view mode with
    // fusion data.
    ui->pb_record->setEnabled(false);
    ui->pb_viewer_type->setStyleSheet(viewerTypeStyle(viewerTypeIcons(m_viewerType)));
    ui->pb_viewer_type->setEnabled(false);
    // Step, stop, loop and the slider act on a recording only: greyed out
    // until one is open, so nothing looks usable that does nothing.
    setRecordingControlsEnabled(false);

    // The image view takes no keyboard input; the window's keys stay the window's.
    for (QGraphicsView *view : ui->widget_show_image->findChildren<QGraphicsView *>())
        view->setFocusPolicy(Qt::NoFocus);
    setFocusPolicy(Qt::StrongFocus);

    qRegisterMetaType<QPixmap *>("QPixmap*");
    qRegisterMetaType<QPixmap>("QPixmap");
    qRegisterMetaType<QImage>("QImage");
    qRegisterMetaType<VxMessageType>("VxMessageType");
    qRegisterMetaType<vexadin::STREAM_TYPE>("vexadin::STREAM_TYPE");
    qRegisterMetaType<uint64_t>("uint64_t");

    connect(this, SIGNAL(triggerEventsToShow()), this, SLOT(getEventsToShow()));
    connect(this, SIGNAL(triggerShowPixmap(QPixmap*)), this, SLOT(getEventsToShow(QPixmap*)));
    connect(this, &MainWidget::setShowCameraLiveUI, this, &MainWidget::showCameraPlayingUI);
    connect(this, &MainWidget::resetShowCameraFormTitle, this, &MainWidget::setShowTitleInfo);
    connect(this, &MainWidget::toShowCameraSerial, this, &MainWidget::showCameraSerial);
    connect(this, &MainWidget::toShowCameraTimestamp, this, &MainWidget::showTimeStamp);
    connect(this, &MainWidget::signalShowLeftBottomTips, this, &MainWidget::slotShowLeftBottomTips,
            Qt::QueuedConnection);
    connect(this, &MainWidget::signalRecByTime, m_fileRecorder, &VxFileRecorder::recordingTime);
    connect(this, &MainWidget::signalStatisticsText, this, &MainWidget::showStatisticsText);
    connect(this, &MainWidget::signalRecordingClockText, ui->lb_recoding_time, &QLabel::setText);
    connect(this, &MainWidget::signalCameraOpened, this, &MainWidget::startOpenedCamera);
    connect(m_fileRecorder, &VxFileRecorder::signalShowLeftBottomTips, this, &MainWidget::slotShowLeftBottomTips,
            Qt::QueuedConnection);
    connectEventProcessor();
    connectFusionProcessor();
}

MainWidget::~MainWidget()
{
    // From here on no camera callback reaches the window.
    m_callbackGate->close();
    if (ui->pb_play->isChecked())
        on_pb_play_clicked(false);
    stopLiveThread(); // also a loop that ended by itself on a lost connection
    // Closing during a manual recording still leaves a finished file.
    if (m_recording.load())
        stopManualRecording(false);
    stopRecordClock();
    if (m_fusionCamera && m_fusionCamera->isConnected())
        m_fusionCamera->shutdown();
    releaseFusionCamera();
    releaseDvsCamera();

    // Import threads report to this window: they end (cancelled) before it goes.
    for (const QPointer<RecordingImportJob> &job : std::as_const(m_importJobs))
        delete job.data();
    delete m_fusionProcessor;
    m_fusionProcessor = nullptr;
    delete m_eventProcessor;
    m_eventProcessor = nullptr;
    delete m_waitingWin;
    m_waitingWin = nullptr;
    for (const QPointer<QWidget> &toast : std::as_const(m_toasts))
        delete toast.data();
    delete ui;
    ui = nullptr;
    // Waits for a timed recording to stop its camera and finish the file.
    delete m_fileRecorder;
    m_fileRecorder = nullptr;
}

void MainWidget::connectEventProcessor()
{
    VxEventProcessor *p = m_eventProcessor;
    connect(this, &MainWidget::signalOpenRawFile, p, &VxEventProcessor::loadFile);
    connect(p, &VxEventProcessor::signalLoadingStatus, this, &MainWidget::slotSetWaitWinStatus);
    connect(this, &MainWidget::signalPlaybackReset, p, &VxEventProcessor::slotPlaybackReset);
    connect(p, &VxEventProcessor::signalEventImage, ui->widget_show_image, &ShowImageForm::slotShowImage);
    connect(p, &VxEventProcessor::signalRealTimeTimeStamp, this, &MainWidget::showTimeStamp);
    connect(p, &VxEventProcessor::signalStartTimeStamp, m_slider, &VxThreeHandleSlider::setMinimum);
    connect(p, &VxEventProcessor::signalEndTimeStamp, m_slider, &VxThreeHandleSlider::setMaximum);
    connect(p, &VxEventProcessor::signalPlayStatus, ui->pb_play, &QPushButton::setChecked);
    connect(ui->pb_play, &QPushButton::toggled, p, &VxEventProcessor::slotPlaybackCtrl);
    // With neither a recording nor a camera there is nothing to play: the
    // button must not stay in its pause look.
    connect(ui->pb_play, &QPushButton::toggled, this, [this](bool checked) {
        if (checked && m_sourceMode == Empty)
            ui->pb_play->setChecked(false);
    });
    connect(ui->pb_prv, &QPushButton::pressed, p, &VxEventProcessor::preFrame);
    connect(ui->pb_next, &QPushButton::pressed, p, &VxEventProcessor::nextFrame);
    connect(ui->pb_stop, &QPushButton::pressed, p, &VxEventProcessor::slotPlaybackReset);
    connect(ui->pb_loop, &QPushButton::toggled, p, &VxEventProcessor::slotPlayLoop);
    connect(m_slider, &VxThreeHandleSlider::centerValueMove, p, &VxEventProcessor::setPlayPos);
    connect(m_slider, &VxThreeHandleSlider::centerValueTrackClick, p, &VxEventProcessor::setPlayPos);
    connect(m_slider, &VxThreeHandleSlider::lowerValueChanged, p, &VxEventProcessor::slotSetLowerTimeStamp);
    connect(m_slider, &VxThreeHandleSlider::upperValueChanged, p, &VxEventProcessor::slotSetUpperTimeStamp);
    connect(p, &VxEventProcessor::signalShowLeftBottomTips, this, &MainWidget::slotShowLeftBottomTips);
    connect(this, &MainWidget::signalExportVideo, p, &VxEventProcessor::slotExportVideo);
    connect(this, &MainWidget::signalCutRawFile, p, &VxEventProcessor::slotCutRawFile);
    connect(p, &VxEventProcessor::signalProgress, this, [this](double fraction) {
        if (m_busyCount > 0)
            m_waitingWin->setProgress(fraction);
    });
    connect(m_waitingWin, &WaitingWin::cancelRequested, p, &VxEventProcessor::slotCancelJobs);
}

void MainWidget::connectFusionProcessor()
{
    VxFusionCameraDataProcessor *p = m_fusionProcessor;
    ShowImageForm *view = ui->widget_show_image;
    connect(p, &VxFusionCameraDataProcessor::signalStartTimeStamp, m_slider, &VxThreeHandleSlider::setMinimum);
    connect(p, &VxFusionCameraDataProcessor::signalEndTimeStamp, m_slider, &VxThreeHandleSlider::setMaximum);
    // The worker emits both on the GUI thread.
    connect(p, &VxFusionCameraDataProcessor::signalPalyFileFinished, ui->pb_play,
            [this] { ui->pb_play->setChecked(false); }, Qt::DirectConnection);
    connect(p, &VxFusionCameraDataProcessor::signalPlayStatus, ui->pb_play, &QPushButton::setChecked,
            Qt::DirectConnection);
    connect(p, &VxFusionCameraDataProcessor::signalFusionPixMap, view,
            [view](QPixmap pixmap) { view->showPixMap(&pixmap); });
    connect(p, &VxFusionCameraDataProcessor::signalFusionImage, view, &ShowImageForm::slotShowImage,
            Qt::QueuedConnection);
    connect(p, &VxFusionCameraDataProcessor::signalTimeStamp, this, &MainWidget::showTimeStamp, Qt::QueuedConnection);
    connect(p, &VxFusionCameraDataProcessor::signalLoadingStatus, this, &MainWidget::slotSetWaitWinStatus);
    // Queued like the range signals from the loading thread, so they arrive in order.
    connect(p, &VxFusionCameraDataProcessor::signalEndTimeStamp, this, [this] { m_fusionRangeLoaded = true; },
            Qt::QueuedConnection);
    connect(p, &VxFusionCameraDataProcessor::signalLoadingStatus, this, &MainWidget::fusionLoadStatus,
            Qt::QueuedConnection);
    connect(ui->pb_play, &QPushButton::toggled, p, &VxFusionCameraDataProcessor::slotPlaybackCtrl,
            Qt::QueuedConnection);
    connect(ui->pb_prv, &QPushButton::pressed, p, &VxFusionCameraDataProcessor::preFrame);
    connect(ui->pb_next, &QPushButton::pressed, p, &VxFusionCameraDataProcessor::nextFrame);
    connect(ui->pb_stop, &QPushButton::pressed, p, &VxFusionCameraDataProcessor::slotPlaybackReset);
    connect(ui->pb_loop, &QPushButton::toggled, p, &VxFusionCameraDataProcessor::slotSetReplayFlag);
    connect(m_slider, &VxThreeHandleSlider::centerValueMove, p, &VxFusionCameraDataProcessor::setPlayPos);
    connect(m_slider, &VxThreeHandleSlider::centerValueTrackClick, p, &VxFusionCameraDataProcessor::setPlayPos);
    connect(m_slider, &VxThreeHandleSlider::lowerValueChanged, p, &VxFusionCameraDataProcessor::slotSetLowerTimeStamp);
    connect(m_slider, &VxThreeHandleSlider::upperValueChanged, p, &VxFusionCameraDataProcessor::slotSetUpperTimeStamp);
    connect(this, SIGNAL(signalSetViewerShowType(vexadin::STREAM_TYPE)), p,
            SLOT(slotSetViewerType(vexadin::STREAM_TYPE)));
    connect(this, &MainWidget::signalOpenFusionFile, p, &VxFusionCameraDataProcessor::slotReadFusionFile);
    connect(p, &VxFusionCameraDataProcessor::signalShowLeftBottomTips, this, &MainWidget::slotShowLeftBottomTips,
            Qt::QueuedConnection);
}

void MainWidget::fusionLoadStatus(bool loading)
{
    if (loading) {
        m_fusionLoading = true;
        m_fusionRangeLoaded = false;
        return;
    }
    if (!m_fusionLoading)
        return;
    m_fusionLoading = false;
    // The worker only logs which file failed; the user learns that nothing will play.
    if (!m_fusionRangeLoaded && m_sourceMode == FusionRecording)
        emit signalShowLeftBottomTips(
            tr("Cannot open the fusion recording %1: its video or events cannot be read.")
                .arg(QFileInfo(m_fusionLoadingPath).fileName()),
            VxMessageType::Error, QString());
}

void MainWidget::checkFusionCalibrationFile(const QString &rawPath)
{
    const QFileInfo info(rawPath);
    const QString json = QString("%1/%2.json").arg(info.path(), info.completeBaseName());
    if (!QFileInfo::exists(json))
        return;
    vexadin::CalibratorParameters params;
    if (vexadin::jsonFileToParam(json.toLocal8Bit().toStdString(), params))
        return;
    qWarning() << "Calibration file not usable, the current calibration stays:" << json;
    emit signalShowLeftBottomTips(
        tr("The calibration file %1 cannot be read; the current calibration is used.").arg(QFileInfo(json).fileName()),
        VxMessageType::Warning, QString());
}

void MainWidget::setViewerType(int type)
{
    m_viewerType = type;
    ui->pb_viewer_type->setStyleSheet(viewerTypeStyle(viewerTypeIcons(type)));
    emit signalSetViewerShowType(vexadin::STREAM_TYPE(type));
}

void MainWidget::on_pb_viewer_type_clicked()
{
    const int next = m_viewerType < 0 || m_viewerType >= 2 ? 0 : m_viewerType + 1;
    setViewerType(next);
}

QMenu *MainWidget::createPopupMenu()
{
    auto *menu = new QMenu(this);
    menu->setWindowFlags(menu->windowFlags() | Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint);
    menu->setAttribute(Qt::WA_TranslucentBackground);
    menu->setStyleSheet(kMenuStyle);
    return menu;
}

void MainWidget::buildMenus()
{
    QMenu *file = createPopupMenu();
    connect(file->addAction(m_texts.openRecording), &QAction::triggered, this, &MainWidget::slotOpenRecording);
    file->addSeparator();
    connect(file->addAction(m_texts.saveAs), &QAction::triggered, this, &MainWidget::slotSaveAs);
    connect(file->addAction(m_texts.cutRecording), &QAction::triggered, this, &MainWidget::slotCutRecording);
    file->addSeparator();
    file->addAction(m_texts.quit);
    ui->pb_menu_file->setMenu(file);

    QMenu *device = createPopupMenu();
    // Queued: the camera list opens once the menu has closed, so the menu button
    // does not keep the pressed look of a popup that a modal dialog replaced.
    connect(device->addAction(m_texts.openCamera), &QAction::triggered, this, &MainWidget::slotOpenCamera,
            Qt::QueuedConnection);
    device->addSeparator();
    connect(device->addAction(m_texts.cameraInfo), &QAction::triggered, this, &MainWidget::slotShowCameraInfo,
            Qt::QueuedConnection);
    ui->pb_menu_device->setMenu(device);

    QMenu *setting = createPopupMenu();
    setting->addAction(m_texts.generalSetting);
    setting->addAction(m_texts.language);
    ui->pb_menu_setting->setMenu(setting);

    QMenu *help = createPopupMenu();
    help->addAction(m_texts.aboutUs);
    ui->pb_menu_help->setMenu(help);

    for (QMenu *menu : {file, device, setting, help})
        connect(menu, &QMenu::triggered, this, &MainWidget::openActionSlot);
    // The menu buttons take their own clicks inside the draggable title bar.
    for (QWidget *w : {ui->pb_menu_file, ui->pb_menu_device, ui->pb_menu_setting, ui->pb_menu_help})
        m_windowAgent->setHitTestVisible(w, true);
}

void MainWidget::attachToolTips()
{
    const struct {
        QWidget *target;
        QString text;
    } tips[] = {
        {ui->pb_record, tr("Start/Stop recording")},
        {ui->pb_prv, tr("Previous frame")},
        {ui->pb_play, tr("Play/Stop")},
        {ui->pb_stop, tr("Reset the playback progress to the beginning")},
        {ui->pb_next, tr("Next frame")},
        {ui->pb_loop, tr("Select to automatically replay at the end of the playback")},
    };
    for (const auto &tip : tips) {
        auto *toolTip = new VxToolTip(tip.text, 0, this);
        toolTip->setTarget(tip.target);
    }
}

void MainWidget::addSidePanel(SidePanel which, QWidget *panel)
{
    if (!panel || m_sidePanels[which])
        return;
    m_sidePanels[which] = panel;
    // Keep the display, APS, DVS order whatever order the panels arrive in.
    int index = 0;
    for (int i = 0; i < which; ++i)
        index += m_sidePanels[i] ? 1 : 0;
    ui->layout_sidebar_setting->insertWidget(index, panel);
    const QPushButton *button = which == DisplayPanel ? ui->pb_fold_setting
                                : which == ApsPanel   ? ui->pb_fold_aps_setting
                                                      : ui->pb_fold_dvs_setting;
    if (button->isChecked())
        showSidePanel(which, true);
    else
        panel->hide();
}

void MainWidget::showSidePanel(SidePanel which, bool show)
{
    if (show) {
        for (int i = 0; i < 3; ++i) {
            if (m_sidePanels[i])
                m_sidePanels[i]->setVisible(i == which);
        }
        // An empty panel slot would open onto nothing: stay at the button column.
        ui->frame_setting->setMaximumWidth(m_sidePanels[which] ? 500 : ui->widget_side_bar->width());
    } else {
        if (m_sidePanels[which])
            m_sidePanels[which]->hide();
        ui->frame_setting->setMaximumWidth(ui->widget_side_bar->width());
    }
}

void MainWidget::on_pb_fold_setting_clicked(bool checked)
{
    if (checked) {
        ui->pb_fold_dvs_setting->setChecked(false);
        ui->pb_fold_aps_setting->setChecked(false);
    }
    showSidePanel(DisplayPanel, checked);
}

void MainWidget::on_pb_fold_dvs_setting_clicked(bool checked)
{
    if (checked) {
        ui->pb_fold_setting->setChecked(false);
        ui->pb_fold_aps_setting->setChecked(false);
    }
    showSidePanel(DvsPanel, checked);
}

void MainWidget::on_pb_fold_aps_setting_clicked(bool checked)
{
    if (checked) {
        ui->pb_fold_setting->setChecked(false);
        ui->pb_fold_dvs_setting->setChecked(false);
    }
    showSidePanel(ApsPanel, checked);
}

void MainWidget::on_pb_fold_general_setting_clicked()
{
    // The button is down only while the general settings dialog is open.
    runGeneralSettingDialog();
    ui->pb_fold_general_setting->setChecked(false);
}

void MainWidget::setRecordingControlsEnabled(bool en)
{
    for (QWidget *w : {static_cast<QWidget *>(ui->pb_loop), static_cast<QWidget *>(ui->pb_next),
                       static_cast<QWidget *>(ui->pb_prv), static_cast<QWidget *>(ui->pb_stop),
                       static_cast<QWidget *>(m_slider)})
        w->setEnabled(en);
}

void MainWidget::showCameraPlayingUI(bool en)
{
    setRecordingControlsEnabled(!en);
    if (en) {
        m_slider->update();
        ui->label_time->setText("--/--");
    }
}

void MainWidget::on_pb_viewer_setting_clicked(bool checked)
{
    if (!checked)
        return;
    const QSize menuHint = m_viewerSettingMenu->sizeHint();
    const QPoint corner(ui->pb_viewer_setting->sizeHint().width() - menuHint.width(), -menuHint.height());
    m_viewerSettingMenu->exec(ui->pb_viewer_setting->mapToGlobal(corner));
    ui->pb_viewer_setting->setChecked(false);
}

void MainWidget::slotStartEndPointEditable(bool en)
{
    m_slider->setHandleMode(en ? VxThreeHandleSlider::StartCenterEnd : VxThreeHandleSlider::CenterOnly);
    m_slider->update();
}

void MainWidget::openActionSlot(QAction *action)
{
    if (!action)
        return;
    const QString text = action->text();
    if (text == m_texts.openCamera || text == m_texts.openRecording)
        return;
    if (text == m_texts.quit) {
        close();
        return;
    }
    if (text == m_texts.aboutUs) {
        if (askUser(tr("Is it open in the browser?"), tr("Open"), tr("Close")))
            QDesktopServices::openUrl(QUrl(kWebSite));
        return;
    }
    if (text == m_texts.language) {
        if (askUser(tr("The language change will take effect after restart."), tr("Restart"), tr("Later")) &&
            stopJobsToLeave(tr("An export or cut is still running. Cancel it and restart?"),
                            tr("Cancel and restart"))) {
            saveSwitchedLanguage();
            QApplication::closeAllWindows();
            QProcess::startDetached(QCoreApplication::applicationFilePath(), QStringList());
        }
        return;
    }
    if (text == m_texts.generalSetting) {
        runGeneralSettingDialog();
        return;
    }
    // "Save as...", "Cut Recording" and the rest act through their own connections.
}

void MainWidget::runGeneralSettingDialog()
{
    VxGeneralSetting dialog;
    connect(&dialog, &VxGeneralSetting::signalTriggerInSaveFileParamChanged, this,
            &MainWidget::initDvsCameraSettings);
    dialog.exec();
}

bool MainWidget::askUser(const QString &message, const QString &acceptText, const QString &rejectText)
{
    VXMessageBox box(message, tr("Tips"), acceptText, rejectText, this);
    return box.exec() == QDialog::Accepted;
}

bool MainWidget::stopJobsToLeave(const QString &question, const QString &stopText)
{
    if (!m_eventProcessor->hasRangeJobs())
        return true;
    // The waiting window stays on top: it would cover the question.
    m_waitingWin->hide();
    const bool stop = askUser(question, stopText, tr("Keep working"));
    if (stop)
        m_eventProcessor->slotCancelJobs();
    else if (m_busyCount > 0)
        m_waitingWin->show();
    return stop;
}

QString MainWidget::switchedLanguage(const QString &current)
{
    return current == "en" ? QStringLiteral("zh") : QStringLiteral("en");
}

void MainWidget::saveSwitchedLanguage()
{
    m_settings->language = switchedLanguage(m_settings->language);
    m_settings->save();
}

void MainWidget::slotOpenRecording()
{
    const QString path =
        QFileDialog::getOpenFileName(nullptr, tr("Select a raw file"), m_settings->inputRawFilePath,
                                     tr("RAW files (*.raw)") + QStringLiteral(";;")
                                         + tr("Event data from other tools (*.aedat *.aedat4 *.dat *.h5 *.hdf5 *.hdf "
                                              "*.txt *.csv)"));
    openChosenFile(path);
}

void MainWidget::openChosenFile(const QString &path)
{
    if (path.isEmpty())
        return;
    // Our recordings by their signature (whatever the name) or by their extension
    // (the worker then says what is wrong with them); anything else is imported.
    if (RecordingImportJob::isRecording(path)
        || QFileInfo(path).suffix().compare(QLatin1String("raw"), Qt::CaseInsensitive) == 0) {
        cancelImport();
        openRecording(path);
    } else {
        importRecording(path);
    }
}

void MainWidget::importRecording(const QString &path)
{
    if (path.isEmpty())
        return;
    cancelImport();
    auto *job = new RecordingImportJob(path, RecordingImportJob::defaultCacheDir());
    m_importJob = job;
    m_importJobs.append(job);
    connect(job, &RecordingImportJob::progress, this, [this, job](double fraction) {
        if (job == m_importJob)
            m_waitingWin->setProgress(fraction);
    });
    connect(job, &RecordingImportJob::finished, this,
            [this, job](bool ok, const QString &message) { importFinished(job, ok, message); });
    slotSetWaitWinStatus(true);
    m_waitingWin->setProgress(0);
    job->start();
}

void MainWidget::cancelImport()
{
    if (!m_importJob)
        return;
    m_importJob->cancel();
    m_importJob = nullptr;
    slotSetWaitWinStatus(false);
}

void MainWidget::importFinished(RecordingImportJob *job, bool ok, const QString &message)
{
    // Results of a cancelled or replaced import are dropped.
    const bool current = job == m_importJob;
    m_importJobs.removeAll(job);
    job->deleteLater();
    if (!current)
        return;
    m_importJob = nullptr;
    slotSetWaitWinStatus(false);
    const QFileInfo source(job->sourcePath());
    if (!ok) {
        if (!message.isEmpty())
            emit signalShowLeftBottomTips(tr("Cannot import %1: %2").arg(source.fileName(), message),
                                          VxMessageType::Error);
        return;
    }
    openRecording(job->outputPath());
    // The next file dialog starts where the source was, not in the cache.
    m_settings->inputRawFilePath = source.path();
    if (job->outsideSensor() > 0)
        emit signalShowLeftBottomTips(
            tr("%1 events outside the sensor were skipped.").arg(QString::number(job->outsideSensor())),
            VxMessageType::Warning);
}

bool MainWidget::isFusionRecording(const QString &rawPath)
{
    const QFileInfo info(rawPath);
    return QFileInfo::exists(QString("%1/%2.mp4").arg(info.path(), info.completeBaseName()));
}

void MainWidget::openRecording(const QString &path)
{
    if (path.isEmpty())
        return;
    // The camera goes: its stream stops, a manual recording is finished first.
    on_pb_play_clicked(false);
    stopLiveThread();
    if (m_recording.load())
        stopManualRecording(true);
    releaseDvsCamera();
    releaseFusionCamera();
    ui->pb_record->setEnabled(false);
    m_settings->inputRawFilePath = QFileInfo(path).path();

    // Each worker hears the path of the recording it plays and an empty path,
    // which makes it drop what it had.
    if (isFusionRecording(path)) {
        m_sourceMode = FusionRecording;
        checkFusionCalibrationFile(path);
        m_fusionLoadingPath = path;
        emit signalOpenRawFile(QString());
        emit signalOpenFusionFile(path);
    } else {
        m_sourceMode = RawRecording;
        emit signalOpenRawFile(path);
        emit signalOpenFusionFile(QString());
    }
    ui->pb_viewer_type->setEnabled(m_sourceMode == FusionRecording);

    if (auto *aps = qobject_cast<SidebarApsSettingUI *>(m_sidePanels[ApsPanel]))
        aps->resetApsUI();
    if (auto *dvs = qobject_cast<SidebarDvsSettingUI *>(m_sidePanels[DvsPanel]))
        dvs->clearToolUI();
    if (auto *display = qobject_cast<SidebarCameraSettingUI *>(m_sidePanels[DisplayPanel]))
        display->setSlowRateEnabled(true);
    setRecordingControlsEnabled(true);
}

void MainWidget::openFromCommandLine(const QStringList &files)
{
    if (files.isEmpty())
        return;
    // The folder of the file is remembered for the Open dialog: make it
    // independent of the directory the program was started in.
    openChosenFile(QFileInfo(files.first()).absoluteFilePath());
    if (files.size() > 1) {
        for (qsizetype i = 1; i < files.size(); ++i)
            qWarning() << "Only one recording opens at a time; ignored:" << files.at(i);
        emit signalShowLeftBottomTips(tr("Only one recording opens at a time: the other files were ignored."),
                                      VxMessageType::Warning);
    }
}

void MainWidget::prepareExportDialog(VxExportVideoUI &dialog) const
{
    dialog.setStartTime(m_slider->rangeStart());
    dialog.setEndTime(m_slider->rangeEnd());
    dialog.setSavePath(m_settings->videoSavePath);
    dialog.setFileName(QDateTime::currentDateTime().toString("yyyyMMdd_HHmmss") + ".mp4");
}

void MainWidget::exportFromDialog(const VxExportVideoUI &dialog)
{
    const uint64_t start = dialog.getStartTime();
    const uint64_t end = dialog.getEndTime();
    const QString outPath = dialog.getOutputPath();
    const QString outDir = dialog.getSaveDir();
    emit signalExportVideo(outPath, outDir, start, end);
}

void MainWidget::prepareCutDialog(VxCutRawFile &dialog) const
{
    dialog.setStartTime(m_slider->rangeStart());
    dialog.setEndTime(m_slider->rangeEnd());
    dialog.setSavePath(m_settings->outputRawFilePath);
    dialog.setFileName(QDateTime::currentDateTime().toString("yyyyMMdd_HHmmss") + ".raw");
}

void MainWidget::cutFromDialog(const VxCutRawFile &dialog)
{
    const uint64_t start = dialog.getStartTime();
    const uint64_t end = dialog.getEndTime();
    const QString outPath = dialog.getOutputPath();
    const QString outDir = dialog.getSaveDir();
    emit signalCutRawFile(outPath, outDir, start, end);
}

void MainWidget::slotSaveAs()
{
    if (m_sourceMode != RawRecording) {
        emit signalShowLeftBottomTips(tr("Please open a raw file first."), VxMessageType::Warning, QString());
        return;
    }
    VxExportVideoUI dialog(this);
    prepareExportDialog(dialog);
    if (dialog.exec() == QDialog::Accepted)
        exportFromDialog(dialog);
}

void MainWidget::slotCutRecording()
{
    if (m_sourceMode != RawRecording) {
        emit signalShowLeftBottomTips(tr("Please open a raw file first."), VxMessageType::Warning, QString());
        return;
    }
    VxCutRawFile dialog(this);
    prepareCutDialog(dialog);
    if (dialog.exec() == QDialog::Accepted)
        cutFromDialog(dialog);
}

void MainWidget::setShowTitleInfo(bool)
{
    ui->label_show_camera_info->clear();
    ui->label_show_timestamp_info->clear();
}

void MainWidget::showCameraSerial(QString str)
{
    ui->label_show_camera_info->setText(str);
}

void MainWidget::showTimeStamp(uint64_t timestamp_us)
{
    const QString now = QString::fromStdString(formatTimestampUs(timestamp_us));
    ui->label_show_timestamp_info->setText(now);
    if (m_sourceMode == RawRecording || m_sourceMode == FusionRecording) {
        m_slider->setCenterValue(timestamp_us);
        ui->label_time->setText(now + "/" + QString::fromStdString(formatTimestampUs(m_slider->rangeEnd())));
    }
}

void MainWidget::slotShowLeftBottomTips(QString tips, VxMessageType type, QString file_path)
{
    const QString folder = file_path.isEmpty() ? QString() : resolveDirectory(file_path);
    // Placed from the window's client area, so a window manager's frame
    // around the window does not shift the toast.
    VxFilePathReminderForm *toast = VxFilePathReminderForm::showAt(this, tips, type, folder);
    m_toasts.removeAll(nullptr);
    m_toasts.append(toast);
}

void MainWidget::slotSetSliderStartTime(uint64_t ts)
{
    m_slider->setMinimum(ts);
}

void MainWidget::slotSetSliderEndTime(uint64_t ts)
{
    m_slider->setMaximum(ts);
}

void MainWidget::slotSetWaitWinStatus(bool en)
{
    if (en) {
        ++m_busyCount;
        m_waitingWin->show();
    } else {
        // An end without a start (a sender out of step) must not hide another's work.
        if (m_busyCount > 0)
            --m_busyCount;
        if (m_busyCount == 0)
            m_waitingWin->close();
    }
}

void MainWidget::on_pb_win_min_clicked()
{
    showMinimized();
}

void MainWidget::on_pb_win_max_clicked()
{
    if (windowState() & Qt::WindowMaximized) {
        showNormal();
        ui->widget_title_bar->setStyleSheet(kTitleBarNormalStyle);
    } else {
        showMaximized();
        ui->widget_title_bar->setStyleSheet(kTitleBarMaximizedStyle);
    }
}

void MainWidget::on_pb_win_close_clicked()
{
    close();
}

void MainWidget::maximizedChanged(bool max)
{
    // Also reached by double-clicking the title bar, which bypasses the button.
    ui->widget_title_bar->setStyleSheet(max ? kTitleBarMaximizedStyle : kTitleBarNormalStyle);
    ui->pb_win_max->setProperty("type", max ? "restore" : "maxsize");
    repolish(ui->pb_win_max);
}

void MainWidget::closeEvent(QCloseEvent *event)
{
    if (m_eventProcessor->hasRangeJobs()) {
        // Asked after this close, not inside it: one click on the close button asks
        // to close twice (the button and the window agent), and the answer to a
        // question asked here would come while the window counts as closing.
        event->ignore();
        if (!m_closeQuestionPending) {
            m_closeQuestionPending = true;
            QTimer::singleShot(0, this, [this] {
                const bool leave =
                    stopJobsToLeave(tr("An export or cut is still running. Cancel it and quit?"), tr("Cancel and quit"));
                m_closeQuestionPending = false;
                if (leave)
                    close();
            });
        }
        return;
    }
    QWidget::closeEvent(event);
}

void MainWidget::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::LanguageChange) {
        ui->retranslateUi(this);
        ui->label_show_camera_info->clear();
        ui->lb_recoding_time->clear();
    }
    QWidget::changeEvent(event);
}

void MainWidget::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Space:
        ui->pb_play->toggle();
        break;
    case Qt::Key_Left:
        if (ui->pb_prv->isEnabled())
            emit ui->pb_prv->pressed();
        break;
    case Qt::Key_Right:
        if (ui->pb_next->isEnabled())
            emit ui->pb_next->pressed();
        break;
    default:
        break;
    }
}

void MainWidget::moveEvent(QMoveEvent *event)
{
    QWidget::moveEvent(event);
    if (m_waitingWin && m_waitingWin->isVisible())
        m_waitingWin->recentre();
}

QPoint MainWidget::centredPosition() const
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return pos();
    const QRect area = screen->availableGeometry();
    return QPoint(area.width() / 2 - width() / 2, area.height() / 2 - height() / 2);
}

void MainWidget::setVisible(bool visible)
{
    // Centre before the native window is mapped. Moving it between creating
    // and mapping it (as a show event would) races with a reparenting window
    // manager: Qt may read back the position of the manager's not yet placed
    // frame and keep it, which puts every popup and system move off by the
    // window's real position.
    if (visible && !isVisible())
        move(centredPosition());
    QWidget::setVisible(visible);
}

void MainWidget::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Shown again by the window manager (restored from minimised): centre
    // once more. A first show is already in place (setVisible).
    const QPoint target = centredPosition();
    if (pos() != target)
        move(target);
}

// ---------------------------------------------------------------------------
// Cameras: choosing, opening, streaming, statistics, recording, trigger-in.

int MainWidget::sourceModeForProduct(const std::string &product)
{
    if (product == "EVK4" || product == "Taskelo")
        return LiveDvs;
    if (product == "Omnira")
        return LiveFusion;
    return Empty;
}

void MainWidget::slotOpenCamera()
{
    if (ui->pb_play->isChecked())
        ui->pb_play->click();

    qDebug() << "Search cameras ...";
    const std::vector<vexadin::CameraDescription> descriptions = m_cameraManager->getCameraDescs();
    qDebug() << "Search end ... find: " << descriptions.size();

    CamerasList list(descriptions, this);
    if (list.exec() != QDialog::Accepted)
        return;

    int index = -1;
    if (list.selectedIndex(index) && index >= 0 && size_t(index) < descriptions.size()) {
        const vexadin::CameraDescription &chosen = descriptions[size_t(index)];
        // The current camera is about to go: its manual recording ends properly.
        if (m_recording.load())
            stopManualRecording(true);
        emit signalOpenRawFile(QString());
        emit signalOpenFusionFile(QString());
        qDebug() << "Select camera: " << QString::fromLocal8Bit(chosen.serial.c_str())
                 << " product: " << QString::fromLocal8Bit(chosen.product.c_str());
        m_sourceMode = sourceModeForProduct(chosen.product);

        WaitingWin waiting(ui->widget_show_image);
        WorkerThread opener([this, serial = chosen.serial] { openCameraTask(serial); });
        bool opened = false;
        connect(&opener, &WorkerThread::taskCompleted, &waiting, [&opened, &waiting] {
            opened = true;
            waiting.close();
        });
        opener.start(QThread::InheritPriority);
        // Esc closes the waiting window too; the task is still to be waited for.
        while (!opened)
            waiting.exec();
        opener.wait();
        m_cameraHandover.load(std::memory_order_acquire);
    }

    if (m_sourceMode == LiveDvs)
        setViewerType(vexadin::STREAM_DVS);
    else if (m_sourceMode == LiveFusion)
        setViewerType(vexadin::STREAM_FUSION);
    ui->pb_record->setEnabled(m_sourceMode == LiveDvs || m_sourceMode == LiveFusion);
    ui->pb_viewer_type->setEnabled(m_sourceMode == LiveFusion && m_fusionCamera);
    setupCameraPanels();
    if (auto *aps = qobject_cast<SidebarApsSettingUI *>(m_sidePanels[ApsPanel])) {
        if (m_sourceMode == LiveFusion && m_fusionCamera) {
            aps->setApsToolUI(m_fusionCamera->getTool(vexadin::TOOL_APS));
            aps->setManualCalibrationUI();
        } else if (m_sourceMode == LiveDvs) {
            aps->resetApsUI();
        }
    }
    if (auto *display = qobject_cast<SidebarCameraSettingUI *>(m_sidePanels[DisplayPanel]))
        display->setSlowRateEnabled(false);
}

void MainWidget::openCameraTask(const std::string &serial)
{
    const QString qSerial = QString::fromLocal8Bit(serial.c_str());
    const bool opened = openCameraOfMode(serial);
    m_cameraHandover.fetch_add(1, std::memory_order_release);
    if (!opened) {
        emit signalShowLeftBottomTips(tr("Open camera: ") + qSerial + tr("failed."), VxMessageType::Error,
                                      QString());
        return;
    }
    emit setShowCameraLiveUI(true);
    emit resetShowCameraFormTitle(true);
    emit toShowCameraSerial(qSerial);
    emit signalCameraOpened();
}

bool MainWidget::openCameraOfMode(const std::string &serial)
{
    switch (m_sourceMode) {
    case LiveDvs: {
        // One camera at a time: a fusion camera left open would keep its threads
        // and its tools in the panels.
        releaseFusionCamera();
        releaseDvsCamera();
        std::shared_ptr<vexadin::DvsCamera> camera = m_cameraManager->openCamera(serial);
        if (!camera)
            return false;
        // Frames at the sensor's size: a smaller sensor fills the view.
        const vexadin::CameraDescription description = camera->getDescription();
        m_eventProcessor->setSensorSize(description.width, description.height);
        m_dvsCamera = camera;
        m_dvsCamera->setStatisticInfoCallback([gate = m_callbackGate](vexadin::VxStatisticInfo info) {
            gate->run([&info](MainWidget *w) { w->onStatistics(info); });
        });
        initDvsCameraSettings();
        return true;
    }
    case LiveFusion:
        return openFusionCamera(serial);
    default:
        return true; // unknown product: nothing is opened
    }
}

bool MainWidget::fusionFirmwareUpToDate(const std::string &firmware)
{
    return isVersionAtLeast(QString::fromStdString(firmware), QString::fromLatin1(kMinimumFusionFirmware));
}

bool MainWidget::openFusionCamera(const std::string &serial)
{
    m_fusionProcessor->clear();
    releaseFusionCamera();
    releaseDvsCamera();
    qDebug() << "Open fusion camera.";
    std::shared_ptr<vexadin::FusionCamera> camera = m_cameraManager->openFusionCamera(serial);
    if (!camera)
        return false;
    m_firmwareVersion = camera->getFirmwareVersion();
    if (!fusionFirmwareUpToDate(m_firmwareVersion)) {
        qDebug() << "The Omnira camera firmware needs to be upgraded!";
        emit signalShowLeftBottomTips(tr("The Omnira camera firmware needs to be upgraded!"), VxMessageType::Warning,
                                      QString());
    }
    vexadin::CalibratorParameters params;
    if (camera->getCalibration(params))
        m_fusionProcessor->loadCalibrationParam(params);

    // The camera cannot drop its callbacks: they pass the gate, which the
    // destructor closes before the worker goes.
    const std::shared_ptr<CallbackGate> gate = m_callbackGate;
    camera->setStatisticInfoCallback([gate](vexadin::VxStatisticInfo info) {
        gate->run([&info](MainWidget *w) { w->onStatistics(info); });
    });
    camera->addApsFrameCallback([gate](vexadin::ApsFrame frame) {
        gate->run([&frame](MainWidget *w) { w->m_fusionProcessor->addApsData(std::move(frame)); });
    });
    camera->addEventsCallback([gate](const vexadin::Event2D *begin, const vexadin::Event2D *end) {
        gate->run([begin, end](MainWidget *w) {
            w->m_fusionProcessor->accumulateEvents(begin, end);
            w->m_fusionProcessor->addDvsData(begin, end);
        });
    });
    camera->addTriggerInCallback([gate](const vexadin::EventTriggerIn &signal) {
        gate->run([&signal](MainWidget *w) { w->m_fusionProcessor->addSyncSignal(signal); });
    });
    m_fusionCamera = camera;
    m_fusionProcessor->setCamera(camera);
    return true;
}

void MainWidget::releaseFusionCamera()
{
    if (!m_fusionCamera)
        return;
    m_fusionProcessor->setCamera(nullptr);
    m_fusionCamera.reset();
    // Pairs half made with the old camera's data must not meet the next camera's.
    m_fusionProcessor->clear();
}

void MainWidget::slotShowCameraInfo()
{
    if (!m_fusionCamera)
        return;
    ShowCameraInfoUI dialog(nullptr);
    dialog.setCameraInfo(m_fusionCamera->getDescription(), m_firmwareVersion);
    dialog.exec();
}

void MainWidget::startOpenedCamera()
{
    m_cameraHandover.load(std::memory_order_acquire);
    if (!ui->pb_play->isChecked())
        ui->pb_play->click();
}

void MainWidget::initDvsCameraSettings()
{
    if (!m_dvsCamera)
        return;
    if (m_triggerInCallbackId != -1) {
        m_dvsCamera->removeTriggerInCallback(m_triggerInCallbackId);
        m_triggerInCallbackId = -1;
    }
    m_fileRecorder->setCamera(m_dvsCamera);
    m_dvsCamera->setRecordingCache(0, ".");
    {
        std::lock_guard<std::mutex> lock(m_triggerMutex);
        m_triggerConfig.serial = QString::fromLocal8Bit(m_dvsCamera->getDescription().serial.c_str());
        m_triggerConfig.folder = m_settings->outputRawFilePath;
        m_triggerConfig.edgeType = m_settings->triggerInEdgeType;
        m_triggerConfig.afterSeconds = m_settings->afterTriggerInSaveTime;
    }
    if (!m_settings->triggerInRecEnable)
        return;
    // Beyond the camera's 16-bit range the cache is as long as it can be, not wrapped.
    const auto beforeSeconds = uint16_t(std::min<uint32_t>(m_settings->beforeTriggerInSaveTime, 65535));
    m_dvsCamera->setRecordingCache(beforeSeconds, m_settings->configDir.toLocal8Bit().toStdString());
    m_triggerInCallbackId = m_dvsCamera->addTriggerInCallback([gate = m_callbackGate](vexadin::EventTriggerIn t) {
        gate->run([&t](MainWidget *w) { w->onTriggerIn(t); });
    });
}

void MainWidget::onTriggerIn(vexadin::EventTriggerIn t)
{
    TriggerInConfig config;
    {
        std::lock_guard<std::mutex> lock(m_triggerMutex);
        config = m_triggerConfig;
    }
    if (config.serial.isEmpty())
        return;
    const bool rising = config.edgeType == VxGeneralSetting::kRisingEdge && t.edge == 1;
    const bool falling = config.edgeType == VxGeneralSetting::kFallingEdge && t.edge == 0;
    if (!rising && !falling)
        return;
    emit signalRecByTime(config.afterSeconds, VxFileRecorder::recordingFilePath(config.folder, config.serial));
}

void MainWidget::on_pb_play_clicked(bool checked)
{
    switch (m_sourceMode) {
    case LiveDvs:
        playDvsCamera(checked);
        break;
    case LiveFusion:
        playFusionCamera(checked);
        break;
    default:
        break; // recordings play through toggled(); without a source there is nothing to do
    }
}

void MainWidget::playDvsCamera(bool start)
{
    if (!m_dvsCamera || !m_dvsCamera->isConnected()) {
        qDebug() << "Please connect camera first.";
        stopLiveThread(); // a loop that ended on a lost connection is still to be joined
        ui->pb_play->setChecked(false);
        return;
    }
    if (!start) {
        stopLiveThread();
        // Batches are polled, no event callback is registered: nothing to remove here.
        ui->pb_play->setChecked(false);
        m_dvsCamera->stop();
        qDebug() << "stop camera.";
        return;
    }
    stopLiveThread();
    if (m_dvsCamera->start() != 0) {
        qDebug() << "Please check the camera connection.";
        ui->pb_play->setChecked(false);
        return;
    }
    m_dvsCamera->setBatchSliceTime(m_accumulationTimeUs);
    m_streaming.store(true);
    m_liveThread = std::thread(&MainWidget::liveLoop, this, m_dvsCamera);
    ui->pb_play->setChecked(true);
}

void MainWidget::playFusionCamera(bool start)
{
    if (!m_fusionCamera || !m_fusionCamera->isConnected()) {
        qDebug() << "Please connect camera first.";
        ui->pb_play->setChecked(false);
        return;
    }
    if (start) {
        m_streaming.store(true);
        // A refused start would leave the button in its pause look over a still camera.
        if (!m_fusionCamera->start(vexadin::STREAM_FUSION)) {
            m_streaming.store(false);
            qDebug() << "Please check the camera connection.";
            ui->pb_play->setChecked(false);
            return;
        }
        ui->pb_play->setChecked(true);
        qDebug() << "Fusion camera start";
        return;
    }
    m_fusionCamera->stop(vexadin::STREAM_FUSION);
    m_streaming.store(false);
    ui->pb_play->setChecked(false);
    qDebug() << "Fusion camera stop.";
    m_fusionProcessor->clear();
}

void MainWidget::liveLoop(std::shared_ptr<vexadin::DvsCamera> camera)
{
    using Clock = std::chrono::steady_clock;
    const std::chrono::milliseconds pause(1000 / m_liveFps);
    const std::chrono::microseconds period(1000000 / m_liveFps);
    while (m_streaming.load()) {
        const Clock::time_point t0 = Clock::now();
        if (camera->getNextBatch(m_eventBatch) && !m_eventBatch.empty()) {
            m_eventProcessor->accumulate(m_eventBatch);
            m_lastEventTimestamp.store(m_eventBatch.back().timestamp);
            if (!m_framePending.exchange(true))
                emit triggerEventsToShow();
            if (pause.count() > 0)
                sleepUntil(Clock::now() + pause, m_streaming);
        }
        const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - t0);
        if (elapsed < period && m_streaming.load())
            sleepUntil(Clock::now() + (period - elapsed), m_streaming);
        if (!camera->isConnected()) {
            qDebug() << "Camera connection lost.";
            m_streaming.store(false);
        }
    }
}

bool MainWidget::sleepUntil(std::chrono::steady_clock::time_point deadline, const std::atomic<bool> &keepGoing)
{
    std::unique_lock<std::mutex> lock(m_sleepMutex);
    return !m_sleepWake.wait_until(lock, deadline, [&keepGoing] { return !keepGoing.load(); });
}

void MainWidget::wakeSleepers()
{
    // Taking the mutex orders the flag change before a sleeper's next check.
    { std::lock_guard<std::mutex> lock(m_sleepMutex); }
    m_sleepWake.notify_all();
}

void MainWidget::stopLiveThread()
{
    m_streaming.store(false);
    wakeSleepers();
    if (m_liveThread.joinable())
        m_liveThread.join();
}

void MainWidget::getEventsToShow()
{
    m_framePending.store(false);
    m_eventProcessor->publishLiveFrame();
}

void MainWidget::getEventsToShow(QPixmap *img)
{
    ui->widget_show_image->showPixMap(img);
    if (m_sourceMode == LiveDvs)
        emit toShowCameraTimestamp(m_lastEventTimestamp.load());
}

void MainWidget::setLiveAccumulationTime(uint64_t time_us)
{
    m_accumulationTimeUs = time_us;
    if (m_dvsCamera)
        m_dvsCamera->setBatchSliceTime(m_accumulationTimeUs);
    qDebug() << "set dvs time interval: " << time_us;
}

void MainWidget::onStatistics(vexadin::VxStatisticInfo info)
{
    const QString bandwidth =
        tr(" Bandwidth: ") + QString::number(double(info.bandwidth) / 1024 / 1024, 'f', 1) + " MB/s ";
    const QString events = tr(" Events: ") + QString::number(double(info.eventRate) / 1000000, 'f', 1) + " MEv/s ";
    emit signalStatisticsText(bandwidth, events);
}

void MainWidget::showStatisticsText(QString bandwidth, QString events)
{
    m_bandwidthText = bandwidth;
    m_eventRateText = events;
    ui->lb_status_bar->setText(m_bandwidthText + m_eventRateText);
}

void MainWidget::on_pb_record_clicked()
{
    if (m_sourceMode == LiveDvs) {
        recordDvsCamera();
    } else if (m_sourceMode == LiveFusion) {
        recordFusionCamera();
    }
    if (m_recording.load())
        startRecordClock();
    else
        stopRecordClock();
}

// The part of a record click both kinds of camera share: true when it was handled
// here (no camera to record from, or a recording to stop), false to start one.
bool MainWidget::recordClickStopsOrRefuses(bool cameraConnected)
{
    if (!cameraConnected) {
        qDebug() << "Please connect camera first.";
        ui->pb_record->setChecked(false);
        // A camera lost in the middle of a recording: finish what was recorded.
        if (m_recording.load())
            stopManualRecording(true);
        return true;
    }
    if (m_recording.load()) {
        qDebug() << "stop recording";
        stopManualRecording(true);
        return true;
    }
    qDebug() << "start recording...";
    return false;
}

void MainWidget::recordingStartFailed(const QString &what)
{
    qDebug() << "recording not started: " << what;
    ui->pb_record->setChecked(false);
    emit signalShowLeftBottomTips(tr("Recording could not be started."), VxMessageType::Error,
                                  m_settings->outputRawFilePath);
}

void MainWidget::recordDvsCamera()
{
    if (recordClickStopsOrRefuses(m_dvsCamera && m_dvsCamera->isConnected()))
        return;
    const QString path = VxFileRecorder::recordingFilePath(
        m_settings->outputRawFilePath, QString::fromLocal8Bit(m_dvsCamera->getDescription().serial.c_str()));
    // Refused while a trigger-in recording runs or when the file cannot be
    // created: then there is nothing to show a clock or a success for.
    if (!m_dvsCamera->startRecording(path.toLocal8Bit().toStdString())) {
        recordingStartFailed(path);
        return;
    }
    m_recording.store(true);
    ui->pb_record->setChecked(true);
}

void MainWidget::recordFusionCamera()
{
    if (recordClickStopsOrRefuses(m_fusionCamera && m_fusionCamera->isConnected()))
        return;
    // The camera writes name.raw, name.mp4 and name.json into the folder.
    const QString name = QString::fromLocal8Bit(m_fusionCamera->getDescription().serial.c_str())
                         + QDateTime::currentDateTime().toString("_yyyyMMdd_HHmmss");
    if (!m_fusionCamera->startRecording(m_settings->outputRawFilePath.toLocal8Bit().toStdString(),
                                        name.toLocal8Bit().toStdString(), vexadin::STREAM_FUSION)) {
        recordingStartFailed(name);
        return;
    }
    m_recording.store(true);
    ui->pb_record->setChecked(true);
}

void MainWidget::stopManualRecording(bool notify)
{
    m_recording.store(false);
    wakeSleepers();
    ui->pb_record->setChecked(false);
    // Only one camera is open at a time.
    bool saved = false;
    if (m_dvsCamera)
        saved = m_dvsCamera->stopRecording();
    else if (m_fusionCamera)
        saved = m_fusionCamera->stopRecording(vexadin::STREAM_FUSION);
    stopRecordClock();
    if (notify && saved)
        emit signalShowLeftBottomTips(tr("Save file success!"), VxMessageType::Success, m_settings->outputRawFilePath);
}

void MainWidget::startRecordClock()
{
    if (!m_recordClockThread.joinable())
        m_recordClockThread = std::thread(&MainWidget::recordClockLoop, this);
}

void MainWidget::stopRecordClock()
{
    if (m_recordClockThread.joinable())
        m_recordClockThread.join();
}

void MainWidget::recordClockLoop()
{
    const auto start = std::chrono::steady_clock::now();
    for (uint64_t n = 0; m_recording.load(); ++n) {
        emit signalRecordingClockText(QString::fromStdString(formatHms(n)));
        // Ticks keep to the start time, so the shown seconds do not drift.
        sleepUntil(start + std::chrono::seconds(n + 1), m_recording);
    }
    emit signalRecordingClockText(QString());
}

void MainWidget::releaseDvsCamera()
{
    if (m_dvsCamera) {
        m_dvsCamera->removeTriggerInCallback(m_triggerInCallbackId);
        m_triggerInCallbackId = -1;
        m_dvsCamera->setStatisticInfoCallback({});
    }
    m_fileRecorder->setCamera(nullptr);
    m_dvsCamera.reset();
    std::lock_guard<std::mutex> lock(m_triggerMutex);
    m_triggerConfig = TriggerInConfig();
}

std::shared_ptr<vexadin::CameraTool> MainWidget::cameraTool(vexadin::ToolType type) const
{
    if (m_sourceMode == LiveDvs && m_dvsCamera)
        return m_dvsCamera->getTool(type);
    if (m_sourceMode == LiveFusion && m_fusionCamera)
        return m_fusionCamera->getTool(type);
    return nullptr;
}

MainWidget::CameraTools MainWidget::cameraTools() const
{
    using namespace vexadin;
    return {cameraTool(TOOL_BIASES),     cameraTool(TOOL_TRIGGER_IN),         cameraTool(TOOL_ANTI_FLICKER),
            cameraTool(TOOL_EVENT_RATE_CONTROL), cameraTool(TOOL_EVENT_TRAIL_FILTER), cameraTool(TOOL_ROI)};
}

void MainWidget::setupCameraPanels()
{
    auto *dvs = qobject_cast<SidebarDvsSettingUI *>(m_sidePanels[DvsPanel]);
    if (!dvs)
        return;
    const CameraTools tools = cameraTools();
    dvs->setBiasesToolUI(tools.biases);
    dvs->setTriggerInToolUI(tools.triggerIn);
    dvs->setAntiFlickerToolUI(tools.antiFlicker);
    dvs->setEventRateControlToolUI(tools.eventRateControl);
    dvs->setEventTrailFilterToolUI(tools.eventTrailFilter);
    dvs->setROIToolUI(tools.roi);
    if (m_sourceMode == LiveDvs && m_dvsCamera)
        dvs->setCamera(m_dvsCamera);
}
