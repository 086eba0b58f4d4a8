// vx-test-labels: tsan
// One reader used by a playback thread and by cut / inspection workers at the same
// time: every thread gets exactly the data it asked for. Also run under ThreadSanitizer.
#include "driver/rawfilereader.h"
#include "support/syntheticevents.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>

using namespace vexadin;

namespace {

std::vector<Event2D> window(const std::vector<Event2D> &all, uint64_t start, uint64_t duration)
{
    auto lo = std::lower_bound(all.begin(), all.end(), start,
                               [](const Event2D &e, uint64_t t) { return e.timestamp < t; });
    auto hi = std::lower_bound(lo, all.end(), start + duration,
                               [](const Event2D &e, uint64_t t) { return e.timestamp < t; });
    return std::vector<Event2D>(lo, hi);
}

} // namespace

TEST(RawFormatThreads, PlaybackAndCutsShareOneReader)
{
    vxtest::SyntheticOptions opt;
    opt.seed = 21;
    opt.eventRate = 1e6;
    opt.durationUs = 600000;
    opt.startTimestampUs = 1000000;
    opt.triggerRateHz = 50;
    const auto events = vxtest::generateEvents(opt);
    const auto triggers = vxtest::generateTriggers(opt);
    const std::string src = vxtest::tempPath("threads");
    ASSERT_TRUE(vxtest::writeRecording(src, events, triggers));

    auto reader = RawFileReader::create(src);
    ASSERT_TRUE(reader);
    // Not opened yet: the first calls race to load the index.

    std::atomic<int> failures{0};
    std::thread playback([&] {
        for (int pass = 0; pass < 2; ++pass) {
            if (!reader->seek(1000000 + pass * 1000))
                ++failures;
            for (uint64_t t = 1000000 + pass * 1000; t < 1600000; t += 33333) {
                auto got = reader->readNext(33333);
                if (!got || *got != window(events, t, 33333))
                    ++failures;
                auto again = reader->readRange(t + 10000, 33333);
                // Past the end the answer may be null.
                if ((again ? *again : std::vector<Event2D>{}) != window(events, t + 10000, 33333))
                    ++failures;
                // readRange must not have moved the readNext position: checked by the next readNext.
            }
        }
    });
    std::thread cutter([&] {
        for (int i = 0; i < 3; ++i) {
            const uint64_t a = 1000000 + uint64_t(i) * 150000, b = a + 200000;
            const std::string out = vxtest::tempPath("threads-cut");
            if (!reader->cut(a, b, out)) {
                ++failures;
                continue;
            }
            auto c = RawFileReader::create(out);
            auto got = c ? c->readRange(a, b - a + 1) : nullptr;
            if (!got || *got != window(events, a, b - a + 1))
                ++failures;
            std::remove(out.c_str());
        }
    });
    std::thread inspector([&] {
        for (int i = 0; i < 3; ++i) {
            DvsFileInfo info;
            if (!reader->getFileInfo(info) || info.eventCount != events.size())
                ++failures;
            auto trig = reader->readTriggers(0, ~uint64_t(0));
            if (!trig || *trig != triggers)
                ++failures;
            if (!reader->verifyAll(nullptr))
                ++failures;
            if (reader->corruptBlockCount() != 0 || reader->indexRebuilt())
                ++failures;
        }
    });
    playback.join();
    cutter.join();
    inspector.join();
    EXPECT_EQ(failures.load(), 0);
    std::remove(src.c_str());
}
