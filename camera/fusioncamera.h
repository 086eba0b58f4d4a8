#pragma once

#include "camera/apsframe.h"
#include "camera/calibratorparameters.h"
#include "camera/cameradescription.h"
#include "camera/cameratool.h"
#include "camera/event2d.h"
#include "camera/eventtriggerin.h"
#include "camera/streamtype.h"
#include "camera/tooltype.h"
#include "camera/vxstatisticinfo.h"

#include <functional>
#include <map>
#include <memory>
#include <string>

namespace vexadin {

// A fusion camera: an event sensor and a colour frame sensor looking at the same
// scene, plus trigger-in edges (one edge of value 1 per frame exposure) that tie
// the two streams together. Obtained from DvsCameraManager::openFusionCamera;
// dropping the last shared pointer closes it.
//
// The camera library implements the virtual operations. Callbacks run on the
// library's threads, possibly at the same time as each other and as calls from
// the application; register them before start().
class FusionCamera {
public:
    // Copies the description; the tool map starts empty.
    explicit FusionCamera(const CameraDescription &description);
    FusionCamera(const FusionCamera &) = default;
    FusionCamera(FusionCamera &&) = default;
    FusionCamera &operator=(const FusionCamera &) = default;
    FusionCamera &operator=(FusionCamera &&) = default;
    // Virtual: cameras are deleted through shared pointers to this base.
    virtual ~FusionCamera();

    // False once the device is gone; nothing more is delivered then.
    virtual bool isConnected() = 0;

    // Event batches as [begin, end), in time order.
    virtual void addEventsCallback(std::function<void(const Event2D *begin, const Event2D *end)> callback) = 0;
    // Colour frames; the frame's buffer may be reused by the camera after the callback
    // returns, so a handler that keeps the picture clones it. Returns the callback's id.
    virtual int addApsFrameCallback(std::function<void(ApsFrame frame)> callback) = 0;
    // Trigger-in edges.
    virtual void addTriggerInCallback(std::function<void(const EventTriggerIn &signal)> callback) = 0;

    // The application always passes STREAM_FUSION. start() answers true when streaming.
    virtual bool start(STREAM_TYPE type) = 0;
    virtual void stop(STREAM_TYPE type) = 0;
    // Called once before the camera is released at exit: stops streaming and recording.
    virtual void shutdown() = 0;

    // Writes the fusion recording set dir/name.raw (events and triggers, with the APS
    // time offset in its file information), dir/name.mp4 (the frames) and
    // dir/name.json (the calibration). False when a recording runs or a file cannot
    // be created.
    virtual bool startRecording(const std::string &dir, const std::string &name, STREAM_TYPE type) = 0;
    // Finishes the three files. False when no recording runs.
    virtual bool stopRecording(STREAM_TYPE type) = 0;

    // Stream statistics about once per second. This base version ignores the callback.
    virtual void setStatisticInfoCallback(std::function<void(VxStatisticInfo)> callback);

    // Hands a calibration file (see calibrationjson.h) to the camera; false when the
    // file is not a calibration or the camera refuses it.
    virtual bool writeCalibrationFile(const std::string &path) = 0;
    // The calibration stored in the camera.
    virtual bool getCalibration(CalibratorParameters &params) = 0;
    // For example "Omnira_V1.7.2".
    virtual std::string getFirmwareVersion() = 0;

    // A copy of the description given at construction.
    CameraDescription getDescription() const;
    // Null for a tool this camera does not have.
    std::shared_ptr<CameraTool> getTool(ToolType type) const;

protected:
    // For the camera library, while it constructs the camera (the map is not locked,
    // so tools are registered before the camera is shared). Replaces a tool of the
    // same type.
    void registerTool(ToolType type, std::shared_ptr<CameraTool> tool);

private:
    CameraDescription description_;
    std::map<ToolType, std::shared_ptr<CameraTool>> tools_;
};

} // namespace vexadin
