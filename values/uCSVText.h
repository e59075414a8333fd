// CSV text as RFC 4180 has it, in UTF-8: reading it record by record with the physical line
// each field starts on, and writing fields and records.
//
// Reading: fields are separated by ",", records end with CR LF or LF (the last one may end
// without). A field in double quotes may hold commas, CR, LF and doubled quotes; a quote
// anywhere in an unquoted field, text after a closing quote, an unterminated quoted field and
// bytes that are not well-formed UTF-8 are errors. A UTF-8 byte order mark at the very start
// is skipped. Lines are counted from 1 by their LFs, so a quoted field that holds line breaks
// spans several lines and the next record starts on a later one.
//
// Writing: a field is quoted when it holds a comma, a quote, CR or LF; records end with CR LF
// (kCSVLineEnd), the line end RFC 4180 names and the one spreadsheets on every platform read.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace dct {

inline constexpr std::string_view kCSVLineEnd = "\r\n";

// A malformed record. Line is the physical line the offending field starts on, Field its
// 0-based position in the record.
class ECSVError : public std::runtime_error {
 public:
  ECSVError(int line, int field, const std::string& what)
      : std::runtime_error(what), FLine(line), FField(field) {}
  int Line() const { return FLine; }
  int Field() const { return FField; }

 private:
  int FLine;
  int FField;
};

class TCSVReader {
 public:
  // REQUIRES: text outlives the reader.
  explicit TCSVReader(std::string_view text);

  // The next record into fields (reusing its strings); false when the text has no more.
  // Raises ECSVError.
  bool Next(std::vector<std::string>& fields);
  // The line that field i of the last record read starts on.
  int FieldLine(size_t i) const { return FFieldLines[i]; }
  int RecordLine() const { return FFieldLines.empty() ? FLine : FFieldLines[0]; }
  // Bytes read so far, for progress.
  size_t Position() const { return FPos; }

 private:
  std::string_view FText;
  size_t FPos = 0;
  int FLine = 1;
  std::vector<int> FFieldLines;
};

// Appends field, quoted where it must be.
void AppendCSVField(std::string& out, std::string_view field);

// A text field as a spreadsheet shows it without evaluating it: one that starts with a
// character that makes it a formula (=, +, -, @, TAB, CR) gets an apostrophe before it, which
// spreadsheets take as "this cell is text" and do not display. Other text is unchanged.
// Only for text: a number written through this would stop being a number.
std::string InertCSVText(std::string_view field);
// Appends the fields separated by commas, then kCSVLineEnd.
void AppendCSVRecord(std::string& out, const std::vector<std::string>& fields);

}  // namespace dct
