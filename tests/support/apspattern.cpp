#include "support/apspattern.h"

#include <algorithm>
#include <chrono>
#include <random>
#include <thread>

namespace vxtest {

namespace {

constexpr int kBands = 12;

void fill(vexadin::ApsFrame &frame, int x0, int y0, int x1, int y1, uint8_t b, uint8_t g, uint8_t r)
{
    const int w = frame.getWidth();
    for (int y = y0; y < y1; ++y) {
        uint8_t *p = frame.data() + (size_t(y) * w + x0) * 3;
        for (int x = x0; x < x1; ++x, p += 3) {
            p[0] = b;
            p[1] = g;
            p[2] = r;
        }
    }
}

// Mean of one channel over the middle half of a rectangle.
double mean(const vexadin::ApsFrame &frame, int x0, int y0, int x1, int y1, int channel)
{
    const int w = frame.getWidth();
    const int mx = (x1 - x0) / 4, my = (y1 - y0) / 4;
    double sum = 0;
    int n = 0;
    for (int y = y0 + my; y < y1 - my; ++y)
        for (int x = x0 + mx; x < x1 - mx; ++x, ++n)
            sum += frame.data()[(size_t(y) * w + x) * 3 + channel];
    return n ? sum / n : 0;
}

int bandLeft(const vexadin::ApsFrame &frame, int b) { return frame.getWidth() * b / kBands; }

} // namespace

void drawNumberedFrame(vexadin::ApsFrame &frame, uint32_t number)
{
    const int w = frame.getWidth(), h = frame.getHeight();
    for (int b = 0; b < kBands; ++b) {
        const uint8_t v = (number >> b & 1) ? 255 : 0;
        fill(frame, bandLeft(frame, b), 0, bandLeft(frame, b + 1), h / 2, v, v, v);
    }
    fill(frame, 0, h / 2, w / 3, h, 255, 0, 0);
    fill(frame, w / 3, h / 2, 2 * w / 3, h, 0, 255, 0);
    fill(frame, 2 * w / 3, h / 2, w, h, 0, 0, 255);
}

uint32_t readFrameNumber(const vexadin::ApsFrame &frame)
{
    uint32_t number = 0;
    for (int b = 0; b < kBands; ++b)
        if (mean(frame, bandLeft(frame, b), 0, bandLeft(frame, b + 1), frame.getHeight() / 2, 1) > 128)
            number |= 1u << b;
    return number;
}

bool colourThirdsInOrder(const vexadin::ApsFrame &frame)
{
    const int w = frame.getWidth(), h = frame.getHeight();
    for (int third = 0; third < 3; ++third) {
        const int channel = third; // blue, green, red = bytes 0, 1, 2
        for (int c = 0; c < 3; ++c) {
            const double m = mean(frame, w * third / 3, h / 2, w * (third + 1) / 3, h, c);
            if (c == channel ? m < 200 : m > 60)
                return false;
        }
    }
    return true;
}

std::vector<uint64_t> irregularTimestamps(size_t count, uint64_t first, uint64_t seed)
{
    std::mt19937_64 rng(seed);
    std::uniform_int_distribution<int64_t> jitter(-8000, 8000);
    std::vector<uint64_t> stamps;
    uint64_t t = first;
    for (size_t i = 0; i < count; ++i) {
        stamps.push_back(t);
        t += uint64_t(33333 + jitter(rng)) + (i % 40 == 39 ? 500000 : 0);
    }
    return stamps;
}

bool writeNumberedVideo(const std::string &path, uint16_t width, uint16_t height,
                        const std::vector<uint64_t> &timestamps, const vexadin::ApsVideoWriterOptions &options)
{
    vexadin::ApsVideoWriter writer;
    if (!writer.open(path, width, height, options))
        return false;
    bool all = true;
    for (size_t i = 0; i < timestamps.size(); ++i) {
        vexadin::ApsFrame frame(width, height, i, timestamps[i]);
        drawNumberedFrame(frame, uint32_t(i));
        // Unlike a camera, a test can wait for the encoder: no frame is dropped.
        while (writer.framesQueued() >= std::max<size_t>(1, options.queueFrames))
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        all = writer.push(frame) && all;
    }
    return writer.close() && all;
}

} // namespace vxtest
