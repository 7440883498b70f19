// Loading a path: the order of its steps, the captions, and what the options make it write.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <algorithm>
#include <filesystem>
#include <functional>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "app/menu_commands.h"
#include "base/host_files.h"
#include "operations/save_loading.h"

using namespace marrowin;
namespace fs = std::filesystem;

namespace {

// A window that records what the load asked of it.
class FakeHost : public LoadHost {
public:
    std::vector<std::string> events;
    std::map<int, bool> options;
    std::string caption = "unchanged";
    // Runs when an option is asked, so a test can change options in the middle of a load.
    std::function<void(int)> onAsk;
    // The image being loaded into, so a clear can be checked to come while it still lives.
    const SaveImage* watched = nullptr;

    void setCaption(const std::string& utf8) override {
        caption = utf8;
        events.push_back("caption:" + utf8);
    }
    bool isOptionOn(LoadOption option) override {
        const int command = optionCommand(option);
        events.push_back("ask:" + std::to_string(command));
        if (onAsk) onAsk(command);
        return options[command];
    }
    void clearCurrentModel() override {
        events.push_back(watched && watched->empty() ? "clear-after-release" : "clear");
    }
    void selectIcon(int index) override { events.push_back("select:" + std::to_string(index)); }
};

void putU32(std::vector<uint8_t>& b, size_t off, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[off + i] = uint8_t(v >> (8 * i));
}

std::vector<uint8_t> header(uint16_t mode, uint32_t size, const std::string& name) {
    std::vector<uint8_t> h(512, 0);
    h[0] = uint8_t(mode);
    h[1] = uint8_t(mode >> 8);
    putU32(h, 4, size);
    std::memcpy(h.data() + 64, name.data(), name.size());
    return h;
}

void addFile(std::vector<uint8_t>& a, const std::string& name, const std::vector<uint8_t>& data) {
    auto h = header(0x8497, uint32_t(data.size()), name);
    a.insert(a.end(), h.begin(), h.end());
    a.insert(a.end(), data.begin(), data.end());
    a.resize(a.size() + (1024 - data.size() % 1024) % 1024, 0);
}

// A save archive "folder" with one plain file and, when title is given, an icon descriptor.
std::vector<uint8_t> makeArchive(const std::string& folder, const std::string* title) {
    std::vector<uint8_t> a;
    for (auto h : {header(0x8427, 4, folder), header(0x8427, 0, "."), header(0x8427, 0, "..")})
        a.insert(a.end(), h.begin(), h.end());
    addFile(a, "DATA.BIN", std::vector<uint8_t>(100, 7));
    if (title) {
        std::vector<uint8_t> d(964, 0);
        std::memcpy(d.data(), "PS2D", 4);
        std::memcpy(d.data() + 192, title->data(), title->size());
        std::memcpy(d.data() + 260, "icon.icn", 8);
        addFile(a, "icon.sys", d);
    }
    return a;
}

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<std::string> listNames(const fs::path& dir) {
    std::vector<std::string> names;
    for (auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Every load writes into the current directory: each test gets a fresh one and puts the old
// one back afterwards.
class SaveLoading : public ::testing::Test {
protected:
    fs::path oldDir;
    fs::path dir;
    fs::path work;  // where the test keeps its inputs, outside the current directory
    SaveImage image;
    FakeHost host;
    const std::string base = "Marrowin";
    const std::string title = "My Title";

    void SetUp() override {
        oldDir = fs::current_path();
        char tmpl[] = "/tmp/marrowin-load-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        work = tmpl;
        dir = work / "cwd";
        fs::create_directory(dir);
        fs::current_path(dir);
    }
    void TearDown() override {
        releaseSaveImage(image);
        fs::current_path(oldDir);
        fs::remove_all(work);
    }
    std::string input(const std::string& name, const std::vector<uint8_t>& bytes) {
        std::string p = (work / name).string();
        writeFile(p, bytes);
        return p;
    }
    std::string archive(const std::string& name = "a.psu") {
        return input(name, makeArchive("BASLUS-20001", &title));
    }
};

TEST_F(SaveLoading, SaveArchiveStepsRunInOrder) {
    loadPath(host, image, base, archive());
    std::vector<std::string> want = {
        "caption:Marrowin", "caption:BASLUS-20001 My Title - Marrowin",
        "ask:528", "ask:544", "select:0"};
    EXPECT_EQ(host.events, want);
    EXPECT_FALSE(image.empty());
    EXPECT_TRUE(listNames(dir).empty());  // no option on: nothing written
}

TEST_F(SaveLoading, SecondLoadClearsTheModelBeforeReplacingTheImage) {
    std::string p = archive();
    loadPath(host, image, base, p);
    host.events.clear();
    host.watched = &image;
    loadPath(host, image, base, p);
    ASSERT_FALSE(host.events.empty());
    EXPECT_EQ(host.events.front(), "clear");
    EXPECT_EQ(host.events.back(), "select:0");
}

TEST_F(SaveLoading, SaveWithoutDescriptorGetsTwoSpacesInCaptionAndCopyName) {
    std::string p = input("n.psu", makeArchive("BESLES-1", nullptr));
    host.options[CMD_OPT_COPY] = true;
    loadPath(host, image, base, p);
    EXPECT_EQ(host.caption, "BESLES-1  - Marrowin");
    EXPECT_EQ(listNames(dir), std::vector<std::string>{"BESLES-1 .psu"});
}

TEST_F(SaveLoading, ShiftJisTitleIsShownAsUtf8) {
    std::string sjisTitle = "\x83\x65\x83\x58\x83\x67";  // テスト
    std::string p = input("j.psu", makeArchive("BISLPS-1", &sjisTitle));
    loadPath(host, image, base, p);
    EXPECT_EQ(host.caption, "BISLPS-1 \xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88 - Marrowin");
}

TEST_F(SaveLoading, NonArchiveEmptiesTheViewAndResetsTheCaption) {
    loadPath(host, image, base, archive());
    host.events.clear();
    loadPath(host, image, base, input("junk.bin", std::vector<uint8_t>(1536, 0)));
    std::vector<std::string> want = {"clear", "caption:Marrowin"};
    EXPECT_EQ(host.events, want);
    EXPECT_TRUE(image.empty());
}

TEST_F(SaveLoading, EmptyAndPowerSaveFilesLoadNothing) {
    std::vector<uint8_t> power = makeArchive("X", &title);
    std::memcpy(power.data(), "Ps2PowerSave", 12);
    host.options[CMD_OPT_COPY] = host.options[CMD_OPT_EXTRACT] = true;
    for (auto& p : {input("empty", {}), input("power.psu", power)}) {
        host.events.clear();
        loadPath(host, image, base, p);
        EXPECT_EQ(host.events, std::vector<std::string>{"caption:Marrowin"}) << p;
        EXPECT_TRUE(image.empty());
    }
    EXPECT_TRUE(listNames(dir).empty());
}

TEST_F(SaveLoading, CopyAndExtractWriteIntoTheCurrentDirectory) {
    host.options[CMD_OPT_COPY] = host.options[CMD_OPT_EXTRACT] = true;
    std::string p = archive();
    loadPath(host, image, base, p);
    loadPath(host, image, base, p);
    std::vector<std::string> want = {"BASLUS-20001", "BASLUS-20001 My Title (2).psu",
                                     "BASLUS-20001 My Title.psu"};
    EXPECT_EQ(listNames(dir), want);
    EXPECT_TRUE(fs::is_regular_file(dir / "BASLUS-20001" / "DATA.BIN"));
    EXPECT_EQ(fs::file_size(dir / "BASLUS-20001 My Title.psu"), fs::file_size(p));
}

TEST_F(SaveLoading, OptionsAreReadWhenEachStepNeedsThem) {
    // Extract is switched on while copy is being asked: the same load extracts.
    host.onAsk = [&](int cmd) {
        if (cmd == CMD_OPT_COPY) host.options[CMD_OPT_EXTRACT] = true;
    };
    loadPath(host, image, base, archive());
    EXPECT_EQ(listNames(dir), std::vector<std::string>{"BASLUS-20001"});
}

TEST_F(SaveLoading, FolderIsPackedOnlyWithPackOnAndLeavesTheShownSave) {
    fs::path src = work / "MYSAVE";
    fs::create_directory(src);
    writeFile((src / "file.dat").string(), {1, 2, 3});

    loadPath(host, image, base, archive());
    host.events.clear();
    loadPath(host, image, base, src.string());
    EXPECT_EQ(host.events, std::vector<std::string>{"ask:560"});
    EXPECT_TRUE(listNames(dir).empty());

    host.options[CMD_OPT_PACK] = true;
    host.events.clear();
    loadPath(host, image, base, src.string());
    EXPECT_EQ(host.events, std::vector<std::string>{"ask:560"});
    EXPECT_EQ(listNames(dir), std::vector<std::string>{"MYSAVE.psu"});
    EXPECT_FALSE(image.empty());  // the packed archive is not loaded; the old save stays
}

TEST_F(SaveLoading, MissingPathDoesNothingWhateverTheOptions) {
    loadPath(host, image, base, archive());
    host.events.clear();
    host.options[CMD_OPT_PACK] = host.options[CMD_OPT_COPY] = true;
    loadPath(host, image, base, (work / "no such file").string());
    EXPECT_FALSE(image.empty());
    EXPECT_EQ(host.caption, "BASLUS-20001 My Title - Marrowin");
    for (auto& e : host.events) EXPECT_EQ(e.rfind("caption", 0), std::string::npos) << e;
    EXPECT_TRUE(listNames(dir).empty());
}

TEST_F(SaveLoading, PathThatCannotBeOpenedAsAFileChangesNothing) {
    loadPath(host, image, base, archive());
    // A FIFO is neither a folder nor a regular file: the open refuses it without waiting.
    std::string fifo = (work / "pipe").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    host.options[CMD_OPT_PACK] = true;
    host.events.clear();
    loadPath(host, image, base, fifo);
    EXPECT_TRUE(host.events.empty());
    EXPECT_FALSE(image.empty());
    EXPECT_EQ(host.caption, "BASLUS-20001 My Title - Marrowin");
}

// A large file that is not an archive used to be read whole before it was refused (2 GiB of
// memory and seconds for a drop). Measured in a child: its peak memory stays far below the
// file's size, and the window's steps are those of any other non-archive.
TEST_F(SaveLoading, ALargeNonArchiveIsRefusedFromItsHeadAlone) {
    loadPath(host, image, base, archive());
    const std::string big = (work / "big.bin").string();
    writeFile(big, std::vector<uint8_t>(2000, 'x'));
    ASSERT_EQ(truncate(big.c_str(), off_t(512) << 20), 0);  // 512 MiB, sparse

    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    pid_t child = fork();
    if (child == 0) {
        rusage before{}, after{};
        getrusage(RUSAGE_SELF, &before);
        host.events.clear();
        loadPath(host, image, base, big);
        getrusage(RUSAGE_SELF, &after);
        bool sameSteps = host.events == std::vector<std::string>{"clear", "caption:Marrowin"} &&
                         image.empty();
        long grownKiB = after.ru_maxrss - before.ru_maxrss;
        char verdict = sameSteps ? (grownKiB < 64 * 1024 ? 'y' : 'm') : 's';
        if (write(pipeFds[1], &verdict, 1) != 1) _exit(2);
        _exit(0);
    }
    close(pipeFds[1]);
    char verdict = 0;
    EXPECT_EQ(read(pipeFds[0], &verdict, 1), 1);
    close(pipeFds[0]);
    waitpid(child, nullptr, 0);
    EXPECT_EQ(verdict, 'y') << "m: read whole into memory; s: other steps than for a non-archive";
}

TEST(ReadRecognised, ReadsOnlyTheHeadOfAnythingButASaveArchive) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::vector<uint8_t> text(3000, 'x');
    ASSERT_EQ(write(fds[1], text.data(), text.size()), ssize_t(text.size()));
    RecognisedRead r = readRecognisedStream(fds[0]);
    EXPECT_EQ(r.kind, ArchiveKind::NotRecognized);
    EXPECT_EQ(r.image.fileSize, RECOGNITION_BYTES);
    char rest[4000];
    EXPECT_EQ(read(fds[0], rest, sizeof rest), ssize_t(3000 - RECOGNITION_BYTES));  // left unread
    close(fds[0]);
    close(fds[1]);

    std::string title = "T";
    std::vector<uint8_t> a = makeArchive("BASLUS-1", &title);
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], a.data(), a.size()), ssize_t(a.size()));
    close(fds[1]);
    r = readRecognisedStream(fds[0]);
    close(fds[0]);
    EXPECT_EQ(r.kind, ArchiveKind::SaveArchive);
    EXPECT_EQ(r.problem, ReadProblem::None);
    ASSERT_EQ(r.image.fileSize, a.size());
    EXPECT_EQ(std::memcmp(r.image.bytes, a.data(), a.size()), 0);
}

TEST(ReadRecognised, ASaveArchiveOfFourGibibytesIsTooLargeAndNothingIsRead) {
    char tmpl[] = "/tmp/marrowin-big-XXXXXX";
    int fd = mkstemp(tmpl);
    ASSERT_GE(fd, 0);
    std::string title = "T";
    std::vector<uint8_t> a = makeArchive("BASLUS-1", &title);
    ASSERT_EQ(write(fd, a.data(), a.size()), ssize_t(a.size()));
    ASSERT_EQ(ftruncate(fd, off_t(UINT32_MAX) + 1), 0);
    lseek(fd, 0, SEEK_SET);
    HostFile file(fd);
    RecognisedRead r = readRecognisedFile(file, file.size());
    unlink(tmpl);
    EXPECT_EQ(r.kind, ArchiveKind::SaveArchive);
    EXPECT_EQ(r.problem, ReadProblem::TooLarge);
    EXPECT_TRUE(r.image.empty());
}

}  // namespace

