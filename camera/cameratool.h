#pragma once

#include "camera/parameterinfo.h"

#include <map>
#include <string>

namespace vexadin {

// A group of camera parameters (biases, ROI, filters, ...). Every call may come
// from the GUI thread while the camera streams; a value that is set acts on the
// stream from the next batch on. Setters answer false, and keep the old value,
// for an unknown name, a wrong type or a value outside the parameter's range.
class CameraTool {
public:
    virtual ~CameraTool() = default;

    // Parameter name -> description, iterated in name order.
    virtual std::map<std::string, BasicParameterInfo> getParameters() = 0;

    virtual bool getEnumParamInfo(const std::string &name, EnumParameterInfo &info) = 0;
    virtual bool getBoolParamInfo(const std::string &name, BoolParameterInfo &info) = 0;
    virtual bool getFloatParamInfo(const std::string &name, FloatParameterInfo &info) = 0;
    virtual bool getIntParamInfo(const std::string &name, IntParameterInfo &info) = 0;

    virtual bool getEnumValue(const std::string &name, std::string &value) = 0;
    virtual bool getBoolValue(const std::string &name, bool &value) = 0;
    virtual bool getFloatValue(const std::string &name, float &value) = 0;
    virtual bool getIntValue(const std::string &name, int &value) = 0;

    virtual bool setEnumValue(const std::string &name, const std::string &value) = 0;
    virtual bool setBoolValue(const std::string &name, bool value) = 0;
    virtual bool setFloatValue(const std::string &name, float value) = 0;
    virtual bool setIntValue(const std::string &name, int value) = 0;
};

} // namespace vexadin
