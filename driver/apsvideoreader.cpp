#include "driver/apsvideoreader.h"

#include "driver/driverlog.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <sys/stat.h>
#include <vector>

namespace vexadin {

namespace {

constexpr AVRational kMicroseconds{1, 1000000};
// Frames larger than a 8K picture's area are refused too (a 8192 x 8192 B, G, R
// frame would already be 192 MiB).
constexpr int64_t kMaxArea = int64_t(7680) * 4320;

std::string avErrorText(int code)
{
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, buf, sizeof buf);
    return buf;
}

// One frame of the video, in display order.
struct IndexEntry {
    int64_t pts = 0;  // stream time base
    int64_t dts = 0;  // stream time base; where a seek lands
    uint64_t us = 0;  // APS time, µs
    bool key = false; // decoding can start here
};

} // namespace

struct ApsVideoReader::Impl {
    std::string path;
    std::string error;
    AVFormatContext *format = nullptr;
    int streamIndex = -1;
    AVRational timeBase{1, 1};
    AVCodecContext *decoder = nullptr;
    AVPacket *packet = nullptr;
    AVFrame *picture = nullptr;
    SwsContext *sws = nullptr;
    bool opened = false;

    std::vector<IndexEntry> index;
    size_t next = 0;           // index position of the frame readNextFrame() gives
    bool positioned = false;   // the decoder runs from a key frame at or before `next`
    bool demuxerDone = false;  // no more packets: the decoder is being drained
    uint64_t decoded = 0;

    ~Impl()
    {
        sws_freeContext(sws);
        av_frame_free(&picture);
        av_packet_free(&packet);
        avcodec_free_context(&decoder);
        avformat_close_input(&format);
    }

    bool failWith(const std::string &message)
    {
        error = path + ": " + message;
        driverLog(DriverLogLevel::Warning, "APS video " + error);
        return false;
    }

    uint64_t toMicroseconds(int64_t ts) const
    {
        return uint64_t(av_rescale_q(ts, timeBase, kMicroseconds));
    }

    // Reads every packet of the stream once (no decoding) for the frame index.
    bool buildIndex()
    {
        index.clear();
        for (;;) {
            const int rc = av_read_frame(format, packet);
            if (rc < 0)
                break; // end of file, or the rest is damaged: index what was read
            if (packet->stream_index == streamIndex) {
                IndexEntry e;
                e.pts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
                e.dts = packet->dts != AV_NOPTS_VALUE ? packet->dts : e.pts;
                e.key = (packet->flags & AV_PKT_FLAG_KEY) != 0;
                // Frames before time 0 (possible in foreign files) have no APS time.
                if (e.pts != AV_NOPTS_VALUE && e.pts >= 0 && !(packet->flags & AV_PKT_FLAG_DISCARD)) {
                    e.us = toMicroseconds(e.pts);
                    index.push_back(e);
                }
            }
            av_packet_unref(packet);
        }
        std::stable_sort(index.begin(), index.end(),
                         [](const IndexEntry &a, const IndexEntry &b) { return a.pts < b.pts; });
        // Two frames at one time cannot be told apart: keep the first.
        index.erase(std::unique(index.begin(), index.end(),
                                [](const IndexEntry &a, const IndexEntry &b) { return a.pts == b.pts; }),
                    index.end());
        return !index.empty();
    }

    bool openDecoder()
    {
        const AVCodecParameters *par = format->streams[streamIndex]->codecpar;
        const AVCodec *codec = avcodec_find_decoder(par->codec_id);
        if (!codec)
            return failWith("no decoder for this video");
        decoder = avcodec_alloc_context3(codec);
        if (!decoder || avcodec_parameters_to_context(decoder, par) < 0)
            return failWith("cannot set up the decoder");
        decoder->pkt_timebase = timeBase;
        // One thread: a frame-threaded decoder refills its whole pipeline after every
        // seek, which made readFrameAt cost 2.5 times the CPU here; one 3840 x 2160
        // picture decodes in about 10 ms anyway.
        decoder->thread_count = 1;
        const int rc = avcodec_open2(decoder, codec, nullptr);
        if (rc < 0)
            return failWith("cannot open the decoder: " + avErrorText(rc));
        return true;
    }

    // Display-order position of a decoded picture; index.size() when it is not a frame of the index.
    size_t positionOf(const AVFrame *f) const
    {
        int64_t ts = f->pts != AV_NOPTS_VALUE ? f->pts : f->best_effort_timestamp;
        if (ts == AV_NOPTS_VALUE)
            return next; // a decoder that lost the time stamp: take it for the expected frame
        const auto it = std::lower_bound(index.begin(), index.end(), ts,
                                         [](const IndexEntry &e, int64_t t) { return e.pts < t; });
        return it != index.end() && it->pts == ts ? size_t(it - index.begin()) : index.size();
    }

    // Restarts decoding at the key frame at or before position `target` (at the
    // first frame with fromStart).
    bool seekTo(size_t target, bool fromStart)
    {
        size_t key = fromStart ? 0 : target;
        while (key > 0 && !index[key].key)
            --key;
        int rc = av_seek_frame(format, streamIndex, index[key].dts, AVSEEK_FLAG_BACKWARD);
        if (rc < 0 && key != 0) // a container that cannot seek there: from the start
            rc = av_seek_frame(format, streamIndex, index[0].dts, AVSEEK_FLAG_BACKWARD);
        if (rc < 0)
            return failWith("cannot seek: " + avErrorText(rc));
        avcodec_flush_buffers(decoder);
        positioned = true;
        demuxerDone = false;
        return true;
    }

    // The next decoded picture into `picture`; false at the end of the stream.
    bool decodeNext()
    {
        int drainFailures = 0;
        for (;;) {
            int rc = avcodec_receive_frame(decoder, picture);
            if (rc == 0) {
                ++decoded;
                return true;
            }
            if (rc == AVERROR_EOF)
                return false;
            if (demuxerDone) {
                // Draining the last pictures; a damaged one is skipped, a run of them ends it.
                if (rc == AVERROR(EAGAIN) || ++drainFailures > 16)
                    return false;
                continue;
            }
            // The decoder wants input (or dropped a picture it could not decode): feed
            // it the next packet. After receive said EAGAIN, send always takes one.
            rc = av_read_frame(format, packet);
            if (rc < 0) {
                demuxerDone = true;
                avcodec_send_packet(decoder, nullptr); // drain the pictures still inside
                continue;
            }
            if (packet->stream_index == streamIndex)
                avcodec_send_packet(decoder, packet); // a damaged packet is skipped
            av_packet_unref(packet);
        }
    }

    // Converts `picture` into frame (position pos), reusing the frame's buffer when nobody shares it.
    bool convert(size_t pos, ApsFrame &frame, uint16_t width, uint16_t height)
    {
        if (picture->width <= 0 || picture->height <= 0 || picture->width > kMaxSide ||
            picture->height > kMaxSide)
            return failWith("a picture of impossible size " + std::to_string(picture->width) + " x " +
                            std::to_string(picture->height));
        // A picture of another size than the stream's (a damaged or odd file) is scaled to it.
        sws = sws_getCachedContext(sws, picture->width, picture->height, AVPixelFormat(picture->format), width,
                                   height, AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr, nullptr);
        if (!sws)
            return failWith("no colour conversion from this video's pixel format");
        const int srcRange = picture->color_range == AVCOL_RANGE_JPEG ? 1 : 0;
        const int *srcMatrix = sws_getCoefficients(picture->colorspace == AVCOL_SPC_UNSPECIFIED
                                                       ? SWS_CS_ITU601
                                                       : int(picture->colorspace));
        sws_setColorspaceDetails(sws, srcMatrix, srcRange, sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16,
                                 1 << 16);
        const IndexEntry &e = index[pos];
        if (frame.ownsBufferAlone() && frame.getWidth() == width && frame.getHeight() == height) {
            frame.setFrameNumber(pos);
            frame.setTimestamp(e.us);
        } else {
            frame = ApsFrame(width, height, pos, e.us);
        }
        uint8_t *dst[1] = {frame.data()};
        const int dstStride[1] = {int(width) * 3};
        if (sws_scale(sws, picture->data, picture->linesize, 0, picture->height, dst, dstStride) <= 0)
            return failWith("colour conversion failed");
        return true;
    }
};

std::unique_ptr<ApsFileReader> ApsFileReader::createFileReader(const std::string &path)
{
    return ApsVideoReader::create(path);
}

ApsVideoReader::ApsVideoReader() : d(std::make_unique<Impl>()) {}

ApsVideoReader::~ApsVideoReader() = default;

std::unique_ptr<ApsVideoReader> ApsVideoReader::create(const std::string &path)
{
    const auto refuse = [&](const std::string &why) {
        driverLog(DriverLogLevel::Warning, "not an APS video: " + (path.empty() ? std::string("(no path)") : path) +
                                               (why.empty() ? "" : ": " + why));
        return nullptr;
    };
    if (path.empty())
        return refuse("");
    // Only regular files: opening a FIFO would wait for a writer forever.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return refuse(std::strerror(errno));
    if (!S_ISREG(st.st_mode))
        return refuse("not a regular file");

    std::unique_ptr<ApsVideoReader> reader(new ApsVideoReader());
    Impl &d = *reader->d;
    d.path = path;
    try {
        // MP4/MOV only, from the local file only: "file:" keeps a name containing
        // ':' from being taken for a network protocol.
        const AVInputFormat *mp4 = av_find_input_format("mp4");
        AVDictionary *options = nullptr;
        av_dict_set(&options, "protocol_whitelist", "file", 0);
        const int rc = avformat_open_input(&d.format, ("file:" + path).c_str(), mp4, &options);
        av_dict_free(&options);
        if (rc < 0)
            return refuse(avErrorText(rc));
        for (unsigned i = 0; i < d.format->nb_streams; ++i) {
            const AVStream *s = d.format->streams[i];
            if (s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !(s->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
                d.streamIndex = int(i);
                break;
            }
        }
        if (d.streamIndex < 0)
            return refuse("no video stream");
        const AVStream *stream = d.format->streams[d.streamIndex];
        const AVCodecParameters *par = stream->codecpar;
        if (!avcodec_find_decoder(par->codec_id))
            return refuse("no decoder for its codec");
        if (par->width <= 0 || par->height <= 0 || par->width > kMaxSide || par->height > kMaxSide ||
            int64_t(par->width) * par->height > kMaxArea)
            return refuse("unsupported frame size " + std::to_string(par->width) + " x " + std::to_string(par->height));
        if (stream->time_base.num <= 0 || stream->time_base.den <= 0)
            return refuse("invalid time base");
        d.timeBase = stream->time_base;
        reader->width_ = uint16_t(par->width);
        reader->height_ = uint16_t(par->height);
        // Other streams (audio, data) are never read.
        for (unsigned i = 0; i < d.format->nb_streams; ++i)
            if (int(i) != d.streamIndex)
                d.format->streams[i]->discard = AVDISCARD_ALL;
    } catch (const std::exception &e) { // out of memory
        return refuse(e.what());
    }
    return reader;
}

bool ApsVideoReader::open()
{
    if (d->opened)
        return true;
    d->error.clear();
    try {
        d->packet = av_packet_alloc();
        d->picture = av_frame_alloc();
        if (!d->packet || !d->picture)
            return d->failWith("out of memory");
        if (!d->buildIndex())
            return d->failWith("no frames");
        if (!d->openDecoder())
            return false;
    } catch (const std::exception &e) {
        return d->failWith(e.what());
    }
    d->next = 0;
    d->positioned = false;
    d->opened = true;
    return true;
}

bool ApsVideoReader::rewind(uint64_t apsTime)
{
    if (!d->opened)
        return d->failWith("not open");
    const auto it = std::lower_bound(d->index.begin(), d->index.end(), apsTime,
                                     [](const IndexEntry &e, uint64_t t) { return e.us < t; });
    d->next = size_t(it - d->index.begin());
    d->positioned = false; // the next read seeks
    return it != d->index.end();
}

bool ApsVideoReader::getFrameIndex(std::vector<uint64_t> &timestamps)
{
    if (!d->opened)
        return d->failWith("not open");
    timestamps.clear();
    timestamps.reserve(d->index.size());
    for (const IndexEntry &e : d->index)
        timestamps.push_back(e.us);
    return true;
}

bool ApsVideoReader::readNextFrame(ApsFrame &frame)
{
    if (!d->opened)
        return d->failWith("not open");
    try {
        if (d->next >= d->index.size())
            return false;
        bool seeked = false, fromStart = false;
        if (!d->positioned) {
            if (!d->seekTo(d->next, false))
                return false;
            seeked = true;
        }
        while (d->decodeNext()) {
            const size_t pos = d->positionOf(d->picture);
            if (pos >= d->index.size())
                continue; // not a frame of the index
            if (seeked && pos > d->next && !fromStart) {
                // The seek landed after the wanted frame (a container whose key
                // frames are not where its index says): decode from the start.
                if (!d->seekTo(d->next, true))
                    return false;
                fromStart = true;
                continue;
            }
            seeked = false;
            if (pos < d->next)
                continue; // on the way from a key frame to the wanted frame
            d->next = pos + 1;
            return d->convert(pos, frame, width_, height_);
        }
        // The end of what can be decoded.
        d->next = d->index.size();
        d->positioned = false;
        return false;
    } catch (const std::exception &e) {
        d->positioned = false;
        return d->failWith(e.what());
    }
}

bool ApsVideoReader::readFrameAt(uint64_t apsTime, ApsFrame &frame)
{
    if (!d->opened)
        return d->failWith("not open");
    // The last frame at or before apsTime; the first one for a time before it.
    const auto after = std::upper_bound(d->index.begin(), d->index.end(), apsTime,
                                        [](uint64_t t, const IndexEntry &e) { return t < e.us; });
    const size_t target = after == d->index.begin() ? 0 : size_t(after - d->index.begin()) - 1;
    // Going forward without passing a key frame: decoding on is cheaper than a seek.
    bool keyBetween = false;
    if (d->positioned && target >= d->next) {
        for (size_t i = d->next + 1; i <= target && !keyBetween; ++i)
            keyBetween = d->index[i].key;
    }
    if (!d->positioned || target < d->next || keyBetween)
        d->positioned = false;
    d->next = target;
    return readNextFrame(frame);
}

size_t ApsVideoReader::frameCount() const { return d->index.size(); }

uint64_t ApsVideoReader::framesDecoded() const { return d->decoded; }

const std::string &ApsVideoReader::lastError() const { return d->error; }

} // namespace vexadin
