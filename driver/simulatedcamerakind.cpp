#include "driver/simulatedcamerakind.h"

#include "driver/antiflickertool.h"
#include "driver/biasestool.h"
#include "driver/eventratecontroltool.h"
#include "driver/eventtrailfiltertool.h"
#include "driver/roitool.h"
#include "driver/simulatedsource.h"
#include "driver/streamingcamera.h"
#include "driver/triggerintool.h"

#include <cstdlib>
#include <cstring>

namespace vexadin {

namespace {

CameraDescription describe(const char *serial, const char *product, uint16_t width, uint16_t height)
{
    CameraDescription d;
    d.serial = serial;
    d.product = product;
    d.manufacturer = SimulatedCameraKind::kManufacturer;
    d.width = width;
    d.height = height;
    d.kind = SimulatedCameraKind::kKind;
    return d;
}

// The same serial always shows the same scene.
uint64_t seedOf(const std::string &serial)
{
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : serial)
        h = (h ^ c) * 1099511628211ull;
    return h;
}

} // namespace

bool SimulatedCameraKind::enabled()
{
    const char *v = std::getenv("VEXADIN_SIMULATED_CAMERAS");
    return !(v && std::strcmp(v, "0") == 0);
}

std::vector<CameraDescription> SimulatedCameraKind::list()
{
    if (!enabled())
        return {};
    return {describe(kEvk4Serial, "EVK4", 1280, 720), describe(kTaskeloSerial, "Taskelo", 640, 480)};
}

std::shared_ptr<StreamingCamera> SimulatedCameraKind::openCamera(const CameraDescription &d)
{
    auto biases = std::make_shared<BiasesTool>();
    auto triggerIn = std::make_shared<TriggerInTool>();
    auto antiFlicker = std::make_shared<AntiFlickerTool>(d.width, d.height);
    auto trail = std::make_shared<EventTrailFilterTool>(d.width, d.height);
    auto rateControl = std::make_shared<EventRateControlTool>();
    auto roi = std::make_shared<RoiTool>(d.width, d.height);

    StreamingCamera::Setup setup;
    setup.description = d;
    setup.tools = {{TOOL_BIASES, biases},          {TOOL_TRIGGER_IN, triggerIn},
                   {TOOL_ANTI_FLICKER, antiFlicker}, {TOOL_EVENT_TRAIL_FILTER, trail},
                   {TOOL_EVENT_RATE_CONTROL, rateControl}, {TOOL_ROI, roi}};
    setup.stages = {roi.get(), trail.get(), antiFlicker.get(), rateControl.get()};
    setup.source = std::make_unique<SimulatedSource>(d.width, d.height, seedOf(d.serial), biases, triggerIn);
    return std::make_shared<StreamingCamera>(std::move(setup));
}

} // namespace vexadin
