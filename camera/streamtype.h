#pragma once

namespace vexadin {

// Which stream of a fusion camera an operation is about. Fusion-camera callers
// pass STREAM_FUSION; the viewer also uses the values as its view modes.
enum STREAM_TYPE : int {
    STREAM_DVS = 0,    // events
    STREAM_APS = 1,    // colour frames
    STREAM_FUSION = 2, // both
};

} // namespace vexadin
