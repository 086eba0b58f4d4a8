#include "progressline.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <mutex>
#include <unistd.h>

namespace {

// Written by the signal handler: must be lock-free.
std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the SIGINT flag must be lock-free");

extern "C" void onInterrupt(int)
{
    g_interrupted.store(true);
}

void takeOverInterrupt()
{
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction action;
        std::memset(&action, 0, sizeof action);
        action.sa_handler = onInterrupt;
        sigemptyset(&action.sa_mask);
        // The first Ctrl-C asks the command to stop; the handler then reverts to the
        // default, so a second one ends a program that does not listen.
        action.sa_flags = SA_RESETHAND;
        sigaction(SIGINT, &action, nullptr);
    });
}

void writeAll(int fd, const std::string &text)
{
    const char *p = text.data();
    size_t left = text.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return; // a broken terminal is not worth failing the command for
        p += n;
        left -= size_t(n);
    }
}

} // namespace

ProgressLine::ProgressLine(std::string label, int fd)
    : label_(std::move(label)), fd_(fd), terminal_(::isatty(fd) == 1)
{
    takeOverInterrupt();
}

ProgressLine::~ProgressLine()
{
    finish();
}

void ProgressLine::update(double fraction)
{
    if (!terminal_ || finished_)
        return;
    const int percent = int(std::clamp(fraction, 0.0, 1.0) * 100.0);
    if (percent == percent_)
        return;
    percent_ = percent;
    // Back to the start of the line, the text, and clear what a longer line left.
    writeAll(fd_, "\r" + label_ + " " + std::to_string(percent) + "%\033[K");
}

void ProgressLine::finish()
{
    if (finished_)
        return;
    finished_ = true;
    if (terminal_ && percent_ >= 0)
        writeAll(fd_, "\n");
}

bool ProgressLine::interrupted()
{
    return g_interrupted.load();
}
