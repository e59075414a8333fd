#include "values/uCSVText.h"

#include <algorithm>

#include "values/uUTF8.h"

namespace dct {

namespace {

bool IsWellFormedUTF8(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = p + text.size();
  while (p < end) {
    if (*p < 0x80) {
      ++p;
      continue;
    }
    const int n = utf8::SequenceLength(*p);
    if (n == 0 || end - p < n) return false;
    unsigned char low, high;
    utf8::SecondByteRange(*p, low, high);
    if (p[1] < low || p[1] > high) return false;
    for (int k = 2; k < n; ++k)
      if (!utf8::IsContinuation(p[k])) return false;
    p += n;
  }
  return true;
}

}  // namespace

TCSVReader::TCSVReader(std::string_view text) : FText(text) {
  if (FText.substr(0, 3) == "\xEF\xBB\xBF") FPos = 3;
}

bool TCSVReader::Next(std::vector<std::string>& fields) {
  const size_t size = FText.size();
  if (FPos >= size) return false;
  FFieldLines.clear();
  size_t n = 0;
  for (;;) {
    if (fields.size() <= n) fields.emplace_back();
    std::string& field = fields[n];
    field.clear();
    const int line = FLine;
    const int index = static_cast<int>(n);
    FFieldLines.push_back(line);
    if (FPos < size && FText[FPos] == '"') {
      ++FPos;
      for (;;) {
        const size_t quote = FText.find('"', FPos);
        if (quote == std::string_view::npos)
          throw ECSVError(line, index, "the quoted field is not terminated");
        const std::string_view chunk = FText.substr(FPos, quote - FPos);
        FLine += static_cast<int>(std::count(chunk.begin(), chunk.end(), '\n'));
        field.append(chunk);
        FPos = quote + 1;
        if (FPos < size && FText[FPos] == '"') {
          field += '"';
          ++FPos;
          continue;
        }
        break;
      }
      if (FPos < size) {
        const char c = FText[FPos];
        const bool lineEnd = c == '\n' || (c == '\r' && FPos + 1 < size && FText[FPos + 1] == '\n');
        if (c != ',' && !lineEnd) throw ECSVError(line, index, "text after the closing quote");
      }
    } else {
      size_t end = FText.find_first_of(",\r\n\"", FPos);
      if (end == std::string_view::npos) end = size;
      if (end < size && FText[end] == '"')
        throw ECSVError(line, index, "a quote inside a field that does not start with one");
      if (end < size && FText[end] == '\r' && !(end + 1 < size && FText[end + 1] == '\n'))
        throw ECSVError(line, index, "a carriage return without a line feed outside quotes");
      field.assign(FText.substr(FPos, end - FPos));
      FPos = end;
    }
    if (!IsWellFormedUTF8(field)) throw ECSVError(line, index, "the text is not well-formed UTF-8");
    ++n;
    if (FPos >= size) break;
    if (FText[FPos] == ',') {
      ++FPos;
      continue;
    }
    if (FText[FPos] == '\r') ++FPos;
    ++FPos;  // the LF
    ++FLine;
    break;
  }
  fields.resize(n);
  return true;
}

std::string InertCSVText(std::string_view field) {
  if (field.empty() || std::string_view("=+-@\t\r").find(field.front()) == std::string_view::npos)
    return std::string(field);
  // Appended, not "'" + text: the Windows compiler's restrict check trips over that form.
  std::string out;
  out.reserve(field.size() + 1);
  out += '\'';
  out.append(field);
  return out;
}

void AppendCSVField(std::string& out, std::string_view field) {
  if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
    out.append(field);
    return;
  }
  out += '"';
  for (;;) {
    const size_t quote = field.find('"');
    out.append(field.substr(0, quote));
    if (quote == std::string_view::npos) break;
    out.append("\"\"");
    field.remove_prefix(quote + 1);
  }
  out += '"';
}

void AppendCSVRecord(std::string& out, const std::vector<std::string>& fields) {
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i) out += ',';
    AppendCSVField(out, fields[i]);
  }
  out.append(kCSVLineEnd);
}

}  // namespace dct
