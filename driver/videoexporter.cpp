#include "driver/videoexporter.h"

namespace vexadin {

bool exportEventVideo(DvsFileReader &, uint64_t, uint64_t, const std::string &, const VideoExportOptions &)
{
    return false; // video export arrives with the playback work
}

} // namespace vexadin
