#pragma once

#include <cstdint>
#include <string>

namespace vexadin {

class DvsFileReader;

// How exported videos look. Colours are 0xRRGGBB; the defaults are the viewer's "Gray" scheme.
struct VideoExportOptions {
    uint32_t positiveRgb = 0xBFBCB4;   // 191, 188, 180
    uint32_t negativeRgb = 0x403D33;   // 64, 61, 51
    uint32_t backgroundRgb = 0x707070; // 112, 112, 112
};

// Renders the closed range [start, end] of the recording behind `reader` as an
// H.264/MP4 video. Returns false and leaves no file under outPath on failure.
bool exportEventVideo(DvsFileReader &reader, uint64_t start, uint64_t end,
                      const std::string &outPath, const VideoExportOptions &options);

} // namespace vexadin
