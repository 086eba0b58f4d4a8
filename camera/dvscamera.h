#pragma once

#include "camera/cameradescription.h"
#include "camera/cameratool.h"
#include "camera/event2d.h"
#include "camera/eventtriggerin.h"
#include "camera/tooltype.h"
#include "camera/vxstatisticinfo.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace vexadin {

// An event camera: live hardware, simulated or replaying a recording; callers
// cannot tell them apart. Obtained from DvsCameraManager::openCamera; dropping the
// last shared pointer closes it (streaming, recording and callbacks end first).
//
// Time stamps are µs since the camera was opened and never go back, also across
// stop()/start(). Callbacks run on the camera's own threads; they are never called
// while the camera holds a lock that a caller of these operations waits for.
class DvsCamera {
public:
    virtual ~DvsCamera();

    DvsCamera(const DvsCamera &) = delete;
    DvsCamera &operator=(const DvsCamera &) = delete;

    // False once the device is gone (unplugged, its recording vanished, or reopened
    // through another handle); the stream then delivers nothing more.
    virtual bool isConnected() = 0;

    // Trigger-in edges, on a camera thread. Ids are positive; removing an unknown id
    // (or -1) does nothing.
    virtual int addTriggerInCallback(std::function<void(EventTriggerIn)> callback) = 0;
    virtual void removeTriggerInCallback(int id) = 0;

    // Never blocks more than a few milliseconds. True with the newest complete time
    // slice (batch-slice-time long) not fetched yet; older slices the caller did not
    // fetch in time are skipped, so a live view never lags. False when no new slice
    // is complete (or the camera does not stream).
    virtual bool getNextBatch(std::vector<Event2D> &events) = 0;
    // Length of one slice in µs (clamped to [100, 1000000]); acts from the next slice.
    virtual void setBatchSliceTime(uint64_t sliceUs) = 0;

    // 0 = streaming (also when it already was); non-zero when the camera refuses.
    virtual int start() = 0;
    virtual void stop() = 0;

    // Writes the full stream (events and trigger-in edges, never skipped) to a new
    // .raw file on a thread of its own, beginning with the recording cache when one
    // is set. False, with a log line, when a recording already runs or the file
    // cannot be created.
    virtual bool startRecording(const std::string &path) = 0;
    // Keeps the last `seconds` of the stream in files inside dir (0 turns it off and
    // removes them), so a recording started later begins that far back.
    virtual bool setRecordingCache(uint16_t seconds, const std::string &dir) = 0;
    // Finishes the file (index written). False when no recording runs.
    virtual bool stopRecording() = 0;

    // About once per second, on a camera thread, while streaming. An empty function
    // unregisters.
    virtual void setStatisticInfoCallback(std::function<void(VxStatisticInfo)> callback) = 0;

    CameraDescription getDescription() const;
    // Null for a tool this camera does not have.
    std::shared_ptr<CameraTool> getTool(ToolType type) const;
    // Exactly the tools this camera has, in ToolType order.
    std::vector<ToolInfo> getAllToolsInfo() const;
    // Every tool's parameters as JSON (with the product and a format version).
    bool exportCameraConfigParams(const std::string &path) const;
    // Checks the whole file first (syntax, tools, names, types, ranges), then applies
    // all of it, or nothing: false and one log line naming the first problem.
    bool loadCameraConfigParams(const std::string &path);

protected:
    DvsCamera(CameraDescription description,
              std::vector<std::pair<ToolType, std::shared_ptr<CameraTool>>> tools);

private:
    CameraDescription description_;
    std::vector<std::pair<ToolType, std::shared_ptr<CameraTool>>> tools_; // sorted by type
};

} // namespace vexadin
