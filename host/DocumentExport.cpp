#include "host/DocumentExport.h"

#include <filesystem>
#include <stdexcept>
#include <utility>
#include <vector>

#include "device/uDeviceCommon.h"
#include "host/OperatorStop.h"
#include "host/ServiceClient.h"
#include "support/uConsole.h"
#include "support/uPrivateFile.h"
#include "values/uCSVText.h"
#include "values/uNumberText.h"
#include "values/uXMLEncoder.h"

namespace dct {

namespace {

namespace fs = std::filesystem;

// ReadDocsHeadersFromBuff's answer when a source holds no document.
constexpr int kNoDocuments = 6507;

fs::path UTF8Path(const std::string& text) { return fs::path(std::u8string(text.begin(), text.end())); }

// The temporary name of Folder/name, as UTF-8 text.
std::string PartialName(const std::string& folder, const std::string& name) {
  return folder + "/." + name + ".partial";
}

std::string Describe(const TCommandAnswer& answer) {
  return "result " + std::to_string(answer.ResultCode) + " (" + answer.ResultDescription + ")";
}

// The first element of a command's answer value.
Variant AnswerValue(const TCommandAnswer& answer) {
  TXMLEncoder encoder;
  const Variant out = encoder.Decode(answer.OutputParameters);
  if (!out.IsArray() || out.Length(1) < 1) throw std::runtime_error("the service's answer holds no value");
  return out.At(out.LowBound(1));
}

}  // namespace

std::string QuantityText(double Quantity) {
  const std::string general = FormatGeneralNumber(Quantity);
  const size_t e = general.find('E');
  if (e == std::string::npos) return general;
  const int exponent = std::stoi(general.substr(e + 1));
  std::string mantissa = general.substr(0, e);
  const bool negative = mantissa[0] == '-';
  if (negative) mantissa.erase(0, 1);
  const size_t dot = mantissa.find('.');
  const int whole = static_cast<int>(dot == std::string::npos ? mantissa.size() : dot);
  if (dot != std::string::npos) mantissa.erase(dot, 1);
  const int point = whole + exponent;  // the decimal point's place in the digits
  const int digits = static_cast<int>(mantissa.size());
  std::string out;
  if (point <= 0)
    out.append("0.").append(-point, '0').append(mantissa);
  else if (point >= digits)
    out = mantissa + std::string(point - digits, '0');
  else
    out = mantissa.substr(0, point) + "." + mantissa.substr(point);
  return (negative ? "-" : "") + out;
}

std::string DocHeadersCSV(const TDocuments& Docs) {
  std::string out;
  AppendCSVRecord(out, {"id", "docsource", "doctype", "description"});
  for (const TDocument& d : Docs)
    AppendCSVRecord(out, {InertCSVText(d.DocumentID), std::to_string(d.Source),
                          std::to_string(d.DocumentType), InertCSVText(d.Description)});
  return out;
}

std::string DocTablesCSV(const TDocuments& Docs) {
  std::string out;
  AppendCSVRecord(out, {"docid", "barcode", "quantity", "serialnum"});
  for (const TDocument& d : Docs)
    for (const TDocRow& r : d.Rows)
      AppendCSVRecord(out, {InertCSVText(d.DocumentID), InertCSVText(r.Barcode), QuantityText(r.Quantity),
                            InertCSVText(r.SerialNum)});
  return out;
}

void WriteFilesWhole(const std::string& Folder,
                     const std::vector<std::pair<std::string, std::string>>& Files) {
  std::error_code ignored;
  std::vector<fs::path> written;
  auto removeWritten = [&] {
    for (const fs::path& p : written) fs::remove(p, ignored);
  };
  // Every file goes to its temporary name first, so that a failure before the renames leaves
  // the previous export (or nothing) under the final names.
  for (const auto& [name, text] : Files) {
    const fs::path partial = UTF8Path(PartialName(Folder, name));
    // A leftover of an export that was killed, or a link put at the name, goes (the link
    // itself, never what it names); the file is then created anew, for its owner alone.
    const fs::file_type leftover = fs::symlink_status(partial, ignored).type();
    if (leftover == fs::file_type::regular || leftover == fs::file_type::symlink)
      fs::remove(partial, ignored);
    try {
      CreatePrivateFile(PartialName(Folder, name), text);
    } catch (const std::exception& e) {
      removeWritten();
      throw std::runtime_error(std::string("cannot write the export: ") + e.what());
    }
    written.push_back(partial);
  }
  for (size_t i = 0; i < Files.size(); ++i) {
    const fs::path target = UTF8Path(Folder) / UTF8Path(Files[i].first);
    std::error_code ec;
    fs::rename(written[i], target, ec);
    if (ec && fs::exists(target)) {
      // Some C runtimes refuse to rename over an existing file; the old export goes first.
      fs::remove(target, ignored);
      ec.clear();
      fs::rename(written[i], target, ec);
    }
    if (ec) {
      removeWritten();
      throw std::runtime_error("cannot rename the finished file to " + Folder + "/" + Files[i].first + ": " +
                               ec.message());
    }
  }
  SyncFolder(Folder);  // the renames; each file is whole either way
}

int RunExportDocumentsCommand(const THostOptions& Options, const std::string& ProgramName, std::FILE* Out,
                              std::FILE* Err) {
  const std::string& folder = *Options.ExportDir;
  auto fail = [&](const std::string& message) {
    std::fputs((ProgramName + ": " + message + "\n").c_str(), Err);
    return 1;
  };
  TStatusAddress address;
  std::string error;
  if (!ServiceAddress(Options, address, error)) return fail(error);
  TServiceClient client(address);
  TProgressLine progress(Err);

  TDocuments docs;
  try {
    progress.Show("asking " + AddressText(address) + " for its device");
    const TJSONValue status = client.ReadStatus();
    const std::string device = TServiceClient::EnabledDeviceID(status);
    std::vector<int32_t> sources;
    if (Options.ExportSource) {
      sources.push_back(*Options.ExportSource);
    } else {
      for (const TJSONValue& d : status["documents"].AsArray())
        sources.push_back(static_cast<int32_t>(d["source"].AsInt64()));
    }
    for (const int32_t source : sources) {
      progress.Show("listing the documents of source " + std::to_string(source));
      const TCommandAnswer list = client.ExecuteCommand(device, "ReadDocsHeadersFromBuff",
                                                        Variant::ArrayOf({Variant::FromInteger(source)}));
      if (list.ResultCode == kNoDocuments) continue;
      if (list.ResultCode != 0)
        return fail("the service cannot list the documents of source " + std::to_string(source) + ": " +
                    Describe(list));
      const Variant table = AnswerValue(list);
      const int n = table.IsArray() ? table.Length(1) : 0;
      for (int i = 0; i < n; ++i) {
        const int row = table.LowBound(1) + i;
        TDocument& doc = docs.emplace_back();
        doc.DocumentID = table.At(row, 0).ToText();
        doc.DocumentType = static_cast<uint8_t>(table.At(row, 1).ToInteger());
        doc.Source = static_cast<uint8_t>(source);  // the list answers 0 in this place
        doc.Description = table.At(row, 3).ToText();
      }
    }
    for (size_t k = 0; k < docs.size(); ++k) {
      TDocument& doc = docs[k];
      progress.Show("document " + std::to_string(k + 1) + " of " + std::to_string(docs.size()));
      const Variant ids = Variant::ArrayOf({Variant::ArrayOf({Variant::FromString(doc.DocumentID)})});
      const TCommandAnswer answer = client.ExecuteCommand(device, "ReadDocFromBuff", ids);
      if (answer.ResultCode != 0)
        return fail("the service cannot read document \"" + doc.DocumentID + "\": " + Describe(answer));
      const Variant value = AnswerValue(answer);
      const Variant& rows = value.At(value.LowBound(1) + 4);
      const int m = rows.IsArray() ? rows.Length(1) : 0;
      doc.Rows.resize(m);
      for (int r = 0; r < m; ++r) {
        const int at = rows.LowBound(1) + r;
        doc.Rows[r] =
            TDocRow{rows.At(at, 0).ToText(), rows.At(at, 1).ToDouble(), rows.At(at, 2).ToTextOrEmpty()};
      }
    }
  } catch (const std::exception& e) {
    progress.Clear();
    return fail("cannot read the documents through " + client.EndpointText() + ": " + e.what() +
                "; no file was written");
  }

  size_t rows = 0;
  for (const TDocument& d : docs) rows += d.Rows.size();
  try {
    std::error_code ec;
    fs::create_directories(UTF8Path(folder), ec);
    if (ec) throw std::runtime_error("cannot create the folder " + folder + ": " + ec.message());
    // Ctrl+C ends the export at once; its temporary files go with it.
    const TRemoveOnStop headers(PartialName(folder, kDocHeadersFile));
    const TRemoveOnStop tables(PartialName(folder, kDocTablesFile));
    WriteFilesWhole(folder, {{kDocHeadersFile, DocHeadersCSV(docs)}, {kDocTablesFile, DocTablesCSV(docs)}});
  } catch (const std::exception& e) {
    progress.Clear();
    return fail(e.what());
  }
  progress.Clear();
  std::fputs(("Exported " + std::to_string(docs.size()) + " documents with " + std::to_string(rows) +
              " rows to " + folder + ": " + kDocHeadersFile + ", " + kDocTablesFile + "\n")
                 .c_str(),
             Out);
  std::fflush(Out);
  return 0;
}

}  // namespace dct
