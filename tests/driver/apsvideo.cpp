// vx-test-labels: tsan
// APS video: frames written by ApsVideoWriter come back through ApsFileReader with
// their exact time stamps, in B, G, R order; readFrameAt finds the frame shown at
// any time without decoding from the start; damaged files are refused without a
// crash; a slow encoder drops (and counts) frames instead of blocking the camera.
#include "camera/apsfilereader.h"
#include "driver/apsvideoreader.h"
#include "driver/apsvideowriter.h"
#include "support/apspattern.h"
#include "support/syntheticevents.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/log.h>
}

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using vexadin::ApsFileReader;
using vexadin::ApsFrame;
using vexadin::ApsVideoReader;
using vexadin::ApsVideoWriter;
using vexadin::ApsVideoWriterOptions;

namespace {

constexpr uint16_t kWidth = 320, kHeight = 180;

bool exists(const std::string &path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

std::string readBytes(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

void writeBytes(const std::string &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Files beginning with `prefix` in its folder (temporary files left behind show here).
std::vector<std::string> siblings(const std::string &prefix)
{
    std::vector<std::string> found;
    std::unique_ptr<FILE, int (*)(FILE *)> ls(::popen(("ls -d '" + prefix + "'* 2>/dev/null").c_str(), "r"),
                                              ::pclose);
    char buf[512];
    while (ls && std::fgets(buf, sizeof buf, ls.get())) {
        std::string line = buf;
        line.erase(line.find_last_not_of('\n') + 1);
        found.push_back(line);
    }
    return found;
}

bool samePixels(const ApsFrame &a, const ApsFrame &b)
{
    return a.getDataSize() == b.getDataSize() && std::equal(a.data(), a.data() + a.getDataSize(), b.data());
}

// One written video shared by the reading tests (writing it is the slow part).
class ApsVideoFile : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        path_ = new std::string(vxtest::tempPath("apsvideo", ".mp4"));
        stamps_ = new std::vector<uint64_t>(vxtest::irregularTimestamps(90, 1234567, 7));
        ApsVideoWriterOptions options;
        options.keyFrameInterval = kKeyInterval;
        ASSERT_TRUE(vxtest::writeNumberedVideo(*path_, kWidth, kHeight, *stamps_, options));
        // Every frame decoded in order, for comparison with seeks.
        sequential_ = new std::vector<ApsFrame>();
        auto reader = ApsFileReader::createFileReader(*path_);
        ASSERT_TRUE(reader && reader->open());
        ApsFrame f;
        while (reader->readNextFrame(f))
            sequential_->push_back(f.clone());
    }
    static void TearDownTestSuite()
    {
        std::remove(path_->c_str());
        delete path_;
        delete stamps_;
        delete sequential_;
    }

    static constexpr int kKeyInterval = 15;
    static std::string *path_;
    static std::vector<uint64_t> *stamps_;
    static std::vector<ApsFrame> *sequential_;
};

std::string *ApsVideoFile::path_ = nullptr;
std::vector<uint64_t> *ApsVideoFile::stamps_ = nullptr;
std::vector<ApsFrame> *ApsVideoFile::sequential_ = nullptr;

} // namespace

TEST_F(ApsVideoFile, EveryFrameComesBackInOrderWithItsExactTimeStamp)
{
    auto reader = ApsFileReader::createFileReader(*path_);
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->getWidth(), kWidth);
    EXPECT_EQ(reader->getHeight(), kHeight);
    ASSERT_TRUE(reader->open());
    std::vector<uint64_t> index;
    ASSERT_TRUE(reader->getFrameIndex(index));
    EXPECT_EQ(index, *stamps_);

    ASSERT_EQ(sequential_->size(), stamps_->size());
    for (size_t i = 0; i < sequential_->size(); ++i) {
        const ApsFrame &f = (*sequential_)[i];
        ASSERT_EQ(f.getWidth(), kWidth);
        ASSERT_EQ(f.getHeight(), kHeight);
        EXPECT_EQ(f.getFrameNumber(), i);
        EXPECT_EQ(f.getTimestamp(), (*stamps_)[i]);
        EXPECT_EQ(vxtest::readFrameNumber(f), i) << "picture of the wrong frame";
        EXPECT_TRUE(vxtest::colourThirdsInOrder(f)) << "frame " << i << ": bytes are not B, G, R";
    }
}

TEST_F(ApsVideoFile, ReadFrameAtGivesTheFrameShownAtThatTimeAndPositionsAfterIt)
{
    auto reader = ApsVideoReader::create(*path_);
    ASSERT_TRUE(reader && reader->open());
    const std::vector<uint64_t> &t = *stamps_;

    std::vector<std::pair<uint64_t, size_t>> queries = {
        {0, 0},                   // before the first frame: the first frame
        {t[0] - 1, 0},
        {t[0], 0},
        {t[89], 89},              // the last frame
        {t[89] + 10000000, 89},   // after it: still the last
        {t[45], 45},              // exactly on a frame
        {t[45] - 1, 44},          // just before it: the previous one is still shown
        {t[30], 30},              // a key frame
        {t[10], 10},              // backwards
        {t[40] + 1, 40},          // across the long gap after frame 39
        {t[39] + 400000, 39},
    };
    std::mt19937_64 rng(99);
    for (int i = 0; i < 40; ++i) {
        const uint64_t q = t[0] + rng() % (t[89] - t[0]);
        const size_t expected = size_t(std::upper_bound(t.begin(), t.end(), q) - t.begin()) - 1;
        queries.emplace_back(q, expected);
    }

    ApsFrame frame, following;
    for (const auto &q : queries) {
        const uint64_t decodedBefore = reader->framesDecoded();
        ASSERT_TRUE(reader->readFrameAt(q.first, frame)) << q.first;
        EXPECT_LE(reader->framesDecoded() - decodedBefore, uint64_t(kKeyInterval))
            << "seeking must start at the nearest key frame, not at the start";
        EXPECT_EQ(frame.getFrameNumber(), q.second) << "at " << q.first;
        EXPECT_EQ(frame.getTimestamp(), t[q.second]);
        EXPECT_TRUE(samePixels(frame, (*sequential_)[q.second])) << "at " << q.first;

        const bool more = reader->readNextFrame(following);
        EXPECT_EQ(more, q.second + 1 < t.size());
        if (more) {
            EXPECT_EQ(following.getFrameNumber(), q.second + 1);
            EXPECT_TRUE(samePixels(following, (*sequential_)[q.second + 1]));
        }
    }
}

TEST_F(ApsVideoFile, RewindStartsAgainAtTheFirstFrameAtOrAfterTheTime)
{
    auto reader = ApsFileReader::createFileReader(*path_);
    ASSERT_TRUE(reader && reader->open());
    ApsFrame frame;
    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(reader->readNextFrame(frame));
    ASSERT_TRUE(reader->rewind(0));
    ASSERT_TRUE(reader->readNextFrame(frame));
    EXPECT_EQ(frame.getFrameNumber(), 0u);
    EXPECT_TRUE(samePixels(frame, (*sequential_)[0]));

    ASSERT_TRUE(reader->rewind((*stamps_)[60] - 1));
    ASSERT_TRUE(reader->readNextFrame(frame));
    EXPECT_EQ(frame.getFrameNumber(), 60u);
    EXPECT_TRUE(samePixels(frame, (*sequential_)[60]));

    EXPECT_FALSE(reader->rewind(stamps_->back() + 1));
    EXPECT_FALSE(reader->readNextFrame(frame));
}

TEST_F(ApsVideoFile, ReadingNeverChangesAFrameTheCallerStillShares)
{
    auto reader = ApsFileReader::createFileReader(*path_);
    ASSERT_TRUE(reader && reader->open());
    ApsFrame frame;
    ASSERT_TRUE(reader->readNextFrame(frame));
    const ApsFrame kept = frame; // shares the buffer
    ASSERT_TRUE(reader->readNextFrame(frame));
    EXPECT_EQ(kept.getFrameNumber(), 0u);
    EXPECT_TRUE(samePixels(kept, (*sequential_)[0]));
    EXPECT_EQ(vxtest::readFrameNumber(frame), 1u);

    // A frame of its own is reused in place (no new 25 MB buffer per frame at full size).
    const uint8_t *buffer = frame.data();
    ASSERT_TRUE(reader->readNextFrame(frame));
    EXPECT_EQ(frame.data(), buffer);
    EXPECT_EQ(vxtest::readFrameNumber(frame), 2u);
}

TEST(ApsVideo, FullSizeFramesRoundTrip)
{
    const std::string path = vxtest::tempPath("apsvideo-4k", ".mp4");
    const std::vector<uint64_t> stamps = {0, 33333, 66666, 100000};
    ASSERT_TRUE(vxtest::writeNumberedVideo(path, 3840, 2160, stamps));
    auto reader = ApsFileReader::createFileReader(path);
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->getWidth(), 3840);
    EXPECT_EQ(reader->getHeight(), 2160);
    ASSERT_TRUE(reader->open());
    std::vector<uint64_t> index;
    reader->getFrameIndex(index);
    EXPECT_EQ(index, stamps);
    ApsFrame frame;
    ASSERT_TRUE(reader->readFrameAt(70000, frame));
    EXPECT_EQ(frame.getTimestamp(), 66666u);
    EXPECT_EQ(vxtest::readFrameNumber(frame), 2u);
    EXPECT_TRUE(vxtest::colourThirdsInOrder(frame));
    std::remove(path.c_str());
}

TEST(ApsVideo, FilesThatAreNotVideosAreRefused)
{
    av_log_set_level(AV_LOG_QUIET);
    const std::string dir = vxtest::tempPath("apsvideo-dir", "");
    ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
    const std::string text = dir + "/notes.mp4";
    writeBytes(text, "these are not the frames you are looking for\n");
    const std::string empty = dir + "/empty.mp4";
    writeBytes(empty, "");
    const std::string fifo = dir + "/fifo.mp4";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string raw = dir + "/events.raw";
    ASSERT_TRUE(vxtest::writeRecording(raw, {{1, 2, 1, 100}, {3, 4, 0, 200}}));

    for (const std::string &path : {std::string(), dir + "/missing.mp4", dir, text, empty, fifo, raw})
        EXPECT_FALSE(ApsFileReader::createFileReader(path)) << path; // a FIFO must not block
    std::system(("rm -rf '" + dir + "'").c_str());
}

TEST(ApsVideo, DamagedAndTruncatedVideosFailWithoutCrashing)
{
    av_log_set_level(AV_LOG_QUIET);
    const std::string good = vxtest::tempPath("apsvideo-good", ".mp4");
    const std::vector<uint64_t> stamps = vxtest::irregularTimestamps(30, 0, 3);
    ASSERT_TRUE(vxtest::writeNumberedVideo(good, 64, 48, stamps));
    const std::string bytes = readBytes(good);
    const std::string bad = vxtest::tempPath("apsvideo-bad", ".mp4");

    // Reads whatever the reader accepts; only absence of crashes and sane answers count.
    const auto exercise = [&](const std::string &what) {
        auto reader = ApsFileReader::createFileReader(bad);
        if (!reader || !reader->open())
            return;
        std::vector<uint64_t> index;
        ASSERT_TRUE(reader->getFrameIndex(index));
        EXPECT_TRUE(std::is_sorted(index.begin(), index.end())) << what;
        ApsFrame frame;
        size_t n = 0;
        while (reader->readNextFrame(frame)) {
            ASSERT_EQ(frame.getDataSize(), size_t(reader->getWidth()) * reader->getHeight() * 3) << what;
            ASSERT_LE(++n, index.size()) << what;
        }
        if (!index.empty()) {
            reader->readFrameAt(index[index.size() / 2], frame);
            reader->readFrameAt(0, frame);
            reader->readNextFrame(frame);
        }
    };

    for (size_t cut : {size_t(0), size_t(8), size_t(40), bytes.size() / 4, bytes.size() / 2, bytes.size() - 200,
                       bytes.size() - 1}) {
        writeBytes(bad, bytes.substr(0, cut));
        exercise("cut at " + std::to_string(cut));
    }
    // The index (moov, written last) cut off: not a video.
    writeBytes(bad, bytes.substr(0, bytes.size() / 2));
    EXPECT_FALSE(ApsFileReader::createFileReader(bad));

    std::mt19937_64 rng(5);
    for (int round = 0; round < 40; ++round) {
        std::string damaged = bytes;
        for (int k = 0; k < 1 + round % 8; ++k)
            damaged[rng() % damaged.size()] = char(rng());
        writeBytes(bad, damaged);
        exercise("damage round " + std::to_string(round));
    }
    std::remove(good.c_str());
    std::remove(bad.c_str());
}

TEST(ApsVideoWriter, RefusesWhatAVideoCannotHoldAndLeavesNoFileForNothing)
{
    av_log_set_level(AV_LOG_QUIET);
    const std::string path = vxtest::tempPath("apsvideo-refuse", ".mp4");
    ApsVideoWriter writer;
    EXPECT_FALSE(writer.push(ApsFrame(64, 48, 0, 0))) << "not open";
    EXPECT_FALSE(writer.open(path, 63, 48));
    EXPECT_FALSE(writer.open(path, 0, 0));
    EXPECT_FALSE(writer.open("/nonexistent-folder/x.mp4", 64, 48));
    EXPECT_FALSE(writer.isOpen());

    ASSERT_TRUE(writer.open(path, 64, 48));
    EXPECT_FALSE(writer.open(path, 64, 48)) << "already open";
    EXPECT_FALSE(writer.close()) << "no frame: nothing to keep";
    EXPECT_FALSE(exists(path));
    EXPECT_TRUE(siblings(path).empty()) << "temporary file left behind";

    // An APS clock far from zero (days of uptime) and frames 1 µs apart keep their times.
    const uint64_t t0 = 400000000000ull;
    ASSERT_TRUE(writer.open(path, 64, 48));
    EXPECT_TRUE(writer.push(ApsFrame(64, 48, 0, t0)));
    EXPECT_FALSE(writer.push(ApsFrame(32, 48, 1, t0 + 2000))) << "wrong size";
    EXPECT_FALSE(writer.push(ApsFrame(64, 48, 1, t0))) << "same time stamp";
    EXPECT_FALSE(writer.push(ApsFrame(64, 48, 1, t0 - 1))) << "earlier time stamp";
    EXPECT_FALSE(writer.push(ApsFrame())) << "empty frame";
    EXPECT_TRUE(writer.push(ApsFrame(64, 48, 1, t0 + 1)));
    EXPECT_EQ(writer.framesRefused(), 4u);
    EXPECT_FALSE(exists(path)) << "the final name appears only when the file is complete";
    ASSERT_TRUE(writer.close());
    EXPECT_EQ(writer.framesWritten(), 2u);
    EXPECT_EQ(siblings(path), std::vector<std::string>{path});

    auto reader = ApsFileReader::createFileReader(path);
    ASSERT_TRUE(reader && reader->open());
    std::vector<uint64_t> index;
    reader->getFrameIndex(index);
    EXPECT_EQ(index, (std::vector<uint64_t>{t0, t0 + 1}));
    std::remove(path.c_str());
}

TEST(ApsVideoWriter, SlowEncoderDropsAndCountsFramesWithoutBlockingTheCaller)
{
    const std::string path = vxtest::tempPath("apsvideo-slow", ".mp4");
    std::mutex m;
    std::condition_variable cv;
    bool encoderBusy = false, release = false;
    ApsVideoWriterOptions options;
    options.queueFrames = 3;
    options.beforeEncode = [&](const ApsFrame &) {
        std::unique_lock<std::mutex> lock(m);
        encoderBusy = true;
        cv.notify_all();
        cv.wait(lock, [&] { return release; });
    };
    ApsVideoWriter writer;
    ASSERT_TRUE(writer.open(path, 64, 48, options));

    std::vector<uint64_t> accepted;
    const auto push = [&](uint64_t t) {
        ApsFrame f(64, 48, t, t);
        vxtest::drawNumberedFrame(f, uint32_t(t));
        if (writer.push(f))
            accepted.push_back(t);
    };
    push(0);
    {
        std::unique_lock<std::mutex> lock(m);
        cv.wait(lock, [&] { return encoderBusy; }); // the encoder holds frame 0
    }
    // The camera keeps delivering from its own thread while the encoder is stuck.
    std::thread camera([&] {
        for (uint64_t t = 1; t <= 20; ++t)
            push(t);
    });
    camera.join(); // returns although the encoder never moved: push did not wait
    EXPECT_EQ(accepted, (std::vector<uint64_t>{0, 1, 2, 3}));
    EXPECT_EQ(writer.framesDropped(), 17u);
    EXPECT_EQ(writer.framesQueued(), 3u);
    {
        std::lock_guard<std::mutex> lock(m);
        release = true;
    }
    cv.notify_all();
    while (writer.framesQueued() == 3)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    push(21); // once the encoder moves again, frames are taken again
    ASSERT_TRUE(writer.close());
    EXPECT_EQ(writer.framesWritten(), 5u);
    EXPECT_EQ(writer.framesDropped(), 17u);

    auto reader = ApsFileReader::createFileReader(path);
    ASSERT_TRUE(reader && reader->open());
    std::vector<uint64_t> index;
    reader->getFrameIndex(index);
    EXPECT_EQ(index, (std::vector<uint64_t>{0, 1, 2, 3, 21}));
    std::remove(path.c_str());
}

TEST(ApsVideoWriter, DiscardAndDestructionWhileFramesAreQueued)
{
    const std::string path = vxtest::tempPath("apsvideo-discard", ".mp4");
    {
        ApsVideoWriter writer;
        ASSERT_TRUE(writer.open(path, 64, 48));
        for (uint64_t t = 0; t < 10; ++t)
            writer.push(ApsFrame(64, 48, t, t * 1000));
        writer.discard();
        EXPECT_FALSE(writer.isOpen());
    }
    EXPECT_TRUE(siblings(path).empty());
    {
        ApsVideoWriter writer; // destroyed while open: the file is finished
        ASSERT_TRUE(writer.open(path, 64, 48));
        for (uint64_t t = 0; t < 4; ++t)
            ASSERT_TRUE(writer.push(ApsFrame(64, 48, t, t * 1000)));
    }
    auto reader = ApsFileReader::createFileReader(path);
    ASSERT_TRUE(reader && reader->open());
    std::vector<uint64_t> index;
    reader->getFrameIndex(index);
    EXPECT_EQ(index.size(), 4u);
    std::remove(path.c_str());
}
