#include "view/icon_picture.h"

#include <algorithm>
#include <iterator>
#include <cmath>

#include "base/host_files.h"
#include "base/save_text.h"
#include "icon/icon_descriptor.h"
#include "icon/icon_draw.h"
#include "view/model_framing.h"
#include "view/value_text.h"

namespace marrowin {

std::unique_ptr<IconPicture> IconPicture::create(uint32_t width, uint32_t height,
                                                 std::string& error, bool smooth) {
    // The factor keeps the surface within SMOOTH_SURFACE_SIDE (memory and time per picture);
    // past that a picture is drawn as a plain one, and refused as one of its size would be.
    const uint32_t factor = smooth ? smoothingFactor(width, height) : 1;
    std::unique_ptr<OffscreenRenderer> surface =
        OffscreenRenderer::create(width * factor, height * factor, error);
    if (!surface) return nullptr;
    std::unique_ptr<IconPicture> picture(new IconPicture());
    picture->surface_ = std::move(surface);
    picture->width_ = width;
    picture->height_ = height;
    picture->factor_ = factor;
    picture->texture_.assign(TEXTURE_BUFFER_BYTES, 0);
    return picture;
}

bool IconPicture::show(const SaveImage& image, int icon, const PictureView& look,
                       std::string& error) {
    // The same steps as the window: defaults, GL state, size, then the icon of the save.
    settings_ = initialViewSettings();
    frame_ = FrameState{};
    view_ = IconView{};
    view_.textureImage = texture_.data();
    initGLState(settings_);
    transparent_ = look.transparent;
    if (transparent_) {
        // The window blends alpha like colour, which leaves a^2 where a translucent icon
        // covers a transparent background; its frames never show alpha, ours do.
        if (!surface_->blendAlphaAsCoverage()) {
            error = "the OpenGL context cannot blend alpha apart from colour";
            return false;
        }
        // Transparent black, so the frame holds premultiplied colour.
        std::fill(std::begin(settings_.clearColor), std::end(settings_.clearColor), 0.0f);
        straight_.assign(size_t(width_) * height_ * 4, 0);
    }
    resizeView(frame_, settings_, surface_->width(), surface_->height());
    selectIcon(view_, image, settings_.lights, icon);
    if (!view_.currentModel) {
        const std::string name = readIconFileName(image, icon);
        error = name.empty() ? std::string("the save names no ") + ICON_ROLE_NAMES[icon] + " icon"
                             : std::string("the ") + ICON_ROLE_NAMES[icon] + " icon file \"" +
                                   saveTextToDisplay(name) + "\" is not in the save";
        return false;
    }
    settings_.rotation[0] += look.pitch;
    settings_.rotation[1] += look.yaw;
    // The first paint shows the first shape.
    if (look.fit) frameModel(settings_, *view_.currentModel, 0);
    // A window has shown frames before; here one empty frame ends first, so the back buffer
    // holds the background when the first real frame is drawn.
    finishFrame(settings_, *surface_);
    return true;
}

void IconPicture::paint() {
    paintFrame(frame_, settings_, view_, *surface_);
    // The buffer holds premultiplied colour (or is opaque), so block means are the coverage
    // and colour a finer pixel grid would show, and the edges do not darken.
    if (factor_ > 1) shrinkPicture(surface_->readFrontBuffer(), width_, height_, factor_, shrunk_);
    if (!transparent_) return;
    const std::vector<uint8_t>& premultiplied =
        factor_ > 1 ? shrunk_ : surface_->readFrontBuffer();
    for (size_t i = 0; i + 3 < premultiplied.size(); i += 4) {
        const unsigned a = premultiplied[i + 3];
        for (int c = 0; c < 3; ++c)
            straight_[i + c] =
                a == 0 ? 0 : uint8_t(std::min(255u, (premultiplied[i + c] * 255u + a / 2) / a));
        straight_[i + 3] = uint8_t(a);
    }
}

bool drawThumbnail(IconPicture& picture, const SaveImage& image, std::string& error) {
    PictureView look;
    look.fit = true;
    look.transparent = true;
    if (!picture.show(image, 0, look, error)) return false;
    picture.paint();
    const std::vector<uint8_t>& rgba = picture.pixels();
    for (size_t i = 3; i < rgba.size(); i += 4)
        if (rgba[i] != 0) return true;
    error = "the icon draws nothing";
    return false;
}

}  // namespace marrowin
