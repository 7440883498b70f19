// The card window's list and dialog words: numbers, dates, marks, patterns from the string
// tables, the open dialog's multiple choice and the pictures laid over the list's colour.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cards/list_text.h"

namespace marrowin::cards {
namespace {

TEST(CardsListText, NumbersAndSizes) {
    struct Case {
        uint64_t value;
        const char* grouped;
        const char* kilobytes;  // of value bytes
    };
    const Case cases[] = {
        {0, "0", "0"},
        {1, "1", "1"},          // a byte still takes room
        {12, "12", "1"},
        {999, "999", "1"},
        {1000, "1,000", "1"},
        {1024, "1,024", "1"},
        {1025, "1,025", "2"},
        {12345, "12,345", "13"},
        {8388608, "8,388,608", "8,192"},
        {38912, "38,912", "38"},
        {123456789012, "123,456,789,012", "120,563,271"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(groupedNumber(c.value), c.grouped) << c.value;
        EXPECT_EQ(kilobytesText(c.value), c.kilobytes) << c.value;
    }
}

TEST(CardsListText, StampsAndMarks) {
    EXPECT_EQ(stampText(stampOf(2026, 5, 6, 12, 34, 56)), "2026-05-06 12:34:56");
    EXPECT_EQ(stampText(stampOf(1, 1, 1, 0, 0, 0)), "0001-01-01 00:00:00");
    EXPECT_EQ(stampText(stampOf(65535, 12, 31, 23, 59, 59)), "65535-12-31 23:59:59");
    EXPECT_EQ(stampText(Stamp{}), "");
    // Stored bytes out of range are shown as stored, not corrected.
    Stamp odd{0, 99, 99, 99, 99, 99, 0xD0, 0x07};
    EXPECT_EQ(stampText(odd), "2000-99-99 99:99:99");

    EXPECT_STREQ(problemMark(0, 0), "");
    EXPECT_STREQ(problemMark(0, 3), "!");
    EXPECT_STREQ(problemMark(1, 0), "\xE2\x9C\x95");
    EXPECT_STREQ(problemMark(2, 5), "\xE2\x9C\x95");
}

TEST(CardsListText, PatternsFilledIn) {
    struct Case {
        const char* pattern;
        std::vector<std::string> args;
        const char* filled;
    };
    const Case cases[] = {
        {"{1} selected, needing {2} clusters", {"3", "1,204"}, "3 selected, needing 1,204 clusters"},
        {"{2} の {1}", {"a", "b"}, "b の a"},  // a language orders its arguments itself
        {"{1}{1}", {"x"}, "xx"},
        {"{3} missing", {"a"}, "{3} missing"},  // never reads past the arguments
        {"{0} and {x}", {"a"}, "{0} and {x}"},
        {"open {1", {"a"}, "open {1"},
        {"trailing {", {}, "trailing {"},
        {"{{1}} literal", {"a"}, "{1}} literal"},
        {"{1}", {"{2}"}, "{2}"},  // an argument is never read as a pattern
        {"", {"a"}, ""},
    };
    for (const Case& c : cases) EXPECT_EQ(fillIn(c.pattern, c.args), c.filled) << c.pattern;
}

TEST(CardsListText, NameListCountsTheRest) {
    EXPECT_EQ(nameList({}, 3, "{1} more"), "");
    EXPECT_EQ(nameList({"A", "B"}, 3, "{1} more"), "  A\n  B\n");
    EXPECT_EQ(nameList({"A", "B", "C"}, 3, "{1} more"), "  A\n  B\n  C\n");
    EXPECT_EQ(nameList({"A", "B", "C", "D", "E"}, 3, "and {1} more"), "  A\n  B\n  C\n  and 2 more\n");
}

TEST(CardsListText, ExportChoices) {
    ASSERT_EQ(exportChoices().size(), 5u);
    EXPECT_EQ(exportChoice(0), ContainerKind::Psu);
    EXPECT_EQ(exportChoice(1), ContainerKind::Max);
    EXPECT_EQ(exportChoice(2), ContainerKind::Cbs);
    EXPECT_EQ(exportChoice(3), ContainerKind::SharkPort);
    EXPECT_EQ(exportChoice(4), ContainerKind::Psv);
    // No choice (CB_ERR) or a stale one falls back to the default.
    EXPECT_EQ(exportChoice(-1), ContainerKind::Psu);
    EXPECT_EQ(exportChoice(5), ContainerKind::Psu);
}

TEST(CardsListText, PictureOverBackground) {
    // Opaque red, transparent, half-covered green, over a (10, 20, 30) background.
    const std::vector<uint8_t> rgba = {255, 0, 0, 255, 9, 9, 9, 0, 0, 255, 0, 128, 1, 2, 3, 255};
    const std::vector<uint8_t> bgra = overBackground(rgba, 2, 10, 20, 30);
    const std::vector<uint8_t> expected = {0, 0, 255, 255, 30, 20, 10, 255, 15, 138, 5, 255, 3, 2, 1, 255};
    EXPECT_EQ(bgra, expected);
    // No picture, or one cut short: the background alone, never a read past its end.
    const std::vector<uint8_t> background = {30, 20, 10, 255, 30, 20, 10, 255, 30, 20, 10, 255, 30, 20, 10, 255};
    EXPECT_EQ(overBackground({}, 2, 10, 20, 30), background);
    EXPECT_EQ(overBackground(std::vector<uint8_t>(15, 255), 2, 10, 20, 30), background);
    EXPECT_EQ(overBackground({}, 0, 1, 2, 3).size(), 0u);
}

// A dialog's buffer with its nuls: the literal's own length, less its final nul.
template <size_t N>
std::u16string buffer(const char16_t (&units)[N]) {
    return std::u16string(units, N - 1);
}

TEST(CardsListText, OpenDialogChoices) {
    struct Case {
        std::u16string buffer;  // as the dialog fills it, nul-separated
        std::vector<std::u16string> files;
    };
    const Case cases[] = {
        // One file: its full path alone.
        {buffer(u"C:\\saves\\a.max\0\0"), {u"C:\\saves\\a.max"}},
        // Several: the folder, then the names.
        {buffer(u"C:\\saves\0a.max\0b.psu\0\0"), {u"C:\\saves\\a.max", u"C:\\saves\\b.psu"}},
        // A drive's root already ends with its separator.
        {buffer(u"C:\\\0a.max\0b.psu\0\0"), {u"C:\\a.max", u"C:\\b.psu"}},
        // Nothing.
        {buffer(u"\0\0"), {}},
    };
    for (const Case& c : cases) EXPECT_EQ(chosenFiles(c.buffer.data(), c.buffer.size()), c.files);
    // A buffer filled to its end without the final nuls stops at its end.
    const std::u16string full = buffer(u"C:\\x\0abc");
    EXPECT_EQ(chosenFiles(full.data(), full.size()), (std::vector<std::u16string>{u"C:\\x\\abc"}));
}

}  // namespace
}  // namespace marrowin::cards
