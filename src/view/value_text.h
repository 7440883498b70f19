#pragma once
// The text form of view values in the configuration window: "%f" out, decimal text in.
// Both directions ignore the process locale, so a decimal comma locale changes nothing.
#include <string>
#include <string_view>

namespace marrowin {

// "%f" of the value widened to double: optional '-', digits, '.', six decimals.
// Values that are not finite give "+INF", "-INF", "+NAN" or "-NAN".
std::string formatViewValue(float value);

// Decimal reading: leading white space, optional sign, digits with an optional point and an
// optional exponent; the rest of the text is ignored. "INF" and "NAN" (upper case) count only
// right after an explicit sign. No number gives 0; a magnitude too small for a double gives
// 0, one too large an infinity. No hexadecimal forms.
double parseViewValue(std::string_view text);

// Reads text and stores it rounded to the nearest float. A text whose value is not a finite
// float (an infinity, NaN, or beyond the float range) leaves out unchanged and gives false,
// so no value the view cannot draw with gets in.
bool takeViewValue(std::string_view text, float& out);

}  // namespace marrowin
