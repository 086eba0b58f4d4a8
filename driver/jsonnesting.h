#pragma once

#include <string>

namespace vexadin {

// True when no array or object in the JSON text `text` is nested deeper than
// `limit` levels (strings skipped). The parser recurses per level, so files we
// read are checked with this before parsing: a hostile file cannot exhaust the stack.
bool jsonNestingWithin(const std::string &text, int limit);

} // namespace vexadin
