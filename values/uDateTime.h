// Dates: the TDateTime day count, its calendar fields, and the date form of the value text.
//
// The calendar is the proleptic Gregorian one, years 1 to 9999; dates outside it raise
// EVariantError (Overflow).
#pragma once

#include <string_view>

#include "values/uVariantError.h"

namespace dct {

// A date and time: whole days since 1899-12-30 plus the elapsed fraction of the day.
using TDateTime = double;

// REQUIRES: a date that exists, hour 0..23, minute and second 0..59, ms 0..999.
TDateTime EncodeDateTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                         int ms = 0);
// Splits a date into its fields; the time is rounded to the millisecond.
void DecodeDateTime(TDateTime value, int& year, int& month, int& day, int& hour, int& minute, int& second,
                    int& ms);
bool IsValidDate(int year, int month, int day);

// The date form of the value text: "yyyy.mm.dd", optionally a blank and "hh:nn" or "hh:nn:ss"
// (24 hours; one or two digits for all but the year), blanks around. False for anything else,
// a date that does not exist included.
bool ParseDateText(std::string_view text, TDateTime& value);

}  // namespace dct
