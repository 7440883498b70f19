#pragma once
// The frame of the 3D view (OpenGL 1.1 + GLU). Making a context current and swapping
// buffers belong to the platform (the window, or EGL off-screen) behind RenderSurface.
#include <cstdint>

#include "icon/icon_view.h"
#include "view/view_settings.h"

namespace marrowin {

class RenderSurface {
public:
    virtual ~RenderSurface() = default;
    virtual void swapBuffers() = 0;
};

struct FrameState {
    int32_t clientWidth = 0;
    int32_t clientHeight = 0;
};

// Everything after the context is made current: aspect 1, reset, blend, cull, depth, lights.
void initGLState(ViewSettings& settings);
void resizeView(FrameState& frame, ViewSettings& settings, uint32_t width, uint32_t height);
void applyProjection(const ViewSettings& settings);
void applyLights(const ViewSettings& settings);
void applyView(const ViewSettings& settings);
void finishFrame(const ViewSettings& settings, RenderSurface& surface);
void paintFrame(FrameState& frame, const ViewSettings& settings, IconView& icon,
                RenderSurface& surface);

}  // namespace marrowin
