#include "driver/apsvideowriter.h"

#include "driver/driverlog.h"
#include "driver/h264mp4encoder.h"
#include "driver/tempfilename.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <exception>
#include <limits>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace vexadin {

namespace {

constexpr int kMicrosecondsPerSecond = 1000000;

// B, G, R frames in, H.264/MP4 out: the colour conversion in front of the encoder.
// One thread at a time.
class ApsFrameEncoder {
public:
    ~ApsFrameEncoder() { sws_freeContext(sws_); }

    bool open(const std::string &path, int width, int height, const ApsVideoWriterOptions &options,
              std::string &error)
    {
        H264Mp4Settings settings;
        settings.width = width;
        settings.height = height;
        settings.timeBaseDen = kMicrosecondsPerSecond; // time stamps are APS µs, kept exactly
        settings.fps = options.nominalFps;
        settings.keyFrameInterval = options.keyFrameInterval;
        settings.preset = options.preset;
        settings.crf = options.crf;
        // No fast start: moving the index to the front would rewrite the whole
        // recording when it stops.
        settings.fastStart = false;
        if (!encoder_.open(path, settings, error))
            return false;
        // Same size: no scaling, only B, G, R to BT.601 limited-range 4:2:0.
        sws_ = sws_getContext(width, height, AV_PIX_FMT_BGR24, width, height, AV_PIX_FMT_YUV420P, SWS_BILINEAR,
                              nullptr, nullptr, nullptr);
        if (!sws_) {
            error = "no colour conversion from B, G, R to YUV 4:2:0";
            return false;
        }
        return true;
    }

    bool encode(const ApsFrame &picture, std::string &error)
    {
        AVFrame *yuv = encoder_.frame(error);
        if (!yuv)
            return false;
        const uint8_t *src[1] = {picture.data()};
        const int srcStride[1] = {int(picture.getWidth()) * 3};
        sws_scale(sws_, src, srcStride, 0, picture.getHeight(), yuv->data, yuv->linesize);
        return encoder_.encode(int64_t(picture.getTimestamp()), error);
    }

    bool finish(std::string &error) { return encoder_.finish(error); }

private:
    H264Mp4Encoder encoder_;
    SwsContext *sws_ = nullptr;
};

} // namespace

struct ApsVideoWriter::Impl {
    // Set by open() before the encoder thread starts, read-only while it runs.
    std::string path;
    std::string tmpPath;
    uint16_t width = 0;
    uint16_t height = 0;
    ApsVideoWriterOptions options;
    std::unique_ptr<ApsFrameEncoder> sink; // the encoder thread's while it runs
    std::thread encoder;

    mutable std::mutex mutex; // guards everything below
    std::condition_variable wake;
    std::deque<ApsFrame> queue;
    bool open = false;
    bool closing = false;       // the encoder thread finishes the queue and ends
    bool failed = false;        // the encoder thread gave up
    bool anyAccepted = false;
    uint64_t lastTimestamp = 0; // of the last queued frame
    std::string error;
    std::chrono::steady_clock::time_point lastDropLog{};

    std::atomic<uint64_t> written{0};
    std::atomic<uint64_t> dropped{0};
    std::atomic<uint64_t> refused{0};

    void setError(const std::string &message)
    {
        std::lock_guard<std::mutex> lock(mutex);
        error = message;
    }

    void encodeLoop()
    {
        for (;;) {
            ApsFrame frame;
            {
                std::unique_lock<std::mutex> lock(mutex);
                wake.wait(lock, [this] { return closing || !queue.empty(); });
                if (queue.empty())
                    return; // closing and nothing left
                frame = std::move(queue.front());
                queue.pop_front();
            }
            if (options.beforeEncode)
                options.beforeEncode(frame);
            std::string why;
            bool ok = false;
            try {
                ok = sink->encode(frame, why);
            } catch (const std::exception &e) {
                why = e.what();
            }
            if (!ok) {
                std::lock_guard<std::mutex> lock(mutex);
                failed = true;
                error = path + ": " + why;
                dropped += 1 + queue.size();
                queue.clear();
                return;
            }
            ++written;
        }
    }

    void stopEncoder()
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            closing = true;
        }
        wake.notify_all();
        if (encoder.joinable())
            encoder.join();
    }

    // Back to the closed state; the temporary file is removed unless renamed already.
    void reset()
    {
        sink.reset();
        if (!tmpPath.empty())
            ::unlink(tmpPath.c_str());
        tmpPath.clear();
        std::lock_guard<std::mutex> lock(mutex);
        open = false;
        queue.clear();
    }

    // Mutex held. The first drop is logged at once, then at most one line a second.
    bool dropNeedsLogLine()
    {
        const auto now = std::chrono::steady_clock::now();
        if (dropped != 1 && now - lastDropLog < std::chrono::seconds(1))
            return false;
        lastDropLog = now;
        return true;
    }
};

ApsVideoWriter::ApsVideoWriter() : d(std::make_unique<Impl>()) {}

ApsVideoWriter::~ApsVideoWriter()
{
    if (isOpen())
        close();
}

bool ApsVideoWriter::open(const std::string &path, uint16_t width, uint16_t height,
                          const ApsVideoWriterOptions &options)
{
    const auto refuse = [&](const std::string &why) {
        const std::string message = "APS video " + path + " not started: " + why;
        d->setError(message);
        driverLog(DriverLogLevel::Error, message);
        return false;
    };
    if (isOpen())
        return refuse("a video is being written already");
    if (path.empty())
        return refuse("no file name");
    if (width == 0 || height == 0 || width % 2 != 0 || height % 2 != 0)
        return refuse("the frame size " + std::to_string(width) + " x " + std::to_string(height) +
                      " is not even (4:2:0 video needs even sizes)");

    // x264 reports its settings and statistics at info level on every run.
    if (av_log_get_level() == AV_LOG_INFO)
        av_log_set_level(AV_LOG_WARNING);

    d->path = path;
    d->width = width;
    d->height = height;
    d->options = options;
    d->options.queueFrames = std::max<size_t>(1, options.queueFrames);
    d->tmpPath = temporarySiblingPath(path);
    d->sink = std::make_unique<ApsFrameEncoder>();
    std::string why;
    bool ok = false;
    try {
        ok = d->sink->open(d->tmpPath, width, height, d->options, why);
    } catch (const std::exception &e) {
        why = e.what();
    }
    if (!ok) {
        d->reset();
        return refuse(why);
    }
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        d->open = true;
        d->closing = false;
        d->failed = false;
        d->anyAccepted = false;
        d->lastTimestamp = 0;
        d->error.clear();
        d->lastDropLog = {};
    }
    d->written = 0;
    d->dropped = 0;
    d->refused = 0;
    d->encoder = std::thread([this] { d->encodeLoop(); });
    return true;
}

bool ApsVideoWriter::isOpen() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->open;
}

bool ApsVideoWriter::push(const ApsFrame &frame)
{
    std::string logLine;
    bool queued = false;
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        if (!d->open || d->closing)
            return false;
        if (frame.isEmpty() || frame.getWidth() != d->width || frame.getHeight() != d->height ||
            frame.getTimestamp() > uint64_t(std::numeric_limits<int64_t>::max()) ||
            (d->anyAccepted && frame.getTimestamp() <= d->lastTimestamp)) {
            ++d->refused;
            return false;
        }
        if (!d->failed && d->queue.size() < d->options.queueFrames) {
            d->queue.push_back(frame);
            d->anyAccepted = true;
            d->lastTimestamp = frame.getTimestamp();
            queued = true;
        } else {
            ++d->dropped;
            if (d->dropNeedsLogLine())
                logLine = "APS video " + d->path + ": the encoder is behind, frame at " +
                          std::to_string(frame.getTimestamp()) + " us dropped (" + std::to_string(d->dropped.load()) +
                          " dropped so far)";
        }
    }
    if (queued) {
        d->wake.notify_one();
        return true;
    }
    if (!logLine.empty())
        driverLog(DriverLogLevel::Warning, logLine);
    return false;
}

bool ApsVideoWriter::close()
{
    if (!isOpen())
        return false;
    d->stopEncoder();
    std::string why;
    bool ok;
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        ok = !d->failed;
        why = d->error;
    }
    if (ok && d->written == 0) {
        ok = false;
        why = d->path + ": no frame was recorded";
    }
    if (ok) {
        try {
            ok = d->sink->finish(why);
        } catch (const std::exception &e) {
            ok = false;
            why = e.what();
        }
        if (!ok)
            why = d->path + ": " + why;
    }
    d->sink.reset(); // closes the file before the rename
    if (ok && std::rename(d->tmpPath.c_str(), d->path.c_str()) != 0) {
        ok = false;
        why = d->path + ": cannot rename the finished video: " + std::strerror(errno);
    }
    if (ok)
        d->tmpPath.clear(); // renamed: nothing to remove
    if (d->dropped > 0)
        driverLog(DriverLogLevel::Warning, "APS video " + d->path + ": " + std::to_string(d->dropped.load()) +
                                               " frame(s) dropped because the encoder could not keep up, " +
                                               std::to_string(d->written.load()) + " written");
    d->reset();
    if (!ok) {
        d->setError("APS video not written: " + why);
        driverLog(DriverLogLevel::Error, "APS video not written: " + why);
    }
    return ok;
}

void ApsVideoWriter::discard()
{
    if (!isOpen())
        return;
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        d->dropped += d->queue.size();
        d->queue.clear();
    }
    d->stopEncoder();
    d->reset();
}

size_t ApsVideoWriter::framesQueued() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->queue.size();
}

uint64_t ApsVideoWriter::framesWritten() const { return d->written; }
uint64_t ApsVideoWriter::framesDropped() const { return d->dropped; }
uint64_t ApsVideoWriter::framesRefused() const { return d->refused; }

std::string ApsVideoWriter::lastError() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->error;
}

} // namespace vexadin
