#pragma once

#include <cstdint>
#include <memory>
#include <string>

struct AVFrame;

namespace vexadin {

struct H264Mp4Settings {
    int width = 0;  // even
    int height = 0; // even
    // Time stamps given to encode() count 1/timeBaseDen seconds.
    int timeBaseDen = 30;
    // Nominal frame rate: rate control and the stream's average rate.
    int fps = 30;
    int keyFrameInterval = 30;
    // libx264 only (another H.264 encoder runs with its defaults).
    std::string preset = "ultrafast";
    int crf = 23;
    // Index at the front, for players that start before the whole file is read
    // (costs a second pass over the file when finishing).
    bool fastStart = false;
};

// H.264 (libx264 if present, else the first H.264 encoder that opens) into an MP4
// file: YUV 4:2:0 pictures in, BT.601 limited range, no B-frames (packets come in
// display order). Every packet gets its real duration (the next time stamp minus its
// own; the last one repeats the one before), so the track's edit list covers the
// last frame and time stamps read back exactly. One thread at a time.
class H264Mp4Encoder {
public:
    H264Mp4Encoder();
    ~H264Mp4Encoder();

    H264Mp4Encoder(const H264Mp4Encoder &) = delete;
    H264Mp4Encoder &operator=(const H264Mp4Encoder &) = delete;

    bool open(const std::string &path, const H264Mp4Settings &settings, std::string &error);
    // The YUV 4:2:0 picture to fill before the next encode(), writable.
    AVFrame *frame(std::string &error);
    // Encodes the filled picture with this time stamp (increasing).
    bool encode(int64_t pts, std::string &error);
    // Flushes the encoder, writes the index and closes the file.
    bool finish(std::string &error);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace vexadin
