#pragma once
// Opening whatever save the user names: a save archive, another container (told by its
// content) laid out as the save archive it holds, or a memory card (image or folder) standing
// for one of its saves. Every command reads its input through here, so each kind of input is
// read one way wherever it is given.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "archive/save_image.h"
#include "base/problem.h"
#include "containers/save_contents.h"

namespace marrowin {

struct OpenOptions {
    // The save as a save archive, in OpenedSave::image.
    bool image = true;
    // The save as its container holds it (nothing filled in), in OpenedSave::contents.
    bool contents = false;
    // A memory card stands for one of its saves; off, a card is refused as no save.
    bool cards = true;
};

struct OpenedSave {
    // The save archive (with OpenOptions::image). A file refused from its head keeps that head,
    // which is enough for its kind and the check's first finding.
    SaveImage image;
    ArchiveKind kind = ArchiveKind::NotRecognized;
    // Psu for a save archive; Unknown for a card and for anything not recognised.
    ContainerKind container = ContainerKind::Unknown;
    // The container's own faults (none for a save archive given as one). With errors among
    // them the save holds only what could be read.
    std::vector<Problem> problems;
    // With OpenOptions::contents: the save as read, before defaults are filled in.
    SaveContents contents;
    // For a card: the folder of the save that stands for it (save text); empty otherwise.
    std::string cardSave;
};

// Opens `path`, or standard input for "-". False with a message naming the path when there is
// no save to be had; `out.kind`, `out.container` and `out.problems` still tell what was found.
bool openSave(const std::string& path, const OpenOptions& options, OpenedSave& out, std::string& error);

// A save to put on a card, read whole in any container ("-" is standard input); false with a
// message naming the input when it is none, or damaged (its errors then follow the message).
bool openSaveToImport(const std::string& path, SaveContents& out, std::string& error);

// The same for an open stream of unknown length, named `shownAs` in messages. A save archive
// is read by its own entries as they come, so bytes that follow its last entry are not held
// past STREAM_TRAILING_MAX; another container is read up to CONTAINER_FILE_MAX.
bool openSaveStream(int fd, const std::string& shownAs, const OpenOptions& options, OpenedSave& out,
                    std::string& error);
constexpr uint64_t STREAM_TRAILING_MAX = 1ull << 20;

// The same for a save already read whole into memory (a shell handler reads its stream so),
// named `shownAs` in messages: a save archive, another container or a card image, told by
// content. Input over SAVE_BYTES_MAX is refused unread, so a caller reads no more than that.
constexpr uint64_t SAVE_BYTES_MAX = CONTAINER_FILE_MAX;
bool openSaveBytes(std::vector<uint8_t> bytes, const std::string& shownAs, const OpenOptions& options,
                   OpenedSave& out, std::string& error);

// The save a card stands for, among `count` saves in the card's order: the first whose
// icon.sys names a normal icon file the save holds (so a picture of it can be drawn), else the
// first. `load(i, save, why)` exports save i; one that cannot be exported is passed over.
// Gives the index, or -1 with the first export's message when none could be exported.
using CardSaveLoader = std::function<bool(size_t index, SaveContents& save, std::string& why)>;
int saveStandingForCard(size_t count, const CardSaveLoader& load, SaveContents& chosen, std::string& error);

// True when the save's icon.sys names a normal icon file that the save holds.
bool hasDrawableNormalIcon(const SaveImage& image);

}  // namespace marrowin
