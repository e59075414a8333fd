// TXMLEncoder: the value text format.
//
// Reading is ReadXMLValue's (uXMLValueReader): one pass over the text, no document tree.
// Writing produces the text directly (see "Writing" below).
#include "values/uXMLEncoder.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>

#include "values/uUTF8.h"
#include "values/uXMLValueReader.h"

namespace dct {

namespace {

// ---- Writing ----
//
// The text is written directly rather than through a document: a catalogue holds a million
// cells, and a tree of them costs several times the memory and the time of the text itself.
// What is written is what pugixml would serialise for the same tree (format_raw), with every
// line break then made CR LF, and U+FFFD for whatever XML cannot carry (see uUTF8.h).

// What a byte of element text needs: 0 nothing, 1 an entity, 2 a line break, 3 a check
// (a control character or a byte of a multi-byte character: it may be one XML cannot carry).
struct TTextClasses {
  uint8_t Of[256] = {};
  constexpr TTextClasses() {
    for (int c = 0; c < 0x20; ++c) Of[c] = 3;
    for (int c = 0x80; c < 0x100; ++c) Of[c] = 3;
    Of[static_cast<unsigned char>('\t')] = 0;
    Of[static_cast<unsigned char>('\n')] = 2;
    Of[static_cast<unsigned char>('\r')] = 2;
    Of[static_cast<unsigned char>('&')] = 1;
    Of[static_cast<unsigned char>('<')] = 1;
    Of[static_cast<unsigned char>('>')] = 1;
  }
};
constexpr TTextClasses kTextClasses;

// Strings come from the store too, where text may sit that no client could send (put there
// by hand or by an older build): each stretch that XML cannot carry is written as U+FFFD, in
// the same pass, so that the text stays well-formed and nothing around the stretch is lost.
void AppendText(std::string& out, std::string_view text) {
  const char* p = text.data();
  const char* end = p + text.size();
  while (p < end) {
    const char* plain = p;
    for (;;) {  // a run of bytes written as they are, good multi-byte characters included
      while (p < end && kTextClasses.Of[static_cast<unsigned char>(*p)] == 0) ++p;
      if (p == end || kTextClasses.Of[static_cast<unsigned char>(*p)] != 3) break;
      size_t n = XMLCharLength(p, end);
      if (n == 0) break;
      p += n;
    }
    out.append(plain, static_cast<size_t>(p - plain));
    if (p == end) break;
    char c = *p++;
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '\r':
        if (p < end && *p == '\n') ++p;  // CR LF stays one line break
        out += "\r\n";
        break;
      case '\n': out += "\r\n"; break;
      default:
        out += kReplacementChar;
        --p;
        p += BadSequenceLength(std::string_view(p, static_cast<size_t>(end - p)));
    }
  }
}

void AppendInt(std::string& out, int64_t v) {
  char buf[24];
  auto res = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, static_cast<size_t>(res.ptr - buf));
}

void CheckFinite(double d) {
  // The reader takes no text for these, so no caller could read them back.
  if (!std::isfinite(d)) throw EVariantError(EVariantError::TKind::Overflow, "Number is not finite");
}

// Kind letter and text of a scalar; the text goes to scratch unless it is the value's own.
char ScalarToText(const Variant& v, std::string& scratch, std::string_view& text) {
  switch (v.VarType()) {
    case varSmallint:
    case varInteger:
    case varByte:
      scratch.clear();
      AppendInt(scratch, v.ToInteger());
      text = scratch;
      return 'N';
    case varSingle:
    case varDouble:
    case varCurrency: {
      double d = v.ToDouble();
      CheckFinite(d);
      scratch = FormatGeneralNumber(d);
      text = scratch;
      return 'N';
    }
    case varDate: {
      int y, m, d, hh, nn, ss, ms;
      DecodeDateTime(v.DoubleValue(), y, m, d, hh, nn, ss, ms);
      char buf[24];
      int n = std::snprintf(buf, sizeof buf, "%04d.%02d.%02d %02d:%02d:%02d", y, m, d, hh, nn, ss);
      scratch.assign(buf, static_cast<size_t>(n));
      text = scratch;
      return 'D';
    }
    case varOleStr: text = v.StringValue(); return 'S';
    case varBoolean: text = v.BooleanValue() ? "True" : "False"; return 'B';
    default: text = std::string_view(); return 'U';
  }
}

// An upper bound of the text of v (strings counted without their escapes), so that the
// output is reserved once: growing by doubling would hold twice the text at the peak.
size_t EstimateSize(const Variant& v, int depth) {
  constexpr size_t kElement = 19;  // <elm t="X"></elm>
  if (!v.IsArray()) {
    switch (v.VarType()) {
      case varOleStr: return kElement + v.StringValue().size();
      case varSingle:
      case varDouble:
      case varCurrency: return kElement + 24;  // longest general number form
      case varDate: return kElement + 19;
      default: return kElement + 11;  // integers, booleans, empty
    }
  }
  if (depth > TXMLEncoder::kMaxNestingDepth)
    throw EVariantError(EVariantError::TKind::BadIndex, "Arrays nested too deep");
  size_t size = kElement + 32;  // t, r and c
  if (v.DimCount() >= 2) {
    for (int i = v.LowBound(1); i <= v.HighBound(1); ++i)
      for (int j = v.LowBound(2); j <= v.HighBound(2); ++j) size += EstimateSize(v.At(i, j), depth + 1);
  } else {
    for (int i = v.LowBound(1); i <= v.HighBound(1); ++i) size += EstimateSize(v.At(i), depth + 1);
  }
  return size;
}

void ArrayToNode(std::string& out, const Variant& v, int depth, std::string& scratch);

void ValueToNode(std::string& out, const Variant& v, int depth, std::string& scratch) {
  if (v.IsArray()) {
    ArrayToNode(out, v, depth + 1, scratch);
    return;
  }
  std::string_view text;
  char letter = ScalarToText(v, scratch, text);
  out += "<elm t=\"";
  out += letter;
  if (text.empty()) {
    out += "\"/>";
    return;
  }
  out += "\">";
  AppendText(out, text);
  out += "</elm>";
}

void ArrayToNode(std::string& out, const Variant& v, int depth, std::string& scratch) {
  if (depth > TXMLEncoder::kMaxNestingDepth)
    throw EVariantError(EVariantError::TKind::BadIndex, "Arrays nested too deep");
  int dims = v.DimCount();
  int rows = v.Length(1);
  int cols = dims >= 2 ? v.Length(2) : 0;
  out += "<elm t=\"A\" r=\"";
  AppendInt(out, rows);
  out += "\" c=\"";
  AppendInt(out, cols);
  if (rows == 0 || (dims >= 2 && cols == 0)) {
    out += "\"/>";
    return;
  }
  out += "\">";
  for (int i = v.LowBound(1); i <= v.HighBound(1); ++i) {
    if (dims >= 2) {
      for (int j = v.LowBound(2); j <= v.HighBound(2); ++j) ValueToNode(out, v.At(i, j), depth, scratch);
    } else {
      ValueToNode(out, v.At(i), depth, scratch);
    }
  }
  out += "</elm>";
}

}  // namespace

TXMLEncoder::TXMLEncoder() = default;
TXMLEncoder::~TXMLEncoder() = default;

std::string TXMLEncoder::Encode(const Variant& varValue) {
  std::string out;
  if (!varValue.IsArray()) return out;
  if (varValue.DimCount() != 1)
    throw EVariantError(EVariantError::TKind::BadIndex, "The top-level value must be one-dimensional");
  out.reserve(EstimateSize(varValue, 1) + 64);
  out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
  if (varValue.Length(1) == 0) {
    out += "<sa/>\r\n";
    return out;
  }
  out += "<sa>";
  std::string scratch;
  for (int i = varValue.LowBound(1); i <= varValue.HighBound(1); ++i)
    ValueToNode(out, varValue.At(i), 1, scratch);
  out += "</sa>\r\n";
  return out;
}

Variant TXMLEncoder::Decode(std::string_view strValue) {
  if (strValue.empty()) return Variant();
  return ReadXMLValue(strValue);
}

}  // namespace dct
