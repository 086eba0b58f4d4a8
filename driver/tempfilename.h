#pragma once

#include <string>

namespace vexadin {

// A name beside `path` for writing a file before it is renamed to `path`:
// path + ".part-<pid>-<n>", unique within the process and between processes.
std::string temporarySiblingPath(const std::string &path);

} // namespace vexadin
