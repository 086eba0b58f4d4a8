#pragma once

#include <cstdint>
#include <string>

namespace vexadin {

class DvsFileReader;
class OperationControl;

// How exported videos look. Colours are 0xRRGGBB; the defaults are the viewer's "Gray" scheme.
struct VideoExportOptions {
    uint32_t positiveRgb = 0xBFBCB4;   // 191, 188, 180
    uint32_t negativeRgb = 0x403D33;   // 64, 61, 51
    uint32_t backgroundRgb = 0x707070; // 112, 112, 112
};

// Renders the closed range [start, end] of the recording behind `reader` as an
// H.264/MP4 video (yuv420p, 30 frames per second of recording time; frame i shows the
// events of [start + i * 33333, start + (i + 1) * 33333) by the viewer's per-pixel vote,
// the last frame cut at end). A range reaching past the recording is clamped to it.
// Returns false, writes one log line and leaves no file under outPath on failure
// (an inverted range, a range outside the recording, an empty recording, no H.264
// encoder, an unwritable folder); `error`, when given, receives the same message.
//
// Reads through RawFileReader::forEachBlockInRange() when `reader` is ours (so it may
// be called from inside the reader's own exportVideo()), else through readRange().
//
// With a `control`, progress is the share of the video's frames written (1 once the
// file is in place), damaged blocks skipped are noted there, and a cancelled control
// stops the export between two frames: false, no file.
bool exportEventVideo(DvsFileReader &reader, uint64_t start, uint64_t end,
                      const std::string &outPath, const VideoExportOptions &options,
                      std::string *error = nullptr, OperationControl *control = nullptr);

} // namespace vexadin
