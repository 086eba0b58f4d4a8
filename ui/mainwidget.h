#pragma once

#include "app/vxmessagetype.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <memory>

class AppSettings;
class QAction;
class QMenu;
class RecordingImportJob;
class VxCutRawFile;
class VxEventProcessor;
class VxExportVideoUI;
class VxThreeHandleSlider;
class VxWindowAgent;
class WaitingWin;

namespace Ui {
class Widget;
}

namespace vexadin {
class DvsCamera;
}

// The application's only top-level window: a frameless window with its own
// title bar and menus, a side area for the settings panels and the main frame
// with the information line, the image view, the playback bar and the status
// bar. It owns the playback worker and wires it to the controls; the source
// mode decides what the play and file commands mean.
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

    int sourceMode() const { return m_sourceMode; }
    VxThreeHandleSlider *timeSlider() const { return m_slider; }
    VxEventProcessor *eventProcessor() const { return m_eventProcessor; }
    QMenu *viewerSettingMenu() const { return m_viewerSettingMenu; }
    QAction *startEndPointAction() const { return m_startEndPointAction; }

    // Puts a settings panel into the side area, in the slot of its button.
    // The window takes ownership. A panel whose button is down is shown.
    void addSidePanel(SidePanel which, QWidget *panel);
    QWidget *sidePanel(SidePanel which) const { return m_sidePanels[which]; }

    // Hands the open camera's six parameter tools to the DVS panel, in the
    // order of its sections, and the camera itself for its config bar.
    void setupCameraPanels(const std::shared_ptr<vexadin::DvsCamera> &camera);

    // Where the window stands when shown: centred on the primary screen's
    // available area.
    QPoint centredPosition() const;
    void setVisible(bool visible) override;

signals:
    void resetShowCameraFormTitle(bool);
    void toShowCameraSerial(QString);
    void toShowCameraTimestamp(uint64_t);
    void setShowCameraLiveUI(bool);
    void signalShowLeftBottomTips(QString tips, VxMessageType type = VxMessageType::Success,
                                  QString file_path = QString());
    void signalPlaybackReset();
    void signalOpenRawFile(QString);
    void signalExportVideo(QString out_path, QString out_dir, uint64_t start_ts, uint64_t end_ts);
    void signalCutRawFile(QString out_path, QString out_dir, uint64_t start_ts, uint64_t end_ts);

public slots:
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

protected:
    // While an export or cut runs, the window stays and asks (right after) whether
    // to cancel it and quit, or keep working.
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    // The action texts, translated once; openActionSlot() compares with them.
    struct ActionTexts {
        QString openCamera, cameraInfo, openRecording, saveAs, cutRecording, quit;
        QString generalSetting, language, aboutUs, toggleStartEndPoint;
    };

    QMenu *createPopupMenu();
    void buildMenus();
    void attachToolTips();
    void connectEventProcessor();
    void showSidePanel(SidePanel which, bool show);
    void setRecordingControlsEnabled(bool en);
    bool askUser(const QString &message, const QString &acceptText, const QString &rejectText);
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
    QWidget *m_sidePanels[3] = {nullptr, nullptr, nullptr};
    // Toasts have no parent and delete themselves after a few seconds; the
    // ones still alive go with the window.
    QList<QPointer<QWidget>> m_toasts;
    int m_sourceMode = Empty;
    // The import whose result the window waits for, and every job whose thread may
    // still run (a cancelled one finishes in the background and is deleted then).
    QPointer<RecordingImportJob> m_importJob;
    QList<QPointer<RecordingImportJob>> m_importJobs;
    // Loads, exports and cuts under way: the waiting window closes with the last.
    int m_busyCount = 0;
    // Closing while an export or cut runs: the question is on its way or open.
    bool m_closeQuestionPending = false;
};
