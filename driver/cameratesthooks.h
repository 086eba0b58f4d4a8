#pragma once

#include <cstdint>
#include <string>

// Test-only controls of our simulated and replay cameras, reached by serial so
// that tests of the window can drive a camera the window opened itself.
// Each answers false when no open camera has that serial.
namespace vexadin::testhooks {

// As if the cable were pulled: isConnected() turns false within one batch period
// and the camera delivers nothing more.
bool unplugCamera(const std::string &serial);

// Delivers one trigger-in edge (1 or 0) at the camera's current time to every
// registered trigger-in callback, and into a running recording (within one
// producer step, a few ms; also when the camera does not stream).
bool injectTriggerIn(const std::string &serial, int16_t edge, int16_t channel = 0);

// Firmware version that fusion cameras opened from now on report ("" restores
// the default "Omnira_V1.7.2").
void setFusionFirmwareVersion(const std::string &version);

constexpr const char *kDefaultFusionFirmwareVersion = "Omnira_V1.7.2";
// What a fusion camera opened now reports as its firmware version.
std::string fusionFirmwareVersion();

} // namespace vexadin::testhooks
