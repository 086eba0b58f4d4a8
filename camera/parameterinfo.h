#pragma once

#include <string>
#include <vector>

namespace vexadin {

// Value type codes of camera parameters (3 is never used).
enum ParameterType : int {
    PARAM_INT = 0,
    PARAM_FLOAT = 1,
    PARAM_BOOL = 2,
    PARAM_ENUM = 4,
};

struct BasicParameterInfo {
    std::string name;        // snake_case, unique within its tool
    std::string description; // one sentence for a tool tip
    int type = PARAM_INT;    // a ParameterType code
};

struct IntParameterInfo : BasicParameterInfo {
    int min = 0;
    int max = 0;
    int value = 0;
    std::string unit;
};

struct FloatParameterInfo : BasicParameterInfo {
    float min = 0.0f;
    float max = 0.0f;
    float value = 0.0f;
    std::string unit;
};

struct BoolParameterInfo : BasicParameterInfo {
    bool value = false;
};

struct EnumParameterInfo : BasicParameterInfo {
    std::vector<std::string> options; // in display order
    std::string value;
};

} // namespace vexadin
