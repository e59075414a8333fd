// --export-documents DIR [--source N]: the stored documents as two CSV files, read through
// the running service's ReadDocsHeadersFromBuff and ReadDocFromBuff, which leave the buffer
// as it is.
//
//   DIR/docheaders.csv  id,docsource,doctype,description
//   DIR/doctables.csv   docid,barcode,quantity,serialnum
//
// Without --source every source the service's status lists is read. The files are RFC 4180
// CSV in UTF-8 with CR LF line ends (values/uCSVText.h), so --import-items and spreadsheets
// read them alike. Each is written under a temporary name in DIR and renamed once whole: a
// failed export leaves no half file under the final names.
#pragma once

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "device/uDeviceCommon.h"
#include "host/CommandLine.h"

namespace dct {

constexpr char kDocHeadersFile[] = "docheaders.csv";
constexpr char kDocTablesFile[] = "doctables.csv";

// A quantity as plain decimal text: the service's 15 significant digits, "." as separator,
// never an exponent (1E-5 is 0.00001, 1E15 is 1000000000000000).
std::string QuantityText(double Quantity);

// The two files' text, header line first.
std::string DocHeadersCSV(const TDocuments& Docs);
std::string DocTablesCSV(const TDocuments& Docs);

// Writes each (name, text) to Folder/name: all to temporary files in Folder first, then each
// renamed to its name. Raises std::runtime_error, leaving no temporary file behind.
void WriteFilesWhole(const std::string& Folder,
                     const std::vector<std::pair<std::string, std::string>>& Files);

// The whole --export-documents run; returns the exit status.
int RunExportDocumentsCommand(const THostOptions& Options, const std::string& ProgramName, std::FILE* Out,
                              std::FILE* Err);

}  // namespace dct
