// vx-fuzz: corpus=corpus-cameraconfig seconds=15
// libFuzzer target: arbitrary bytes as a camera configuration file, checked and
// applied to a fresh set of the simulated camera's tools. A crash, sanitizer
// report, leak or timeout is a finding; a refused file is the expected outcome.
// When a file is accepted, exporting the tools again and applying that must work.
#include "driver/antiflickertool.h"
#include "driver/biasestool.h"
#include "driver/cameraconfigfile.h"
#include "driver/driverlog.h"
#include "driver/eventratecontroltool.h"
#include "driver/eventtrailfiltertool.h"
#include "driver/roitool.h"
#include "driver/triggerintool.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    vexadin::setDriverLogHook([](vexadin::DriverLogLevel, const std::string &) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace vexadin;
    // A small sensor keeps the per-pixel filter state cheap to build for every input.
    constexpr uint16_t kWidth = 64, kHeight = 48;
    CameraDescription camera;
    camera.serial = "FUZZ";
    camera.product = "EVK4";
    camera.width = kWidth;
    camera.height = kHeight;
    const CameraConfigFile::Tools tools = {
        {TOOL_BIASES, std::make_shared<BiasesTool>()},
        {TOOL_TRIGGER_IN, std::make_shared<TriggerInTool>()},
        {TOOL_ANTI_FLICKER, std::make_shared<AntiFlickerTool>(kWidth, kHeight)},
        {TOOL_EVENT_TRAIL_FILTER, std::make_shared<EventTrailFilterTool>(kWidth, kHeight)},
        {TOOL_EVENT_RATE_CONTROL, std::make_shared<EventRateControlTool>()},
        {TOOL_ROI, std::make_shared<RoiTool>(kWidth, kHeight)},
    };
    const std::string text(reinterpret_cast<const char *>(data), size);
    std::string error;
    const std::string before = CameraConfigFile::toText(camera, tools);
    if (CameraConfigFile::apply(text, camera, tools, &error)) {
        if (!CameraConfigFile::apply(CameraConfigFile::toText(camera, tools), camera, tools, &error))
            std::abort(); // what the tools hold must always load back
    } else if (CameraConfigFile::toText(camera, tools) != before) {
        std::abort(); // a refused file changed something
    }
    return 0;
}
