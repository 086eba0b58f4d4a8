#pragma once

#include "camera/cameratool.h"
#include "camera/event2d.h"
#include "driver/simulatedscene.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vexadin {

// A CameraTool over a table of typed parameters, each with its range. Reads and
// writes may come from any thread; the producer thread takes consistent copies.
// Setters refuse (false, old value kept) unknown names, wrong types and values
// outside the range; accept() lets a tool refuse combinations (ROI window).
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

    // Called with the lock held before an int change is stored; false refuses it.
    virtual bool acceptInt(const std::string &name, int value);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// Stages applied to every slice on the producer thread, in camera order:
// ROI, trail filter, anti-flicker, rate control. Each keeps its own per-pixel
// state; only the producer thread calls apply().
class EventFilterStage {
public:
    virtual ~EventFilterStage() = default;
    // Filters the slice [sliceStart, sliceEnd) in place (events stay in time order).
    virtual void apply(std::vector<Event2D> &events, uint64_t sliceStart, uint64_t sliceEnd) = 0;
};

class BiasesTool : public ParameterTool {
public:
    BiasesTool();
    PixelModelSettings settings() const; // the pixel model these biases give
};

class TriggerInTool : public ParameterTool {
public:
    explicit TriggerInTool(int channels = 2);
    int channelCount() const;
    bool channelEnabled(int channel) const;
};

class RoiTool : public ParameterTool, public EventFilterStage {
public:
    RoiTool(uint16_t sensorWidth, uint16_t sensorHeight);
    void apply(std::vector<Event2D> &events, uint64_t sliceStart, uint64_t sliceEnd) override;

protected:
    bool acceptInt(const std::string &name, int value) override;

private:
    uint16_t sensorWidth_;
    uint16_t sensorHeight_;
};

class EventTrailFilterTool : public ParameterTool, public EventFilterStage {
public:
    EventTrailFilterTool(uint16_t sensorWidth, uint16_t sensorHeight);
    ~EventTrailFilterTool() override;
    void apply(std::vector<Event2D> &events, uint64_t sliceStart, uint64_t sliceEnd) override;

private:
    struct State;
    std::unique_ptr<State> state_;
};

class AntiFlickerTool : public ParameterTool, public EventFilterStage {
public:
    AntiFlickerTool(uint16_t sensorWidth, uint16_t sensorHeight);
    ~AntiFlickerTool() override;
    void apply(std::vector<Event2D> &events, uint64_t sliceStart, uint64_t sliceEnd) override;

private:
    struct State;
    std::unique_ptr<State> state_;
};

class EventRateControlTool : public ParameterTool, public EventFilterStage {
public:
    EventRateControlTool();
    void apply(std::vector<Event2D> &events, uint64_t sliceStart, uint64_t sliceEnd) override;
};

} // namespace vexadin
