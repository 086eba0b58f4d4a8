#pragma once

#include "camera/operationcontrol.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// One export to video or cut to a new recording of the closed range [start, end] of
// a recording. Runs on a worker of VxEventProcessor through a reader of its own, so
// it never moves the playback position; progress() and cancel() may be used from
// any thread while it runs. A cancelled job leaves no file behind.
class VxRangeJob {
public:
    enum class Kind { Export, Cut };

    struct Result {
        bool ok = false;
        bool cancelled = false;
        // Parts of the range that could not be read (damaged blocks) and are missing
        // from a successful output.
        std::vector<vexadin::OperationControl::Range> unreadable;
    };

    // sourcePath is the recording in the local 8-bit encoding; outDir is the folder
    // named in the notification.
    VxRangeJob(uint64_t id, Kind kind, std::string sourcePath, QString outPath, QString outDir, uint64_t start,
               uint64_t end);

    VxRangeJob(const VxRangeJob &) = delete;
    VxRangeJob &operator=(const VxRangeJob &) = delete;

    uint64_t id() const { return id_; }
    Kind kind() const { return kind_; }
    const QString &outPath() const { return outPath_; }
    const QString &outDir() const { return outDir_; }
    uint64_t start() const { return start_; }
    uint64_t end() const { return end_; }

    // Set before run(); called on the running thread with the fraction done, rising,
    // a few times per second at most.
    void setProgressHandler(std::function<void(double)> handler);
    void cancel();
    bool isCancelled() const;

    // Does the work (worker thread). Refuses to write over the source recording.
    Result run();

private:
    const uint64_t id_;
    const Kind kind_;
    const std::string sourcePath_;
    const QString outPath_;
    const QString outDir_;
    const uint64_t start_;
    const uint64_t end_;
    vexadin::OperationControl control_;
};
