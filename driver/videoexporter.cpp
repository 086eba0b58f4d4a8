#include "driver/videoexporter.h"

#include "camera/dvsfilereader.h"
#include "driver/driverlog.h"
#include "driver/rawfilereader.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
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

std::string avError(int code)
{
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, buf, sizeof buf);
    return buf;
}

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

// The H.264/MP4 side: RGB24 frames in, a finished file out.
class Mp4Encoder {
public:
    ~Mp4Encoder()
    {
        av_packet_free(&packet_);
        av_frame_free(&frame_);
        avcodec_free_context(&codec_);
        if (format_) {
            if (format_->pb)
                avio_closep(&format_->pb);
            avformat_free_context(format_);
        }
    }

    bool open(const std::string &path, int width, int height, std::string &error)
    {
        int rc = avformat_alloc_output_context2(&format_, nullptr, "mp4", path.c_str());
        if (rc < 0 || !format_) {
            error = "no mp4 muxer: " + avError(rc);
            return false;
        }
        if (!openEncoder(width, height, error))
            return false;
        AVStream *stream = avformat_new_stream(format_, nullptr);
        if (!stream) {
            error = "cannot add a stream";
            return false;
        }
        stream->time_base = codec_->time_base;
        stream->avg_frame_rate = codec_->framerate;
        rc = avcodec_parameters_from_context(stream->codecpar, codec_);
        if (rc < 0) {
            error = "codec parameters: " + avError(rc);
            return false;
        }
        stream_ = stream;
        rc = avio_open(&format_->pb, path.c_str(), AVIO_FLAG_WRITE);
        if (rc < 0) {
            error = "cannot create the file: " + avError(rc);
            return false;
        }
        AVDictionary *muxerOptions = nullptr;
        // Index at the front so players can start before the whole file is read.
        av_dict_set(&muxerOptions, "movflags", "+faststart", 0);
        rc = avformat_write_header(format_, &muxerOptions);
        av_dict_free(&muxerOptions);
        if (rc < 0) {
            error = "cannot write the header: " + avError(rc);
            return false;
        }
        frame_ = av_frame_alloc();
        packet_ = av_packet_alloc();
        if (!frame_ || !packet_) {
            error = "out of memory";
            return false;
        }
        frame_->format = AV_PIX_FMT_YUV420P;
        frame_->width = width;
        frame_->height = height;
        rc = av_frame_get_buffer(frame_, 0);
        if (rc < 0) {
            error = "frame buffer: " + avError(rc);
            return false;
        }
        return true;
    }

    // The frame to draw the next picture into.
    AVFrame *frame(std::string &error)
    {
        const int rc = av_frame_make_writable(frame_);
        if (rc < 0) {
            error = "frame not writable: " + avError(rc);
            return nullptr;
        }
        return frame_;
    }

    bool encode(int64_t pts, std::string &error)
    {
        frame_->pts = pts;
        const int rc = avcodec_send_frame(codec_, frame_);
        if (rc < 0) {
            error = "encoder refused a frame: " + avError(rc);
            return false;
        }
        return drain(error);
    }

    bool finish(std::string &error)
    {
        int rc = avcodec_send_frame(codec_, nullptr);
        if (rc < 0 && rc != AVERROR_EOF) {
            error = "flushing the encoder: " + avError(rc);
            return false;
        }
        if (!drain(error))
            return false;
        rc = av_write_trailer(format_);
        if (rc < 0) {
            error = "cannot finish the file: " + avError(rc);
            return false;
        }
        rc = avio_closep(&format_->pb);
        if (rc < 0) {
            error = "cannot close the file: " + avError(rc);
            return false;
        }
        return true;
    }

private:
    bool openEncoder(int width, int height, std::string &error)
    {
        // libx264 first; otherwise the first H.264 encoder that opens here (hardware
        // encoders are listed but usually fail to open without their device).
        if (const AVCodec *x264 = avcodec_find_encoder_by_name("libx264"); x264 && tryEncoder(x264, width, height))
            return true;
        void *it = nullptr;
        while (const AVCodec *codec = av_codec_iterate(&it)) {
            if (av_codec_is_encoder(codec) && codec->id == AV_CODEC_ID_H264 && tryEncoder(codec, width, height))
                return true;
        }
        error = "no H.264 encoder available";
        return false;
    }

    bool tryEncoder(const AVCodec *codec, int width, int height)
    {
        AVCodecContext *ctx = avcodec_alloc_context3(codec);
        if (!ctx)
            return false;
        ctx->width = width;
        ctx->height = height;
        ctx->pix_fmt = AV_PIX_FMT_YUV420P;
        ctx->time_base = AVRational{1, kFps};
        ctx->framerate = AVRational{kFps, 1};
        ctx->gop_size = kFps;
        ctx->thread_count = 0; // one per core
        // Frames are drawn as BT.601, limited range: say so in the stream.
        ctx->colorspace = AVCOL_SPC_SMPTE170M;
        ctx->color_primaries = AVCOL_PRI_SMPTE170M;
        ctx->color_trc = AVCOL_TRC_SMPTE170M;
        ctx->color_range = AVCOL_RANGE_MPEG;
        if (format_->oformat->flags & AVFMT_GLOBALHEADER)
            ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        AVDictionary *options = nullptr;
        if (std::strcmp(codec->name, "libx264") == 0) {
            // Event frames are flat colour with sharp specks: the fastest preset keeps them
            // legible and, on two cores, encodes several times faster than real time
            // (veryfast runs below real time on dense recordings).
            av_dict_set(&options, "preset", "ultrafast", 0);
            av_dict_set(&options, "crf", "23", 0);
        }
        const int rc = avcodec_open2(ctx, codec, &options);
        av_dict_free(&options);
        if (rc < 0) {
            avcodec_free_context(&ctx);
            return false;
        }
        codec_ = ctx;
        return true;
    }

    bool drain(std::string &error)
    {
        for (;;) {
            int rc = avcodec_receive_packet(codec_, packet_);
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
                return true;
            if (rc < 0) {
                error = "encoder failed: " + avError(rc);
                return false;
            }
            av_packet_rescale_ts(packet_, codec_->time_base, stream_->time_base);
            packet_->stream_index = stream_->index;
            rc = av_interleaved_write_frame(format_, packet_); // takes the packet's data
            if (rc < 0) {
                error = "cannot write to the file: " + avError(rc);
                return false;
            }
        }
    }

    AVFormatContext *format_ = nullptr;
    AVCodecContext *codec_ = nullptr;
    AVStream *stream_ = nullptr;
    AVFrame *frame_ = nullptr;
    AVPacket *packet_ = nullptr;
};

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
    WindowPump(uint64_t start, uint64_t end, FrameBuilder &builder, Mp4Encoder &encoder)
        : start_(start), end_(end), frameCount_((end - start) / kWindowUs + 1), builder_(builder),
          encoder_(encoder)
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
    Mp4Encoder &encoder_;
};

bool encodeRange(DvsFileReader &reader, uint64_t start, uint64_t end, int sensorWidth, int sensorHeight,
                 const std::string &tmpPath, const VideoExportOptions &options, std::string &error)
{
    // yuv420p needs even dimensions: an odd sensor gets one background row/column.
    const int frameWidth = (sensorWidth + 1) & ~1;
    const int frameHeight = (sensorHeight + 1) & ~1;
    Mp4Encoder encoder;
    if (!encoder.open(tmpPath, frameWidth, frameHeight, error))
        return false;
    FrameBuilder builder(sensorWidth, sensorHeight, frameWidth, frameHeight, options);
    WindowPump pump(start, end, builder, encoder);

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
            });
        if (pumpFailed)
            return false;
        if (!ok) {
            error = "cannot read the recording";
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
                      const VideoExportOptions &options, std::string *errorOut)
{
    const auto logError = [&](const std::string &, const std::string &what) {
        const std::string message = "video export to " + outPath + " failed: " + what;
        driverLog(DriverLogLevel::Error, message);
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
        ok = encodeRange(reader, start, end, width, height, tmpPath, options, error);
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
    }
    return ok;
}

} // namespace vexadin
