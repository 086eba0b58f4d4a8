#include "driver/videoexporter.h"

#include "camera/dvsfilereader.h"
#include "camera/operationcontrol.h"
#include "driver/driverlog.h"
#include "driver/h264mp4encoder.h"
#include "driver/rawfilereader.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/log.h>
}

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <unistd.h>
#include <vector>

namespace vexadin {

namespace {

constexpr uint64_t kWindowUs = 33333; // one frame of recording time at 30 fps
constexpr int kFps = 30;
constexpr uint8_t kCountCap = 10;
constexpr int kVoteSide = kCountCap + 1;

// Winner of the per-pixel vote by (on, off): 0 background, 1 positive, 2 negative.
constexpr std::array<uint8_t, kVoteSide * kVoteSide> makeVoteTable()
{
    std::array<uint8_t, kVoteSide * kVoteSide> table{};
    for (int on = 0; on < kVoteSide; ++on)
        for (int off = 0; off < kVoteSide; ++off)
            table[size_t(on * kVoteSide + off)] = (on > 0 && on >= off) ? 1 : (off > 0 && off > on) ? 2 : 0;
    return table;
}
constexpr auto kVoteTable = makeVoteTable();

// Collects the events of one window and draws them as the viewer does, straight into
// the encoder's YUV 4:2:0 planes (no RGB picture, no conversion pass).
class FrameBuilder {
public:
    FrameBuilder(int sensorWidth, int sensorHeight, int frameWidth, int frameHeight,
                 const VideoExportOptions &options)
        : sensorWidth_(sensorWidth), sensorHeight_(sensorHeight), frameWidth_(frameWidth),
          frameHeight_(frameHeight), counts_(size_t(sensorWidth) * sensorHeight * 2, 0),
          classes_(size_t(frameWidth) * 2, 0)
    {
        const uint32_t colors[3] = {options.backgroundRgb, options.positiveRgb, options.negativeRgb};
        for (int i = 0; i < 3; ++i) {
            const double r = colors[i] >> 16 & 0xff, g = colors[i] >> 8 & 0xff, b = colors[i] & 0xff;
            // BT.601, limited range.
            luma_[i] = clampByte(16.0 + (65.481 * r + 128.553 * g + 24.966 * b) / 255.0);
            cb_[i] = -37.797 * r - 74.203 * g + 112.0 * b;
            cr_[i] = 112.0 * r - 93.786 * g - 18.214 * b;
        }
        // Chroma of a 2x2 block: the mean of its four pixels, by how many of each class.
        for (int a = 0; a < 3; ++a)
            for (int b = 0; b < 3; ++b)
                for (int c = 0; c < 3; ++c)
                    for (int d = 0; d < 3; ++d) {
                        const int k = ((a * 3 + b) * 3 + c) * 3 + d;
                        chromaB_[k] = clampByte(128.0 + (cb_[a] + cb_[b] + cb_[c] + cb_[d]) / (4 * 255.0));
                        chromaR_[k] = clampByte(128.0 + (cr_[a] + cr_[b] + cr_[c] + cr_[d]) / (4 * 255.0));
                    }
    }

    void add(const Event2D *first, const Event2D *last)
    {
        uint8_t *counts = counts_.data();
        const unsigned w = unsigned(sensorWidth_), h = unsigned(sensorHeight_);
        constexpr ptrdiff_t kAhead = 16; // scattered pixels: fetch their counts early
        const Event2D *prefetchEnd = last - std::min<ptrdiff_t>(kAhead, last - first);
        for (const Event2D *e = first; e != last; ++e) {
            if (e < prefetchEnd && e[kAhead].x < w && e[kAhead].y < h)
                __builtin_prefetch(counts + (size_t(e[kAhead].y) * w + e[kAhead].x) * 2, 1);
            if (e->x >= w || e->y >= h)
                continue;
            uint8_t &c = counts[(size_t(e->y) * w + e->x) * 2 + (e->polarity != 0)];
            c = uint8_t(c + (c < kCountCap));
        }
    }

    // Draws the collected window into `frame` and clears the counts for the next one.
    void draw(AVFrame *frame)
    {
        for (int y = 0; y < frameHeight_; y += 2) {
            // Classes of two rows; padding (odd sensor sizes) stays background.
            uint8_t *rows[2] = {classes_.data(), classes_.data() + frameWidth_};
            for (int r = 0; r < 2; ++r) {
                uint8_t *cls = rows[r];
                uint8_t *luma = frame->data[0] + size_t(y + r) * frame->linesize[0];
                if (y + r < sensorHeight_) {
                    const uint8_t *c = counts_.data() + size_t(y + r) * sensorWidth_ * 2;
                    for (int x = 0; x < sensorWidth_; ++x, c += 2)
                        cls[x] = kVoteTable[c[1] * kVoteSide + c[0]];
                    std::fill(cls + sensorWidth_, cls + frameWidth_, uint8_t(0));
                } else {
                    std::fill(cls, cls + frameWidth_, uint8_t(0));
                }
                for (int x = 0; x < frameWidth_; ++x)
                    luma[x] = luma_[cls[x]];
            }
            uint8_t *u = frame->data[1] + size_t(y / 2) * frame->linesize[1];
            uint8_t *v = frame->data[2] + size_t(y / 2) * frame->linesize[2];
            for (int x = 0; x < frameWidth_; x += 2) {
                const int k = ((rows[0][x] * 3 + rows[0][x + 1]) * 3 + rows[1][x]) * 3 + rows[1][x + 1];
                u[x / 2] = chromaB_[k];
                v[x / 2] = chromaR_[k];
            }
        }
        std::fill(counts_.begin(), counts_.end(), 0);
    }

private:
    static uint8_t clampByte(double v) { return uint8_t(std::clamp(v + 0.5, 0.0, 255.0)); }

    int sensorWidth_, sensorHeight_, frameWidth_, frameHeight_;
    std::vector<uint8_t> counts_;
    std::vector<uint8_t> classes_; // two rows of vote results
    uint8_t luma_[3];
    double cb_[3], cr_[3];
    uint8_t chromaB_[81], chromaR_[81];
};

std::string tempNameFor(const std::string &outPath)
{
    static std::atomic<unsigned> counter{0};
    return outPath + ".part-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
}

// Feeds the windows of [start, end] to the builder and the encoder. Frame i holds
// the events of [start + i * kWindowUs, start + (i + 1) * kWindowUs) cut at end.
class WindowPump {
public:
    WindowPump(uint64_t start, uint64_t end, FrameBuilder &builder, H264Mp4Encoder &encoder,
               OperationControl *control)
        : start_(start), end_(end), frameCount_((end - start) / kWindowUs + 1), builder_(builder),
          encoder_(encoder), control_(control)
    {
    }

    uint64_t frameCount() const { return frameCount_; }
    uint64_t windowStart(uint64_t frame) const { return start_ + frame * kWindowUs; }
    // Duration of frame's window, the last one cut so it ends at end_ inclusive.
    uint64_t windowDuration(uint64_t frame) const
    {
        return std::min(kWindowUs, end_ - windowStart(frame) + 1);
    }

    // Events in time order; encodes every window that ends before the first of them.
    bool add(const Event2D *first, const Event2D *last, std::string &error)
    {
        while (first != last) {
            if (nextFrame_ >= frameCount_)
                return true; // past the range
            const uint64_t windowEnd = windowStart(nextFrame_) + windowDuration(nextFrame_);
            const Event2D *split = std::partition_point(
                first, last, [windowEnd](const Event2D &e) { return e.timestamp < windowEnd; });
            builder_.add(first, split);
            first = split;
            if (first != last && !emitFrame(error))
                return false;
        }
        return true;
    }

    // Encodes the current window and every remaining one up to the range end.
    bool finish(std::string &error)
    {
        while (nextFrame_ < frameCount_) {
            if (!emitFrame(error))
                return false;
        }
        return encoder_.finish(error);
    }

    bool emitFrame(std::string &error)
    {
        if (control_) {
            if (control_->cancelled()) {
                error = "cancelled";
                return false;
            }
            control_->report(double(nextFrame_) / double(frameCount_));
        }
        AVFrame *frame = encoder_.frame(error);
        if (!frame)
            return false;
        builder_.draw(frame);
        if (!encoder_.encode(int64_t(nextFrame_), error))
            return false;
        ++nextFrame_;
        return true;
    }

    uint64_t nextFrame() const { return nextFrame_; }

private:
    uint64_t start_, end_, frameCount_;
    uint64_t nextFrame_ = 0;
    FrameBuilder &builder_;
    H264Mp4Encoder &encoder_;
    OperationControl *control_;
};

bool encodeRange(DvsFileReader &reader, uint64_t start, uint64_t end, int sensorWidth, int sensorHeight,
                 const std::string &tmpPath, const VideoExportOptions &options, OperationControl *control,
                 std::string &error)
{
    // yuv420p needs even dimensions: an odd sensor gets one background row/column.
    const int frameWidth = (sensorWidth + 1) & ~1;
    const int frameHeight = (sensorHeight + 1) & ~1;
    H264Mp4Settings settings;
    settings.width = frameWidth;
    settings.height = frameHeight;
    settings.timeBaseDen = kFps; // frame i at time i
    settings.fps = kFps;
    settings.keyFrameInterval = kFps;
    // Event frames are flat colour with sharp specks: the fastest preset keeps them
    // legible and, on two cores, encodes several times faster than real time
    // (veryfast runs below real time on dense recordings).
    settings.preset = "ultrafast";
    settings.crf = 23;
    settings.fastStart = true; // players can start before the whole file is read
    H264Mp4Encoder encoder;
    if (!encoder.open(tmpPath, settings, error))
        return false;
    FrameBuilder builder(sensorWidth, sensorHeight, frameWidth, frameHeight, options);
    WindowPump pump(start, end, builder, encoder, control);

    if (auto *raw = dynamic_cast<RawFileReader *>(&reader)) {
        // Our own reader streams the range block by block with its own buffers: no
        // per-window copies, and it never takes the lock that guards the read position,
        // so this works even when called from inside the reader's exportVideo().
        bool pumpFailed = false;
        const bool ok = raw->forEachBlockInRange(
            start, end, [&](const Event2D *b, const Event2D *e, const EventTriggerIn *, const EventTriggerIn *) {
                if (!pump.add(b, e, error)) {
                    pumpFailed = true;
                    return false;
                }
                return true;
            },
            control);
        if (pumpFailed)
            return false;
        if (!ok) {
            error = control && control->cancelled() ? "cancelled" : "cannot read the recording";
            return false;
        }
        return pump.finish(error);
    }

    // Any other reader: one window at a time through the public interface.
    for (uint64_t frame = 0; frame < pump.frameCount(); ++frame) {
        const auto events = reader.readRange(pump.windowStart(frame), pump.windowDuration(frame));
        if (events && !events->empty() && !pump.add(events->data(), events->data() + events->size(), error))
            return false;
        while (pump.nextFrame() <= frame) {
            if (!pump.emitFrame(error))
                return false;
        }
    }
    return pump.finish(error);
}

} // namespace

bool exportEventVideo(DvsFileReader &reader, uint64_t start, uint64_t end, const std::string &outPath,
                      const VideoExportOptions &options, std::string *errorOut, OperationControl *control)
{
    const auto logError = [&](const std::string &, const std::string &what) {
        const bool cancelled = control && control->cancelled();
        const std::string message =
            "video export to " + outPath + (cancelled ? std::string(" cancelled") : " failed: " + what);
        driverLog(cancelled ? DriverLogLevel::Info : DriverLogLevel::Error, message);
        if (errorOut)
            *errorOut = message;
    };
    if (outPath.empty()) {
        logError(outPath, "no output path");
        return false;
    }
    if (end < start) {
        logError(outPath, "the range ends before it starts");
        return false;
    }
    DvsFileInfo info;
    if (!reader.getFileInfo(info)) {
        logError(outPath, "cannot read the recording's information");
        return false;
    }
    if (info.eventCount == 0 && info.triggerCount == 0) {
        logError(outPath, "the recording is empty");
        return false;
    }
    if (end < info.startTimestamp || start > info.endTimestamp) {
        logError(outPath, "the range lies outside the recording [" + std::to_string(info.startTimestamp) + ", " +
                              std::to_string(info.endTimestamp) + "]");
        return false;
    }
    // A range reaching past the recording would only add empty frames.
    start = std::max(start, info.startTimestamp);
    end = std::min(end, info.endTimestamp);
    const int width = info.width ? info.width : 1280;
    const int height = info.height ? info.height : 720;

    // x264 reports its settings and statistics at info level on every run.
    if (av_log_get_level() == AV_LOG_INFO)
        av_log_set_level(AV_LOG_WARNING);

    const std::string tmpPath = tempNameFor(outPath);
    std::string error;
    bool ok = false;
    try {
        ok = encodeRange(reader, start, end, width, height, tmpPath, options, control, error);
    } catch (const std::exception &e) { // out of memory: no exception leaves the driver
        error = e.what();
    }
    if (ok && std::rename(tmpPath.c_str(), outPath.c_str()) != 0) {
        error = std::string("cannot rename the finished file: ") + std::strerror(errno);
        ok = false;
    }
    if (!ok) {
        std::remove(tmpPath.c_str());
        logError(outPath, error);
        return false;
    }
    if (control)
        control->report(1.0);
    return true;
}

} // namespace vexadin
