#include "driver/h264mp4encoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cstring>

namespace vexadin {

namespace {

std::string avErrorText(int code)
{
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, buf, sizeof buf);
    return buf;
}

} // namespace

struct H264Mp4Encoder::Impl {
    AVFormatContext *format = nullptr;
    AVCodecContext *codec = nullptr;
    AVStream *stream = nullptr;
    AVFrame *picture = nullptr;
    AVPacket *packet = nullptr;
    AVPacket *held = nullptr; // the last packet from the encoder, not yet written
    bool haveHeld = false;
    int64_t lastDuration = 0;
    int64_t nominalDuration = 1;

    ~Impl()
    {
        av_packet_free(&held);
        av_packet_free(&packet);
        av_frame_free(&picture);
        avcodec_free_context(&codec);
        if (format) {
            if (format->pb)
                avio_closep(&format->pb);
            avformat_free_context(format);
        }
    }

    bool openEncoder(const H264Mp4Settings &s)
    {
        if (const AVCodec *x264 = avcodec_find_encoder_by_name("libx264"); x264 && tryEncoder(x264, s))
            return true;
        // Hardware encoders are listed but usually fail to open without their device.
        void *it = nullptr;
        while (const AVCodec *c = av_codec_iterate(&it)) {
            if (av_codec_is_encoder(c) && c->id == AV_CODEC_ID_H264 && tryEncoder(c, s))
                return true;
        }
        return false;
    }

    bool tryEncoder(const AVCodec *c, const H264Mp4Settings &s)
    {
        AVCodecContext *ctx = avcodec_alloc_context3(c);
        if (!ctx)
            return false;
        ctx->width = s.width;
        ctx->height = s.height;
        ctx->pix_fmt = AV_PIX_FMT_YUV420P;
        ctx->time_base = AVRational{1, s.timeBaseDen};
        ctx->framerate = AVRational{std::max(1, s.fps), 1};
        ctx->gop_size = std::max(1, s.keyFrameInterval);
        // Decode order = display order: readers seek and index without reordering.
        ctx->max_b_frames = 0;
        ctx->thread_count = 0; // one per core
        // Pictures are BT.601, limited range: say so in the stream.
        ctx->colorspace = AVCOL_SPC_SMPTE170M;
        ctx->color_primaries = AVCOL_PRI_SMPTE170M;
        ctx->color_trc = AVCOL_TRC_SMPTE170M;
        ctx->color_range = AVCOL_RANGE_MPEG;
        if (format->oformat->flags & AVFMT_GLOBALHEADER)
            ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        AVDictionary *options = nullptr;
        if (std::strcmp(c->name, "libx264") == 0) {
            av_dict_set(&options, "preset", s.preset.c_str(), 0);
            av_dict_set_int(&options, "crf", s.crf, 0);
        }
        const int rc = avcodec_open2(ctx, c, &options);
        av_dict_free(&options);
        if (rc < 0) {
            avcodec_free_context(&ctx);
            return false;
        }
        codec = ctx;
        return true;
    }

    // Each packet is held back until the next one arrives, to give it its real
    // duration: MP4 keeps durations, not times, and a last frame without one falls
    // outside the track's edit list and is lost to readers.
    bool drain(std::string &error)
    {
        for (;;) {
            int rc = avcodec_receive_packet(codec, packet);
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
                return true;
            if (rc < 0) {
                error = "the encoder failed: " + avErrorText(rc);
                return false;
            }
            av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
            packet->stream_index = stream->index;
            if (haveHeld) {
                lastDuration = packet->pts - held->pts;
                if (!writeHeld(lastDuration, error))
                    return false;
            }
            av_packet_move_ref(held, packet);
            haveHeld = true;
        }
    }

    bool writeHeld(int64_t duration, std::string &error)
    {
        held->duration = duration;
        haveHeld = false;
        const int rc = av_interleaved_write_frame(format, held); // takes the packet's data
        if (rc < 0) {
            error = "cannot write to the file: " + avErrorText(rc);
            return false;
        }
        return true;
    }
};

H264Mp4Encoder::H264Mp4Encoder() : d(std::make_unique<Impl>()) {}

H264Mp4Encoder::~H264Mp4Encoder() = default;

bool H264Mp4Encoder::open(const std::string &path, const H264Mp4Settings &s, std::string &error)
{
    // "file:" so that a name containing ':' is never taken for another protocol; the
    // muxer reopens the file by this name to move the index to the front.
    const std::string url = "file:" + path;
    int rc = avformat_alloc_output_context2(&d->format, nullptr, "mp4", url.c_str());
    if (rc < 0 || !d->format) {
        error = "no mp4 muxer: " + avErrorText(rc);
        return false;
    }
    if (!d->openEncoder(s)) {
        error = "no H.264 encoder available";
        return false;
    }
    d->stream = avformat_new_stream(d->format, nullptr);
    if (!d->stream) {
        error = "cannot add a stream";
        return false;
    }
    d->stream->time_base = d->codec->time_base;
    d->stream->avg_frame_rate = d->codec->framerate;
    rc = avcodec_parameters_from_context(d->stream->codecpar, d->codec);
    if (rc < 0) {
        error = "codec parameters: " + avErrorText(rc);
        return false;
    }
    rc = avio_open(&d->format->pb, url.c_str(), AVIO_FLAG_WRITE);
    if (rc < 0) {
        error = "cannot create the file: " + avErrorText(rc);
        return false;
    }
    AVDictionary *muxerOptions = nullptr;
    if (s.fastStart)
        av_dict_set(&muxerOptions, "movflags", "+faststart", 0);
    // Edit lists count in the movie's time scale: fine enough for the time base, so a
    // first frame that does not start at 0 keeps its exact time.
    av_dict_set_int(&muxerOptions, "movie_timescale", std::max(1000, s.timeBaseDen), 0);
    rc = avformat_write_header(d->format, &muxerOptions);
    av_dict_free(&muxerOptions);
    if (rc < 0) {
        error = "cannot write the header: " + avErrorText(rc);
        return false;
    }
    // The muxer may pick a finer time base (MP4 wants at least 10,000 ticks a second);
    // rescaling into it is exact only when it divides into whole ticks.
    if (d->stream->time_base.num != 1 || d->stream->time_base.den % s.timeBaseDen != 0) {
        error = "the muxer's time base " + std::to_string(d->stream->time_base.num) + "/" +
                std::to_string(d->stream->time_base.den) + " cannot hold 1/" + std::to_string(s.timeBaseDen);
        return false;
    }
    d->nominalDuration = av_rescale_q(std::max(1, s.timeBaseDen / std::max(1, s.fps)), d->codec->time_base,
                                      d->stream->time_base);
    d->picture = av_frame_alloc();
    d->packet = av_packet_alloc();
    d->held = av_packet_alloc();
    if (!d->picture || !d->packet || !d->held) {
        error = "out of memory";
        return false;
    }
    d->picture->format = AV_PIX_FMT_YUV420P;
    d->picture->width = s.width;
    d->picture->height = s.height;
    d->picture->colorspace = d->codec->colorspace;
    d->picture->color_range = d->codec->color_range;
    rc = av_frame_get_buffer(d->picture, 0);
    if (rc < 0) {
        error = "frame buffer: " + avErrorText(rc);
        return false;
    }
    return true;
}

AVFrame *H264Mp4Encoder::frame(std::string &error)
{
    const int rc = av_frame_make_writable(d->picture);
    if (rc < 0) {
        error = "frame not writable: " + avErrorText(rc);
        return nullptr;
    }
    return d->picture;
}

bool H264Mp4Encoder::encode(int64_t pts, std::string &error)
{
    d->picture->pts = pts;
    const int rc = avcodec_send_frame(d->codec, d->picture);
    if (rc < 0) {
        error = "the encoder refused a frame: " + avErrorText(rc);
        return false;
    }
    return d->drain(error);
}

bool H264Mp4Encoder::finish(std::string &error)
{
    int rc = avcodec_send_frame(d->codec, nullptr);
    if (rc < 0 && rc != AVERROR_EOF) {
        error = "flushing the encoder: " + avErrorText(rc);
        return false;
    }
    if (!d->drain(error))
        return false;
    if (d->haveHeld && !d->writeHeld(d->lastDuration > 0 ? d->lastDuration : d->nominalDuration, error))
        return false;
    rc = av_write_trailer(d->format);
    if (rc < 0) {
        error = "cannot finish the file: " + avErrorText(rc);
        return false;
    }
    rc = avio_closep(&d->format->pb);
    if (rc < 0) {
        error = "cannot close the file: " + avErrorText(rc);
        return false;
    }
    return true;
}

} // namespace vexadin
