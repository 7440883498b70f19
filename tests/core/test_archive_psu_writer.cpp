// The streaming .psu writer: the layout it promises whatever the sources give, and a sink's
// failure never reported as success.
#include <gtest/gtest.h>

#include "archive/psu_contents.h"
#include "archive/psu_writer.h"
#include "fixtures.h"

namespace marrowin {
namespace {

using fixtures::Bytes;

EntryRecord fileRecord(const std::string& name, uint32_t size) {
    EntryRecord r;
    r.mode = MODE_FILE;
    r.size = size;
    r.name = name;
    return r;
}

// Each row: the size a record announces and the bytes the source gives (fewer when it shrank).
struct Row {
    uint32_t announced;
    size_t given;
};

TEST(PsuWriter, FillsEveryFileToItsRecordAndWholeBlocks) {
    const std::vector<std::vector<Row>> cases = {
        {},
        {{0, 0}},
        {{1, 1}, {1024, 1024}, {1025, 1025}},
        {{5000, 100}, {3, 0}, {2048, 2048}},  // sources that shrank or could not be read
    };
    for (size_t c = 0; c < cases.size(); ++c) {
        Bytes out;
        PsuWriter writer([&](const uint8_t* b, size_t n) {
            out.insert(out.end(), b, b + n);
            return true;
        });
        EntryRecord folder;
        folder.mode = MODE_DIRECTORY;
        folder.name = "BASLUS-20000SAVE";
        ASSERT_TRUE(writer.begin(folder, uint32_t(cases[c].size())));
        uint64_t expected = PSU_FOLDER_ENTRIES_SIZE;
        for (size_t i = 0; i < cases[c].size(); ++i) {
            const Row& row = cases[c][i];
            ASSERT_TRUE(writer.file(fileRecord("f" + std::to_string(i), row.announced)));
            Bytes data(row.given + 7, 0x5A);  // more than announced is never written
            ASSERT_TRUE(writer.data(data.data(), row.given));
            EXPECT_EQ(writer.missing(), row.announced - row.given);
            expected += psuFileSpan(row.announced);
        }
        ASSERT_TRUE(writer.finish());
        ASSERT_EQ(out.size(), expected) << "case " << c;

        ContainerRead r = readPsu({out.data(), out.size()});
        ASSERT_TRUE(r.ok);
        EXPECT_TRUE(r.problems.empty()) << "case " << c;
        ASSERT_EQ(r.contents.files.size(), cases[c].size());
        for (size_t i = 0; i < cases[c].size(); ++i) {
            const Bytes& d = r.contents.files[i].data;
            ASSERT_EQ(d.size(), cases[c][i].announced);
            for (size_t k = 0; k < d.size(); ++k)
                ASSERT_EQ(d[k], k < cases[c][i].given ? 0x5A : 0) << "case " << c << " file " << i << " byte " << k;
        }
    }
}

TEST(PsuWriter, ASinkThatFailsFailsTheStepThatWrote) {
    for (int failAt = 0; failAt < 4; ++failAt) {
        int calls = 0;
        PsuWriter writer([&](const uint8_t*, size_t) { return calls++ != failAt; });
        EntryRecord folder;
        folder.mode = MODE_DIRECTORY;
        bool ok = writer.begin(folder, 1);
        ok = ok && writer.file(fileRecord("a", 3000));
        ok = ok && writer.data(reinterpret_cast<const uint8_t*>("xyz"), 3);
        ok = ok && writer.finish();
        EXPECT_FALSE(ok) << "failing call " << failAt;
    }
}

}  // namespace
}  // namespace marrowin
