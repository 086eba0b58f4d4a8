#include "driver/simulatedscene.h"

#include "driver/sceneshape.h"
#include "driver/splitmixrandom.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>

#include <stdlib.h>
#include <sys/mman.h>

namespace vexadin {

namespace {

constexpr double kPi = 3.14159265358979323846;

// The scene is worked out in steps of this length on a grid fixed to the camera
// clock: the edge crossings and noise of a step are drawn together, so the stream
// does not depend on how a caller slices time.
constexpr uint64_t kStepUs = 1000;
// Objects move at most this far between two evaluations of their outline; crossing
// times in between are interpolated.
constexpr double kMaxSubStepPx = 1.5;
// A pixel's filtered level is within e^-20 of its input after this many time constants.
constexpr double kSettledTaus = 20.0;
// Threshold mismatch is stored per pixel in steps of this relative size.
constexpr float kMismatchStep = 0.005f;
constexpr double kMismatchSigma = 0.15; // relative: 0.03 log units at a 0.2 threshold
constexpr double kMismatchLimit = 0.45;
constexpr double kLeakShare = 0.1;      // of the background activity: leak, always ON
constexpr double kLampPeriodUs = 10000; // 100 Hz
constexpr double kNominalCutoffHz = 300.0;
constexpr uint64_t kCalendarSteps = 256; // fewer than the 2^14 a pixel can tell apart
constexpr double kMaxNoiseHz = 50.0; // per pixel, whatever the settings
constexpr uint64_t kNoiseSalt = 0x6e6f697365ULL;

// The whole columns 0..count-1 that lie in [u0, u1]; false when none. Clipped
// before any conversion to int, whatever the line gave.
bool clipColumns(double u0, double u1, int count, int &first, int &last)
{
    if (!(u0 <= u1))
        return false;
    const double a = std::max(0.0, std::ceil(u0)), b = std::min(double(count - 1), std::floor(u1));
    if (!(a <= b))
        return false;
    first = int(a);
    last = int(b);
    return true;
}

// Pixel columns first..last (inclusive) of one row inside a shape; empty when first > last.
struct Span {
    int first = 1, last = 0;
    bool contains(int x) const { return x >= first && x <= last; }
};

// The outline of every shape at one moment, row by row.
struct Outlines {
    double t = 0;
    std::vector<SceneShape::Pose> poses;
    std::vector<int> firstRow, lastRow;   // per shape
    std::vector<std::vector<Span>> spans; // per shape, rows firstRow..lastRow

    Span span(size_t shape, int row) const
    {
        if (row < firstRow[shape] || row > lastRow[shape])
            return {};
        return spans[shape][size_t(row - firstRow[shape])];
    }
};

// What a pixel's photoreceptor and change detector hold. Levels are log intensity.
// 32 bytes, so that a pixel is one cache line's business.
struct alignas(32) Pixel {
    double tChange = 0;  // when the input last changed
    double tLast = -1e18; // last event, for the refractory period
    float start = 0;     // filtered level at tChange
    float target = 0;    // input level since tChange
    float ref = 0;       // level at the last event (the reset)
    int8_t mismatchOn = 0, mismatchOff = 0; // in kMismatchStep
    // Calendar listing: bits 14-15 the state (0 not listed, 1 listed, 2 kept in
    // the step being worked on), bits 0-13 the low bits of the step it is listed
    // under (entries never wait longer than the calendar's length).
    uint16_t slot = 0;

    unsigned listing() const { return slot >> 14; }
    bool listedAt(uint64_t step) const { return (slot & kSlotMask) == (step & kSlotMask); }
    void list(uint64_t step, unsigned state) { slot = uint16_t((step & kSlotMask) | (state << 14)); }
    static constexpr uint16_t kSlotMask = 0x3fff;
};
static_assert(sizeof(Pixel) == 32, "one pixel per half cache line");

// Hot pixel events go through the pixel like any event (reset, refractory period).
enum ChangeKind : uint8_t { InputChange, HotOff, HotOn };

struct Change {
    double t;
    uint32_t pixel;
    float target;
    ChangeKind kind;
};

// The pixel array is large (tens of MB at 1280 x 720) and its first use would
// fault in every page; huge pages, where the system offers them, save most of that.
template <class T>
struct HugePageAllocator {
    using value_type = T;
    HugePageAllocator() = default;
    template <class U>
    HugePageAllocator(const HugePageAllocator<U> &) {}
    T *allocate(size_t n)
    {
        constexpr size_t kHuge = size_t(2) << 20;
        const size_t bytes = std::max<size_t>(n * sizeof(T), 1);
        if (bytes < kHuge)
            return static_cast<T *>(::operator new(bytes, std::align_val_t(alignof(T))));
        void *p = nullptr;
        const size_t rounded = (bytes + kHuge - 1) / kHuge * kHuge;
        if (posix_memalign(&p, kHuge, rounded) != 0)
            throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
        madvise(p, rounded, MADV_HUGEPAGE);
#endif
        return static_cast<T *>(p);
    }
    void deallocate(T *p, size_t n)
    {
        if (std::max<size_t>(n * sizeof(T), 1) < (size_t(2) << 20))
            ::operator delete(p, std::align_val_t(alignof(T)));
        else
            std::free(p);
    }
    bool operator==(const HugePageAllocator &) const { return true; }
    bool operator!=(const HugePageAllocator &) const { return false; }
};

struct LampPixel {
    uint32_t index;
    float base, swing;
};

struct Model {
    double onThreshold, offThreshold, refractoryUs, tauUs, noisePerPixelUs;
};

} // namespace

struct SimulatedScene::Impl {
    uint16_t width = 0, height = 0;
    uint64_t seed = 0;

    // Constant after construction: may be read by renderBgr() on another thread.
    std::vector<SceneShape> shapes; // bottom to top
    double bgLevel0 = 0, bgSlopeX = 0, bgSlopeY = 0;
    float bgTint[3] = {1, 1, 1};
    double lampX = 0, lampY = 0, lampRadius = 0, lampPhaseUs = 0;
    float lampBase = 0, lampSwingCentre = 0, lampSwingRim = 0;
    float lampTint[3] = {1, 1, 1};
    struct HotPixel {
        uint32_t index;
        double rateHz;
    };
    std::vector<HotPixel> hotPixels;
    double maxShapeSpeed = 0; // px per µs

    // Producer state.
    std::vector<Pixel, HugePageAllocator<Pixel>> pixels;
    std::vector<LampPixel> lamp;
    // Pixels with an event to come, listed under the grid step of its time (ring
    // of kCalendarSteps; a later one is listed at the ring's end and moved on).
    std::vector<std::vector<uint32_t>> calendar;
    std::vector<Change> changes, changeScratch;
    size_t nextChange = 0;
    std::vector<uint32_t> counts;
    std::vector<Event2D> pending; // events of the range being worked out, unsorted
    std::vector<uint32_t> noiseCount; // per microsecond of that range
    std::vector<uint64_t> noiseState;
    Outlines stepStart, subStepEnd;
    bool started = false;
    uint64_t now = 0;       // everything before is delivered
    uint64_t builtStep = 0; // grid step whose changes are built
    bool stepBuilt = false; // false: none yet since the last reset
    Model model{};

    mutable std::mutex renderMutex; // guards the cached background picture
    mutable std::vector<uint8_t> background;
    mutable std::vector<double> backgroundKey, previousKey;

    void buildScene();
    float backgroundLevel(int x, int y) const
    {
        return float(bgLevel0 + bgSlopeX * x + bgSlopeY * y);
    }
    bool inLamp(double x, double y) const
    {
        const double dx = x - lampX, dy = y - lampY;
        return dx * dx + dy * dy <= lampRadius * lampRadius;
    }
    float lampSwing(double x, double y) const
    {
        const double r = std::min(std::hypot(x - lampX, y - lampY) / lampRadius, 1.0);
        return float(lampSwingCentre + (lampSwingRim - lampSwingCentre) * r);
    }
    bool lampLit(double t) const
    {
        double phase = std::fmod(t - lampPhaseUs, kLampPeriodUs);
        if (phase < 0)
            phase += kLampPeriodUs;
        return phase < kLampPeriodUs / 2;
    }

    void outlinesAt(double t, Outlines &o) const;
    float inputLevel(const Outlines &o, int x, int y) const;
    void reset(uint64_t t);
    void buildStep(uint64_t step);
    void addShapeChanges(const Outlines &a, const Outlines &b);
    void run(uint64_t from, uint64_t to, std::vector<Event2D> &out);
    void drawBackground(int frameWidth, int frameHeight, const double m[6], double gain,
                        uint8_t *bgr) const;
    void render(double t, int frameWidth, int frameHeight, const double m[6], double gain,
                uint8_t *bgr) const;
    double advance(uint32_t index, double from, double horizon);
    float filtered(const Pixel &p, double t) const
    {
        const double dt = t - p.tChange;
        if (dt >= kSettledTaus * model.tauUs)
            return p.target;
        // Single precision is plenty for a level and quicker.
        return p.target + (p.start - p.target) * std::exp(float(-dt / model.tauUs));
    }
    float onThreshold(const Pixel &p) const
    {
        return float(model.onThreshold * (1.0f + kMismatchStep * p.mismatchOn));
    }
    float offThreshold(const Pixel &p) const
    {
        return float(model.offThreshold * (1.0f + kMismatchStep * p.mismatchOff));
    }
    void schedule(uint32_t index, double due, uint64_t currentStep)
    {
        if (!(due < std::numeric_limits<double>::infinity()))
            return;
        const uint64_t step = std::min(uint64_t(due) / kStepUs, currentStep + kCalendarSteps - 1);
        Pixel &p = pixels[index];
        if (p.listing() && p.listedAt(step))
            return;
        p.list(step, 1);
        calendar[step % kCalendarSteps].push_back(index);
    }
    void prefetch(uint32_t index) const
    {
#if defined(__GNUC__)
        __builtin_prefetch(&pixels[index], 1);
#else
        (void)index;
#endif
    }
    void emit(uint32_t index, bool on, double t)
    {
        pending.emplace_back(uint16_t(index % width), uint16_t(index / width), uint8_t(on),
                             uint64_t(t));
    }
};

void SimulatedScene::Impl::buildScene()
{
    // Laid out for 1280 x 720 and scaled to the sensor: positions with each axis,
    // sizes and speeds with the mean scale, so a smaller sensor sees the same scene.
    const double sx = width / 1280.0, sy = height / 720.0;
    const double s = std::sqrt(sx * sy);
    SplitMixRandom rnd(SplitMixRandom::mix(seed ^ 0x5ce7e5ce7eULL));
    const double perSecond = 1e-6;

    struct Spec {
        bool disc;
        double halfW, halfH, x, y, vx, vy, angle, omega;
        float level;
        float tint[3];
    };
    // Speeds in px/s and rad/s at 1280 x 720. Bright and dark shapes over a
    // mid-grey background, from a slow drifting panel to a fast small square.
    const Spec specs[] = {
        {false, 85, 55, 300, 420, 140, -95, 0.2, 0.35, 0.95f, {0.35f, 0.75f, 1.0f}},
        {true, 70, 70, 900, 200, 250, 180, 0, 0, 1.15f, {1.0f, 0.9f, 0.6f}},
        {false, 185, 13, 700, 420, 35, 20, 0, 2 * kPi * 0.45, -1.0f, {0.5f, 0.45f, 0.4f}},
        {true, 42, 42, 200, 150, -610, 420, 0, 0, -0.9f, {1.0f, 0.45f, 0.4f}},
        {true, 55, 55, 1000, 550, 85, -60, 0, 0, -0.5f, {0.35f, 0.8f, 0.4f}},
        {false, 40, 60, 150, 560, 820, 150, 0, 0, 0.8f, {0.9f, 0.55f, 0.9f}},
        {false, 15, 15, 600, 100, 1100, 640, 0, 4.0, 1.3f, {0.4f, 1.0f, 1.0f}},
    };
    for (const Spec &sp : specs) {
        SceneShape sh;
        sh.disc = sp.disc;
        sh.halfW = sp.halfW * s;
        sh.halfH = sp.halfH * s;
        // The seed moves each shape's start a little, so that two cameras differ.
        sh.startX = (sp.x + 40 * (rnd.uniform() - 0.5)) * sx;
        sh.startY = (sp.y + 40 * (rnd.uniform() - 0.5)) * sy;
        sh.vx = sp.vx * s * perSecond;
        sh.vy = sp.vy * s * perSecond;
        sh.angle0 = sp.angle + rnd.uniform();
        sh.omega = sp.omega * perSecond;
        // The bar turns about a centre that drifts in a small area; the others
        // travel the whole sensor, staying fully inside it.
        const double margin = sh.reach();
        if (sp.omega > 1.0 && !sp.disc && sp.halfW > 100) {
            sh.minX = sh.startX - 80 * s;
            sh.maxX = sh.startX + 80 * s;
            sh.minY = sh.startY - 50 * s;
            sh.maxY = sh.startY + 50 * s;
        } else {
            sh.minX = margin;
            sh.maxX = width - 1 - margin;
            sh.minY = margin;
            sh.maxY = height - 1 - margin;
        }
        sh.level = sp.level;
        std::copy(sp.tint, sp.tint + 3, sh.tint);
        shapes.push_back(sh);
        maxShapeSpeed = std::max(maxShapeSpeed, sh.maxSpeed());
    }

    // Background: a gentle brightness slope, left to right and top to bottom.
    bgLevel0 = -0.35;
    bgSlopeX = 0.7 / width;
    bgSlopeY = 0.35 / height;
    bgTint[0] = 0.85f;
    bgTint[1] = 0.9f;
    bgTint[2] = 1.0f;

    // A lamp flickering at 100 Hz in the top-left corner, on top of everything:
    // strongest in its middle, fading towards its rim.
    lampRadius = 20 * s;
    lampX = 70 * sx;
    lampY = 60 * sy;
    lampPhaseUs = rnd.uniform() * kLampPeriodUs;
    lampBase = 0.2f;
    lampSwingCentre = 0.75f;
    lampSwingRim = 0.3f;
    lampTint[0] = 0.75f;
    lampTint[1] = 0.95f;
    lampTint[2] = 1.0f;

    // Hot pixels: a few per million, firing far faster than the rest.
    const size_t hot = std::max<size_t>(3, size_t(std::lround(9.0 * sx * sy)));
    for (size_t i = 0; i < hot; ++i) {
        const uint32_t index = rnd.below(uint32_t(width) * height);
        hotPixels.push_back({index, 150.0 * std::pow(4.0, rnd.uniform())});
    }

    pixels.resize(size_t(width) * height);
    // Mismatch: close to normal (a sum of four uniforms) and cheap, as there are
    // two per pixel; the sum's tails end at 3.5 sigma anyway.
    const double toSteps = kMismatchSigma / kMismatchStep * std::sqrt(3.0) / 65536.0;
    const int limit = int(kMismatchLimit / kMismatchStep);
    auto mismatch = [&] {
        const uint64_t r = rnd.next();
        const int sum = int(r & 0xffff) + int((r >> 16) & 0xffff) + int((r >> 32) & 0xffff)
                        + int(r >> 48) - 2 * 65535;
        return int8_t(std::clamp(int(std::floor(sum * toSteps + 0.5)), -limit, limit));
    };
    for (Pixel &p : pixels) {
        p.mismatchOn = mismatch();
        p.mismatchOff = mismatch();
    }
    const int r = int(std::ceil(lampRadius));
    for (int y = std::max(0, int(lampY) - r); y <= std::min(int(height) - 1, int(lampY) + r); ++y)
        for (int x = std::max(0, int(lampX) - r); x <= std::min(int(width) - 1, int(lampX) + r); ++x)
            if (inLamp(x, y))
                lamp.push_back({uint32_t(y) * width + uint32_t(x), lampBase, lampSwing(x, y)});
    counts.resize(kStepUs + 1);
    calendar.resize(kCalendarSteps);
}

void SimulatedScene::Impl::outlinesAt(double t, Outlines &o) const
{
    o.t = t;
    o.poses.resize(shapes.size());
    o.firstRow.resize(shapes.size());
    o.lastRow.resize(shapes.size());
    o.spans.resize(shapes.size());
    for (size_t i = 0; i < shapes.size(); ++i) {
        const SceneShape &sh = shapes[i];
        const SceneShape::Pose p = sh.poseAt(t);
        o.poses[i] = p;
        const double reach = sh.reach();
        const int first = std::max(0, int(std::ceil(p.cy - reach)));
        const int last = std::min(int(height) - 1, int(std::floor(p.cy + reach)));
        o.firstRow[i] = first;
        o.lastRow[i] = std::max(last, first - 1);
        auto &rows = o.spans[i];
        rows.assign(size_t(std::max(0, last - first + 1)), Span{});
        for (int y = first; y <= last; ++y) {
            double u0, u1;
            if (!sh.lineInside(p, 0, y, 1, 0, u0, u1))
                continue;
            Span &span = rows[size_t(y - first)];
            if (!clipColumns(u0, u1, width, span.first, span.last))
                span = Span{};
        }
    }
}

float SimulatedScene::Impl::inputLevel(const Outlines &o, int x, int y) const
{
    for (size_t i = shapes.size(); i-- > 0;)
        if (o.span(i, y).contains(x))
            return shapes[i].level;
    return backgroundLevel(x, y);
}

void SimulatedScene::Impl::reset(uint64_t t)
{
    // Every pixel settled on what it sees at t: a quiet start, no burst.
    Outlines o;
    outlinesAt(double(t), o);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            Pixel &p = pixels[size_t(y) * width + x];
            const float level = inputLevel(o, x, y);
            p.start = p.target = p.ref = level;
            p.tChange = double(t);
            p.tLast = -1e18;
            p.slot = 0;
        }
    }
    const bool lit = lampLit(double(t));
    for (const LampPixel &lp : lamp) {
        Pixel &p = pixels[lp.index];
        p.start = p.target = p.ref = lp.base + (lit ? lp.swing : 0.0f);
    }
    for (auto &slot : calendar)
        slot.clear();
    changes.clear();
    nextChange = 0;
    stepBuilt = false;
    now = t;
    started = true;
}

void SimulatedScene::Impl::addShapeChanges(const Outlines &a, const Outlines &b)
{
    const double dt = b.t - a.t;
    const double stepEnd = std::nextafter(a.t + dt, a.t);
    for (size_t i = 0; i < shapes.size(); ++i) {
        const int first = std::min(a.firstRow[i], b.firstRow[i]);
        const int last = std::max(a.lastRow[i], b.lastRow[i]);
        for (int y = first; y <= last; ++y) {
            const Span sa = a.span(i, y), sb = b.span(i, y);
            // Columns inside at one end of the sub-step and outside at the other.
            auto visit = [&](int x) {
                if (sa.contains(x) == sb.contains(x) || inLamp(x, y))
                    return;
                const double da = shapes[i].signedDistance(a.poses[i], x, y);
                const double db = shapes[i].signedDistance(b.poses[i], x, y);
                double f = da != db ? da / (da - db) : 0.5;
                f = std::clamp(f, 0.0, 1.0);
                const double t = std::min(a.t + f * dt, stepEnd);
                changes.push_back({t, uint32_t(y) * width + uint32_t(x), inputLevel(b, x, y),
                                   InputChange});
            };
            const bool emptyA = sa.first > sa.last, emptyB = sb.first > sb.last;
            if (emptyA || emptyB) {
                const Span &whole = emptyA ? sb : sa;
                for (int x = whole.first; x <= whole.last; ++x)
                    visit(x);
                continue;
            }
            // Only the columns between the two left ends and between the two right
            // ends can differ.
            const int leftEnd = std::max(sa.first, sb.first) - 1;
            for (int x = std::min(sa.first, sb.first); x <= leftEnd; ++x)
                visit(x);
            for (int x = std::max(leftEnd + 1, std::min(sa.last, sb.last) + 1);
                 x <= std::max(sa.last, sb.last); ++x)
                visit(x);
        }
    }
}

void SimulatedScene::Impl::buildStep(uint64_t step)
{
    const double t0 = double(step * kStepUs), t1 = t0 + kStepUs;
    changes.clear();
    nextChange = 0;
    // The outlines at the step's start are the previous step's end, when there was one.
    if (!stepBuilt || builtStep + 1 != step)
        outlinesAt(t0, stepStart);
    builtStep = step;
    stepBuilt = true;

    const int subSteps = std::max(1, int(std::ceil(maxShapeSpeed * kStepUs / kMaxSubStepPx)));
    for (int k = 1; k <= subSteps; ++k) {
        outlinesAt(t0 + double(kStepUs) * k / subSteps, subStepEnd);
        addShapeChanges(stepStart, subStepEnd);
        std::swap(stepStart, subStepEnd);
    }

    // The lamp switches all its pixels at once.
    for (double t = lampPhaseUs + std::ceil((t0 - lampPhaseUs) / (kLampPeriodUs / 2)) * (kLampPeriodUs / 2);
         t < t1; t += kLampPeriodUs / 2) {
        const bool lit = lampLit(t + 1);
        for (const LampPixel &lp : lamp)
            changes.push_back({t, lp.index, lp.base + (lit ? lp.swing : 0.0f), InputChange});
    }

    // Hot pixels, drawn for the whole step from its own seed.
    SplitMixRandom rnd(SplitMixRandom::mix(seed ^ SplitMixRandom::mix(step)));
    for (const HotPixel &hp : hotPixels) {
        const uint64_t k = rnd.poisson(hp.rateHz * kStepUs * 1e-6);
        for (uint64_t i = 0; i < k; ++i)
            changes.push_back({t0 + rnd.uniform() * kStepUs, hp.index, 0,
                               rnd.uniform() < 0.8 ? HotOn : HotOff});
    }

    // Into time order by microsecond (stable: the order within one microsecond is
    // the order above, the same on every run).
    std::fill(counts.begin(), counts.end(), 0);
    for (const Change &c : changes)
        ++counts[std::min<size_t>(size_t(c.t - t0), kStepUs - 1) + 1];
    for (size_t i = 1; i < counts.size(); ++i)
        counts[i] += counts[i - 1];
    changeScratch.resize(changes.size());
    for (const Change &c : changes)
        changeScratch[counts[std::min<size_t>(size_t(c.t - t0), kStepUs - 1)]++] = c;
    std::swap(changes, changeScratch);
}

// Emits the events pixel index gives in [from, horizon) under its present input;
// answers the time of the next one (infinity when it cannot fire without a new input).
double SimulatedScene::Impl::advance(uint32_t index, double from, double horizon)
{
    constexpr double kNever = std::numeric_limits<double>::infinity();
    Pixel &p = pixels[index];
    for (;;) {
        const float onTh = onThreshold(p), offTh = offThreshold(p);
        bool on;
        float level;
        if (p.target > p.ref + onTh) {
            on = true;
            level = p.ref + onTh;
        } else if (p.target < p.ref - offTh) {
            on = false;
            level = p.ref - offTh;
        } else {
            return kNever;
        }
        // When the filtered level reaches the threshold: it approaches the input
        // exponentially from where it was when the input changed.
        double crossing;
        if (on ? p.start >= level : p.start <= level) {
            crossing = p.tChange;
        } else {
            const float ratio = (p.start - p.target) / (level - p.target); // > 1
            crossing = p.tChange + model.tauUs * double(std::log(ratio));
            if (!(crossing <= p.tChange + kSettledTaus * model.tauUs))
                return kNever; // too close to the input ever to fire
        }
        const double t = std::max({crossing, p.tLast + model.refractoryUs, from});
        if (t >= horizon)
            return t;
        emit(index, on, t);
        // The detector resets to the level it sees when it fires; a refractory
        // delay has let the level move on, and that part of the change is lost.
        p.ref = t == crossing ? level : filtered(p, t);
        p.tLast = t;
    }
}

void SimulatedScene::Impl::run(uint64_t from, uint64_t to, std::vector<Event2D> &out)
{
    const double start = double(from), horizon = double(to);
    const uint64_t step = from / kStepUs;
    pending.clear();
    // Pixels are touched in no order of memory: asking for them a few changes
    // ahead hides most of the cache misses.
    constexpr size_t kAhead = 12;
    for (; nextChange < changes.size() && changes[nextChange].t < horizon; ++nextChange) {
        if (nextChange + kAhead < changes.size())
            prefetch(changes[nextChange + kAhead].pixel);
        const Change &c = changes[nextChange];
        if (c.t < start)
            continue; // before a quiet restart
        advance(c.pixel, start, c.t);
        Pixel &p = pixels[c.pixel];
        if (c.kind == InputChange) {
            p.start = filtered(p, c.t);
            p.tChange = c.t;
            p.target = c.target;
        } else if (c.t >= p.tLast + model.refractoryUs) {
            emit(c.pixel, c.kind == HotOn, c.t);
            p.ref = filtered(p, c.t);
            p.tLast = c.t;
        }
        schedule(c.pixel, advance(c.pixel, c.t, c.t), step);
    }
    // Pixels still on their way to a threshold, due in this step. Rescheduling may
    // append to the same list; those entries are seen in this loop too.
    std::vector<uint32_t> &due = calendar[step % kCalendarSteps];
    size_t kept = 0;
    for (size_t i = 0; i < due.size(); ++i) {
        if (i + kAhead < due.size())
            prefetch(due[i + kAhead]);
        const uint32_t index = due[i];
        Pixel &p = pixels[index];
        if (p.listing() != 1 || !p.listedAt(step))
            continue; // listed again elsewhere since, or a second entry here
        p.list(step, 0);
        const double next = advance(index, start, horizon);
        if (next < double((step + 1) * kStepUs)) {
            // Later in this step: stays listed here (marked 2 until the loop ends).
            p.list(step, 2);
            due[kept++] = index;
        } else {
            schedule(index, next, step);
        }
    }
    due.resize(kept);
    for (uint32_t index : due)
        pixels[index].list(step, 1);

    // Into time order by microsecond, after what out holds already. Background
    // noise joins here: it does not touch the pixel state (cheap at high noise
    // levels, and at real ones the reset it would cause, or a second noise event
    // inside a refractory period, is rare). It is drawn microsecond by microsecond,
    // each from a seed of its own, straight into its place.
    const size_t buckets = size_t(to - from);
    std::fill(counts.begin(), counts.begin() + buckets + 1, 0);
    for (const Event2D &e : pending)
        ++counts[size_t(e.timestamp - from) + 1];
    const double noiseMean = model.noisePerPixelUs * double(width) * height;
    size_t noise = 0;
    if (noiseMean > 0) {
        noiseCount.resize(buckets);
        noiseState.resize(buckets);
        const double limit = std::exp(-noiseMean);
        for (size_t b = 0; b < buckets; ++b) {
            SplitMixRandom rnd(SplitMixRandom::mix(seed ^ kNoiseSalt ^ SplitMixRandom::mix(from + b)));
            noiseCount[b] = uint32_t(rnd.poisson(noiseMean, limit));
            noiseState[b] = rnd.state();
            counts[b + 1] += noiseCount[b];
            noise += noiseCount[b];
        }
    }
    for (size_t i = 1; i <= buckets; ++i)
        counts[i] += counts[i - 1];
    const size_t base = out.size();
    out.resize(base + pending.size() + noise);
    for (const Event2D &e : pending)
        out[base + counts[size_t(e.timestamp - from)]++] = e;
    if (noise == 0)
        return;
    const uint32_t pixelCount = uint32_t(width) * height;
    // ON a little more often: leak events are ON.
    const uint64_t onBelow = uint64_t((0.5 + kLeakShare / 2) * 4294967296.0);
    for (size_t b = 0; b < buckets; ++b) {
        SplitMixRandom rnd(noiseState[b]);
        Event2D *slot = &out[base + counts[b]];
        for (uint32_t k = 0; k < noiseCount[b]; ++k) {
            const uint32_t index = rnd.below(pixelCount);
            const bool on = (rnd.next() >> 32) < onBelow;
            *slot++ = Event2D(uint16_t(index % width), uint16_t(index / width), uint8_t(on),
                              from + b);
        }
    }
}

namespace {

// Log level drawn at full scale (255 at gain 1).
constexpr double kWhiteLevel = 1.3;

uint8_t channel(double level, float tint, double gain)
{
    const double v = 255.0 * gain * tint * std::exp(level - kWhiteLevel);
    return uint8_t(std::clamp(v + 0.5, 0.0, 255.0));
}

// Frame columns of one row inside a shape, clipped to the frame; false when none.
bool frameColumns(const SceneShape &sh, const SceneShape::Pose &p, const double m[6], int v, int frameWidth,
                  int &first, int &last)
{
    double u0, u1;
    return sh.lineInside(p, m[1] * v + m[2], m[4] * v + m[5], m[0], m[3], u0, u1)
           && clipColumns(u0, u1, frameWidth, first, last);
}

} // namespace

void SimulatedScene::Impl::drawBackground(int frameWidth, int frameHeight, const double m[6],
                                          double gain, uint8_t *bgr) const
{
    // The background level is linear in frame coordinates; a table of colours over
    // its range turns it into pixels with one addition per pixel.
    auto levelAt = [&](double u, double v) {
        return bgLevel0 + bgSlopeX * (m[0] * u + m[1] * v + m[2]) + bgSlopeY * (m[3] * u + m[4] * v + m[5]);
    };
    const double corners[4] = {levelAt(0, 0), levelAt(frameWidth - 1, 0),
                               levelAt(0, frameHeight - 1), levelAt(frameWidth - 1, frameHeight - 1)};
    const double lo = *std::min_element(corners, corners + 4);
    const double hi = *std::max_element(corners, corners + 4);
    constexpr int kEntries = 4096;
    const double scale = hi > lo ? (kEntries - 1) / (hi - lo) : 0.0;
    // Colours as B, G, R, 0 words: one 4-byte store per pixel, its fourth byte
    // overwritten by the next pixel (the last pixel of the frame takes 3 bytes).
    std::vector<uint32_t> table(kEntries);
    for (int i = 0; i < kEntries; ++i) {
        const double level = lo + (scale > 0 ? i / scale : 0.0);
        uint8_t bytes[4] = {channel(level, bgTint[0], gain), channel(level, bgTint[1], gain),
                            channel(level, bgTint[2], gain), 0};
        std::memcpy(&table[size_t(i)], bytes, 4);
    }
    const double du = (bgSlopeX * m[0] + bgSlopeY * m[3]) * scale;
    const int64_t step = int64_t(std::llround(du * 65536.0));
    const int64_t last = int64_t(kEntries - 1) << 16;
    for (int v = 0; v < frameHeight; ++v) {
        uint8_t *out = bgr + size_t(v) * frameWidth * 3;
        const int64_t first = int64_t(std::llround((levelAt(0, v) - lo) * scale * 65536.0));
        const int64_t end = first + step * (frameWidth - 1);
        const bool inTable = std::min(first, end) >= 0 && std::max(first, end) <= last;
        const int stores = v + 1 < frameHeight ? frameWidth : frameWidth - 1;
        int64_t index = first;
        for (int u = 0; u < stores; ++u, index += step, out += 3) {
            const int64_t i = inTable ? index >> 16 : std::clamp<int64_t>(index >> 16, 0, kEntries - 1);
            std::memcpy(out, &table[size_t(i)], 4);
        }
        if (stores < frameWidth) {
            const int64_t i = std::clamp<int64_t>(index >> 16, 0, kEntries - 1);
            std::memcpy(out, &table[size_t(i)], 3);
        }
    }
}

void SimulatedScene::Impl::render(double t, int frameWidth, int frameHeight, const double m[6],
                                  double gain, uint8_t *bgr) const
{
    if (frameWidth <= 0 || frameHeight <= 0 || !bgr || !m)
        return;
    const size_t bytes = size_t(frameWidth) * frameHeight * 3;
    // A mapping or gain no camera can have draws black rather than numbers that
    // overflow on the way.
    bool sane = std::isfinite(gain) && std::fabs(gain) <= 1e6;
    for (int i = 0; i < 6; ++i)
        sane = sane && std::isfinite(m[i]) && std::fabs(m[i]) <= 1e6;
    if (!sane) {
        std::memset(bgr, 0, bytes);
        return;
    }
    {
        // The background does not move: a copy of it is kept once the same frame
        // geometry and gain come twice in a row (a gain that changes every frame
        // would make keeping it cost a copy more each time).
        std::lock_guard<std::mutex> lock(renderMutex);
        const std::vector<double> key = {double(frameWidth), double(frameHeight), m[0], m[1],
                                         m[2], m[3], m[4], m[5], gain};
        if (key == backgroundKey && background.size() == bytes) {
            std::memcpy(bgr, background.data(), bytes);
        } else {
            drawBackground(frameWidth, frameHeight, m, gain, bgr);
            if (key == previousKey) {
                background.assign(bgr, bgr + bytes);
                backgroundKey = key;
            }
            previousKey = key;
        }
    }

    // Shapes bottom to top, as spans of one colour.
    for (const SceneShape &sh : shapes) {
        const SceneShape::Pose p = sh.poseAt(t);
        uint8_t colour[3];
        for (int c = 0; c < 3; ++c)
            colour[c] = channel(sh.level, sh.tint[c], gain);
        for (int v = 0; v < frameHeight; ++v) {
            int first, last;
            if (!frameColumns(sh, p, m, v, frameWidth, first, last))
                continue;
            uint8_t *out = bgr + (size_t(v) * frameWidth + first) * 3;
            for (int u = first; u <= last; ++u, out += 3) {
                out[0] = colour[0];
                out[1] = colour[1];
                out[2] = colour[2];
            }
        }
    }

    // The lamp on top, brightest in its middle while lit.
    SceneShape lampShape;
    lampShape.halfW = lampRadius;
    const SceneShape::Pose lampPose{lampX, lampY, 1, 0};
    const bool lit = lampLit(t);
    for (int v = 0; v < frameHeight; ++v) {
        int first, last;
        if (!frameColumns(lampShape, lampPose, m, v, frameWidth, first, last))
            continue;
        uint8_t *out = bgr + (size_t(v) * frameWidth + first) * 3;
        for (int u = first; u <= last; ++u, out += 3) {
            const double x = m[0] * u + m[1] * v + m[2], y = m[3] * u + m[4] * v + m[5];
            const double level = lampBase + (lit ? lampSwing(x, y) : 0.0f);
            for (int c = 0; c < 3; ++c)
                out[c] = channel(level, lampTint[c], gain);
        }
    }
}

SimulatedScene::SimulatedScene(uint16_t width, uint16_t height, uint64_t seed)
    : d(std::make_unique<Impl>())
{
    d->width = std::max<uint16_t>(width, 1);
    d->height = std::max<uint16_t>(height, 1);
    d->seed = seed;
    d->buildScene();
}

SimulatedScene::~SimulatedScene() = default;

uint16_t SimulatedScene::width() const
{
    return d->width;
}

uint16_t SimulatedScene::height() const
{
    return d->height;
}

void SimulatedScene::flickerLight(double &x, double &y, double &radius) const
{
    x = d->lampX;
    y = d->lampY;
    radius = d->lampRadius;
}

void SimulatedScene::generate(uint64_t t0, uint64_t t1, const PixelModelSettings &settings,
                              std::vector<Event2D> &out)
{
    Impl &m = *d;
    if (!m.started || t0 > m.now)
        m.reset(t0); // first call, or a jump forward: a quiet gap
    t0 = m.now;      // never again before what was delivered
    if (t1 <= t0)
        return;

    // Settings outside what a sensor can do are clamped, so that no setting makes
    // the stream explode.
    const PixelModelSettings nominal;
    auto sane = [](double v, double fallback, double lo, double hi) {
        return std::isfinite(v) ? std::clamp(v, lo, hi) : fallback;
    };
    m.model.onThreshold = sane(settings.onThreshold, nominal.onThreshold, 0.02, 5.0);
    m.model.offThreshold = sane(settings.offThreshold, nominal.offThreshold, 0.02, 5.0);
    m.model.refractoryUs = std::min<double>(settings.refractoryUs, 1e6);
    const double cutoff = sane(settings.cutoffHz, nominal.cutoffHz, 1.0, 1e4);
    m.model.tauUs = 1e6 / (2 * kPi * cutoff);
    // A wider bandwidth lets more of the photoreceptor's noise through.
    const double noiseGain = std::sqrt(cutoff / kNominalCutoffHz);
    m.model.noisePerPixelUs =
        sane(settings.noiseRateHz * noiseGain, 0.0, 0.0, kMaxNoiseHz) * 1e-6;

    while (m.now < t1) {
        const uint64_t step = m.now / kStepUs;
        if (!m.stepBuilt || step != m.builtStep)
            m.buildStep(step);
        const uint64_t to = std::min(t1, (step + 1) * kStepUs);
        m.run(m.now, to, out);
        m.now = to;
    }
}

void SimulatedScene::renderBgr(uint64_t t, uint16_t frameWidth, uint16_t frameHeight,
                               const double frameToSensor[6], double gain, uint8_t *bgr) const
{
    d->render(double(t), frameWidth, frameHeight, frameToSensor, gain, bgr);
}

} // namespace vexadin
