#pragma once

#include <cstdint>

namespace vexadin {

// A convex shape of the simulated scene: a disc or a (turning) box whose centre
// moves at a constant speed and bounces between the edges of its travel area.
// Everything is a function of time, so any moment can be looked at again.
struct SceneShape {
    // Where the shape is at one moment: centre, cos and sin of its angle.
    struct Pose {
        double cx, cy, c, s;
    };

    bool disc = true;
    double halfW = 0, halfH = 0; // radius in halfW for a disc
    double startX = 0, startY = 0;
    double vx = 0, vy = 0;        // px per µs
    double angle0 = 0, omega = 0; // rad, rad per µs
    double minX = 0, maxX = 0, minY = 0, maxY = 0; // travel area of the centre
    float level = 0;             // log intensity
    float tint[3] = {1, 1, 1};   // B, G, R share of the brightness in a picture

    double reach() const; // farthest point from the centre
    double maxSpeed() const; // px per µs, of any point of the outline
    Pose poseAt(double t) const;

    // The part [u0, u1] of the line (px, py) + u (dx, dy) inside the shape; false
    // when the line misses it. The sensor's rows and a picture's rows both use it,
    // so events and picture agree on every edge.
    bool lineInside(const Pose &p, double px, double py, double dx, double dy, double &u0,
                    double &u1) const;

    // Signed distance from the outline (negative inside). Only its zero crossing
    // between two poses is used, to interpolate when an edge passes a pixel.
    double signedDistance(const Pose &p, double x, double y) const;
};

} // namespace vexadin
