// "vxraw cameras" and "vxraw record": the camera library without the GUI.
#include "vxrawcommands.h"

#include "camera/dvscamera.h"
#include "camera/dvscameramanager.h"
#include "driver/cameraconfigfile.h"
#include "driver/rawfilereader.h"
#include "driver/streamrecorder.h"

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ostream>
#include <thread>

namespace {

using vexadin::CameraTool;
using vexadin::DvsCamera;

int fail(std::ostream &err, int status, const std::string &message)
{
    return vxrawFail(err, "record", status, message);
}

// "Event Rate Control", "event_rate_control" and "EventRateControl" name one tool.
std::string toolKey(const std::string &name)
{
    std::string key;
    for (char c : name)
        if (std::isalnum(static_cast<unsigned char>(c)))
            key.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    return key;
}

bool parseSeconds(const std::string &text, double &seconds)
{
    if (text.empty() || !(std::isdigit(static_cast<unsigned char>(text[0])) || text[0] == '.'))
        return false;
    char *end = nullptr;
    seconds = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size() && std::isfinite(seconds) && seconds > 0 && seconds <= 86400;
}

bool parseInt(const std::string &text, int &value)
{
    if (text.empty())
        return false;
    char *end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || end != text.c_str() + text.size() || v < INT32_MIN || v > INT32_MAX)
        return false;
    value = static_cast<int>(v);
    return true;
}

// Applies one "--set TOOL.PARAM=VALUE". Returns 0, or the exit status after writing the error.
int applySetting(DvsCamera &camera, const std::string &setting, std::ostream &err)
{
    const size_t dot = setting.find('.');
    const size_t eq = setting.find('=');
    if (dot == std::string::npos || eq == std::string::npos || eq < dot)
        return fail(err, kVxrawUsage, "--set " + setting + ": expected TOOL.PARAM=VALUE");
    const std::string toolName = setting.substr(0, dot);
    const std::string name = setting.substr(dot + 1, eq - dot - 1);
    const std::string value = setting.substr(eq + 1);
    std::shared_ptr<CameraTool> tool;
    for (const vexadin::ToolInfo &info : camera.getAllToolsInfo())
        if (toolKey(info.name) == toolKey(toolName))
            tool = camera.getTool(info.type);
    if (!tool)
        return fail(err, kVxrawUsage, "--set " + setting + ": this camera has no tool '" + toolName + "'");
    const auto parameters = tool->getParameters();
    const auto p = parameters.find(name);
    if (p == parameters.end())
        return fail(err, kVxrawUsage, "--set " + setting + ": tool '" + toolName + "' has no parameter '" + name + "'");

    bool accepted = false;
    std::string range;
    switch (p->second.type) {
    case vexadin::PARAM_INT: {
        int v = 0;
        if (!parseInt(value, v))
            return fail(err, kVxrawUsage, "--set " + setting + ": '" + value + "' is not an integer");
        vexadin::IntParameterInfo info;
        if (tool->getIntParamInfo(name, info))
            range = " (range " + std::to_string(info.min) + ".." + std::to_string(info.max) + ")";
        accepted = tool->setIntValue(name, v);
        break;
    }
    case vexadin::PARAM_FLOAT: {
        char *end = nullptr;
        const float v = std::strtof(value.c_str(), &end);
        if (value.empty() || end != value.c_str() + value.size() || !std::isfinite(v))
            return fail(err, kVxrawUsage, "--set " + setting + ": '" + value + "' is not a number");
        accepted = tool->setFloatValue(name, v);
        break;
    }
    case vexadin::PARAM_BOOL: {
        const std::string v = toolKey(value);
        if (v != "true" && v != "false" && v != "on" && v != "off" && v != "1" && v != "0")
            return fail(err, kVxrawUsage, "--set " + setting + ": expected true or false");
        accepted = tool->setBoolValue(name, v == "true" || v == "on" || v == "1");
        break;
    }
    case vexadin::PARAM_ENUM:
        accepted = tool->setEnumValue(name, value);
        break;
    default:
        return fail(err, kVxrawUsage, "--set " + setting + ": parameter type not supported");
    }
    if (!accepted)
        return fail(err, kVxrawFailed, "--set " + setting + ": the camera refused the value" + range);
    return kVxrawOk;
}

} // namespace

int runVxrawCameras(const std::vector<std::string> &args, std::ostream &out, std::ostream &err)
{
    if (!args.empty())
        return vxrawFail(err, "cameras", kVxrawUsage, "expected: vxraw cameras");
    vexadin::DvsCameraManager manager;
    for (const vexadin::CameraDescription &d : manager.getCameraDescs())
        out << d.serial << '\t' << d.product << '\t' << d.width << 'x' << d.height << '\t' << d.kind << '\n';
    return out ? kVxrawOk : vxrawFail(err, "cameras", kVxrawFailed, "write error on standard output");
}

int runVxrawRecord(const std::vector<std::string> &args, std::ostream &out, std::ostream &err)
{
    const char *usage = "expected: vxraw record SERIAL OUT.raw --seconds N [--config FILE.json] "
                        "[--set TOOL.PARAM=VALUE ...]";
    std::vector<std::string> positional, settings;
    std::string secondsText, config;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &a = args[i];
        std::string name = a, value;
        const bool option = a.size() > 2 && a.compare(0, 2, "--") == 0;
        if (!option) {
            positional.push_back(a);
            continue;
        }
        const size_t eq = a.find('=');
        if (eq != std::string::npos) {
            name = a.substr(0, eq);
            value = a.substr(eq + 1);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            return fail(err, kVxrawUsage, a + " needs a value");
        }
        if (name == "--seconds")
            secondsText = value;
        else if (name == "--config")
            config = value;
        else if (name == "--set")
            settings.push_back(value);
        else
            return fail(err, kVxrawUsage, "unknown option " + name);
    }
    if (positional.size() != 2 || secondsText.empty())
        return fail(err, kVxrawUsage, usage);
    double seconds = 0;
    if (!parseSeconds(secondsText, seconds))
        return fail(err, kVxrawUsage, "--seconds: expected a duration in seconds (0 < N <= 86400), got '" +
                                          secondsText + "'");
    const std::string &serial = positional[0];
    const std::string &outPath = positional[1];

    vexadin::DvsCameraManager manager;
    std::shared_ptr<DvsCamera> camera = manager.openCamera(serial);
    if (!camera)
        return fail(err, kVxrawUsage, "no camera with serial '" + serial + "' (see vxraw cameras)");

    if (!config.empty()) {
        vexadin::CameraConfigFile::Tools tools;
        for (const vexadin::ToolInfo &info : camera->getAllToolsInfo())
            tools.emplace_back(info.type, camera->getTool(info.type));
        std::string error;
        if (!vexadin::CameraConfigFile::load(config, camera->getDescription(), tools, &error))
            return fail(err, kVxrawFailed, config + ": " + error);
    }
    for (const std::string &setting : settings)
        if (const int status = applySetting(*camera, setting, err))
            return status;

    if (camera->start() != 0)
        return fail(err, kVxrawFailed, "camera '" + serial + "' refused to start");
    if (!camera->startRecording(outPath)) {
        camera->stop();
        const std::string why = vxrawLastDriverLine();
        return fail(err, kVxrawFailed, why.empty() ? "cannot record to '" + outPath + "'" : why);
    }
    const auto begin = std::chrono::steady_clock::now();
    const auto until = begin + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                   std::chrono::duration<double>(seconds));
    bool connected = true;
    while (std::chrono::steady_clock::now() < until) {
        if (!camera->isConnected()) {
            connected = false;
            break;
        }
        std::this_thread::sleep_until(std::min(until, std::chrono::steady_clock::now() + std::chrono::milliseconds(50)));
    }
    const bool finished = camera->stopRecording();
    camera->stop();
    camera.reset();
    if (!finished)
        return fail(err, kVxrawFailed, vxrawLastDriverLine());
    if (!connected)
        return fail(err, kVxrawFailed, "camera '" + serial + "' was disconnected; " + outPath + " holds what came before");

    std::unique_ptr<vexadin::RawFileReader> reader = vexadin::RawFileReader::create(outPath);
    vexadin::DvsFileInfo info;
    if (!reader || !reader->open() || !reader->getFileInfo(info))
        return fail(err, kVxrawFailed, outPath + ": the recording cannot be read back");
    uint64_t lost = 0;
    for (const auto &kv : info.metadata)
        if (kv.first == vexadin::StreamRecorder::kLostEventsKey)
            lost = std::strtoull(kv.second.c_str(), nullptr, 10);
    out << "recorded " << info.eventCount << " events, " << info.triggerCount << " triggers from " << serial << " to "
        << outPath << '\n';
    if (lost != 0)
        return fail(err, kVxrawFailed, outPath + ": " + std::to_string(lost) +
                                           " events could not be written in time (the disk did not keep up)");
    return kVxrawOk;
}
