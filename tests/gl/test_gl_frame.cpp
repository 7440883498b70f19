#include <GL/gl.h>

#include "gl_support.h"

using namespace marrowin;
using namespace marrowin::gltest;

using Frame = GLFixture;

TEST_F(Frame, InitSetsAspectDefaultsAndFixedState) {
    ViewSettings fresh = initialViewSettings();
    fresh.aspect = 1;
    resetViewSettings(fresh);
    fresh.aspect = float(double(WIDTH) / HEIGHT);
    EXPECT_EQ(std::memcmp(&settings, &fresh, sizeof fresh), 0);

    EXPECT_TRUE(glIsEnabled(GL_BLEND));
    EXPECT_TRUE(glIsEnabled(GL_CULL_FACE));
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    GLint src = 0, dst = 0, cull = 0, front = 0, depthFunc = 0;
    glGetIntegerv(GL_BLEND_SRC, &src);
    glGetIntegerv(GL_BLEND_DST, &dst);
    glGetIntegerv(GL_CULL_FACE_MODE, &cull);
    glGetIntegerv(GL_FRONT_FACE, &front);
    glGetIntegerv(GL_DEPTH_FUNC, &depthFunc);
    EXPECT_EQ(src, GL_SRC_ALPHA);
    EXPECT_EQ(dst, GL_ONE_MINUS_SRC_ALPHA);
    EXPECT_EQ(cull, GL_BACK);
    EXPECT_EQ(front, GL_CCW);
    EXPECT_EQ(depthFunc, GL_LESS);
    GLint depthBits = 0;
    glGetIntegerv(GL_DEPTH_BITS, &depthBits);
    EXPECT_EQ(depthBits, 16);
}

TEST_F(Frame, ResizeSetsViewportAndAspect) {
    resizeView(frame, settings, 800, 600);
    EXPECT_EQ(settings.aspect, 1.3333334f);
    EXPECT_EQ(frame.clientWidth, 800);
    EXPECT_EQ(frame.clientHeight, 600);
    paint();
    GLint vp[4];
    glGetIntegerv(GL_VIEWPORT, vp);
    EXPECT_EQ(vp[2], 800);
    EXPECT_EQ(vp[3], 600);

    resizeView(frame, settings, 300, 0);  // minimised: aspect stays, frames go on
    EXPECT_EQ(settings.aspect, 1.3333334f);
    paint();
    glGetIntegerv(GL_VIEWPORT, vp);
    EXPECT_EQ(vp[2], 300);
    EXPECT_EQ(vp[3], 0);
}

TEST_F(Frame, ProjectionIsThePerspectiveOfTheSettings) {
    settings.fovY = 60;
    settings.zNear = 2;
    settings.zFar = 50;
    paint();
    expectMatrixNear(readMatrix(GL_PROJECTION_MATRIX), perspective(60, settings.aspect, 2, 50),
                     1e-6);
}

TEST_F(Frame, ModelIsDrawnUnderTranslationAndAllThreeRotations) {
    settings.translation[0] = 1.5f;
    settings.translation[1] = -2;
    settings.rotation[0] = 30;
    settings.rotation[1] = 40;
    settings.rotation[2] = 50;
    paint();
    const Matrix expected = multiply(
        multiply(multiply(translation(1.5, -2, -12.5), rotation(30, 1, 0, 0)),
                 rotation(40, 0, 1, 0)),
        rotation(50, 0, 0, 1));
    expectMatrixNear(readMatrix(GL_MODELVIEW_MATRIX), expected, 1e-5);
    GLint mode = 0;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(mode, GL_MODELVIEW);
}

TEST_F(Frame, LightsArePlacedUnderTranslationAndXRotationOnly) {
    paint();
    const Matrix lightMatrix = multiply(translation(0, 0, -12.5), rotation(-180, 1, 0, 0));
    const GLenum ids[3] = {GL_LIGHT0, GL_LIGHT1, GL_LIGHT2};
    for (int i = 0; i < 3; ++i) {
        GLfloat eye[4];
        glGetLightfv(ids[i], GL_POSITION, eye);
        const auto expected = transform(lightMatrix, settings.lights[i].position);
        for (int k = 0; k < 4; ++k) EXPECT_NEAR(eye[k], expected[k], 1e-4) << i << "," << k;
        EXPECT_TRUE(glIsEnabled(ids[i]));
        GLfloat v[4];
        glGetLightfv(ids[i], GL_AMBIENT, v);
        EXPECT_EQ(v[0], settings.lights[i].ambient[0]);
        glGetLightfv(ids[i], GL_DIFFUSE, v);
        EXPECT_EQ(v[1], settings.lights[i].diffuse[1]);
        glGetLightfv(ids[i], GL_SPECULAR, v);
        EXPECT_EQ(v[2], settings.lights[i].specular[2]);
    }
    EXPECT_TRUE(glIsEnabled(GL_LIGHTING));
    // Light 0 at (-10, 0, 0) seen from 12.5 away, half a turn about X.
    GLfloat eye[4];
    glGetLightfv(GL_LIGHT0, GL_POSITION, eye);
    EXPECT_NEAR(eye[0], -10, 1e-5);
    EXPECT_NEAR(eye[2], -12.5, 1e-5);
}

TEST_F(Frame, TurningAboutYOrZLeavesLightsTurningAboutXMovesThem) {
    settings.lights[1].position[0] = 3;  // off the X axis so a turn about X shows
    paint();
    GLfloat before[4], after[4];
    glGetLightfv(GL_LIGHT1, GL_POSITION, before);

    settings.rotation[1] = 70;
    settings.rotation[2] = -20;
    paint();
    glGetLightfv(GL_LIGHT1, GL_POSITION, after);
    for (int k = 0; k < 4; ++k) EXPECT_EQ(after[k], before[k]);

    settings.rotation[0] = -90;
    paint();
    glGetLightfv(GL_LIGHT1, GL_POSITION, after);
    EXPECT_GT(std::fabs(after[1] - before[1]) + std::fabs(after[2] - before[2]), 1.0f);
}

TEST_F(Frame, MaterialIsSetOnBothFacesEveryFrame) {
    settings.material.shininess[0] = 32;
    paint();
    for (GLenum face : {GL_FRONT, GL_BACK}) {
        GLfloat v[4];
        glGetMaterialfv(face, GL_AMBIENT, v);
        EXPECT_EQ(v[0], settings.material.ambient[0]);
        glGetMaterialfv(face, GL_DIFFUSE, v);
        EXPECT_EQ(v[1], settings.material.diffuse[1]);
        glGetMaterialfv(face, GL_SPECULAR, v);
        EXPECT_EQ(v[3], settings.material.specular[3]);
        glGetMaterialfv(face, GL_SHININESS, v);
        EXPECT_EQ(v[0], 32.0f);
    }
}

TEST_F(Frame, EmptyFrameIsBackgroundFromTheSecondFrameOn) {
    const Rgba background = backgroundOf(settings);
    EXPECT_EQ(background, (Rgba{58, 110, 164, 0}));  // 0.64453125 x 255 = 164.36
    paint(2);
    EXPECT_EQ(countFront(background), size_t(WIDTH) * HEIGHT);
}

TEST_F(Frame, BackBufferIsClearedAfterTheSwap) {
    paint(2);
    // The cleared back buffer already holds the next frame's background.
    const auto back = surface->readBackBuffer();
    EXPECT_EQ(back, surface->readFrontBuffer());

    // A new clear colour is read in the next frame's clear and shows in the frame after.
    settings.clearColor[0] = 1;
    settings.clearColor[1] = 0;
    settings.clearColor[2] = 0;
    paint();
    EXPECT_EQ(front(5, 5), (Rgba{58, 110, 164, 0}));
    paint();
    EXPECT_EQ(front(5, 5), (Rgba{255, 0, 0, 0}));

    GLfloat clear[4];
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
    EXPECT_EQ(clear[3], 0.0f);
    GLdouble depth = 0;
    glGetDoublev(GL_DEPTH_CLEAR_VALUE, &depth);
    EXPECT_EQ(depth, 1.0);
}

TEST_F(Frame, DegenerateProjectionsAreHandedOnAndFramesGoOn) {
    for (auto change : {+[](ViewSettings& s) { s.zNear = 0; },
                        +[](ViewSettings& s) { s.zNear = s.zFar = 5; },
                        +[](ViewSettings& s) { s.fovY = 0; },
                        +[](ViewSettings& s) { s.aspect = 0; }}) {
        resetViewSettings(settings);
        change(settings);
        paint(2);
        EXPECT_EQ(countFront(backgroundOf(settings)), size_t(WIDTH) * HEIGHT);
    }
    while (glGetError() != GL_NO_ERROR) {
    }
    resetViewSettings(settings);
    settings.aspect = 2;
    paint();
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    expectMatrixNear(readMatrix(GL_PROJECTION_MATRIX), perspective(45, 2, 1, 1000), 1e-6);
}
