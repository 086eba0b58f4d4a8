// vx-test-labels: tsan
// Long reader operations (cut, video export, index rebuild, check) report rising
// progress up to 1, stop when cancelled without leaving a file behind, and name the
// parts of the range they had to skip.
#include "camera/operationcontrol.h"
#include "driver/rawfilereader.h"
#include "driver/rawformat.h"
#include "support/cameratestkit.h"
#include "support/syntheticevents.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <thread>
#include <unistd.h>

using vexadin::Event2D;
using vexadin::OperationControl;
using vexadin::RawFileReader;

namespace {

struct TempDir : vxtest::ScopedTempFolder {
    TempDir() : ScopedTempFolder("progress") {}
};

// 1.5 s of camera-like events from t = 1 s: 15 blocks, 45 video frames.
std::vector<Event2D> recordingEvents()
{
    vxtest::SyntheticOptions o;
    o.seed = 11;
    o.eventRate = 200000;
    o.durationUs = 1500000;
    o.startTimestampUs = 1000000;
    return vxtest::generateEvents(o);
}

// Every report the control handed on, in order.
struct Reports {
    std::vector<double> fractions;
    void attach(OperationControl &control)
    {
        control.setProgressHandler([this](double f) { fractions.push_back(f); });
    }
    bool risesToOne() const
    {
        return !fractions.empty() && std::is_sorted(fractions.begin(), fractions.end()) &&
               fractions.front() >= 0.0 && fractions.back() == 1.0;
    }
};

// Cuts the footer index and trailer off, as a killed writer leaves the file.
void dropFooter(const std::string &path)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    const std::streamoff size = in.tellg();
    uint8_t trailer[vexadin::rawformat::kTrailerSize];
    in.seekg(size - std::streamoff(sizeof trailer));
    in.read(reinterpret_cast<char *>(trailer), sizeof trailer);
    const uint64_t indexOffset = vexadin::rawformat::load64(trailer + 8);
    ASSERT_EQ(::truncate(path.c_str(), off_t(indexOffset)), 0);
}

// Flips a payload byte of block `i`, so its checksum no longer matches.
void damageBlock(const std::string &path, uint64_t i)
{
    auto reader = RawFileReader::create(path);
    ASSERT_TRUE(reader && reader->open());
    const vexadin::RawBlockInfo b = reader->blockInfo(i);
    ASSERT_GT(b.payloadSize, 0u);
    std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
    const std::streamoff at = std::streamoff(b.fileOffset + vexadin::rawformat::kBlockHeaderSize + b.payloadSize / 2);
    f.seekg(at);
    char c = 0;
    f.read(&c, 1);
    c = char(c ^ 0x5a);
    f.seekp(at);
    f.write(&c, 1);
}

class OperationProgress : public ::testing::Test {
protected:
    void SetUp() override
    {
        events = recordingEvents();
        source = dir.file("source.raw");
        ASSERT_TRUE(vxtest::writeRecording(source, events));
        reader = RawFileReader::create(source);
        ASSERT_TRUE(reader && reader->open());
        first = events.front().timestamp;
        last = events.back().timestamp;
    }

    bool run(bool video, const std::string &out, OperationControl &control)
    {
        return video ? reader->exportVideo(first, last, out, control) : reader->cut(first, last, out, control);
    }

    TempDir dir;
    std::vector<Event2D> events;
    std::string source;
    std::unique_ptr<RawFileReader> reader;
    uint64_t first = 0, last = 0;
};

} // namespace

TEST(OperationControlTest, ReportsAreThrottledRisingAndEndAtOne)
{
    OperationControl control;
    Reports r;
    r.attach(control);
    control.report(0.0);  // the first goes out at once
    control.report(0.3);  // too soon after it
    control.report(-2.0); // never backwards
    control.report(1.0);  // the end always goes out
    control.report(0.5);
    control.report(1.0);
    EXPECT_EQ(r.fractions, (std::vector<double>{0.0, 1.0}));

    // Touching ranges of skipped data are one gap; later ones stay apart.
    control.noteUnreadable(100, 200);
    control.noteUnreadable(201, 300);
    control.noteUnreadable(250, 260);
    control.noteUnreadable(400, 500);
    EXPECT_EQ(control.unreadable(), (std::vector<OperationControl::Range>{{100, 300}, {400, 500}}));
}

TEST_F(OperationProgress, CutAndExportRiseToOne)
{
    for (bool video : {false, true}) {
        SCOPED_TRACE(video ? "export" : "cut");
        OperationControl control;
        Reports r;
        r.attach(control);
        const std::string out = dir.file(video ? "whole.mp4" : "whole.raw");
        ASSERT_TRUE(run(video, out, control));
        EXPECT_TRUE(r.risesToOne());
        EXPECT_TRUE(control.unreadable().empty());
    }
}

// Cancelled before the first block, after a few and deep into the range: each stops
// with failure and leaves neither the output nor a temporary file; the next run works.
TEST_F(OperationProgress, CancelLeavesNoFileAndTheNextRunWorks)
{
    for (bool video : {false, true}) {
        for (int polls : {0, 3, 12}) {
            SCOPED_TRACE(std::string(video ? "export" : "cut") + " cancelled after " + std::to_string(polls) +
                         " polls");
            OperationControl control;
            int polled = 0;
            control.setStopCondition([&] { return ++polled > polls; });
            const std::string out = dir.file(video ? "cancelled.mp4" : "cancelled.raw");
            EXPECT_FALSE(run(video, out, control));
            EXPECT_EQ(dir.entries(), (std::vector<std::string>{"source.raw"}));
        }
        OperationControl fresh;
        Reports r;
        r.attach(fresh);
        const std::string out = dir.file(video ? "after.mp4" : "after.raw");
        ASSERT_TRUE(run(video, out, fresh));
        EXPECT_TRUE(r.risesToOne());
        std::remove(out.c_str());
    }
}

// Cancelled from another thread while the export runs, as the window's Cancel does.
TEST_F(OperationProgress, CancelFromAnotherThread)
{
    OperationControl control;
    std::atomic<bool> started{false};
    control.setProgressHandler([&](double) { started = true; });
    bool ok = true;
    std::thread worker([&] { ok = reader->exportVideo(first, last, dir.file("threaded.mp4"), control); });
    while (!started)
        std::this_thread::yield();
    control.cancel();
    worker.join();
    EXPECT_FALSE(ok);
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"source.raw"}));
}

TEST_F(OperationProgress, IndexRebuildReportsAndCanBeCancelled)
{
    dropFooter(source);
    const uint64_t blocks = reader->blockCount();
    reader.reset();

    // Cancelled halfway through the scan: open fails, and may be tried again.
    auto killed = RawFileReader::create(source);
    ASSERT_TRUE(killed);
    OperationControl cancelled;
    int polled = 0;
    cancelled.setStopCondition([&] { return ++polled > int(blocks / 2); });
    EXPECT_FALSE(killed->open(cancelled));
    EXPECT_EQ(killed->blockCount(), 0u);

    OperationControl control;
    Reports r;
    r.attach(control);
    ASSERT_TRUE(killed->open(control));
    EXPECT_TRUE(killed->indexRebuilt());
    EXPECT_EQ(killed->blockCount(), blocks);
    EXPECT_TRUE(r.risesToOne());

    // The check reports too.
    OperationControl checking;
    Reports c;
    c.attach(checking);
    std::vector<std::string> problems;
    killed->verifyAll(&problems, &checking);
    EXPECT_TRUE(c.risesToOne());
}

// A damaged block inside the range is skipped; what was readable is written and the
// gap is named, clipped to the range.
TEST_F(OperationProgress, SkippedBlocksAreNamed)
{
    const uint64_t blocks = reader->blockCount();
    ASSERT_GT(blocks, 10u);
    const vexadin::RawBlockInfo a = reader->blockInfo(4);
    const vexadin::RawBlockInfo b = reader->blockInfo(5);
    damageBlock(source, 4);
    damageBlock(source, 5);
    reader = RawFileReader::create(source);
    ASSERT_TRUE(reader && reader->open());

    for (bool video : {false, true}) {
        SCOPED_TRACE(video ? "export" : "cut");
        OperationControl control;
        const std::string out = dir.file(video ? "gap.mp4" : "gap.raw");
        ASSERT_TRUE(run(video, out, control));
        EXPECT_EQ(control.unreadable(), (std::vector<OperationControl::Range>{{a.firstTimestamp, b.lastTimestamp}}));
    }
    auto cut = RawFileReader::create(dir.file("gap.raw"));
    ASSERT_TRUE(cut && cut->open());
    vexadin::DvsFileInfo info;
    ASSERT_TRUE(cut->getFileInfo(info));
    EXPECT_EQ(info.eventCount, events.size() - a.eventCount - b.eventCount);

    // A range starting inside the damage names only its own part.
    OperationControl clipped;
    const uint64_t from = a.firstTimestamp + (a.lastTimestamp - a.firstTimestamp) / 2;
    ASSERT_TRUE(reader->cut(from, last, dir.file("clipped.raw"), clipped));
    EXPECT_EQ(clipped.unreadable(), (std::vector<OperationControl::Range>{{from, b.lastTimestamp}}));
}
