// vxraw check on a fusion recording: the .mp4 and .json of the same name are
// checked with the .raw, and a damaged one fails the check with its reason.
#include "vxrawcommands.h"

#include "camera/calibrationjson.h"
#include "support/apspattern.h"
#include "support/syntheticevents.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/log.h>
}

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace {

struct CheckRun {
    int status = -1;
    std::string out, err;
};

CheckRun check(const std::string &path)
{
    std::ostringstream out, err;
    CheckRun r;
    r.status = runVxrawArgs({"check", path}, out, err);
    r.out = out.str();
    r.err = err.str();
    return r;
}

// base.raw (APS time offset 5000 µs), base.mp4 (30 frames from APS time 0) and base.json.
struct FusionSet {
    std::string dir = vxtest::tempPath("vxraw-fusion", "");
    std::string base = dir + "/rec.2024";

    FusionSet()
    {
        ::mkdir(dir.c_str(), 0700);
        vexadin::RawFileHeader header;
        header.apsTimeOffset = 5000;
        EXPECT_TRUE(vxtest::writeRecording(base + ".raw", {{1, 1, 1, 5000}, {2, 2, 0, 1005000}}, {}, header));
        std::vector<uint64_t> stamps;
        for (uint64_t i = 0; i < 30; ++i)
            stamps.push_back(i * 33333);
        EXPECT_TRUE(vxtest::writeNumberedVideo(base + ".mp4", 64, 48, stamps));
        vexadin::CalibratorParameters params;
        params.label = "bench";
        params.dvs_width = 1280;
        params.dvs_height = 720;
        params.transforms["1"].values = {3.35, 0, -225.1, 0, 3.35, -126.6};
        EXPECT_TRUE(vexadin::paramToJsonFile(params, base + ".json"));
    }
    ~FusionSet() { std::system(("rm -rf '" + dir + "'").c_str()); }

    void truncate(const std::string &path, double fraction) const
    {
        std::ifstream in(path, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes.substr(0, size_t(bytes.size() * fraction));
    }
};

} // namespace

TEST(VxrawFusionCheck, SoundSetPassesAndReportsVideoAndCalibration)
{
    FusionSet set;
    const CheckRun r = check(set.base + ".raw");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find(set.base + ".mp4: 30 frames, 64 x 48, APS time 0 .. 966657 us (event time 5000 .. 971657 us)"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find(set.base + ".json: calibration 'bench', DVS 1280 x 720"), std::string::npos) << r.out;
}

TEST(VxrawFusionCheck, DamagedNeighbourFailsTheCheckWithItsName)
{
    av_log_set_level(AV_LOG_QUIET);
    {
        FusionSet set;
        set.truncate(set.base + ".mp4", 0.6);
        const CheckRun r = check(set.base + ".raw");
        EXPECT_EQ(r.status, 1) << r.out;
        EXPECT_NE(r.out.find(set.base + ".mp4: "), std::string::npos) << r.out;
        EXPECT_NE(r.err.find("1 problem(s)"), std::string::npos) << r.err;
    }
    {
        FusionSet set;
        set.truncate(set.base + ".json", 0.5);
        const CheckRun r = check(set.base + ".raw");
        EXPECT_EQ(r.status, 1) << r.out;
        EXPECT_NE(r.out.find(set.base + ".json: not valid JSON"), std::string::npos) << r.out;
    }
    {
        // Pictures wiped in the middle: every indexed frame must decode.
        FusionSet set;
        std::fstream f(set.base + ".mp4", std::ios::binary | std::ios::in | std::ios::out);
        f.seekp(0, std::ios::end);
        const std::streamoff size = f.tellp();
        f.seekp(size / 2);
        const std::string zeros(size_t(size / 4), '\0'); // wipes pictures in the middle of the data
        f.write(zeros.data(), std::streamsize(zeros.size()));
        f.close();
        const CheckRun r = check(set.base + ".raw");
        EXPECT_EQ(r.status, 1) << r.out;
        EXPECT_NE(r.out.find(" frames do not decode, the first at APS time "), std::string::npos) << r.out;
    }
}
