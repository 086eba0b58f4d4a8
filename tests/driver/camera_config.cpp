// Camera configuration files: export, change, load gives the exported values
// back; a damaged, foreign or refused file changes nothing and says why in one
// log line.
#include "camera/dvscamera.h"
#include "camera/dvscameramanager.h"
#include "driver/cameraconfigfile.h"
#include "driver/driverlog.h"
#include "driver/simulatedcamerakind.h"
#include "support/cameratestkit.h"
#include "support/syntheticevents.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <sstream>

using namespace vexadin;

namespace {

// Every parameter of every tool, as text.
std::map<std::string, std::string> snapshot(DvsCamera &camera)
{
    std::map<std::string, std::string> values;
    for (const ToolInfo &info : camera.getAllToolsInfo()) {
        auto tool = camera.getTool(info.type);
        for (const auto &p : tool->getParameters()) {
            std::string v;
            switch (p.second.type) {
            case PARAM_INT: { int i = 0; tool->getIntValue(p.first, i); v = std::to_string(i); break; }
            case PARAM_FLOAT: { float f = 0; tool->getFloatValue(p.first, f); v = std::to_string(f); break; }
            case PARAM_BOOL: { bool b = false; tool->getBoolValue(p.first, b); v = b ? "true" : "false"; break; }
            case PARAM_ENUM: tool->getEnumValue(p.first, v); break;
            }
            values[info.name + "." + p.first] = v;
        }
    }
    return values;
}

struct LogCapture {
    std::mutex m;
    std::vector<std::string> lines;
    LogCapture()
    {
        setDriverLogHook([this](DriverLogLevel, const std::string &line) {
            std::lock_guard<std::mutex> lock(m);
            lines.push_back(line);
        });
    }
    ~LogCapture() { setDriverLogHook({}); }
    std::vector<std::string> take()
    {
        std::lock_guard<std::mutex> lock(m);
        std::vector<std::string> out;
        out.swap(lines);
        return out;
    }
};

void writeText(const std::string &path, const std::string &text)
{
    std::ofstream(path, std::ios::binary) << text;
}

std::string readText(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class CameraConfig : public ::testing::Test {
protected:
    void SetUp() override
    {
        camera_ = manager_.openCamera(SimulatedCameraKind::kEvk4Serial);
        ASSERT_TRUE(camera_);
    }
    std::shared_ptr<CameraTool> tool(ToolType t) { return camera_->getTool(t); }

    vxtest::ScopedCameraFolder cameras_;
    vxtest::ScopedTempFolder files_{"config"};
    DvsCameraManager manager_;
    std::shared_ptr<DvsCamera> camera_;
};

} // namespace

TEST_F(CameraConfig, ExportChangeLoadGivesTheExportedValuesBack)
{
    ASSERT_TRUE(tool(TOOL_BIASES)->setIntValue("bandwidth", -40));
    ASSERT_TRUE(tool(TOOL_ANTI_FLICKER)->setFloatValue("duty_cycle", 37.5f));
    ASSERT_TRUE(tool(TOOL_ANTI_FLICKER)->setEnumValue("mode", "band_pass"));
    ASSERT_TRUE(tool(TOOL_TRIGGER_IN)->setBoolValue("channel_1", true));
    ASSERT_TRUE(tool(TOOL_ROI)->setIntValue("width", 200));
    ASSERT_TRUE(tool(TOOL_ROI)->setIntValue("x", 1000));
    const std::map<std::string, std::string> exported = snapshot(*camera_);
    const std::string path = files_.file("evk4.json");
    ASSERT_TRUE(camera_->exportCameraConfigParams(path));

    const nlohmann::json json = nlohmann::json::parse(readText(path));
    EXPECT_EQ(json["format"], CameraConfigFile::kFormatName);
    EXPECT_EQ(json["version"], CameraConfigFile::kFormatVersion);
    EXPECT_EQ(json["product"], "EVK4");
    EXPECT_EQ(json["tools"].size(), 6u);
    EXPECT_EQ(json["tools"]["ROI"]["x"], 1000);
    EXPECT_EQ(json["tools"]["Anti Flicker"]["mode"], "band_pass");

    // Back to the defaults with the window moved the other way: the load must
    // move and shrink in an order the camera accepts.
    ASSERT_TRUE(tool(TOOL_ROI)->setIntValue("x", 0));
    ASSERT_TRUE(tool(TOOL_ROI)->setIntValue("width", 1280));
    ASSERT_TRUE(tool(TOOL_BIASES)->setIntValue("bandwidth", 30));
    ASSERT_TRUE(tool(TOOL_ANTI_FLICKER)->setFloatValue("duty_cycle", 90.0f));
    ASSERT_TRUE(tool(TOOL_ANTI_FLICKER)->setEnumValue("mode", "band_stop"));
    ASSERT_TRUE(tool(TOOL_TRIGGER_IN)->setBoolValue("channel_1", false));
    ASSERT_NE(snapshot(*camera_), exported);
    ASSERT_TRUE(camera_->loadCameraConfigParams(path));
    EXPECT_EQ(snapshot(*camera_), exported);
}

TEST_F(CameraConfig, BadFilesChangeNothingAndNameTheirFirstProblem)
{
    const std::string good = files_.file("good.json");
    ASSERT_TRUE(camera_->exportCameraConfigParams(good));
    const std::string text = readText(good);
    ASSERT_TRUE(tool(TOOL_BIASES)->setIntValue("noise_level", 12)); // differs from the file
    const std::map<std::string, std::string> before = snapshot(*camera_);

    auto edited = [&](const std::function<void(nlohmann::ordered_json &)> &edit) {
        nlohmann::ordered_json j = nlohmann::ordered_json::parse(text);
        edit(j);
        return j.dump(2);
    };
    const struct {
        std::string name, content, expected;
    } cases[] = {
        {"truncated", text.substr(0, text.size() / 2), "not valid JSON"},
        {"not json", "noise_level = 12\n", "not valid JSON"},
        {"number too large", "{\"format\": 444e04444444}", "not valid JSON"},
        {"array", "[1, 2]", "not a JSON object"},
        {"format", edited([](auto &j) { j["format"] = "something-else"; }), "not a camera configuration"},
        {"newer", edited([](auto &j) { j["version"] = 2; }), "newer program"},
        {"foreign", edited([](auto &j) { j["product"] = "Taskelo"; }), "made for a \"Taskelo\" camera"},
        {"unknown tool", edited([](auto &j) { j["tools"]["Zoom"] = nlohmann::ordered_json::object(); }),
         "tools.Zoom: no such camera tool"},
        {"absent tool", edited([](auto &j) { j["tools"]["APS"] = nlohmann::ordered_json::object(); }),
         "tools.APS: this camera has no such tool"},
        {"unknown parameter", edited([](auto &j) { j["tools"]["ROI"]["depth"] = 3; }),
         "tools.ROI.depth: no such parameter"},
        {"string for int", edited([](auto &j) { j["tools"]["Biases"]["bandwidth"] = "10"; }),
         "tools.Biases.bandwidth: expected an integer"},
        {"float for int", edited([](auto &j) { j["tools"]["ROI"]["x"] = 1.5; }), "tools.ROI.x: expected an integer"},
        {"out of range", edited([](auto &j) { j["tools"]["ROI"]["width"] = 5000; }),
         "tools.ROI.width: 5000 is outside 1..1280"},
        {"number for bool", edited([](auto &j) { j["tools"]["ROI"]["enable"] = 1; }),
         "tools.ROI.enable: expected true or false"},
        {"unknown option", edited([](auto &j) { j["tools"]["Anti Flicker"]["mode"] = "notch"; }),
         "tools.Anti Flicker.mode: \"notch\" is not one of"},
        {"float out of range", edited([](auto &j) { j["tools"]["Anti Flicker"]["duty_cycle"] = 1000.5; }),
         "tools.Anti Flicker.duty_cycle: 1000.5 is outside"},
        // Each value in range, the window they make together leaves the sensor:
        // refused while applying, and everything set before it is put back.
        {"refused combination", edited([](auto &j) {
             j["tools"]["ROI"]["x"] = 1000;
             j["tools"]["ROI"]["width"] = 640;
         }),
         "tools.ROI.x: the camera refused"},
    };
    LogCapture log;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = files_.file("bad.json");
        writeText(path, c.content);
        log.take();
        EXPECT_FALSE(camera_->loadCameraConfigParams(path));
        const std::vector<std::string> lines = log.take();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_NE(lines[0].find(c.expected), std::string::npos) << lines[0];
        EXPECT_NE(lines[0].find(path), std::string::npos) << lines[0];
        EXPECT_EQ(snapshot(*camera_), before);
    }
    EXPECT_FALSE(camera_->loadCameraConfigParams(files_.file("missing.json")));
    EXPECT_FALSE(camera_->loadCameraConfigParams(files_.path())); // a folder
    EXPECT_FALSE(camera_->exportCameraConfigParams(files_.file("no/such/folder/x.json")));
    EXPECT_EQ(log.take().size(), 3u);
    EXPECT_EQ(snapshot(*camera_), before);
    EXPECT_TRUE(camera_->loadCameraConfigParams(good));
}

TEST_F(CameraConfig, AReplayCameraTakesOnlyItsOwnTools)
{
    vxtest::SyntheticOptions o;
    o.durationUs = 50000;
    o.eventRate = 1e5;
    RawFileHeader h;
    h.product = "EVK4";
    ASSERT_TRUE(vxtest::writeRecording(cameras_.file("replay.raw"), vxtest::generateEvents(o), {}, h));
    std::shared_ptr<DvsCamera> replay = manager_.openCamera("replay");
    ASSERT_TRUE(replay);
    const std::string simFile = files_.file("sim.json"), replayFile = files_.file("replay.json");
    ASSERT_TRUE(camera_->exportCameraConfigParams(simFile));
    ASSERT_TRUE(replay->exportCameraConfigParams(replayFile));
    const nlohmann::json json = nlohmann::json::parse(readText(replayFile));
    EXPECT_EQ(json["tools"].size(), 3u);
    EXPECT_FALSE(replay->loadCameraConfigParams(simFile)); // it has no biases
    EXPECT_TRUE(camera_->loadCameraConfigParams(replayFile)); // a subset is fine
    EXPECT_TRUE(replay->loadCameraConfigParams(replayFile));
}
