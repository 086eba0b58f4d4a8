// A camera recording killed with SIGKILL: a child process streams from a simulated
// camera and records, reporting every slice it was given; it is killed at a random
// moment. The file must open (index rebuilt) and hold every delivered slice that
// ended more than one second before the last one reported.
#include "camera/dvscamera.h"
#include "camera/dvscameramanager.h"
#include "driver/rawfilereader.h"
#include "driver/simulatedcamerakind.h"
#include "driver/streamingcamera.h"
#include "support/cameratestkit.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <random>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

using namespace vexadin;

namespace {

constexpr const char *kChildVariable = "VX_CAMERA_CRASH_CHILD";
constexpr int kReportFd = 3;

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
        n -= size_t(w);
    }
    return true;
}

// Reads what the child reported: slices as {start, end, count} and count events.
struct Reports {
    std::vector<vxtest::Slice> slices;
    std::string pending;
    void feed(const char *data, size_t n)
    {
        pending.append(data, n);
        for (;;) {
            if (pending.size() < 24)
                return;
            uint64_t head[3];
            std::memcpy(head, pending.data(), 24);
            const size_t bytes = 24 + head[2] * sizeof(Event2D);
            if (pending.size() < bytes)
                return;
            vxtest::Slice s;
            s.start = head[0];
            s.end = head[1];
            s.events.resize(head[2]);
            std::memcpy(s.events.data(), pending.data() + 24, head[2] * sizeof(Event2D));
            slices.push_back(std::move(s));
            pending.erase(0, bytes);
        }
    }
};

} // namespace

// The child's body; skipped unless started by the test below.
TEST(CameraCrash, Child)
{
    const char *path = std::getenv(kChildVariable);
    if (!path)
        GTEST_SKIP() << "runs as the child of RecordingSurvivesSigkill";
    DvsCameraManager manager;
    std::shared_ptr<DvsCamera> handle = manager.openCamera(SimulatedCameraKind::kTaskeloSerial);
    if (!handle)
        ::_exit(3);
    StreamingCamera &camera = vxtest::streamingCamera(handle);
    camera.setBatchSliceTime(20000);
    if (!camera.startRecording(path) || camera.start() != 0) // recorded from the first slice on
        ::_exit(4);
    vxtest::Slice s;
    for (;;) {
        if (camera.fetchSlice(s.events, s.start, s.end)) {
            const uint64_t head[3] = {s.start, s.end, s.events.size()};
            if (!writeAll(kReportFd, head, sizeof head) ||
                !writeAll(kReportFd, s.events.data(), s.events.size() * sizeof(Event2D)))
                ::_exit(5);
        }
        ::usleep(2000);
    }
}

TEST(CameraCrash, RecordingSurvivesSigkill)
{
    if (std::getenv(kChildVariable))
        GTEST_SKIP();
    vxtest::ScopedCameraFolder cameras;
    vxtest::ScopedTempFolder out("crash");
    std::mt19937 rng(20240131);
    for (int run = 0; run < 3; ++run) {
        SCOPED_TRACE(run);
        const std::string path = out.file("killed" + std::to_string(run) + ".raw");
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        // The read end first: it may well be descriptor 3 itself.
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        posix_spawn_file_actions_adddup2(&actions, fds[1], kReportFd);
        const std::string variable = std::string(kChildVariable) + "=" + path;
        std::vector<char *> env;
        for (char **e = environ; *e; ++e)
            env.push_back(*e);
        env.push_back(const_cast<char *>(variable.c_str()));
        env.push_back(nullptr);
        char filter[] = "--gtest_filter=CameraCrash.Child";
        char self[] = "/proc/self/exe";
        char *argv[] = {self, filter, nullptr};
        pid_t child = 0;
        ASSERT_EQ(::posix_spawn(&child, "/proc/self/exe", &actions, nullptr, argv, env.data()), 0);
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);

        // Read reports until a random moment 1.2 .. 2 s into the stream.
        Reports reports;
        const uint64_t killAfterUs = 1200000 + rng() % 800000;
        uint64_t firstEnd = 0;
        char buffer[1 << 16];
        bool childGone = false;
        while (!childGone) {
            pollfd p{fds[0], POLLIN, 0};
            if (::poll(&p, 1, 5000) <= 0)
                break;
            const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
            if (n <= 0) {
                childGone = true;
                break;
            }
            reports.feed(buffer, size_t(n));
            if (!reports.slices.empty()) {
                if (!firstEnd)
                    firstEnd = reports.slices.front().end;
                if (reports.slices.back().end - firstEnd >= killAfterUs)
                    break;
            }
        }
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        ::close(fds[0]);
        ASSERT_FALSE(childGone) << "the child ended on its own";
        ASSERT_TRUE(WIFSIGNALED(status));
        ASSERT_GT(reports.slices.size(), 10u);

        auto reader = RawFileReader::create(path);
        ASSERT_TRUE(reader && reader->open());
        EXPECT_TRUE(reader->indexRebuilt());
        const vxtest::RecordingContent content = vxtest::readRecording(path);
        ASSERT_TRUE(content.ok);
        const uint64_t lastReported = reports.slices.back().end;
        size_t compared = 0;
        for (const vxtest::Slice &s : reports.slices) {
            if (s.end + 1000000 > lastReported)
                break;
            EXPECT_EQ(vxtest::eventsIn(content.events, s.start, s.end), s.events);
            ++compared;
        }
        EXPECT_GT(compared, 0u);
        EXPECT_GE(content.events.back().timestamp + 1000000, lastReported);
    }
}
