#pragma once

#include <cstdio>

namespace vexadin {

enum LogLevelType : int {
    LOG_TRACE = 0,
    LOG_DEBUG = 1,
    LOG_INFO = 2,
    LOG_WARNING = 3,
    LOG_ERROR = 4,
};

// The camera library's logger: one line per call, with time, level, source and
// line, to stderr and to "vexadin.log" in the application data folder.
// Thread-safe.
class Logger {
public:
    static Logger &Instance();

    void log_(LogLevelType level, const char *file, int line, const char *format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 5, 6)))
#endif
        ;

    // Where the log file is written (empty when it could not be opened).
    const char *logFilePath() const;

    Logger(const Logger &) = delete;
    Logger &operator=(const Logger &) = delete;

private:
    Logger();
    ~Logger();
    struct Impl;
    Impl *d;
};

} // namespace vexadin
