#include <GL/gl.h>
#include <GL/glu.h>

#include "icon/icon_draw.h"
#include "view/gl_frame.h"

namespace marrowin {

void initGLState(ViewSettings& settings) {
    settings.aspect = 1.0f;
    resetViewSettings(settings);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_CULL_FACE);
    glEnable(GL_DEPTH_TEST);
    applyLights(settings);
}

void resizeView(FrameState& frame, ViewSettings& settings, uint32_t width, uint32_t height) {
    glViewport(0, 0, GLsizei(width), GLsizei(height));
    frame.clientWidth = int32_t(width);
    frame.clientHeight = int32_t(height);
    if (height != 0) settings.aspect = float(double(width) / double(height));
}

void applyProjection(const ViewSettings& s) {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(s.fovY, s.aspect, s.zNear, s.zFar);
}

void applyLights(const ViewSettings& s) {
    // Lights are placed under the translation and the X rotation only, so turning about Y or
    // Z turns the model under lights that stay put.
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glTranslatef(s.translation[0], s.translation[1], s.translation[2]);
    glRotatef(s.rotation[0], 1.0f, 0.0f, 0.0f);

    glDisable(GL_LIGHTING);
    static const GLenum LIGHT_IDS[3] = {GL_LIGHT0, GL_LIGHT1, GL_LIGHT2};
    for (int i = 0; i < 3; ++i) {
        const LightSettings& l = s.lights[i];
        glLightfv(LIGHT_IDS[i], GL_POSITION, l.position);
        glLightfv(LIGHT_IDS[i], GL_AMBIENT, l.ambient);
        glLightfv(LIGHT_IDS[i], GL_DIFFUSE, l.diffuse);
        glLightfv(LIGHT_IDS[i], GL_SPECULAR, l.specular);
    }
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
    glEnable(GL_LIGHT1);
    glEnable(GL_LIGHT2);

    const MaterialSettings& m = s.material;
    glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, m.ambient);
    glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, m.diffuse);
    glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, m.specular);
    glMaterialfv(GL_FRONT_AND_BACK, GL_SHININESS, m.shininess);
}

void applyView(const ViewSettings& s) {
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glTranslatef(s.translation[0], s.translation[1], s.translation[2]);
    glRotatef(s.rotation[0], 1.0f, 0.0f, 0.0f);
    glRotatef(s.rotation[1], 0.0f, 1.0f, 0.0f);
    glRotatef(s.rotation[2], 0.0f, 0.0f, 1.0f);
}

void finishFrame(const ViewSettings& s, RenderSurface& surface) {
    glFlush();
    surface.swapBuffers();
    // The back buffer is cleared for the next frame, after the swap.
    glClearColor(s.clearColor[0], s.clearColor[1], s.clearColor[2], 0.0f);
    glClearDepth(1.0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

void paintFrame(FrameState& frame, const ViewSettings& settings, IconView& icon,
                RenderSurface& surface) {
    applyProjection(settings);
    applyLights(settings);
    applyView(settings);
    glViewport(0, 0, frame.clientWidth, frame.clientHeight);
    if (icon.currentModel) drawIconModel(icon);
    finishFrame(settings, surface);
}

}  // namespace marrowin
