#pragma once

#include "app/vxmessagetype.h"

#include <QDateTime>
#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

namespace vexadin {
class DvsCamera;
}

// Timed recordings of the open DVS camera: a trigger-in asks for `seconds` of
// recording, the worker starts the camera's recording, waits, and stops it by
// itself. Also the home of the recording naming rule used for every recording.
//
// Slots run on the GUI thread; the worker reports through signalShowLeftBottomTips
// (connect it queued). At most one recording at a time; a request while one runs
// is refused, never queued or extended.
class VxFileRecorder : public QObject
{
    Q_OBJECT

public:
    explicit VxFileRecorder(QObject *parent = nullptr);
    // Ends a running recording (its file is finished) and joins the worker.
    ~VxFileRecorder() override;

    // folder/serial_yyyyMMdd_HHmmss.raw, local time.
    static QString recordingFilePath(const QString &folder, const QString &serial,
                                     const QDateTime &when = QDateTime::currentDateTime());

    // Replaces the camera; a running recording keeps the camera it started with.
    // Any thread (the window sets it from its camera-opening thread).
    void setCamera(std::shared_ptr<vexadin::DvsCamera> camera);
    std::shared_ptr<vexadin::DvsCamera> camera() const;
    bool isRecording() const { return recording_.load(); }
    bool isCacheEnabled() const { return cacheEnabled_; }

public slots:
    bool recordingTime(uint32_t seconds, QString file_path);
    bool startRecording(QString file_path);
    bool stopRecording();
    void setCacheTime(int sec);

signals:
    void signalShowLeftBottomTips(QString tips, VxMessageType type = VxMessageType::Success,
                                  QString file_path = QString());

private:
    void recordingWorker(std::shared_ptr<vexadin::DvsCamera> camera, QString filePath, uint32_t seconds);
    void wakeWorker();

    mutable std::mutex cameraMutex_;
    std::shared_ptr<vexadin::DvsCamera> camera_; // guarded by cameraMutex_
    bool cacheEnabled_ = false;
    // Set on the GUI thread when a recording is accepted, cleared by the worker when
    // it is done or by stopRecording()/the destructor to end it early.
    std::atomic<bool> recording_{false};
    std::mutex wakeMutex_; // lets a stop cut the worker's wait short
    std::condition_variable wake_;
    std::thread worker_;
};
