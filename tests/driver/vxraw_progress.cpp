// The terminal progress line of vxraw, and Ctrl-C stopping a long command cleanly.
#include "progressline.h"
#include "support/syntheticevents.h"
#include "vxrawcommands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

std::string readAvailable(int fd)
{
    std::string text;
    char buf[256];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        text.append(buf, size_t(n));
    }
    return text;
}

size_t count(const std::string &text, const std::string &what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

std::vector<std::string> entries(const std::string &dir)
{
    std::vector<std::string> names;
    if (DIR *d = ::opendir(dir.c_str())) {
        while (dirent *e = ::readdir(d)) {
            const std::string n = e->d_name;
            if (n != "." && n != "..")
                names.push_back(n);
        }
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TEST(ProgressLine, DrawsOnATerminalOnly)
{
    // A pseudo-terminal stands in for the user's terminal.
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const int terminal = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal, 0);
    {
        ProgressLine line("vxraw cut:", terminal);
        EXPECT_TRUE(line.onTerminal());
        line.update(0.5);
        line.update(0.504); // the same whole percentage: not drawn again
        line.update(1.0);
        line.finish();
        line.update(0.7); // after finish: nothing
    }
    ::fcntl(master, F_SETFL, O_NONBLOCK);
    const std::string shown = readAvailable(master);
    EXPECT_EQ(count(shown, "vxraw cut: 50%"), 1u) << shown;
    EXPECT_EQ(count(shown, "vxraw cut: 100%"), 1u) << shown;
    EXPECT_EQ(shown.find("70%"), std::string::npos) << shown;
    EXPECT_NE(shown.find('\n'), std::string::npos); // the line is ended
    ::close(terminal);
    ::close(master);

    // A pipe (a log, another program) gets nothing.
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    {
        ProgressLine line("vxraw cut:", pipeFds[1]);
        EXPECT_FALSE(line.onTerminal());
        line.update(0.5);
    }
    ::close(pipeFds[1]);
    EXPECT_EQ(readAvailable(pipeFds[0]), "");
    ::close(pipeFds[0]);
}

// Ctrl-C during "vxraw export" removes the half-written video and exits with 1.
TEST(VxrawInterrupt, ExportStopsCleanlyOnSigint)
{
    char tmpl[] = "/tmp/vx-sigint-XXXXXX";
    const std::string dir = ::mkdtemp(tmpl);
    const std::string in = dir + "/in.raw";
    const std::string out = dir + "/out.mp4";
    // 60 s at 1280 x 720: 1800 frames, seconds of encoding.
    vxtest::SyntheticOptions o;
    o.eventRate = 20000;
    o.durationUs = 60000000;
    ASSERT_TRUE(vxtest::writeRecording(in, vxtest::generateEvents(o)));

    int errPipe[2];
    ASSERT_EQ(::pipe(errPipe), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::dup2(errPipe[1], 2);
        ::close(errPipe[0]);
        ::execl(VX_VXRAW_EXE, "vxraw", "export", in.c_str(), out.c_str(), "0", "60000000", (char *)nullptr);
        ::_exit(127);
    }
    ::close(errPipe[1]);

    // Interrupt once the export has started writing (its temporary file exists).
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    bool writing = false;
    while (!writing && std::chrono::steady_clock::now() < deadline) {
        for (const std::string &name : entries(dir))
            writing = writing || name.rfind("out.mp4.part-", 0) == 0;
        if (!writing)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_TRUE(writing);
    ASSERT_EQ(::kill(pid, SIGINT), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    const std::string err = readAvailable(errPipe[0]);
    ::close(errPipe[0]);

    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_NE(err.find("vxraw export: interrupted"), std::string::npos) << err;
    EXPECT_EQ(entries(dir), (std::vector<std::string>{"in.raw"}));
    std::system(("rm -rf '" + dir + "'").c_str());
}

// Ctrl-C during "vxraw convert": exit 1 with the reason, and no recording (not even
// a partial one). Forked: the interrupted flag stays set for the rest of a process.
TEST(VxrawInterrupt, ConvertStopsCleanlyOnSigint)
{
    char tmpl[] = "/tmp/vx-sigint-XXXXXX";
    const std::string dir = ::mkdtemp(tmpl);
    const std::string in = dir + "/in.txt";
    const std::string out = dir + "/out.raw";
    {
        std::ofstream text(in);
        for (int k = 0; k < 1000; ++k)
            text << 10 * k << ' ' << k % 100 << ' ' << k % 50 << ' ' << k % 2 << '\n';
    }
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ProgressLine armed("test:", null); // takes over SIGINT
        ::raise(SIGINT);
        std::ostringstream stdOut, stdErr;
        const int status = runVxrawArgs({"convert", in, out}, stdOut, stdErr);
        const bool said = stdErr.str().find("vxraw convert: interrupted") != std::string::npos;
        ::_exit(status == 1 && said ? 0 : 10 + status);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0) << "child: 10 + convert's exit status, or 11 without the reason";
    EXPECT_EQ(entries(dir), (std::vector<std::string>{"in.txt"}));
    std::system(("rm -rf '" + dir + "'").c_str());
}
