#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace vexadin {

class StreamingCamera;

// The cameras open in this process, by serial: one handle per device. Opening a
// serial again hands the device to the new handle and disconnects the old one.
// The test hooks find cameras here. Thread-safe.
class CameraRegistry {
public:
    static CameraRegistry &instance();

    // camera now holds serial's device; an earlier live handle is taken over.
    void adopt(const std::string &serial, const std::shared_ptr<StreamingCamera> &camera);
    // The live handle of serial, or null.
    std::shared_ptr<StreamingCamera> find(const std::string &serial);

private:
    std::mutex mutex_;
    std::map<std::string, std::weak_ptr<StreamingCamera>> cameras_;
};

} // namespace vexadin
