#include "driver/driverlog.h"

#include <cstdio>
#include <mutex>

namespace vexadin {

namespace {

std::mutex &logMutex()
{
    static std::mutex m;
    return m;
}

DriverLogHook &logHook()
{
    static DriverLogHook hook;
    return hook;
}

const char *levelName(DriverLogLevel level)
{
    switch (level) {
    case DriverLogLevel::Debug: return "debug";
    case DriverLogLevel::Info: return "info";
    case DriverLogLevel::Warning: return "warning";
    case DriverLogLevel::Error: return "error";
    }
    return "?";
}

} // namespace

void setDriverLogHook(DriverLogHook hook)
{
    std::lock_guard<std::mutex> lock(logMutex());
    logHook() = std::move(hook);
}

void driverLog(DriverLogLevel level, const std::string &message)
{
    std::lock_guard<std::mutex> lock(logMutex());
    if (logHook()) {
        logHook()(level, message);
        return;
    }
    std::fprintf(stderr, "vexadin: %s: %s\n", levelName(level), message.c_str());
    std::fflush(stderr);
}

} // namespace vexadin
