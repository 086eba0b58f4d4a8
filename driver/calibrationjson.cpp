#include "camera/calibrationjson.h"

#include "driver/calibrationfile.h"
#include "driver/driverlog.h"
#include "driver/jsonnesting.h"
#include "driver/rawfileio.h"
#include "driver/rawformaterror.h"
#include "driver/tempfilename.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <limits>
#include <unistd.h>

namespace vexadin {

namespace {

using Json = nlohmann::ordered_json;

constexpr const char *kFormatName = "vexadin-calibration";
constexpr int64_t kFormatVersion = 1;
// A calibration is a few kilobytes; anything far larger is not one.
constexpr uint64_t kMaxFileSize = 16u << 20;
// Deeper nesting than any calibration has; checked before parsing so that hostile
// input cannot make the parser or the tree's destructor recurse deeply.
constexpr int kMaxNesting = 32;

// Parsing failed: what and where (a JSON path such as transforms.1.values[3]).
struct FormatProblem {
    std::string message;
};

[[noreturn]] void fail(const std::string &where, const std::string &what)
{
    throw FormatProblem{where.empty() ? what : where + ": " + what};
}

Json doubleToJson(double v)
{
    if (std::isfinite(v))
        return v; // written with enough digits to parse back to the same bits
    if (std::isinf(v))
        return v > 0 ? "inf" : "-inf";
    uint64_t bits = 0;
    std::memcpy(&bits, &v, sizeof bits);
    char text[32];
    std::snprintf(text, sizeof text, "nan:0x%016" PRIx64, bits);
    return text;
}

double jsonToDouble(const Json &j, const std::string &where)
{
    if (j.is_number())
        return j.get<double>();
    if (!j.is_string())
        fail(where, "expected a number");
    const std::string &s = j.get_ref<const std::string &>();
    if (s == "inf")
        return std::numeric_limits<double>::infinity();
    if (s == "-inf")
        return -std::numeric_limits<double>::infinity();
    const std::string prefix = "nan:0x";
    if (s.size() == prefix.size() + 16 && s.compare(0, prefix.size(), prefix) == 0) {
        uint64_t bits = 0;
        bool hex = true;
        for (size_t i = prefix.size(); i < s.size() && hex; ++i) {
            const char c = s[i];
            const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
            hex = digit >= 0;
            bits = bits << 4 | uint64_t(hex ? digit : 0);
        }
        double v = 0;
        std::memcpy(&v, &bits, sizeof v);
        if (hex && std::isnan(v))
            return v;
    }
    fail(where, "expected a number, \"inf\", \"-inf\" or \"nan:0x<16 hex digits>\"");
}

const Json &member(const Json &object, const char *key, const std::string &where)
{
    const auto it = object.find(key);
    if (it == object.end())
        fail(where, std::string("missing \"") + key + "\"");
    return *it;
}

std::string join(const std::string &where, const std::string &key)
{
    return where.empty() ? key : where + "." + key;
}

int64_t integerIn(const Json &j, int64_t lo, int64_t hi, const std::string &where)
{
    if (j.is_number_unsigned()) {
        const uint64_t v = j.get<uint64_t>();
        if (v > uint64_t(hi))
            fail(where, "out of range");
        return int64_t(v);
    }
    if (!j.is_number_integer())
        fail(where, "expected an integer");
    const int64_t v = j.get<int64_t>();
    if (v < lo || v > hi)
        fail(where, "out of range");
    return v;
}

uint16_t sizeField(const Json &root, const char *key)
{
    return uint16_t(integerIn(member(root, key, ""), 0, 65535, key));
}

Json doublesToJson(const std::vector<double> &values)
{
    Json a = Json::array();
    for (double v : values)
        a.push_back(doubleToJson(v));
    return a;
}

std::vector<double> jsonToDoubles(const Json &j, const std::string &where)
{
    if (!j.is_array())
        fail(where, "expected an array");
    std::vector<double> values;
    values.reserve(j.size());
    for (size_t i = 0; i < j.size(); ++i)
        values.push_back(jsonToDouble(j[i], where + "[" + std::to_string(i) + "]"));
    return values;
}

Json matrixToJson(const CalibrationMatrix &m)
{
    Json j = Json::object();
    j["shape"] = Json::array({m.shape[0], m.shape[1], m.shape[2]});
    j["values"] = doublesToJson(m.values);
    return j;
}

CalibrationMatrix jsonToMatrix(const Json &j, const std::string &where)
{
    if (!j.is_object())
        fail(where, "expected an object with \"shape\" and \"values\"");
    CalibrationMatrix m;
    const std::string shapeWhere = join(where, "shape");
    const Json &shape = member(j, "shape", where);
    if (!shape.is_array() || shape.size() != 3)
        fail(shapeWhere, "expected three integers");
    for (size_t i = 0; i < 3; ++i)
        m.shape[i] = int32_t(integerIn(shape[i], std::numeric_limits<int32_t>::min(),
                                       std::numeric_limits<int32_t>::max(),
                                       shapeWhere + "[" + std::to_string(i) + "]"));
    m.values = jsonToDoubles(member(j, "values", where), join(where, "values"));
    return m;
}

CalibratorParameters jsonToParams(const Json &root)
{
    if (!root.is_object())
        fail("", "not a calibration (the top level is not an object)");
    const auto format = root.find("format");
    if (format == root.end() || !format->is_string() || format->get_ref<const std::string &>() != kFormatName)
        fail("", std::string("not a calibration (no \"format\": \"") + kFormatName + "\")");
    const Json &version = member(root, "version", "");
    if (!version.is_number_integer())
        fail("version", "expected an integer");
    if (version.get<int64_t>() != kFormatVersion)
        fail("version", std::to_string(version.get<int64_t>()) + " is not a calibration version this reader knows ("
                            + std::to_string(kFormatVersion) + ")");

    CalibratorParameters p;
    const Json &label = member(root, "label", "");
    if (!label.is_string())
        fail("label", "expected a string");
    p.label = label.get<std::string>();
    p.dvs_width = sizeField(root, "dvs_width");
    p.dvs_height = sizeField(root, "dvs_height");
    p.aps_width = sizeField(root, "aps_width");
    p.aps_height = sizeField(root, "aps_height");
    p.matrix_1 = jsonToMatrix(member(root, "matrix_1", ""), "matrix_1");
    p.matrix_2 = jsonToMatrix(member(root, "matrix_2", ""), "matrix_2");
    const Json &transforms = member(root, "transforms", "");
    if (!transforms.is_object())
        fail("transforms", "expected an object");
    for (auto it = transforms.begin(); it != transforms.end(); ++it)
        p.transforms[it.key()] = jsonToMatrix(it.value(), "transforms." + it.key());
    p.values_1 = jsonToDoubles(member(root, "values_1", ""), "values_1");
    p.values_2 = jsonToDoubles(member(root, "values_2", ""), "values_2");
    return p;
}

} // namespace

std::string calibrationToJson(const CalibratorParameters &params)
{
    Json root = Json::object();
    root["format"] = kFormatName;
    root["version"] = kFormatVersion;
    root["label"] = params.label;
    root["dvs_width"] = params.dvs_width;
    root["dvs_height"] = params.dvs_height;
    root["aps_width"] = params.aps_width;
    root["aps_height"] = params.aps_height;
    root["matrix_1"] = matrixToJson(params.matrix_1);
    root["matrix_2"] = matrixToJson(params.matrix_2);
    Json transforms = Json::object();
    for (const auto &kv : params.transforms)
        transforms[kv.first] = matrixToJson(kv.second);
    root["transforms"] = std::move(transforms);
    root["values_1"] = doublesToJson(params.values_1);
    root["values_2"] = doublesToJson(params.values_2);
    // Invalid UTF-8 in the label is replaced rather than refused: the numbers matter.
    return root.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

bool parseCalibrationJson(const std::string &text, CalibratorParameters &params, std::string &error)
{
    if (!jsonNestingWithin(text, kMaxNesting)) {
        error = "not a calibration (nested deeper than " + std::to_string(kMaxNesting) + " levels)";
        return false;
    }
    try {
        const Json root = Json::parse(text);
        CalibratorParameters parsed = jsonToParams(root);
        params = std::move(parsed);
        return true;
    } catch (const FormatProblem &p) {
        error = p.message;
    } catch (const Json::parse_error &e) {
        error = std::string("not valid JSON: ") + e.what();
    } catch (const std::exception &e) { // type errors, out of memory
        error = e.what();
    }
    return false;
}

bool loadCalibrationFile(const std::string &path, CalibratorParameters &params, std::string &error)
{
    if (path.empty()) {
        error = "no file name";
        return false;
    }
    std::string text;
    try {
        RawFile file = RawFile::openForRead(path);
        const uint64_t size = file.size();
        if (size > kMaxFileSize) {
            error = path + ": " + std::to_string(size) + " bytes is too large for a calibration";
            return false;
        }
        text.resize(size_t(size));
        text.resize(file.readAtMost(0, text.data(), text.size()));
    } catch (const RawFormatError &e) {
        error = e.what();
        return false;
    } catch (const std::exception &e) {
        error = path + ": " + e.what();
        return false;
    }
    if (!parseCalibrationJson(text, params, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

bool saveCalibrationFile(const CalibratorParameters &params, const std::string &path, std::string &error)
{
    if (path.empty()) {
        error = "no file name";
        return false;
    }
    const std::string tmp = temporarySiblingPath(path);
    try {
        const std::string text = calibrationToJson(params);
        RawFile file = RawFile::createForWrite(tmp);
        file.append(text.data(), text.size());
        file.close();
    } catch (const std::exception &e) {
        ::unlink(tmp.c_str());
        error = e.what();
        return false;
    }
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        error = path + ": cannot rename the written file: " + std::strerror(errno);
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

bool paramToJsonFile(CalibratorParameters &params, const std::string &path)
{
    std::string error;
    if (saveCalibrationFile(params, path, error))
        return true;
    driverLog(DriverLogLevel::Warning, "calibration file not written: " + error);
    return false;
}

bool jsonFileToParam(const std::string &path, CalibratorParameters &params)
{
    std::string error;
    if (loadCalibrationFile(path, params, error))
        return true;
    driverLog(DriverLogLevel::Warning, "calibration file not read: " + error);
    return false;
}

} // namespace vexadin
