#pragma once

#include "app/vxmessagetype.h"
#include "camera/event2d.h"
#include "camera/eventtriggerin.h"
#include "camera/streamtype.h"
#include "camera/tooltype.h"
#include "camera/vxstatisticinfo.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

class AppSettings;
class QAction;
class QMenu;
class RecordingImportJob;
class SidebarApsSettingUI;
class VxCutRawFile;
class VxEventProcessor;
class VxExportVideoUI;
class VxFileRecorder;
class VxFusionCameraDataProcessor;
class VxThreeHandleSlider;
class VxWindowAgent;
class WaitingWin;

namespace Ui {
class Widget;
}

namespace vexadin {
class CameraTool;
class DvsCamera;
class DvsCameraManager;
class FusionCamera;
} // namespace vexadin

// The application's only top-level window: a frameless window with its own
// title bar and menus, a side area for the settings panels and the main frame
// with the information line, the image view, the playback bar and the status
// bar. It owns the camera manager, the open camera, the playback worker and
// the fusion worker (fusion camera and fusion recordings), the recorder, and
// wires them to the controls; the source mode decides what the play, record
// and file commands mean.
//
// Threads: the live loop (reads a DVS camera's batches and accumulates them),
// the recording clock, the camera-opening task, and the camera's own callback
// threads (statistics, trigger-in; a fusion camera's frames and events, which
// go straight to the fusion worker). They reach the widgets only through queued
// signals; all are ended before the window goes.
class MainWidget : public QWidget
{
    Q_OBJECT

public:
    enum SourceMode { Empty = 0, LiveDvs = 1, LiveFusion = 2, RawRecording = 3, FusionRecording = 4 };
    // Side panels in their order in layout_sidebar_setting; each belongs to one
    // button of the side-bar column.
    enum SidePanel { DisplayPanel = 0, ApsPanel = 1, DvsPanel = 2 };

    explicit MainWidget(QWidget *parent = nullptr);
    ~MainWidget() override;

    // Opens a recording the user chose; the file dialog stays in slotOpenRecording().
    void openRecording(const QString &path);
    // Opens the first file named on the command line the way the Open dialog
    // does; the others are ignored with a warning (log line and toast).
    void openFromCommandLine(const QStringList &files);
    // A file chosen to open: a recording opens, event data from another tool is imported.
    void openChosenFile(const QString &path);
    // Event data from another tool: converted into a recording in the cache folder
    // (behind the waiting window, with progress and Cancel), then opened as usual.
    void importRecording(const QString &path);
    bool isImporting() const { return !m_importJob.isNull(); }
    // A .raw file with a same-named .mp4 beside it is a fusion recording.
    static bool isFusionRecording(const QString &rawPath);

    // The export and cut commands: fill a dialog from the slider and the
    // settings, and after acceptance hand its values to the playback worker.
    void prepareExportDialog(VxExportVideoUI &dialog) const;
    void exportFromDialog(const VxExportVideoUI &dialog);
    void prepareCutDialog(VxCutRawFile &dialog) const;
    void cutFromDialog(const VxCutRawFile &dialog);

    // Language rule of the "EN/中文" switch: only "en" becomes "zh", every
    // other value becomes "en".
    static QString switchedLanguage(const QString &current);
    // Stores the switched language in the settings and saves them.
    void saveSwitchedLanguage();

    // The window's mode for a camera's product: exact, case-sensitive names.
    static int sourceModeForProduct(const std::string &product);
    // True when a fusion camera's firmware text names version 1.7.2 or later;
    // a text without a version fails (and is logged).
    static bool fusionFirmwareUpToDate(const std::string &firmware);

    // Opens the chosen camera and wires it; runs on the opening thread while the
    // waiting window blocks the GUI.
    void openCameraTask(const std::string &serial);
    // Camera callback threads.
    void onStatistics(vexadin::VxStatisticInfo info);
    void onTriggerIn(vexadin::EventTriggerIn t);

    int sourceMode() const { return m_sourceMode; }
    bool isStreaming() const { return m_streaming.load(); }
    bool isRecording() const { return m_recording.load(); }
    std::shared_ptr<vexadin::DvsCamera> dvsCamera() const { return m_dvsCamera; }
    std::shared_ptr<vexadin::FusionCamera> fusionCamera() const { return m_fusionCamera; }
    const std::string &firmwareVersion() const { return m_firmwareVersion; }
    int viewerType() const { return m_viewerType; }
    VxFusionCameraDataProcessor *fusionProcessor() const { return m_fusionProcessor; }
    VxFileRecorder *fileRecorder() const { return m_fileRecorder; }
    VxThreeHandleSlider *timeSlider() const { return m_slider; }
    VxEventProcessor *eventProcessor() const { return m_eventProcessor; }
    QMenu *viewerSettingMenu() const { return m_viewerSettingMenu; }
    QAction *startEndPointAction() const { return m_startEndPointAction; }

    // Puts a settings panel into the side area, in the slot of its button.
    // The window takes ownership. A panel whose button is down is shown.
    void addSidePanel(SidePanel which, QWidget *panel);
    QWidget *sidePanel(SidePanel which) const { return m_sidePanels[which]; }

    // Where the window stands when shown: centred on the primary screen's
    // available area.
    QPoint centredPosition() const;
    void setVisible(bool visible) override;

signals:
    void triggerEventsToShow();
    void triggerShowPixmap(QPixmap *img);
    void resetShowCameraFormTitle(bool);
    void toShowCameraSerial(QString);
    void toShowCameraTimestamp(uint64_t);
    void setShowCameraLiveUI(bool);
    void signalShowLeftBottomTips(QString tips, VxMessageType type = VxMessageType::Success,
                                  QString file_path = QString());
    void signalPlaybackReset();
    void signalOpenRawFile(QString);
    void signalOpenFusionFile(QString);
    void signalSetViewerShowType(vexadin::STREAM_TYPE);
    void signalExportVideo(QString out_path, QString out_dir, uint64_t start_ts, uint64_t end_ts);
    void signalCutRawFile(QString out_path, QString out_dir, uint64_t start_ts, uint64_t end_ts);
    void signalRecByTime(uint32_t seconds, QString path);
    // Hand texts and requests of other threads to the GUI thread.
    void signalStatisticsText(QString bandwidth, QString events);
    void signalRecordingClockText(QString text);
    void signalCameraOpened();

public slots:
    void slotOpenCamera();
    void slotShowCameraInfo();
    void initDvsCameraSettings();
    void on_pb_play_clicked(bool checked);
    void on_pb_record_clicked();
    void getEventsToShow();
    void getEventsToShow(QPixmap *img);
    // New accumulation time of the display panel: also the live camera's slice length.
    void setLiveAccumulationTime(uint64_t time_us);
    void showCameraPlayingUI(bool en);
    void openActionSlot(QAction *action);
    void slotOpenRecording();
    void slotSaveAs();
    void slotCutRecording();
    void setShowTitleInfo(bool show);
    void showCameraSerial(QString str);
    void showTimeStamp(uint64_t timestamp_us);
    void slotStartEndPointEditable(bool en);
    void slotShowLeftBottomTips(QString tips, VxMessageType type = VxMessageType::Success,
                                QString file_path = QString());
    void slotSetSliderStartTime(uint64_t ts);
    void slotSetSliderEndTime(uint64_t ts);
    void slotSetWaitWinStatus(bool en);
    void maximizedChanged(bool max);

private slots:
    void on_pb_win_min_clicked();
    void on_pb_win_max_clicked();
    void on_pb_win_close_clicked();
    void on_pb_fold_setting_clicked(bool checked);
    void on_pb_fold_dvs_setting_clicked(bool checked);
    void on_pb_fold_aps_setting_clicked(bool checked);
    void on_pb_fold_general_setting_clicked();
    void on_pb_viewer_setting_clicked(bool checked);
    void on_pb_viewer_type_clicked();
    void showStatisticsText(QString bandwidth, QString events);
    void startOpenedCamera();

protected:
    // While an export or cut runs, the window stays and asks (right after) whether
    // to cancel it and quit, or keep working.
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    // Camera callbacks hold this; the destructor closes it so that a callback
    // already running on a camera thread never reaches a window being destroyed.
    struct CallbackGate;
    // What a trigger-in needs, taken on the GUI thread when the settings are applied.
    struct TriggerInConfig {
        QString serial;
        QString folder;
        QString edgeType;
        uint32_t afterSeconds = 0;
    };
    // The parameter tools of the open camera, empty without one.
    struct CameraTools {
        std::shared_ptr<vexadin::CameraTool> biases, triggerIn, antiFlicker, eventRateControl,
            eventTrailFilter, roi;
    };

    // The action texts, translated once; openActionSlot() compares with them.
    struct ActionTexts {
        QString openCamera, cameraInfo, openRecording, saveAs, cutRecording, quit;
        QString generalSetting, language, aboutUs, toggleStartEndPoint;
    };

    QMenu *createPopupMenu();
    void buildMenus();
    void attachToolTips();
    void connectEventProcessor();
    void connectFusionProcessor();
    // Sets the view mode and its icons; the fusion worker is told too, so the
    // button never shows another mode than the pictures.
    void setViewerType(int type);
    // A fusion recording whose load ended without a range could not be read.
    void fusionLoadStatus(bool loading);
    // A recording's calibration file that is there but unusable is reported; the
    // worker then keeps its calibration.
    void checkFusionCalibrationFile(const QString &rawPath);
    void showSidePanel(SidePanel which, bool show);
    void setRecordingControlsEnabled(bool en);
    bool askUser(const QString &message, const QString &acceptText, const QString &rejectText);
    void runGeneralSettingDialog();

    // The opening task's branch for the current mode; false when nothing could be opened.
    bool openCameraOfMode(const std::string &serial);
    void playDvsCamera(bool start);
    bool recordClickStopsOrRefuses(bool cameraConnected);
    void recordingStartFailed(const QString &what);
    void recordDvsCamera();
    void playFusionCamera(bool start);
    void recordFusionCamera();
    // Opens the fusion camera and hands it to the fusion worker; false when it cannot be opened.
    bool openFusionCamera(const std::string &serial);
    // Forgets the fusion camera (the worker's reference too); callbacks end with it.
    void releaseFusionCamera();
    void liveLoop(std::shared_ptr<vexadin::DvsCamera> camera);
    void stopLiveThread();
    // Sleeps until the deadline; false (early) once `keepGoing` turns false.
    bool sleepUntil(std::chrono::steady_clock::time_point deadline, const std::atomic<bool> &keepGoing);
    void wakeSleepers();
    void recordClockLoop();
    void startRecordClock();
    void stopRecordClock();
    // Ends a manual recording: the camera finishes the file, the clock stops.
    void stopManualRecording(bool notify);
    // Unhooks and drops the DVS camera (also the recorder's reference).
    void releaseDvsCamera();
    std::shared_ptr<vexadin::CameraTool> cameraTool(vexadin::ToolType type) const;
    CameraTools cameraTools() const;
    // Hands the open camera's six parameter tools to the DVS panel, in the
    // order of its sections, and (event camera) the camera itself for its config bar.
    void setupCameraPanels();
    // Stops the running import (if any); its thread ends on its own, later.
    void cancelImport();
    void importFinished(RecordingImportJob *job, bool ok, const QString &message);
    // True when no export or cut runs, or the user chose to cancel them (done here).
    bool stopJobsToLeave(const QString &question, const QString &stopText);

    Ui::Widget *ui;
    VxWindowAgent *m_windowAgent = nullptr;
    AppSettings *m_settings = nullptr;
    ActionTexts m_texts;
    QMenu *m_viewerSettingMenu = nullptr;
    QAction *m_startEndPointAction = nullptr;
    WaitingWin *m_waitingWin = nullptr;
    VxThreeHandleSlider *m_slider = nullptr;
    VxEventProcessor *m_eventProcessor = nullptr;
    VxFusionCameraDataProcessor *m_fusionProcessor = nullptr;
    // A fusion recording is loading and its range has (not yet) arrived.
    bool m_fusionLoading = false;
    bool m_fusionRangeLoaded = false;
    QString m_fusionLoadingPath;
    QWidget *m_sidePanels[3] = {nullptr, nullptr, nullptr};
    // Toasts have no parent and delete themselves after a few seconds; the
    // ones still alive go with the window.
    QList<QPointer<QWidget>> m_toasts;
    int m_sourceMode = Empty;

    // Camera. The pointer is written on the GUI thread, or by the opening task
    // while the GUI thread only runs the waiting window; threads take copies.
    std::unique_ptr<vexadin::DvsCameraManager> m_cameraManager;
    std::shared_ptr<vexadin::DvsCamera> m_dvsCamera;
    std::shared_ptr<vexadin::FusionCamera> m_fusionCamera;
    std::string m_firmwareVersion;
    std::shared_ptr<CallbackGate> m_callbackGate;
    // Released by the opening task when it is done with the camera fields, acquired
    // by the GUI thread before it uses them again (the event queue's own locking
    // is inside Qt, out of a race checker's sight).
    std::atomic<unsigned> m_cameraHandover{0};
    VxFileRecorder *m_fileRecorder = nullptr;
    int m_triggerInCallbackId = -1;
    std::mutex m_triggerMutex; // m_triggerConfig: GUI thread vs. trigger-in callbacks
    TriggerInConfig m_triggerConfig;
    uint64_t m_accumulationTimeUs = 33333;
    const uint16_t m_liveFps = 33;
    int m_viewerType = 2;
    QString m_bandwidthText;
    QString m_eventRateText;

    // Live stream and recording clock.
    std::atomic<bool> m_streaming{false};
    std::atomic<bool> m_recording{false};
    // The loop asks for one frame at a time: a GUI that falls behind gets one
    // publish for everything accumulated meanwhile, not a growing queue.
    std::atomic<bool> m_framePending{false};
    std::atomic<uint64_t> m_lastEventTimestamp{0};
    std::vector<vexadin::Event2D> m_eventBatch; // live thread only
    std::thread m_liveThread;
    std::thread m_recordClockThread;
    std::mutex m_sleepMutex; // lets a stop cut the live loop's and the clock's sleeps short
    std::condition_variable m_sleepWake;
    // The import whose result the window waits for, and every job whose thread may
    // still run (a cancelled one finishes in the background and is deleted then).
    QPointer<RecordingImportJob> m_importJob;
    QList<QPointer<RecordingImportJob>> m_importJobs;
    // Loads, exports and cuts under way: the waiting window closes with the last.
    int m_busyCount = 0;
    // Closing while an export or cut runs: the question is on its way or open.
    bool m_closeQuestionPending = false;
};
