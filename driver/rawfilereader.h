#pragma once

#include "camera/dvsfilereader.h"
#include "camera/eventtriggerin.h"
#include "driver/rawfilewriter.h"
#include "driver/videoexporter.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vexadin {

// One entry of the block index (footer index, or rebuilt by scanning block headers).
struct RawBlockInfo {
    uint64_t firstTimestamp = 0; // µs, smallest event or trigger timestamp of the block
    uint64_t lastTimestamp = 0;  // µs, largest
    uint64_t fileOffset = 0;     // byte offset of the block header
    uint32_t payloadSize = 0;    // bytes after the 40-byte block header
    uint32_t eventCount = 0;
    uint32_t triggerCount = 0;
};

// Reader of our .raw recordings (layout in rawformat.h and docs/raw-format.md).
//
// Thread safety: every public member may be called from several threads at once.
// The read position and the decoded-block cache of readNext/readRange/seek are
// guarded by one mutex; cut(), verifyAll(), readTriggers() and forEachBlockInRange()
// decode with their own buffers and only share the immutable index and the file
// descriptor (pread), so a cut does not stall playback. exportVideo() renders
// through a second reader of the same file (own position and cache, shared index),
// so an export never moves the playback position.
//
// Time ranges: readRange/readNext/readTriggers take half-open windows
// [start, start + duration); cut/exportVideo/forEachBlockInRange take closed
// ranges [start, end].
//
// No exception leaves this class: failures answer false / null and write one log
// line (see driverlog.h); lastError() holds the message.
class RawFileReader : public DvsFileReader {
public:
    // Null (with one log line) when path is empty, missing, or not one of our recordings.
    static std::unique_ptr<RawFileReader> create(const std::string &path);
    ~RawFileReader() override;

    RawFileReader(const RawFileReader &) = delete;
    RawFileReader &operator=(const RawFileReader &) = delete;

    // Loads the footer index (or rebuilds it by scanning when the footer is missing or
    // damaged). Other operations call it on first use; calling it again is harmless.
    bool open() override;
    // As open(); a rebuild reports the share of the file scanned and stops when the
    // control is cancelled (open() may then be called again).
    bool open(OperationControl &control) override;
    bool getStartTimestamp(uint64_t &timestamp) override;
    bool getEndTimestamp(uint64_t &timestamp) override;
    // False when the recording holds nothing at or after timestamp (or is empty).
    bool seek(uint64_t timestamp) override;
    std::shared_ptr<std::vector<Event2D>> readNext(uint64_t duration) override;
    std::shared_ptr<std::vector<Event2D>> readRange(uint64_t start, uint64_t duration) override;
    // As readRange, into out (cleared first, its capacity kept): a reader called for
    // every step of a live stream then does not allocate and fault in a new buffer
    // each time. False, out empty, where readRange gives null.
    bool readRangeInto(uint64_t start, uint64_t duration, std::vector<Event2D> &out);
    // Closed range [start, end], events and triggers, to a new recording with this header.
    // Refuses end < start, a range outside the recording, and outPath naming this file.
    // Writes to a temporary name in the output folder and renames on success only.
    bool cut(uint64_t start, uint64_t end, const std::string &outPath) override;
    // Progress is the share of [start, end] (within the recording) written.
    bool cut(uint64_t start, uint64_t end, const std::string &outPath, OperationControl &control) override;
    // Closed range [start, end]; delegates to exportEventVideo() with the options set below,
    // on a second reader of the same file.
    bool exportVideo(uint64_t start, uint64_t end, const std::string &outPath) override;
    bool exportVideo(uint64_t start, uint64_t end, const std::string &outPath,
                     OperationControl &control) override;
    bool getFileInfo(DvsFileInfo &info) override;

    void setVideoExportOptions(const VideoExportOptions &options);

    // Trigger-in signals of [start, start + duration). Null when the reader cannot read.
    std::shared_ptr<std::vector<EventTriggerIn>> readTriggers(uint64_t start, uint64_t duration);

    // Calls fn once per block that overlaps the closed range [start, endInclusive], in
    // file order, with the events and triggers of that block lying in the range (either
    // span may be empty). Memory: one decoded block at a time. fn returns false to stop
    // early. Damaged blocks are skipped (and logged once). Returns false only when the
    // file cannot be read or fn stopped the iteration.
    using BlockCallback = std::function<bool(const Event2D *eventsBegin, const Event2D *eventsEnd,
                                             const EventTriggerIn *triggersBegin,
                                             const EventTriggerIn *triggersEnd)>;
    bool forEachBlockInRange(uint64_t start, uint64_t endInclusive, const BlockCallback &fn);
    // The same, checking `control` (may be null) before every block: a cancelled control
    // stops the iteration (false); each damaged block is noted as unreadable, and the
    // share of the range passed is reported.
    bool forEachBlockInRange(uint64_t start, uint64_t endInclusive, const BlockCallback &fn,
                             OperationControl *control);

    const std::string &path() const;
    const RawFileHeader &header() const;
    uint16_t formatReadVersion() const;  // as stored in the file
    uint16_t formatWriteVersion() const; // as stored in the file
    uint64_t fileSize() const;

    uint64_t blockCount() const;                // after open()
    RawBlockInfo blockInfo(uint64_t index) const; // zeroed when out of range
    uint64_t corruptBlockCount() const;         // damaged blocks found so far
    bool indexRebuilt() const;                  // the footer was missing or damaged

    // Reads and checks every block (checksums, counts, coordinates, time order).
    // Appends one line per problem (damaged block, rebuilt index, trailing garbage)
    // to problems when given. True when the file is entirely sound.
    // With a control: progress by blocks checked; cancelled, it stops and answers false.
    bool verifyAll(std::vector<std::string> *problems, OperationControl *control = nullptr);

    // Message of the last failure of a reader call made by the calling thread
    // (per thread, so concurrent callers never see each other's text).
    const std::string &lastError() const;

private:
    RawFileReader();
    std::unique_ptr<RawFileReader> sibling() const;
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace vexadin
