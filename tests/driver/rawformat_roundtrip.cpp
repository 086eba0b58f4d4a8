// Writing and reading recordings: what goes in comes back, windows and ranges
// have the right edges, cuts copy exactly their closed range.
#include "driver/rawfilereader.h"
#include "driver/rawfilewriter.h"
#include "support/syntheticevents.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace vexadin;
using vxtest::tempPath;

namespace {

struct TempFile {
    std::string path;
    explicit TempFile(const std::string &stem) : path(tempPath(stem)) {}
    ~TempFile() { std::remove(path.c_str()); }
};

bool exists(const std::string &path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

std::unique_ptr<RawFileReader> openReader(const std::string &path)
{
    auto r = RawFileReader::create(path);
    if (r && !r->open())
        return nullptr;
    return r;
}

std::vector<Event2D> readAll(RawFileReader &r)
{
    std::vector<Event2D> all;
    r.forEachBlockInRange(0, ~uint64_t(0), [&](const Event2D *b, const Event2D *e, const EventTriggerIn *,
                                                const EventTriggerIn *) {
        all.insert(all.end(), b, e);
        return true;
    });
    return all;
}

bool earlier(const Event2D &a, const Event2D &b)
{
    return a.timestamp < b.timestamp;
}

std::vector<Event2D> inRange(const std::vector<Event2D> &all, uint64_t lo, uint64_t hiInclusive)
{
    std::vector<Event2D> out;
    for (const Event2D &e : all)
        if (e.timestamp >= lo && e.timestamp <= hiInclusive)
            out.push_back(e);
    return out;
}

RawFileHeader sampleHeader()
{
    RawFileHeader h;
    h.serial = "VX-0042";
    h.product = "Omnira";
    h.recordingStartUnixUs = 1760000000123456ull;
    h.apsTimeOffset = -12345;
    h.metadata = {{"firmware", "Omnira_V1.7.2"}, {"note", std::string(300, 'x')}, {"", ""}};
    return h;
}

} // namespace

TEST(RawFormatRoundTrip, EventsTriggersAndHeaderComeBackExactly)
{
    vxtest::SyntheticOptions opt;
    opt.seed = 7;
    opt.eventRate = 1e6;
    opt.durationUs = 300000;
    opt.startTimestampUs = 5000000;
    opt.triggerRateHz = 200;
    const auto events = vxtest::generateEvents(opt);
    const auto triggers = vxtest::generateTriggers(opt);
    ASSERT_GT(triggers.size(), 50u);
    TempFile f("roundtrip");
    ASSERT_TRUE(vxtest::writeRecording(f.path, events, triggers, sampleHeader()));

    auto r = openReader(f.path);
    ASSERT_TRUE(r);
    EXPECT_FALSE(r->indexRebuilt());
    EXPECT_GT(r->blockCount(), 4u);
    EXPECT_EQ(readAll(*r), events);
    auto trig = r->readTriggers(0, ~uint64_t(0));
    ASSERT_TRUE(trig);
    EXPECT_EQ(*trig, triggers);

    DvsFileInfo info;
    ASSERT_TRUE(r->getFileInfo(info));
    const RawFileHeader h = sampleHeader();
    EXPECT_EQ(info.startTimestamp, std::min(events.front().timestamp, triggers.front().timestamp));
    EXPECT_EQ(info.endTimestamp, std::max(events.back().timestamp, triggers.back().timestamp));
    EXPECT_EQ(info.apsTimeOffset, -12345);
    EXPECT_EQ(info.eventCount, events.size());
    EXPECT_EQ(info.triggerCount, triggers.size());
    EXPECT_EQ(info.width, 1280);
    EXPECT_EQ(info.height, 720);
    EXPECT_EQ(info.serial, h.serial);
    EXPECT_EQ(info.product, h.product);
    EXPECT_EQ(info.recordingStartUnixUs, h.recordingStartUnixUs);
    EXPECT_EQ(info.metadata, h.metadata);

    uint64_t start = 0, end = 0;
    ASSERT_TRUE(r->getStartTimestamp(start));
    ASSERT_TRUE(r->getEndTimestamp(end));
    EXPECT_EQ(start, info.startTimestamp);
    EXPECT_EQ(end, info.endTimestamp);

    std::vector<std::string> problems;
    EXPECT_TRUE(r->verifyAll(&problems));
    EXPECT_TRUE(problems.empty());
}

TEST(RawFormatRoundTrip, CompactOnCameraLikeData)
{
    vxtest::SyntheticOptions opt;
    opt.eventRate = 10e6;
    opt.durationUs = 40000;
    const auto events = vxtest::generateEvents(opt);
    TempFile f("compact");
    ASSERT_TRUE(vxtest::writeRecording(f.path, events));
    struct stat st;
    ASSERT_EQ(::stat(f.path.c_str(), &st), 0);
    EXPECT_LE(double(st.st_size) / double(events.size()), 6.0);
}

TEST(RawFormatRoundTrip, WriterSortsWithinBlockAndDropsWhatItCannotStore)
{
    TempFile f("ordering");
    RawFileWriter w;
    w.setBlockLimits(1000, 1000); // blocks of at most 1 ms
    w.setFlushInterval(0);        // block edges from recording time only, however slow the machine
    ASSERT_TRUE(w.open(f.path, RawFileHeader{}));
    // Out of order inside the first block: stored sorted (stable for equal times).
    std::vector<Event2D> in = {{1, 1, 1, 500}, {2, 2, 0, 100}, {3, 3, 1, 300}, {4, 4, 0, 100}};
    ASSERT_TRUE(w.write(in));
    // Outside the sensor: dropped.
    ASSERT_TRUE(w.write({{1280, 0, 1, 600}, {0, 720, 1, 600}, {1279, 719, 1, 600}}));
    // Crossing the 1 ms span writes the first block; then 550 is older than its end (600).
    ASSERT_TRUE(w.write({{5, 5, 1, 1200}, {6, 6, 1, 550}, {7, 7, 1, 600}}));
    ASSERT_TRUE(w.writeTrigger(EventTriggerIn(3, 1, 1150)));
    ASSERT_TRUE(w.writeTrigger(EventTriggerIn(3, 0, 10))); // older than the written block
    EXPECT_EQ(w.droppedEvents(), 3u);
    EXPECT_EQ(w.droppedTriggers(), 1u);
    EXPECT_EQ(w.eventsWritten(), 7u);
    ASSERT_TRUE(w.close());

    auto r = openReader(f.path);
    ASSERT_TRUE(r);
    const std::vector<Event2D> expected = {{2, 2, 0, 100}, {4, 4, 0, 100}, {3, 3, 1, 300}, {1, 1, 1, 500},
                                           {1279, 719, 1, 600}, {7, 7, 1, 600}, {5, 5, 1, 1200}};
    EXPECT_EQ(readAll(*r), expected);
    auto trig = r->readTriggers(0, 10000);
    ASSERT_TRUE(trig);
    ASSERT_EQ(trig->size(), 1u);
    EXPECT_EQ((*trig)[0], EventTriggerIn(3, 1, 1150));
}

TEST(RawFormatRoundTrip, QuietStreamIsWrittenAfterTheFlushInterval)
{
    const std::string path = tempPath("quiet");
    RawFileWriter w;
    w.setFlushInterval(20000);
    ASSERT_TRUE(w.open(path, RawFileHeader{}));
    ASSERT_TRUE(w.write({{1, 1, 1, 10}, {2, 2, 0, 20}}));
    EXPECT_EQ(w.blocksWritten(), 0u);
    ::usleep(30000);
    ASSERT_TRUE(w.write(nullptr, nullptr)); // nothing new, but the old block goes out
    EXPECT_EQ(w.blocksWritten(), 1u);
    auto r = openReader(path); // readable while the writer is still open
    ASSERT_TRUE(r);
    EXPECT_EQ(readAll(*r).size(), 2u);
    ASSERT_TRUE(w.close());
    std::remove(path.c_str());
}

TEST(RawFormatRoundTrip, PackingAdaptsToSensorSizeAndLongGaps)
{
    const std::pair<uint16_t, uint16_t> sensors[] = {{1, 1}, {346, 260}, {4096, 3072}, {65535, 65535}};
    for (const auto &s : sensors) {
        SCOPED_TRACE(std::to_string(s.first) + "x" + std::to_string(s.second));
        RawFileHeader h;
        h.width = s.first;
        h.height = s.second;
        std::vector<Event2D> events;
        uint64_t t = 0;
        const uint64_t gaps[] = {0, 1, 5, 1022, 1023, 1024, 8191, 100000, 99999, 3, 0};
        for (int i = 0; i < 400; ++i) {
            t += gaps[i % 11];
            events.emplace_back(uint16_t((i * 7919u) % s.first), uint16_t((i * 104729u) % s.second),
                                uint8_t(i & 1), t);
        }
        events.emplace_back(uint16_t(s.first - 1), uint16_t(s.second - 1), 1, t + 50000);
        TempFile f("sensor");
        ASSERT_TRUE(vxtest::writeRecording(f.path, events, {}, h));
        auto r = openReader(f.path);
        ASSERT_TRUE(r);
        EXPECT_EQ(readAll(*r), events);
    }
    // Timestamps near the top of the 64-bit range.
    std::vector<Event2D> high = {{1, 2, 1, ~uint64_t(0) - 5000}, {3, 4, 0, ~uint64_t(0) - 1}, {5, 6, 1, ~uint64_t(0)}};
    TempFile f("high");
    ASSERT_TRUE(vxtest::writeRecording(f.path, high));
    auto r = openReader(f.path);
    ASSERT_TRUE(r);
    EXPECT_EQ(readAll(*r), high);
    auto last = r->readRange(~uint64_t(0) - 1, 10); // window end saturates
    ASSERT_TRUE(last);
    EXPECT_EQ(last->size(), 2u);
}

TEST(RawFormatRoundTrip, ReadRangeIsHalfOpen)
{
    TempFile f("window");
    std::vector<Event2D> events;
    for (uint64_t t = 1000; t <= 200000; t += 100)
        events.emplace_back(uint16_t(t % 1280), uint16_t(t % 720), uint8_t(t & 1), t);
    events.emplace_back(1, 1, 1, 200000); // two events at the last timestamp
    RawFileWriter w;
    w.setBlockLimits(97, 100000); // block edges fall everywhere
    ASSERT_TRUE(w.open(f.path, RawFileHeader{}));
    ASSERT_TRUE(w.write(events));
    ASSERT_TRUE(w.close());
    std::stable_sort(events.begin(), events.end(), earlier);

    auto r = openReader(f.path);
    ASSERT_TRUE(r);
    std::vector<Event2D> reused(5, Event2D(7, 7, 1, 1));
    for (uint64_t start : {0ull, 999ull, 1000ull, 1001ull, 9700ull, 9800ull, 55555ull, 199999ull, 200000ull}) {
        for (uint64_t duration : {1ull, 100ull, 101ull, 9700ull, 33333ull, 1000000ull}) {
            auto got = r->readRange(start, duration);
            ASSERT_TRUE(got);
            EXPECT_EQ(*got, inRange(events, start, start + duration - 1)) << start << " + " << duration;
            // The reusing variant replaces what the buffer held, never appends to it.
            ASSERT_TRUE(r->readRangeInto(start, duration, reused));
            EXPECT_EQ(reused, *got) << start << " + " << duration;
        }
    }
    auto zero = r->readRange(5000, 0);
    ASSERT_TRUE(zero);
    EXPECT_TRUE(zero->empty());
    auto past = r->readRange(200001, 1000);
    EXPECT_TRUE(!past || past->empty());
    EXPECT_FALSE(r->readRangeInto(200001, 1000, reused));
    EXPECT_TRUE(reused.empty());
}

TEST(RawFormatRoundTrip, ReadNextContinuesFromSeek)
{
    vxtest::SyntheticOptions opt;
    opt.eventRate = 1e6;
    opt.durationUs = 300000;
    opt.startTimestampUs = 1000000;
    const auto events = vxtest::generateEvents(opt);
    TempFile f("next");
    ASSERT_TRUE(vxtest::writeRecording(f.path, events));
    auto r = openReader(f.path);
    ASSERT_TRUE(r);

    // Without a seek, reading starts at the first event.
    auto firstWindow = r->readNext(33333);
    ASSERT_TRUE(firstWindow);
    EXPECT_EQ(*firstWindow, inRange(events, 1000000, 1033332));

    ASSERT_TRUE(r->seek(1100000));
    std::vector<Event2D> joined;
    for (;;) {
        auto part = r->readNext(33333);
        if (!part)
            break;
        joined.insert(joined.end(), part->begin(), part->end());
    }
    EXPECT_EQ(joined, inRange(events, 1100000, ~uint64_t(0)));

    uint64_t end = 0;
    ASSERT_TRUE(r->getEndTimestamp(end));
    EXPECT_TRUE(r->seek(0));
    EXPECT_TRUE(r->seek(end));
    EXPECT_FALSE(r->seek(end + 1));
}

TEST(RawFormatRoundTrip, CutCopiesClosedRangeWithTriggersAndHeader)
{
    vxtest::SyntheticOptions opt;
    opt.eventRate = 5e5;
    opt.durationUs = 400000;
    opt.startTimestampUs = 2000000;
    opt.triggerRateHz = 100;
    const auto events = vxtest::generateEvents(opt);
    auto triggers = vxtest::generateTriggers(opt);
    // A trigger exactly on each cut edge.
    triggers.emplace_back(0, 1, 2100000);
    triggers.emplace_back(0, 0, 2300000);
    std::stable_sort(triggers.begin(), triggers.end(),
                     [](const EventTriggerIn &a, const EventTriggerIn &b) { return a.timestamp < b.timestamp; });
    TempFile src("cutsrc");
    ASSERT_TRUE(vxtest::writeRecording(src.path, events, triggers, sampleHeader()));
    auto r = openReader(src.path);
    ASSERT_TRUE(r);

    TempFile out("cutout");
    ASSERT_TRUE(r->cut(2100000, 2300000, out.path));
    auto c = openReader(out.path);
    ASSERT_TRUE(c);
    EXPECT_EQ(readAll(*c), inRange(events, 2100000, 2300000));
    std::vector<EventTriggerIn> expectedTriggers;
    for (const auto &t : triggers)
        if (t.timestamp >= 2100000 && t.timestamp <= 2300000)
            expectedTriggers.push_back(t);
    EXPECT_EQ(*c->readTriggers(0, ~uint64_t(0)), expectedTriggers);
    const RawFileHeader h = sampleHeader();
    EXPECT_EQ(c->header().serial, h.serial);
    EXPECT_EQ(c->header().product, h.product);
    EXPECT_EQ(c->header().apsTimeOffset, h.apsTimeOffset);
    EXPECT_EQ(c->header().recordingStartUnixUs, h.recordingStartUnixUs);
    EXPECT_EQ(c->header().metadata, h.metadata);

    // A range larger than the recording is clipped to it.
    TempFile whole("cutwhole");
    ASSERT_TRUE(r->cut(0, ~uint64_t(0), whole.path));
    auto w = openReader(whole.path);
    ASSERT_TRUE(w);
    EXPECT_EQ(readAll(*w), events);
}

TEST(RawFormatRoundTrip, RefusedCutsLeaveNoFile)
{
    vxtest::SyntheticOptions opt;
    opt.durationUs = 100000;
    opt.startTimestampUs = 1000000;
    TempFile src("refsrc");
    ASSERT_TRUE(vxtest::writeRecording(src.path, vxtest::generateEvents(opt)));
    auto r = openReader(src.path);
    ASSERT_TRUE(r);
    TempFile out("refout");
    EXPECT_FALSE(r->cut(1050000, 1040000, out.path)); // end before start
    EXPECT_FALSE(r->cut(0, 999999, out.path));        // before the recording
    EXPECT_FALSE(r->cut(1100000, 2000000, out.path)); // after it
    EXPECT_FALSE(r->cut(1000000, 1050000, ""));
    EXPECT_FALSE(r->cut(1000000, 1050000, "/nonexistent-folder-vx/x.raw"));
    EXPECT_FALSE(exists(out.path));
    // Onto itself, directly or through a link: refused, the recording untouched.
    struct stat before;
    ASSERT_EQ(::stat(src.path.c_str(), &before), 0);
    EXPECT_FALSE(r->cut(1000000, 1050000, src.path));
    const std::string link = src.path + ".lnk";
    ASSERT_EQ(::symlink(src.path.c_str(), link.c_str()), 0);
    EXPECT_FALSE(r->cut(1000000, 1050000, link));
    std::remove(link.c_str());
    struct stat after;
    ASSERT_EQ(::stat(src.path.c_str(), &after), 0);
    EXPECT_EQ(before.st_size, after.st_size);
    // No temporary files left next to the output.
    const std::string dir = out.path.substr(0, out.path.rfind('/'));
    const std::string stem = out.path.substr(dir.size() + 1);
    DIR *dp = ::opendir(dir.c_str());
    ASSERT_TRUE(dp);
    while (dirent *de = ::readdir(dp))
        EXPECT_NE(std::string(de->d_name).rfind(stem, 0), 0u) << de->d_name;
    ::closedir(dp);
}

TEST(RawFormatRoundTrip, FactoryRefusesWhatIsNotARecording)
{
    EXPECT_FALSE(DvsFileReader::createFileReader(""));
    EXPECT_FALSE(DvsFileReader::createFileReader("/nonexistent-vx/missing.raw"));
    EXPECT_FALSE(DvsFileReader::createFileReader("/tmp")); // a folder
    TempFile text("text");
    {
        std::ofstream o(text.path);
        o << "% not an event recording\n1 2 3 4\n";
    }
    EXPECT_FALSE(DvsFileReader::createFileReader(text.path));
    TempFile empty("empty");
    { std::ofstream o(empty.path); }
    EXPECT_FALSE(DvsFileReader::createFileReader(empty.path));

    // A recording of ours under another extension opens; an empty recording too.
    TempFile ours("ours");
    const std::string other = ours.path + ".bin";
    ASSERT_TRUE(vxtest::writeRecording(other, {{1, 1, 1, 10}}));
    EXPECT_TRUE(DvsFileReader::createFileReader(other));
    std::remove(other.c_str());
    ASSERT_TRUE(vxtest::writeRecording(ours.path, {}));
    auto r = openReader(ours.path);
    ASSERT_TRUE(r);
    uint64_t t = 0;
    EXPECT_FALSE(r->getStartTimestamp(t));
    EXPECT_FALSE(r->seek(0));
    EXPECT_FALSE(r->readRange(0, 1000) && !r->readRange(0, 1000)->empty());
    DvsFileInfo info;
    EXPECT_TRUE(r->getFileInfo(info));
    EXPECT_EQ(info.eventCount, 0u);
}
