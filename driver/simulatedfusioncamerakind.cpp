#include "driver/simulatedfusioncamerakind.h"

#include "driver/cameraregistry.h"
#include "driver/cameratesthooks.h"
#include "driver/driverlog.h"
#include "driver/simulatedcamerakind.h"

#include <cstdlib>
#include <cstring>
#include <cerrno>

namespace vexadin {

namespace {

// Whole number of the environment variable within [min, max]; false when unset,
// logged when set but unusable.
bool readSize(const char *variable, const std::string &text, long min, long max, long &value)
{
    char *end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || errno != 0 || *end != '\0' || v < min || v > max) {
        driverLog(DriverLogLevel::Warning, std::string(variable) + "=" + text + " ignored: expected " +
                                               std::to_string(min) + " to " + std::to_string(max));
        return false;
    }
    value = v;
    return true;
}

} // namespace

std::vector<CameraDescription> SimulatedFusionCameraKind::list()
{
    if (!SimulatedCameraKind::enabled())
        return {};
    CameraDescription d;
    d.serial = kSerial;
    d.product = kProduct;
    d.manufacturer = SimulatedCameraKind::kManufacturer;
    d.width = SimulatedFusionCamera::kEventWidth;
    d.height = SimulatedFusionCamera::kEventHeight;
    d.kind = kKind;
    return {d};
}

SimulatedFusionCamera::Options SimulatedFusionCameraKind::optionsFromEnvironment()
{
    SimulatedFusionCamera::Options options;
    options.firmware = testhooks::fusionFirmwareVersion();
    if (const char *size = std::getenv("VEXADIN_FUSION_FRAME_SIZE"); size && *size) {
        const std::string text = size;
        const size_t x = text.find_first_of("xX");
        long w = 0, h = 0;
        if (x == std::string::npos) {
            driverLog(DriverLogLevel::Warning,
                      "VEXADIN_FUSION_FRAME_SIZE=" + text + " ignored: expected WIDTHxHEIGHT, for example 1920x1080");
        } else if (readSize("VEXADIN_FUSION_FRAME_SIZE width", text.substr(0, x), 16,
                            SimulatedFusionCamera::kFrameWidth, w) &&
                   readSize("VEXADIN_FUSION_FRAME_SIZE height", text.substr(x + 1), 16,
                            SimulatedFusionCamera::kFrameHeight, h)) {
            if (w % 2 || h % 2) // the video of a recording needs even sizes
                driverLog(DriverLogLevel::Warning, "VEXADIN_FUSION_FRAME_SIZE=" + text + " ignored: sizes must be even");
            else {
                options.frameWidth = uint16_t(w);
                options.frameHeight = uint16_t(h);
            }
        }
    }
    if (const char *fps = std::getenv("VEXADIN_FUSION_FPS"); fps && *fps) {
        long v = 0;
        if (readSize("VEXADIN_FUSION_FPS", fps, 1, 120, v))
            options.fps = uint32_t(v);
    }
    // The same scene as the simulated event camera of the same size.
    options.seed = SimulatedCameraKind::sceneSeed(SimulatedCameraKind::kEvk4Serial);
    return options;
}

std::shared_ptr<FusionCamera> SimulatedFusionCameraKind::openFusionCamera(const CameraDescription &description)
{
    auto camera = std::make_shared<SimulatedFusionCamera>(description, optionsFromEnvironment());
    // The test hooks (unplug) reach the camera through its event side; opening the
    // serial again disconnects the earlier handle.
    CameraRegistry::instance().adopt(description.serial, camera->eventCamera());
    return camera;
}

} // namespace vexadin
