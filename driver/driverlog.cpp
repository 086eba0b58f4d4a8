#include "driver/driverlog.h"

#include "camera/logger.h"

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

LogLevelType loggerLevel(DriverLogLevel level)
{
    switch (level) {
    case DriverLogLevel::Debug: return LOG_DEBUG;
    case DriverLogLevel::Info: return LOG_INFO;
    case DriverLogLevel::Warning: return LOG_WARNING;
    case DriverLogLevel::Error: return LOG_ERROR;
    }
    return LOG_ERROR;
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
    Logger::Instance().log_(loggerLevel(level), "vexadin", 0, "%s", message.c_str());
}

} // namespace vexadin
