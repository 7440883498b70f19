// The file layer as both hosts must give it (POSIX and Windows): identities, placing without
// replacing, temporaries, UTF-8 names, bytes kept as they are.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>

#include "operations/archive_export.h"
#include "base/host_files.h"
#include "operations/save_loading.h"
#include "fixtures.h"

using namespace marrowin;
namespace fs = std::filesystem;

namespace {

std::string utf8(const fs::path& p) {
    std::u8string s = p.u8string();
    return std::string(s.begin(), s.end());
}

fs::path pathOf(const std::string& utf8Text) {
    return fs::path(std::u8string(utf8Text.begin(), utf8Text.end()));
}

// A fresh folder in the system's temporary folder, removed at the end.
struct Folder {
    Folder() {
        std::random_device random;
        path = fs::temp_directory_path() / ("marrowin-layer-" + std::to_string(random()));
        fs::create_directories(path);
    }
    ~Folder() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    std::string at(const std::string& name) const { return utf8(path / pathOf(name)); }
    fs::path path;
};

void put(const std::string& path, const std::string& bytes) {
    std::ofstream f(pathOf(path), std::ios::binary);
    f.write(bytes.data(), std::streamsize(bytes.size()));
}

std::string contents(const std::string& path) {
    HostFile f = openForReading(path);
    if (!f.isOpen()) return "<cannot open>";
    std::string s(size_t(f.size()), '\0');
    s.resize(size_t(f.read(s.data(), s.size())));
    return s;
}

}  // namespace

// Under mingw st_ino is 0 for every file, which made every file look like every other.
TEST(HostLayer, IdentitiesTellFilesApartAndNamesOfOneFileAlike) {
    Folder d;
    put(d.at("a"), "1");
    put(d.at("b"), "2");
    FileId a1, a2, b;
    HostFile fa1 = openForReading(d.at("a")), fa2 = openForReading(d.at("a")),
             fb = openForReading(d.at("b"));
    ASSERT_TRUE(fa1.identity(a1) && fa2.identity(a2) && fb.identity(b));
    EXPECT_EQ(a1, a2);
    EXPECT_FALSE(a1 == b);

    OpenFolder folder = openFolder(utf8(d.path));
    ASSERT_TRUE(folder.isOpen());
    NameInfo named = lookUpName(folder.ref(), "a");
    EXPECT_EQ(named.kind, PathKind::File);
    EXPECT_EQ(named.id, a1);
    EXPECT_EQ(lookUpName(folder.ref(), "missing").kind, PathKind::Missing);

    std::vector<FolderItem> items;
    ASSERT_TRUE(listFolder(utf8(d.path), items));
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].id, a1);
    EXPECT_EQ(items[1].id, b);
}

TEST(HostLayer, KindsOfPathsAndFolders) {
    Folder d;
    put(d.at("file"), "x");
    EXPECT_EQ(pathKind(d.at("file")), PathKind::File);
    EXPECT_EQ(pathKind(utf8(d.path)), PathKind::Folder);
    EXPECT_EQ(pathKind(d.at("missing")), PathKind::Missing);

    OpenFolder folder = openFolder(utf8(d.path));
    ASSERT_TRUE(folder.isOpen());
    EXPECT_TRUE(makeFolder("sub", folder.ref()));
    EXPECT_TRUE(makeFolder("sub", folder.ref()));  // already a folder
    EXPECT_FALSE(makeFolder("file", folder.ref()));
    EXPECT_FALSE(openFolder(d.at("file")).isOpen());
    OpenFolder sub = openFolder("sub", folder.ref(), true);
    ASSERT_TRUE(sub.isOpen());
    HostFile inside = createExclusive("inner", sub.ref());
    ASSERT_TRUE(inside.isOpen());
    inside.close();
    EXPECT_EQ(pathKind(d.at("sub/inner")), PathKind::File);
    EXPECT_FALSE(createExclusive("inner", sub.ref()).isOpen());
    EXPECT_EQ(errno, EEXIST);
}

#ifdef _WIN32
// A name Windows refuses used to be reported as "No such file or directory".
TEST(HostLayer, ANameWindowsRefusesIsSaidToBeNotAllowed) {
    Folder d;
    OpenFolder folder = openFolder(utf8(d.path));
    ASSERT_TRUE(folder.isOpen());
    for (const char* name : {"out?.png", "x<y"}) {
        EXPECT_FALSE(createExclusive(name, folder.ref()).isOpen()) << name;
        EXPECT_EQ(errno, EINVAL) << name;
        EXPECT_NE(errnoText(EINVAL).find("not allowed on Windows"), std::string::npos);
    }
}
#endif

// Windows opens in text mode unless told otherwise: CR LF and ^Z must pass untouched.
TEST(HostLayer, BytesAndUtf8NamesArriveAsTheyWere) {
    Folder d;
    const std::string name = "\xE3\x82\xBB\xE3\x83\xBC\xE3\x83\x96 \xEF\xBC\xA1.bin";  // セーブ Ａ
    const std::string bytes("a\r\nb\n\x1A\0c\r", 9);
    {
        HostFile f = createOrEmpty(d.at(name));
        ASSERT_TRUE(f.isOpen());
        ASSERT_TRUE(f.write(bytes.data(), bytes.size()));
        ASSERT_TRUE(f.sync());
        ASSERT_TRUE(f.close());
    }
    EXPECT_TRUE(fs::exists(d.path / pathOf(name)));
    EXPECT_EQ(contents(d.at(name)), bytes);
    std::vector<FolderItem> items;
    ASSERT_TRUE(listFolder(utf8(d.path), items));
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].name, name);
    EXPECT_TRUE(items[0].isRegular);
    EXPECT_EQ(items[0].size, bytes.size());

    HostFile f = openForReading(d.at(name));
    char first[3] = {};
    ASSERT_EQ(f.read(first, 3), 3u);
    ASSERT_TRUE(f.rewind());
    char again[3] = {};
    ASSERT_EQ(f.read(again, 3), 3u);
    EXPECT_EQ(std::string(again, 3), "a\r\n");

    // Emptied when written again.
    HostFile g = createOrEmpty(d.at(name));
    ASSERT_TRUE(g.isOpen());
    EXPECT_EQ(g.size(), 0);
}

TEST(HostLayer, PlacingWithoutReplacingFailsOnATakenNameAndReplacingReplaces) {
    Folder d;
    put(d.at("taken"), "old");
    OpenFolder folder = openFolder(utf8(d.path));
    ASSERT_TRUE(folder.isOpen());

    TemporaryFile t;
    ASSERT_TRUE(t.create(folder.ref()));
    ASSERT_TRUE(t.file().write("new", 3));
    ASSERT_TRUE(t.finish());
    EXPECT_EQ(t.placeWithoutReplacing("taken"), EEXIST);
    EXPECT_EQ(contents(d.at("taken")), "old");
    EXPECT_EQ(t.placeWithoutReplacing("free"), 0);
    EXPECT_EQ(contents(d.at("free")), "new");

    TemporaryFile r;
    ASSERT_TRUE(r.create(folder.ref()));
    ASSERT_TRUE(r.file().write("newer", 5));
    ASSERT_TRUE(r.finish());
    EXPECT_EQ(r.placeReplacing("taken"), 0);
    EXPECT_EQ(contents(d.at("taken")), "newer");

    TemporaryFile dropped;
    ASSERT_TRUE(dropped.create(folder.ref()));
    const std::string droppedName = dropped.name();
    dropped.discard();
    EXPECT_FALSE(fs::exists(d.path / droppedName));
    std::vector<FolderItem> items;
    ASSERT_TRUE(listFolder(utf8(d.path), items));
    EXPECT_EQ(items.size(), 2u);  // "free" and "taken": no temporary left
}

TEST(HostLayer, StaleTemporariesOfEndedProcessesGoAndLiveOnesStay) {
    Folder d;
    // The largest pid a name holds: no process has it.
    const std::string stale = temporaryName(999999999, 0);
    long pid = 0;
    ASSERT_TRUE(parseTemporaryName(stale, pid));
    EXPECT_EQ(pid, 999999999);
    put(d.at(stale), "partial");
    TemporaryFile own;
    OpenFolder folder = openFolder(utf8(d.path));
    ASSERT_TRUE(own.create(folder.ref()));
    put(d.at("unrelated.tmp"), "keep");

    EXPECT_EQ(removeStaleTemporaries(folder.ref()), 1u);
    EXPECT_FALSE(fs::exists(d.path / stale));
    EXPECT_TRUE(fs::exists(d.path / own.name()));
    EXPECT_TRUE(fs::exists(d.path / "unrelated.tmp"));
}

// With identities all zero, packing took every file for the archive it replaces and packed
// nothing.
TEST(HostLayer, PackingIntoTheFolderItselfLeavesOutOnlyTheArchive) {
    Folder d;
    const fs::path source = d.path / "SAVE";
    fs::create_directories(source);
    put(utf8(source / "one"), "1111");
    put(utf8(source / "two"), "22");
    OpenFolder into = openFolder(utf8(source));
    ASSERT_TRUE(into.isOpen());
    for (int run = 0; run < 2; ++run) {
        ExportResult r = packFolder(utf8(source), into.ref());
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(r.files, (std::vector<std::string>{"one", "two"})) << "run " << run;
    }
    SaveImage image = fixtures::imageOf(fixtures::readFileBytes(utf8(source / "SAVE.psu")));
    ASSERT_FALSE(image.empty());

    // Extracted again elsewhere, the files come back whole.
    const fs::path out = d.path / "out";
    fs::create_directories(out);
    OpenFolder outFolder = openFolder(utf8(out));
    ExportResult ex = extractArchive(image, outFolder.ref());
    ASSERT_TRUE(ex.complete()) << ex.error;
    EXPECT_EQ(contents(utf8(out / "SAVE" / "one")), "1111");
    EXPECT_EQ(contents(utf8(out / "SAVE" / "two")), "22");
}
