// Calibration files: every field back bit for bit, and nothing changed by a file
// that is damaged, truncated, foreign or unreadable.
#include "camera/calibrationjson.h"
#include "driver/calibrationfile.h"
#include "driver/rawfileio.h"
#include "support/syntheticevents.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

using vexadin::CalibrationMatrix;
using vexadin::CalibratorParameters;

namespace {

uint64_t bitsOf(double v)
{
    uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

double fromBits(uint64_t b)
{
    double v;
    std::memcpy(&v, &b, sizeof v);
    return v;
}

::testing::AssertionResult sameBits(const std::vector<double> &a, const std::vector<double> &b)
{
    if (a.size() != b.size())
        return ::testing::AssertionFailure() << "sizes " << a.size() << " and " << b.size();
    for (size_t i = 0; i < a.size(); ++i)
        if (bitsOf(a[i]) != bitsOf(b[i]))
            return ::testing::AssertionFailure() << "value " << i << ": " << std::hexfloat << a[i] << " came back as "
                                                 << b[i];
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult sameMatrix(const CalibrationMatrix &a, const CalibrationMatrix &b)
{
    if (a.shape != b.shape)
        return ::testing::AssertionFailure() << "shapes differ";
    return sameBits(a.values, b.values);
}

::testing::AssertionResult sameRecord(const CalibratorParameters &a, const CalibratorParameters &b)
{
    if (a.label != b.label)
        return ::testing::AssertionFailure() << "label '" << a.label << "' came back as '" << b.label << "'";
    if (a.dvs_width != b.dvs_width || a.dvs_height != b.dvs_height || a.aps_width != b.aps_width ||
        a.aps_height != b.aps_height)
        return ::testing::AssertionFailure() << "sizes differ";
    if (auto r = sameMatrix(a.matrix_1, b.matrix_1); !r)
        return r << " (matrix_1)";
    if (auto r = sameMatrix(a.matrix_2, b.matrix_2); !r)
        return r << " (matrix_2)";
    if (a.transforms.size() != b.transforms.size())
        return ::testing::AssertionFailure() << "transform counts differ";
    for (const auto &kv : a.transforms) {
        const auto it = b.transforms.find(kv.first);
        if (it == b.transforms.end())
            return ::testing::AssertionFailure() << "transform '" << kv.first << "' missing";
        if (auto r = sameMatrix(kv.second, it->second); !r)
            return r << " (transform " << kv.first << ")";
    }
    if (auto r = sameBits(a.values_1, b.values_1); !r)
        return r << " (values_1)";
    if (auto r = sameBits(a.values_2, b.values_2); !r)
        return r << " (values_2)";
    return ::testing::AssertionSuccess();
}

// Doubles that printing and parsing commonly get wrong.
std::vector<double> awkwardDoubles()
{
    const double inf = std::numeric_limits<double>::infinity();
    return {1.0 / 3,
            -0.0,
            0.0,
            1e-310,                                    // subnormal
            4.9e-324,                                  // the smallest subnormal
            std::numeric_limits<double>::min(),        // the smallest normal
            std::numeric_limits<double>::max(),
            -std::numeric_limits<double>::max(),
            1e300 * 7.123456789012345,
            9007199254740993.0,                        // 2^53 + 1 (rounds to 2^53)
            0.1 + 0.2,
            3.351724137931035,
            -225.10344827586232,
            std::nextafter(1.0, 2.0),
            inf,
            -inf,
            std::numeric_limits<double>::quiet_NaN(),
            fromBits(0x7ff0000000000001ull),            // signalling NaN payload
            fromBits(0xfff8dead0000beefull)};           // negative NaN with a payload
}

CalibratorParameters fullRecord()
{
    CalibratorParameters p;
    p.label = "Omnira SN-77 \"bench\" \\ 标定";
    p.dvs_width = 1280;
    p.dvs_height = 720;
    p.aps_width = 65535;
    p.aps_height = 0;
    p.matrix_1.shape = {std::numeric_limits<int32_t>::min(), -1, std::numeric_limits<int32_t>::max()};
    p.matrix_1.values = awkwardDoubles();
    p.matrix_2.shape = {3, 3, 0};
    p.transforms["1"] = {{2, 3, 0}, {3.351724137931035, 0, -225.10344827586232, 0, 3.351724137931035, -126.62068965517255}};
    p.transforms["0"] = {{2, 3, 0}, {145.0 / 486, 0, 67.16049382716051, 0, 145.0 / 486, 37.77777777777783}};
    p.transforms[""] = {};
    p.transforms["extra key é"] = {{0, 0, 0}, {-0.0}};
    std::mt19937_64 rng(20240613);
    for (int i = 0; i < 4000; ++i) { // random bit patterns over the whole range
        const double v = fromBits(rng());
        p.values_1.push_back(v);
    }
    p.values_2 = {};
    return p;
}

// A record that a failed read must leave exactly as it is.
CalibratorParameters sentinel()
{
    CalibratorParameters p;
    p.label = "keep me";
    p.dvs_width = 11;
    p.aps_height = 22;
    p.transforms["1"].values = {1, 2, 3, 4, 5, 6};
    p.values_2 = {-0.0, 1.0 / 7};
    return p;
}

struct TempFiles {
    std::vector<std::string> paths;
    std::string make(const std::string &stem, const std::string &suffix = ".json")
    {
        paths.push_back(vxtest::tempPath(stem, suffix));
        return paths.back();
    }
    ~TempFiles()
    {
        for (const auto &p : paths) {
            ::unlink(p.c_str());
            ::rmdir(p.c_str());
        }
    }
};

void writeText(const std::string &path, const std::string &text)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::string readText(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

} // namespace

TEST(CalibrationJson, EveryFieldRoundTripsBitForBit)
{
    TempFiles tmp;
    const std::string path = tmp.make("calib");
    CalibratorParameters written = fullRecord();
    ASSERT_TRUE(vexadin::paramToJsonFile(written, path));

    CalibratorParameters read;
    ASSERT_TRUE(vexadin::jsonFileToParam(path, read));
    EXPECT_TRUE(sameRecord(written, read));

    // Writing what was read gives the same file again.
    const std::string path2 = tmp.make("calib2");
    ASSERT_TRUE(vexadin::paramToJsonFile(read, path2));
    EXPECT_EQ(readText(path), readText(path2));
}

TEST(CalibrationJson, DefaultRecordRoundTripsAndReplacesTheTarget)
{
    TempFiles tmp;
    const std::string path = tmp.make("calib-empty");
    CalibratorParameters empty;
    ASSERT_TRUE(vexadin::paramToJsonFile(empty, path));
    CalibratorParameters target = sentinel();
    ASSERT_TRUE(vexadin::jsonFileToParam(path, target));
    EXPECT_TRUE(sameRecord(empty, target)) << "reading replaces every field";
}

TEST(CalibrationJson, BadInputLeavesTheRecordUntouched)
{
    std::string valid = vexadin::calibrationToJson(fullRecord());
    const auto replaced = [&](const std::string &from, const std::string &to) {
        std::string s = valid;
        const size_t at = s.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return at == std::string::npos ? s : s.replace(at, from.size(), to);
    };
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"empty", ""},
        {"not JSON", "calibration: yes"},
        {"binary", std::string("\x00\x01\xff\xfe{", 5)},
        {"array", "[1, 2, 3]"},
        {"foreign object", R"({"product": "EVK4", "format_version": 1, "tools": {"Biases": {"bias_on": 5}}})"},
        {"other format", replaced("\"vexadin-calibration\"", "\"something-else\"")},
        {"newer version", replaced("\"version\": 1", "\"version\": 2")},
        {"missing field", replaced("\"values_2\"", "\"values_3\"")},
        {"size as text", replaced("\"dvs_width\": 1280", "\"dvs_width\": \"1280\"")},
        {"size too large", replaced("\"dvs_width\": 1280", "\"dvs_width\": 65536")},
        {"negative size", replaced("\"dvs_width\": 1280", "\"dvs_width\": -1")},
        {"fractional size", replaced("\"dvs_width\": 1280", "\"dvs_width\": 1280.5")},
        {"shape of two", replaced("\"shape\": [\n      3,\n      3,\n      0\n    ]", "\"shape\": [3, 3]")},
        {"shape beyond int32", replaced("2147483647", "2147483648")},
        {"value as word", replaced("\"inf\"", "\"infinity\"")},
        {"NaN without bits", replaced("\"-inf\"", "\"nan:0x\"")},
        {"NaN bits of a number", replaced("\"-inf\"", "\"nan:0x3ff0000000000000\"")},
        {"value null", replaced("\"-inf\"", "null")},
        {"transforms as list", replaced("\"transforms\": {", "\"transforms\": [], \"moved\": {")},
        {"trailing garbage", valid + "}"},
        {"deep nesting", std::string(100000, '[') + std::string(100000, ']')},
    };
    for (const auto &c : cases) {
        CalibratorParameters target = sentinel();
        std::string error;
        EXPECT_FALSE(vexadin::parseCalibrationJson(c.second, target, error)) << c.first;
        EXPECT_FALSE(error.empty()) << c.first;
        EXPECT_TRUE(sameRecord(sentinel(), target)) << c.first;
    }

    // Cut short anywhere before the closing brace: refused, record untouched.
    CalibratorParameters small = fullRecord();
    small.values_1.resize(3);
    const std::string text = vexadin::calibrationToJson(small);
    for (size_t len = 0; len < text.rfind('}'); ++len) {
        CalibratorParameters target = sentinel();
        std::string error;
        ASSERT_FALSE(vexadin::parseCalibrationJson(text.substr(0, len), target, error)) << "length " << len;
        ASSERT_TRUE(sameRecord(sentinel(), target)) << "length " << len;
    }
}

TEST(CalibrationJson, UnreadableFilesAreRefused)
{
    TempFiles tmp;
    const std::string missing = tmp.make("calib-missing");
    const std::string dir = tmp.make("calib-dir", "");
    ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
    const std::string fifo = tmp.make("calib-fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string truncated = tmp.make("calib-cut");
    const std::string valid = vexadin::calibrationToJson(fullRecord());
    writeText(truncated, valid.substr(0, valid.size() / 2));

    for (const std::string &path : {std::string(), missing, dir, fifo, truncated}) {
        CalibratorParameters target = sentinel();
        EXPECT_FALSE(vexadin::jsonFileToParam(path, target)) << path; // a FIFO must not block
        EXPECT_TRUE(sameRecord(sentinel(), target)) << path;
    }
}

TEST(CalibrationJson, FailedWriteKeepsTheOldFileAndLeavesNoTemporary)
{
    TempFiles tmp;
    const std::string dir = tmp.make("calib-writedir", "");
    ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
    const std::string path = dir + "/calibration.json";
    tmp.paths.insert(tmp.paths.begin(), path); // removed before its folder

    CalibratorParameters first = sentinel();
    ASSERT_TRUE(vexadin::paramToJsonFile(first, path));
    const std::string before = readText(path);

    CalibratorParameters second = fullRecord();
    vexadin::fileio_faults::failWrite(1, true);
    EXPECT_FALSE(vexadin::paramToJsonFile(second, path));
    vexadin::fileio_faults::reset();
    EXPECT_EQ(readText(path), before) << "a failed write must not damage the existing file";
    std::string listing;
    {
        std::unique_ptr<FILE, int (*)(FILE *)> ls(::popen(("ls -A '" + dir + "'").c_str(), "r"), ::pclose);
        char buf[256];
        while (ls && std::fgets(buf, sizeof buf, ls.get()))
            listing += buf;
    }
    EXPECT_EQ(listing, "calibration.json\n") << "temporary files left behind";

    EXPECT_FALSE(vexadin::paramToJsonFile(second, dir + "/no/such/folder/c.json"));
}
