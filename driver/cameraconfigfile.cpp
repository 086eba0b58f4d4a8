#include "driver/cameraconfigfile.h"

#include "driver/jsonnesting.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace vexadin {

namespace {

using Json = nlohmann::ordered_json;

constexpr int kMaxDepth = 16; // the layout needs 3

const std::pair<ToolType, const char *> kToolNames[] = {
    {TOOL_BIASES, "Biases"},
    {TOOL_TRIGGER_IN, "Trigger In"},
    {TOOL_ANTI_FLICKER, "Anti Flicker"},
    {TOOL_EVENT_TRAIL_FILTER, "Event Trail Filter"},
    {TOOL_EVENT_RATE_CONTROL, "Event Rate Control"},
    {TOOL_ROI, "ROI"},
    {TOOL_APS, "APS"},
};

// One value to set, checked against the parameter's type and range.
struct Change {
    CameraTool *tool = nullptr;
    std::string where; // tools.<tool>.<name>, for messages
    std::string name;
    int type = PARAM_INT;
    int intValue = 0;
    float floatValue = 0;
    bool boolValue = false;
    std::string enumValue;
};

bool setValue(const Change &c)
{
    switch (c.type) {
    case PARAM_INT: return c.tool->setIntValue(c.name, c.intValue);
    case PARAM_FLOAT: return c.tool->setFloatValue(c.name, c.floatValue);
    case PARAM_BOOL: return c.tool->setBoolValue(c.name, c.boolValue);
    case PARAM_ENUM: return c.tool->setEnumValue(c.name, c.enumValue);
    }
    return false;
}

// The parameter's present value, as a change that would restore it.
bool readValue(const Change &c, Change &current)
{
    current = c;
    switch (c.type) {
    case PARAM_INT: return c.tool->getIntValue(c.name, current.intValue);
    case PARAM_FLOAT: return c.tool->getFloatValue(c.name, current.floatValue);
    case PARAM_BOOL: return c.tool->getBoolValue(c.name, current.boolValue);
    case PARAM_ENUM: return c.tool->getEnumValue(c.name, current.enumValue);
    }
    return false;
}

// Sets every change; a value refused now may be accepted after others moved (an
// ROI window that moves and shrinks), so refused ones are retried while any pass
// makes progress. Returns the first change that never went through, or null.
const Change *setAll(const std::vector<Change> &changes)
{
    std::vector<const Change *> pending;
    for (const Change &c : changes)
        pending.push_back(&c);
    bool progress = true;
    while (!pending.empty() && progress) {
        progress = false;
        std::vector<const Change *> refused;
        for (const Change *c : pending) {
            if (setValue(*c))
                progress = true;
            else
                refused.push_back(c);
        }
        pending.swap(refused);
    }
    return pending.empty() ? nullptr : pending.front();
}

std::string describe(const Json &value)
{
    std::string text = value.dump(-1, ' ', false, Json::error_handler_t::replace);
    if (text.size() > 40)
        text = text.substr(0, 37) + "...";
    return text;
}

template <typename T>
std::string rangeText(T min, T max)
{
    std::ostringstream s;
    s << min << ".." << max;
    return s.str();
}

bool fail(std::string *error, const std::string &message)
{
    if (error)
        *error = message;
    return false;
}

// Checks one parameter value of the file; fills change.
bool checkValue(CameraTool &tool, const std::string &where, const std::string &name, const BasicParameterInfo &basic,
                const Json &value, Change &change, std::string *error)
{
    change.tool = &tool;
    change.where = where;
    change.name = name;
    change.type = basic.type;
    switch (basic.type) {
    case PARAM_INT: {
        IntParameterInfo info;
        if (!tool.getIntParamInfo(name, info))
            return fail(error, where + ": the camera gives no range for it");
        if (!value.is_number_integer())
            return fail(error, where + ": expected an integer, found " + describe(value));
        const bool negative = value.is_number_integer() && !value.is_number_unsigned() && value.get<int64_t>() < 0;
        const int64_t v = negative ? value.get<int64_t>()
                                   : int64_t(std::min<uint64_t>(value.get<uint64_t>(), uint64_t(INT64_MAX)));
        if (v < info.min || v > info.max)
            return fail(error, where + ": " + describe(value) + " is outside " + rangeText(info.min, info.max));
        change.intValue = static_cast<int>(v);
        return true;
    }
    case PARAM_FLOAT: {
        FloatParameterInfo info;
        if (!tool.getFloatParamInfo(name, info))
            return fail(error, where + ": the camera gives no range for it");
        if (!value.is_number())
            return fail(error, where + ": expected a number, found " + describe(value));
        const double v = value.get<double>();
        if (!std::isfinite(v) || v < double(info.min) || v > double(info.max))
            return fail(error, where + ": " + describe(value) + " is outside " + rangeText(info.min, info.max));
        change.floatValue = static_cast<float>(v);
        return true;
    }
    case PARAM_BOOL:
        if (!value.is_boolean())
            return fail(error, where + ": expected true or false, found " + describe(value));
        change.boolValue = value.get<bool>();
        return true;
    case PARAM_ENUM: {
        EnumParameterInfo info;
        if (!tool.getEnumParamInfo(name, info))
            return fail(error, where + ": the camera gives no options for it");
        if (!value.is_string())
            return fail(error, where + ": expected one of the option names, found " + describe(value));
        const std::string v = value.get<std::string>();
        bool known = false;
        for (const std::string &option : info.options)
            known = known || option == v;
        if (!known) {
            std::string options;
            for (const std::string &option : info.options)
                options += (options.empty() ? "" : ", ") + ("\"" + option + "\"");
            return fail(error, where + ": " + describe(value) + " is not one of " + options);
        }
        change.enumValue = v;
        return true;
    }
    }
    return fail(error, where + ": the camera's parameter has a type this file cannot hold");
}

bool planChanges(const std::string &text, const CameraDescription &camera, const CameraConfigFile::Tools &tools,
                 std::vector<Change> &changes, std::string *error)
{
    if (text.size() > CameraConfigFile::kMaxFileBytes)
        return fail(error, "larger than " + std::to_string(CameraConfigFile::kMaxFileBytes) + " bytes");
    if (!jsonNestingWithin(text, kMaxDepth))
        return fail(error, "nested deeper than a camera configuration can be");
    Json root;
    try {
        root = Json::parse(text);
    } catch (const Json::exception &e) { // syntax, and numbers too large for any type
        std::string what = e.what();
        const size_t bracket = what.find("] ");
        if (what.compare(0, 1, "[") == 0 && bracket != std::string::npos)
            what.erase(0, bracket + 2);
        return fail(error, "not valid JSON: " + what);
    }
    if (!root.is_object())
        return fail(error, "not a camera configuration (the file is not a JSON object)");
    const auto format = root.find("format");
    if (format == root.end() || !format->is_string() || format->get<std::string>() != CameraConfigFile::kFormatName)
        return fail(error, std::string("not a camera configuration (no \"format\": \"") +
                               CameraConfigFile::kFormatName + "\")");
    const auto version = root.find("version");
    if (version == root.end() || !version->is_number_integer() || version->get<int64_t>() < 1)
        return fail(error, "version: expected a format version number");
    if (!version->is_number_unsigned() || version->get<uint64_t>() > uint64_t(CameraConfigFile::kFormatVersion))
        return fail(error, "written by a newer program (format version " + describe(*version) +
                               "; this one reads version " + std::to_string(CameraConfigFile::kFormatVersion) + ")");
    const auto product = root.find("product");
    if (product == root.end() || !product->is_string())
        return fail(error, "product: expected the camera product the file was made for");
    if (product->get<std::string>() != camera.product)
        return fail(error, "made for a " + describe(*product) + " camera; this camera is a \"" + camera.product + "\"");
    const auto toolsJson = root.find("tools");
    if (toolsJson == root.end() || !toolsJson->is_object())
        return fail(error, "tools: expected an object of camera tools");

    for (auto t = toolsJson->begin(); t != toolsJson->end(); ++t) {
        const std::string toolName = t.key();
        const std::string toolWhere = "tools." + toolName;
        CameraTool *tool = nullptr;
        bool known = false;
        for (const auto &n : kToolNames) {
            if (toolName != n.second)
                continue;
            known = true;
            for (const auto &entry : tools)
                if (entry.first == n.first && entry.second)
                    tool = entry.second.get();
        }
        if (!known)
            return fail(error, toolWhere + ": no such camera tool");
        if (!tool)
            return fail(error, toolWhere + ": this camera has no such tool");
        if (!t.value().is_object())
            return fail(error, toolWhere + ": expected an object of parameter values");
        const std::map<std::string, BasicParameterInfo> parameters = tool->getParameters();
        for (auto p = t.value().begin(); p != t.value().end(); ++p) {
            const std::string where = toolWhere + "." + p.key();
            const auto info = parameters.find(p.key());
            if (info == parameters.end())
                return fail(error, where + ": no such parameter");
            Change change;
            if (!checkValue(*tool, where, p.key(), info->second, p.value(), change, error))
                return false;
            changes.push_back(std::move(change));
        }
    }
    return true;
}

bool readFile(const std::string &path, std::string &text, std::string *error)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return fail(error, "cannot open: " + std::string(std::strerror(errno)));
    if (!S_ISREG(st.st_mode)) // a folder, or a FIFO whose open would wait for a writer
        return fail(error, "not a regular file");
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return fail(error, "cannot open: " + std::string(std::strerror(errno)));
    std::ostringstream s;
    char buffer[65536];
    size_t total = 0;
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        total += static_cast<size_t>(in.gcount());
        if (total > CameraConfigFile::kMaxFileBytes)
            return fail(error, "larger than " + std::to_string(CameraConfigFile::kMaxFileBytes) + " bytes");
        s.write(buffer, in.gcount());
    }
    if (in.bad())
        return fail(error, "cannot read: " + std::string(std::strerror(errno)));
    text = s.str();
    return true;
}

} // namespace

std::string CameraConfigFile::toolName(ToolType type)
{
    for (const auto &n : kToolNames)
        if (n.first == type)
            return n.second;
    return std::string();
}

std::string CameraConfigFile::toText(const CameraDescription &camera, const Tools &tools)
{
    Json root;
    root["format"] = kFormatName;
    root["version"] = kFormatVersion;
    root["product"] = camera.product;
    root["serial"] = camera.serial;
    Json toolsJson = Json::object();
    for (const auto &entry : tools) {
        if (!entry.second)
            continue;
        CameraTool &tool = *entry.second;
        Json values = Json::object();
        for (const auto &p : tool.getParameters()) {
            const std::string &name = p.first;
            switch (p.second.type) {
            case PARAM_INT: {
                int v = 0;
                if (tool.getIntValue(name, v))
                    values[name] = v;
                break;
            }
            case PARAM_FLOAT: {
                float v = 0;
                if (tool.getFloatValue(name, v))
                    values[name] = v;
                break;
            }
            case PARAM_BOOL: {
                bool v = false;
                if (tool.getBoolValue(name, v))
                    values[name] = v;
                break;
            }
            case PARAM_ENUM: {
                std::string v;
                if (tool.getEnumValue(name, v))
                    values[name] = v;
                break;
            }
            default:
                break;
            }
        }
        toolsJson[toolName(entry.first)] = std::move(values);
    }
    root["tools"] = std::move(toolsJson);
    return root.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

bool CameraConfigFile::save(const std::string &path, const CameraDescription &camera, const Tools &tools,
                            std::string *error)
{
    if (path.empty())
        return fail(error, "no file name given");
    const std::string text = toText(camera, tools);
    const std::string temporary = path + ".tmp-" + std::to_string(::getpid());
    std::FILE *f = std::fopen(temporary.c_str(), "wb");
    if (!f)
        return fail(error, "cannot create: " + std::string(std::strerror(errno)));
    const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    const int writeErrno = errno;
    const bool closed = std::fclose(f) == 0;
    if (!written || !closed) {
        std::remove(temporary.c_str());
        return fail(error, "cannot write: " + std::string(std::strerror(written ? errno : writeErrno)));
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        const int renameErrno = errno;
        std::remove(temporary.c_str());
        return fail(error, "cannot write: " + std::string(std::strerror(renameErrno)));
    }
    return true;
}

bool CameraConfigFile::apply(const std::string &text, const CameraDescription &camera, const Tools &tools,
                             std::string *error)
{
    std::vector<Change> changes;
    if (!planChanges(text, camera, tools, changes, error))
        return false;
    std::vector<Change> previous(changes.size());
    for (size_t i = 0; i < changes.size(); ++i)
        if (!readValue(changes[i], previous[i]))
            return fail(error, changes[i].where + ": the camera does not report its present value");
    if (const Change *refused = setAll(changes)) {
        const std::string where = refused->where;
        setAll(previous); // all or nothing
        return fail(error, where + ": the camera refused the value together with the file's other values");
    }
    return true;
}

bool CameraConfigFile::load(const std::string &path, const CameraDescription &camera, const Tools &tools,
                            std::string *error)
{
    std::string text;
    return readFile(path, text, error) && apply(text, camera, tools, error);
}

} // namespace vexadin
