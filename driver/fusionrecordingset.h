#pragma once

#include "camera/apsframe.h"
#include "camera/calibratorparameters.h"
#include "camera/event2d.h"
#include "camera/eventtriggerin.h"
#include "driver/apsvideowriter.h"
#include "driver/framesyncsource.h"
#include "driver/rawfilewriter.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vexadin {

class StreamRecorder;

// One fusion recording: dir/name.raw (events and trigger edges, through the
// stream recorder), dir/name.mp4 (the frames, through the APS video writer) and
// dir/name.json (the calibration).
//
// The recording covers camera time from its start time on (or from the first step
// it is given, when that is later). Its APS clock starts at the start time: a frame
// exposed at camera time t is stored at APS time t - start, and the .raw's APS time
// offset is the start time, so event time = APS time + offset holds exactly and the
// video begins near 0 (as players expect). A frame belongs to the recording when
// its exposure began inside the recorded stream and its end was recorded, so both
// its edges are in the .raw.
//
// Neither the producer nor the frame thread ever waits for the disk or the
// encoder: frames the encoder cannot take in time are dropped by the video writer
// (counted and logged).
class FusionRecordingSet {
public:
    struct Setup {
        std::string dir, name;
        RawFileHeader header; // sensor, serial, product, metadata; the offset is set here
        uint64_t startTime = 0; // camera time
        uint16_t apsWidth = 0, apsHeight = 0;
        uint32_t fps = 30;
        ApsVideoWriterOptions video; // nominalFps is set from fps
        CalibratorParameters calibration;
        std::string cameraName; // for log lines
    };

    // Creates the three files. Null, with a log line, when one cannot be created;
    // nothing is left behind then.
    static std::unique_ptr<FusionRecordingSet> start(Setup setup);
    ~FusionRecordingSet(); // finishes when finish() was not called

    FusionRecordingSet(const FusionRecordingSet &) = delete;
    FusionRecordingSet &operator=(const FusionRecordingSet &) = delete;

    uint64_t startTime() const { return setup_.startTime; }

    // Producer thread, in stream order: one step of the stream (the part before the
    // start time is left out).
    void pushStep(uint64_t t0, uint64_t t1, const std::vector<Event2D> &events,
                  const std::vector<EventTriggerIn> &triggers);
    // Producer thread: whether the exposure belongs to the recording; if so the
    // recording waits for its frame (addFrame or frameLost) before it finishes.
    bool takesFrame(const FrameExposure &exposure);

    // Frame thread: the picture of an exposure takesFrame() accepted (the buffer is
    // shared, not copied), or its loss.
    void addFrame(const ApsFrame &picture, const FrameExposure &exposure);
    void frameLost();

    // Finishes the three files; waits for the frames still owed (at most
    // frameWait). False, with a log line, when a file could not be completed.
    bool finish(std::chrono::milliseconds frameWait = std::chrono::milliseconds(3000));

    // Counters of the video (valid after finish()).
    uint64_t framesWritten() const;
    uint64_t framesDropped() const;

private:
    explicit FusionRecordingSet(Setup setup);
    std::string path(const char *extension) const;

    const Setup setup_;
    std::unique_ptr<StreamRecorder> events_;
    std::unique_ptr<ApsVideoWriter> video_;
    std::vector<Event2D> clipped_; // producer thread only
    std::vector<EventTriggerIn> clippedTriggers_;
    bool begun_ = false; // producer thread only: the first step arrived
    uint64_t from_ = 0;  // camera time the recorded stream begins at

    std::mutex mutex_;
    std::condition_variable handled_;
    uint64_t framesOwed_ = 0;    // accepted, not handed over yet
    uint64_t framesLost_ = 0;    // accepted, never drawn
    uint64_t framesTaken_ = 0;   // frame numbers in the video
    bool finished_ = false;
    bool result_ = false;
};

} // namespace vexadin
