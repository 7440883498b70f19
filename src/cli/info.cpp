// marrowin-cli info: what a save archive holds.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "archive/save_image.h"
#include "base/save_text.h"
#include "cli/cli_support.h"
#include "cli/commands.h"
#include "icon/icon_descriptor.h"
#include "view/view_settings.h"

namespace marrowin::cli {

namespace {

const char* const INFO_USAGE =
    "usage: marrowin-cli info [-q] [--json] ARCHIVE...\n"
    "Shows each archive's kind, folder name, title, icon file names, lights and files. Saves\n"
    "in other containers (.max, .cbs, .sps/.xps, .psv) are shown as the save archive they\n"
    "hold, with a \"container\" line.\n"
    "  --json        one JSON array with an object per archive, as check --json prints\n"
    "  -q, --quiet   taken as by every command; the report is the output, so it still shows\n";

const char* const LIGHT_GROUPS[4] = {"position", "ambient", "diffuse", "specular"};

struct SaveFacts {
    std::string folder, title;
    std::string icons[3];
    bool hasLights = false;
    LightSettings lights[3];
    struct File {
        std::string name;
        uint32_t size;
        std::string created, modified;
    };
    std::vector<File> files;
};

SaveFacts gatherFacts(const SaveImage& image) {
    SaveFacts f;
    f.folder = saveTextToDisplay(getFolderName(image));
    f.title = saveTextToDisplay(readSaveTitle(image));
    for (int i = 0; i < 3; ++i) f.icons[i] = saveTextToDisplay(readIconFileName(image, i));
    // Start from "not a number": a component the descriptor holds as no finite number is not
    // taken into the lights, and then shows as such (null in JSON) instead of a default.
    LightSettings lights[3];
    for (LightSettings& l : lights)
        for (size_t g = 0; g < 4; ++g)
            std::fill_n(lightGroup(l, g), 4, std::numeric_limits<float>::quiet_NaN());
    f.hasLights = loadDescriptorLights(image, lights);
    std::memcpy(f.lights, lights, sizeof f.lights);
    walkFileEntries(image, [&](const FileEntry& e) {
        f.files.push_back({saveTextToDisplay(e.name), e.size,
                           formatEntryTime(e.header + ENTRY_CREATED_OFFSET),
                           formatEntryTime(e.header + ENTRY_MODIFIED_OFFSET)});
    });
    return f;
}

// Descriptors often hold -0 (a sign bit over a zero); it means 0 and is shown so.
float shown(float v) { return v == 0 ? 0.0f : v; }

std::string jsonVector(const float* v) {
    std::string s = "[";
    for (int c = 0; c < 4; ++c) s += (c ? "," : "") + jsonNumber(shown(v[c]));
    return s + "]";
}

// A save read from a container other than a save archive.
bool isOtherContainer(ContainerKind c) { return c != ContainerKind::Psu && c != ContainerKind::Unknown; }

// One archive's object: path, kind (null when the file could not be read), error (null when
// it was described) and, for a save archive, what it holds.
std::string jsonObject(const std::string& path, const ArchiveKind* kind, ContainerKind container,
                       const std::string& error, const SaveFacts* f) {
    std::string s = "{\"path\":" + jsonString(path) +
                    ",\"kind\":" + (kind ? jsonString(archiveKindName(*kind)) : std::string("null")) +
                    ",\"container\":" + (isOtherContainer(container) ? jsonString(containerWord(container))
                                                                  : std::string("null")) +
                    ",\"error\":" + (error.empty() ? std::string("null") : jsonString(error));
    if (f) {
        s += ",\"folder\":" + jsonString(f->folder) + ",\"title\":" + jsonString(f->title);
        s += ",\"icons\":{";
        for (int i = 0; i < 3; ++i)
            s += std::string(i ? "," : "") + "\"" + ICON_ROLE_NAMES[i] + "\":" + jsonString(f->icons[i]);
        s += "},\"lights\":";
        if (f->hasLights) {
            s += "[";
            for (int k = 0; k < 3; ++k) {
                s += k ? ",{" : "{";
                for (int g = 0; g < 4; ++g)
                    s += std::string(g ? "," : "") + "\"" + LIGHT_GROUPS[g] +
                         "\":" + jsonVector(lightGroup(f->lights[k], g));
                s += "}";
            }
            s += "]";
        } else {
            s += "null";
        }
        s += ",\"files\":[";
        for (size_t i = 0; i < f->files.size(); ++i) {
            const auto& e = f->files[i];
            s += std::string(i ? "," : "") + "{\"name\":" + jsonString(e.name) +
                 ",\"size\":" + std::to_string(e.size) + ",\"created\":" + jsonString(e.created) +
                 ",\"modified\":" + jsonString(e.modified) + "}";
        }
        s += "]";
    }
    return s + "}";
}

void printText(const std::string& path, ArchiveKind kind, ContainerKind container, const SaveFacts* f) {
    std::printf("%s\n  kind: %s\n", terminalText(path).c_str(), archiveKindName(kind));
    if (isOtherContainer(container)) std::printf("  container: %s\n", containerTitle(container));
    if (!f) return;
    std::printf("  folder: %s\n  title: %s\n", terminalText(f->folder).c_str(),
                terminalText(f->title).c_str());
    for (int i = 0; i < 3; ++i)
        std::printf("  icon (%s): %s\n", ICON_ROLE_NAMES[i], terminalText(f->icons[i]).c_str());
    if (f->hasLights) {
        for (int k = 0; k < 3; ++k) {
            std::printf("  light %d:", k);
            for (int g = 0; g < 4; ++g) {
                const float* v = lightGroup(f->lights[k], g);
                std::printf(" %s (%g, %g, %g, %g)", LIGHT_GROUPS[g], shown(v[0]), shown(v[1]),
                            shown(v[2]), shown(v[3]));
            }
            std::printf("\n");
        }
    } else {
        std::printf("  lights: none (no icon descriptor)\n");
    }
    std::printf("  files: %zu\n", f->files.size());
    for (const auto& e : f->files)
        std::printf("    %s  %u bytes  created %s  modified %s\n", terminalText(e.name).c_str(),
                    unsigned(e.size),
                    e.created.c_str(), e.modified.c_str());
}

}  // namespace

int runInfo(int argc, char** argv) {
    bool json = false;
    std::vector<std::string> paths;
    const int code = walkReportArguments(argc, argv, INFO_USAGE, json, paths);
    if (code >= 0) return code;

    int status = 0;
    if (json) std::fputs("[", stdout);
    for (size_t i = 0; i < paths.size(); ++i) {
        const std::string& path = paths[i];
        OpenedSave a;
        std::string error;
        bool ok = openSave(path, OpenOptions{}, a, error);
        SaveFacts facts;
        if (ok) facts = gatherFacts(a.image);
        if (!ok) status = 1;
        // What a damaged container lost is described nowhere else in info's output.
        if (ok && reportContainerErrors("info", path, a)) status = 1;
        if (json) {
            std::printf("%s\n%s", i ? "," : "",
                        jsonObject(path, a.image.empty() ? nullptr : &a.kind, a.container, error,
                                   ok ? &facts : nullptr).c_str());
            if (!ok) {
                flushStandardOutput();
                std::fprintf(stderr, "marrowin-cli info: %s\n", error.c_str());
            }
            continue;
        }
        if (!ok) {
            flushStandardOutput();
            std::fprintf(stderr, "marrowin-cli info: %s\n", error.c_str());
            if (a.image.empty()) continue;  // nothing read: nothing to describe
        }
        printText(path, a.kind, a.container, ok ? &facts : nullptr);
    }
    if (json) std::fputs("\n]\n", stdout);
    return status;
}

}  // namespace marrowin::cli
