#include "camera/logger.h"

#include "driver/datafolders.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <sys/time.h>
#include <vector>

namespace vexadin {

namespace {

constexpr const char *kLogFileName = "vexadin.log";
// A log that grew past this is moved aside to vexadin.log.1 when the library starts.
constexpr off_t kRotateBytes = 8 << 20;

const char *levelName(LogLevelType level)
{
    switch (level) {
    case LOG_TRACE: return "TRACE";
    case LOG_DEBUG: return "DEBUG";
    case LOG_INFO: return "INFO";
    case LOG_WARNING: return "WARNING";
    case LOG_ERROR: return "ERROR";
    }
    return "LEVEL?";
}

} // namespace

struct Logger::Impl {
    std::mutex mutex;
    std::FILE *file = nullptr;
    std::string path;
    std::vector<char> buffer = std::vector<char>(512);
};

Logger &Logger::Instance()
{
    // Never destroyed: threads of cameras still closing at exit may log.
    static Logger *logger = new Logger;
    return *logger;
}

Logger::Logger() : d(new Impl)
{
    const std::string folder = applicationDataFolder();
    if (folder.empty() || !makeFolders(folder))
        return;
    const std::string path = folder + "/" + kLogFileName;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && st.st_size > kRotateBytes)
        std::rename(path.c_str(), (path + ".1").c_str());
    d->file = std::fopen(path.c_str(), "ae");
    if (d->file)
        d->path = path;
}

Logger::~Logger()
{
    if (d->file)
        std::fclose(d->file);
    delete d;
}

const char *Logger::logFilePath() const
{
    return d->path.c_str();
}

void Logger::log_(LogLevelType level, const char *file, int line, const char *format, ...)
{
    std::lock_guard<std::mutex> lock(d->mutex);

    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int n = format ? std::vsnprintf(d->buffer.data(), d->buffer.size(), format, args) : 0;
    if (n >= 0 && static_cast<size_t>(n) >= d->buffer.size()) {
        d->buffer.resize(static_cast<size_t>(n) + 1);
        std::vsnprintf(d->buffer.data(), d->buffer.size(), format, again);
    }
    va_end(again);
    va_end(args);
    std::string message = n > 0 ? std::string(d->buffer.data(), static_cast<size_t>(n)) : std::string();
    // One line per call, whatever the message holds.
    for (char &c : message)
        if (c == '\n' || c == '\r')
            c = ' ';

    timeval tv {};
    ::gettimeofday(&tv, nullptr);
    std::tm local {};
    const time_t seconds = tv.tv_sec;
    ::localtime_r(&seconds, &local);
    char stamp[40];
    const size_t len = std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(stamp + len, sizeof stamp - len, ".%03ld", static_cast<long>(tv.tv_usec / 1000));

    char where[32] = "";
    if (line > 0)
        std::snprintf(where, sizeof where, ":%d", line);
    const char *source = file && *file ? file : "vexadin";

    std::fprintf(stderr, "%s %s %s%s: %s\n", stamp, levelName(level), source, where, message.c_str());
    std::fflush(stderr);
    if (d->file) {
        std::fprintf(d->file, "%s %s %s%s: %s\n", stamp, levelName(level), source, where, message.c_str());
        std::fflush(d->file);
    }
}

} // namespace vexadin
