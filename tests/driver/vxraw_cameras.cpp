// "vxraw cameras" and "vxraw record": listing, recording with settings and a
// configuration file, and one-line errors with the usual exit statuses.
#include "vxrawcommands.h"

#include "camera/dvscamera.h"
#include "camera/dvscameramanager.h"
#include "driver/simulatedcamerakind.h"
#include "support/cameratestkit.h"
#include "support/syntheticevents.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

using namespace vexadin;

namespace {

constexpr const char *kTaskelo = SimulatedCameraKind::kTaskeloSerial;

struct VxrawRun {
    int status = -1;
    std::string out, err;
};

VxrawRun vxraw(const std::vector<std::string> &args)
{
    std::ostringstream out, err;
    VxrawRun r;
    r.status = runVxrawArgs(args, out, err);
    r.out = out.str();
    r.err = err.str();
    return r;
}

size_t lines(const std::string &s)
{
    size_t n = 0;
    for (char c : s)
        n += c == '\n';
    return n;
}

} // namespace

TEST(VxrawCameras, ListsEveryCameraOnALine)
{
    vxtest::ScopedCameraFolder cameras;
    vxtest::SyntheticOptions o;
    o.width = 320;
    o.height = 240;
    o.durationUs = 20000;
    RawFileHeader h;
    h.width = 320;
    h.height = 240;
    h.product = "Taskelo";
    ASSERT_TRUE(vxtest::writeRecording(cameras.file("desk.raw"), vxtest::generateEvents(o), {}, h));
    const VxrawRun r = vxraw({"cameras"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, std::string(SimulatedCameraKind::kEvk4Serial) + "\tEVK4\t1280x720\tsimulated\n" + kTaskelo +
                         "\tTaskelo\t640x480\tsimulated\n" + "desk\tTaskelo\t320x240\treplay\n");
    EXPECT_EQ(vxraw({"cameras", "extra"}).status, 2);

    // The real executable, with the simulated cameras switched off.
    const std::string outFile = cameras.file("out.txt");
    const std::string cmd = std::string("VEXADIN_SIMULATED_CAMERAS=0 '") + VX_VXRAW_EXE + "' cameras >'" + outFile +
                            "' 2>/dev/null";
    const int raw = std::system(cmd.c_str());
    ASSERT_TRUE(WIFEXITED(raw));
    EXPECT_EQ(WEXITSTATUS(raw), 0);
    std::ifstream in(outFile);
    std::stringstream s;
    s << in.rdbuf();
    EXPECT_EQ(s.str(), "desk\tTaskelo\t320x240\treplay\n");
}

TEST(VxrawCameras, RecordsWithAConfigurationAndSettings)
{
    vxtest::ScopedCameraFolder cameras;
    vxtest::ScopedTempFolder out("vxrec");
    // A configuration file with a window in the lower right corner.
    const std::string config = out.file("corner.json");
    {
        DvsCameraManager manager;
        std::shared_ptr<DvsCamera> camera = manager.openCamera(kTaskelo);
        ASSERT_TRUE(camera);
        auto roi = camera->getTool(TOOL_ROI);
        ASSERT_TRUE(roi->setIntValue("width", 320) && roi->setIntValue("height", 240) &&
                    roi->setIntValue("x", 320) && roi->setIntValue("y", 240) && roi->setBoolValue("enable", true));
        ASSERT_TRUE(camera->exportCameraConfigParams(config));
    }
    const std::string path = out.file("rec.raw");
    // --set comes after the file: the window shrinks to its upper left quarter.
    const VxrawRun r = vxraw({"record", kTaskelo, path, "--seconds", "0.4", "--config", config, "--set",
                         "roi.width=160", "--set=ROI.height=120"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.compare(0, 9, "recorded "), 0) << r.out;
    const vxtest::RecordingContent content = vxtest::readRecording(path);
    ASSERT_TRUE(content.ok);
    ASSERT_FALSE(content.events.empty());
    for (const Event2D &e : content.events) {
        ASSERT_GE(e.x, 320);
        ASSERT_LT(e.x, 480);
        ASSERT_GE(e.y, 240);
        ASSERT_LT(e.y, 360);
    }
    EXPECT_GT(content.events.back().timestamp - content.events.front().timestamp, 100000u);
    EXPECT_EQ(vxraw({"check", path}).status, 0);
}

TEST(VxrawCameras, RecordFailuresAreOneLineWithTheirStatus)
{
    vxtest::ScopedCameraFolder cameras;
    vxtest::ScopedTempFolder out("vxrecbad");
    const std::string path = out.file("x.raw");
    { std::ofstream(out.file("broken.json")) << "{\"format\": "; }
    const struct {
        std::vector<std::string> args;
        int status;
        std::string fragment;
    } cases[] = {
        {{"record", kTaskelo, path}, 2, "expected: vxraw record"},
        {{"record", kTaskelo, path, "--seconds", "0"}, 2, "--seconds"},
        {{"record", kTaskelo, path, "--seconds", "soon"}, 2, "--seconds"},
        {{"record", "no-such-camera", path, "--seconds", "1"}, 2, "no camera with serial"},
        {{"record", kTaskelo, path, "--seconds", "1", "--colour", "red"}, 2, "unknown option --colour"},
        {{"record", kTaskelo, path, "--seconds", "1", "--set", "roi.width"}, 2, "TOOL.PARAM=VALUE"},
        {{"record", kTaskelo, path, "--seconds", "1", "--set", "zoom.level=2"}, 2, "no tool 'zoom'"},
        {{"record", kTaskelo, path, "--seconds", "1", "--set", "roi.depth=2"}, 2, "no parameter 'depth'"},
        {{"record", kTaskelo, path, "--seconds", "1", "--set", "roi.width=wide"}, 2, "not an integer"},
        {{"record", kTaskelo, path, "--seconds", "1", "--set", "roi.width=5000"}, 1, "refused the value (range 1..640)"},
        {{"record", kTaskelo, path, "--seconds", "1", "--config", out.file("broken.json")}, 1, "not valid JSON"},
        {{"record", kTaskelo, out.file("no/folder/x.raw"), "--seconds", "1"}, 1, "cannot record to"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args.back());
        const VxrawRun r = vxraw(c.args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_EQ(lines(r.err), 1u) << r.err;
        EXPECT_NE(r.err.find(c.fragment), std::string::npos) << r.err;
    }
    const std::vector<std::string> left = {"broken.json"};
    EXPECT_EQ(out.entries(), left); // no recording was started by any of them
}
