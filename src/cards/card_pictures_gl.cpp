#include "cards/card_pictures.h"

#include "view/icon_picture.h"

namespace marrowin::cards {

namespace {

class IconPictureDrawer : public PictureDrawer {
public:
    explicit IconPictureDrawer(std::unique_ptr<IconPicture> picture) : picture_(std::move(picture)) {}

    bool draw(const SaveImage& image, uint32_t size, std::vector<uint8_t>& rgba, std::string& error) override {
        if (size != picture_->width()) {
            // Another size asked for: a surface of that size, kept for the next ones.
            std::unique_ptr<IconPicture> other = IconPicture::create(size, size, error, true);
            if (!other) return false;
            picture_ = std::move(other);
        }
        if (!drawThumbnail(*picture_, image, error)) return false;
        rgba = picture_->pixels();
        return true;
    }

private:
    std::unique_ptr<IconPicture> picture_;
};

}  // namespace

std::unique_ptr<PictureDrawer> makeIconPictureDrawer(uint32_t size, std::string& error) {
    std::unique_ptr<IconPicture> picture = IconPicture::create(size, size, error, true);
    if (!picture) return nullptr;
    return std::make_unique<IconPictureDrawer>(std::move(picture));
}

}  // namespace marrowin::cards
