#pragma once

#include "camera/calibratorparameters.h"

#include <string>

namespace vexadin {

// Calibration files (JSON). Every field of the record round-trips exactly, doubles
// bit for bit (also -0.0, subnormals, infinities and NaNs). Paths are in the local
// 8-bit encoding. Thread-safe.

// Writes params to path (through a temporary file in the same folder, so a failed
// write never leaves a half-written file under path). False, with one log line,
// when the file cannot be written.
bool paramToJsonFile(CalibratorParameters &params, const std::string &path);

// Reads path into params. False, with one log line naming the problem, for a
// missing, damaged or foreign file; params is then left exactly as it was.
bool jsonFileToParam(const std::string &path, CalibratorParameters &params);

} // namespace vexadin
