#include "view/model_framing.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace marrowin {

namespace {

struct Rotation {
    double m[3][3];

    // The turn the view applies: about X, then Y, then Z as the drawing composes them
    // (v' = Rx Ry Rz v).
    static Rotation of(const float degrees[3]) {
        auto axis = [](int a, double deg) {
            const double r = deg * M_PI / 180.0, c = std::cos(r), s = std::sin(r);
            Rotation t{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
            const int i = (a + 1) % 3, j = (a + 2) % 3;
            t.m[i][i] = c;
            t.m[i][j] = -s;
            t.m[j][i] = s;
            t.m[j][j] = c;
            return t;
        };
        return axis(0, degrees[0]) * axis(1, degrees[1]) * axis(2, degrees[2]);
    }
    Rotation operator*(const Rotation& o) const {
        Rotation r{};
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                for (int k = 0; k < 3; ++k) r.m[i][j] += m[i][k] * o.m[k][j];
        return r;
    }
    void apply(const double in[3], double out[3]) const {
        for (int i = 0; i < 3; ++i) out[i] = m[i][0] * in[0] + m[i][1] * in[1] + m[i][2] * in[2];
    }
};

}  // namespace

bool frameModel(ViewSettings& s, const IconModel& model, uint32_t shape, float fill) {
    const ModelHeader header = readModelHeader(model);
    const uint64_t count = readableVertexCount(model, header);
    if (count == 0 || shape >= header.shapeCount) return false;
    if (!(fill > 0.0f && fill <= 1.0f)) fill = 0.9f;
    const double halfTan = std::tan(double(s.fovY) * M_PI / 360.0);
    if (!std::isfinite(halfTan) || !(halfTan > 0) || !std::isfinite(s.aspect) || !(s.aspect > 0))
        return false;
    for (float r : s.rotation)
        if (!std::isfinite(r)) return false;

    const Rotation turn = Rotation::of(s.rotation);
    auto turned = [&](uint64_t i, double out[3]) {
        Vertex v;
        readVertex(model, header, i, shape, v);
        const double p[3] = {v.position[0] / 4096.0, v.position[1] / 4096.0, v.position[2] / 4096.0};
        turn.apply(p, out);
    };

    // Centre across the picture: the middle of the turned model's extent in x and y.
    double lo[3], hi[3];
    std::fill(lo, lo + 3, std::numeric_limits<double>::max());
    std::fill(hi, hi + 3, std::numeric_limits<double>::lowest());
    double p[3];
    for (uint64_t i = 0; i < count; ++i) {
        turned(i, p);
        for (int c = 0; c < 3; ++c) {
            lo[c] = std::min(lo[c], p[c]);
            hi[c] = std::max(hi[c], p[c]);
        }
    }
    const double cx = (lo[0] + hi[0]) / 2, cy = (lo[1] + hi[1]) / 2;

    // Distance: the eye looks down -z; a vertex at depth d in front of it shows when
    // |x| <= d tan(fov/2) aspect and |y| <= d tan(fov/2). The nearest placement that holds
    // for every vertex fills the picture.
    // No vertex may come nearer the eye than a twentieth of the model's size, so a point on
    // the axis (the tip of a cone facing the eye) is not cut by the near plane.
    const double size = std::max({hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]});
    const double minDepth = std::max(size * 0.05, 1e-3);
    double tz = std::numeric_limits<double>::max();
    for (uint64_t i = 0; i < count; ++i) {
        turned(i, p);
        const double need = std::max(std::fabs(p[0] - cx) / (halfTan * s.aspect),
                                     std::fabs(p[1] - cy) / halfTan) / fill;
        tz = std::min(tz, -p[2] - std::max(need, minDepth));
    }
    // Near and far planes close around the model keep the depth buffer's precision.
    const double nearest = -(hi[2] + tz), farthest = -(lo[2] + tz);
    s.translation[0] = float(-cx);
    s.translation[1] = float(-cy);
    s.translation[2] = float(tz);
    s.zNear = float(nearest * 0.5);
    s.zFar = float(farthest * 2 + 1);
    return true;
}

}  // namespace marrowin
