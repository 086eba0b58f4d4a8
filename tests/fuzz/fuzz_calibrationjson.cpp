// vx-fuzz: corpus=corpus-calibrationjson seconds=10
// libFuzzer target: arbitrary bytes as a calibration file. A parse either fails
// leaving the record untouched, or succeeds and writing the record gives text
// that parses back to exactly the same record (doubles bit for bit).
#include "driver/calibrationfile.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool sameBits(const std::vector<double> &a, const std::vector<double> &b)
{
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

bool sameMatrix(const vexadin::CalibrationMatrix &a, const vexadin::CalibrationMatrix &b)
{
    return a.shape == b.shape && sameBits(a.values, b.values);
}

bool sameRecord(const vexadin::CalibratorParameters &a, const vexadin::CalibratorParameters &b)
{
    if (a.label != b.label || a.dvs_width != b.dvs_width || a.dvs_height != b.dvs_height ||
        a.aps_width != b.aps_width || a.aps_height != b.aps_height || !sameMatrix(a.matrix_1, b.matrix_1) ||
        !sameMatrix(a.matrix_2, b.matrix_2) || !sameBits(a.values_1, b.values_1) ||
        !sameBits(a.values_2, b.values_2) || a.transforms.size() != b.transforms.size())
        return false;
    for (const auto &kv : a.transforms) {
        const auto it = b.transforms.find(kv.first);
        if (it == b.transforms.end() || !sameMatrix(kv.second, it->second))
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    vexadin::CalibratorParameters params;
    params.label = "untouched";
    params.values_1 = {1.5};
    std::string error;
    if (!vexadin::parseCalibrationJson(text, params, error)) {
        if (params.label != "untouched" || params.values_1.size() != 1 || error.empty())
            std::abort(); // a failed parse changed the record or gave no reason
        return 0;
    }
    vexadin::CalibratorParameters again;
    if (!vexadin::parseCalibrationJson(vexadin::calibrationToJson(params), again, error) || !sameRecord(params, again))
        std::abort(); // what we write must read back exactly
    return 0;
}
