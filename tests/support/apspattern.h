#pragma once

// Colour frames that carry their own frame number in a form that survives lossy
// video coding, shared by the APS video tests, benchmarks and fuzz seeds.

#include "camera/apsframe.h"
#include "driver/apsvideowriter.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vxtest {

// Top half: 12 vertical bands, band b white when bit b of `number` is set, else
// black. Bottom half: blue, green and red thirds (in that order, left to right).
void drawNumberedFrame(vexadin::ApsFrame &frame, uint32_t number);
// The number drawn by drawNumberedFrame, read from the middle of each band.
uint32_t readFrameNumber(const vexadin::ApsFrame &frame);
// True when the bottom thirds come out blue, green and red (B, G, R byte order kept).
bool colourThirdsInOrder(const vexadin::ApsFrame &frame);

// `count` increasing APS time stamps from `first`, about 33,333 µs apart but uneven
// (±8 ms, and a 0.5 s gap every 40 frames), the same for the same seed.
std::vector<uint64_t> irregularTimestamps(size_t count, uint64_t first, uint64_t seed);

// Writes numbered frames (number = position) with these time stamps. True when the
// writer took every frame and finished the file.
bool writeNumberedVideo(const std::string &path, uint16_t width, uint16_t height,
                        const std::vector<uint64_t> &timestamps,
                        const vexadin::ApsVideoWriterOptions &options = vexadin::ApsVideoWriterOptions());

} // namespace vxtest
