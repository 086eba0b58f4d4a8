// Crash safety of recording: a child process records a synthetic stream and is
// killed with SIGKILL at a random moment; the file must reopen (index rebuilt by
// scanning) with every event older than one second before the last timestamp the
// child reported written.
#include "driver/rawfilereader.h"
#include "driver/rawfilewriter.h"
#include "support/syntheticevents.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using vexadin::Event2D;

namespace {

constexpr uint64_t kStartUs = 1'000'000'000; // an arbitrary camera clock origin
constexpr uint64_t kSliceUs = 1000;
constexpr uint64_t kSafetyUs = 1'000'000;

vxtest::SyntheticOptions streamOptions(uint64_t seed)
{
    vxtest::SyntheticOptions o;
    o.seed = seed;
    o.eventRate = 300000;
    o.durationUs = 3600ull * 1000000; // longer than any child lives
    o.startTimestampUs = kStartUs;
    o.triggerRateHz = 0;
    return o;
}

bool writeAll(int fd, const void *data, size_t n)
{
    const char *p = static_cast<const char *>(data);
    while (n) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

// Child body: records until killed, reporting after each slice the last timestamp
// handed to the writer. Recording time runs about 5x faster than wall time.
[[noreturn]] void recordUntilKilled(const std::string &path, uint64_t seed, int reportFd)
{
    vexadin::RawFileWriter writer;
    vexadin::RawFileHeader header;
    header.serial = "CRASH-" + std::to_string(seed);
    if (!writer.open(path, header))
        ::_exit(3);
    vxtest::SyntheticEventStream stream(streamOptions(seed));
    std::vector<Event2D> slice;
    unsigned n = 0;
    while (stream.nextSlice(slice, kSliceUs)) {
        if (!writer.write(slice))
            ::_exit(4);
        const uint64_t last = stream.currentTimestamp() - 1;
        if (!writeAll(reportFd, &last, sizeof last))
            ::_exit(5);
        if (++n % 5 == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ::_exit(0);
}

} // namespace

TEST(RawFormatCrash, KilledWriterLeavesEverythingButTheLastSecondReadable)
{
    for (uint64_t seed : {11u, 23u, 37u, 41u, 59u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        const std::string path = vxtest::tempPath("rawformat-crash");
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(fds[0]);
            recordUntilKilled(path, seed, fds[1]);
        }
        ::close(fds[1]);

        // Wait until two seconds of recording exist, then kill at a seeded moment
        // while reading the reports as they come.
        std::mt19937_64 rng(seed);
        const auto killAfter = std::chrono::milliseconds(rng() % 800);
        uint64_t lastReported = 0;
        bool gotReport = false;
        ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
        std::chrono::steady_clock::time_point started;
        for (;;) {
            uint64_t value = 0;
            const ssize_t got = ::read(fds[0], &value, sizeof value);
            if (got == static_cast<ssize_t>(sizeof value)) {
                lastReported = value;
                if (!gotReport && lastReported > kStartUs + 2 * kSafetyUs) {
                    started = std::chrono::steady_clock::now();
                    gotReport = true;
                }
                continue;
            }
            ASSERT_TRUE(got < 0 && errno == EAGAIN) << "short or failed read from the child: " << got;
            if (gotReport && std::chrono::steady_clock::now() - started >= killAfter)
                break;
            int status = 0;
            ASSERT_EQ(::waitpid(child, &status, WNOHANG), 0) << "the recording child ended early";
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status));
        // Reports written before the kill are still in the pipe.
        for (;;) {
            uint64_t value = 0;
            const ssize_t got = ::read(fds[0], &value, sizeof value);
            if (got != static_cast<ssize_t>(sizeof value))
                break;
            lastReported = value;
        }
        ::close(fds[0]);
        ASSERT_GT(lastReported, kStartUs + 2 * kSafetyUs) << "the child recorded too little to test";

        auto reader = vexadin::RawFileReader::create(path);
        ASSERT_TRUE(reader) << "the killed recording no longer opens";
        ASSERT_TRUE(reader->open()) << reader->lastError();
        EXPECT_TRUE(reader->indexRebuilt());

        // The same seeded stream, up to the cutoff.
        const uint64_t cutoff = lastReported - kSafetyUs;
        std::vector<Event2D> expected;
        vxtest::SyntheticEventStream stream(streamOptions(seed));
        std::vector<Event2D> slice;
        while (stream.currentTimestamp() < cutoff && stream.nextSlice(slice, kSliceUs))
            for (const Event2D &e : slice)
                if (e.timestamp < cutoff)
                    expected.push_back(e);

        std::vector<Event2D> actual;
        actual.reserve(expected.size());
        ASSERT_TRUE(reader->forEachBlockInRange(0, cutoff - 1, [&](const Event2D *b, const Event2D *e, const auto *,
                                                                    const auto *) {
            actual.insert(actual.end(), b, e);
            return true;
        }));
        ASSERT_EQ(actual.size(), expected.size());
        EXPECT_TRUE(actual == expected) << "events before the cutoff differ";

        vexadin::DvsFileInfo info;
        ASSERT_TRUE(reader->getFileInfo(info));
        EXPECT_EQ(info.serial, "CRASH-" + std::to_string(seed));
        EXPECT_EQ(info.startTimestamp, expected.front().timestamp);
        EXPECT_LE(info.endTimestamp, lastReported);
        std::remove(path.c_str());
    }
}
