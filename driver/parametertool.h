#pragma once

#include "camera/cameratool.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace vexadin {

// A CameraTool over a table of typed parameters, each with its range. Reads and
// writes may come from any thread; the producer thread takes consistent copies.
// Setters refuse (false, old value kept) unknown names, wrong types and values
// outside the range; acceptInt() lets a tool refuse combinations (ROI window).
class ParameterTool : public CameraTool {
public:
    ~ParameterTool() override;

    std::map<std::string, BasicParameterInfo> getParameters() override;
    bool getEnumParamInfo(const std::string &name, EnumParameterInfo &info) override;
    bool getBoolParamInfo(const std::string &name, BoolParameterInfo &info) override;
    bool getFloatParamInfo(const std::string &name, FloatParameterInfo &info) override;
    bool getIntParamInfo(const std::string &name, IntParameterInfo &info) override;
    bool getEnumValue(const std::string &name, std::string &value) override;
    bool getBoolValue(const std::string &name, bool &value) override;
    bool getFloatValue(const std::string &name, float &value) override;
    bool getIntValue(const std::string &name, int &value) override;
    bool setEnumValue(const std::string &name, const std::string &value) override;
    bool setBoolValue(const std::string &name, bool value) override;
    bool setFloatValue(const std::string &name, float value) override;
    bool setIntValue(const std::string &name, int value) override;

    // Bumped by every accepted change; lets the producer notice changes cheaply.
    uint64_t changeCount() const;

protected:
    ParameterTool();
    void addInt(const std::string &name, const std::string &description, int min, int max,
                int value, const std::string &unit);
    void addFloat(const std::string &name, const std::string &description, float min, float max,
                  float value, const std::string &unit);
    void addBool(const std::string &name, const std::string &description, bool value);
    void addEnum(const std::string &name, const std::string &description,
                 const std::vector<std::string> &options, const std::string &value);

    // Typed snapshot reads for subclasses (lock held inside).
    int intValue(const std::string &name) const;
    float floatValue(const std::string &name) const;
    bool boolValue(const std::string &name) const;
    std::string enumValue(const std::string &name) const;

    // Runs f with the values locked: several reads inside it form one
    // consistent snapshot, several writes one change seen at once.
    void underLock(const std::function<void()> &f) const;

    // For the producer thread at the start of a slice: when a change came since
    // seen, runs read under the lock (one consistent snapshot) and updates seen.
    void refreshIfChanged(uint64_t &seen, const std::function<void()> &read) const;

    // Called with the lock held before an int change is stored; false refuses it.
    virtual bool acceptInt(const std::string &name, int value);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace vexadin
