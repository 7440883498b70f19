#pragma once
// Pictures of a save's icon without a display, for render, thumbnails and the card window's
// list: the window's own steps (defaults, GL state, size, icon selection, paints) on an
// off-screen surface.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/save_image.h"
#include "icon/icon_view.h"
#include "view/gl_frame.h"
#include "view/offscreen_egl.h"
#include "view/view_settings.h"

namespace marrowin {

// How a picture looks at its save, beyond the window's defaults.
struct PictureView {
    float yaw = 0;    // degrees about the vertical axis, added to the view's turn
    float pitch = 0;  // degrees about the horizontal axis
    bool fit = false; // move the view so the icon fills the picture
    // No background: pixels() then hold the icon alone with its coverage as alpha, so that
    // laid over any background it looks as the window would draw it there.
    bool transparent = false;
};

class IconPicture {
public:
    // One surface of a fixed size, reused for every save drawn with it. A smooth picture is
    // drawn at several samples a pixel side (smoothingFactor) and filtered down, so edges
    // take partial coverage; otherwise it holds the window's own pixels.
    static std::unique_ptr<IconPicture> create(uint32_t width, uint32_t height, std::string& error,
                                               bool smooth = false);

    // Starts afresh on icon `icon` of `image`, as a newly started window would show it: the
    // settings, lights and animation of a previous save do not carry over. The image must stay
    // alive while painting. False with a message when the save has no such icon.
    bool show(const SaveImage& image, int icon, const PictureView& view, std::string& error);
    // One paint; the picture is then in pixels() (RGBA, rows top-down, alpha 0 where nothing
    // was drawn; on a transparent picture, colour not premultiplied, as PNG keeps it).
    void paint();
    const std::vector<uint8_t>& pixels() const {
        if (transparent_) return straight_;
        return factor_ > 1 ? shrunk_ : surface_->readFrontBuffer();
    }
    uint32_t width() const { return width_; }
    uint32_t height() const { return height_; }

private:
    std::unique_ptr<OffscreenRenderer> surface_;
    ViewSettings settings_{};
    FrameState frame_;
    IconView view_;
    std::vector<uint8_t> texture_;
    bool transparent_ = false;
    uint32_t width_ = 0, height_ = 0;
    uint32_t factor_ = 1;            // surface pixels per picture pixel, each way
    std::vector<uint8_t> shrunk_;    // the surface filtered down to the picture's size
    std::vector<uint8_t> straight_;
};

// The thumbnail of a save: its normal icon filling a transparent square, as file managers show
// it. False with a message when the save has no icon to show or the icon draws nothing (a file
// manager is better served by its generic icon than by a blank picture).
bool drawThumbnail(IconPicture& picture, const SaveImage& image, std::string& error);

}  // namespace marrowin
