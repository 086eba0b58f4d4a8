// Video export: the files must open in FFmpeg as H.264/yuv420p with one frame per
// 33,333 µs window, show the per-pixel vote, and failures must leave nothing behind.
#include "driver/rawfilereader.h"
#include "driver/videoexporter.h"
#include "support/cameratestkit.h"
#include "support/syntheticevents.h"
#include "vxrawcommands.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

using vexadin::Event2D;
using vexadin::RawFileReader;

namespace {

bool exists(const std::string &path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// A private folder per test, removed with everything in it.
struct TempDir : vxtest::ScopedTempFolder {
    TempDir() : ScopedTempFolder("videoexport") {}
};

struct VideoFacts {
    bool opened = false;
    AVCodecID codec = AV_CODEC_ID_NONE;
    int width = 0;
    int height = 0;
    int pixelFormat = -1;
    int64_t packets = 0;
    double durationSeconds = 0;
    bool moovBeforeMdat = false;
};

VideoFacts probe(const std::string &path)
{
    VideoFacts f;
    AVFormatContext *fmt = nullptr;
    if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0)
        return f;
    if (avformat_find_stream_info(fmt, nullptr) >= 0) {
        const int s = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        if (s >= 0) {
            const AVCodecParameters *par = fmt->streams[s]->codecpar;
            f.opened = true;
            f.codec = par->codec_id;
            f.width = par->width;
            f.height = par->height;
            f.pixelFormat = par->format;
            f.durationSeconds = fmt->duration / double(AV_TIME_BASE);
            AVPacket *pkt = av_packet_alloc();
            while (av_read_frame(fmt, pkt) >= 0) {
                if (pkt->stream_index == s)
                    ++f.packets;
                av_packet_unref(pkt);
            }
            av_packet_free(&pkt);
        }
    }
    avformat_close_input(&fmt);
    // Top-level boxes: the index (moov) ahead of the media data plays while loading.
    std::ifstream in(path, std::ios::binary);
    std::string order;
    for (;;) {
        unsigned char head[8];
        if (!in.read(reinterpret_cast<char *>(head), 8))
            break;
        const uint32_t size = uint32_t(head[0]) << 24 | uint32_t(head[1]) << 16 | uint32_t(head[2]) << 8 | head[3];
        order += std::string(reinterpret_cast<char *>(head + 4), 4) + " ";
        if (size < 8)
            break;
        in.seekg(size - 8, std::ios::cur);
    }
    f.moovBeforeMdat = order.find("moov") < order.find("mdat");
    return f;
}

// Decodes every frame to RGB24; frames[i][(y * w + x) * 3 + c].
std::vector<std::vector<uint8_t>> decodeAll(const std::string &path, int &w, int &h)
{
    std::vector<std::vector<uint8_t>> frames;
    AVFormatContext *fmt = nullptr;
    if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0)
        return frames;
    avformat_find_stream_info(fmt, nullptr);
    const int s = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const AVCodec *codec = avcodec_find_decoder(fmt->streams[s]->codecpar->codec_id);
    AVCodecContext *dec = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(dec, fmt->streams[s]->codecpar);
    avcodec_open2(dec, codec, nullptr);
    w = dec->width;
    h = dec->height;
    SwsContext *sws = sws_getContext(w, h, dec->pix_fmt, w, h, AV_PIX_FMT_RGB24, SWS_POINT, nullptr, nullptr, nullptr);
    AVPacket *pkt = av_packet_alloc();
    AVFrame *frame = av_frame_alloc();
    auto receive = [&] {
        while (avcodec_receive_frame(dec, frame) >= 0) {
            std::vector<uint8_t> rgb(size_t(w) * h * 3);
            uint8_t *dst[1] = {rgb.data()};
            const int stride[1] = {w * 3};
            sws_scale(sws, frame->data, frame->linesize, 0, h, dst, stride);
            frames.push_back(std::move(rgb));
        }
    };
    while (av_read_frame(fmt, pkt) >= 0) {
        if (pkt->stream_index == s && avcodec_send_packet(dec, pkt) >= 0)
            receive();
        av_packet_unref(pkt);
    }
    avcodec_send_packet(dec, nullptr);
    receive();
    av_frame_free(&frame);
    av_packet_free(&pkt);
    sws_freeContext(sws);
    avcodec_free_context(&dec);
    avformat_close_input(&fmt);
    return frames;
}

::testing::AssertionResult near(const std::vector<uint8_t> &rgb, int w, int x, int y, uint32_t expected)
{
    const uint8_t *p = &rgb[(size_t(y) * w + x) * 3];
    const int e[3] = {int(expected >> 16 & 0xff), int(expected >> 8 & 0xff), int(expected & 0xff)};
    for (int c = 0; c < 3; ++c) {
        if (std::abs(int(p[c]) - e[c]) > 12)
            return ::testing::AssertionFailure() << "pixel " << x << "," << y << " is " << int(p[0]) << ","
                                                 << int(p[1]) << "," << int(p[2]) << " not " << e[0] << ","
                                                 << e[1] << "," << e[2];
    }
    return ::testing::AssertionSuccess();
}

// A square of events of one polarity within one window.
void square(std::vector<Event2D> &ev, int x0, int y0, uint8_t polarity, uint64_t t)
{
    for (int y = y0; y < y0 + 40; ++y)
        for (int x = x0; x < x0 + 40; ++x)
            ev.emplace_back(uint16_t(x), uint16_t(y), polarity, t);
}

// Any reader other than ours: the exporter falls back to readRange().
class ForwardingReader : public vexadin::DvsFileReader {
public:
    explicit ForwardingReader(std::unique_ptr<RawFileReader> r) : r_(std::move(r)) {}
    bool open() override { return r_->open(); }
    bool getStartTimestamp(uint64_t &t) override { return r_->getStartTimestamp(t); }
    bool getEndTimestamp(uint64_t &t) override { return r_->getEndTimestamp(t); }
    bool seek(uint64_t t) override { return r_->seek(t); }
    std::shared_ptr<std::vector<Event2D>> readNext(uint64_t d) override { return r_->readNext(d); }
    std::shared_ptr<std::vector<Event2D>> readRange(uint64_t s, uint64_t d) override
    {
        ++rangeReads;
        return r_->readRange(s, d);
    }
    bool cut(uint64_t s, uint64_t e, const std::string &p) override { return r_->cut(s, e, p); }
    bool exportVideo(uint64_t, uint64_t, const std::string &) override { return false; }
    bool getFileInfo(vexadin::DvsFileInfo &i) override { return r_->getFileInfo(i); }
    int rangeReads = 0;

private:
    std::unique_ptr<RawFileReader> r_;
};

class VideoExport : public ::testing::Test {
protected:
    void SetUp() override
    {
        vxtest::SyntheticOptions o;
        o.eventRate = 1e6;
        o.durationUs = 1000000;
        o.startTimestampUs = 5000000;
        recording = dir.file("in.raw");
        ASSERT_TRUE(vxtest::writeRecording(recording, vxtest::generateEvents(o)));
        reader = RawFileReader::create(recording);
        ASSERT_TRUE(reader && reader->open());
        ASSERT_TRUE(reader->getStartTimestamp(first) && reader->getEndTimestamp(last));
    }

    TempDir dir;
    std::string recording;
    std::unique_ptr<RawFileReader> reader;
    uint64_t first = 0, last = 0;
};

} // namespace

TEST_F(VideoExport, WritesH264Yuv420pOneFramePerWindow)
{
    const std::string out = dir.file("one second.mp4");
    ASSERT_TRUE(vexadin::exportEventVideo(*reader, 5000000, 5999999, out, {}));
    const VideoFacts f = probe(out);
    ASSERT_TRUE(f.opened);
    EXPECT_EQ(f.codec, AV_CODEC_ID_H264);
    EXPECT_EQ(f.pixelFormat, AV_PIX_FMT_YUV420P);
    EXPECT_EQ(f.width, 1280);
    EXPECT_EQ(f.height, 720);
    // 1,000,000 µs in 33,333 µs windows: 30 full ones and the last 10 µs.
    EXPECT_EQ(f.packets, 31);
    EXPECT_NEAR(f.durationSeconds, 31 / 30.0, 0.02);
    EXPECT_TRUE(f.moovBeforeMdat);
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"in.raw", "one second.mp4"}));

    // Through the reader's own entry point, and a range reaching past the recording
    // is clamped to it rather than padded with empty frames.
    const std::string whole = dir.file("whole.mp4");
    ASSERT_TRUE(reader->exportVideo(0, last + 10000000, whole));
    EXPECT_EQ(probe(whole).packets, int64_t((last - first) / 33333 + 1));
}

TEST_F(VideoExport, FramesShowThePerPixelVote)
{
    std::vector<Event2D> ev;
    square(ev, 100, 100, 1, 0);     // window 0: positive
    square(ev, 300, 100, 0, 10);    // window 0: negative
    square(ev, 300, 100, 1, 20);    //           as many positives: tie -> positive
    square(ev, 300, 100, 0, 30);    //           one more negative round: 2 vs 1 -> negative
    square(ev, 100, 100, 0, 33333); // window 1: negative at the first square
    const std::string path = dir.file("vote.raw");
    ASSERT_TRUE(vxtest::writeRecording(path, ev));
    auto r = RawFileReader::create(path);
    ASSERT_TRUE(r && r->open());
    vexadin::VideoExportOptions dark;
    dark.positiveRgb = 0xD8DFEC;
    dark.negativeRgb = 0x407EC9;
    dark.backgroundRgb = 0x1E2534;
    const std::string out = dir.file("vote.mp4");
    ASSERT_TRUE(vexadin::exportEventVideo(*r, 0, 66665, out, dark));
    int w = 0, h = 0;
    const auto frames = decodeAll(out, w, h);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_TRUE(near(frames[0], w, 120, 120, dark.positiveRgb));
    EXPECT_TRUE(near(frames[0], w, 320, 120, dark.negativeRgb));
    EXPECT_TRUE(near(frames[0], w, 700, 500, dark.backgroundRgb));
    EXPECT_TRUE(near(frames[1], w, 120, 120, dark.negativeRgb)); // counts do not carry over
    EXPECT_TRUE(near(frames[1], w, 320, 120, dark.backgroundRgb));
}

TEST_F(VideoExport, GenericReaderAndOddSensorSize)
{
    vexadin::RawFileHeader header;
    header.width = 321;
    header.height = 241;
    std::vector<Event2D> ev;
    for (uint64_t t = 0; t < 200000; t += 50)
        ev.emplace_back(uint16_t(t % 321), uint16_t(t % 241), uint8_t(t & 1), t);
    const std::string path = dir.file("odd.raw");
    ASSERT_TRUE(vxtest::writeRecording(path, ev, {}, header));
    ForwardingReader generic(RawFileReader::create(path));
    ASSERT_TRUE(generic.open());
    const std::string out = dir.file("odd.mp4");
    ASSERT_TRUE(vexadin::exportEventVideo(generic, 0, 199950, out, {}));
    EXPECT_EQ(generic.rangeReads, 6);
    const VideoFacts f = probe(out);
    EXPECT_EQ(f.width, 322);
    EXPECT_EQ(f.height, 242);
    EXPECT_EQ(f.packets, 6);
}

TEST_F(VideoExport, FailuresLeaveNoFile)
{
    const std::string kept = dir.file("kept.mp4");
    { std::ofstream(kept) << "earlier export"; }
    std::string error;
    EXPECT_FALSE(vexadin::exportEventVideo(*reader, 5500000, 5400000, kept, {}, &error)); // inverted
    EXPECT_NE(error.find("ends before it starts"), std::string::npos) << error;
    EXPECT_FALSE(vexadin::exportEventVideo(*reader, 0, 4999999, kept, {}));              // before
    EXPECT_FALSE(vexadin::exportEventVideo(*reader, last + 1, last + 100000, kept, {})); // after
    EXPECT_FALSE(vexadin::exportEventVideo(*reader, first, last, dir.file("no/such/dir/x.mp4"), {}));
    EXPECT_FALSE(vexadin::exportEventVideo(*reader, first, last, "", {}));
    std::stringstream content;
    content << std::ifstream(kept).rdbuf();
    EXPECT_EQ(content.str(), "earlier export");
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"in.raw", "kept.mp4"}));

    const std::string empty = dir.file("empty.raw");
    ASSERT_TRUE(vxtest::writeRecording(empty, {}));
    auto r = RawFileReader::create(empty);
    ASSERT_TRUE(r && r->open());
    EXPECT_FALSE(vexadin::exportEventVideo(*r, 0, 100000, dir.file("e.mp4"), {}));
    EXPECT_FALSE(exists(dir.file("e.mp4")));
}

TEST_F(VideoExport, VxrawExportCommand)
{
    auto run = [](std::vector<std::string> args, std::string *errText = nullptr) {
        args.insert(args.begin(), "export");
        std::ostringstream out, err;
        const int rc = runVxrawArgs(args, out, err);
        if (errText)
            *errText = err.str();
        return rc;
    };
    const std::string out = dir.file("cli.mp4");
    EXPECT_EQ(run({recording, out, "5100000", "5199999"}), 0);
    EXPECT_EQ(probe(out).packets, 4); // 100,000 µs: three windows and one of 1 µs

    std::string err;
    EXPECT_EQ(run({recording, out}, &err), 2);
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1);
    EXPECT_EQ(run({recording, out, "12x", "5199999"}), 2);
    EXPECT_EQ(run({recording, out, "5199999", "5100000"}), 2);
    EXPECT_EQ(run({dir.file("missing.raw"), out, "0", "1"}), 2);
    { std::ofstream(dir.file("text.raw")) << "hello"; }
    EXPECT_EQ(run({dir.file("text.raw"), out, "0", "1"}), 2);
    EXPECT_EQ(run({recording, dir.file("late.mp4"), "90000000", "90000001"}, &err), 1);
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1);
    EXPECT_NE(err.find("outside the recording"), std::string::npos) << err;
    EXPECT_FALSE(exists(dir.file("late.mp4")));
}
