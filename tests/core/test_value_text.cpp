#include <gtest/gtest.h>

#include <stdlib.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <cmath>
#include <limits>
#include <string>

#include "view/value_text.h"
#include "view/view_settings.h"

using namespace marrowin;

namespace {
constexpr float INF = std::numeric_limits<float>::infinity();
constexpr float QNAN = std::numeric_limits<float>::quiet_NaN();

// Switches LC_NUMERIC to a decimal-comma locale for one test. When none is installed, one is
// compiled into a temporary folder with localedef (glibc reads LOCPATH on every setlocale).
class CommaLocale {
public:
    CommaLocale() {
        old_ = std::setlocale(LC_NUMERIC, nullptr);
        if (trySet()) return;
#ifndef _WIN32
        char folder[] = "/tmp/marrowin-locale-XXXXXX";
        if (!mkdtemp(folder)) return;
        folder_ = folder;
        const std::string command = "localedef -i de_DE -f UTF-8 '" + folder_ +
                                    "/de_DE.UTF-8' >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0) return;
        const char* oldPath = std::getenv("LOCPATH");
        if (oldPath) oldLocPath_ = oldPath;
        hadLocPath_ = oldPath != nullptr;
        setenv("LOCPATH", folder_.c_str(), 1);
        trySet();
#endif
    }
    ~CommaLocale() {
        std::setlocale(LC_NUMERIC, old_.c_str());
#ifndef _WIN32
        if (!folder_.empty()) {
            if (hadLocPath_) setenv("LOCPATH", oldLocPath_.c_str(), 1);
            else unsetenv("LOCPATH");
            std::filesystem::remove_all(folder_);
        }
#endif
    }
    bool active() const { return active_; }

private:
    bool trySet() {
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "de_DE", "de-DE"}) {
            if (std::setlocale(LC_NUMERIC, name)) {
                char probe[16];
                std::snprintf(probe, sizeof probe, "%.1f", 1.5);
                active_ = probe[1] == ',';
                if (active_) return true;
            }
        }
        return false;
    }
    std::string old_;
    std::string folder_;
    std::string oldLocPath_;
    bool hadLocPath_ = false;
    bool active_ = false;
};

// "Get" then "Set" of every field: values with at most six decimals come back unchanged, the
// clear colour (seven and eight decimals) as its six-decimal text; a second pass changes
// nothing more.
void expectRoundTrip(ViewSettings s) {
    const float clearSixDecimals[3] = {0.226562f, 0.429688f, 0.644531f};
    for (size_t i = 0; i < VIEW_FIELD_COUNT; ++i) {
        const float value = viewFieldValue(s, i);
        float back = -777.0f;
        ASSERT_TRUE(takeViewValue(formatViewValue(value), back)) << VIEW_FIELDS[i].name;
        const bool isClear = VIEW_FIELDS[i].id >= 110 && VIEW_FIELDS[i].id <= 112;
        const float expected = isClear ? clearSixDecimals[VIEW_FIELDS[i].id - 110] : value;
        EXPECT_EQ(back, expected) << VIEW_FIELDS[i].name << " " << formatViewValue(value);
        float again = -777.0f;
        ASSERT_TRUE(takeViewValue(formatViewValue(back), again));
        EXPECT_EQ(again, back) << VIEW_FIELDS[i].name;
    }
}
}  // namespace

TEST(ValueText, FormatsSixDecimals) {
    EXPECT_EQ(formatViewValue(45.0f), "45.000000");
    EXPECT_EQ(formatViewValue(-12.5f), "-12.500000");
    EXPECT_EQ(formatViewValue(0.005f), "0.005000");
    EXPECT_EQ(formatViewValue(0.2265625f), "0.226562");  // exact tie rounds to even
    EXPECT_EQ(formatViewValue(0.64453125f), "0.644531");
    EXPECT_EQ(formatViewValue(1.3333334f), "1.333333");
    EXPECT_EQ(formatViewValue(4e-7f), "0.000000");
    EXPECT_EQ(formatViewValue(-4e-7f), "-0.000000");
    EXPECT_EQ(formatViewValue(std::numeric_limits<float>::max()),
              "340282346638528859811704183484516925440.000000");
}

TEST(ValueText, FormatsNonFiniteWithSign) {
    EXPECT_EQ(formatViewValue(INF), "+INF");
    EXPECT_EQ(formatViewValue(-INF), "-INF");
    EXPECT_EQ(formatViewValue(QNAN), "+NAN");
    EXPECT_EQ(formatViewValue(-QNAN), "-NAN");
}

TEST(ValueText, ParsesDecimalPrefix) {
    EXPECT_EQ(parseViewValue("  -2.5"), -2.5);
    EXPECT_EQ(parseViewValue("\t\n+7"), 7.0);
    EXPECT_EQ(parseViewValue("1e3"), 1000.0);
    EXPECT_EQ(parseViewValue("1E+2x"), 100.0);
    EXPECT_EQ(parseViewValue("2e"), 2.0);     // exponent without digits is not taken
    EXPECT_EQ(parseViewValue("2e-"), 2.0);
    EXPECT_EQ(parseViewValue("12abc"), 12.0);
    EXPECT_EQ(parseViewValue(".5"), 0.5);
    EXPECT_EQ(parseViewValue("5."), 5.0);
    EXPECT_EQ(parseViewValue("3,75"), 3.0);   // a comma is never a decimal point
    EXPECT_EQ(parseViewValue("0x10"), 0.0);   // no hexadecimal
    EXPECT_EQ(parseViewValue("1.5 2"), 1.5);
}

TEST(ValueText, NoNumberGivesZero) {
    for (const char* text : {"", "abc", " ", ".", "-", "+.", "e5", "INF", "NAN", "inf", "-nan",
                             "+inf", "+Inf"}) {
        const double v = parseViewValue(text);
        EXPECT_EQ(v, 0.0) << '"' << text << '"';
    }
}

TEST(ValueText, SignedInfAndNanWords) {
    EXPECT_EQ(parseViewValue("+INF"), std::numeric_limits<double>::infinity());
    EXPECT_EQ(parseViewValue(" -INFINITY"), -std::numeric_limits<double>::infinity());
    EXPECT_TRUE(std::isnan(parseViewValue("+NAN")));
    const double negativeNan = parseViewValue("-NAN");
    EXPECT_TRUE(std::isnan(negativeNan));
    EXPECT_TRUE(std::signbit(negativeNan));
}

TEST(ValueText, OutOfDoubleRange) {
    EXPECT_EQ(parseViewValue("1e-400"), 0.0);
    EXPECT_EQ(parseViewValue("0.00000000001e-320"), 0.0);
    EXPECT_EQ(parseViewValue("1e400"), std::numeric_limits<double>::infinity());
    EXPECT_EQ(parseViewValue("-1e99999999999999999999"), -std::numeric_limits<double>::infinity());
    EXPECT_EQ(parseViewValue("1000e-326"), 1e-323);
}

TEST(ValueText, TakeRoundsToNearestFloat) {
    float v = 0;
    ASSERT_TRUE(takeViewValue("0.1", v));
    EXPECT_EQ(v, 0.1f);
    ASSERT_TRUE(takeViewValue("0.0000004", v));
    EXPECT_EQ(v, 4e-7f);
    ASSERT_TRUE(takeViewValue("-0.000000", v));
    EXPECT_EQ(v, 0.0f);
    ASSERT_TRUE(takeViewValue("", v));
    EXPECT_EQ(v, 0.0f);
    // Above the largest float but nearer to it than to the next power of two.
    ASSERT_TRUE(takeViewValue("340282350000000000000000000000000000001", v));
    EXPECT_EQ(v, std::numeric_limits<float>::max());
}

TEST(ValueText, TakeRefusesValuesThatAreNotFiniteFloats) {
    for (const char* text : {"+INF", "-INF", "+NAN", "-NAN", "1e39", "-3.5e38", "1e400",
                             "340282356779733661637539395458142568448"}) {
        float v = 12.5f;
        EXPECT_FALSE(takeViewValue(text, v)) << text;
        EXPECT_EQ(v, 12.5f) << text;
    }
}

TEST(ValueText, DefaultsRoundTrip) {
    ViewSettings s = initialViewSettings();
    s.aspect = 1;
    resetViewSettings(s);
    expectRoundTrip(s);
    // An 800 x 600 aspect shows six decimals and comes back as that text's float.
    float back = 0;
    ASSERT_TRUE(takeViewValue(formatViewValue(800.0f / 600.0f), back));
    EXPECT_EQ(back, 1.333333f);
}

TEST(ValueText, IndependentOfProcessLocale) {
    CommaLocale comma;
    if (!comma.active()) GTEST_SKIP() << "no decimal-comma locale installed";
    EXPECT_EQ(formatViewValue(-12.5f), "-12.500000");
    EXPECT_EQ(parseViewValue("0.25"), 0.25);
    EXPECT_EQ(parseViewValue("0,25"), 0.0);
    ViewSettings s = initialViewSettings();
    s.aspect = 1;
    resetViewSettings(s);
    expectRoundTrip(s);
}
