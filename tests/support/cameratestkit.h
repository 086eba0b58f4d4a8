#pragma once

// Shared by the camera tests and benchmarks: a cameras folder of one's own, replay
// recordings made from the seeded generators, and reading recordings back.

#include "camera/event2d.h"
#include "camera/eventtriggerin.h"
#include "driver/rawfilewriter.h"
#include "driver/streamingcamera.h"
#include "syntheticevents.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vxtest {

// A fresh temporary folder used as $VEXADIN_CAMERA_DIR while the object lives;
// simulated cameras listed or not. Restores the environment and removes the
// folder afterwards.
class ScopedCameraFolder {
public:
    explicit ScopedCameraFolder(bool simulatedCameras = true);
    ~ScopedCameraFolder();
    ScopedCameraFolder(const ScopedCameraFolder &) = delete;
    ScopedCameraFolder &operator=(const ScopedCameraFolder &) = delete;

    const std::string &path() const { return path_; }
    // A path inside the folder.
    std::string file(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
    std::string oldDir_, oldSimulated_;
    bool hadDir_ = false, hadSimulated_ = false;
};

// A temporary folder removed with everything in it.
class ScopedTempFolder {
public:
    explicit ScopedTempFolder(const std::string &stem);
    ~ScopedTempFolder();
    ScopedTempFolder(const ScopedTempFolder &) = delete;
    ScopedTempFolder &operator=(const ScopedTempFolder &) = delete;
    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }
    std::vector<std::string> entries() const;

private:
    std::string path_;
};

// Read back with readRecording() of syntheticevents.h.
using RecordingContent = RecordingContents;

// The events of sorted with start <= t < end.
std::vector<vexadin::Event2D> eventsIn(const std::vector<vexadin::Event2D> &sorted, uint64_t start, uint64_t end);

// The camera behind a handle from the manager (all our cameras are streaming cameras).
vexadin::StreamingCamera &streamingCamera(const std::shared_ptr<vexadin::DvsCamera> &camera);

// Waits until the camera has produced its stream up to camera time t; false after
// timeoutMs. With a raised maximum lag a camera on a slow (sanitizer) build runs
// late but whole, so tests wait for stream time rather than wall time.
bool waitStream(const vexadin::StreamingCamera &camera, uint64_t t, int timeoutMs = 60000);
// No jumping ahead however late the camera runs (see StreamingCamera::setMaxLag).
void runLateButWhole(vexadin::StreamingCamera &camera);

// Polls until pred() or timeoutMs passed; true when pred() held.
template <typename Pred>
bool waitFor(Pred pred, int timeoutMs);

// One fetched slice and its bounds in camera time.
struct Slice {
    uint64_t start = 0, end = 0;
    std::vector<vexadin::Event2D> events;
};

} // namespace vxtest

#include "support/testtime.h"

#include <chrono>
#include <thread>

template <typename Pred>
bool vxtest::waitFor(Pred pred, int timeoutMs)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(scaled(timeoutMs));
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}
