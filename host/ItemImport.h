// --import-items FILE [--merge]: a catalogue from a CSV file, loaded through the running
// service's SaveItemsToBuff, so that the load takes the service's own locks and checks.
//
// The file is RFC 4180 CSV in UTF-8 (see values/uCSVText.h) whose first line names the
// columns, as the catalogue's columns are named in the database, in any order:
//   barcode,name,unit,additionaldata,series,quality,price,quantity,useserialnum,useweight,usefractvalue
// barcode and name must be there; a column left out, or a cell left empty, is empty text, 0
// or false. Numbers are decimals with "." (price is kept to four decimals, as the currency
// value carries it); booleans are 0, 1, true or false in any letter case.
//
// The whole file is read and checked before the first request, so a bad file changes
// nothing: its first fault is reported with the physical line (the header is line 1; a field
// with line breaks is named by the line it starts on) and the column, and the run ends with 1.
//
// The catalogue travels in one SaveItemsToBuff call: the service stores a load in one
// transaction, so "replace" (mode 0) is all or nothing as the operator sees it, and a
// 100,000-item catalogue (some 30 MB of request) is far inside the service's request limit.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "device/uDeviceCommon.h"
#include "host/CommandLine.h"

namespace dct {

// A larger file could not travel anyway: its request would pass the service's limit on a
// request body (512 MiB), and a file is read whole before it is checked.
constexpr uint64_t kMaxItemsFileBytes = 512ull << 20;
// The buffer keeps quantities as thousandths in 64 bits.
constexpr double kMaxItemQuantity = 9e15;

class EItemsFileError : public std::runtime_error {
 public:
  EItemsFileError(int line, std::string field, const std::string& what)
      : std::runtime_error(what), FLine(line), FField(std::move(field)) {}
  int Line() const { return FLine; }
  const std::string& Field() const { return FField; }  // the column name, or "field N"

 private:
  int FLine;
  std::string FField;
};

// The items of a catalogue file's text. Progress, when given, is called now and then with
// the number of lines read. Raises EItemsFileError for the first fault.
TItemsArray ParseItemsCSV(std::string_view Text, const std::function<void(int Lines)>& Progress = {});

// The whole --import-items run; returns the exit status.
int RunImportItemsCommand(const THostOptions& Options, const std::string& ProgramName, std::FILE* Out,
                          std::FILE* Err);

}  // namespace dct
