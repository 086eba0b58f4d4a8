#pragma once

#include "camera/fusioncamera.h"
#include "driver/apsvideowriter.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vexadin {

class ApsTool;
class FrameSyncSource;
class FusionRecordingSet;
class OrderedStreamDispatcher;
class SimulatedApsSensor;
class StreamingCamera;
struct FrameExposure;

// Our simulated fusion camera ("Omnira"): an event sensor of 1280 x 720 and a
// colour frame sensor (3840 x 2160 at 30 frames per second unless lowered) in
// front of the simulated scene of our event cameras, the frame sensor's exposure
// signal on the trigger input.
//
// Threads: the event camera runtime's producer (the stream in small steps), one
// thread delivering events and exposure edges in time order (events before an
// edge come before it), one reading frames out and delivering them, and during a
// recording the writers' threads. None of them waits for another's consumer;
// callbacks run without any lock held that a caller of this class waits for.
//
// Clocks: event time is µs since the camera was opened; a frame's time stamp is
// the start of its exposure on the APS clock, which runs kApsClockLeadUs ahead, so
// event time = APS time + apsTimeOffset(). Edge 1 of an exposure comes exactly at
// its frame's time stamp + apsTimeOffset(). A recording keeps its own APS clock,
// starting with the recording (see FusionRecordingSet).
//
// The trigger-in callbacks carry the exposure edges (input FrameSyncSource::
// kSyncChannel); the Trigger In tool's inputs go into recordings only, so that
// pairing frames with edges by order holds.
class SimulatedFusionCamera : public FusionCamera {
public:
    static constexpr uint64_t kApsClockLeadUs = 1500000;
    static constexpr uint16_t kEventWidth = 1280, kEventHeight = 720;
    static constexpr uint16_t kFrameWidth = 3840, kFrameHeight = 2160;

    struct Options {
        uint16_t frameWidth = kFrameWidth; // even
        uint16_t frameHeight = kFrameHeight;
        uint32_t fps = 30;
        uint64_t seed = 0;
        std::string firmware = "Omnira_V1.7.2";
    };

    SimulatedFusionCamera(const CameraDescription &description, const Options &options);
    ~SimulatedFusionCamera() override;

    SimulatedFusionCamera(const SimulatedFusionCamera &) = delete;
    SimulatedFusionCamera &operator=(const SimulatedFusionCamera &) = delete;

    bool isConnected() override;
    void addEventsCallback(std::function<void(const Event2D *begin, const Event2D *end)> callback) override;
    int addApsFrameCallback(std::function<void(ApsFrame frame)> callback) override;
    void addTriggerInCallback(std::function<void(const EventTriggerIn &signal)> callback) override;
    // Only STREAM_FUSION: the two sensors stream together.
    bool start(STREAM_TYPE type) override;
    // Returns once everything taken before has been delivered.
    void stop(STREAM_TYPE type) override;
    // Finishes a recording and stops streaming for good: not connected afterwards.
    void shutdown() override;
    bool startRecording(const std::string &dir, const std::string &name, STREAM_TYPE type) override;
    bool stopRecording(STREAM_TYPE type) override;
    // Bandwidth counts events, edges and frame bytes.
    void setStatisticInfoCallback(std::function<void(VxStatisticInfo)> callback) override;
    // False for a file that is not a calibration with usable "0" and "1" transforms;
    // otherwise the camera keeps it as its calibration (until it is closed).
    bool writeCalibrationFile(const std::string &path) override;
    bool getCalibration(CalibratorParameters &params) override;
    std::string getFirmwareVersion() override;

    // Driver side: the camera manager, test hooks, tests and benchmarks.
    std::shared_ptr<StreamingCamera> eventCamera() const { return events_; }
    int64_t apsTimeOffset() const { return -int64_t(kApsClockLeadUs); }
    const Options &options() const { return options_; }
    uint64_t framesDelivered() const;
    uint64_t framesDropped() const;     // read out too late (see SimulatedApsSensor)
    uint64_t eventsDropped() const;     // event callbacks too slow
    // The lens geometry: event sensor pixel -> frame pixel, for a frame of this size.
    static void dvsToAps(uint16_t frameWidth, uint16_t frameHeight, double m[6]);
    // The calibration the camera leaves the factory with (describes dvsToAps exactly).
    static CalibratorParameters factoryCalibration(uint16_t frameWidth, uint16_t frameHeight);
    // Tests: how recordings started from now on write their video (a slow encoder).
    void setVideoOptionsForTesting(const ApsVideoWriterOptions &options);

private:
    struct Link;
    void onStep(uint64_t t0, uint64_t t1, const std::vector<Event2D> &events,
                const std::vector<EventTriggerIn> &triggers);
    bool stopRecordingLocked();
    void stopLocked();

    const Options options_;
    std::shared_ptr<ApsTool> aps_;
    FrameSyncSource *sync_ = nullptr; // owned by events_
    std::unique_ptr<OrderedStreamDispatcher> stream_;
    std::unique_ptr<SimulatedApsSensor> sensor_;
    std::shared_ptr<Link> link_;
    std::shared_ptr<StreamingCamera> events_;

    std::mutex control_; // start, stop, recording, shutdown
    std::atomic<bool> shutDown_{false};

    std::mutex recordingMutex_; // the producer and the controller
    std::shared_ptr<FusionRecordingSet> recording_;

    ApsVideoWriterOptions videoOptions_; // under control_

    std::mutex calibrationMutex_;
    CalibratorParameters calibration_;

    // Producer thread only.
    std::vector<FrameExposure> exposures_;
    std::vector<EventTriggerIn> edges_;
};

} // namespace vexadin
