// TXMLEncoder: the value text format on top of pugixml.
//
// Reading trusts pugixml for the structure and checks, before or after the parse, what
// pugixml lets through although it is not well-formed XML: control characters (NUL among
// them), undefined or malformed references, several root elements, text outside the root, a
// misplaced declaration, duplicate attributes. A DOCTYPE is refused: the format never has
// one, and refusing it means no declared entity can ever be taken for data.
//
// Writing produces the text directly (see "Writing" below).
#include "values/uXMLEncoder.h"

#include <pugixml.hpp>

#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <unordered_set>

namespace dct {

namespace {

[[noreturn]] void Fail(const std::string& message) { throw EXMLDecodeError(message); }

// ---- Raw text checks ----

bool IsXmlChar(uint32_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
         (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

// Length of the reference that starts at p ("&amp;", "&#65;", "&#x41;", ...), or 0 when the
// text there is not one the parser may decode.
size_t ReferenceLength(const char* p, const char* end) {
  std::string_view rest(p, static_cast<size_t>(end - p));
  for (std::string_view named : {"&amp;", "&lt;", "&gt;", "&quot;", "&apos;"})
    if (rest.substr(0, named.size()) == named) return named.size();
  if (rest.size() < 4 || rest[1] != '#') return 0;
  bool hex = rest[2] == 'x';
  size_t k = hex ? 3 : 2;
  uint32_t code = 0;
  size_t digits = 0;
  for (; k < rest.size(); ++k, ++digits) {
    char c = rest[k];
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (hex && c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (hex && c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      break;
    code = code * (hex ? 16 : 10) + static_cast<uint32_t>(d);
    if (code > 0x10FFFF) return 0;  // also keeps the sum from wrapping
  }
  if (digits == 0 || k >= rest.size() || rest[k] != ';' || !IsXmlChar(code)) return 0;
  return k + 1;
}

// Tells whether positions of the text lie in a comment, a CDATA section or a processing
// instruction, where '&' is an ordinary character. Walks the text once, front to back.
class LiteralSections {
 public:
  explicit LiteralSections(std::string_view text) : text_(text) {}

  // REQUIRES: pos grows from call to call.
  bool Contains(size_t pos) {
    for (;;) {
      if (pos < end_) return pos >= begin_;
      size_t lt = text_.find('<', scan_);
      if (lt == std::string_view::npos || lt > pos) {
        scan_ = pos;
        return false;
      }
      std::string_view at = text_.substr(lt);
      std::string_view close;
      if (at.starts_with("<!--"))
        close = "-->";
      else if (at.starts_with("<![CDATA["))
        close = "]]>";
      else if (at.starts_with("<?"))
        close = "?>";
      if (close.empty()) {
        scan_ = lt + 1;
        continue;
      }
      size_t found = text_.find(close, lt + 2);
      begin_ = lt;
      end_ = found == std::string_view::npos ? text_.size() : found + close.size();
      scan_ = end_;
    }
  }

 private:
  std::string_view text_;
  size_t begin_ = 0, end_ = 0;  // the last section found
  size_t scan_ = 0;             // search for the next section resumes here
};

// Control characters other than tab, LF and CR are not XML characters; pugixml would take
// them, and NUL would even end a string early, cutting data short unnoticed.
bool HasControlCharacter(std::string_view text) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
  size_t n = text.size();
  auto bad = [](unsigned char c) -> unsigned { return (c < 0x20) & (c != '\t') & (c != '\n') & (c != '\r'); };
  size_t k = 0;
  for (; k + 64 <= n; k += 64) {  // in blocks, without early exit, so that it vectorises
    unsigned any = 0;
    for (size_t j = 0; j < 64; ++j) any |= bad(p[k + j]);
    if (any != 0) return true;
  }
  for (; k < n; ++k)
    if (bad(p[k])) return true;
  return false;
}

// Rejects what pugixml would take without complaint although it is not XML.
void CheckRawText(std::string_view text) {
  if (HasControlCharacter(text)) Fail("Control character in XML text");
  const char* base = text.data();
  const char* end = base + text.size();
  LiteralSections literal(text);
  for (const char* p = base; (p = static_cast<const char*>(std::memchr(p, '&', end - p)));) {
    size_t length = ReferenceLength(p, end);
    if (length == 0) {
      // pugixml keeps such text as it stands; XML says the document is not well-formed.
      if (!literal.Contains(static_cast<size_t>(p - base))) Fail("Undefined or malformed reference");
      length = 1;
    }
    p += length;
  }
}

// ---- Reading ----

// Options: the defaults (escapes, CDATA, end-of-line normalisation: CR LF and lone CR become LF,
// as if every line break were first made CR LF; white-space-only text dropped) plus what lets
// us see and refuse what is not our format. Text that is an element's first child is kept in
// the element itself, which saves one node per scalar.
constexpr unsigned kParseOptions = pugi::parse_default | pugi::parse_comments | pugi::parse_pi |
                                   pugi::parse_declaration | pugi::parse_doctype |
                                   pugi::parse_fragment | pugi::parse_embed_pcdata;

// Children of an array element (or of the root) are taken by position. Elements and pieces of
// text count; comments and processing instructions do not. Text reads as Empty, so it is
// passed on as an empty handle; text embedded in the element itself is its first child.
// Calls fn for at most limit children, so that counting stops at what is needed; gives the
// number of calls.
template <typename Fn>
int64_t ForEachChild(pugi::xml_node parent, int64_t limit, Fn&& fn) {
  int64_t n = 0;
  if (n < limit && *parent.value() != 0) {
    fn(pugi::xml_node());
    ++n;
  }
  for (pugi::xml_node child = parent.first_child(); child && n < limit; child = child.next_sibling()) {
    switch (child.type()) {
      case pugi::node_element: fn(child); break;
      case pugi::node_pcdata:
      case pugi::node_cdata: fn(pugi::xml_node()); break;
      default: continue;  // comment, processing instruction
    }
    ++n;
  }
  return n;
}

int64_t CountChildren(pugi::xml_node parent, int64_t limit) {
  return ForEachChild(parent, limit, [](pugi::xml_node) {});
}

struct ElementAttributes {
  const char* t = nullptr;
  const char* r = nullptr;
  const char* c = nullptr;
};

// Pairwise below this many attributes, hashed above, so that a crafted element cannot make
// the duplicate check quadratic.
constexpr int kPairwiseAttributeCheck = 8;

ElementAttributes ReadAttributes(pugi::xml_node element) {
  ElementAttributes a;
  int count = 0;
  for (pugi::xml_attribute at = element.first_attribute(); at; at = at.next_attribute(), ++count) {
    const char* name = at.name();
    if (name[0] != 0 && name[1] == 0) {
      const char** slot = name[0] == 't' ? &a.t : name[0] == 'r' ? &a.r : name[0] == 'c' ? &a.c : nullptr;
      if (slot != nullptr) {
        if (*slot != nullptr) Fail("Duplicate attribute");
        *slot = at.value();
      }
    }
  }
  // Repeats of t, r and c are caught above; with at most one other name nothing can repeat.
  int known = (a.t != nullptr) + (a.r != nullptr) + (a.c != nullptr);
  if (count - known <= 1) return a;
  if (count <= kPairwiseAttributeCheck) {
    for (pugi::xml_attribute x = element.first_attribute(); x; x = x.next_attribute())
      for (pugi::xml_attribute y = x.next_attribute(); y; y = y.next_attribute())
        if (std::strcmp(x.name(), y.name()) == 0) Fail("Duplicate attribute");
  } else {
    std::unordered_set<std::string_view> seen;
    for (pugi::xml_attribute x = element.first_attribute(); x; x = x.next_attribute())
      if (!seen.insert(x.name()).second) Fail("Duplicate attribute");
  }
  return a;
}

// Kind letter of an element: t in upper case, "U" when missing; anything but one known
// letter gives 'U'.
char NodeKind(const char* t) {
  if (t == nullptr || t[0] == 0 || t[1] != 0) return 'U';
  char k = t[0];
  if (k >= 'a' && k <= 'z') k = static_cast<char>(k - 'a' + 'A');
  switch (k) {
    case 'N':
    case 'S':
    case 'B':
    case 'D':
    case 'A': return k;
    default: return 'U';
  }
}

// The text of a scalar element: nothing, or exactly one piece of text or CDATA.
std::string_view ScalarText(pugi::xml_node element) {
  const char* embedded = element.value();
  pugi::xml_node child = element.first_child();
  if (*embedded != 0) {
    if (child) Fail("Scalar element with mixed content");
    return embedded;
  }
  if (!child) return std::string_view();
  if (child.next_sibling() || (child.type() != pugi::node_pcdata && child.type() != pugi::node_cdata))
    Fail("Scalar element with content other than text");
  return child.value();
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// A whole number for r and c: optional blanks, an optional sign, digits, within 32 bits;
// anything else counts as 0.
int64_t WholeNumberOrZero(const char* text) {
  std::string_view s = TrimBlanks(text);
  bool plus = !s.empty() && s.front() == '+';
  if (plus) s.remove_prefix(1);
  if (s.empty() || (plus && s.front() == '-')) return 0;
  int32_t v = 0;
  auto res = std::from_chars(s.data(), s.data() + s.size(), v);
  if (res.ec != std::errc() || res.ptr != s.data() + s.size()) return 0;
  return v;
}

// Fixed date text: yyyy.mm.dd, optionally a blank and hh:nn or hh:nn:ss.
bool ParseDateText(std::string_view s, TDateTime& out) {
  s = TrimBlanks(s);
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
    if (!IsBlank(s[pos])) return false;
    while (pos < s.size() && IsBlank(s[pos])) ++pos;
    if (!number(1, 2, hh) || !separator(':') || !number(1, 2, nn)) return false;
    if (separator(':') && !number(1, 2, ss)) return false;
    if (pos != s.size()) return false;
  }
  if (!IsValidDate(y, m, d) || hh > 23 || nn > 59 || ss > 59) return false;
  out = EncodeDateTime(y, m, d, hh, nn, ss);
  return true;
}

Variant NodeToValue(pugi::xml_node node, int depth);

// Reads the first cells counted children of parent into the elements of array, which are
// contiguous in row-major order, the order of the children.
void Fill(Variant& array, pugi::xml_node parent, int64_t cells, int depth) {
  if (cells == 0) return;
  Variant* out = array.DimCount() == 2 ? &array.Ref(0, 0) : &array.Ref(0);
  ForEachChild(parent, cells, [&](pugi::xml_node child) { *out++ = NodeToValue(child, depth); });
}

Variant ReadRoot(pugi::xml_node root) {
  ReadAttributes(root);  // only for the duplicate check
  int64_t n = CountChildren(root, int64_t{INT_MAX} + 1);
  if (n > INT_MAX) Fail("Too many elements");
  Variant result = Variant::CreateArray({{0, static_cast<int>(n - 1)}});
  Fill(result, root, n, 1);
  return result;
}

Variant NodeToArray(pugi::xml_node element, const ElementAttributes& a, int depth);

// REQUIRES: node is an element, or empty for text among the children.
Variant NodeToValue(pugi::xml_node node, int depth) {
  if (!node) return Variant();  // text has no kind letter
  ElementAttributes a = ReadAttributes(node);
  switch (NodeKind(a.t)) {
    case 'N': {
      double d;
      switch (ParseNumberText(ScalarText(node), d)) {
        case NumberTextResult::Ok: return Variant::FromDouble(d);
        case NumberTextResult::OutOfRange: Fail("Number out of range");
        case NumberTextResult::Malformed: Fail("Invalid number text");
      }
      break;
    }
    case 'D': {
      TDateTime d;
      if (!ParseDateText(ScalarText(node), d)) Fail("Invalid date text");
      return Variant::FromDate(d);
    }
    case 'B': {
      std::string_view text = ScalarText(node);
      double d;
      switch (ParseNumberText(text, d)) {
        case NumberTextResult::Ok: return Variant::FromBoolean(d != 0);
        case NumberTextResult::OutOfRange: return Variant::FromBoolean(true);
        case NumberTextResult::Malformed: break;
      }
      bool b;
      if (!ParseBooleanWord(text, b)) Fail("Invalid boolean text");
      return Variant::FromBoolean(b);
    }
    case 'S': return Variant::FromString(std::string(ScalarText(node)));
    case 'A': return NodeToArray(node, a, depth + 1);
    default: break;  // Empty: not examined further
  }
  return Variant();
}

Variant NodeToArray(pugi::xml_node element, const ElementAttributes& a, int depth) {
  if (depth > TXMLEncoder::kMaxNestingDepth) Fail("Arrays nested too deep");
  if (a.r == nullptr) Fail("Array element without r");
  int64_t r = WholeNumberOrZero(a.r);
  if (r < 0) Fail("Negative row count");
  int64_t c = a.c != nullptr ? WholeNumberOrZero(a.c) : 0;
  // Both fit 32 bits, so the product fits 64. Checked before anything is allocated: every
  // cell needs a child node, so the input bounds the size of what we build.
  int64_t cells = c >= 1 ? r * c : r;
  if (CountChildren(element, cells) < cells) Fail("Array element with too few children");
  Variant v = c >= 1 ? Variant::CreateArray({{0, static_cast<int>(r - 1)}, {0, static_cast<int>(c - 1)}})
                     : Variant::CreateArray({{0, static_cast<int>(r - 1)}});
  Fill(v, element, cells, depth);
  return v;
}

// The document level: exactly one element, no text, no DOCTYPE, a declaration only first.
pugi::xml_node CheckDocumentLevel(const pugi::xml_document& doc, std::string_view text) {
  pugi::xml_node root;
  bool first = true;
  for (pugi::xml_node node = doc.first_child(); node; node = node.next_sibling(), first = false) {
    switch (node.type()) {
      case pugi::node_element:
        if (root) Fail("More than one root element");
        root = node;
        break;
      case pugi::node_declaration: {
        std::string_view start = text.starts_with("\xEF\xBB\xBF") ? text.substr(3) : text;
        if (!first || !start.starts_with("<?xml")) Fail("Misplaced XML declaration");
        break;
      }
      case pugi::node_comment:
      case pugi::node_pi: break;
      case pugi::node_doctype: Fail("DOCTYPE is not accepted");
      default: Fail("Text outside the root element");
    }
  }
  if (!root) Fail("No root element");
  return root;
}

// Frees the document's memory when a call ends, however it ends.
class DocumentReset {
 public:
  explicit DocumentReset(pugi::xml_document& doc) : doc_(doc) { doc_.reset(); }
  ~DocumentReset() { doc_.reset(); }
  DocumentReset(const DocumentReset&) = delete;
  DocumentReset& operator=(const DocumentReset&) = delete;

 private:
  pugi::xml_document& doc_;
};

// ---- Writing ----
//
// The text is written directly rather than through a document: a catalogue holds a million
// cells, and a tree of them costs several times the memory and the time of the text itself.
// What is written is what pugixml would serialise for the same tree (format_raw), with every
// line break then made CR LF.

// What a character of element text needs: 0 nothing, 1 an entity, 2 a line break, 3 a
// character reference (control characters, written as pugixml writes them).
struct TextClasses {
  uint8_t of[256] = {};
  constexpr TextClasses() {
    for (int c = 0; c < 0x20; ++c) of[c] = 3;
    of[static_cast<unsigned char>('\t')] = 0;
    of[static_cast<unsigned char>('\n')] = 2;
    of[static_cast<unsigned char>('\r')] = 2;
    of[static_cast<unsigned char>('&')] = 1;
    of[static_cast<unsigned char>('<')] = 1;
    of[static_cast<unsigned char>('>')] = 1;
  }
};
constexpr TextClasses kTextClasses;

void AppendText(std::string& out, std::string_view text) {
  const char* p = text.data();
  const char* end = p + text.size();
  while (p < end) {
    const char* plain = p;
    while (p < end && kTextClasses.of[static_cast<unsigned char>(*p)] == 0) ++p;
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
      default: {
        char ref[8];
        int n = std::snprintf(ref, sizeof ref, "&#%02d;", static_cast<unsigned char>(c));
        out.append(ref, static_cast<size_t>(n));
      }
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
  if (!std::isfinite(d)) throw EVariantError(EVariantError::Kind::Overflow, "Number is not finite");
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
    throw EVariantError(EVariantError::Kind::BadIndex, "Arrays nested too deep");
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
    throw EVariantError(EVariantError::Kind::BadIndex, "Arrays nested too deep");
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

TXMLEncoder::TXMLEncoder() : FXMLDoc(std::make_unique<pugi::xml_document>()) {}
TXMLEncoder::~TXMLEncoder() = default;

std::string TXMLEncoder::Encode(const Variant& varValue) {
  std::string out;
  if (!varValue.IsArray()) return out;
  if (varValue.DimCount() != 1)
    throw EVariantError(EVariantError::Kind::BadIndex, "The top-level value must be one-dimensional");
  FXMLDoc->reset();  // nothing of an earlier Decode stays held
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
  CheckRawText(strValue);
  DocumentReset scope(*FXMLDoc);
  pugi::xml_parse_result parsed =
      FXMLDoc->load_buffer(strValue.data(), strValue.size(), kParseOptions, pugi::encoding_utf8);
  if (!parsed) Fail(std::string("Not well-formed XML: ") + parsed.description());
  pugi::xml_node root = CheckDocumentLevel(*FXMLDoc, strValue);
  return ReadRoot(root);
}

}  // namespace dct
