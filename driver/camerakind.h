#pragma once

#include "camera/cameradescription.h"

#include <memory>
#include <vector>

namespace vexadin {

class FusionCamera;
class StreamingCamera;

// One kind of camera the manager can list and open (simulated, replay, ...). The
// manager asks every kind in its table; a new kind of camera is one more entry.
class CameraKind {
public:
    virtual ~CameraKind() = default;

    // The cameras of this kind present now.
    virtual std::vector<CameraDescription> list() = 0;
    // An event camera for one of list()'s descriptions; null when it cannot be opened.
    virtual std::shared_ptr<StreamingCamera> openCamera(const CameraDescription &) { return nullptr; }
    // A fusion camera for one of list()'s descriptions; null when this kind has none.
    virtual std::shared_ptr<FusionCamera> openFusionCamera(const CameraDescription &) { return nullptr; }
};

} // namespace vexadin
