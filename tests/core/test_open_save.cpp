// Opening any save in-process: the image every command works on, whatever the input was.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "card/folder_card.h"
#include "card/memory_card.h"
#include "container_test_support.h"
#include "export_test_support.h"
#include "fixtures.h"
#include "icon/icon_descriptor.h"
#include "operations/open_save.h"

namespace marrowin {
namespace {

using fixtures::Bytes;
using testing::TempDir;
using testing::writeFile;

Bytes written(const SaveContents& c, ContainerKind kind) {
    std::vector<uint8_t> out;
    std::string error;
    EXPECT_TRUE(writeContainer(kind, c, out, error)) << error;
    return out;
}

// The names of the archive's entries in order, folders marked with a trailing '/'.
std::vector<std::string> entriesOf(const SaveImage& image) {
    std::vector<std::string> names;
    for (uint64_t off = 0; off < image.fileSize; off = nextEntryOffset(image, off)) {
        const bool folder = image.bytes[off] & MODE_DIRECTORY_BIT;
        std::string name = image.view().text(off + ENTRY_NAME_OFFSET, ENTRY_NAME_FIELD_SIZE);
        names.push_back(folder ? name + "/" : name);
    }
    return names;
}

// A CodeBreaker save as a real one (Rez) is stored: folder mode 0 and zero folder stamps, which
// readers fill in. Laid out as an archive it must still open with its folder.
TEST(OpenSave, AContainerWithoutFolderModeOpensWithItsFolder) {
    const std::vector<std::string> want = {"BASLUS-00000REAL/", "./", "../", "opl.icn", "icon.sys"};
    SaveContents c = testing::realIconContents();
    c.folderMode = 0;
    c.created = Stamp{};
    c.modified = Stamp{};
    for (ContainerKind kind : {ContainerKind::Cbs, ContainerKind::Max, ContainerKind::SharkPort}) {
        SCOPED_TRACE(containerWord(kind));
        TempDir dir;
        writeFile(dir / "save", written(c, kind));
        OpenOptions both;
        both.contents = true;
        OpenedSave s;
        std::string error;
        ASSERT_TRUE(openSave(dir / "save", both, s, error)) << error;
        EXPECT_EQ(s.container, kind);
        EXPECT_EQ(s.kind, ArchiveKind::SaveArchive);
        EXPECT_EQ(entriesOf(s.image), want);
        EXPECT_EQ(getFolderName(s.image), "BASLUS-00000REAL");
        const ByteView v = s.image.view();
        EXPECT_EQ(v.u16(ENTRY_MODE_OFFSET), MODE_DIRECTORY);
        // A stamp the save lacks stays missing: info shows none, not the time it was read.
        EXPECT_EQ(stampAt(v, ENTRY_CREATED_OFFSET), Stamp{});
        // The neutral save stays as read: what a writer fills in is its own to say.
        if (kind == ContainerKind::Cbs) {
            EXPECT_EQ(s.contents.folderMode, 0);
            EXPECT_EQ(s.contents.created, Stamp{});
        }
        testing::expectSameFiles(c, s.contents, containerWord(kind));
    }
}

SaveContents systemSave() {
    // The console's own folder: its icon.sys names icons kept in the console's ROM.
    SaveContents s;
    s.folderName = "BEDATA-SYSTEM";
    SaveFile sys;
    sys.name = "icon.sys";
    sys.data = fixtures::readFileBytes(fixtures::testDataPath("opl-icon_J.sys"));
    SaveFile history;
    history.name = "history";
    history.data.assign(100, 7);
    s.files = {sys, history};
    return s;
}

SaveContents plainSave(const char* folder) {
    SaveContents s;
    s.folderName = folder;
    SaveFile f;
    f.name = "data";
    f.data.assign(50, 1);
    s.files = {f};
    return s;
}

// Makes a card of each kind at dir/card holding `saves` in order.
void makeCard(bool folder, const std::string& path, const std::vector<SaveContents>& saves) {
    std::string error;
    const Stamp now = stampOf(2026, 1, 2, 3, 4, 5);
    if (folder) {
        ASSERT_TRUE(card::FolderCard::format(path, error)) << error;
        card::FolderCard c;
        ASSERT_TRUE(card::FolderCard::open(path, c, error)) << error;
        for (SaveContents s : saves) {
            completeMetadata(s, now);
            ASSERT_TRUE(c.importSave(s, false, error)) << error;
        }
        return;
    }
    card::MemoryCard c;
    std::vector<Problem> problems;
    ASSERT_TRUE(card::MemoryCard::open(card::MemoryCard::format(true, now), c, problems, error)) << error;
    for (SaveContents s : saves) {
        completeMetadata(s, now);
        ASSERT_TRUE(c.importSave(s, false, error)) << error;
    }
    writeFile(path, c.image());
}

// A card stands for the first save whose normal icon can be drawn; a real card's first folder
// is the console's own, whose icons are in ROM. With none drawable, the first save.
TEST(OpenSave, ACardStandsForItsFirstSaveWithADrawableIcon) {
    struct Case {
        const char* label;
        std::vector<SaveContents> saves;
        const char* wanted;
    };
    const Case cases[] = {
        {"system folder first", {systemSave(), plainSave("BASLUS-1"), testing::realIconContents()}, "BASLUS-00000REAL"},
        {"drawable first", {testing::realIconContents(), systemSave()}, "BASLUS-00000REAL"},
        {"none drawable", {systemSave(), plainSave("BISLUS-1")}, "BEDATA-SYSTEM"},
    };
    for (bool folder : {false, true}) {
        for (const Case& k : cases) {
            SCOPED_TRACE(std::string(folder ? "folder card: " : "card image: ") + k.label);
            TempDir dir;
            makeCard(folder, dir / "card", k.saves);
            OpenedSave s;
            std::string error;
            ASSERT_TRUE(openSave(dir / "card", OpenOptions{}, s, error)) << error;
            EXPECT_EQ(s.cardSave, k.wanted);
            EXPECT_EQ(getFolderName(s.image), k.wanted);
            EXPECT_EQ(s.container, ContainerKind::Unknown);
            EXPECT_EQ(s.kind, ArchiveKind::SaveArchive);
            // A card is no save where the commands ask for a container only.
            OpenOptions noCards;
            noCards.cards = false;
            OpenedSave refused;
            EXPECT_FALSE(openSave(dir / "card", noCards, refused, error));
        }
    }
}

TEST(OpenSave, TheSaveStandingForACardSkipsSavesThatCannotBeExported) {
    std::vector<SaveContents> saves = {systemSave(), plainSave("B"), testing::realIconContents()};
    auto loader = [&](std::vector<bool> fails) {
        return [&saves, fails](size_t i, SaveContents& s, std::string& why) {
            if (fails[i]) return why = "damaged " + std::to_string(i), false;
            s = saves[i];
            return true;
        };
    };
    SaveContents chosen;
    std::string error;
    EXPECT_EQ(saveStandingForCard(3, loader({false, false, true}), chosen, error), 0);
    EXPECT_EQ(chosen.folderName, "BEDATA-SYSTEM");
    EXPECT_EQ(saveStandingForCard(3, loader({true, true, false}), chosen, error), 2);
    error.clear();
    EXPECT_EQ(saveStandingForCard(3, loader({true, true, true}), chosen, error), -1);
    EXPECT_EQ(error, "damaged 0");
    EXPECT_EQ(saveStandingForCard(0, loader({}), chosen, error), -1);
}

// A byte stream between two threads: a socket pair on POSIX, an anonymous pipe on Windows.
#ifdef _WIN32
bool makeStream(int fds[2]) { return ::_pipe(fds, 1 << 16, _O_BINARY) == 0; }
long streamSend(int fd, const uint8_t* p, size_t n) { return ::_write(fd, p, unsigned(n)); }
void endSending(int fd) { ::_close(fd); }
void closeStream(int fd) { ::_close(fd); }
#else
bool makeStream(int fds[2]) { return ::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) == 0; }
long streamSend(int fd, const uint8_t* p, size_t n) { return long(::send(fd, p, n, MSG_NOSIGNAL)); }
void endSending(int fd) { ::shutdown(fd, SHUT_WR); }
void closeStream(int fd) { ::close(fd); }
#endif

// Feeds `head` then `zeros` zero bytes into a stream the loader reads as standard input; gives
// how many bytes the loader let through before it gave up.
struct Fed {
    bool opened;
    std::string error;
    OpenedSave save;
    uint64_t sent;
    double seconds;
};
Fed feed(const Bytes& head, uint64_t zeros) {
    int fds[2];
    EXPECT_TRUE(makeStream(fds));
    std::atomic<uint64_t> sent{0};
    std::thread writer([&]() {
        std::vector<uint8_t> block(1 << 16, 0);
        auto put = [&](const uint8_t* p, size_t n) {
            while (n) {
                const long w = streamSend(fds[1], p, n);
                if (w <= 0) return false;
                p += w;
                n -= size_t(w);
                sent += uint64_t(w);
            }
            return true;
        };
        if (put(head.data(), head.size()))
            for (uint64_t left = zeros; left;) {
                const size_t n = size_t(std::min<uint64_t>(left, block.size()));
                if (!put(block.data(), n)) break;
                left -= n;
            }
        endSending(fds[1]);
    });
    Fed f;
    const auto start = std::chrono::steady_clock::now();
    f.opened = openSaveStream(fds[0], "-", OpenOptions{}, f.save, f.error);
    f.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // The writer stops once nobody reads.
    closeStream(fds[0]);
    writer.join();
#ifndef _WIN32
    closeStream(fds[1]);
#endif
    f.sent = sent;
    return f;
}

// A save followed by endless zeros used to be read whole (up to 4 GiB) before anything was
// said; now what follows the entries is held only up to a bound.
TEST(OpenSave, AStreamIsReadByTheEntriesItHolds) {
    const Bytes save = fixtures::iconSave();
    struct Case {
        const char* label;
        uint64_t zeros;
        bool opened;
    };
    const Case cases[] = {
        {"the save alone", 0, true},
        {"a short tail, kept as a file's", 4096, true},
        {"a tail at the bound", STREAM_TRAILING_MAX, true},
        {"300 MB of zeros", 300ull << 20, false},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.label);
        Fed f = feed(save, k.zeros);
        EXPECT_EQ(f.opened, k.opened) << f.error;
        EXPECT_LT(f.seconds, 5.0);
        if (k.opened) {
            EXPECT_EQ(f.save.image.fileSize, save.size() + k.zeros);
            EXPECT_EQ(std::memcmp(f.save.image.bytes, save.data(), save.size()), 0);
        } else {
            EXPECT_NE(f.error.find("not read further"), std::string::npos) << f.error;
            // Not much past the bound went through the socket (its buffers hold a little).
            EXPECT_LT(f.sent, save.size() + 2 * STREAM_TRAILING_MAX + (8u << 20));
        }
    }
}

// Odd headers inside a save (a folder of mode 0, as an old copy of a CodeBreaker save has) do
// not end the save early: only a long run of them does.
TEST(OpenSave, AStreamTakesOddHeadersBetweenRealEntries) {
    Bytes save = fixtures::iconSave();
    fixtures::putU16(save, 0, 0);
    Bytes big = save;
    // A real entry of 3 MiB after the odd one.
    Bytes more = fixtures::entryHeader(MODE_FILE, 3u << 20, "big.bin");
    big.insert(big.end(), more.begin(), more.end());
    big.resize(big.size() + (3u << 20), 0x5A);
    Fed f = feed(big, 0);
    ASSERT_TRUE(f.opened) << f.error;
    EXPECT_EQ(f.save.image.fileSize, big.size());
    EXPECT_TRUE(findFileEntry(f.save.image, "big.bin").has_value());
}

// Files and streams of the same bytes open alike; what is no save keeps its head for the check.
TEST(OpenSave, AFileAndAStreamOfTheSameBytesOpenAlike) {
    TempDir dir;
    const Bytes cbs = fixtures::readFileBytes(fixtures::testDataPath("formats/tokyo-xtreme-racer-drift-2.14091.cbs"));
    const Bytes text(5000, 't');
    for (const Bytes* b : {&cbs, &text}) {
        writeFile(dir / "in", *b);
        OpenedSave fromFile;
        std::string fileError;
        const bool fileOpened = openSave(dir / "in", OpenOptions{}, fromFile, fileError);
        Fed f = feed(*b, 0);
        EXPECT_EQ(f.opened, fileOpened);
        EXPECT_EQ(f.save.container, fromFile.container);
        EXPECT_EQ(f.save.kind, fromFile.kind);
        ASSERT_EQ(f.save.image.fileSize, fromFile.image.fileSize);
        // A container's image may hold a stamp of now; its folder tells it enough.
        EXPECT_EQ(getFolderName(f.save.image), getFolderName(fromFile.image));
        if (!fileOpened) {
            EXPECT_EQ(std::memcmp(f.save.image.bytes, fromFile.image.bytes, fromFile.image.fileSize), 0);
            EXPECT_EQ(f.error, fileError.substr(fileError.find(": ")).insert(0, "-"));
        }
    }
}

// A PS1 save exported by a PS3 was refused as a damaged PS3 save; it is another console's.
TEST(OpenSave, APlayStationOneExportIsNamedAsSuchNotAsDamaged) {
    TempDir dir;
    const Bytes ps1 = testing::ps1Psv();
    writeFile(dir / "ps1.psv", ps1);
    OpenedSave s;
    std::string error;
    EXPECT_FALSE(openSave(dir / "ps1.psv", OpenOptions{}, s, error));
    EXPECT_NE(error.find("a PlayStation (PS1) save, which a PS2 tool does not take"), std::string::npos) << error;
    // Nothing a caller would report as the container's damage.
    EXPECT_TRUE(s.problems.empty());
    Fed f = feed(ps1, 0);
    EXPECT_FALSE(f.opened);
    EXPECT_NE(f.error.find("PS2 tool does not take"), std::string::npos) << f.error;
    EXPECT_TRUE(f.save.problems.empty());
}

// A shell handler reads its stream into memory: those bytes open as the file of them does,
// cards included, so Explorer's pictures and titles are the CLI's.
TEST(OpenSave, BytesInMemoryOpenAsTheirFileDoes) {
    const Bytes card = fixtures::readFileBytes(fixtures::testDataPath("formats/mc02.ps2"));
    struct Case {
        const char* label;
        Bytes bytes;
    };
    const Case cases[] = {
        {"save archive", fixtures::iconSave()},
        {"cbs", fixtures::readFileBytes(fixtures::testDataPath("formats/tokyo-xtreme-racer-drift-2.14091.cbs"))},
        {"max", fixtures::readFileBytes(fixtures::testDataPath("formats/final-fantasy12.max"))},
        {"sps", fixtures::readFileBytes(fixtures::testDataPath("formats/max-payne.1394.sps"))},
        {"psv", fixtures::readFileBytes(fixtures::testDataPath("formats/BESLES-50325.PSV"))},
        {"card image", card},
        {"truncated card image", Bytes(card.begin(), card.begin() + card.size() / 3)},
        {"card head only", Bytes(card.begin(), card.begin() + 64)},
        {"text", Bytes(5000, 't')},
        {"empty", Bytes{}},
        {"PS1 export", testing::ps1Psv()},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.label);
        TempDir dir;
        writeFile(dir / "in", k.bytes);
        OpenedSave fromFile, fromBytes;
        std::string fileError, bytesError;
        const bool fileOpened = openSave(dir / "in", OpenOptions{}, fromFile, fileError);
        const bool bytesOpened = openSaveBytes(k.bytes, "in", OpenOptions{}, fromBytes, bytesError);
        ASSERT_EQ(bytesOpened, fileOpened) << bytesError << " / " << fileError;
        EXPECT_EQ(fromBytes.container, fromFile.container);
        EXPECT_EQ(fromBytes.kind, fromFile.kind);
        EXPECT_EQ(fromBytes.cardSave, fromFile.cardSave);
        EXPECT_EQ(fromBytes.problems.size(), fromFile.problems.size());
        EXPECT_EQ(getFolderName(fromBytes.image), getFolderName(fromFile.image));
        if (fileOpened) {
            EXPECT_EQ(fromBytes.image.fileSize, fromFile.image.fileSize);
        } else {
            EXPECT_EQ(bytesError, fileError.substr(fileError.find("in: ")));
            // What is no save keeps at least the head a file keeps, for the check.
            ASSERT_GE(fromBytes.image.fileSize, fromFile.image.fileSize);
            if (fromFile.image.fileSize) {
                EXPECT_EQ(std::memcmp(fromBytes.image.bytes, fromFile.image.bytes, fromFile.image.fileSize), 0);
            }
        }
    }
}

TEST(OpenSave, BytesOverTheLimitAreRefusedUnread) {
    Bytes huge = fixtures::iconSave();
    huge.resize(size_t(SAVE_BYTES_MAX) + 1, 0);
    OpenedSave s;
    std::string error;
    EXPECT_FALSE(openSaveBytes(std::move(huge), "big", OpenOptions{}, s, error));
    EXPECT_NE(error.find("too large"), std::string::npos) << error;
    EXPECT_EQ(s.image.fileSize, 0u);
}

}  // namespace
}  // namespace marrowin
