#include "view/value_text.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace marrowin {

std::string formatViewValue(float value) {
    if (std::isnan(value)) return std::signbit(value) ? "-NAN" : "+NAN";
    if (std::isinf(value)) return value < 0 ? "-INF" : "+INF";
    // The largest float has 39 integer digits; fixed notation with six decimals fits easily.
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, double(value),
                                std::chars_format::fixed, 6);
    return std::string(buffer, result.ptr);
}

namespace {

bool isSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Decimal exponent of the leading digit of an unsigned decimal text, for telling overflow
// from underflow when the conversion reports a value out of range.
int64_t leadingDecimalExponent(std::string_view number) {
    int64_t intDigits = 0;
    int64_t leadingFractionZeros = 0;
    bool seenNonZero = false;
    size_t i = 0;
    for (; i < number.size() && isDigit(number[i]); ++i) {
        if (seenNonZero || number[i] != '0') {
            seenNonZero = true;
            ++intDigits;
        }
    }
    if (i < number.size() && number[i] == '.') {
        for (++i; i < number.size() && isDigit(number[i]); ++i) {
            if (seenNonZero) continue;
            if (number[i] == '0') ++leadingFractionZeros;
            else seenNonZero = true;
        }
    }
    int64_t exponent = 0;
    if (i < number.size() && (number[i] == 'e' || number[i] == 'E')) {
        ++i;
        bool negative = false;
        if (i < number.size() && (number[i] == '+' || number[i] == '-'))
            negative = number[i++] == '-';
        for (; i < number.size() && isDigit(number[i]); ++i) {
            // Saturate: anything this large is out of range in either direction.
            if (exponent < 1'000'000'000) exponent = exponent * 10 + (number[i] - '0');
        }
        if (negative) exponent = -exponent;
    }
    return intDigits > 0 ? intDigits + exponent : exponent - leadingFractionZeros;
}

}  // namespace

double parseViewValue(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && isSpace(text[i])) ++i;

    bool negative = false;
    bool explicitSign = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        explicitSign = true;
        ++i;
    }
    if (explicitSign) {
        std::string_view rest = text.substr(i);
        if (rest.substr(0, 3) == "INF")
            return negative ? -std::numeric_limits<double>::infinity()
                            : std::numeric_limits<double>::infinity();
        if (rest.substr(0, 3) == "NAN")
            return negative ? -std::numeric_limits<double>::quiet_NaN()
                            : std::numeric_limits<double>::quiet_NaN();
    }

    // Measure the decimal form first, so the conversion only ever sees a valid number.
    const size_t start = i;
    size_t digits = 0;
    while (i < text.size() && isDigit(text[i])) ++i, ++digits;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && isDigit(text[i])) ++i, ++digits;
    }
    if (digits == 0) return 0.0;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
        if (j < text.size() && isDigit(text[j])) {
            while (j < text.size() && isDigit(text[j])) ++j;
            i = j;
        }
    }
    const std::string_view number = text.substr(start, i - start);

    double value = 0.0;
    auto result = std::from_chars(number.data(), number.data() + number.size(), value,
                                  std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range) {
        value = leadingDecimalExponent(number) > 0 ? std::numeric_limits<double>::infinity()
                                                    : 0.0;
    } else if (result.ec != std::errc()) {
        value = 0.0;
    }
    return negative ? -value : value;
}

bool takeViewValue(std::string_view text, float& out) {
    const double value = parseViewValue(text);
    if (!std::isfinite(value)) return false;
    // Rounds to the nearest float; beyond the float range that is an infinity.
    const float rounded = float(value);
    if (!std::isfinite(rounded)) return false;
    out = rounded;
    return true;
}

}  // namespace marrowin
