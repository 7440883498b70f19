// The card window's list pictures: the same pixels as the CLI's thumbnail of that size.
#include <gtest/gtest.h>

#include <fstream>

#include "cards/card_pictures.h"
#include "cards/cards_model.h"
#include "fixtures.h"
#include "picture_support.h"

using namespace marrowin;
using namespace marrowin::gltest;

namespace {

const std::string CLI = MARROWIN_CLI;
const std::string DEMO = std::string(MARROWIN_SAMPLES) + "/demo.psu";

TEST(CardPictures, EqualTheThumbnailCommandsPicturePixelForPixel) {
    SKIP_WITHOUT_POSIX_SHELL();
    TempDir dir;
    const std::string png = dir.path + "/demo.png";
    ASSERT_EQ(run(CLI + " thumbnail -s 64 '" + DEMO + "' '" + png + "'"), 0);
    const Picture expected = loadPng(png);
    ASSERT_EQ(expected.width, 64u);

    std::string error;
    std::unique_ptr<cards::PictureDrawer> drawer = cards::makeIconPictureDrawer(64, error);
    ASSERT_TRUE(drawer) << error;
    cards::PictureCache cache(*drawer, 64);
    // The save as a loose file, and the same save on a card.
    const std::string card = dir.path + "/card";
    ASSERT_TRUE(cards::CardsModel::newCard(card, cards::NewCardKind::ImageWithEcc, error)) << error;
    for (bool onCard : {false, true}) {
        SCOPED_TRACE(onCard ? "on a card" : "loose");
        cards::CardsModel model;
        ASSERT_TRUE(model.open({onCard ? card : DEMO}, error)) << error;
        if (onCard) {
            const auto done = model.importFiles({DEMO}, [](const cards::ImportQuestion&) { return false; });
            ASSERT_EQ(done[0].kind, cards::ImportOutcome::Kind::Imported) << done[0].message;
        }
        ASSERT_EQ(model.rows().size(), 1u);
        const std::vector<uint8_t>& rgba = cache.pictureOf(model, 0);
        ASSERT_EQ(rgba.size(), expected.rgba.size());
        size_t differing = 0;
        for (size_t i = 0; i < rgba.size(); ++i) differing += rgba[i] != expected.rgba[i];
        EXPECT_EQ(differing, 0u);
    }
}

// A save whose icon cannot be drawn gets no picture rather than a blank square; the cache
// draws at its own size whatever size the drawer was made for.
TEST(CardPictures, ASaveWithoutAnIconHasNoPictureAndSizesFollowTheCache) {
    TempDir dir;
    fixtures::ArchiveBuilder noIcon("BASLUS-20000SAVE");
    fixtures::DescriptorRecipe names;
    names.iconNames[0] = "missing.icn";
    noIcon.file("icon.sys", fixtures::buildDescriptor(names));
    noIcon.file("icon.icn", fixtures::buildModel(fixtures::triangleModel()));
    const fixtures::Bytes bytes = noIcon.build();
    const std::string iconless = dir.path + "/iconless.psu";
    std::ofstream(iconless, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), long(bytes.size()));

    std::string error;
    std::unique_ptr<cards::PictureDrawer> drawer = cards::makeIconPictureDrawer(32, error);
    ASSERT_TRUE(drawer) << error;
    cards::PictureCache cache(*drawer, 48);
    cards::CardsModel model;
    ASSERT_TRUE(model.open({iconless, DEMO}, error)) << error;
    ASSERT_EQ(model.rows().size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        const bool isDemo = model.rows()[i].sourcePath == DEMO;
        const std::vector<uint8_t>& rgba = cache.pictureOf(model, i);
        EXPECT_EQ(rgba.size(), isDemo ? 48u * 48 * 4 : 0u) << model.rows()[i].sourcePath;
    }
}

}  // namespace
