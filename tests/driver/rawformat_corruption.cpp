// Damaged recordings: truncated, bit-flipped, crafted, half-written or written by a
// killed process. The reader must never crash, must keep every intact block, and
// must say what it skipped.
#include "driver/crc32c.h"
#include "driver/driverlog.h"
#include "driver/rawfileio.h"
#include "driver/rawfilereader.h"
#include "driver/rawfilewriter.h"
#include "driver/rawformat.h"
#include "support/syntheticevents.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <random>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace vexadin;

namespace {

struct LogCapture {
    std::mutex m;
    std::vector<std::string> lines;
    LogCapture()
    {
        setDriverLogHook([this](DriverLogLevel, const std::string &msg) {
            std::lock_guard<std::mutex> lock(m);
            lines.push_back(msg);
        });
    }
    ~LogCapture() { setDriverLogHook({}); }
    size_t count(const std::string &needle)
    {
        std::lock_guard<std::mutex> lock(m);
        size_t n = 0;
        for (const auto &l : lines)
            n += l.find(needle) != std::string::npos;
        return n;
    }
};

std::vector<uint8_t> slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void spit(const std::string &path, const std::vector<uint8_t> &bytes, size_t n)
{
    // A new file each time: truncating in place makes ext4 flush synchronously on close.
    std::remove(path.c_str());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(n));
}

struct Block {
    uint64_t begin = 0, end = 0; // byte range in the file
    std::vector<Event2D> events;
    std::vector<EventTriggerIn> triggers;
};

// A small recording with many blocks, and where each block's bytes and data are.
struct SmallRecording {
    std::string path = vxtest::tempPath("corrupt");
    std::string work = vxtest::tempPath("corrupt-work");
    std::vector<uint8_t> bytes;
    std::vector<Block> blocks;
    uint64_t headerSize = 0;
    uint64_t indexOffset = 0;

    SmallRecording()
    {
        vxtest::SyntheticOptions opt;
        opt.seed = 11;
        opt.eventRate = 20000;
        opt.durationUs = 15000;
        opt.startTimestampUs = 777;
        opt.triggerRateHz = 1000;
        const auto events = vxtest::generateEvents(opt);
        const auto triggers = vxtest::generateTriggers(opt);
        RawFileWriter w;
        w.setBlockLimits(20, 100000);
        RawFileHeader h;
        h.serial = "S1";
        EXPECT_TRUE(w.open(path, h));
        size_t j = 0;
        for (const Event2D &e : events) {
            while (j < triggers.size() && triggers[j].timestamp <= e.timestamp)
                w.writeTrigger(triggers[j++]);
            w.write(&e, &e + 1);
        }
        EXPECT_TRUE(w.close());
        bytes = slurp(path);
        auto r = RawFileReader::create(path);
        EXPECT_TRUE(r && r->open());
        headerSize = rawformat::load32(bytes.data() + 12);
        for (uint64_t i = 0; i < r->blockCount(); ++i) {
            const RawBlockInfo b = r->blockInfo(i);
            Block blk;
            blk.begin = b.fileOffset;
            blk.end = b.fileOffset + rawformat::kBlockHeaderSize + b.payloadSize;
            blocks.push_back(blk);
        }
        size_t next = 0; // the callback comes once per block, in file order
        r->forEachBlockInRange(0, ~uint64_t(0), [&](const Event2D *eb, const Event2D *ee, const EventTriggerIn *tb,
                                                     const EventTriggerIn *te) {
            blocks[next].events.assign(eb, ee);
            blocks[next].triggers.assign(tb, te);
            ++next;
            return true;
        });
        EXPECT_EQ(next, blocks.size());
        indexOffset = blocks.back().end;
    }
    ~SmallRecording()
    {
        std::remove(path.c_str());
        std::remove(work.c_str());
    }
};

struct ReadBack {
    bool opened = false;
    std::vector<Event2D> events;   // via forEachBlockInRange
    std::vector<Event2D> windowed; // via readRange in 3 ms windows
    std::vector<EventTriggerIn> triggers;
};

ReadBack readBack(const std::string &path)
{
    ReadBack rb;
    auto r = RawFileReader::create(path);
    if (!r)
        return rb;
    rb.opened = r->open();
    r->forEachBlockInRange(0, ~uint64_t(0), [&](const Event2D *b, const Event2D *e, const EventTriggerIn *tb,
                                                 const EventTriggerIn *te) {
        rb.events.insert(rb.events.end(), b, e);
        rb.triggers.insert(rb.triggers.end(), tb, te);
        return true;
    });
    uint64_t start = 0, end = 0;
    if (r->getStartTimestamp(start) && r->getEndTimestamp(end)) {
        for (uint64_t t = start; t <= end; t += 3000) {
            auto w = r->readRange(t, 3000);
            if (w)
                rb.windowed.insert(rb.windowed.end(), w->begin(), w->end());
        }
    }
    std::vector<std::string> problems;
    r->verifyAll(&problems);
    DvsFileInfo info;
    r->getFileInfo(info);
    return rb;
}

void expectBlocks(const ReadBack &rb, const SmallRecording &rec, const std::vector<bool> &keep, const std::string &what)
{
    std::vector<Event2D> events;
    std::vector<EventTriggerIn> triggers;
    for (size_t i = 0; i < rec.blocks.size(); ++i)
        if (keep[i]) {
            events.insert(events.end(), rec.blocks[i].events.begin(), rec.blocks[i].events.end());
            triggers.insert(triggers.end(), rec.blocks[i].triggers.begin(), rec.blocks[i].triggers.end());
        }
    EXPECT_EQ(rb.events, events) << what;
    EXPECT_EQ(rb.windowed, events) << what;
    EXPECT_EQ(rb.triggers, triggers) << what;
}

} // namespace

TEST(RawFormatCorruption, MissingFooterIsRebuiltAndReportedOnce)
{
    SmallRecording rec;
    ASSERT_GT(rec.blocks.size(), 10u);
    spit(rec.work, rec.bytes, rec.indexOffset);
    LogCapture log;
    auto r = RawFileReader::create(rec.work);
    ASSERT_TRUE(r);
    ASSERT_TRUE(r->open());
    EXPECT_TRUE(r->indexRebuilt());
    EXPECT_EQ(r->blockCount(), rec.blocks.size());
    auto all = r->readRange(0, ~uint64_t(0));
    ASSERT_TRUE(all);
    r->readRange(0, 5000);
    r->open();
    EXPECT_EQ(log.count("rebuilt"), 1u);
    EXPECT_EQ(r->corruptBlockCount(), 0u);
    expectBlocks(readBack(rec.work), rec, std::vector<bool>(rec.blocks.size(), true), "no footer");
}

TEST(RawFormatCorruption, TruncationAnywhereKeepsEveryCompleteBlock)
{
    SmallRecording rec;
    LogCapture quiet;
    for (size_t cut = 0; cut < rec.bytes.size(); ++cut) {
        spit(rec.work, rec.bytes, cut);
        const ReadBack rb = readBack(rec.work);
        const std::string what = "truncated at " + std::to_string(cut);
        if (cut < rec.headerSize) {
            EXPECT_FALSE(rb.opened) << what;
            continue;
        }
        ASSERT_TRUE(rb.opened) << what;
        std::vector<bool> keep;
        for (const Block &b : rec.blocks)
            keep.push_back(b.end <= cut);
        expectBlocks(rb, rec, keep, what);
    }
}

TEST(RawFormatCorruption, FlippedByteLosesAtMostItsOwnBlock)
{
    SmallRecording rec;
    LogCapture log;
    for (size_t pos = 0; pos < rec.bytes.size(); ++pos) {
        std::vector<uint8_t> bad = rec.bytes;
        bad[pos] ^= static_cast<uint8_t>(1u << (pos % 8));
        spit(rec.work, bad, bad.size());
        const std::string what = "bit flipped at byte " + std::to_string(pos);
        const size_t before = log.count("damaged block");
        const ReadBack rb = readBack(rec.work);
        if (pos < rec.headerSize) {
            EXPECT_FALSE(rb.opened) << what; // the header checksum catches it
            continue;
        }
        ASSERT_TRUE(rb.opened) << what;
        std::vector<bool> keep;
        bool inBlock = false;
        for (const Block &b : rec.blocks) {
            const bool hit = pos >= b.begin && pos < b.end;
            inBlock |= hit;
            keep.push_back(!hit);
        }
        expectBlocks(rb, rec, keep, what);
        // Logged once, although the block was read by four different paths.
        EXPECT_EQ(log.count("damaged block") - before, inBlock ? 1u : 0u) << what;
    }
}

namespace {

void refreshFooterChecksums(std::vector<uint8_t> &b, uint64_t indexOffset)
{
    using namespace rawformat;
    uint8_t *t = b.data() + b.size() - kTrailerSize;
    const size_t indexBytes = b.size() - kTrailerSize - indexOffset;
    store32(t + 40, crc32c(b.data() + indexOffset, indexBytes));
    store32(t + 44, crc32c(t, 44));
}

} // namespace

TEST(RawFormatCorruption, CraftedFieldsAreCheckedBeforeUse)
{
    using namespace rawformat;
    SmallRecording rec;
    LogCapture log;
    const std::vector<bool> all(rec.blocks.size(), true);

    { // A newer read version: refused with a clear reason.
        auto b = rec.bytes;
        store16(&b[8], kReadVersion + 1);
        spit(rec.work, b, b.size());
        EXPECT_FALSE(RawFileReader::create(rec.work));
        EXPECT_EQ(log.count("needs a newer program"), 1u);
    }
    { // A newer write version: still readable.
        auto b = rec.bytes;
        store16(&b[10], kWriteVersion + 1);
        store32(&b[rec.headerSize - 4], crc32c(b.data(), rec.headerSize - 4));
        spit(rec.work, b, b.size());
        auto r = RawFileReader::create(rec.work);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->formatWriteVersion(), kWriteVersion + 1);
        expectBlocks(readBack(rec.work), rec, all, "newer write version");
        // Its reserved footer fields may carry meaning: the index is still used.
        store32(&b[rec.indexOffset + 4], 7);
        store32(&b[rec.indexOffset + kIndexHeaderSize + 36], 7);
        store32(&b[b.size() - kTrailerSize + 4], 7);
        refreshFooterChecksums(b, rec.indexOffset);
        spit(rec.work, b, b.size());
        r = RawFileReader::create(rec.work);
        ASSERT_TRUE(r && r->open());
        EXPECT_FALSE(r->indexRebuilt());
        expectBlocks(readBack(rec.work), rec, all, "newer write version, reserved footer fields set");
    }
    { // Huge header size, huge metadata count.
        auto b = rec.bytes;
        store32(&b[12], 0xfffffff0u);
        spit(rec.work, b, b.size());
        EXPECT_FALSE(RawFileReader::create(rec.work));
        b = rec.bytes;
        store32(&b[44], 0xffffffffu);
        store32(&b[rec.headerSize - 4], crc32c(b.data(), rec.headerSize - 4));
        spit(rec.work, b, b.size());
        EXPECT_FALSE(RawFileReader::create(rec.work));
    }
    { // An index that lies with valid checksums: offsets past the end, absurd block counts.
        auto b = rec.bytes;
        store64(&b[rec.indexOffset + kIndexHeaderSize + 16], uint64_t(1) << 50);
        refreshFooterChecksums(b, rec.indexOffset);
        spit(rec.work, b, b.size());
        expectBlocks(readBack(rec.work), rec, all, "index offset past the end");

        b = rec.bytes;
        store64(&b[b.size() - kTrailerSize + 16], uint64_t(1) << 40);
        refreshFooterChecksums(b, rec.indexOffset);
        spit(rec.work, b, b.size());
        expectBlocks(readBack(rec.work), rec, all, "block count 2^40");

        // Event counts that the payload cannot hold (a window would allocate from them).
        b = rec.bytes;
        for (size_t i = 0; i < rec.blocks.size(); ++i)
            store32(&b[rec.indexOffset + kIndexHeaderSize + i * kIndexEntrySize + 28], kMaxBlockEvents);
        refreshFooterChecksums(b, rec.indexOffset);
        spit(rec.work, b, b.size());
        expectBlocks(readBack(rec.work), rec, all, "event counts beyond the payload");

        // Entry swapped with its neighbour: time order broken.
        b = rec.bytes;
        uint8_t *e0 = &b[rec.indexOffset + kIndexHeaderSize];
        std::vector<uint8_t> tmp(e0, e0 + kIndexEntrySize);
        std::memcpy(e0, e0 + kIndexEntrySize, kIndexEntrySize);
        std::memcpy(e0 + kIndexEntrySize, tmp.data(), kIndexEntrySize);
        refreshFooterChecksums(b, rec.indexOffset);
        spit(rec.work, b, b.size());
        expectBlocks(readBack(rec.work), rec, all, "entries swapped");
    }
    { // A block header with valid checksum but impossible counts: that block only is lost.
        auto b = rec.bytes;
        uint8_t *h = &b[rec.blocks[3].begin];
        store32(h + 8, kMaxBlockEvents);
        store32(h + 36, crc32c(h, 36));
        spit(rec.work, b, b.size());
        std::vector<bool> keep = all;
        keep[3] = false;
        expectBlocks(readBack(rec.work), rec, keep, "absurd event count");
        // Same with the footer gone: the scan skips it and finds the next block.
        spit(rec.work, b, rec.indexOffset);
        expectBlocks(readBack(rec.work), rec, keep, "absurd event count, no footer");
    }
    { // Garbage after a valid header: nothing to read, nothing crashes.
        std::mt19937_64 rng(5);
        for (int round = 0; round < 200; ++round) {
            auto b = std::vector<uint8_t>(rec.bytes.begin(), rec.bytes.begin() + static_cast<long>(rec.headerSize));
            const size_t n = rng() % 4000;
            for (size_t i = 0; i < n; ++i)
                b.push_back(static_cast<uint8_t>(rng()));
            if (n > 100 && round % 2) // sprinkle block and footer magics
                std::memcpy(&b[rec.headerSize + rng() % (n - 50)], round % 4 == 1 ? "VXBK" : "VXFT", 4);
            spit(rec.work, b, b.size());
            const ReadBack rb = readBack(rec.work);
            EXPECT_TRUE(rb.opened);
            EXPECT_TRUE(rb.events.empty());
        }
    }
}

TEST(RawFormatCorruption, FailedWriteLeavesReadableFile)
{
    const auto events = [] {
        vxtest::SyntheticOptions opt;
        opt.eventRate = 50000;
        opt.durationUs = 20000;
        return vxtest::generateEvents(opt);
    }();
    const std::string path = vxtest::tempPath("fault");
    LogCapture quiet;
    // Count the writes of an undisturbed run: header + blocks + footer.
    uint64_t writes = 0;
    {
        RawFileWriter w;
        w.setBlockLimits(100, 100000);
        ASSERT_TRUE(w.open(path, RawFileHeader{}));
        ASSERT_TRUE(w.write(events));
        ASSERT_TRUE(w.close());
        writes = 2 + w.blocksWritten();
    }
    for (bool persistent : {true, false}) {
        for (uint64_t n = 1; n <= writes; ++n) {
            const std::string what = "write " + std::to_string(n) + (persistent ? " and later fail" : " fails");
            fileio_faults::failWrite(n, persistent);
            RawFileWriter w;
            w.setBlockLimits(100, 100000);
            const bool opened = w.open(path, RawFileHeader{});
            const bool wrote = opened && w.write(events);
            const bool closed = opened && w.close();
            fileio_faults::reset();
            EXPECT_FALSE(opened && wrote && closed) << what;
            auto r = RawFileReader::create(path);
            if (n == 1) {
                EXPECT_FALSE(opened) << what;
                EXPECT_FALSE(r) << what; // no half-written header left behind
                continue;
            }
            ASSERT_TRUE(r) << what;
            ASSERT_TRUE(r->open()) << what;
            // Blocks before the failed write are all there, in order.
            const size_t keptBlocks = std::min<uint64_t>(n - 2, writes - 2);
            auto got = r->readRange(0, ~uint64_t(0));
            ASSERT_TRUE(got || keptBlocks == 0) << what;
            const size_t count = got ? got->size() : 0;
            EXPECT_EQ(count, keptBlocks * 100) << what;
            EXPECT_TRUE(std::equal(events.begin(), events.begin() + static_cast<long>(count), got ? got->begin() : events.begin())) << what;
            // A single failure before the footer still ends with a footer.
            if (!persistent && n < writes) {
                EXPECT_FALSE(r->indexRebuilt()) << what;
            }
        }
    }
    std::remove(path.c_str());
}

TEST(RawFormatCorruption, KilledWriterLeavesReadablePrefix)
{
    const std::string path = vxtest::tempPath("killed");
    vxtest::SyntheticOptions opt;
    opt.seed = 3;
    opt.eventRate = 2e6;
    opt.durationUs = 3600ull * 1000000; // longer than the child will live
    for (int round = 0; round < 3; ++round) {
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(ready[0]);
            RawFileWriter w;
            if (!w.open(path, RawFileHeader{}))
                ::_exit(2);
            vxtest::SyntheticEventStream stream(opt);
            std::vector<Event2D> slice;
            bool told = false;
            while (stream.nextSlice(slice, 1000)) {
                w.write(slice);
                if (!told && w.blocksWritten() >= 2) {
                    // Some blocks are on disk: the parent may kill at any moment now.
                    told = ::write(ready[1], "r", 1) == 1;
                }
            }
            ::_exit(0);
        }
        ::close(ready[1]);
        char byte = 0;
        ASSERT_EQ(::read(ready[0], &byte, 1), 1);
        ::close(ready[0]);
        ::usleep(static_cast<useconds_t>(round * 37000));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status));

        LogCapture log;
        auto r = RawFileReader::create(path);
        ASSERT_TRUE(r);
        ASSERT_TRUE(r->open());
        EXPECT_TRUE(r->indexRebuilt());
        EXPECT_EQ(log.count("rebuilt"), 1u);
        auto got = r->readRange(0, ~uint64_t(0));
        ASSERT_TRUE(got);
        ASSERT_FALSE(got->empty());
        // Exactly the beginning of what the child generated.
        vxtest::SyntheticEventStream again(opt);
        std::vector<Event2D> slice;
        size_t i = 0;
        bool same = true;
        while (same && i < got->size() && again.nextSlice(slice, 1000))
            for (size_t k = 0; k < slice.size() && i < got->size(); ++k, ++i)
                same = same && slice[k] == (*got)[i];
        EXPECT_TRUE(same);
        EXPECT_EQ(i, got->size());
        EXPECT_EQ(r->corruptBlockCount(), 0u);
    }
    std::remove(path.c_str());
}

TEST(RawFormatCorruption, NonFilesAreRefusedWithoutWaiting)
{
    LogCapture log;
    // A FIFO with no writer: a plain blocking open would wait for one forever.
    const std::string fifo = vxtest::tempPath("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::atomic<bool> done{false};
    bool refused = false;
    std::thread opener([&] {
        refused = !DvsFileReader::createFileReader(fifo);
        done = true;
    });
    for (int i = 0; i < 500 && !done; ++i)
        ::usleep(10000);
    const bool answered = done;
    if (!answered) {
        // Release the stuck open so the test ends instead of hanging.
        const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
    }
    opener.join();
    EXPECT_TRUE(answered) << "opening a FIFO blocked";
    EXPECT_TRUE(refused);
    std::remove(fifo.c_str());

    const std::string dir = vxtest::tempPath("dir");
    ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
    EXPECT_FALSE(DvsFileReader::createFileReader(dir));
    ::rmdir(dir.c_str());
    EXPECT_FALSE(DvsFileReader::createFileReader("/dev/null"));
    EXPECT_EQ(log.count("not a regular file"), 3u);
}
