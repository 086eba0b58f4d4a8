#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace vexadin {

// One matrix of a fusion camera's calibration. An affine 2 x 3 matrix holds six
// values in row-major order a00, a01, a02, a10, a11, a12:
// x' = a00 * x + a01 * y + a02, y' = a10 * x + a11 * y + a12.
struct CalibrationMatrix {
    std::array<int32_t, 3> shape{}; // carried unchanged
    std::vector<double> values;
};

// The calibration record of a fusion camera: how its event grid (DVS) and its frame
// grid (APS) relate. Stored as JSON by paramToJsonFile / jsonFileToParam.
struct CalibratorParameters {
    std::string label;
    // Grid sizes in pixels; 0 until whoever fills the record sets them.
    uint16_t dvs_width = 0;
    uint16_t dvs_height = 0;
    uint16_t aps_width = 0;
    uint16_t aps_height = 0;
    CalibrationMatrix matrix_1;
    CalibrationMatrix matrix_2;
    // "1": DVS-to-APS affine, "0": APS-to-DVS affine (six values each).
    std::map<std::string, CalibrationMatrix> transforms;
    std::vector<double> values_1;
    std::vector<double> values_2;
};

} // namespace vexadin
