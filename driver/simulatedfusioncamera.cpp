#include "driver/simulatedfusioncamera.h"

#include "driver/apstool.h"
#include "driver/calibrationfile.h"
#include "driver/driverlog.h"
#include "driver/framesyncsource.h"
#include "driver/fusionrecordingset.h"
#include "driver/orderedstreamdispatcher.h"
#include "driver/simulatedapssensor.h"
#include "driver/simulatedcamerakind.h"
#include "driver/simulatedsource.h"
#include "driver/streamingcamera.h"

#include <cmath>

namespace vexadin {

namespace {

// The lens geometry at the full frame size. The frame sensor sees the event
// sensor's field a little wider than the nominal design does, turned by a
// quarter of a degree and off-centre by a few pixels, as an assembled camera
// would: a viewer has to use the camera's own calibration to line the two up.
constexpr double kScale = 3.2;
constexpr double kAngleDeg = 0.25;
constexpr double kCentreX = 1934.0, kCentreY = 1071.0; // where the event sensor's centre lands

bool invertAffine(const double m[6], double inv[6])
{
    const double det = m[0] * m[4] - m[1] * m[3];
    if (!std::isfinite(det) || std::fabs(det) < 1e-12)
        return false;
    inv[0] = m[4] / det;
    inv[1] = -m[1] / det;
    inv[3] = -m[3] / det;
    inv[4] = m[0] / det;
    inv[2] = -(inv[0] * m[2] + inv[1] * m[5]);
    inv[5] = -(inv[3] * m[2] + inv[4] * m[5]);
    return true;
}

bool usableTransform(const CalibratorParameters &params, const char *key)
{
    const auto it = params.transforms.find(key);
    if (it == params.transforms.end() || it->second.values.size() < 6)
        return false;
    for (size_t i = 0; i < 6; ++i)
        if (!std::isfinite(it->second.values[i]))
            return false;
    double inverse[6];
    return invertAffine(it->second.values.data(), inverse);
}

CalibrationMatrix affineRecord(const double m[6])
{
    CalibrationMatrix matrix;
    matrix.shape = {2, 3, 1};
    matrix.values.assign(m, m + 6);
    return matrix;
}

std::string nameOf(const CameraDescription &d)
{
    return "camera " + d.serial;
}

} // namespace

// The producer's way into the camera; cut when the camera goes, so a stream
// step still under way (or a camera runtime kept alive elsewhere) never reaches
// a destroyed camera.
struct SimulatedFusionCamera::Link {
    std::mutex mutex;
    SimulatedFusionCamera *camera = nullptr;
};

void SimulatedFusionCamera::dvsToAps(uint16_t frameWidth, uint16_t frameHeight, double m[6])
{
    const double a = kAngleDeg * M_PI / 180.0;
    const double c = kScale * std::cos(a), s = kScale * std::sin(a);
    const double cx = kEventWidth / 2.0, cy = kEventHeight / 2.0;
    const double full[6] = {c, -s, kCentreX - (c * cx - s * cy), s, c, kCentreY - (s * cx + c * cy)};
    // A smaller frame sees the same field with fewer pixels.
    const double sx = double(frameWidth) / kFrameWidth, sy = double(frameHeight) / kFrameHeight;
    for (int i = 0; i < 3; ++i) {
        m[i] = full[i] * sx;
        m[3 + i] = full[3 + i] * sy;
    }
}

CalibratorParameters SimulatedFusionCamera::factoryCalibration(uint16_t frameWidth, uint16_t frameHeight)
{
    double toAps[6], toDvs[6];
    dvsToAps(frameWidth, frameHeight, toAps);
    invertAffine(toAps, toDvs);
    CalibratorParameters p;
    p.label = "Omnira factory calibration";
    p.dvs_width = kEventWidth;
    p.dvs_height = kEventHeight;
    p.aps_width = frameWidth;
    p.aps_height = frameHeight;
    p.transforms["1"] = affineRecord(toAps);
    p.transforms["0"] = affineRecord(toDvs);
    return p;
}

SimulatedFusionCamera::SimulatedFusionCamera(const CameraDescription &description, const Options &options)
    : FusionCamera(description), options_(options), link_(std::make_shared<Link>()),
      calibration_(factoryCalibration(options.frameWidth, options.frameHeight))
{
    const uint32_t fps = std::max<uint32_t>(options_.fps, 1);
    aps_ = std::make_shared<ApsTool>(int(1000000 / fps) - 1000);
    CameraDescription eventSide = description;
    eventSide.width = kEventWidth;
    eventSide.height = kEventHeight;
    StreamingCamera::Setup setup = SimulatedCameraKind::setupFor(
        eventSide, options_.seed, [&](std::unique_ptr<SimulatedSource> sensor) {
            auto sync = std::make_unique<FrameSyncSource>(std::move(sensor), fps, aps_);
            sync_ = sync.get();
            return std::unique_ptr<EventSource>(std::move(sync));
        });
    for (const auto &[type, tool] : setup.tools)
        registerTool(type, tool);
    registerTool(TOOL_APS, aps_);

    double toAps[6], frameToSensor[6];
    dvsToAps(options_.frameWidth, options_.frameHeight, toAps);
    invertAffine(toAps, frameToSensor);
    stream_ = std::make_unique<OrderedStreamDispatcher>(nameOf(description));
    sensor_ = std::make_unique<SimulatedApsSensor>(sync_->scene(), options_.frameWidth, options_.frameHeight,
                                                   frameToSensor, aps_, kApsClockLeadUs, nameOf(description));
    link_->camera = this;
    setup.onStep = [link = link_](uint64_t t0, uint64_t t1, const std::vector<Event2D> &events,
                                  const std::vector<EventTriggerIn> &triggers) {
        std::lock_guard<std::mutex> lock(link->mutex);
        if (link->camera)
            link->camera->onStep(t0, t1, events, triggers);
    };
    events_ = std::make_shared<StreamingCamera>(std::move(setup));
}

SimulatedFusionCamera::~SimulatedFusionCamera()
{
    {
        std::lock_guard<std::mutex> lock(control_);
        stopRecordingLocked(); // a camera closed while recording still leaves finished files
        stopLocked();
    }
    events_->setStatisticInfoCallback(nullptr);
    {
        std::lock_guard<std::mutex> lock(link_->mutex);
        link_->camera = nullptr;
    }
    events_.reset();
}

bool SimulatedFusionCamera::isConnected()
{
    return !shutDown_.load() && events_->isConnected();
}

void SimulatedFusionCamera::addEventsCallback(std::function<void(const Event2D *, const Event2D *)> callback)
{
    stream_->addEventsCallback(std::move(callback));
}

int SimulatedFusionCamera::addApsFrameCallback(std::function<void(ApsFrame)> callback)
{
    return sensor_->addFrameCallback(std::move(callback));
}

void SimulatedFusionCamera::addTriggerInCallback(std::function<void(const EventTriggerIn &)> callback)
{
    stream_->addEdgeCallback(std::move(callback));
}

bool SimulatedFusionCamera::start(STREAM_TYPE type)
{
    std::lock_guard<std::mutex> lock(control_);
    if (type != STREAM_FUSION) {
        driverLog(DriverLogLevel::Warning, nameOf(getDescription()) + ": stream type " + std::to_string(int(type)) +
                                               " refused; events and frames stream together (type 2)");
        return false;
    }
    if (shutDown_.load())
        return false;
    return events_->start() == 0;
}

void SimulatedFusionCamera::stop(STREAM_TYPE)
{
    std::lock_guard<std::mutex> lock(control_);
    stopLocked();
}

void SimulatedFusionCamera::stopLocked()
{
    events_->stop(); // no step of the stream runs after this
    stream_->drain();
    sensor_->drain();
}

void SimulatedFusionCamera::shutdown()
{
    std::lock_guard<std::mutex> lock(control_);
    stopRecordingLocked();
    stopLocked();
    shutDown_.store(true);
}

bool SimulatedFusionCamera::startRecording(const std::string &dir, const std::string &name, STREAM_TYPE type)
{
    std::lock_guard<std::mutex> lock(control_);
    const std::string camera = nameOf(getDescription());
    if (type != STREAM_FUSION) {
        driverLog(DriverLogLevel::Warning, camera + ": recording of stream type " + std::to_string(int(type)) +
                                               " refused; a fusion recording holds events and frames (type 2)");
        return false;
    }
    {
        std::lock_guard<std::mutex> recordingLock(recordingMutex_);
        if (recording_) {
            driverLog(DriverLogLevel::Warning, camera + ": cannot start recording '" + dir + "/" + name +
                                                   "': a recording is running");
            return false;
        }
    }
    if (shutDown_.load())
        return false;

    FusionRecordingSet::Setup setup;
    setup.dir = dir;
    setup.name = name;
    const CameraDescription d = getDescription();
    setup.header.width = kEventWidth;
    setup.header.height = kEventHeight;
    setup.header.serial = d.serial;
    setup.header.product = d.product;
    setup.header.metadata = {{"camera_kind", d.kind},
                             {"aps_width", std::to_string(options_.frameWidth)},
                             {"aps_height", std::to_string(options_.frameHeight)},
                             {"aps_fps", std::to_string(options_.fps)}};
    setup.startTime = events_->cameraTime();
    setup.apsWidth = options_.frameWidth;
    setup.apsHeight = options_.frameHeight;
    setup.fps = options_.fps;
    setup.video = videoOptions_;
    getCalibration(setup.calibration);
    setup.cameraName = camera;
    std::shared_ptr<FusionRecordingSet> set = FusionRecordingSet::start(std::move(setup));
    if (!set)
        return false;
    std::lock_guard<std::mutex> recordingLock(recordingMutex_);
    recording_ = std::move(set);
    return true;
}

bool SimulatedFusionCamera::stopRecording(STREAM_TYPE)
{
    std::lock_guard<std::mutex> lock(control_);
    return stopRecordingLocked();
}

bool SimulatedFusionCamera::stopRecordingLocked()
{
    std::shared_ptr<FusionRecordingSet> set;
    {
        std::lock_guard<std::mutex> lock(recordingMutex_);
        set.swap(recording_);
    }
    return set && set->finish();
}

void SimulatedFusionCamera::setStatisticInfoCallback(std::function<void(VxStatisticInfo)> callback)
{
    if (!callback) {
        events_->setStatisticInfoCallback(nullptr);
        return;
    }
    events_->setStatisticInfoCallback([frameBytes = sensor_->byteCounter(), callback](VxStatisticInfo info) {
        info.bandwidth += frameBytes->exchange(0);
        callback(info);
    });
}

bool SimulatedFusionCamera::writeCalibrationFile(const std::string &path)
{
    CalibratorParameters params;
    std::string error;
    if (!loadCalibrationFile(path, params, error)) {
        driverLog(DriverLogLevel::Warning, nameOf(getDescription()) + ": calibration refused: " + error);
        return false;
    }
    if (!usableTransform(params, "0") || !usableTransform(params, "1")) {
        driverLog(DriverLogLevel::Warning, nameOf(getDescription()) + ": calibration refused: '" + path +
                                               "' lacks an invertible affine under \"0\" or \"1\"");
        return false;
    }
    std::lock_guard<std::mutex> lock(calibrationMutex_);
    calibration_ = std::move(params);
    return true;
}

bool SimulatedFusionCamera::getCalibration(CalibratorParameters &params)
{
    std::lock_guard<std::mutex> lock(calibrationMutex_);
    params = calibration_;
    return true;
}

std::string SimulatedFusionCamera::getFirmwareVersion()
{
    return options_.firmware;
}

void SimulatedFusionCamera::setVideoOptionsForTesting(const ApsVideoWriterOptions &options)
{
    std::lock_guard<std::mutex> lock(control_);
    videoOptions_ = options;
}

uint64_t SimulatedFusionCamera::framesDelivered() const
{
    return sensor_->framesDelivered();
}

uint64_t SimulatedFusionCamera::framesDropped() const
{
    return sensor_->framesDropped();
}

uint64_t SimulatedFusionCamera::eventsDropped() const
{
    return stream_->droppedEvents();
}

void SimulatedFusionCamera::onStep(uint64_t t0, uint64_t t1, const std::vector<Event2D> &events,
                                   const std::vector<EventTriggerIn> &triggers)
{
    exposures_.clear();
    sync_->takeCompleted(exposures_);
    edges_.clear();
    for (const EventTriggerIn &t : triggers)
        if (t.id == FrameSyncSource::kSyncChannel)
            edges_.push_back(t);
    stream_->post(events.data(), events.data() + events.size(), edges_.data(), edges_.data() + edges_.size());

    std::shared_ptr<FusionRecordingSet> recording;
    {
        std::lock_guard<std::mutex> lock(recordingMutex_);
        recording = recording_;
        if (recording)
            recording->pushStep(t0, t1, events, triggers);
        // Decided with the step recorded, so a recorded frame has both its edges in the file.
        for (const FrameExposure &e : exposures_)
            sensor_->post(e, recording && recording->takesFrame(e) ? recording : nullptr);
    }
}

} // namespace vexadin
