#pragma once

#include "eventimporter.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vxraw {

// HDF5 event files as data sets and simulators publish them: one group (the root
// or a group directly below it) holding four one-dimensional datasets of equal
// length, found by name:
//   x: "x" or "xs"   y: "y" or "ys"   (integers; origin top-left)
//   t: "t" or "ts"   integer µs, or floating-point seconds (rounded to the µs)
//   p: "p" or "ps"   integer or boolean; > 0 is ON
// An optional "t_offset" (a one-value dataset or an attribute, in the group or the
// root; µs when an integer, seconds when floating-point) is added to every time.
// The sensor size comes from integer attributes of the group or the root, the first
// pair present of width/height, sensor_width/sensor_height, size_x/size_y,
// sizeX/sizeY, image_width/image_height; without one the converter finds it by a
// first pass. Events outside the sensor are skipped and counted.
//
// The datasets are read in slices of kReadEvents, so memory stays bounded for
// files of any size. Compression filters this build of libhdf5 cannot decode are
// named at open(). Calls into libhdf5 are serialised process-wide (the Debian
// library is not built thread-safe).
class Hdf5Importer : public EventImporter {
public:
    explicit Hdf5Importer(std::string path);
    ~Hdf5Importer() override;
    Hdf5Importer(const Hdf5Importer &) = delete;
    Hdf5Importer &operator=(const Hdf5Importer &) = delete;

    const char *formatName() const override { return "HDF5"; }
    bool open() override;
    uint16_t fileWidth() const override { return fileWidth_; }
    uint16_t fileHeight() const override { return fileHeight_; }
    bool sizeFromScan() const override { return fileWidth_ == 0 || fileHeight_ == 0; }
    bool next(std::vector<vexadin::Event2D> &out, size_t maxEvents) override;
    double progress() const override;

    // The HDF5 signature at the start of the file.
    static bool looksLikeHdf5(const char *head, size_t size);
    // The group the events were found in, e.g. "/" or "/events".
    const std::string &groupPath() const { return group_; }
    uint64_t eventCount() const { return count_; }

    // Column data of `count` events, as read from the file (exactly one of tUs and
    // tSeconds is set). Kept apart from the file access so it can be fuzzed alone.
    struct Columns {
        const int32_t *x = nullptr;
        const int32_t *y = nullptr;
        const int8_t *p = nullptr;
        const int64_t *tUs = nullptr;
        const double *tSeconds = nullptr;
        size_t count = 0;
    };
    // Appends the events of `c` (the first one being event number firstIndex of the
    // file) to `out`, adding timeOffsetUs; skips and counts events outside the
    // sensor. False (error() set) for a time that is negative, not a number, too
    // large, or earlier than the one before.
    bool appendColumns(const Columns &c, uint64_t firstIndex, std::vector<vexadin::Event2D> &out);
    void setTimeOffsetUs(int64_t offset) { timeOffsetUs_ = offset; }

    static constexpr size_t kReadEvents = 1 << 20;

private:
    struct Handles;
    bool openLocked();
    bool readSlice();
    void closeLocked();

    std::string path_;
    Handles *h_;
    std::string group_;
    uint16_t fileWidth_ = 0;
    uint16_t fileHeight_ = 0;
    uint64_t count_ = 0;
    uint64_t sliceStart_ = 0; // index of the first event in the buffers
    size_t sliceUsed_ = 0;    // events of the buffers already handed out
    size_t sliceSize_ = 0;
    int64_t timeOffsetUs_ = 0;
    bool timeInSeconds_ = false;
    std::vector<int32_t> x_, y_;
    std::vector<int8_t> p_;
    std::vector<int64_t> tUs_;
    std::vector<double> tSeconds_;
};

} // namespace vxraw
