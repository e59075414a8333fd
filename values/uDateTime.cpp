#include "values/uDateTime.h"

#include <cmath>
#include <cstdint>

#include "values/uUTF8.h"

namespace dct {

namespace {

using TKind = EVariantError::TKind;

[[noreturn]] void Fail(TKind kind, const char* message) { throw EVariantError(kind, message); }

// Signed days from 1970-01-01 to a proleptic Gregorian date, counted in 400-year eras.
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  int64_t era = (y >= 0 ? y : y - 399) / 400;
  int64_t yoe = y - era * 400;
  int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
  z += 719468;
  int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  int64_t doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

constexpr int64_t kEpochShift = -25569;  // DaysFromCivil(1899, 12, 30)
constexpr int64_t kMsPerDay = 86400000;

}  // namespace

bool IsValidDate(int year, int month, int day) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  int last = kDays[month - 1] + (month == 2 && leap ? 1 : 0);
  return day <= last;
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int ms) {
  if (!IsValidDate(year, month, day) || hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 ||
      second > 59 || ms < 0 || ms > 999)
    Fail(TKind::Overflow, "Invalid date or time");
  double days = static_cast<double>(DaysFromCivil(year, month, day) - kEpochShift);
  double time = (((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + ms) / kMsPerDay;
  // Before the epoch the time still counts forward within the day: -1.25 is 29 Dec 1899 06:00.
  return days < 0 ? days - time : days + time;
}

void DecodeDateTime(TDateTime value, int& year, int& month, int& day, int& hour, int& minute, int& second,
                    int& ms) {
  // Years 1 to 9999 only; the check also keeps the product below from overflowing.
  if (!(value > -693594.0 && value < 2958466.0)) Fail(TKind::Overflow, "Invalid date");
  int64_t total = std::llround(value * static_cast<double>(kMsPerDay));
  int64_t days = total / kMsPerDay;  // toward zero, as the day count of a negative date
  int64_t time = (total < 0 ? -total : total) % kMsPerDay;
  CivilFromDays(days + kEpochShift, year, month, day);
  if (year < 1 || year > 9999) Fail(TKind::Overflow, "Invalid date");
  hour = static_cast<int>(time / 3600000);
  minute = static_cast<int>(time / 60000 % 60);
  second = static_cast<int>(time / 1000 % 60);
  ms = static_cast<int>(time % 1000);
}

bool ParseDateText(std::string_view text, TDateTime& out) {
  std::string_view s = TrimXMLSpace(text);
  size_t pos = 0;
  auto number = [&](size_t minDigits, size_t maxDigits, int& value) {
    size_t start = pos;
    value = 0;
    while (pos < s.size() && pos - start < maxDigits && s[pos] >= '0' && s[pos] <= '9')
      value = value * 10 + (s[pos++] - '0');
    return pos - start >= minDigits;
  };
  auto separator = [&](char c) {
    if (pos < s.size() && s[pos] == c) {
      ++pos;
      return true;
    }
    return false;
  };
  int y, m, d, hh = 0, nn = 0, ss = 0;
  if (!number(4, 4, y) || !separator('.') || !number(1, 2, m) || !separator('.') || !number(1, 2, d))
    return false;
  if (pos < s.size()) {
    if (!IsXMLSpace(s[pos])) return false;
    while (pos < s.size() && IsXMLSpace(s[pos])) ++pos;
    if (!number(1, 2, hh) || !separator(':') || !number(1, 2, nn)) return false;
    if (separator(':') && !number(1, 2, ss)) return false;
    if (pos != s.size()) return false;
  }
  if (!IsValidDate(y, m, d) || hh > 23 || nn > 59 || ss > 59) return false;
  out = EncodeDateTime(y, m, d, hh, nn, ss);
  return true;
}

}  // namespace dct
