#include "driver/simulatedscene.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>

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
constexpr uint64_t kCalendarSteps = 256;

// ---- small deterministic random numbers (splitmix64) ----
uint64_t mix(uint64_t z)
{
    z += 0x9e3779b97f4a7c15ULL;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

class Random {
public:
    explicit Random(uint64_t seed) : state_(seed) {}
    uint64_t next() { return mix(state_++ * 0x9e3779b97f4a7c15ULL + 0x632be59bd9b4e019ULL); }
    double uniform() { return (next() >> 11) * (1.0 / 9007199254740992.0); } // [0, 1)
    uint32_t below(uint32_t n) { return uint32_t((next() >> 32) * n >> 32); }
    double normal()
    {
        const double u1 = 1.0 - uniform(); // (0, 1]
        const double u2 = uniform();
        return std::sqrt(-2.0 * std::log(u1)) * std::cos(2 * kPi * u2);
    }
    uint64_t poisson(double mean)
    {
        if (!(mean > 0))
            return 0;
        if (mean > 40) {
            const double n = std::round(mean + std::sqrt(mean) * normal());
            return n > 0 ? uint64_t(n) : 0;
        }
        const double limit = std::exp(-mean);
        uint64_t k = 0;
        for (double p = uniform(); p > limit; p *= uniform())
            ++k;
        return k;
    }

private:
    uint64_t state_;
};

// ---- the analytic scene ----

// A convex shape moving across the sensor: a disc or a (rotating) box whose
// centre bounces between the edges of its travel area.
struct Shape {
    bool disc = true;
    double halfW = 0, halfH = 0; // radius in halfW for a disc
    double startX = 0, startY = 0;
    double vx = 0, vy = 0;       // px per µs
    double angle0 = 0, omega = 0; // rad, rad per µs
    double minX = 0, maxX = 0, minY = 0, maxY = 0; // travel area of the centre
    float level = 0;             // log intensity
    float tint[3] = {1, 1, 1};   // B, G, R share of the brightness

    double reach() const { return disc ? halfW : std::hypot(halfW, halfH); }
    double maxSpeed() const { return std::hypot(vx, vy) + std::fabs(omega) * reach(); }
};

struct Pose {
    double cx, cy, c, s; // centre, cos and sin of the angle
};

// Position along [lo, hi] of a point moving at v and bouncing at both ends.
double bounce(double start, double v, double t, double lo, double hi)
{
    const double length = hi - lo;
    if (length <= 0)
        return lo;
    const double s = std::fmod(start - lo + v * t, 2 * length);
    const double folded = s < 0 ? s + 2 * length : s;
    return lo + (folded <= length ? folded : 2 * length - folded);
}

Pose poseAt(const Shape &sh, double t)
{
    const double a = sh.angle0 + sh.omega * t;
    return {bounce(sh.startX, sh.vx, t, sh.minX, sh.maxX),
            bounce(sh.startY, sh.vy, t, sh.minY, sh.maxY), std::cos(a), std::sin(a)};
}

// The part [u0, u1] of the line (px, py) + u (dx, dy) inside the shape; false
// when the line misses it. Used for the sensor's rows and the picture's rows
// alike, so events and picture agree on every edge.
bool lineInside(const Shape &sh, const Pose &p, double px, double py, double dx, double dy,
                double &u0, double &u1)
{
    const double ox = px - p.cx, oy = py - p.cy;
    if (sh.disc) {
        const double a = dx * dx + dy * dy;
        const double b = ox * dx + oy * dy;
        const double c = ox * ox + oy * oy - sh.halfW * sh.halfW;
        if (a <= 0)
            return false;
        const double disc = b * b - a * c;
        if (disc < 0)
            return false;
        const double r = std::sqrt(disc);
        u0 = (-b - r) / a;
        u1 = (-b + r) / a;
        return true;
    }
    // Box: |local x| <= halfW and |local y| <= halfH, both linear in u.
    u0 = -std::numeric_limits<double>::infinity();
    u1 = std::numeric_limits<double>::infinity();
    const double slabs[2][3] = {{ox * p.c + oy * p.s, dx * p.c + dy * p.s, sh.halfW},
                                {-ox * p.s + oy * p.c, -dx * p.s + dy * p.c, sh.halfH}};
    for (const auto &slab : slabs) {
        const double b = slab[0], a = slab[1], h = slab[2];
        if (std::fabs(a) < 1e-12) {
            if (std::fabs(b) > h)
                return false;
            continue;
        }
        double lo = (-h - b) / a, hi = (h - b) / a;
        if (lo > hi)
            std::swap(lo, hi);
        u0 = std::max(u0, lo);
        u1 = std::min(u1, hi);
    }
    return u0 <= u1;
}

// Signed distance from the outline (negative inside); only its zero crossing
// between two poses is used, to interpolate when an edge passes a pixel.
double signedDistance(const Shape &sh, const Pose &p, double x, double y)
{
    const double ox = x - p.cx, oy = y - p.cy;
    if (sh.disc)
        return std::hypot(ox, oy) - sh.halfW;
    const double qx = std::fabs(ox * p.c + oy * p.s) - sh.halfW;
    const double qy = std::fabs(-ox * p.s + oy * p.c) - sh.halfH;
    return std::hypot(std::max(qx, 0.0), std::max(qy, 0.0)) + std::min(std::max(qx, qy), 0.0);
}

// Pixel columns first..last (inclusive) of one row inside a shape; empty when first > last.
struct Span {
    int first = 1, last = 0;
    bool contains(int x) const { return x >= first && x <= last; }
};

// The outline of every shape at one moment, row by row.
struct Outlines {
    double t = 0;
    std::vector<Pose> poses;
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
struct Pixel {
    double tChange = 0;  // when the input last changed
    double tLast = -1e18; // last event, for the refractory period
    float start = 0;     // filtered level at tChange
    float target = 0;    // input level since tChange
    float ref = 0;       // level at the last event (the reset)
    int8_t mismatchOn = 0, mismatchOff = 0; // in kMismatchStep
    uint8_t scheduled = 0; // listed in the calendar, under slotStep
    uint32_t slotStep = 0; // low bits of the grid step it is listed under
};

// Background noise does not touch the pixel's state: that keeps it cheap at high
// noise levels (one random pixel each), and at real noise levels the reset it
// would cause, or a second one inside a refractory period, is rare. Hot pixels
// fire often enough for their refractory period to matter, so they go through it.
enum ChangeKind : uint8_t { InputChange, HotOff, HotOn, NoiseOff, NoiseOn };

struct Change {
    double t;
    uint32_t pixel;
    float target;
    ChangeKind kind;
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
    std::vector<Shape> shapes; // bottom to top
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
    std::vector<Pixel> pixels;
    std::vector<LampPixel> lamp;
    // Pixels with an event to come, listed under the grid step of its time (ring
    // of kCalendarSteps; a later one is listed at the ring's end and moved on).
    std::vector<std::vector<uint32_t>> calendar;
    std::vector<Change> changes, changeScratch;
    size_t nextChange = 0;
    std::vector<uint32_t> counts;
    std::vector<Event2D> pending; // events of the range being worked out, unsorted
    Outlines stepStart, subStepEnd;
    bool started = false;
    uint64_t now = 0;                           // everything before is delivered
    uint64_t builtStep = ~uint64_t(0);          // grid step whose changes are built
    Model model{};

    mutable std::mutex renderMutex; // guards the cached background picture
    mutable std::vector<uint8_t> background;
    mutable std::vector<double> backgroundKey;

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
        return float(p.target + (p.start - p.target) * std::exp(-dt / model.tauUs));
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
        if (p.scheduled && p.slotStep == uint32_t(step))
            return;
        p.scheduled = 1;
        p.slotStep = uint32_t(step);
        calendar[step % kCalendarSteps].push_back(index);
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
    Random rnd(mix(seed ^ 0x5ce7e5ce7eULL));
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
        Shape sh;
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
    for (Pixel &p : pixels) {
        auto draw = [&] {
            const double m = std::clamp(rnd.normal() * kMismatchSigma, -kMismatchLimit, kMismatchLimit);
            return int8_t(std::lround(m / kMismatchStep));
        };
        p.mismatchOn = draw();
        p.mismatchOff = draw();
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
        const Shape &sh = shapes[i];
        const Pose p = poseAt(sh, t);
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
            if (!lineInside(sh, p, 0, y, 1, 0, u0, u1))
                continue;
            Span &span = rows[size_t(y - first)];
            span.first = std::max(0, int(std::ceil(u0)));
            span.last = std::min(int(width) - 1, int(std::floor(u1)));
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
            p.scheduled = 0;
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
    builtStep = ~uint64_t(0);
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
                const double da = signedDistance(shapes[i], a.poses[i], x, y);
                const double db = signedDistance(shapes[i], b.poses[i], x, y);
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
    if (builtStep + 1 != step || stepStart.poses.empty())
        outlinesAt(t0, stepStart);
    builtStep = step;

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

    // Background activity and hot pixels, drawn for the whole step from its own seed.
    Random rnd(mix(seed ^ mix(step)));
    const uint32_t n = uint32_t(width) * height;
    const uint64_t noise = rnd.poisson(model.noisePerPixelUs * n * kStepUs);
    const double onShare = 0.5 + kLeakShare / 2;
    for (uint64_t i = 0; i < noise; ++i) {
        const uint32_t index = rnd.below(n);
        const double t = t0 + rnd.uniform() * kStepUs;
        changes.push_back({t, index, 0, rnd.uniform() < onShare ? NoiseOn : NoiseOff});
    }
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
            const double ratio = double(p.start - p.target) / double(level - p.target); // > 1
            crossing = p.tChange + model.tauUs * std::log(ratio);
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
    for (; nextChange < changes.size() && changes[nextChange].t < horizon; ++nextChange) {
        const Change &c = changes[nextChange];
        if (c.t < start)
            continue; // before a quiet restart
        if (c.kind >= NoiseOff) {
            emit(c.pixel, c.kind == NoiseOn, c.t);
            continue;
        }
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
        const uint32_t index = due[i];
        Pixel &p = pixels[index];
        if (p.scheduled != 1 || p.slotStep != uint32_t(step))
            continue; // listed again elsewhere since, or a second entry here
        p.scheduled = 0;
        const double next = advance(index, start, horizon);
        if (next < double((step + 1) * kStepUs)) {
            // Later in this step: stays listed here (marked 2 until the loop ends).
            p.scheduled = 2;
            due[kept++] = index;
        } else {
            schedule(index, next, step);
        }
    }
    due.resize(kept);
    for (uint32_t index : due)
        pixels[index].scheduled = 1;

    // Into time order by microsecond, after what out holds already.
    const size_t buckets = size_t(to - from);
    std::fill(counts.begin(), counts.begin() + buckets + 1, 0);
    for (const Event2D &e : pending)
        ++counts[size_t(e.timestamp - from) + 1];
    for (size_t i = 1; i <= buckets; ++i)
        counts[i] += counts[i - 1];
    const size_t base = out.size();
    out.resize(base + pending.size());
    for (const Event2D &e : pending)
        out[base + counts[size_t(e.timestamp - from)]++] = e;
}

namespace {

// Log level drawn at full scale (255 at gain 1).
constexpr double kWhiteLevel = 1.5;

uint8_t channel(double level, float tint, double gain)
{
    const double v = 255.0 * gain * tint * std::exp(level - kWhiteLevel);
    return uint8_t(std::clamp(v + 0.5, 0.0, 255.0));
}

// Frame columns of one row inside a shape, clipped to the frame; false when none.
bool frameColumns(const Shape &sh, const Pose &p, const double m[6], int v, int frameWidth,
                  int &first, int &last)
{
    double u0, u1;
    if (!lineInside(sh, p, m[1] * v + m[2], m[4] * v + m[5], m[0], m[3], u0, u1))
        return false;
    first = int(std::max(0.0, std::ceil(u0)));
    last = int(std::min(double(frameWidth - 1), std::floor(u1)));
    return first <= last;
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
    std::vector<uint8_t> table(size_t(kEntries) * 3);
    for (int i = 0; i < kEntries; ++i) {
        const double level = lo + (scale > 0 ? i / scale : 0.0);
        for (int c = 0; c < 3; ++c)
            table[size_t(i) * 3 + c] = channel(level, bgTint[c], gain);
    }
    const double du = (bgSlopeX * m[0] + bgSlopeY * m[3]) * scale;
    const int64_t step = int64_t(std::llround(du * 65536.0));
    for (int v = 0; v < frameHeight; ++v) {
        uint8_t *out = bgr + size_t(v) * frameWidth * 3;
        int64_t index = int64_t(std::llround((levelAt(0, v) - lo) * scale * 65536.0));
        for (int u = 0; u < frameWidth; ++u, index += step, out += 3) {
            const uint8_t *colour = &table[size_t(std::clamp<int64_t>(index >> 16, 0, kEntries - 1)) * 3];
            out[0] = colour[0];
            out[1] = colour[1];
            out[2] = colour[2];
        }
    }
}

void SimulatedScene::Impl::render(double t, int frameWidth, int frameHeight, const double m[6],
                                  double gain, uint8_t *bgr) const
{
    if (frameWidth <= 0 || frameHeight <= 0 || !bgr || !m)
        return;
    const size_t bytes = size_t(frameWidth) * frameHeight * 3;
    {
        // The background does not move: drawn once per frame geometry and gain.
        std::lock_guard<std::mutex> lock(renderMutex);
        const std::vector<double> key = {double(frameWidth), double(frameHeight), m[0], m[1],
                                         m[2], m[3], m[4], m[5], gain};
        if (key != backgroundKey || background.size() != bytes) {
            background.resize(bytes);
            drawBackground(frameWidth, frameHeight, m, gain, background.data());
            backgroundKey = key;
        }
        std::memcpy(bgr, background.data(), bytes);
    }

    // Shapes bottom to top, as spans of one colour.
    for (const Shape &sh : shapes) {
        const Pose p = poseAt(sh, t);
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
    Shape lampShape;
    lampShape.halfW = lampRadius;
    const Pose lampPose{lampX, lampY, 1, 0};
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
    m.model.onThreshold = std::clamp(settings.onThreshold, 0.02, 5.0);
    m.model.offThreshold = std::clamp(settings.offThreshold, 0.02, 5.0);
    m.model.refractoryUs = std::min<double>(settings.refractoryUs, 1e6);
    const double cutoff = std::clamp(settings.cutoffHz, 0.1, 1e5);
    m.model.tauUs = 1e6 / (2 * kPi * cutoff);
    // A wider bandwidth lets more of the photoreceptor's noise through.
    const double noiseGain = std::sqrt(std::clamp(cutoff / kNominalCutoffHz, 0.01, 100.0));
    m.model.noisePerPixelUs = std::clamp(settings.noiseRateHz, 0.0, 100.0) * noiseGain * 1e-6;

    while (m.now < t1) {
        const uint64_t step = m.now / kStepUs;
        if (step != m.builtStep)
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
