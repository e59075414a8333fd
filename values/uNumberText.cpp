#include "values/uNumberText.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>

#include "values/uUTF8.h"

namespace dct {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::string FormatGeneralNumber(double value) {
  if (value == 0) return "0";
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  // Above this the 15 digits round up past the largest double, to a text no reader takes
  // back as a number: the few doubles there keep the largest 15-digit number below it.
  constexpr double kLargestGeneral = 1.79769313486231E308;
  if (std::fabs(value) > kLargestGeneral) value = std::copysign(kLargestGeneral, value);
  // Scientific with 14 decimals is exactly 15 significant digits, correctly rounded.
  char buf[40];
  auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, 14);
  const char* p = buf;
  const char* end = res.ptr;
  std::string out;
  if (*p == '-') {
    out += '-';
    ++p;
  }
  char digits[15];
  int nd = 0;
  for (; p < end && *p != 'e'; ++p)
    if (*p != '.') digits[nd++] = *p;
  int exp10 = 0;
  std::from_chars(p + 1 + (p[1] == '+'), end, exp10);
  while (nd > 1 && digits[nd - 1] == '0') --nd;
  if (exp10 >= -4 && exp10 <= 14) {
    if (exp10 >= 0) {
      for (int k = 0; k <= exp10; ++k) out += k < nd ? digits[k] : '0';
      if (nd > exp10 + 1) {
        out += '.';
        out.append(digits + exp10 + 1, nd - exp10 - 1);
      }
    } else {
      out += "0.";
      out.append(static_cast<size_t>(-exp10 - 1), '0');
      out.append(digits, nd);
    }
  } else {
    out += digits[0];
    if (nd > 1) {
      out += '.';
      out.append(digits + 1, nd - 1);
    }
    out += 'E';
    out += std::to_string(exp10);
  }
  return out;
}

TNumberTextResult ParseNumberText(std::string_view text, double& value) {
  const char* p = text.data();
  const char* end = p + text.size();
  while (p < end && IsXMLSpace(*p)) ++p;
  while (end > p && IsXMLSpace(end[-1])) --end;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
  const char* mantissa = p;
  int intDigits = 0, fracDigits = 0;
  int firstNonZero = -1;  // digit position of the first significant digit, 0 = units
  for (; p < end && IsDigit(*p); ++p, ++intDigits)
    if (firstNonZero < 0 && *p != '0') firstNonZero = intDigits;
  int leadingInt = intDigits;
  if (p < end && *p == '.')
    for (++p; p < end && IsDigit(*p); ++p, ++fracDigits)
      if (firstNonZero < 0 && *p != '0') firstNonZero = leadingInt + fracDigits;
  if (intDigits + fracDigits == 0) return TNumberTextResult::Malformed;
  long exponent = 0;
  if (p < end && (*p == 'e' || *p == 'E')) {
    ++p;
    bool expNegative = false;
    if (p < end && (*p == '+' || *p == '-')) expNegative = *p++ == '-';
    if (p == end || !IsDigit(*p)) return TNumberTextResult::Malformed;
    for (; p < end && IsDigit(*p); ++p)
      if (exponent < 100000) exponent = exponent * 10 + (*p - '0');  // saturates far outside range
    if (expNegative) exponent = -exponent;
  }
  if (p != end) return TNumberTextResult::Malformed;
  double parsed = 0;
  auto res = std::from_chars(mantissa, end, parsed, std::chars_format::general);
  if (res.ec == std::errc::result_out_of_range) {
    // Decimal magnitude of the first significant digit decides overflow against underflow.
    long magnitude = firstNonZero < 0 ? LONG_MIN / 2 : leadingInt - firstNonZero + exponent;
    if (magnitude > 0) return TNumberTextResult::OutOfRange;
    parsed = 0;
  } else if (res.ec != std::errc() || res.ptr != end) {
    return TNumberTextResult::Malformed;
  }
  value = negative ? -parsed : parsed;
  return TNumberTextResult::Ok;
}

bool ParseBooleanWord(std::string_view text, bool& value) {
  auto same = [&](const char* word) {
    size_t n = std::strlen(word);
    if (text.size() != n) return false;
    for (size_t k = 0; k < n; ++k) {
      char c = text[k];
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      if (c != word[k]) return false;
    }
    return true;
  };
  if (same("true")) {
    value = true;
    return true;
  }
  if (same("false")) {
    value = false;
    return true;
  }
  return false;
}

}  // namespace dct
