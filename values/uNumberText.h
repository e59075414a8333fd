// Number and boolean text in the fixed "C" form that the host conversions and the value text
// share: "." as decimal separator, no thousands separator.
#pragma once

#include <string>
#include <string_view>

namespace dct {

// General number format: 15 significant digits, plain form for 1e-4 <= |x| < 1e15,
// scientific ("1E-5", "1.23456789012346E18") otherwise; "." as separator.
std::string FormatGeneralNumber(double value);

// Number text in the fixed "C" form shared by the host conversions and the XML text:
// optional blanks, an optional sign, digits with an optional "." fraction (at least one digit),
// an optional exponent ("E" or "e", optional sign, digits), optional blanks, nothing else.
// OutOfRange: the number is too large for a double (a too small one reads as 0).
enum class TNumberTextResult { Ok, Malformed, OutOfRange };
TNumberTextResult ParseNumberText(std::string_view text, double& value);
// "True" or "False" in any letter case.
bool ParseBooleanWord(std::string_view text, bool& value);

}  // namespace dct
