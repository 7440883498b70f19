#pragma once
// What the rendering tests share: an off-screen context per test, pixel access and the
// matrices the frame is expected to set up.
#include <gtest/gtest.h>

#include <GL/gl.h>

#include <array>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "icon/icon_view.h"
#include "view/gl_frame.h"
#include "view/offscreen_egl.h"
#include "view/view_settings.h"

namespace marrowin::gltest {

using Matrix = std::array<double, 16>;  // column-major, as OpenGL keeps it

inline Matrix identity() {
    Matrix m{};
    m[0] = m[5] = m[10] = m[15] = 1;
    return m;
}
inline Matrix multiply(const Matrix& a, const Matrix& b) {
    Matrix r{};
    for (int c = 0; c < 4; ++c)
        for (int row = 0; row < 4; ++row)
            for (int k = 0; k < 4; ++k) r[c * 4 + row] += a[k * 4 + row] * b[c * 4 + k];
    return r;
}
inline Matrix translation(double x, double y, double z) {
    Matrix m = identity();
    m[12] = x;
    m[13] = y;
    m[14] = z;
    return m;
}
// Rotation by degrees about a unit axis, as glRotate.
inline Matrix rotation(double degrees, double x, double y, double z) {
    const double a = degrees * M_PI / 180.0, c = std::cos(a), s = std::sin(a);
    Matrix m = identity();
    m[0] = x * x * (1 - c) + c;
    m[4] = x * y * (1 - c) - z * s;
    m[8] = x * z * (1 - c) + y * s;
    m[1] = y * x * (1 - c) + z * s;
    m[5] = y * y * (1 - c) + c;
    m[9] = y * z * (1 - c) - x * s;
    m[2] = x * z * (1 - c) - y * s;
    m[6] = y * z * (1 - c) + x * s;
    m[10] = z * z * (1 - c) + c;
    return m;
}
inline Matrix perspective(double fovY, double aspect, double zNear, double zFar) {
    const double f = 1.0 / std::tan(fovY * M_PI / 360.0);
    Matrix m{};
    m[0] = f / aspect;
    m[5] = f;
    m[10] = (zFar + zNear) / (zNear - zFar);
    m[11] = -1;
    m[14] = 2 * zFar * zNear / (zNear - zFar);
    return m;
}
inline std::array<double, 4> transform(const Matrix& m, const float v[4]) {
    std::array<double, 4> r{};
    for (int row = 0; row < 4; ++row)
        for (int k = 0; k < 4; ++k) r[row] += m[k * 4 + row] * v[k];
    return r;
}
inline Matrix readMatrix(GLenum which) {
    GLdouble m[16];
    glGetDoublev(which, m);
    Matrix r;
    for (int i = 0; i < 16; ++i) r[i] = m[i];
    return r;
}
inline void expectMatrixNear(const Matrix& actual, const Matrix& expected, double tolerance) {
    for (int i = 0; i < 16; ++i)
        EXPECT_NEAR(actual[i], expected[i], tolerance) << "element " << i;
}

struct Rgba {
    uint8_t r, g, b, a;
    bool operator==(const Rgba&) const = default;
};
inline std::ostream& operator<<(std::ostream& os, const Rgba& p) {
    return os << "(" << int(p.r) << ", " << int(p.g) << ", " << int(p.b) << ", " << int(p.a) << ")";
}

// The background as an 8-bit colour buffer holds it.
inline Rgba backgroundOf(const ViewSettings& s) {
    auto unorm = [](float c) { return uint8_t(std::lround(double(c) * 255.0)); };
    return {unorm(s.clearColor[0]), unorm(s.clearColor[1]), unorm(s.clearColor[2]), 0};
}

// A context like the window's after start-up: state initialised and sized.
class GLFixture : public ::testing::Test {
protected:
    static constexpr uint32_t WIDTH = 160;
    static constexpr uint32_t HEIGHT = 120;

    void SetUp() override {
        std::string error;
        surface = OffscreenRenderer::create(WIDTH, HEIGHT, error);
        // No skip: every machine that builds this has Mesa, and a missing context is a fault.
        ASSERT_TRUE(surface) << error;
        settings = initialViewSettings();
        texture.assign(0xC400, 0);
        view.textureImage = texture.data();
        initGLState(settings);
        resizeView(frame, settings, WIDTH, HEIGHT);
    }

    void paint(int times = 1) {
        for (int i = 0; i < times; ++i) paintFrame(frame, settings, view, *surface);
    }

    Rgba front(uint32_t x, uint32_t yFromTop) const {
        const uint8_t* p = surface->readFrontBuffer().data() + (size_t(yFromTop) * WIDTH + x) * 4;
        return {p[0], p[1], p[2], p[3]};
    }
    size_t countFront(const Rgba& colour) const {
        size_t n = 0;
        for (uint32_t y = 0; y < HEIGHT; ++y)
            for (uint32_t x = 0; x < WIDTH; ++x) n += front(x, y) == colour;
        return n;
    }

    std::unique_ptr<OffscreenRenderer> surface;
    ViewSettings settings{};
    FrameState frame;
    IconView view;
    std::vector<uint8_t> texture;
};

}  // namespace marrowin::gltest
