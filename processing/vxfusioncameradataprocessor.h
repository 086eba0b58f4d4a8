#pragma once

#include "app/appsettings.h"
#include "app/vxmessagetype.h"
#include "camera/apsfilereader.h"
#include "camera/apsframe.h"
#include "camera/calibratorparameters.h"
#include "camera/dvsfileinfo.h"
#include "camera/dvsfilereader.h"
#include "camera/event2d.h"
#include "camera/eventtriggerin.h"
#include "camera/fusioncamera.h"
#include "camera/streamtype.h"
#include "processing/apsframeprefetcher.h"
#include "processing/calibrator.h"
#include "processing/dvsapsfusionproccessor.h"

#include <QImage>
#include <QObject>
#include <QPixmap>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

Q_DECLARE_METATYPE(vexadin::STREAM_TYPE)

// The fusion worker: turns a fusion camera's live data, or a fusion recording (the
// .raw events, the .mp4 colour frames and the optional .json calibration sharing one
// base name), into pictures for the image view. Every colour frame is first warped
// into the event grid by the calibrator; the view mode then shows the frame alone
// (STREAM_APS), the frame with the events of its window drawn over it
// (STREAM_FUSION), or the events alone (STREAM_DVS).
//
// Lives on the GUI thread, where all slots run. A recording loads on a loading thread
// and plays on a playback thread (one tick every 33,333 µs of wall time, the position
// advancing 1,000,000 / fps µs per tick); live data arrives on the camera's callback
// threads through addApsData, accumulateEvents, addDvsData and addSyncSignal.
// signalPlayStatus and signalPalyFileFinished are always emitted on the GUI thread
// (the window connects them directly to its play button); the other signals may come
// from any of the worker's threads.
class VxFusionCameraDataProcessor : public QObject {
    Q_OBJECT
public:
    static constexpr uint64_t kTickPeriodUs = 33333;

    // Colours and the calibration folder come from `settings`, which must outlive the
    // worker; null means AppSettings::instance() (GUI thread only).
    explicit VxFusionCameraDataProcessor(AppSettings *settings = nullptr, QObject *parent = nullptr);
    ~VxFusionCameraDataProcessor() override;

    VxFusionCameraDataProcessor(const VxFusionCameraDataProcessor &) = delete;
    VxFusionCameraDataProcessor &operator=(const VxFusionCameraDataProcessor &) = delete;

    // Live data, from the camera's callback threads.
    void addApsData(vexadin::ApsFrame frame);
    void addDvsData(const vexadin::Event2D *begin, const vexadin::Event2D *end);
    void addSyncSignal(const vexadin::EventTriggerIn &signal);
    void clear();
    // Counts events for the events-only view; called with each batch right before addDvsData.
    void accumulateEvents(const vexadin::Event2D *begin, const vexadin::Event2D *end);

    // The open fusion camera (empty to forget it). GUI thread.
    void setCamera(std::shared_ptr<vexadin::FusionCamera> camera);
    // The camera's calibration; false when the record is refused (see Calibrator).
    bool loadCalibrationParam(vexadin::CalibratorParameters &params);

    // Inspection (tests, diagnostics).
    vexadin::Calibrator &calibrator() { return calibrator_; }
    const DvsApsFusionProccessor &fusionProcessor() const { return *fusion_processor_; }
    uint64_t timeBase() const { return time_base_.load(); }
    uint64_t rangeStart() const { return fusion_file_start_timestamp_.load(); }
    uint64_t rangeEnd() const { return fusion_file_end_timestamp_.load(); }
    uint64_t frameInterval() const { return frame_interval_us_.load(); }
    bool isPlaying() const { return playing_.load(); }
    bool isLoading() const { return loading_.load(); }

signals:
    void signalFusionImage(QImage image);
    void signalFusionPixMap(QPixmap pixmap);
    void triggerFusionImage();
    void signalTimeStamp(uint64_t timestamp_us);
    void signalStartTimeStamp(uint64_t timestamp_us);
    void signalEndTimeStamp(uint64_t timestamp_us);
    void signalPalyFileFinished();
    void signalPlayStatus(bool playing);
    void signalLoadingStatus(bool loading);
    void signalShowLeftBottomTips(QString tips, VxMessageType type = VxMessageType::Success,
                                  QString file_path = QString());

public slots:
    void slotSetViewerType(vexadin::STREAM_TYPE type);
    bool slotReadFusionFile(QString str);
    void slotSetLowerTimeStamp(uint64_t timestamp_us);
    void slotSetUpperTimeStamp(uint64_t timestamp_us);
    void slotSetReplayFlag(bool replay);
    void slotPlaybackCtrl(bool play);
    void slotPlaybackReset();
    void preFrame();
    void nextFrame();
    void setPlayPos(uint64_t timestamp_us);
    void setFps(int fps);
    void setAccTime(uint64_t time_us);
    void slotSetApsOffset(double dx, double dy);
    void slotApplyOffset();

private:
    // Recording side.
    void loadingTask();
    void playbackLoop();
    // Shows the picture at time_base_; false when no picture could be made.
    bool renderFusionFrame();
    // Makes current_aps_frame_ / next_aps_frame_ the frames around event time t.
    bool chooseApsFrames(uint64_t t);
    // Reads the next APS frame and warps it; false when none could be read.
    bool readNextWarped(vexadin::ApsFrame &warped);
    bool readWarpedAt(uint64_t eventTime, vexadin::ApsFrame &warped);
    // Back to the first APS frame and the first event; false when no frame can be read.
    bool rewindReaders(uint64_t positionAfter);
    bool hasRecording() const;
    void releaseReaders();
    void stopPlayback();
    // Pauses for a step or seek; tells the window when playback was running.
    void pauseForStep();
    void joinLoading();
    // Emit on the GUI thread (the window's play button is connected directly).
    void postPlayStatus(bool playing);
    void postFileFinished();
    enum class Posted { Playing, Paused, Finished };
    void post(Posted what);
    Q_INVOKABLE void emitPosted();
    uint64_t apsToEventTime(uint64_t apsTime) const;
    uint64_t eventToApsTime(uint64_t eventTime) const;

    // Live side: runs on a camera thread with the pairing lock held.
    void onFusionData(vexadin::ApsFrame &frame, vexadin::Event2D *begin, vexadin::Event2D *end);
    bool liveCameraConnected();

    // Pictures.
    // Copies the overlap of `warped` and the image (the rest black).
    static void copyWarped(const vexadin::ApsFrame &warped, QImage &image);
    // Events replace the pixels they hit; later events win.
    void drawEvents(QImage &image, const vexadin::Event2D *begin, const vexadin::Event2D *end,
                    const EventColors &colors) const;
    void drawCountsImage(const EventColors &colors);

    std::shared_ptr<vexadin::FusionCamera> camera_; // guarded by camera_mutex_
    std::mutex camera_mutex_;
    std::mutex display_mutex_;
    QImage display_image_; // guarded by display_mutex_
    std::mutex dvs_image_mutex_;
    QImage dvs_image_; // guarded by dvs_image_mutex_
    std::mutex event_counts_mutex_;
    std::vector<uint16_t> event_counts_; // guarded by event_counts_mutex_
    std::vector<uint16_t> drawn_counts_; // swapped with event_counts_; under dvs_image_mutex_
    const uint32_t count_limit_ = 10;
    const int dvs_height_ = 720;
    const int dvs_width_ = 1280;
    std::atomic<int> viewer_type_{vexadin::STREAM_FUSION};
    std::atomic<bool> playing_{false};
    std::atomic<bool> replay_{false};
    // Readers: set and released on the GUI thread, or on the loading thread while
    // loading_ is set; used by one thread at a time (loading, playback, or the GUI
    // with playback stopped).
    std::shared_ptr<vexadin::DvsFileReader> dvs_reader_;
    std::shared_ptr<vexadin::ApsFileReader> aps_reader_;
    // Once a recording is loaded, every read of its frames goes through here: the
    // frames are decoded ahead on the prefetcher's thread.
    ApsFramePrefetcher aps_frames_;
    std::atomic<uint64_t> dvs_first_timestamp_{0};
    std::atomic<uint64_t> dvs_last_timestamp_{0};
    std::atomic<uint64_t> fusion_file_start_timestamp_{0};
    std::atomic<uint64_t> fusion_file_end_timestamp_{0};
    std::atomic<uint64_t> time_base_{0};
    std::vector<uint64_t> aps_index_;
    std::thread playback_thread_;
    vexadin::DvsFileInfo dvs_file_info_;
    std::atomic<int64_t> aps_time_offset_{0};
    vexadin::ApsFrame current_aps_frame_;
    vexadin::ApsFrame next_aps_frame_;
    vexadin::ApsFrame read_frame_; // decoder output, reused between reads
    std::atomic<uint64_t> frame_interval_us_{33333};
    std::atomic<uint64_t> acc_time_us_{33333};
    std::atomic<bool> loading_{false};
    std::atomic<bool> cancel_loading_{false};
    std::thread loading_thread_;
    std::mutex posted_mutex_;
    std::deque<Posted> posted_; // notices posted to the GUI thread, in order; under posted_mutex_
    std::mutex pacing_mutex_; // lets a pause cut the tick's sleep short
    std::condition_variable pacing_wake_;
    std::unique_ptr<DvsApsFusionProccessor> fusion_processor_;
    AppSettings *settings_;
    vexadin::Calibrator calibrator_;
};
