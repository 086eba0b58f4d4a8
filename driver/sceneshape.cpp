#include "driver/sceneshape.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace vexadin {

namespace {

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

} // namespace

double SceneShape::reach() const
{
    return disc ? halfW : std::hypot(halfW, halfH);
}

double SceneShape::maxSpeed() const
{
    return std::hypot(vx, vy) + std::fabs(omega) * reach();
}

SceneShape::Pose SceneShape::poseAt(double t) const
{
    const double a = angle0 + omega * t;
    return {bounce(startX, vx, t, minX, maxX), bounce(startY, vy, t, minY, maxY), std::cos(a),
            std::sin(a)};
}

bool SceneShape::lineInside(const Pose &p, double px, double py, double dx, double dy,
                            double &u0, double &u1) const
{
    const double ox = px - p.cx, oy = py - p.cy;
    if (disc) {
        const double a = dx * dx + dy * dy;
        const double b = ox * dx + oy * dy;
        const double c = ox * ox + oy * oy - halfW * halfW;
        if (a <= 0)
            return false;
        const double discriminant = b * b - a * c;
        if (discriminant < 0)
            return false;
        const double r = std::sqrt(discriminant);
        u0 = (-b - r) / a;
        u1 = (-b + r) / a;
        return true;
    }
    // Box: |local x| <= halfW and |local y| <= halfH, both linear in u.
    u0 = -std::numeric_limits<double>::infinity();
    u1 = std::numeric_limits<double>::infinity();
    const double slabs[2][3] = {{ox * p.c + oy * p.s, dx * p.c + dy * p.s, halfW},
                                {-ox * p.s + oy * p.c, -dx * p.s + dy * p.c, halfH}};
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

double SceneShape::signedDistance(const Pose &p, double x, double y) const
{
    const double ox = x - p.cx, oy = y - p.cy;
    if (disc)
        return std::hypot(ox, oy) - halfW;
    const double qx = std::fabs(ox * p.c + oy * p.s) - halfW;
    const double qy = std::fabs(-ox * p.s + oy * p.c) - halfH;
    return std::hypot(std::max(qx, 0.0), std::max(qy, 0.0)) + std::min(std::max(qx, qy), 0.0);
}

} // namespace vexadin
