#pragma once

#include <functional>
#include <string>

namespace vexadin {

// The driver does not use Qt; its diagnostics go through this small hook.
// Without a hook, each message goes to the library's Logger (one line to stderr
// and to the log file, with time and level).
enum class DriverLogLevel { Debug, Info, Warning, Error };

using DriverLogHook = std::function<void(DriverLogLevel level, const std::string &message)>;

// Installs a hook (an empty one restores stderr). Thread-safe; the hook may be
// called from any thread, serialised.
void setDriverLogHook(DriverLogHook hook);

// Writes one line. Thread-safe.
void driverLog(DriverLogLevel level, const std::string &message);

} // namespace vexadin
