#pragma once

#include "camera/dvsfileinfo.h"
#include "camera/event2d.h"
#include "camera/operationcontrol.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vexadin {

// Reader of an event recording (.raw). Paths are in the local 8-bit encoding.
// No exception crosses this interface: failures answer false / null and log one line.
class DvsFileReader {
public:
    // Null for an empty path, a missing file, or a file that is not an event recording.
    static std::unique_ptr<DvsFileReader> createFileReader(const std::string &path);

    virtual ~DvsFileReader() = default;

    virtual bool open() = 0;
    virtual bool getStartTimestamp(uint64_t &timestamp) = 0;
    virtual bool getEndTimestamp(uint64_t &timestamp) = 0;
    // Positions readNext() at the first event with t >= timestamp.
    virtual bool seek(uint64_t timestamp) = 0;
    // Events of [position, position + duration); advances the position. Null or empty when nothing is left.
    virtual std::shared_ptr<std::vector<Event2D>> readNext(uint64_t duration) = 0;
    // Events of the half-open window [start, start + duration). Null or empty when nothing is there.
    virtual std::shared_ptr<std::vector<Event2D>> readRange(uint64_t start, uint64_t duration) = 0;
    // Writes events and triggers of the closed range [start, end] to a new recording.
    virtual bool cut(uint64_t start, uint64_t end, const std::string &outPath) = 0;
    // Renders the closed range [start, end] as a video file.
    virtual bool exportVideo(uint64_t start, uint64_t end, const std::string &outPath) = 0;
    virtual bool getFileInfo(DvsFileInfo &info) = 0;

    // The long operations again, followed and stoppable through `control`: progress
    // of the index rebuild (when open() has to rebuild it), of the cut and of the
    // export; a cancelled one returns false and leaves no file behind. Damaged parts
    // skipped on the way are noted in the control. Readers without support run the
    // plain operation.
    virtual bool open(OperationControl &control)
    {
        (void)control;
        return open();
    }
    virtual bool cut(uint64_t start, uint64_t end, const std::string &outPath, OperationControl &control)
    {
        (void)control;
        return cut(start, end, outPath);
    }
    virtual bool exportVideo(uint64_t start, uint64_t end, const std::string &outPath, OperationControl &control)
    {
        (void)control;
        return exportVideo(start, end, outPath);
    }
};

} // namespace vexadin
