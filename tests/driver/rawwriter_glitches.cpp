// The writer and one bad time stamp: a glitch far ahead of the stream is dropped
// and counted instead of raising the time bound (which used to drop everything
// after it); a real jump of time (a stream restarted after a pause) is kept.
// Also: counters rewritten in the header, and events merged with triggers.
#include "driver/rawfilereader.h"
#include "driver/rawfilewriter.h"
#include "support/syntheticevents.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace vexadin;

namespace {

constexpr uint64_t kHour = 3600ull * 1000000;

struct Recording {
    std::string path = vxtest::tempPath("glitch");
    RawFileWriter writer;
    Recording() { EXPECT_TRUE(writer.open(path, RawFileHeader{})); }
    ~Recording() { std::remove(path.c_str()); }

    std::vector<Event2D> events()
    {
        std::vector<Event2D> all;
        auto r = RawFileReader::create(path);
        EXPECT_TRUE(r && r->open());
        if (r)
            r->forEachBlockInRange(0, ~uint64_t(0), [&](const Event2D *b, const Event2D *e, const EventTriggerIn *,
                                                        const EventTriggerIn *) {
                all.insert(all.end(), b, e);
                return true;
            });
        return all;
    }
    std::vector<EventTriggerIn> triggers()
    {
        auto r = RawFileReader::create(path);
        auto t = r && r->open() ? r->readTriggers(0, ~uint64_t(0)) : nullptr;
        return t ? *t : std::vector<EventTriggerIn>();
    }
};

// A steady stream: one event every 100 µs from `from`.
std::vector<Event2D> steady(uint64_t from, size_t n)
{
    std::vector<Event2D> out;
    for (size_t i = 0; i < n; ++i)
        out.emplace_back(uint16_t(i % 1280), uint16_t(i % 720), uint8_t(i & 1), from + 100 * i);
    return out;
}

} // namespace

TEST(RawWriterGlitches, OneEventFarAheadIsDroppedAndTheStreamGoesOn)
{
    Recording rec;
    std::vector<Event2D> in = steady(1000, 5000); // 0.5 s
    std::vector<Event2D> withGlitch = in;
    withGlitch.insert(withGlitch.begin() + 2000, Event2D(7, 7, 1, 1000 + kHour));
    ASSERT_TRUE(rec.writer.write(withGlitch));
    EXPECT_EQ(rec.writer.outlierEvents(), 1u);
    EXPECT_EQ(rec.writer.droppedEvents(), 1u);
    ASSERT_TRUE(rec.writer.close());
    EXPECT_EQ(rec.events(), in);
}

TEST(RawWriterGlitches, GlitchesAtTheStartOrInSmallBurstsAreDropped)
{
    Recording rec;
    std::vector<Event2D> in = steady(5000, 3000);
    std::vector<Event2D> mixed;
    mixed.emplace_back(1, 1, 1, 9 * kHour); // the very first event is a glitch
    mixed.insert(mixed.end(), in.begin(), in.begin() + 1000);
    for (int i = 0; i < 3; ++i) // a burst shorter than the confirmation
        mixed.emplace_back(2, 2, 0, 2 * kHour + uint64_t(i));
    mixed.insert(mixed.end(), in.begin() + 1000, in.begin() + 1500);
    ASSERT_TRUE(rec.writer.write(mixed));
    // A trigger far ahead is a glitch as well.
    ASSERT_TRUE(rec.writer.writeTrigger(EventTriggerIn(0, 1, 3 * kHour)));
    ASSERT_TRUE(rec.writer.write(in.data() + 1500, in.data() + in.size()));
    ASSERT_TRUE(rec.writer.writeTrigger(EventTriggerIn(0, 0, 400000)));
    EXPECT_EQ(rec.writer.outlierEvents(), 4u);
    EXPECT_EQ(rec.writer.outlierTriggers(), 1u);
    ASSERT_TRUE(rec.writer.close());
    EXPECT_EQ(rec.events(), in);
    const std::vector<EventTriggerIn> expected = {EventTriggerIn(0, 0, 400000)};
    EXPECT_EQ(rec.triggers(), expected);
}

TEST(RawWriterGlitches, ARealJumpOfTimeIsKept)
{
    // A stream that stopped for ten seconds and went on, and a short tail after a
    // second pause that nothing contradicts before close().
    Recording rec;
    std::vector<Event2D> in = steady(0, 2000);
    const std::vector<Event2D> later = steady(10 * 1000000, 2000);
    const std::vector<Event2D> tail = steady(30 * 1000000, 2);
    ASSERT_TRUE(rec.writer.write(in));
    ASSERT_TRUE(rec.writer.write(later));
    ASSERT_TRUE(rec.writer.write(tail));
    ASSERT_TRUE(rec.writer.close());
    EXPECT_EQ(rec.writer.droppedEvents(), 0u);
    in.insert(in.end(), later.begin(), later.end());
    in.insert(in.end(), tail.begin(), tail.end());
    EXPECT_EQ(rec.events(), in);
}

TEST(RawWriterGlitches, QuietTriggersOnlyStreamIsKept)
{
    // Trigger edges half a second apart and a few seconds apart, no events.
    Recording rec;
    std::vector<EventTriggerIn> in;
    for (uint64_t t : {0ull, 500000ull, 1000000ull, 5000000ull, 5500000ull, 9000000ull})
        in.emplace_back(0, int16_t(t / 500000 % 2 == 0), t);
    for (const EventTriggerIn &t : in)
        ASSERT_TRUE(rec.writer.writeTrigger(t));
    ASSERT_TRUE(rec.writer.close());
    EXPECT_EQ(rec.writer.droppedTriggers(), 0u);
    EXPECT_EQ(rec.triggers(), in);
}

TEST(RawWriterGlitches, MergedWriteKeepsTriggersBetweenFullBlocks)
{
    // More events than one block holds between two triggers: written one after the
    // other, the second trigger would be older than a block already written.
    Recording rec;
    std::vector<Event2D> events = steady(0, 3 * RawFileWriter::kDefaultBlockEvents / 2);
    for (Event2D &e : events)
        e.timestamp /= 100; // a dense stream: 1 µs apart
    const std::vector<EventTriggerIn> triggers = {EventTriggerIn(1, 1, 10), EventTriggerIn(1, 0, 80000)};
    ASSERT_TRUE(rec.writer.writeMerged(events.data(), events.data() + events.size(), triggers.data(),
                                       triggers.data() + triggers.size()));
    ASSERT_TRUE(rec.writer.close());
    EXPECT_EQ(rec.writer.droppedTriggers(), 0u);
    EXPECT_EQ(rec.events(), events);
    EXPECT_EQ(rec.triggers(), triggers);
}

TEST(RawWriterGlitches, ReservedHeaderCounterIsRewrittenInPlace)
{
    const std::string path = vxtest::tempPath("counter");
    RawFileHeader header;
    header.metadata = {{"note", "x"}, {"lost", "00000"}};
    {
        RawFileWriter w;
        ASSERT_TRUE(w.open(path, header));
        ASSERT_TRUE(w.write(steady(0, 100)));
        EXPECT_FALSE(w.updateMetadata("lost", "123"));     // another length would move the blocks
        EXPECT_FALSE(w.updateMetadata("missing", "00000")); // no such entry
        EXPECT_TRUE(w.updateMetadata("lost", "00042"));
        ASSERT_TRUE(w.close());
    }
    auto r = RawFileReader::create(path);
    ASSERT_TRUE(r && r->open());
    DvsFileInfo info;
    ASSERT_TRUE(r->getFileInfo(info));
    const std::vector<std::pair<std::string, std::string>> expected = {{"note", "x"}, {"lost", "00042"}};
    EXPECT_EQ(info.metadata, expected);
    EXPECT_EQ(info.eventCount, 100u);
    std::vector<std::string> problems;
    EXPECT_TRUE(r->verifyAll(&problems));
    std::remove(path.c_str());
}
