#include "Utility/vxfilerecorder.h"

#include "app/appsettings.h"
#include "camera/dvscamera.h"
#include "camera/logger.h"

#include <QDebug>

#include <algorithm>
#include <chrono>
#include <utility>

namespace {

// The source name and line numbers our log readers know these lines by.
const char *const kLogSource = "Utility\\vxfilerecorder";
constexpr int kLogLineStart = 52;
constexpr int kLogLineEnd = 60;

constexpr std::chrono::milliseconds kPollPeriod(500);

} // namespace

VxFileRecorder::VxFileRecorder(QObject *parent) : QObject(parent)
{
}

VxFileRecorder::~VxFileRecorder()
{
    recording_.store(false);
    wakeWorker();
    if (worker_.joinable())
        worker_.join();
}

QString VxFileRecorder::recordingFilePath(const QString &folder, const QString &serial, const QDateTime &when)
{
    return folder + "/" + serial + when.toString("_yyyyMMdd_HHmmss") + ".raw";
}

void VxFileRecorder::setCamera(std::shared_ptr<vexadin::DvsCamera> camera)
{
    std::lock_guard<std::mutex> lock(cameraMutex_);
    camera_.swap(camera);
    // The previous camera is released after the unlock: closing it may take a while.
}

std::shared_ptr<vexadin::DvsCamera> VxFileRecorder::camera() const
{
    std::lock_guard<std::mutex> lock(cameraMutex_);
    return camera_;
}

bool VxFileRecorder::recordingTime(uint32_t seconds, QString file_path)
{
    const std::shared_ptr<vexadin::DvsCamera> cam = camera();
    const bool busy = recording_.load();
    const bool connected = cam && cam->isConnected();
    if (busy || !connected || seconds == 0) {
        qDebug() << "Recording false." << busy << connected << seconds;
        emit signalShowLeftBottomTips(tr("Currently being recorded."), VxMessageType::Warning, file_path);
        return false;
    }
    if (worker_.joinable())
        worker_.join(); // finished: recording_ is cleared as its last step
    // Marked here rather than on the worker, so a second trigger right behind this
    // one is refused instead of joining a worker that records for seconds.
    recording_.store(true);
    emit signalShowLeftBottomTips(tr("Recording file ... "), VxMessageType::Success, file_path);
    qDebug() << "record time : " << seconds << "file path: " << file_path;
    worker_ = std::thread(&VxFileRecorder::recordingWorker, this, cam, file_path, seconds);
    return true;
}

void VxFileRecorder::recordingWorker(std::shared_ptr<vexadin::DvsCamera> camera, QString filePath,
                                     uint32_t seconds)
{
    vexadin::Logger::Instance().log_(vexadin::LOG_INFO, kLogSource, kLogLineStart, "recording start");
    const bool started = camera->startRecording(filePath.toLocal8Bit().toStdString());
    if (started) {
        using Clock = std::chrono::steady_clock;
        const Clock::time_point start = Clock::now();
        std::unique_lock<std::mutex> lock(wakeMutex_);
        while (recording_.load()) {
            const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start);
            if (uint64_t(elapsed.count()) >= seconds)
                break;
            wake_.wait_for(lock, kPollPeriod);
        }
        lock.unlock();
        camera->stopRecording();
    } else {
        // The camera already records (a manual recording) or cannot create the file.
        // Stopping it now would cut someone else's recording short.
        qWarning() << "recording not started: " << filePath;
    }
    vexadin::Logger::Instance().log_(vexadin::LOG_INFO, kLogSource, kLogLineEnd, "recording end");
    if (started)
        emit signalShowLeftBottomTips(tr("Recording end"), VxMessageType::Success, QString());
    else
        emit signalShowLeftBottomTips(tr("Currently being recorded."), VxMessageType::Warning, filePath);
    recording_.store(false);
}

bool VxFileRecorder::startRecording(QString file_path)
{
    const std::shared_ptr<vexadin::DvsCamera> cam = camera();
    if (!cam || recording_.load())
        return false;
    if (!cam->startRecording(file_path.toLocal8Bit().toStdString()))
        return false;
    recording_.store(true);
    return true;
}

bool VxFileRecorder::stopRecording()
{
    if (!recording_.load())
        return false;
    recording_.store(false);
    wakeWorker();
    // A timed recording whose camera was replaced meanwhile is stopped by its
    // worker, on the camera it started with.
    if (const std::shared_ptr<vexadin::DvsCamera> cam = camera())
        cam->stopRecording();
    return true;
}

void VxFileRecorder::setCacheTime(int sec)
{
    const std::shared_ptr<vexadin::DvsCamera> cam = camera();
    if (!cam)
        return;
    const uint16_t seconds = uint16_t(std::clamp(sec, 0, 65535));
    cam->setRecordingCache(seconds, AppSettings::instance().configDir.toLocal8Bit().toStdString());
    cacheEnabled_ = sec != 0;
}

void VxFileRecorder::wakeWorker()
{
    // Taking the mutex orders the flag change before the worker's next wait.
    { std::lock_guard<std::mutex> lock(wakeMutex_); }
    wake_.notify_all();
}
