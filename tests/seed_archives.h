#pragma once
// The seed corpus of the archive fuzz targets, built in memory: make_fuzz_seeds writes it out,
// and the tests run every reader over the same inputs.
#include <string>
#include <utility>
#include <vector>

#include "fixtures.h"

namespace marrowin::fixtures {

inline std::vector<std::pair<std::string, Bytes>> seedArchives() {
    std::vector<std::pair<std::string, Bytes>> seeds;
    seeds.emplace_back("plain-triangle.psu", iconSave());

    ModelRecipe coded = triangleModel();
    coded.textureType = 0x0E;
    coded.texture.clear();
    rleRepeat(coded.texture, 100, 0x001F);
    rleLiteral(coded.texture, {0x03E0, 0x7C00, 0x7FFF});
    coded.texture.push_back(0x8000);
    for (int i = 0; i < 300; ++i) coded.texture.push_back(uint16_t(i * 97));
    coded.frameKeyCounts = {2, 0, 3};
    DescriptorRecipe d;
    d.title = "\x82\x6F\x82\x72\x82\x51\x81\x40\x83\x5A\x81\x5B\x83\x75";
    seeds.emplace_back("coded-frames.psu", iconSave(d, coded));

    ModelRecipe grey = triangleModel();
    grey.textureType = 0x103;
    grey.shapeCount = 3;
    for (auto& v : grey.vertices) v.positions.resize(3, {100, 200, 300, 0});
    seeds.emplace_back("grey-shapes.psu", iconSave({}, grey));

    // Two descriptors, a nested directory entry, a long name and a cut-off tail.
    ArchiveBuilder many("BESLES-55555MANY");
    DescriptorRecipe second;
    second.title = "LATER";
    second.iconNames = {"b.icn", "c.icn", "d.icn"};
    many.file("icon.sys", buildDescriptor(d)).entry(MODE_DIRECTORY, 0, "sub");
    many.file(std::string(120, 'L'), Bytes(10, 1)).file("b.icn", buildModel(coded));
    many.file("zz.sys", buildDescriptor(second)).rawFile("cut", 5000, Bytes(100, 0x55));
    seeds.emplace_back("many.psu", many.build());

    Bytes power(300, 0);
    putBytes(power, 0, "Ps2PowerSave");
    seeds.emplace_back("powersave.bin", power);

    // The real icons, packed the way saves carry them.
    auto real = [&](const char* model, const char* sys, const char* out) {
        Bytes m = readFileBytes(testDataPath(model));
        Bytes s = readFileBytes(testDataPath(sys));
        if (m.empty() || s.empty()) return;
        ArchiveBuilder a("BASLUS-00000REAL");
        // Real archives may pad with 0xFF and put the descriptor last.
        a.file(model, m, 0xFF).file(std::string(model) == "opl.icn" ? "opl.icn" : "my.icn", m);
        a.file("icon.sys", s);
        seeds.emplace_back(out, a.build());
    };
    real("opl.icn", "opl-icon.sys", "opl.psu");
    real("default-icon.icn", "default-icon.sys", "default.psu");
    real("opl.icn", "opl-icon_J.sys", "opl-japanese.psu");
    return seeds;
}

// The real saves in the other containers (the card image is too large for a seed).
inline const char* const REAL_CONTAINER_SAMPLES[] = {
    "formats/final-fantasy12.max", "formats/tokyo-xtreme-racer-drift-2.14091.cbs",
    "formats/max-payne.1394.sps", "formats/BESLES-50325.PSV"};

}  // namespace marrowin::fixtures
