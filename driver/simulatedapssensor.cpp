#include "driver/simulatedapssensor.h"

#include "driver/apstool.h"
#include "driver/driverlog.h"
#include "driver/fusionrecordingset.h"
#include "driver/simulatedscene.h"

#include <algorithm>
#include <exception>
#include <new>

namespace vexadin {

namespace {

constexpr size_t kMaxBuffers = 6;

// Mean level (0..255) of a B, G, R picture, from a sparse grid of pixels.
double meanLevel(const ApsFrame &frame)
{
    const int w = frame.getWidth(), h = frame.getHeight();
    const int stepX = std::max(1, w / 160), stepY = std::max(1, h / 90);
    const uint8_t *data = frame.data();
    uint64_t sum = 0, count = 0;
    for (int y = stepY / 2; y < h; y += stepY) {
        const uint8_t *row = data + size_t(y) * w * 3;
        for (int x = stepX / 2; x < w; x += stepX) {
            const uint8_t *p = row + size_t(x) * 3;
            sum += uint64_t(p[0]) + p[1] + p[2];
            ++count;
        }
    }
    return count ? double(sum) / (3.0 * count) : 0.0;
}

} // namespace

SimulatedApsSensor::SimulatedApsSensor(const SimulatedScene &scene, uint16_t width, uint16_t height,
                                       const double frameToSensor[6], std::shared_ptr<ApsTool> aps,
                                       uint64_t apsClockLeadUs, std::string name)
    : scene_(scene), width_(width), height_(height), aps_(std::move(aps)), apsClockLeadUs_(apsClockLeadUs),
      name_(std::move(name))
{
    std::copy(frameToSensor, frameToSensor + 6, frameToSensor_);
    thread_ = std::thread([this] { run(); });
}

SimulatedApsSensor::~SimulatedApsSensor()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    thread_.join();
    for (const Job &job : queue_)
        if (job.recording)
            job.recording->frameLost();
}

int SimulatedApsSensor::addFrameCallback(std::function<void(ApsFrame)> callback)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const int id = nextId_++;
    if (callback)
        callbacks_.push_back(std::make_shared<std::function<void(ApsFrame)>>(std::move(callback)));
    return id;
}

void SimulatedApsSensor::post(const FrameExposure &exposure, std::shared_ptr<FusionRecordingSet> recording)
{
    Job dropped;
    bool report = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (queue_.size() >= kMaxPendingFrames) {
            dropped = std::move(queue_.front());
            queue_.pop_front();
            report = dropped_.fetch_add(1) == 0;
        }
        queue_.push_back(Job{exposure, std::move(recording)});
    }
    wake_.notify_one();
    if (dropped.recording)
        dropped.recording->frameLost();
    if (report)
        driverLog(DriverLogLevel::Warning, name_ + ": frames are read out slower than they are taken; "
                                                   "the oldest waiting frames are being dropped");
}

void SimulatedApsSensor::drain()
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (std::this_thread::get_id() == thread_.get_id())
        return;
    idle_.wait(lock, [&] { return quit_ || (queue_.empty() && !busy_); });
}

ApsFrame SimulatedApsSensor::freeBuffer()
{
    for (const ApsFrame &frame : buffers_)
        if (frame.ownsBufferAlone())
            return frame;
    ApsFrame frame(width_, height_, 0, 0);
    if (buffers_.size() < kMaxBuffers)
        buffers_.push_back(frame);
    return frame;
}

void SimulatedApsSensor::readOut(const Job &job)
{
    const ApsTool::Settings settings = aps_->settings();
    ApsTool::Settings used = settings;
    used.exposureUs = int(job.exposure.end - job.exposure.start); // as the exposure was actually taken
    ApsFrame frame;
    try {
        frame = freeBuffer();
    } catch (const std::bad_alloc &) {
        driverLog(DriverLogLevel::Error, name_ + ": no memory for a frame; it is dropped");
        dropped_.fetch_add(1);
        if (job.recording)
            job.recording->frameLost();
        return;
    }
    const uint64_t middle = job.exposure.start + (job.exposure.end - job.exposure.start) / 2;
    scene_.renderBgr(middle, width_, height_, frameToSensor_, ApsTool::brightness(used), frame.data());
    frame.setFrameNumber(job.exposure.index);
    frame.setTimestamp(job.exposure.start + apsClockLeadUs_);
    if (settings.autoExposure)
        aps_->adjustExposure(used, meanLevel(frame));
    if (job.recording)
        job.recording->addFrame(frame, job.exposure);

    std::vector<std::shared_ptr<std::function<void(ApsFrame)>>> callbacks;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        callbacks = callbacks_;
    }
    for (const auto &callback : callbacks) {
        try {
            (*callback)(frame);
        } catch (const std::exception &e) {
            driverLog(DriverLogLevel::Error, name_ + ": a frame callback threw: " + e.what());
        } catch (...) {
            driverLog(DriverLogLevel::Error, name_ + ": a frame callback threw");
        }
    }
    bytes_->fetch_add(frame.getDataSize(), std::memory_order_relaxed);
    delivered_.fetch_add(1);
}

void SimulatedApsSensor::run()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return quit_ || !queue_.empty(); });
        if (quit_)
            break;
        Job job = std::move(queue_.front());
        queue_.pop_front();
        busy_ = true;
        lock.unlock();
        readOut(job);
        job = Job{};
        lock.lock();
        busy_ = false;
        if (queue_.empty())
            idle_.notify_all();
    }
    idle_.notify_all();
}

} // namespace vexadin
