#pragma once

#include "camera/apsframe.h"
#include "camera/calibratorparameters.h"
#include "camera/event2d.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace vexadin {

// The geometric relation between a fusion camera's event grid (DVS) and its frame
// grid (APS): a DVS-to-APS affine, its inverse, and a pending manual translation
// (in APS pixels) that the user adjusts by hand until it is saved into the matrix.
//
// mapApsToDvs runs on the camera and playback threads while the GUI thread sets
// offsets, loads and saves; every member may be called from any thread. A warp
// takes one consistent snapshot of matrix and offsets when it starts.
class Calibrator {
public:
    using Affine = std::array<double, 6>; // a00, a01, a02, a10, a11, a12

    Calibrator();
    Calibrator(const Calibrator &) = delete;
    Calibrator &operator=(const Calibrator &) = delete;

    // Takes over a record from the camera or a recording's JSON file. A record whose
    // "1" (DVS to APS) or "0" (APS to DVS) transform is missing, holds fewer than six
    // values or non-finite ones, or whose grid sizes are zero is refused: false, one
    // log line, and everything stays as it was (offsets included). Taking a record
    // over resets the pending offsets to 0.
    bool loadCalibrationParam(const CalibratorParameters &params);

    // Folds the pending offsets into the DVS-to-APS translation, stores both matrices
    // (the APS-to-DVS one recomputed as the inverse) in the record, writes the record
    // as JSON to `path` and resets the offsets. The in-memory state is the same
    // whether or not the file could be written; the result says whether it was.
    bool saveCalibrationParam(const std::string &path);

    // A dvs_width x dvs_height frame with the source frame's numbers, each pixel taken
    // (nearest, by truncation toward zero) from the APS pixel that the DVS-to-APS
    // affine plus the pending offsets give; pixels with no source stay black. A
    // source smaller than the calibration's APS size cannot be addressed and gives an
    // all-black result (logged once).
    ApsFrame mapApsToDvs(const ApsFrame &frame) const;

    // Rewrites x and y of the events in [first, last) into APS pixel coordinates (no
    // offsets, no bounds test: the low 16 bits of the truncated result).
    void mapDvsToAps(Event2D *first, Event2D *last) const;

    // dst = inverse of the affine src; dst is left unchanged when src is singular
    // (|determinant| < 1e-12).
    static void computeInverseAffine(const double *src, double *dst);

    // Sets (replaces, not adds to) the pending manual translation in APS pixels.
    void adjustAffineTranslation(double dx, double dy);

    // Rotated warps use AVX2 where the processor has it, SSE2 otherwise; tests turn the
    // wider one off to check the other. True when the wider one is in use afterwards.
    static bool setWideVectorsAllowed(bool allowed);

    // Inspection.
    CalibratorParameters parameters() const;
    Affine dvsToAps() const;
    Affine apsToDvs() const;
    double offsetX() const { return offset_x_.load(); }
    double offsetY() const { return offset_y_.load(); }

private:
    struct Snapshot {
        Affine m;
        double offsetX;
        double offsetY;
        uint16_t dvsWidth, dvsHeight, apsWidth, apsHeight;
    };
    Snapshot snapshot() const;

    CalibratorParameters params_; // the record saved and replaced; guarded by mutex_
    Affine dvs_to_aps_;           // guarded by mutex_
    Affine aps_to_dvs_;           // guarded by mutex_
    std::atomic<double> offset_x_{0.0};
    std::atomic<double> offset_y_{0.0};
    // Matrices, sizes and the fold of the offsets change together under this lock, so
    // a warp never mixes a saved matrix with the offsets it already contains.
    mutable std::mutex mutex_;
    mutable std::atomic<bool> warned_small_frame_{false};
};

} // namespace vexadin
