#include "processing/vxfusioncameradataprocessor.h"

#include "camera/calibrationjson.h"

#include <QDebug>
#include <QFileInfo>
#include <QMetaObject>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>

using vexadin::ApsFrame;
using vexadin::Event2D;

namespace {

constexpr int kImageWidth = 1280;
constexpr int kImageHeight = 720;
constexpr size_t kCountEntries = size_t(kImageWidth) * kImageHeight * 2;

uint64_t saturatingAdd(uint64_t a, uint64_t b)
{
    return b > std::numeric_limits<uint64_t>::max() - a ? std::numeric_limits<uint64_t>::max() : a + b;
}

uint64_t saturatingSub(uint64_t a, uint64_t b)
{
    return a > b ? a - b : 0;
}

// The recording's path without its extension; a dot in a folder name is not one.
std::string recordingBase(const std::string &path)
{
    const size_t dot = path.rfind('.');
    const size_t slash = path.find_last_of("/\\");
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return path;
    return path.substr(0, dot);
}

QImage blankImage()
{
    QImage image(kImageWidth, kImageHeight, QImage::Format_BGR888);
    image.fill(Qt::black);
    return image;
}

// An image to overwrite completely: a new one when a receiver still shares it, so the
// old picture is not copied only to be overwritten.
void prepareForOverwrite(QImage &image)
{
    if (!image.isDetached())
        image = QImage(kImageWidth, kImageHeight, QImage::Format_BGR888);
#if !defined(__SANITIZE_THREAD__) // ThreadSanitizer cannot see fences (GCC warns there)
    else // the last other owner's reads, on the GUI thread, come before our writes
        std::atomic_thread_fence(std::memory_order_acquire);
#endif
}

struct Bgr {
    uchar b, g, r;
};

Bgr toBgr(QRgb rgb)
{
    return {uchar(qBlue(rgb)), uchar(qGreen(rgb)), uchar(qRed(rgb))};
}

} // namespace

VxFusionCameraDataProcessor::VxFusionCameraDataProcessor(AppSettings *settings, QObject *parent)
    : QObject(parent),
      display_image_(blankImage()),
      dvs_image_(blankImage()),
      event_counts_(kCountEntries, 0),
      drawn_counts_(kCountEntries, 0),
      current_aps_frame_(kImageWidth, kImageHeight, 0, 0),
      next_aps_frame_(kImageWidth, kImageHeight, 0, 0),
      fusion_processor_(std::make_unique<DvsApsFusionProccessor>()),
      settings_(settings ? settings : &AppSettings::instance())
{
    qRegisterMetaType<vexadin::STREAM_TYPE>("vexadin::STREAM_TYPE");
    qRegisterMetaType<VxMessageType>("VxMessageType");
    fusion_processor_->addFusionDataCallback(
        [this](ApsFrame &frame, Event2D *begin, Event2D *end) { onFusionData(frame, begin, end); });
}

VxFusionCameraDataProcessor::~VxFusionCameraDataProcessor()
{
    // Waits for a live picture being made on a camera thread; none starts afterwards.
    fusion_processor_->removeFusionDataCallback();
    cancel_loading_.store(true);
    joinLoading();
    stopPlayback();
    aps_frames_.stop();
}

// ---------------------------------------------------------------------------
// Live data

void VxFusionCameraDataProcessor::addApsData(ApsFrame frame)
{
    fusion_processor_->addApsData(std::move(frame));
}

void VxFusionCameraDataProcessor::addDvsData(const Event2D *begin, const Event2D *end)
{
    fusion_processor_->addDvsData(begin, end);
}

void VxFusionCameraDataProcessor::addSyncSignal(const vexadin::EventTriggerIn &signal)
{
    fusion_processor_->addSyncSignal(signal);
}

void VxFusionCameraDataProcessor::clear()
{
    fusion_processor_->clear();
}

void VxFusionCameraDataProcessor::accumulateEvents(const Event2D *begin, const Event2D *end)
{
    if (viewer_type_.load() != vexadin::STREAM_DVS)
        return;
    std::lock_guard<std::mutex> lock(event_counts_mutex_);
    uint16_t *counts = event_counts_.data();
    for (const Event2D *e = begin; e != end; ++e) {
        // Bounded per axis: an x past the edge must not count for the next row.
        if (e->x >= kImageWidth || e->y >= kImageHeight)
            continue;
        uint16_t &count = counts[(size_t(e->y) * kImageWidth + e->x) * 2 + (e->polarity == 1 ? 1 : 0)];
        if (count < count_limit_)
            ++count;
    }
}

void VxFusionCameraDataProcessor::setCamera(std::shared_ptr<vexadin::FusionCamera> camera)
{
    {
        std::lock_guard<std::mutex> lock(camera_mutex_);
        camera_.swap(camera);
    }
    // The previous camera is released here, outside the lock: its destructor joins the
    // camera threads, which may be waiting for that lock.
}

bool VxFusionCameraDataProcessor::loadCalibrationParam(vexadin::CalibratorParameters &params)
{
    return calibrator_.loadCalibrationParam(params);
}

bool VxFusionCameraDataProcessor::liveCameraConnected()
{
    std::lock_guard<std::mutex> lock(camera_mutex_);
    return camera_ && camera_->isConnected();
}

void VxFusionCameraDataProcessor::onFusionData(ApsFrame &frame, Event2D *begin, Event2D *end)
{
    const int mode = viewer_type_.load();
    const uint64_t timestamp = frame.getTimestamp();
    if (mode == vexadin::STREAM_DVS) {
        const EventColors colors = settings_->eventColors();
        std::lock_guard<std::mutex> imageLock(dvs_image_mutex_);
        {
            // Counting goes on into the fresh buffer while this picture is drawn.
            std::lock_guard<std::mutex> countsLock(event_counts_mutex_);
            event_counts_.swap(drawn_counts_);
        }
        drawCountsImage(colors);
        emit signalFusionImage(dvs_image_);
        emit signalTimeStamp(timestamp);
        std::fill(drawn_counts_.begin(), drawn_counts_.end(), uint16_t(0));
        return;
    }
    if (mode == vexadin::STREAM_FUSION && !liveCameraConnected())
        return;
    const ApsFrame warped = calibrator_.mapApsToDvs(frame);
    const EventColors colors = settings_->eventColors();
    std::lock_guard<std::mutex> lock(display_mutex_);
    copyWarped(warped, display_image_);
    if (mode == vexadin::STREAM_FUSION)
        drawEvents(display_image_, begin, end, colors);
    emit signalFusionImage(display_image_);
    emit signalTimeStamp(timestamp);
}

// ---------------------------------------------------------------------------
// Pictures

void VxFusionCameraDataProcessor::copyWarped(const ApsFrame &warped, QImage &image)
{
    prepareForOverwrite(image);
    // Bounded by both sizes: the calibration's grid need not be the image's.
    const int rows = std::min<int>(warped.getHeight(), image.height());
    const int columns = warped.isEmpty() ? 0 : std::min<int>(warped.getWidth(), image.width());
    const size_t srcStride = size_t(warped.getWidth()) * 3;
    const size_t rowBytes = size_t(image.width()) * 3;
    const size_t copied = size_t(columns) * 3;
    for (int y = 0; y < image.height(); ++y) {
        uchar *out = image.scanLine(y);
        if (y < rows && copied > 0) {
            std::memcpy(out, warped.data() + size_t(y) * srcStride, copied);
            std::memset(out + copied, 0, rowBytes - copied);
        } else {
            std::memset(out, 0, rowBytes);
        }
    }
}

void VxFusionCameraDataProcessor::drawEvents(QImage &image, const Event2D *begin, const Event2D *end,
                                             const EventColors &colors) const
{
    const Bgr positive = toBgr(colors.positive);
    const Bgr negative = toBgr(colors.negative);
    uchar *bits = image.bits();
    const qsizetype stride = image.bytesPerLine();
    // Every event at its own column, recorded or live: the warp has already put the
    // frame onto the event grid, so a mirrored column would miss the picture.
    for (const Event2D *e = begin; e != end; ++e) {
        if (e->x >= dvs_width_ || e->y >= dvs_height_)
            continue;
        const Bgr &c = e->polarity == 1 ? positive : negative;
        uchar *px = bits + e->y * stride + e->x * 3;
        px[0] = c.b;
        px[1] = c.g;
        px[2] = c.r;
    }
}

void VxFusionCameraDataProcessor::drawCountsImage(const EventColors &colors)
{
    prepareForOverwrite(dvs_image_);
    const Bgr palette[3] = {toBgr(colors.background), toBgr(colors.positive), toBgr(colors.negative)};
    const uint16_t *counts = drawn_counts_.data();
    for (int y = 0; y < kImageHeight; ++y) {
        uchar *out = dvs_image_.scanLine(y);
        const uint16_t *c = counts + size_t(y) * kImageWidth * 2;
        for (int x = 0; x < kImageWidth; ++x, c += 2, out += 3) {
            const unsigned off = c[0];
            const unsigned on = c[1];
            int winner = 0;
            if (on > 0 && on >= off)
                winner = 1;
            else if (off > 0 && on < off)
                winner = 2;
            out[0] = palette[winner].b;
            out[1] = palette[winner].g;
            out[2] = palette[winner].r;
        }
    }
}

// ---------------------------------------------------------------------------
// Opening a recording

bool VxFusionCameraDataProcessor::hasRecording() const
{
    // loading_ first: while it is set the loading thread owns the readers.
    return !loading_.load() && aps_reader_ && dvs_reader_;
}

void VxFusionCameraDataProcessor::releaseReaders()
{
    aps_frames_.stop();
    aps_reader_.reset();
    dvs_reader_.reset();
}

void VxFusionCameraDataProcessor::joinLoading()
{
    if (loading_thread_.joinable())
        loading_thread_.join();
}

bool VxFusionCameraDataProcessor::slotReadFusionFile(QString str)
{
    if (loading_.load())
        return false;
    if (str.isEmpty()) {
        stopPlayback();
        joinLoading();
        releaseReaders();
        return false;
    }
    stopPlayback();
    joinLoading();
    releaseReaders();
    qDebug() << "Load fusion file: " << str;

    const std::string base = recordingBase(str.toLocal8Bit().toStdString());
    aps_reader_ = vexadin::ApsFileReader::createFileReader(base + ".mp4");
    dvs_reader_ = vexadin::DvsFileReader::createFileReader(base + ".raw");
    const std::string jsonPath = base + ".json";
    if (QFileInfo::exists(QString::fromLocal8Bit(jsonPath.c_str()))) {
        vexadin::CalibratorParameters params;
        // A damaged file leaves the record empty, which the calibrator refuses: the
        // current matrices then stay.
        vexadin::jsonFileToParam(jsonPath, params);
        calibrator_.loadCalibrationParam(params);
    }
    // Set before the thread starts, so a second open right behind this one is refused.
    loading_.store(true);
    cancel_loading_.store(false);
    loading_thread_ = std::thread(&VxFusionCameraDataProcessor::loadingTask, this);
    return true;
}

void VxFusionCameraDataProcessor::loadingTask()
{
    emit signalLoadingStatus(true);
    auto endLoad = [this] {
        loading_.store(false);
        emit signalLoadingStatus(false);
    };
    // The worker is going away: stop without telling anyone.
    auto cancelled = [this] {
        if (!cancel_loading_.load())
            return false;
        loading_.store(false);
        return true;
    };

    if (!aps_reader_ || !aps_reader_->open()) {
        qDebug() << "Load aps file failed.";
        aps_reader_.reset();
        endLoad();
        return;
    }
    if (cancelled())
        return;
    aps_index_.clear();
    aps_reader_->getFrameIndex(aps_index_);
    if (!aps_reader_->readNextFrame(read_frame_)) {
        aps_reader_.reset();
        endLoad();
        return;
    }
    next_aps_frame_ = calibrator_.mapApsToDvs(read_frame_);
    // No frame of an earlier recording may stand in before the first one.
    current_aps_frame_ = ApsFrame(kImageWidth, kImageHeight, 0, 0);
    if (cancelled())
        return;

    // A worker going away also stops an index rebuild of a long recording early.
    vexadin::OperationControl control;
    control.setStopCondition([this] { return cancel_loading_.load(); });
    if (!dvs_reader_ || !dvs_reader_->open(control)) {
        if (cancelled())
            return;
        qDebug() << "Load dvs file failed.";
        dvs_reader_.reset();
        endLoad();
        return;
    }
    uint64_t first = 0;
    uint64_t last = 0;
    dvs_reader_->getStartTimestamp(first);
    dvs_reader_->getEndTimestamp(last);
    dvs_file_info_ = vexadin::DvsFileInfo();
    dvs_reader_->getFileInfo(dvs_file_info_);
    dvs_first_timestamp_.store(first);
    dvs_last_timestamp_.store(last);
    const int64_t offset = dvs_file_info_.apsTimeOffset;
    aps_time_offset_.store(offset);
    qDebug() << "Read aps file time offset: " << offset;

    // The event time of APS time 0 (no earlier than the event clock's 0).
    const uint64_t start = offset > 0 ? uint64_t(offset) : 0;
    fusion_file_start_timestamp_.store(start);
    fusion_file_end_timestamp_.store(last);
    time_base_.store(start);
    emit signalStartTimeStamp(start);
    emit signalEndTimeStamp(last);
    emit signalTimeStamp(start);
    qDebug() << "fusion file start : " << start << "fusion_file_end_timestamp_: " << last << "time base: " << start;
    // From here on the frames are decoded ahead; the reader is the prefetcher's.
    aps_frames_.start(aps_reader_, read_frame_);
    // A video's first decodes are its slowest (several ticks each at 4K while the decoder
    // warms up): they belong to the load, not to the first ticks of playback. Bounded,
    // so a slow disk delays the play status by a few seconds at most.
    for (int waited = 0; waited < 3000 && !cancelled() && !aps_frames_.waitUntilFull(50); waited += 50) {
    }
    if (cancelled())
        return;
    // Cleared before the play status goes out: the window answers it with a play
    // command, which must not find the load still running.
    endLoad();
    postPlayStatus(true);
}

// ---------------------------------------------------------------------------
// Rendering a recording

uint64_t VxFusionCameraDataProcessor::apsToEventTime(uint64_t apsTime) const
{
    const int64_t offset = aps_time_offset_.load();
    return offset >= 0 ? saturatingAdd(apsTime, uint64_t(offset)) : saturatingSub(apsTime, uint64_t(-(offset + 1)) + 1);
}

uint64_t VxFusionCameraDataProcessor::eventToApsTime(uint64_t eventTime) const
{
    const int64_t offset = aps_time_offset_.load();
    return offset >= 0 ? saturatingSub(eventTime, uint64_t(offset)) : saturatingAdd(eventTime, uint64_t(-(offset + 1)) + 1);
}

bool VxFusionCameraDataProcessor::readNextWarped(ApsFrame &warped)
{
    if (!aps_frames_.readNextFrame(read_frame_))
        return false;
    warped = calibrator_.mapApsToDvs(read_frame_);
    return true;
}

bool VxFusionCameraDataProcessor::readWarpedAt(uint64_t eventTime, ApsFrame &warped)
{
    if (!aps_frames_.readFrameAt(eventToApsTime(eventTime), read_frame_))
        return false;
    warped = calibrator_.mapApsToDvs(read_frame_);
    return true;
}

bool VxFusionCameraDataProcessor::chooseApsFrames(uint64_t t)
{
    const uint64_t current = apsToEventTime(current_aps_frame_.getTimestamp());
    const uint64_t next = apsToEventTime(next_aps_frame_.getTimestamp());
    if (t < next && t >= current)
        return true;
    if (t < next) {
        // The position moved back.
        return readWarpedAt(t, current_aps_frame_) && readNextWarped(next_aps_frame_);
    }
    // Passed the next frame. The last frame of the video stays on while the events go on.
    const uint64_t nextAps = next_aps_frame_.getTimestamp();
    if (!aps_index_.empty() && nextAps >= aps_index_.back()) {
        current_aps_frame_ = next_aps_frame_;
        return true;
    }
    // When the frame after it is due as well (fast rates, a range start after a loop),
    // go straight to the frame at t instead of falling one more frame behind per tick.
    const uint64_t apsT = eventToApsTime(t);
    const auto after = std::upper_bound(aps_index_.begin(), aps_index_.end(), nextAps);
    if (after != aps_index_.end() && *after <= apsT)
        return readWarpedAt(t, current_aps_frame_) && readNextWarped(next_aps_frame_);
    current_aps_frame_ = next_aps_frame_; // shares the pixels; warped frames are never written
    return readNextWarped(next_aps_frame_);
}

bool VxFusionCameraDataProcessor::renderFusionFrame()
{
    const uint64_t t = time_base_.load();
    if (!chooseApsFrames(t))
        return false;
    const EventColors colors = settings_->eventColors();
    const uint64_t currentTs = apsToEventTime(current_aps_frame_.getTimestamp());
    const uint64_t nextTs = apsToEventTime(next_aps_frame_.getTimestamp());

    std::lock_guard<std::mutex> lock(display_mutex_);
    copyWarped(current_aps_frame_, display_image_);
    // The window [t - acc, t), cut at the clock's 0.
    const uint64_t windowStart = saturatingSub(t, acc_time_us_.load());
    const auto events = dvs_reader_->readRange(windowStart, t - windowStart);
    if (events && !events->empty()) {
        const Event2D *begin = events->data();
        const Event2D *end = begin + events->size();
        const int mode = viewer_type_.load();
        if (mode == vexadin::STREAM_FUSION) {
            drawEvents(display_image_, begin, end, colors);
            emit signalFusionImage(display_image_);
        } else if (mode == vexadin::STREAM_APS) {
            emit signalFusionImage(display_image_);
        } else {
            QImage image(kImageWidth, kImageHeight, QImage::Format_BGR888);
            image.fill(QColor::fromRgb(colors.background));
            drawEvents(image, begin, end, colors);
            emit signalFusionImage(image);
        }
        qDebug() << "get aps frame ts: " << currentTs << "next aps ts: " << nextTs << " timebase: " << t
                 << " dvs start ts: " << events->front().timestamp << " dvs end ts: " << events->back().timestamp;
    } else {
        emit signalFusionImage(display_image_);
        qDebug() << "get aps frame ts: " << currentTs << "next aps ts: " << nextTs << " timebase: " << t;
    }
    emit signalTimeStamp(t);
    return true;
}

// ---------------------------------------------------------------------------
// Playback

void VxFusionCameraDataProcessor::postPlayStatus(bool playing)
{
    if (QThread::currentThread() == thread()) {
        emit signalPlayStatus(playing);
        return;
    }
    post(playing ? Posted::Playing : Posted::Paused);
}

void VxFusionCameraDataProcessor::postFileFinished()
{
    if (QThread::currentThread() == thread())
        emit signalPalyFileFinished();
    else
        post(Posted::Finished);
}

void VxFusionCameraDataProcessor::post(Posted what)
{
    // The notice travels under our own lock, in order; the queued call carries no
    // argument (nor a slot object whose last reference may drop on either thread). It
    // is posted under the lock too: the GUI thread takes the lock before the event is
    // freed, which orders Qt's allocation of it on this thread before that free.
    std::lock_guard<std::mutex> lock(posted_mutex_);
    posted_.push_back(what);
    QMetaObject::invokeMethod(this, "emitPosted", Qt::QueuedConnection);
}

void VxFusionCameraDataProcessor::emitPosted()
{
    Posted what;
    {
        std::lock_guard<std::mutex> lock(posted_mutex_);
        if (posted_.empty())
            return;
        what = posted_.front();
        posted_.pop_front();
    }
    if (what == Posted::Finished)
        emit signalPalyFileFinished();
    else
        emit signalPlayStatus(what == Posted::Playing);
}

bool VxFusionCameraDataProcessor::rewindReaders(uint64_t positionAfter)
{
    aps_frames_.rewind(0);
    dvs_reader_->seek(dvs_first_timestamp_.load());
    if (!readNextWarped(next_aps_frame_))
        return false;
    time_base_.store(positionAfter);
    return true;
}

void VxFusionCameraDataProcessor::playbackLoop()
{
    using Clock = std::chrono::steady_clock;
    for (;;) {
        const Clock::time_point t0 = Clock::now();
        // The last tick stops at the end: a position past it would be shown (and
        // reach the time label and slider) as a time the recording does not have.
        const uint64_t end = fusion_file_end_timestamp_.load();
        const uint64_t before = time_base_.load();
        uint64_t next = saturatingAdd(before, frame_interval_us_.load());
        if (before < end && next > end)
            next = end;
        time_base_.store(next);
        renderFusionFrame();
        if (time_base_.load() >= end) {
            if (!rewindReaders(fusion_file_start_timestamp_.load())) {
                // Nothing to show from the start: pause rather than look as if playing.
                qWarning() << "Cannot read the first APS frame again; playback paused.";
                playing_.store(false);
                postPlayStatus(false);
                return;
            }
            if (!replay_.load()) {
                playing_.store(false);
                postFileFinished();
            }
        }
        // One tick per period; a pause cuts the wait short.
        std::unique_lock<std::mutex> pacing(pacing_mutex_);
        pacing_wake_.wait_until(pacing, t0 + std::chrono::microseconds(kTickPeriodUs),
                                [this] { return !playing_.load(); });
        if (!playing_.load())
            return;
    }
}

void VxFusionCameraDataProcessor::stopPlayback()
{
    {
        std::lock_guard<std::mutex> lock(pacing_mutex_);
        playing_.store(false);
    }
    pacing_wake_.notify_all();
    if (playback_thread_.joinable())
        playback_thread_.join();
}

void VxFusionCameraDataProcessor::pauseForStep()
{
    const bool wasPlaying = playing_.load();
    stopPlayback();
    if (wasPlaying)
        emit signalPlayStatus(false);
}

void VxFusionCameraDataProcessor::slotPlaybackCtrl(bool play)
{
    if (!play) {
        stopPlayback();
        return;
    }
    if (!hasRecording())
        return;
    if (playback_thread_.joinable()) {
        if (playing_.load())
            return; // already playing: never two playback threads
        playback_thread_.join(); // ended at the range end, not yet joined
    }
    playing_.store(true);
    playback_thread_ = std::thread(&VxFusionCameraDataProcessor::playbackLoop, this);
}

void VxFusionCameraDataProcessor::slotPlaybackReset()
{
    if (!hasRecording())
        return;
    stopPlayback();
    emit signalPlayStatus(false);
    const uint64_t start = fusion_file_start_timestamp_.load();
    if (rewindReaders(start))
        renderFusionFrame();
}

void VxFusionCameraDataProcessor::preFrame()
{
    if (!hasRecording())
        return;
    pauseForStep();
    const uint64_t start = fusion_file_start_timestamp_.load();
    time_base_.store(std::max(start, saturatingSub(time_base_.load(), frame_interval_us_.load())));
    renderFusionFrame();
}

void VxFusionCameraDataProcessor::nextFrame()
{
    if (!hasRecording())
        return;
    pauseForStep();
    const uint64_t t = time_base_.load();
    if (saturatingAdd(t, acc_time_us_.load()) >= fusion_file_end_timestamp_.load())
        return;
    const uint64_t interval = frame_interval_us_.load();
    time_base_.store(saturatingAdd(t, interval));
    renderFusionFrame();
    qDebug() << "time base update: " << time_base_.load() << " interval: " << interval;
}

void VxFusionCameraDataProcessor::setPlayPos(uint64_t timestamp_us)
{
    if (!hasRecording())
        return;
    pauseForStep();
    time_base_.store(timestamp_us);
    if (!readWarpedAt(timestamp_us, current_aps_frame_))
        current_aps_frame_ = ApsFrame(kImageWidth, kImageHeight, 0, 0); // black
    if (readNextWarped(next_aps_frame_))
        renderFusionFrame();
}

// ---------------------------------------------------------------------------
// Settings

void VxFusionCameraDataProcessor::slotSetViewerType(vexadin::STREAM_TYPE type)
{
    viewer_type_.store(int(type));
}

void VxFusionCameraDataProcessor::slotSetLowerTimeStamp(uint64_t timestamp_us)
{
    fusion_file_start_timestamp_.store(timestamp_us);
}

void VxFusionCameraDataProcessor::slotSetUpperTimeStamp(uint64_t timestamp_us)
{
    fusion_file_end_timestamp_.store(timestamp_us);
}

void VxFusionCameraDataProcessor::slotSetReplayFlag(bool replay)
{
    replay_.store(replay);
}

void VxFusionCameraDataProcessor::setFps(int fps)
{
    // 0 would divide by zero; above one million the position would not advance.
    if (fps < 1 || fps > 1000000) {
        qWarning() << "invalid fps refused: " << fps;
        return;
    }
    const uint64_t interval = 1000000 / uint64_t(fps);
    frame_interval_us_.store(interval);
    qDebug() << "set fps: " << fps << " time interval: " << interval;
}

void VxFusionCameraDataProcessor::setAccTime(uint64_t time_us)
{
    acc_time_us_.store(time_us);
}

void VxFusionCameraDataProcessor::slotSetApsOffset(double dx, double dy)
{
    calibrator_.adjustAffineTranslation(dx, dy);
}

void VxFusionCameraDataProcessor::slotApplyOffset()
{
    const std::string path = settings_->inputRawFilePath.toLocal8Bit().toStdString() + "/tmp_calibration_file.json";
    calibrator_.saveCalibrationParam(path);
    std::shared_ptr<vexadin::FusionCamera> camera;
    {
        std::lock_guard<std::mutex> lock(camera_mutex_);
        camera = camera_;
    }
    if (camera && camera->isConnected() && camera->writeCalibrationFile(path))
        emit signalShowLeftBottomTips(tr("Manual calibration parameters were written successfully!"),
                                      VxMessageType::Success, QString());
    else
        emit signalShowLeftBottomTips(tr("Manual calibration parameters were written failed!"),
                                      VxMessageType::Error, QString());
}
