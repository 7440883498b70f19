// Save text: Shift-JIS to UTF-8 for display and host names, and back.
#include <gtest/gtest.h>

#include <random>

#include "base/cp932_table.h"
#include "base/save_text.h"

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
    EXPECT_EQ(saveTextToHostName(bad, HostNameStyle::Posix), bad);
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
    // The POSIX rules; Windows adds its own (trailing dots and more), tested with them.
    auto posix = [](std::string_view name) { return safePathComponent(name, false); };
    EXPECT_EQ(posix("a/b"), "a_b");
    EXPECT_EQ(posix("/"), "_");
    EXPECT_EQ(posix(""), "_");
    EXPECT_EQ(posix("."), "_.");
    EXPECT_EQ(posix(".."), "_..");
    EXPECT_EQ(posix("..."), "...");
    EXPECT_EQ(posix(std::string_view("..\0x", 4)), ".._x");  // NUL would cut the name to ".."
    EXPECT_EQ(posix(std::string_view("..\0", 3)), ".._");
    EXPECT_EQ(posix("セーブ"), "セーブ");
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
    // Raw, as extraction writes it on Linux (a Windows name holds the byte escaped instead).
    ASSERT_TRUE(hostNameToSaveName("a\xFF", save, HostNameStyle::Posix));
    EXPECT_EQ(save, "a\xFF");
    save = "untouched";
    EXPECT_FALSE(hostNameToSaveName("caf\xC3\xA9", save));          // é
    EXPECT_FALSE(hostNameToSaveName("\xE3\x83\x86\xE2\x82\xAC", save));  // テ€
    EXPECT_FALSE(hostNameToSaveName("bad\xC3", save));                     // cut UTF-8, not ﾃ
    EXPECT_FALSE(hostNameToSaveName("\xC9" "cole", save));                  // Latin-1 École, not ﾉcole
    EXPECT_FALSE(hostNameToSaveName("gar\xE7on", save));                   // Latin-1, not a kanji
    EXPECT_EQ(save, "untouched");
}

// ---- our own code page 932 table -------------------------------------------------------

TEST(Cp932Table, EveryCharacterOnTheWayBackDecodesToItself) {
    size_t i = 0;
    for (; i < cp932::REVERSE_COUNT; ++i) {
        const cp932::Reverse& r = cp932::REVERSE[i];
        if (i > 0) {
            ASSERT_LT(cp932::REVERSE[i - 1].codePoint, r.codePoint);
        }
        std::string bytes = r.code > 0xFF ? std::string{char(r.code >> 8), char(r.code)} : std::string(1, char(r.code));
        std::string utf8;
        char32_t cp = r.codePoint;
        if (cp < 0x800) utf8 = {char(0xC0 | cp >> 6), char(0x80 | (cp & 0x3F))};
        else utf8 = {char(0xE0 | cp >> 12), char(0x80 | ((cp >> 6) & 0x3F)), char(0x80 | (cp & 0x3F))};
        ASSERT_EQ(saveTextToDisplay(bytes), utf8) << std::hex << r.code;
    }
    // JIS X 0208, NEC's row 13, the IBM extensions and the user-defined codes.
    EXPECT_GT(i, 9000u);
}

TEST(SaveText, BytesWhereConvertersDisagreeHaveNoCharacter) {
    // Windows and Python read 0x80 as U+0080 (a control) and 0xA0, 0xFD-0xFF as private-use
    // U+F8F0-U+F8F3; glibc reads nothing. We keep glibc's answer: shown as U+FFFD, kept raw
    // in Linux names, escaped in Windows names, and every one comes back.
    for (char b : {'\x80', '\xA0', '\xFD', '\xFE', '\xFF'}) {
        std::string s = std::string("a") + b;
        EXPECT_EQ(saveTextToDisplay(s), "a\uFFFD");
        EXPECT_EQ(saveTextToHostName(s, HostNameStyle::Posix), s);
        std::string win = saveTextToHostName(s, HostNameStyle::Windows);
        std::string escaped = "a";
        char32_t cp = 0xF000 + uint8_t(b);
        escaped += {char(0xE0 | cp >> 12), char(0x80 | ((cp >> 6) & 0x3F)), char(0x80 | (cp & 0x3F))};
        EXPECT_EQ(win, escaped);
        EXPECT_EQ(hostNameToSaveText(win, HostNameStyle::Windows), s);
    }
    EXPECT_EQ(saveTextToHostName("\xA0", HostNameStyle::Windows), "\uF0A0");
}

TEST(SaveText, DuplicateCodesGoBackToTheCodeWindowsGives) {
    // Each character below has two or three codes; typed in a host name it becomes the one
    // WideCharToMultiByte gives (Python's codec picks EEEF for "ⅰ").
    EXPECT_EQ(hostNameToSaveText("\u2170"), "\xFA\x40");  // ⅰ: IBM, not NEC-selected EEEF
    EXPECT_EQ(hostNameToSaveText("\u2160"), "\x87\x54");  // Ⅰ: NEC row 13, not FA4A
    EXPECT_EQ(hostNameToSaveText("\u2252"), "\x81\xE0");  // ≒: JIS, not NEC 8790
    EXPECT_EQ(hostNameToSaveText("\uFFE2"), "\x81\xCA");  // ￢: JIS, not EEF9 or FA54
    EXPECT_EQ(hostNameToSaveText("\u2235"), "\x81\xE6");  // ∵: JIS, not 879A or FA5B
    // The other codes read as the same character for people, and stay bytes in host names.
    for (const char* other : {"\xEE\xEF", "\x87\x90", "\xEE\xF9", "\xFA\x54", "\xFA\x4A"}) {
        EXPECT_NE(saveTextToDisplay(other).find_first_not_of("\xEF\xBF\xBD"), std::string::npos);
        for (HostNameStyle style : {HostNameStyle::Posix, HostNameStyle::Windows})
            EXPECT_EQ(hostNameToSaveText(saveTextToHostName(other, style), style), other);
    }
    EXPECT_EQ(saveTextToHostName("\xEE\xEF", HostNameStyle::Windows), "\uF0EE\uF0EF");
}

TEST(SaveText, WindowsNamesAreUtf8AndGiveEveryByteBack) {
    std::mt19937 rng(99);
    int failures = 0, notUtf8 = 0;
    for (int i = 0; i < 50000; ++i) {
        std::string s(1 + rng() % 12, '\0');
        for (char& c : s) c = char(rng() % 2 ? 0x80 + rng() % 0x80 : 1 + rng() % 255);
        std::string host = saveTextToHostName(s, HostNameStyle::Windows);
        if (hostNameToSaveText(host, HostNameStyle::Windows) != s) ++failures;
        for (size_t k = 0; k < host.size();) {
            size_t n = utf8SequenceLength(host, k);
            if (n == 0) {
                ++notUtf8;
                break;
            }
            k += n;
        }
        std::string save;
        if (!hostNameToSaveName(host, save, HostNameStyle::Windows) || save != s) ++failures;
    }
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(notUtf8, 0);
}

TEST(SaveText, EscapesAreUndoneOnlyInWindowsNames) {
    // On Linux the bytes EF 82 80 (none of them Shift-JIS here) are kept raw and spell U+F080;
    // reading them as the escape would give back 0x80 instead of the save's three bytes.
    EXPECT_EQ(saveTextToHostName("\xEF\x82\x80", HostNameStyle::Posix), "\xEF\x82\x80");
    EXPECT_EQ(hostNameToSaveText("\xEF\x82\x80", HostNameStyle::Posix), "\xEF\x82\x80");
    EXPECT_EQ(hostNameToSaveText("\uF080", HostNameStyle::Windows), "\x80");
    // Outside U+F080-U+F0FF private-use characters are not escapes.
    EXPECT_EQ(hostNameToSaveText("\uF07F\uF100", HostNameStyle::Windows), "\uF07F\uF100");
    std::string save;
    ASSERT_TRUE(hostNameToSaveName("icon\uF0FF.sys", save, HostNameStyle::Windows));
    EXPECT_EQ(save, "icon\xFF.sys");
    ASSERT_TRUE(hostNameToSaveName("\u30C6\uF083", save, HostNameStyle::Windows));  // テ and a lone lead byte
    EXPECT_EQ(save, "\x83\x65\x83");
    EXPECT_FALSE(hostNameToSaveName("caf\u00E9", save, HostNameStyle::Windows));
}

// ---- names Windows takes ------------------------------------------------------------------

TEST(SafePathComponent, WindowsNamesLoseWhatWindowsRefuses) {
    const std::pair<const char*, const char*> cases[] = {
        {"a:b*c?d\"e<f>g|h\\i", "a_b_c_d_e_f_g_h_i"},
        {"tab\there\x1F", "tab_here_"},
        {"name.", "name_"},
        {"name..", "name._"},  // kept apart from "name."
        {"name ", "name_"},
        {".", "__"},
        {"..", "_._"},
        {"CON", "_CON"},
        {"con.txt", "_con.txt"},
        {"Nul.tar.gz", "_Nul.tar.gz"},
        {"aux .bin", "_aux .bin"},
        {"COM1", "_COM1"},
        {"lpt9.dat", "_lpt9.dat"},
        {"COM\u00B9", "_COM\u00B9"},
        {"CONSOLE", "CONSOLE"},
        {"COM10", "COM10"},
        {"ACON", "ACON"},
        {"CON.", "CON_"},  // no longer the device once its dot is gone
        {"\u30BB\u30FC\u30D6", "\u30BB\u30FC\u30D6"},
        {"a\x7F" "b", "a\x7F" "b"},  // DEL is allowed
    };
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(safePathComponent(in, true), out) << in;
        EXPECT_TRUE(windowsNameProblem(safePathComponent(in, true)).empty()) << in;
    }
    // The Linux rules leave all of these alone.
    EXPECT_EQ(safePathComponent("CON:a.", false), "CON:a.");
}

TEST(SafePathComponent, WindowsNameProblemsAreNamed) {
    EXPECT_EQ(windowsNameProblem("a:b"), "holds ':'");
    EXPECT_EQ(windowsNameProblem("a\x01"), "holds a control character");
    EXPECT_EQ(windowsNameProblem("a."), "ends with a dot");
    EXPECT_EQ(windowsNameProblem("a "), "ends with a space");
    EXPECT_EQ(windowsNameProblem("prn.icn"), "is the device name PRN");
    EXPECT_EQ(windowsNameProblem("icon.sys"), "");
    EXPECT_EQ(windowsNameProblem("a/b"), "");  // every host refuses '/': not this warning
}
