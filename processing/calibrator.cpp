#include "processing/calibrator.h"

#include "camera/calibrationjson.h"

#include <QDebug>

#include <climits>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif
#include <cmath>
#include <algorithm>
#include <cstring>
#include <vector>

namespace vexadin {

namespace {

// One unit in the last place above 486/145; puts the DVS centre (640, 360) onto the
// APS centre (1920, 1080).
constexpr Calibrator::Affine kDefaultDvsToAps = {3.351724137931035, 0, -225.10344827586232,
                                                 0, 3.351724137931035, -126.62068965517255};
constexpr double kDefaultApsToDvsScale = 145.0 / 486.0;

// Conversion to int32 toward zero without undefined behaviour: values outside the
// int32 range, and NaN, give INT32_MIN (what the processor's own conversion gives).
int32_t truncateToInt32(double v)
{
    if (v > -2147483649.0 && v < 2147483648.0)
        return int32_t(v);
    return INT32_MIN;
}

// The six values of transform `key`, or a reason why they cannot be used.
const char *usableAffine(const CalibratorParameters &params, const char *key, Calibrator::Affine &out)
{
    const auto it = params.transforms.find(key);
    if (it == params.transforms.end())
        return "is missing";
    const std::vector<double> &values = it->second.values;
    if (values.size() < 6)
        return "has fewer than six values";
    for (size_t i = 0; i < 6; ++i) {
        if (!std::isfinite(values[i]))
            return "holds a value that is not a finite number";
        out[i] = values[i];
    }
    return nullptr;
}

// Per-thread scratch for the per-column terms, so a warp does not allocate.
struct WarpScratch {
    std::vector<double> colX;        // x * m0
    std::vector<double> colY;        // x * m3
    std::vector<int32_t> srcColumn;  // byte offset of the source column, or -1
    std::vector<int32_t> tileOffsets[2]; // source byte offset of every pixel of a tile, or -1
};

// Rotated and sheared warps go tile by tile: the source pixels of one tile lie in a
// small patch of a few dozen source lines, so its pages stay in the TLB and its
// lines can be fetched ahead while the tile before it is copied.
constexpr int kTileRows = 16;
constexpr int kTileColumns = 64;

WarpScratch &warpScratch(size_t width)
{
    thread_local WarpScratch scratch;
    if (scratch.colX.size() < width) {
        scratch.colX.resize(width);
        scratch.colY.resize(width);
        scratch.srcColumn.resize(width);
    }
    for (std::vector<int32_t> &offsets : scratch.tileOffsets)
        offsets.resize(size_t(kTileRows) * kTileColumns);
    return scratch;
}

// The source byte offset (-1 when outside the frame) of `count` pixels of one DVS row,
// from sx = ((rowX + colX[i]) + m2) + ox and sy = ((rowY + colY[i]) + m5) + oy
// truncated toward zero. Two pixels per step where SSE2 is there, with the same IEEE
// additions as one at a time: identical results.
void sourceOffsets(double rowX, double rowY, const double *colX, const double *colY, int count, const double *m,
                   double ox, double oy, double apsW, double apsH, double stride, int32_t *offsets)
{
    int i = 0;
#if defined(__SSE2__)
    const __m128d rx = _mm_set1_pd(rowX), ry = _mm_set1_pd(rowY);
    const __m128d m2 = _mm_set1_pd(m[2]), m5 = _mm_set1_pd(m[5]);
    const __m128d ovx = _mm_set1_pd(ox), ovy = _mm_set1_pd(oy);
    const __m128d minusOne = _mm_set1_pd(-1.0), w = _mm_set1_pd(apsW), h = _mm_set1_pd(apsH);
    const __m128i strideV = _mm_set1_epi32(int32_t(stride));
    const __m128i allOnes = _mm_set1_epi32(-1);
    for (; i + 2 <= count; i += 2) {
        const __m128d vx = _mm_add_pd(_mm_add_pd(_mm_add_pd(rx, _mm_loadu_pd(colX + i)), m2), ovx);
        const __m128d vy = _mm_add_pd(_mm_add_pd(_mm_add_pd(ry, _mm_loadu_pd(colY + i)), m5), ovy);
        const __m128d inside = _mm_and_pd(_mm_and_pd(_mm_cmpgt_pd(vx, minusOne), _mm_cmplt_pd(vx, w)),
                                          _mm_and_pd(_mm_cmpgt_pd(vy, minusOne), _mm_cmplt_pd(vy, h)));
        // Out-of-range values (NaN included) become 0 before the conversion.
        const __m128i sx = _mm_cvttpd_epi32(_mm_and_pd(vx, inside));
        const __m128i sy = _mm_cvttpd_epi32(_mm_and_pd(vy, inside));
        // sy * stride in 64-bit lanes (the offset is below 2^31), back into 32-bit lanes 0 and 1.
        const __m128i rowBytes = _mm_shuffle_epi32(
            _mm_mul_epu32(_mm_shuffle_epi32(sy, _MM_SHUFFLE(3, 1, 2, 0)), strideV), _MM_SHUFFLE(3, 3, 2, 0));
        const __m128i offset = _mm_add_epi32(rowBytes, _mm_add_epi32(_mm_add_epi32(sx, sx), sx));
        const __m128i in32 = _mm_shuffle_epi32(_mm_castpd_si128(inside), _MM_SHUFFLE(3, 1, 2, 0));
        _mm_storel_epi64(reinterpret_cast<__m128i *>(offsets + i),
                         _mm_or_si128(offset, _mm_andnot_si128(in32, allOnes)));
    }
#endif
    for (; i < count; ++i) {
        const double vx = ((rowX + colX[i]) + m[2]) + ox;
        const double vy = ((rowY + colY[i]) + m[5]) + oy;
        const bool inside = vx > -1.0 && vx < apsW && vy > -1.0 && vy < apsH;
        offsets[i] = inside ? int32_t(int32_t(vy) * stride + int32_t(vx) * 3) : -1;
    }
}

#if defined(__x86_64__) || defined(__i386__)
#define VX_HAVE_AVX2_VARIANT 1
// The same, four pixels per step; chosen at run time where the processor has AVX2.
__attribute__((target("avx2"))) void sourceOffsetsAvx2(double rowX, double rowY, const double *colX,
                                                        const double *colY, int count, const double *m, double ox,
                                                        double oy, double apsW, double apsH, double stride,
                                                        int32_t *offsets)
{
    int i = 0;
    const __m256d rx = _mm256_set1_pd(rowX), ry = _mm256_set1_pd(rowY);
    const __m256d m2 = _mm256_set1_pd(m[2]), m5 = _mm256_set1_pd(m[5]);
    const __m256d ovx = _mm256_set1_pd(ox), ovy = _mm256_set1_pd(oy);
    const __m256d minusOne = _mm256_set1_pd(-1.0), w = _mm256_set1_pd(apsW), h = _mm256_set1_pd(apsH);
    const __m128i strideV = _mm_set1_epi32(int32_t(stride));
    const __m256i pickLow = _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6);
    for (; i + 4 <= count; i += 4) {
        const __m256d vx = _mm256_add_pd(_mm256_add_pd(_mm256_add_pd(rx, _mm256_loadu_pd(colX + i)), m2), ovx);
        const __m256d vy = _mm256_add_pd(_mm256_add_pd(_mm256_add_pd(ry, _mm256_loadu_pd(colY + i)), m5), ovy);
        const __m256d inside =
            _mm256_and_pd(_mm256_and_pd(_mm256_cmp_pd(vx, minusOne, _CMP_GT_OQ), _mm256_cmp_pd(vx, w, _CMP_LT_OQ)),
                          _mm256_and_pd(_mm256_cmp_pd(vy, minusOne, _CMP_GT_OQ), _mm256_cmp_pd(vy, h, _CMP_LT_OQ)));
        const __m128i sx = _mm256_cvttpd_epi32(_mm256_and_pd(vx, inside));
        const __m128i sy = _mm256_cvttpd_epi32(_mm256_and_pd(vy, inside));
        const __m128i offset = _mm_add_epi32(_mm_mullo_epi32(sy, strideV), _mm_add_epi32(_mm_add_epi32(sx, sx), sx));
        const __m128i in32 =
            _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(_mm256_castpd_si256(inside), pickLow));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(offsets + i), _mm_or_si128(offset, _mm_xor_si128(in32, _mm_set1_epi32(-1))));
    }
    if (i < count)
        sourceOffsets(rowX, rowY, colX + i, colY + i, count - i, m, ox, oy, apsW, apsH, stride, offsets + i);
}
#endif

using SourceOffsetsFn = void (*)(double, double, const double *, const double *, int, const double *, double,
                                 double, double, double, double, int32_t *);

SourceOffsetsFn sourceOffsetsForThisCpu()
{
#if defined(VX_HAVE_AVX2_VARIANT)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2"))
        return sourceOffsetsAvx2;
#endif
    return sourceOffsets;
}

std::atomic<SourceOffsetsFn> &sourceOffsetsFn()
{
    static std::atomic<SourceOffsetsFn> fn{sourceOffsetsForThisCpu()};
    return fn;
}

// Copies `count` pixels of one DVS row from their source offsets; -1 writes black
// (the result's initial content). Four bytes per pixel, the fourth overwritten by the
// next pixel, except for the segment's last pixel and a source pixel at the very end
// of the buffer.
void gatherSegment(const uint8_t *src, uint32_t maxFourByteOffset, const int32_t *offsets, int count, uint8_t *out)
{
    static const uint8_t black[4] = {0, 0, 0, 0};
    for (int i = 0; i + 1 < count; ++i, out += 3) {
        const int32_t offset = offsets[i];
        if (uint32_t(offset) <= maxFourByteOffset) // inside, and four bytes can be read
            std::memcpy(out, src + offset, 4);
        else if (offset < 0)
            std::memcpy(out, black, 4);
        else
            std::memcpy(out, src + offset, 3);
    }
    if (count > 0) {
        const int32_t offset = offsets[count - 1];
        std::memcpy(out, offset >= 0 ? src + offset : black, 3);
    }
}

} // namespace

Calibrator::Calibrator() : dvs_to_aps_(kDefaultDvsToAps)
{
    params_.dvs_width = 1280;
    params_.dvs_height = 720;
    params_.aps_width = 3840;
    params_.aps_height = 2160;
    const double s = kDefaultApsToDvsScale;
    // Integer halves of the 16-bit sizes, as the camera computes them.
    const double tx = double(params_.dvs_width / 2) - double(params_.aps_width / 2) * s;
    const double ty = double(params_.dvs_height / 2) - double(params_.aps_height / 2) * s;
    aps_to_dvs_ = {s, 0, tx, 0, s, ty};
}

bool Calibrator::loadCalibrationParam(const CalibratorParameters &params)
{
    Affine toAps{};
    Affine toDvs{};
    const char *problem = usableAffine(params, "1", toAps);
    const char *key = "1";
    if (!problem) {
        problem = usableAffine(params, "0", toDvs);
        key = "0";
    }
    if (problem) {
        qWarning().nospace() << "Calibration refused, previous one kept: transform \"" << key << "\" " << problem;
        return false;
    }
    if (params.dvs_width == 0 || params.dvs_height == 0 || params.aps_width == 0 || params.aps_height == 0) {
        qWarning() << "Calibration refused, previous one kept: a grid size is zero";
        return false;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    params_ = params;
    dvs_to_aps_ = toAps;
    aps_to_dvs_ = toDvs;
    offset_x_.exchange(0.0);
    offset_y_.exchange(0.0);
    return true;
}

bool Calibrator::saveCalibrationParam(const std::string &path)
{
    CalibratorParameters record;
    {
        // Fold and reset together, so no warp sees the offsets twice or not at all.
        std::lock_guard<std::mutex> lock(mutex_);
        dvs_to_aps_[2] += offset_x_.exchange(0.0);
        dvs_to_aps_[5] += offset_y_.exchange(0.0);
        params_.transforms["1"].values.assign(dvs_to_aps_.begin(), dvs_to_aps_.end());
        computeInverseAffine(dvs_to_aps_.data(), aps_to_dvs_.data());
        params_.transforms["0"].values.assign(aps_to_dvs_.begin(), aps_to_dvs_.end());
        record = params_;
    }
    return paramToJsonFile(record, path);
}

void Calibrator::computeInverseAffine(const double *src, double *dst)
{
    const double det = src[4] * src[0] - src[3] * src[1];
    if (std::fabs(det) < 1e-12)
        return;
    const double inv = 1 / det;
    dst[0] = src[4] * inv;
    dst[1] = -src[1] * inv;
    dst[3] = -src[3] * inv;
    dst[4] = src[0] * inv;
    dst[2] = -(dst[1] * src[5] + dst[0] * src[2]);
    dst[5] = -(dst[4] * src[5] + dst[3] * src[2]);
}

void Calibrator::adjustAffineTranslation(double dx, double dy)
{
    offset_x_.exchange(dx);
    offset_y_.exchange(dy);
}

Calibrator::Snapshot Calibrator::snapshot() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return {dvs_to_aps_, offset_x_.load(), offset_y_.load(),
            params_.dvs_width, params_.dvs_height, params_.aps_width, params_.aps_height};
}

ApsFrame Calibrator::mapApsToDvs(const ApsFrame &frame) const
{
    const Snapshot s = snapshot();
    ApsFrame result(s.dvsWidth, s.dvsHeight, frame.getFrameNumber(), frame.getTimestamp());
    if (result.isEmpty())
        return result;
    if (frame.isEmpty() || frame.getWidth() < s.apsWidth || frame.getHeight() < s.apsHeight) {
        if (!warned_small_frame_.exchange(true))
            qWarning() << "APS frame of" << frame.getWidth() << "x" << frame.getHeight()
                       << "is smaller than the calibration's" << s.apsWidth << "x" << s.apsHeight
                       << "; shown black";
        return result;
    }

    // sx = trunc(((y * m1 + x * m0) + m2) + offset x) and
    // sy = trunc(((y * m4 + x * m3) + m5) + offset y), pixel by pixel. Only the
    // products, each depending on one coordinate, are computed once per row or column;
    // the additions keep their order, so every result is bit-identical to the formula.
    const double *m = s.m.data();
    const int width = s.dvsWidth;
    const int height = s.dvsHeight;
    const double apsW = s.apsWidth;
    const double apsH = s.apsHeight;
    const size_t srcStride = size_t(frame.getWidth()) * 3;
    const uint8_t *src = frame.data();
    uint8_t *dst = result.data();

    WarpScratch &scratch = warpScratch(size_t(width));
    double *colX = scratch.colX.data();
    double *colY = scratch.colY.data();
    for (int x = 0; x < width; ++x) {
        colX[x] = x * m[0];
        colY[x] = x * m[3];
    }
    // 0 <= trunc(v) < size, decided before converting (out-of-range conversions are undefined).
    auto inRange = [](double v, double size) { return v > -1.0 && v < size; };

    if (m[1] == 0.0 && m[3] == 0.0) {
        // No rotation or shear: y * m1 and x * m3 are zeros, which change no sum, so the
        // source column depends on x only and the source row on y only.
        int32_t *srcColumn = scratch.srcColumn.data();
        for (int x = 0; x < width; ++x) {
            const double vx = ((0.0 + colX[x]) + m[2]) + s.offsetX;
            srcColumn[x] = inRange(vx, apsW) ? int32_t(vx) * 3 : -1;
        }
        for (int y = 0; y < height; ++y) {
            const double vy = ((y * m[4] + 0.0) + m[5]) + s.offsetY;
            if (!inRange(vy, apsH))
                continue;
            const uint8_t *row = src + size_t(int32_t(vy)) * srcStride;
            uint8_t *out = dst + size_t(y) * width * 3;
            for (int x = 0; x < width; ++x, out += 3) {
                const int32_t c = srcColumn[x];
                if (c >= 0)
                    std::memcpy(out, row + c, 3);
            }
        }
        return result;
    }

    // Rotated or sheared. The offsets of the next tile are worked out and its source
    // lines prefetched before the current tile is copied, so the memory accesses of the
    // diagonal walk overlap instead of waiting one after another.
    const size_t srcBytes = srcStride * frame.getHeight();
    if (srcBytes > size_t(INT32_MAX)) {
        // Byte offsets would not fit 32 bits (no camera has such frames): pixel by pixel.
        for (int y = 0; y < height; ++y) {
            uint8_t *out = dst + size_t(y) * width * 3;
            for (int x = 0; x < width; ++x, out += 3) {
                const double vx = ((y * m[1] + colX[x]) + m[2]) + s.offsetX;
                const double vy = ((y * m[4] + colY[x]) + m[5]) + s.offsetY;
                if (inRange(vx, apsW) && inRange(vy, apsH))
                    std::memcpy(out, src + size_t(int32_t(vy)) * srcStride + size_t(int32_t(vx)) * 3, 3);
            }
        }
        return result;
    }
    const uint32_t maxFourByteOffset = uint32_t(srcBytes - 4);
    struct Tile {
        int x0, y0, columns, rows;
    };
    auto tileAt = [&](int index, Tile &tile) {
        const int tilesPerBand = (width + kTileColumns - 1) / kTileColumns;
        tile.y0 = (index / tilesPerBand) * kTileRows;
        tile.x0 = (index % tilesPerBand) * kTileColumns;
        if (tile.y0 >= height)
            return false;
        tile.rows = std::min(kTileRows, height - tile.y0);
        tile.columns = std::min(kTileColumns, width - tile.x0);
        return true;
    };
    const SourceOffsetsFn offsetsOfRow = sourceOffsetsFn().load(std::memory_order_relaxed);
    auto prepare = [&](const Tile &tile, int32_t *offsets) {
        for (int r = 0; r < tile.rows; ++r) {
            const int y = tile.y0 + r;
            int32_t *rowOffsets = offsets + r * kTileColumns;
            offsetsOfRow(y * m[1], y * m[4], colX + tile.x0, colY + tile.x0, tile.columns, m, s.offsetX,
                          s.offsetY, apsW, apsH, double(srcStride), rowOffsets);
            for (int i = 0; i < tile.columns; i += 4)
                if (rowOffsets[i] >= 0)
                    __builtin_prefetch(src + rowOffsets[i]);
        }
    };
    int32_t *current = scratch.tileOffsets[0].data();
    int32_t *upcoming = scratch.tileOffsets[1].data();
    Tile tile{};
    Tile next{};
    int index = 0;
    if (!tileAt(index, tile))
        return result;
    prepare(tile, current);
    for (;;) {
        const bool more = tileAt(++index, next);
        if (more)
            prepare(next, upcoming);
        for (int r = 0; r < tile.rows; ++r)
            gatherSegment(src, maxFourByteOffset, current + r * kTileColumns, tile.columns,
                          dst + (size_t(tile.y0 + r) * width + tile.x0) * 3);
        if (!more)
            break;
        tile = next;
        std::swap(current, upcoming);
    }
    return result;
}

bool Calibrator::setWideVectorsAllowed(bool allowed)
{
    const SourceOffsetsFn fn = allowed ? sourceOffsetsForThisCpu() : sourceOffsets;
    sourceOffsetsFn().store(fn);
    return fn != sourceOffsets;
}

void Calibrator::mapDvsToAps(Event2D *first, Event2D *last) const
{
    const Affine m = dvsToAps();
    for (Event2D *e = first; e != last; ++e) {
        const double x = e->x;
        const double y = e->y;
        const int32_t nx = truncateToInt32((y * m[1] + x * m[0]) + m[2]);
        const int32_t ny = truncateToInt32((x * m[3] + y * m[4]) + m[5]);
        e->x = uint16_t(uint32_t(nx));
        e->y = uint16_t(uint32_t(ny));
    }
}

CalibratorParameters Calibrator::parameters() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return params_;
}

Calibrator::Affine Calibrator::dvsToAps() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return dvs_to_aps_;
}

Calibrator::Affine Calibrator::apsToDvs() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return aps_to_dvs_;
}

} // namespace vexadin
