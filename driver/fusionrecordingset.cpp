#include "driver/fusionrecordingset.h"

#include "camera/calibrationjson.h"
#include "driver/apsvideowriter.h"
#include "driver/driverlog.h"
#include "driver/streamrecorder.h"

#include <algorithm>
#include <cstdio>

namespace vexadin {

FusionRecordingSet::FusionRecordingSet(Setup setup) : setup_(std::move(setup)) {}

FusionRecordingSet::~FusionRecordingSet()
{
    finish(std::chrono::milliseconds(0));
}

std::string FusionRecordingSet::path(const char *extension) const
{
    return setup_.dir + "/" + setup_.name + extension;
}

std::unique_ptr<FusionRecordingSet> FusionRecordingSet::start(Setup setup)
{
    setup.header.apsTimeOffset = int64_t(setup.startTime);
    std::unique_ptr<FusionRecordingSet> set(new FusionRecordingSet(std::move(setup)));
    const Setup &s = set->setup_;
    const auto refuse = [&](const std::string &why) {
        driverLog(DriverLogLevel::Warning,
                  s.cameraName + ": cannot start the fusion recording '" + set->path("") + "': " + why);
        return nullptr;
    };

    // The video first: it is the one that can fail for lack of an encoder, and it
    // leaves only a temporary file until it is finished.
    set->video_ = std::make_unique<ApsVideoWriter>();
    ApsVideoWriterOptions options = s.video;
    options.nominalFps = int(s.fps);
    if (!set->video_->open(set->path(".mp4"), s.apsWidth, s.apsHeight, options))
        return refuse(set->video_->lastError());

    CalibratorParameters calibration = s.calibration;
    if (!paramToJsonFile(calibration, set->path(".json"))) {
        set->video_->discard();
        return refuse("the calibration file cannot be written");
    }

    set->events_ = std::make_unique<StreamRecorder>(s.header, s.cameraName);
    if (!set->events_->startRecording(set->path(".raw"))) {
        set->video_->discard();
        std::remove(set->path(".json").c_str());
        return refuse("the event recording cannot be created");
    }
    return set;
}

void FusionRecordingSet::pushStep(uint64_t t0, uint64_t t1, const std::vector<Event2D> &events,
                                  const std::vector<EventTriggerIn> &triggers)
{
    if (t1 <= setup_.startTime)
        return;
    // The files take a moment to create, and steps produced meanwhile never reach
    // the recording: it begins with the first step it is given, so that every frame
    // it takes has its edge 1 in the .raw.
    if (!begun_) {
        begun_ = true;
        from_ = std::max(setup_.startTime, t0);
    }
    const uint64_t from = from_;
    if (t0 >= from) {
        events_->push(t0, t1, events.data(), events.data() + events.size(), triggers.data(),
                      triggers.data() + triggers.size());
        return;
    }
    // The step under way when the recording started: only its part from the start on.
    const auto ev = std::lower_bound(events.begin(), events.end(), from,
                                     [](const Event2D &e, uint64_t t) { return e.timestamp < t; });
    const auto tr = std::lower_bound(triggers.begin(), triggers.end(), from,
                                     [](const EventTriggerIn &e, uint64_t t) { return e.timestamp < t; });
    clipped_.assign(ev, events.end());
    clippedTriggers_.assign(tr, triggers.end());
    events_->push(from, t1, clipped_.data(), clipped_.data() + clipped_.size(), clippedTriggers_.data(),
                  clippedTriggers_.data() + clippedTriggers_.size());
}

bool FusionRecordingSet::takesFrame(const FrameExposure &exposure)
{
    if (!begun_ || exposure.start < from_)
        return false;
    std::lock_guard<std::mutex> lock(mutex_);
    if (finished_)
        return false;
    ++framesOwed_;
    return true;
}

void FusionRecordingSet::addFrame(const ApsFrame &picture, const FrameExposure &exposure)
{
    ApsFrame frame = picture; // shares the pixels
    frame.setTimestamp(exposure.start - setup_.startTime);
    std::lock_guard<std::mutex> lock(mutex_);
    if (finished_)
        return;
    frame.setFrameNumber(framesTaken_++);
    video_->push(frame); // never waits; a frame the encoder has no room for is dropped and counted
    --framesOwed_;
    handled_.notify_all();
}

void FusionRecordingSet::frameLost()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (finished_)
        return;
    ++framesLost_;
    --framesOwed_;
    handled_.notify_all();
}

bool FusionRecordingSet::finish(std::chrono::milliseconds frameWait)
{
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (finished_)
            return result_;
    }
    // The events first: the frames still owed are drawn meanwhile.
    const bool eventsOk = events_->stopRecording();
    uint64_t owed, lost;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        handled_.wait_for(lock, frameWait, [&] { return framesOwed_ == 0; });
        owed = framesOwed_;
        lost = framesLost_ + owed;
        finished_ = true; // addFrame() leaves the writer alone from here on
    }
    const bool videoOk = video_->close();
    if (!videoOk)
        driverLog(DriverLogLevel::Warning, setup_.cameraName + ": the video of the fusion recording '" + path("") +
                                               "' is not complete: " + video_->lastError());
    if (owed != 0)
        driverLog(DriverLogLevel::Warning, setup_.cameraName + ": " + std::to_string(owed) +
                                               " frames were not ready when the fusion recording stopped");
    driverLog(DriverLogLevel::Info,
              setup_.cameraName + ": fusion recording '" + path("") + "' finished: " +
                  std::to_string(video_->framesWritten()) + " frames written, " +
                  std::to_string(video_->framesDropped()) + " dropped by the encoder, " + std::to_string(lost) +
                  " lost, " + std::to_string(events_->lostEvents()) + " events lost");
    std::lock_guard<std::mutex> lock(mutex_);
    result_ = eventsOk && videoOk;
    return result_;
}

uint64_t FusionRecordingSet::framesWritten() const
{
    return video_->framesWritten();
}

uint64_t FusionRecordingSet::framesDropped() const
{
    return video_->framesDropped();
}

} // namespace vexadin
