#pragma once

#include "camera/apsfilereader.h"
#include "camera/apsframe.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// Decodes the colour frames of a fusion recording ahead, on a thread of its own, so a
// playback tick finds its next frame ready instead of waiting for a 4K decode (a key
// frame takes longer than a whole tick). Holds at most `depth` decoded frames; their
// buffers are reused once the reader side hands the previous frame back.
//
// The reading operations mirror the reader's and give the same frames it would. They
// are called from one thread at a time (the worker's playback thread, or its GUI
// thread while playback is stopped). A seek or rewind pauses the decoder, drops what
// it decoded and moves the reader; a seek to a frame already decoded just skips ahead.
// The first frames of the video are kept once decoded, so the rewind of a looping
// playback does not wait for the key frame at the start to be decoded again. Once the
// decoder reaches the end it goes round on its own and decodes the frames after the
// kept ones, so a rewind to the start finds the frames after them ready as well.
class ApsFramePrefetcher {
public:
    static constexpr size_t kDefaultDepth = 4;
    static constexpr size_t kHeadFrames = 3;

    explicit ApsFramePrefetcher(size_t depth = kDefaultDepth);
    ~ApsFramePrefetcher();

    ApsFramePrefetcher(const ApsFramePrefetcher &) = delete;
    ApsFramePrefetcher &operator=(const ApsFramePrefetcher &) = delete;

    // Starts decoding ahead from the reader's current position; the reader must not be
    // used elsewhere until stop(). A running decoder is stopped first. `firstFrame`, when
    // the caller has already read the video's first frame, is kept for rewinds.
    void start(std::shared_ptr<vexadin::ApsFileReader> reader,
               const vexadin::ApsFrame &firstFrame = vexadin::ApsFrame());
    // Stops and joins the decoder, drops its frames and lets the reader go. Reads
    // still waiting for a frame answer false; none may start on another thread meanwhile.
    void stop();
    bool isRunning() const;

    // As the reader's: the next frame (false at the end of the video or without a reader).
    bool readNextFrame(vexadin::ApsFrame &frame);
    // The frame shown at apsTime; readNextFrame then continues after it.
    bool readFrameAt(uint64_t apsTime, vexadin::ApsFrame &frame);
    // The next readNextFrame gives the first frame at or after apsTime.
    bool rewind(uint64_t apsTime);

    // Waits up to timeoutMs until as many frames are decoded as it holds (or the video
    // ended, or it stopped); true when it no longer waits for the decoder.
    bool waitUntilFull(int timeoutMs) const;

    // Frames decoded and waiting (tests, diagnostics).
    size_t queued() const;
    // Frames decoded past the end for the next rewind to the start (tests, diagnostics).
    size_t queuedForRewind() const;

private:
    void decodeLoop();
    bool hasRoomAfterEnd() const;
    void dropDecodedFrames();
    // Hands the queue's first frame over in `frame`, whose old buffer goes to the spares.
    void takeFront(vexadin::ApsFrame &frame);
    void recycle(vexadin::ApsFrame &&frame);
    void recycleAll(std::deque<vexadin::ApsFrame> &frames);
    // Runs `operation` on the reader with the decoder paused and its frames dropped.
    template <class Operation> bool withReader(std::unique_lock<std::mutex> &lock, Operation operation);

    const size_t depth_;
    mutable std::mutex mutex_;
    std::condition_variable decoder_wake_; // room in the queue, reader free again, or quit
    mutable std::condition_variable reader_wake_; // a frame, the end, or the decoder out of the reader
    std::deque<vexadin::ApsFrame> queue_;  // consecutive frames after the last one handed out
    std::vector<vexadin::ApsFrame> spare_; // buffers to decode into
    std::vector<vexadin::ApsFrame> head_;  // the video's first frames (shared, never written)
    std::deque<vexadin::ApsFrame> round_;  // consecutive frames after head_, decoded past the end
    bool ended_ = false;    // the decoder's last read failed: nothing more until a seek
    bool going_round_ = false; // the reader is past head_, decoding into round_
    bool round_ended_ = false; // ... and reached the end again (a very short video)
    bool decoding_ = false; // the decoder is inside the reader
    bool held_ = false;     // a seek or rewind is using the reader
    bool quit_ = false;
    std::shared_ptr<vexadin::ApsFileReader> reader_; // set only while the decoder is stopped
    std::thread thread_;
};
