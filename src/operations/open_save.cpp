#include "operations/open_save.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/host_files.h"
#include "card/card_file.h"
#include "card/folder_card.h"
#include "card/memory_card.h"
#include "icon/icon_descriptor.h"
#include "operations/save_loading.h"

namespace marrowin {

namespace {

constexpr std::string_view CARD_MAGIC = "Sony PS2 Memory Card Format ";
constexpr uint64_t LARGEST_IMAGE = UINT32_MAX;
static_assert(card::CARD_FILE_MAX <= SAVE_BYTES_MAX, "every card image fits the in-memory limit");

// What was read of the input before it is decoded: a save archive whole in `image`, another
// container whole in `bytes`, or for anything else only its head in `image`.
struct RawInput {
    SaveImage image;
    ArchiveKind kind = ArchiveKind::NotRecognized;
    ContainerKind container = ContainerKind::Unknown;
    std::vector<uint8_t> bytes;
};

std::string firstError(const std::vector<Problem>& problems) {
    for (const Problem& p : problems)
        if (p.severity == Severity::Error) return p.text;
    return "unreadable";
}

std::string tooLargeForContainer(const std::string& path, ContainerKind kind) {
    return path + ": too large for a " + std::string(containerTitle(kind)) + " file: over " +
           std::to_string(CONTAINER_FILE_MAX >> 20) + " MiB";
}

bool readProblem(ReadProblem problem, const std::string& path, std::string& error) {
    switch (problem) {
    case ReadProblem::None:
        return true;
    case ReadProblem::TooLarge:
        error = path + ": too large: 4 GiB or more";
        return false;
    case ReadProblem::NoMemory:
        error = path + ": not enough memory to read it";
        return false;
    case ReadProblem::ReadFailed:
        break;
    }
    error = path + ": cannot read: " + errnoText(errno);
    return false;
}

// Tells a head that is no save archive: another container, or nothing we read.
bool tellContainer(RawInput& in, uint64_t knownSize, const std::string& path, std::string& error) {
    const ByteView head{in.image.bytes, in.image.empty() ? 0 : in.image.fileSize};
    in.container = detectContainer(head, knownSize);
    if (in.container == ContainerKind::Unknown || in.container == ContainerKind::Psu) {
        in.container = ContainerKind::Unknown;
        error = path + ": not a save archive";
        return false;
    }
    // Not a damaged save but another console's: said so before it is read as one.
    if (in.container == ContainerKind::Psv && isPs1Psv(head)) {
        error = path + ": " + containerTitle(in.container) + ": " + PS1_PSV_REFUSAL;
        return false;
    }
    in.bytes.assign(head.data, head.data + head.size);
    return true;
}

bool readFileInput(const std::string& path, RawInput& in, std::string& error) {
    switch (pathKind(path)) {
    case PathKind::Missing:
        error = path + ": no such file";
        return false;
    case PathKind::Folder:
        error = path + ": is a folder, not an archive";
        return false;
    case PathKind::Other:
        error = path + ": not a regular file";
        return false;
    default:
        break;
    }
    HostFile file = openForReading(path);
    if (!file.isOpen()) {
        error = path + ": cannot open: " + errnoText(errno);
        return false;
    }
    const int64_t size = file.size();
    RecognisedRead r = readRecognisedFile(file, size);
    in.kind = r.kind;
    in.image = std::move(r.image);
    if (!readProblem(r.problem, path, error)) return false;
    if (in.kind == ArchiveKind::SaveArchive) {
        in.container = ContainerKind::Psu;
        return true;
    }
    if (!tellContainer(in, uint64_t(size), path, error)) return false;
    if (uint64_t(size) > CONTAINER_FILE_MAX) {
        error = tooLargeForContainer(path, in.container);
        return false;
    }
    const size_t have = in.bytes.size();
    in.bytes.resize(size_t(size));
    const uint64_t got = file.read(in.bytes.data() + have, uint64_t(size) - have);
    // A file that shrank while read is read as far as it goes.
    in.bytes.resize(have + size_t(got));
    releaseSaveImage(in.image);
    return true;
}

// Reads from a stream until `bytes` holds `want` bytes or the stream ends; false on an error.
bool fillTo(int fd, std::vector<uint8_t>& bytes, uint64_t want, bool& ended) {
    while (!ended && bytes.size() < want) {
        const size_t old = bytes.size();
        const uint64_t chunk = std::min<uint64_t>(want - old, 1 << 20);
        bytes.resize(old + size_t(chunk));
        const int64_t n = readDescriptor(fd, bytes.data() + old, chunk);
        if (n < 0) {
            bytes.resize(old);
            return false;
        }
        bytes.resize(old + size_t(n));
        if (uint64_t(n) < chunk) ended = true;
    }
    return true;
}

// A save image being filled from a stream: `have` bytes arrived so far; the image is grown
// ahead of them by doubling, so a host that must copy to grow (Windows) copies each byte a
// few times only, and is cut to `have` when the stream is done.
struct StreamImage {
    SaveImage& image;
    uint64_t have = 0;
};

// Reads until `in` holds `want` bytes or the stream ends; false with errno on an error (EFBIG
// past the largest image, ENOMEM when the image cannot grow).
bool fillTo(int fd, StreamImage& in, uint64_t want, bool& ended) {
    while (!ended && in.have < want) {
        const uint64_t chunk = std::min<uint64_t>(want - in.have, 1 << 20);
        if (in.have + chunk > LARGEST_IMAGE) {
            errno = EFBIG;
            return false;
        }
        if (in.image.fileSize < in.have + chunk) {
            const uint64_t doubled = std::min<uint64_t>(LARGEST_IMAGE, uint64_t(in.image.fileSize) * 2);
            if (!resizeSaveImage(in.image, uint32_t(std::max(in.have + chunk, doubled)))) {
                errno = ENOMEM;
                return false;
            }
        }
        const int64_t n = readDescriptor(fd, in.image.bytes + in.have, chunk);
        if (n < 0) return false;
        in.have += uint64_t(n);
        if (uint64_t(n) < chunk) ended = true;
    }
    return true;
}

// A header that opens a real entry: in use, and a file or a folder. Zeros and other filler
// are not one.
bool looksLikeEntry(const SaveImage& image, uint64_t off) {
    const uint16_t mode = image.view().u16(off + ENTRY_MODE_OFFSET);
    return (mode & 0x8000) && (mode & 0x30);
}

// A save archive from a stream, read by its entries as they come: each header says how much
// follows it. Headers that open no real entry (zeros, filler) are taken as the walk takes them,
// but a run of them is held only up to STREAM_TRAILING_MAX: a stream that goes on past that is
// refused without reading further.
bool readStreamArchive(int fd, StreamImage& in, bool ended, const std::string& path, std::string& error) {
    auto failed = [&]() {
        if (errno == EFBIG) return error = path + ": too large: 4 GiB or more", false;
        if (errno == ENOMEM) return error = path + ": not enough memory to read it", false;
        return error = path + ": cannot read: " + errnoText(errno), false;
    };
    uint64_t off = 0;
    uint64_t junkStart = UINT64_MAX;
    for (;;) {
        if (!fillTo(fd, in, off + ENTRY_HEADER_SIZE, ended)) return failed();
        if (in.have < off + ENTRY_HEADER_SIZE) return true;
        const bool real = looksLikeEntry(in.image, off);
        uint64_t step = ENTRY_HEADER_SIZE;
        if (!(in.image.bytes[size_t(off)] & MODE_DIRECTORY_BIT))
            step += paddedDataSize(in.image.view().u32(off + ENTRY_SIZE_OFFSET));
        if (real) junkStart = UINT64_MAX;
        else if (junkStart == UINT64_MAX) junkStart = off;
        if (!real && off + step > junkStart + STREAM_TRAILING_MAX) {
            // One byte past the allowance tells a stream that goes on.
            const uint64_t limit = junkStart + STREAM_TRAILING_MAX;
            if (!fillTo(fd, in, limit + 1, ended)) return failed();
            if (in.have <= limit) return true;
            error = path + ": more than " + std::to_string(STREAM_TRAILING_MAX >> 20) +
                    " MiB of bytes that open no entry follow the save archive's entries; not read further";
            return false;
        }
        if (off + step > LARGEST_IMAGE) {
            error = path + ": too large: 4 GiB or more";
            return false;
        }
        if (!fillTo(fd, in, off + step, ended)) return failed();
        if (in.have < off + step) return true;
        off += step;
    }
}

bool readStreamInput(int fd, const std::string& path, RawInput& in, std::string& error) {
    std::vector<uint8_t> bytes;
    bool ended = false;
    if (!fillTo(fd, bytes, RECOGNITION_BYTES, ended))
        return error = path + ": cannot read: " + errnoText(errno), false;
    in.image = makeSaveImage(bytes.data(), uint32_t(bytes.size()));
    if (in.image.empty()) return error = path + ": not enough memory to read it", false;
    in.kind = detectArchiveKind(in.image);
    if (in.kind == ArchiveKind::SaveArchive) {
        in.container = ContainerKind::Psu;
        // The head read so far is the image's start; the rest is read into it.
        bytes = {};
        StreamImage filling{in.image, in.image.fileSize};
        const bool read = readStreamArchive(fd, filling, ended, path, error);
        resizeSaveImage(in.image, uint32_t(filling.have));  // cutting to what arrived cannot fail
        return read;
    }
    // A stream's size is known only when it ended within its head.
    const uint64_t knownSize = ended ? bytes.size() : UINT64_MAX;
    if (!tellContainer(in, knownSize, path, error)) return false;
    if (!fillTo(fd, in.bytes, CONTAINER_FILE_MAX + 1, ended))
        return error = path + ": cannot read: " + errnoText(errno), false;
    if (in.bytes.size() > CONTAINER_FILE_MAX) {
        error = tooLargeForContainer(path, in.container);
        return false;
    }
    // Told again now that the size is known.
    const ContainerKind whole = detectContainer({in.bytes.data(), in.bytes.size()}, in.bytes.size());
    if (whole == ContainerKind::Unknown || whole == ContainerKind::Psu) {
        in.container = ContainerKind::Unknown;
        return error = path + ": not a save archive", false;
    }
    in.container = whole;
    releaseSaveImage(in.image);
    return true;
}

bool isCardHead(const SaveImage& head) {
    return !head.empty() && head.fileSize >= CARD_MAGIC.size() &&
           std::memcmp(head.bytes, CARD_MAGIC.data(), CARD_MAGIC.size()) == 0;
}

// Lays the save out as an archive with the modes its container lacked filled in: a folder of
// mode 0 would otherwise become a file of the archive. A zero `now` leaves missing stamps
// missing, so info shows none instead of the time the save was read.
bool layOut(const SaveContents& save, const std::string& path, OpenedSave& out, std::string& error,
            const char* what) {
    SaveContents complete = save;
    completeMetadata(complete, Stamp{});
    std::string why;
    out.image = psuImageOf(complete, &why);
    if (!out.image.empty()) {
        out.kind = ArchiveKind::SaveArchive;
        return true;
    }
    error = why.empty() ? path + ": not enough memory to read it"
                        : path + ": " + what + ": cannot be held as a save archive: " + why;
    return false;
}

// Lays out the save chosen to stand for a card, once one has been chosen among `saves`.
bool chooseCardSave(const std::vector<card::CardSave>& saves, int chosen, SaveContents save,
                    const std::string& why, const std::string& path, const OpenOptions& options,
                    OpenedSave& out, std::string& error) {
    if (saves.empty()) return error = path + ": a memory card with no saves", false;
    if (chosen < 0) return error = path + ": memory card: " + why, false;
    out.cardSave = saves[size_t(chosen)].name;
    out.container = ContainerKind::Unknown;
    if (options.image && !layOut(save, path, out, error, "memory card")) return false;
    out.kind = ArchiveKind::SaveArchive;
    if (options.contents) out.contents = std::move(save);
    return true;
}

bool openCardImage(std::vector<uint8_t> raw, const std::string& path, const OpenOptions& options,
                   OpenedSave& out, std::string& error) {
    std::string why;
    card::MemoryCard c;
    std::vector<Problem> problems;
    if (!card::MemoryCard::open(std::move(raw), c, problems, why)) return error = path + ": " + why, false;
    const std::vector<card::CardSave> saves = c.list();
    SaveContents save;
    const int chosen = saveStandingForCard(
        saves.size(), [&](size_t i, SaveContents& s, std::string& e) { return c.exportSave(saves[i].name, s, e); },
        save, why);
    return chooseCardSave(saves, chosen, std::move(save), why, path, options, out, error);
}

bool openCard(const std::string& path, bool folder, const OpenOptions& options, OpenedSave& out,
              std::string& error) {
    std::string why;
    std::vector<card::CardSave> saves;
    SaveContents save;
    int chosen = -1;
    if (folder) {
        card::FolderCard c;
        if (!card::FolderCard::open(path, c, why)) return error = why, false;
        saves = c.list();
        chosen = saveStandingForCard(
            saves.size(), [&](size_t i, SaveContents& s, std::string& e) { return c.exportSave(saves[i].name, s, e); },
            save, why);
    } else {
        std::vector<uint8_t> raw;
        if (!card::readCardFile(path, raw, why)) return error = why, false;
        return openCardImage(std::move(raw), path, options, out, error);
    }
    return chooseCardSave(saves, chosen, std::move(save), why, path, options, out, error);
}

// Decodes what was read.
bool finish(RawInput& in, const std::string& path, const OpenOptions& options, OpenedSave& out,
            std::string& error) {
    out.kind = in.kind;
    out.container = in.container;
    if (in.container == ContainerKind::Psu) {
        if (options.contents) {
            const ByteView v{in.image.bytes, in.image.fileSize};
            if (v.size > CONTAINER_FILE_MAX) {
                error = path + ": too large to read as a save: over " + std::to_string(CONTAINER_FILE_MAX >> 20) + " MiB";
                return false;
            }
            ContainerRead r = readContainer(ContainerKind::Psu, v);
            out.problems = std::move(r.problems);
            if (!r.ok) return error = path + ": " + containerTitle(in.container) + ": " + firstError(out.problems), false;
            out.contents = std::move(r.contents);
        }
        if (options.image) out.image = std::move(in.image);
        return true;
    }
    ContainerRead r = readContainer(in.container, {in.bytes.data(), in.bytes.size()});
    std::vector<uint8_t>().swap(in.bytes);
    out.problems = std::move(r.problems);
    const std::string title = containerTitle(in.container);
    if (!r.ok) return error = path + ": " + title + ": " + firstError(out.problems), false;
    if (options.image) {
        // A save archive of no files is no save the commands know; nor is it one here.
        if (r.contents.files.empty()) {
            error = path + ": " + title + ": " +
                    (r.hasErrors() ? firstError(out.problems) : std::string("holds no files"));
            return false;
        }
        if (!layOut(r.contents, path, out, error, title.c_str())) return false;
    }
    if (options.contents) out.contents = std::move(r.contents);
    return true;
}

}  // namespace

bool hasDrawableNormalIcon(const SaveImage& image) {
    const std::string name = readIconFileName(image, 0);
    return !name.empty() && findFileEntry(image, name.c_str()).has_value();
}

int saveStandingForCard(size_t count, const CardSaveLoader& load, SaveContents& chosen, std::string& error) {
    int first = -1;
    SaveContents firstSave;
    for (size_t i = 0; i < count; ++i) {
        SaveContents s;
        std::string why;
        if (!load(i, s, why)) {
            if (first < 0 && error.empty()) error = why;
            continue;
        }
        SaveImage image = psuImageOf(s);
        if (!image.empty() && hasDrawableNormalIcon(image)) {
            chosen = std::move(s);
            return int(i);
        }
        if (first < 0) {
            first = int(i);
            firstSave = std::move(s);
        }
    }
    if (first >= 0) chosen = std::move(firstSave);
    return first;
}

bool openSave(const std::string& path, const OpenOptions& options, OpenedSave& out, std::string& error) {
    out = OpenedSave{};
    if (path == "-") return openSaveStream(0, path, options, out, error);
    if (options.cards && card::isFolderCard(path)) return openCard(path, true, options, out, error);
    RawInput in;
    if (!readFileInput(path, in, error)) {
        out.kind = in.kind;
        out.container = in.container;
        if (options.cards && in.container == ContainerKind::Unknown && isCardHead(in.image)) {
            error.clear();
            return openCard(path, false, options, out, error);
        }
        // A file refused from its head keeps the head (the check's first finding); a container
        // that could not be read whole keeps nothing.
        if (in.container == ContainerKind::Unknown) out.image = std::move(in.image);
        return false;
    }
    return finish(in, path, options, out, error);
}

bool openSaveBytes(std::vector<uint8_t> bytes, const std::string& shownAs, const OpenOptions& options,
                   OpenedSave& out, std::string& error) {
    out = OpenedSave{};
    if (bytes.size() > SAVE_BYTES_MAX) {
        error = shownAs + ": too large: over " + std::to_string(SAVE_BYTES_MAX >> 20) + " MiB";
        return false;
    }
    RawInput in;
    in.image = makeSaveImage(bytes.data(), uint32_t(bytes.size()));
    if (in.image.empty()) return error = shownAs + ": not enough memory to read it", false;
    in.kind = detectArchiveKind(in.image);
    if (in.kind == ArchiveKind::SaveArchive) {
        in.container = ContainerKind::Psu;
        return finish(in, shownAs, options, out, error);
    }
    if (!tellContainer(in, bytes.size(), shownAs, error)) {
        out.kind = in.kind;
        out.container = in.container;
        if (options.cards && in.container == ContainerKind::Unknown && isCardHead(in.image)) {
            error.clear();
            releaseSaveImage(in.image);
            return openCardImage(std::move(bytes), shownAs, options, out, error);
        }
        if (in.container == ContainerKind::Unknown) out.image = std::move(in.image);
        return false;
    }
    if (bytes.size() > CONTAINER_FILE_MAX) return error = tooLargeForContainer(shownAs, in.container), false;
    releaseSaveImage(in.image);
    return finish(in, shownAs, options, out, error);
}

bool openSaveStream(int fd, const std::string& shownAs, const OpenOptions& options, OpenedSave& out,
                    std::string& error) {
    out = OpenedSave{};
    RawInput in;
    if (!readStreamInput(fd, shownAs, in, error)) {
        out.kind = in.kind;
        out.container = in.container;
        if (in.container == ContainerKind::Unknown) out.image = std::move(in.image);
        return false;
    }
    return finish(in, shownAs, options, out, error);
}

bool openSaveToImport(const std::string& path, SaveContents& out, std::string& error) {
    OpenOptions what;
    what.image = false;
    what.contents = true;
    what.cards = false;
    OpenedSave r;
    const bool opened = openSave(path, what, r, error);
    if (!opened && r.problems.empty()) return false;
    if (!opened || hasErrors(r.problems)) {
        error = path + ": " + containerTitle(r.container) + " is damaged";
        for (const Problem& p : r.problems)
            if (p.severity == Severity::Error) error += ": " + p.text;
        error += "; not imported";
        return false;
    }
    out = std::move(r.contents);
    return true;
}

}  // namespace marrowin
