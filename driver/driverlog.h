#pragma once

#include <functional>
#include <string>

namespace vexadin {

// The driver does not use Qt; its diagnostics go through this small hook.
// Without a hook, each message is written to stderr as one line prefixed with
// "vexadin: " and the level.
enum class DriverLogLevel { Debug, Info, Warning, Error };

using DriverLogHook = std::function<void(DriverLogLevel level, const std::string &message)>;

// Installs a hook (an empty one restores stderr). Thread-safe; the hook may be
// called from any thread, serialised.
void setDriverLogHook(DriverLogHook hook);

// Writes one line. Thread-safe.
void driverLog(DriverLogLevel level, const std::string &message);

} // namespace vexadin
