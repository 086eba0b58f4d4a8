#include "driver/apsvideowriter.h"

#include "driver/driverlog.h"
#include "driver/tempfilename.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
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

constexpr AVRational kMicroseconds{1, 1000000};

std::string avErrorText(int code)
{
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, buf, sizeof buf);
    return buf;
}

// The FFmpeg side: B, G, R frames in, H.264 in an MP4 file out. One thread at a time.
class H264Mp4Sink {
public:
    ~H264Mp4Sink()
    {
        sws_freeContext(sws_);
        av_packet_free(&held_);
        av_packet_free(&packet_);
        av_frame_free(&frame_);
        avcodec_free_context(&codec_);
        if (format_) {
            if (format_->pb)
                avio_closep(&format_->pb);
            avformat_free_context(format_);
        }
    }

    bool open(const std::string &path, int width, int height, const ApsVideoWriterOptions &options,
              std::string &error)
    {
        nominalFps_ = options.nominalFps;
        int rc = avformat_alloc_output_context2(&format_, nullptr, "mp4", nullptr);
        if (rc < 0 || !format_) {
            error = "no MP4 muxer: " + avErrorText(rc);
            return false;
        }
        if (!openEncoder(width, height, options)) {
            error = "no H.264 encoder available";
            return false;
        }
        stream_ = avformat_new_stream(format_, nullptr);
        if (!stream_) {
            error = "cannot add a video stream";
            return false;
        }
        stream_->time_base = kMicroseconds;
        rc = avcodec_parameters_from_context(stream_->codecpar, codec_);
        if (rc < 0) {
            error = "codec parameters: " + avErrorText(rc);
            return false;
        }
        // "file:" so that a name containing ':' is never taken for another protocol.
        rc = avio_open(&format_->pb, ("file:" + path).c_str(), AVIO_FLAG_WRITE);
        if (rc < 0) {
            error = "cannot create " + path + ": " + avErrorText(rc);
            return false;
        }
        AVDictionary *muxerOptions = nullptr;
        // Edit lists are in the movie's time scale: make it µs too, so a first frame
        // that does not start at 0 keeps its exact time stamp.
        av_dict_set(&muxerOptions, "movie_timescale", "1000000", 0);
        rc = avformat_write_header(format_, &muxerOptions);
        av_dict_free(&muxerOptions);
        if (rc < 0) {
            error = "cannot write the MP4 header: " + avErrorText(rc);
            return false;
        }
        if (av_cmp_q(stream_->time_base, kMicroseconds) != 0) {
            error = "the MP4 muxer changed the time base to " + std::to_string(stream_->time_base.num) + "/" +
                    std::to_string(stream_->time_base.den);
            return false;
        }
        frame_ = av_frame_alloc();
        packet_ = av_packet_alloc();
        held_ = av_packet_alloc();
        if (!frame_ || !packet_ || !held_) {
            error = "out of memory";
            return false;
        }
        frame_->format = AV_PIX_FMT_YUV420P;
        frame_->width = width;
        frame_->height = height;
        frame_->colorspace = codec_->colorspace;
        frame_->color_range = codec_->color_range;
        rc = av_frame_get_buffer(frame_, 0);
        if (rc < 0) {
            error = "frame buffer: " + avErrorText(rc);
            return false;
        }
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
        int rc = av_frame_make_writable(frame_);
        if (rc < 0) {
            error = "frame not writable: " + avErrorText(rc);
            return false;
        }
        const uint8_t *src[1] = {picture.data()};
        const int srcStride[1] = {int(picture.getWidth()) * 3};
        sws_scale(sws_, src, srcStride, 0, picture.getHeight(), frame_->data, frame_->linesize);
        frame_->pts = int64_t(picture.getTimestamp());
        rc = avcodec_send_frame(codec_, frame_);
        if (rc < 0) {
            error = "the encoder refused a frame: " + avErrorText(rc);
            return false;
        }
        return drain(error);
    }

    bool finish(std::string &error)
    {
        int rc = avcodec_send_frame(codec_, nullptr);
        if (rc < 0 && rc != AVERROR_EOF) {
            error = "flushing the encoder: " + avErrorText(rc);
            return false;
        }
        if (!drain(error))
            return false;
        // The last frame lasts as long as the one before it (or one nominal frame).
        if (haveHeld_ && !writeHeld(lastDuration_ > 0 ? lastDuration_ : 1000000 / std::max(1, nominalFps_), error))
            return false;
        rc = av_write_trailer(format_);
        if (rc < 0) {
            error = "cannot finish the MP4 file: " + avErrorText(rc);
            return false;
        }
        rc = avio_closep(&format_->pb);
        if (rc < 0) {
            error = "cannot close the MP4 file: " + avErrorText(rc);
            return false;
        }
        return true;
    }

private:
    bool openEncoder(int width, int height, const ApsVideoWriterOptions &options)
    {
        if (const AVCodec *x264 = avcodec_find_encoder_by_name("libx264");
            x264 && tryEncoder(x264, width, height, options))
            return true;
        void *it = nullptr;
        while (const AVCodec *codec = av_codec_iterate(&it)) {
            if (av_codec_is_encoder(codec) && codec->id == AV_CODEC_ID_H264 &&
                tryEncoder(codec, width, height, options))
                return true;
        }
        return false;
    }

    bool tryEncoder(const AVCodec *codec, int width, int height, const ApsVideoWriterOptions &options)
    {
        AVCodecContext *ctx = avcodec_alloc_context3(codec);
        if (!ctx)
            return false;
        ctx->width = width;
        ctx->height = height;
        ctx->pix_fmt = AV_PIX_FMT_YUV420P;
        ctx->time_base = kMicroseconds;
        ctx->framerate = AVRational{std::max(1, options.nominalFps), 1};
        ctx->gop_size = std::max(1, options.keyFrameInterval);
        // Decode order = display order: seeking and the frame index stay simple.
        ctx->max_b_frames = 0;
        ctx->thread_count = 0; // one per core
        ctx->colorspace = AVCOL_SPC_SMPTE170M;
        ctx->color_primaries = AVCOL_PRI_SMPTE170M;
        ctx->color_trc = AVCOL_TRC_SMPTE170M;
        ctx->color_range = AVCOL_RANGE_MPEG;
        if (format_->oformat->flags & AVFMT_GLOBALHEADER)
            ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        AVDictionary *codecOptions = nullptr;
        if (std::strcmp(codec->name, "libx264") == 0) {
            av_dict_set(&codecOptions, "preset", options.preset.c_str(), 0);
            av_dict_set_int(&codecOptions, "crf", options.crf, 0);
        }
        const int rc = avcodec_open2(ctx, codec, &codecOptions);
        av_dict_free(&codecOptions);
        if (rc < 0) {
            avcodec_free_context(&ctx);
            return false;
        }
        codec_ = ctx;
        return true;
    }

    // Each packet is held back until the next one arrives, to give it its real
    // duration: MP4 keeps durations, not times, and a last frame without duration
    // would fall outside the track's edit list and be lost to readers.
    bool drain(std::string &error)
    {
        for (;;) {
            int rc = avcodec_receive_packet(codec_, packet_);
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
                return true;
            if (rc < 0) {
                error = "the encoder failed: " + avErrorText(rc);
                return false;
            }
            av_packet_rescale_ts(packet_, codec_->time_base, stream_->time_base);
            packet_->stream_index = stream_->index;
            if (haveHeld_) {
                // No B-frames: packets come in display order.
                lastDuration_ = packet_->pts - held_->pts;
                if (!writeHeld(lastDuration_, error))
                    return false;
            }
            av_packet_move_ref(held_, packet_);
            haveHeld_ = true;
        }
    }

    bool writeHeld(int64_t duration, std::string &error)
    {
        held_->duration = duration;
        haveHeld_ = false;
        const int rc = av_interleaved_write_frame(format_, held_); // takes the packet's data
        if (rc < 0) {
            error = "cannot write to the MP4 file: " + avErrorText(rc);
            return false;
        }
        return true;
    }

    AVFormatContext *format_ = nullptr;
    AVCodecContext *codec_ = nullptr;
    AVStream *stream_ = nullptr;
    AVFrame *frame_ = nullptr;
    AVPacket *packet_ = nullptr;
    AVPacket *held_ = nullptr; // the last packet from the encoder, not yet written
    bool haveHeld_ = false;
    int64_t lastDuration_ = 0;
    int nominalFps_ = 30;
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
    std::unique_ptr<H264Mp4Sink> sink; // the encoder thread's while it runs
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
    d->sink = std::make_unique<H264Mp4Sink>();
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
