#pragma once

#include "camera/apsframe.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace vexadin {

struct ApsVideoWriterOptions {
    // Frames waiting for the encoder at most; when the queue is full a new frame is
    // dropped (counted and logged) instead of making the caller wait.
    size_t queueFrames = 4;
    // Key-frame interval in frames: a seek decodes at most this many frames.
    int keyFrameInterval = 15;
    // x264 quality and speed (libx264 only; another H.264 encoder uses its defaults).
    int crf = 23;
    std::string preset = "ultrafast";
    // Rate-control hint only: the frames' own time stamps carry the timing.
    int nominalFps = 30;
    // Tests: called on the encoder thread before each frame is encoded.
    std::function<void(const ApsFrame &)> beforeEncode;
};

// Writes the colour frames of a fusion recording as H.264 in MP4, for ApsFileReader.
//
// Each frame's time stamp (µs on the APS clock) is kept exactly: the stream's time
// base is 1/1,000,000 s and frames may come at any rate (variable frame rate), so a
// reader finds every frame by its APS time. Time stamps must increase; frames must
// have the size given to open() (even width and height, as 4:2:0 video needs).
// Players start the video at APS time 0, so a recording whose APS times start near
// 0 (times relative to the recording start, as the recording's APS time offset
// assumes) also plays well outside this program.
//
// push() comes from the camera's thread and never waits for the encoder: frames go
// through a bounded queue to the writer's own encoder thread.
//
// The file is written under a temporary name beside the final one and renamed when
// close() has finished it, so a file under the final name is always complete. A
// process killed while recording leaves only the temporary file ("<name>.part-...",
// not playable: MP4 writes its index at the end); the recording's events are in
// its .raw file either way.
//
// push() may be called from any thread, concurrently with the counters; open(),
// close() and discard() from one controlling thread.
class ApsVideoWriter {
public:
    ApsVideoWriter();
    // Finishes the file as close() does when it is still open.
    ~ApsVideoWriter();

    ApsVideoWriter(const ApsVideoWriter &) = delete;
    ApsVideoWriter &operator=(const ApsVideoWriter &) = delete;

    // Creates the encoder and the temporary file and starts the encoder thread.
    // False (see lastError(), one log line) when already open, for an odd or zero
    // size, without an H.264 encoder, or when the file cannot be created.
    bool open(const std::string &path, uint16_t width, uint16_t height,
              const ApsVideoWriterOptions &options = ApsVideoWriterOptions());
    bool isOpen() const;

    // Queues the frame (sharing its buffer: the caller must not write into it
    // afterwards; push a clone otherwise). Never waits. False when the frame was not
    // taken: the queue was full (dropped), the writer is not open or failed, or the
    // frame is unusable (wrong size, time stamp not after the previous frame's: refused).
    bool push(const ApsFrame &frame);

    // Encodes every queued frame, finishes the file and renames it to the final name.
    // False (and no file under the final name) when nothing was recorded or writing
    // failed; see lastError().
    bool close();
    // Stops at once and removes the temporary file.
    void discard();

    size_t framesQueued() const;    // waiting for the encoder now
    uint64_t framesWritten() const; // encoded into the file
    uint64_t framesDropped() const; // lost because the encoder was behind or had failed
    uint64_t framesRefused() const; // wrong size or time stamp
    std::string lastError() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace vexadin
