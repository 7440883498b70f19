// Save text: Shift-JIS to UTF-8 for display and host names, and back.
#include <gtest/gtest.h>

#include <random>

#include "archive/save_text.h"

using namespace marrowin;

TEST(SaveText, AsciiPassesByteForByte) {
    std::string ascii;
    for (int c = 1; c < 0x80; ++c) ascii.push_back(char(c));
    EXPECT_EQ(saveTextToDisplay(ascii), ascii);
    EXPECT_EQ(saveTextToHostName(ascii), ascii);
    EXPECT_EQ(hostNameToSaveText(ascii), ascii);
}

TEST(SaveText, ShiftJisBecomesUtf8) {
    // "セーブ" and full-width "ＡＢ", half-width katakana "ｱ".
    EXPECT_EQ(saveTextToDisplay("\x83\x5A\x81\x5B\x83\x75"), "セーブ");
    EXPECT_EQ(saveTextToDisplay("\x82\x60\x82\x61"), "ＡＢ");
    EXPECT_EQ(saveTextToDisplay("\xB1"), "ｱ");
    EXPECT_EQ(saveTextToHostName("\x8A\xBF\x8E\x9A"), "漢字");
    EXPECT_EQ(hostNameToSaveText("漢字ｱＡ"), "\x8A\xBF\x8E\x9A\xB1\x82\x60");
}

TEST(SaveText, InvalidBytesAreReplacedForDisplayAndKeptForHostNames) {
    // 0x80 and 0xFF are never Shift-JIS; 0x82 followed by a space is a broken pair.
    std::string bad = "a\x80" "b\xFF" "\x82 c";
    EXPECT_EQ(saveTextToDisplay(bad), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD\xEF\xBF\xBD c");
    EXPECT_EQ(saveTextToHostName(bad), bad);
    EXPECT_EQ(hostNameToSaveText(saveTextToHostName(bad)), bad);
    // A lead byte at the very end.
    EXPECT_EQ(saveTextToDisplay("x\x83"), "x\xEF\xBF\xBD");
}

TEST(SaveText, HostNamesWithoutShiftJisKeepTheirBytes) {
    EXPECT_EQ(hostNameToSaveText("한국어"), "한국어");  // no code page 932 characters
    EXPECT_EQ(hostNameToSaveText("\xC3\x28"), "\xC3\x28");  // broken UTF-8
}

TEST(SaveText, NamesRoundTripThroughHostNames) {
    const char* names[] = {"BASLUS-20000SAVE", "\x83\x5A\x81\x5B\x83\x75\x83\x66\x81\x5B\x83\x5E",
                           "\x82\x6E\x82\x90\x82\x85\x82\x8E\x81\x40\x82\x6F\x82\x72\x82\x51", "icon\xB1.icn"};
    for (const char* n : names) EXPECT_EQ(hostNameToSaveText(saveTextToHostName(n)), n) << n;

    // Random bytes, rich in high bytes: whatever a save holds comes back from its host name
    // (once failed for duplicate codes such as ED40/FA5C and for user-defined codes).
    std::mt19937 rng(1234);
    int failures = 0;
    for (int i = 0; i < 50000; ++i) {
        std::string s(1 + rng() % 12, '\0');
        for (char& c : s) c = char(rng() % 2 ? 0x80 + rng() % 0x80 : 1 + rng() % 255);
        if (hostNameToSaveText(saveTextToHostName(s)) != s) ++failures;
    }
    EXPECT_EQ(failures, 0);
}

TEST(SafePathComponent, StaysInsideItsFolder) {
    EXPECT_EQ(safePathComponent("a/b"), "a_b");
    EXPECT_EQ(safePathComponent("/"), "_");
    EXPECT_EQ(safePathComponent(""), "_");
    EXPECT_EQ(safePathComponent("."), "_.");
    EXPECT_EQ(safePathComponent(".."), "_..");
    EXPECT_EQ(safePathComponent("..."), "...");
    EXPECT_EQ(safePathComponent(std::string_view("..\0x", 4)), ".._x");  // NUL would cut the name to ".."
    EXPECT_EQ(safePathComponent(std::string_view("..\0", 3)), ".._");
    EXPECT_EQ(safePathComponent("セーブ"), "セーブ");
}

TEST(SaveText, OtherSpellingsOfWaveDashAndMinusPackAsShiftJis) {
    // Names typed on other systems use U+301C and U+2212 where code page 932 reads U+FF5E and
    // U+FF0D; both still become the save's own codes.
    EXPECT_EQ(hostNameToSaveText("\u301C\u2212"), "\x81\x60\x81\x7C");
    EXPECT_EQ(saveTextToHostName("\x81\x60"), "\uFF5E");
}

TEST(SaveText, HostNamesAreStoredOnlyWhenASaveHoldsThemFaithfully) {
    std::string save;
    ASSERT_TRUE(hostNameToSaveName("icon.sys", save));
    EXPECT_EQ(save, "icon.sys");
    ASSERT_TRUE(hostNameToSaveName("\xE3\x83\x86", save));  // テ
    EXPECT_EQ(save, "\x83\x65");
    ASSERT_TRUE(hostNameToSaveName("a\xE3\x80\x9C", save));  // 〜, the other spelling of ～
    EXPECT_EQ(save, "a\x81\x60");
    ASSERT_TRUE(hostNameToSaveName("\x83\x65", save));  // raw Shift-JIS
    EXPECT_EQ(save, "\x83\x65");
    ASSERT_TRUE(hostNameToSaveName("a\xFF", save));  // raw, as extraction writes it
    EXPECT_EQ(save, "a\xFF");
    save = "untouched";
    EXPECT_FALSE(hostNameToSaveName("caf\xC3\xA9", save));          // é
    EXPECT_FALSE(hostNameToSaveName("\xE3\x83\x86\xE2\x82\xAC", save));  // テ€
    EXPECT_EQ(save, "untouched");
}
