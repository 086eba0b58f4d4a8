#include "driver/parametertool.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>

namespace vexadin {

namespace {

struct Parameter {
    BasicParameterInfo base;
    int intMin = 0, intMax = 0, intValue = 0;
    float floatMin = 0, floatMax = 0, floatValue = 0;
    bool boolValue = false;
    std::vector<std::string> options;
    std::string enumValue;
    std::string unit;
};

} // namespace

struct ParameterTool::Impl {
    // Recursive so that acceptInt(), called with the lock held, can read the
    // other values through the ordinary getters.
    mutable std::recursive_mutex mutex;
    std::map<std::string, Parameter> params;
    std::atomic<uint64_t> changes{0};

    // Null for an unknown name or another type.
    Parameter *find(const std::string &name, int type)
    {
        auto it = params.find(name);
        if (it == params.end() || it->second.base.type != type)
            return nullptr;
        return &it->second;
    }
    const Parameter *find(const std::string &name, int type) const
    {
        return const_cast<Impl *>(this)->find(name, type);
    }
};

ParameterTool::ParameterTool() : d(std::make_unique<Impl>()) {}
ParameterTool::~ParameterTool() = default;

std::map<std::string, BasicParameterInfo> ParameterTool::getParameters()
{
    std::lock_guard<std::recursive_mutex> lock(d->mutex);
    std::map<std::string, BasicParameterInfo> out;
    for (const auto &[name, p] : d->params)
        out.emplace(name, p.base);
    return out;
}

bool ParameterTool::getEnumParamInfo(const std::string &name, EnumParameterInfo &info)
{
    std::lock_guard<std::recursive_mutex> lock(d->mutex);
    const Parameter *p = d->find(name, PARAM_ENUM);
    if (!p)
        return false;
    static_cast<BasicParameterInfo &>(info) = p->base;
    info.options = p->options;
    info.value = p->enumValue;
    return true;
}

bool ParameterTool::getBoolParamInfo(const std::string &name, BoolParameterInfo &info)
{
    std::lock_guard<std::recursive_mutex> lock(d->mutex);
    const Parameter *p = d->find(name, PARAM_BOOL);
    if (!p)
        return false;
    static_cast<BasicParameterInfo &>(info) = p->base;
    info.value = p->boolValue;
    return true;
}

bool ParameterTool::getFloatParamInfo(const std::string &name, FloatParameterInfo &info)
{
    std::lock_guard<std::recursive_mutex> lock(d->mutex);
    const Parameter *p = d->find(name, PARAM_FLOAT);
    if (!p)
        return false;
    static_cast<BasicParameterInfo &>(info) = p->base;
    info.min = p->floatMin;
    info.max = p->floatMax;
    info.value = p->floatValue;
    info.unit = p->unit;
    return true;
}

bool ParameterTool::getIntParamInfo(const std::string &name, IntParameterInfo &info)
{
    std::lock_guard<std::recursive_mutex> lock(d->mutex);
    const Parameter *p = d->find(name, PARAM_INT);
    if (!p)
        return false;
    static_cast<BasicParameterInfo &>(info) = p->base;
    info.min = p->intMin;
    info.max = p->intMax;
    info.value = p->intValue;
    info.unit = p->unit;
    return true;
}

bool ParameterTool::getEnumValue(const std::string &name, std::string &value)
{
    std::lock_guard<std::recursive_mutex> lock(d->mutex);
    const Parameter *p = d->find(name, PARAM_ENUM);
    if (!p)
        return false;
    value = p->enumValue;
    return true;
}

bool ParameterTool::getBoolValue(const std::string &name, bool &value)
{
    std::lock_guard<std::recursive_mutex> lock(d->mutex);
    const Parameter *p = d->find(name, PARAM_BOOL);
    if (!p)
        return false;
    value = p->boolValue;
    return true;
}

bool ParameterTool::getFloatValue(const std::string &name, float &value)
{
    std::lock_guard<std::recursive_mutex> lock(d->mutex);
    const Parameter *p = d->find(name, PARAM_FLOAT);
    if (!p)
        return false;
    value = p->floatValue;
    return true;
}

bool ParameterTool::getIntValue(const std::string &name, int &value)
{
    std::lock_guard<std::recursive_mutex> lock(d->mutex);
    const Parameter *p = d->find(name, PARAM_INT);
    if (!p)
        return false;
    value = p->intValue;
    return true;
}

bool ParameterTool::setEnumValue(const std::string &name, const std::string &value)
{
    std::lock_guard<std::recursive_mutex> lock(d->mutex);
    Parameter *p = d->find(name, PARAM_ENUM);
    if (!p || std::find(p->options.begin(), p->options.end(), value) == p->options.end())
        return false;
    p->enumValue = value;
    d->changes.fetch_add(1, std::memory_order_release);
    return true;
}

bool ParameterTool::setBoolValue(const std::string &name, bool value)
{
    std::lock_guard<std::recursive_mutex> lock(d->mutex);
    Parameter *p = d->find(name, PARAM_BOOL);
    if (!p)
        return false;
    p->boolValue = value;
    d->changes.fetch_add(1, std::memory_order_release);
    return true;
}

bool ParameterTool::setFloatValue(const std::string &name, float value)
{
    std::lock_guard<std::recursive_mutex> lock(d->mutex);
    Parameter *p = d->find(name, PARAM_FLOAT);
    // The negated comparison also refuses NaN.
    if (!p || !(value >= p->floatMin && value <= p->floatMax))
        return false;
    p->floatValue = value;
    d->changes.fetch_add(1, std::memory_order_release);
    return true;
}

bool ParameterTool::setIntValue(const std::string &name, int value)
{
    std::lock_guard<std::recursive_mutex> lock(d->mutex);
    Parameter *p = d->find(name, PARAM_INT);
    if (!p || value < p->intMin || value > p->intMax || !acceptInt(name, value))
        return false;
    p->intValue = value;
    d->changes.fetch_add(1, std::memory_order_release);
    return true;
}

uint64_t ParameterTool::changeCount() const
{
    return d->changes.load(std::memory_order_acquire);
}

void ParameterTool::addInt(const std::string &name, const std::string &description, int min,
                           int max, int value, const std::string &unit)
{
    std::lock_guard<std::recursive_mutex> lock(d->mutex);
    Parameter p;
    p.base = {name, description, PARAM_INT};
    p.intMin = min;
    p.intMax = max;
    p.intValue = std::clamp(value, min, max);
    p.unit = unit;
    d->params[name] = std::move(p);
}

void ParameterTool::addFloat(const std::string &name, const std::string &description, float min,
                             float max, float value, const std::string &unit)
{
    std::lock_guard<std::recursive_mutex> lock(d->mutex);
    Parameter p;
    p.base = {name, description, PARAM_FLOAT};
    p.floatMin = min;
    p.floatMax = max;
    p.floatValue = std::clamp(value, min, max);
    p.unit = unit;
    d->params[name] = std::move(p);
}

void ParameterTool::addBool(const std::string &name, const std::string &description, bool value)
{
    std::lock_guard<std::recursive_mutex> lock(d->mutex);
    Parameter p;
    p.base = {name, description, PARAM_BOOL};
    p.boolValue = value;
    d->params[name] = std::move(p);
}

void ParameterTool::addEnum(const std::string &name, const std::string &description,
                            const std::vector<std::string> &options, const std::string &value)
{
    std::lock_guard<std::recursive_mutex> lock(d->mutex);
    Parameter p;
    p.base = {name, description, PARAM_ENUM};
    p.options = options;
    const bool known = std::find(options.begin(), options.end(), value) != options.end();
    p.enumValue = known || options.empty() ? value : options.front();
    d->params[name] = std::move(p);
}

int ParameterTool::intValue(const std::string &name) const
{
    std::lock_guard<std::recursive_mutex> lock(d->mutex);
    const Parameter *p = d->find(name, PARAM_INT);
    return p ? p->intValue : 0;
}

float ParameterTool::floatValue(const std::string &name) const
{
    std::lock_guard<std::recursive_mutex> lock(d->mutex);
    const Parameter *p = d->find(name, PARAM_FLOAT);
    return p ? p->floatValue : 0.0f;
}

bool ParameterTool::boolValue(const std::string &name) const
{
    std::lock_guard<std::recursive_mutex> lock(d->mutex);
    const Parameter *p = d->find(name, PARAM_BOOL);
    return p ? p->boolValue : false;
}

std::string ParameterTool::enumValue(const std::string &name) const
{
    std::lock_guard<std::recursive_mutex> lock(d->mutex);
    const Parameter *p = d->find(name, PARAM_ENUM);
    return p ? p->enumValue : std::string();
}

void ParameterTool::underLock(const std::function<void()> &f) const
{
    std::lock_guard<std::recursive_mutex> lock(d->mutex);
    f();
}

void ParameterTool::refreshIfChanged(uint64_t &seen, const std::function<void()> &read) const
{
    if (changeCount() == seen)
        return;
    std::lock_guard<std::recursive_mutex> lock(d->mutex);
    seen = changeCount();
    read();
}

bool ParameterTool::acceptInt(const std::string &, int)
{
    return true;
}

} // namespace vexadin
