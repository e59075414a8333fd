#include "host/ItemImport.h"

#include <array>
#include <filesystem>
#include <fstream>
#include <optional>
#include <utility>
#include <vector>

#include "host/ServiceClient.h"
#include "service/HTTPLimits.h"
#include "support/uConsole.h"
#include "values/uCSVText.h"
#include "values/uNumberText.h"
#include "values/uUTF8.h"
#include "values/uXMLEncoder.h"

namespace dct {

namespace {

enum TColumn {
  kBarcode,
  kName,
  kUnit,
  kAdditionalData,
  kSeries,
  kQuality,
  kPrice,
  kQuantity,
  kUseSerialNum,
  kUseWeight,
  kUseFractValue,
  kColumnCount
};
constexpr std::array<const char*, kColumnCount> kColumnNames = {
    "barcode", "name",     "unit",         "additionaldata", "series",       "quality",
    "price",   "quantity", "useserialnum", "useweight",      "usefractvalue"};

// Progress is reported every so many records: often enough to move, rarely enough to cost nothing.
constexpr int kProgressEvery = 10000;

std::string Quoted(std::string_view text) {
  constexpr size_t kShown = 40;  // a cell quoted in a message is cut to this many bytes
  std::string shown(text.substr(0, kShown));
  // Never cut a character in two.
  while (!shown.empty() && text.size() > kShown &&
         utf8::IsContinuation(static_cast<unsigned char>(text[kShown])) &&
         utf8::IsContinuation(static_cast<unsigned char>(shown.back())))
    shown.pop_back();
  if (!shown.empty() && text.size() > kShown &&
      utf8::SequenceLength(static_cast<unsigned char>(shown.back())) > 1)
    shown.pop_back();
  return "\"" + shown + (text.size() > shown.size() ? "...\"" : "\"");
}

// Decimal text: an optional "-", digits, and an optional "." with digits.
bool IsDecimal(std::string_view text) {
  if (!text.empty() && text.front() == '-') text.remove_prefix(1);
  const size_t point = text.find('.');
  const std::string_view whole = text.substr(0, point);
  const std::string_view fraction = point == std::string_view::npos ? "1" : text.substr(point + 1);
  auto digits = [](std::string_view s) {
    return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
  };
  return digits(whole) && digits(fraction);
}

struct TCellReader {
  int Line;
  const char* Column;

  [[noreturn]] void Fail(const std::string& what) const { throw EItemsFileError(Line, Column, what); }

  double Number(std::string_view text) const {
    if (text.empty()) return 0;
    double value = 0;
    if (!IsDecimal(text) || ParseNumberText(text, value) != TNumberTextResult::Ok)
      Fail("not a decimal number with \".\": " + Quoted(text));
    return value;
  }

  bool Boolean(std::string_view text) const {
    if (text.empty() || text == "0") return false;
    if (text == "1") return true;
    bool value = false;
    if (!ParseBooleanWord(text, value)) Fail("not a boolean (0, 1, true or false): " + Quoted(text));
    return value;
  }

  void Text(std::string_view text, std::string& out) const {
    // XML cannot carry control characters; the service would refuse the whole load.
    if (!IsXMLChars(text)) Fail("holds a control character that the service cannot store");
    out.assign(text);
  }
};

}  // namespace

TItemsArray ParseItemsCSV(std::string_view Text, const std::function<void(int Lines)>& Progress) {
  TCSVReader reader(Text);
  std::vector<std::string> fields;
  auto fieldName = [&](size_t i) { return "field " + std::to_string(i + 1); };
  try {
    if (!reader.Next(fields)) throw EItemsFileError(1, "", "the file is empty: it needs a header line");
  } catch (const ECSVError& e) {
    throw EItemsFileError(e.Line(), fieldName(e.Field()), e.what());
  }

  // Which column each field of a record holds.
  std::vector<int> columnOf(fields.size());
  std::array<std::optional<size_t>, kColumnCount> fieldOf;
  for (size_t i = 0; i < fields.size(); ++i) {
    int column = -1;
    for (int c = 0; c < kColumnCount; ++c)
      if (fields[i] == kColumnNames[c]) column = c;
    if (column < 0)
      throw EItemsFileError(
          1, fields[i].empty() ? fieldName(i) : fields[i],
          "unknown column " + Quoted(fields[i]) +
              "; the columns are barcode, name, unit, additionaldata, series, quality, price, "
              "quantity, useserialnum, useweight, usefractvalue");
    if (fieldOf[column]) throw EItemsFileError(1, fields[i], "the column " + fields[i] + " is named twice");
    fieldOf[column] = i;
    columnOf[i] = column;
  }
  for (int required : {kBarcode, kName})
    if (!fieldOf[required])
      throw EItemsFileError(1, kColumnNames[required],
                            std::string("the required column ") + kColumnNames[required] + " is missing");
  const size_t width = columnOf.size();

  TItemsArray items;
  int records = 0;
  for (;;) {
    try {
      if (!reader.Next(fields)) break;
    } catch (const ECSVError& e) {
      const std::string field =
          static_cast<size_t>(e.Field()) < width ? kColumnNames[columnOf[e.Field()]] : fieldName(e.Field());
      throw EItemsFileError(e.Line(), field, e.what());
    }
    if (fields.size() != width) {
      const size_t at = std::min(fields.size(), width);
      const int line = reader.FieldLine(std::min(at, fields.size() - 1));
      throw EItemsFileError(
          line, at < width ? kColumnNames[columnOf[at]] : fieldName(at),
          "the line has " + std::to_string(fields.size()) + " fields, the header " + std::to_string(width));
    }
    TItemRec& item = items.emplace_back();
    for (size_t i = 0; i < width; ++i) {
      const int column = columnOf[i];
      const TCellReader cell{reader.FieldLine(i), kColumnNames[column]};
      const std::string& text = fields[i];
      switch (column) {
        case kBarcode:
          if (text.empty()) cell.Fail("the barcode is empty");
          cell.Text(text, item.Barcode);
          break;
        case kName: cell.Text(text, item.Name); break;
        case kUnit: cell.Text(text, item.UnitName); break;
        case kAdditionalData: cell.Text(text, item.AdditioanalData); break;
        case kSeries: cell.Text(text, item.Series); break;
        case kQuality: cell.Text(text, item.Quality); break;
        case kPrice: try { item.Price = Variant::FromDouble(cell.Number(text)).ToCurrency();
          } catch (const EVariantError&) {
            cell.Fail("the price is out of the currency range: " + Quoted(text));
          }
          break;
        case kQuantity:
          item.Quantity = cell.Number(text);
          if (item.Quantity > kMaxItemQuantity || item.Quantity < -kMaxItemQuantity)
            cell.Fail("the quantity is out of range: " + Quoted(text));
          break;
        case kUseSerialNum: item.UseSerialNum = cell.Boolean(text); break;
        case kUseWeight: item.UseWeight = cell.Boolean(text); break;
        case kUseFractValue: item.UseFractValue = cell.Boolean(text); break;
      }
    }
    if (Progress && ++records % kProgressEvery == 0) Progress(reader.RecordLine());
  }
  return items;
}

int RunImportItemsCommand(const THostOptions& Options, const std::string& ProgramName, std::FILE* Out,
                          std::FILE* Err) {
  const std::string& file = *Options.ImportItemsFile;
  auto fail = [&](const std::string& message) {
    std::fputs((ProgramName + ": " + message + "\n").c_str(), Err);
    return 1;
  };
  TStatusAddress address;
  std::string error;
  if (!ServiceAddress(Options, address, error)) return fail(error);

  TProgressLine progress(Err);
  // Read and check the whole file before anything goes to the service.
  std::string text;
  {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path path(std::u8string(file.begin(), file.end()));
    const uintmax_t size = fs::file_size(path, ec);
    if (ec) return fail("cannot read " + file + ": " + ec.message());
    if (size > kMaxItemsFileBytes)
      return fail(file + " is " + std::to_string(size) + " bytes; a catalogue file may have at most " +
                  std::to_string(kMaxItemsFileBytes));
    std::ifstream in(path, std::ios::binary);
    text.resize(static_cast<size_t>(size));
    if (!in || !in.read(text.data(), static_cast<std::streamsize>(text.size())))
      return fail("cannot read " + file);
  }
  TItemsArray items;
  try {
    items = ParseItemsCSV(
        text, [&](int lines) { progress.Show("reading " + file + ": " + std::to_string(lines) + " lines"); });
  } catch (const EItemsFileError& e) {
    progress.Clear();
    return fail(file + ": line " + std::to_string(e.Line()) +
                (e.Field().empty() ? std::string() : ", field \"" + e.Field() + "\"") + ": " + e.what() +
                "; nothing was sent to the service");
  }
  std::string().swap(text);

  const uint8_t mode = Options.Merge ? 1 : 0;
  std::string input;
  {
    TXMLEncoder encoder;
    input = encoder.Encode(Variant::ArrayOf({Variant::FromInteger(mode), ItemsToVariant(items)}));
  }
  const size_t count = items.size();
  TItemsArray().swap(items);
  TServiceClient client(address);
  try {
    progress.Show("asking " + AddressText(address) + " for its device");
    const std::string device = client.EnabledDeviceID();
    std::string request = ExecuteCommandEnvelope(device, "SaveItemsToBuff", input);
    std::string().swap(input);
    const size_t bytes = request.size();
    if (bytes > THTTPLimits::kMaxBodyBytes)
      return fail("the catalogue of " + std::to_string(count) + " items makes a request of " +
                  std::to_string(bytes) + " bytes, above the service's limit of " +
                  std::to_string(THTTPLimits::kMaxBodyBytes) + "; nothing was sent");
    progress.Show("sending " + std::to_string(count) + " items (" + std::to_string(bytes >> 20) + " MB) to " +
                  client.EndpointText());
    const TCommandAnswer answer = client.Call(std::move(request), CallTimeoutFor(bytes));
    progress.Clear();
    if (answer.ResultCode != 0)
      return fail("the service refused the catalogue: result " + std::to_string(answer.ResultCode) + " (" +
                  answer.ResultDescription + ")" +
                  (Options.Merge ? "; items stored before the fault may have been added"
                                 : "; the stored catalogue is unchanged"));
  } catch (const std::exception& e) {
    progress.Clear();
    return fail("cannot load the catalogue through " + client.EndpointText() + ": " + e.what());
  }
  std::fputs(((Options.Merge ? "Merged " : "Loaded ") + std::to_string(count) + " items from " + file +
              " through " + client.EndpointText() + "\n")
                 .c_str(),
             Out);
  std::fflush(Out);
  return 0;
}

}  // namespace dct
