#pragma once

#include "camera/calibratorparameters.h"

#include <string>

namespace vexadin {

// The calibration file format behind paramToJsonFile / jsonFileToParam, with the
// reason of a failure handed back instead of logged (for tools and tests).
//
// Layout (JSON object; unknown keys are ignored):
//   "format": "vexadin-calibration", "version": 1,
//   "label": string,
//   "dvs_width", "dvs_height", "aps_width", "aps_height": integers 0..65535,
//   "matrix_1", "matrix_2": matrix,
//   "transforms": object from key to matrix,
//   "values_1", "values_2": arrays of doubles,
// where a matrix is {"shape": [three 32-bit integers], "values": [doubles]}.
// A double is a JSON number when finite (written with enough digits to read back
// bit for bit), else a string: "inf", "-inf", or "nan:0x" + its 16 hex digits.

// Parses JSON text; on failure `params` is untouched and `error` says why.
bool parseCalibrationJson(const std::string &text, CalibratorParameters &params, std::string &error);
std::string calibrationToJson(const CalibratorParameters &params);

// Files: reading refuses anything but a regular file of sane size; writing goes
// through a temporary name and a rename.
bool loadCalibrationFile(const std::string &path, CalibratorParameters &params, std::string &error);
bool saveCalibrationFile(const CalibratorParameters &params, const std::string &path, std::string &error);

} // namespace vexadin
