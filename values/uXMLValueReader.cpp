// ReadXMLValue: a small XML tokenizer for the value text, and the value built on top of it.
//
// The text is not terminated, so every step checks against FEnd. The text is first checked to
// hold only XML characters in UTF-8 (one fast pass, mostly a word at a time); the reader then
// walks it once, scanning ahead nowhere but to a declaration's end.
#include "values/uXMLValueReader.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "values/uUTF8.h"
#include "values/uXMLEncoder.h"

namespace dct {

namespace {

[[noreturn]] void Fail(const char* message) { throw EXMLDecodeError(message); }

// ---- Character classes ----

enum : uint8_t {
  kSpace = 1,      // white space: space, tab, LF, CR
  kNameStart = 2,  // starts a name: ASCII letters, '_', ':' and every byte of a multi-byte character
  kName = 4,       // continues a name: also digits, '-' and '.'
  kTextStop = 8,   // ends a plain stretch of character data: '<', '&', CR, control characters
  kAttrStop = 16,  // ends a plain stretch of an attribute value: quotes, '&', '<', tab, LF, CR, control
  kControl = 32,   // not an XML character: control characters other than tab, LF and CR
};

struct TCharClasses {
  uint8_t Of[256] = {};
  constexpr TCharClasses() {
    for (int c = 0; c < 0x20; ++c) Of[c] = kControl | kTextStop | kAttrStop;
    for (int c : {' ', '\t', '\n', '\r'}) Of[c] = kSpace;
    Of[static_cast<int>('\r')] |= kTextStop;
    for (int c : {'\t', '\n', '\r', '"', '\'', '&', '<'}) Of[c] |= kAttrStop;
    Of[static_cast<int>('<')] |= kTextStop;
    Of[static_cast<int>('&')] |= kTextStop;
    for (int c = 'a'; c <= 'z'; ++c) Of[c] |= kNameStart | kName;
    for (int c = 'A'; c <= 'Z'; ++c) Of[c] |= kNameStart | kName;
    for (int c = 0x80; c < 0x100; ++c) Of[c] |= kNameStart | kName;
    for (int c : {'_', ':'}) Of[c] |= kNameStart | kName;
    for (int c = '0'; c <= '9'; ++c) Of[c] |= kName;
    for (int c : {'-', '.'}) Of[c] |= kName;
  }
};
constexpr TCharClasses kClasses;

inline bool Is(char c, uint8_t classes) {
  return (kClasses.Of[static_cast<unsigned char>(c)] & classes) != 0;
}

// The reference that starts at p ("&amp;", "&#65;", "&#x41;", ...): its length, or 0 when it is
// not one that XML defines here. When out is given, appends the character it stands for.
size_t Reference(const char* p, const char* end, std::string* out) {
  std::string_view rest(p, static_cast<size_t>(end - p));
  static constexpr struct {
    std::string_view Text;
    char Char;
  } kNamed[] = {{"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
  for (const auto& named : kNamed)
    if (rest.starts_with(named.Text)) {
      if (out != nullptr) *out += named.Char;
      return named.Text.size();
    }
  uint32_t code;
  size_t length = CharacterReference(rest, code);
  if (length == 0 || !IsXMLChar(code)) return 0;
  if (out != nullptr) AppendUTF8(code, *out);
  return length;
}

// ---- Decoding of text that is not taken as it stands ----
// REQUIRES: every '&' in the range starts a reference already checked with Reference.

// Character data: references resolved, CR LF and lone CR made LF.
std::string_view DecodeText(const char* p, const char* end, bool references, std::string& out) {
  out.clear();
  while (p < end) {
    const char* plain = p;
    while (p < end && *p != '\r' && !(references && *p == '&')) ++p;
    out.append(plain, static_cast<size_t>(p - plain));
    if (p == end) break;
    if (*p == '\r') {
      out += '\n';
      if (++p < end && *p == '\n') ++p;
    } else {
      p += Reference(p, end, &out);
    }
  }
  return out;
}

// An attribute value: references resolved, every tab, LF, CR and CR LF made one space.
std::string_view DecodeAttribute(const char* p, const char* end, std::string& out) {
  out.clear();
  while (p < end) {
    char c = *p;
    if (c == '&') {
      p += Reference(p, end, &out);
      continue;
    }
    if (c == '\r' && p + 1 < end && p[1] == '\n') ++p;
    out += Is(c, kSpace) ? ' ' : c;
    ++p;
  }
  return out;
}

// ---- Scalar text forms ----

// A whole number for r and c: optional blanks, an optional sign, digits, within 32 bits;
// anything else counts as 0.
int64_t WholeNumberOrZero(std::string_view text) {
  std::string_view s = TrimXMLSpace(text);
  bool plus = !s.empty() && s.front() == '+';
  if (plus) s.remove_prefix(1);
  if (s.empty() || (plus && s.front() == '-')) return 0;
  int32_t v = 0;
  auto res = std::from_chars(s.data(), s.data() + s.size(), v);
  if (res.ec != std::errc() || res.ptr != s.data() + s.size()) return 0;
  return v;
}

// Kind letter of an element: t in upper case; anything but one known letter gives 'U'.
char KindLetter(std::string_view t) {
  if (t.size() != 1) return 'U';
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

Variant ScalarValue(char kind, std::string_view text) {
  switch (kind) {
    case 'N': {
      double d;
      switch (ParseNumberText(text, d)) {
        case TNumberTextResult::Ok: return Variant::FromDouble(d);
        case TNumberTextResult::OutOfRange: Fail("Number out of range");
        case TNumberTextResult::Malformed: Fail("Invalid number text");
      }
      break;
    }
    case 'D': {
      TDateTime d;
      if (!ParseDateText(text, d)) Fail("Invalid date text");
      return Variant::FromDate(d);
    }
    case 'B': {
      double d;
      switch (ParseNumberText(text, d)) {
        case TNumberTextResult::Ok: return Variant::FromBoolean(d != 0);
        case TNumberTextResult::OutOfRange: return Variant::FromBoolean(true);
        case TNumberTextResult::Malformed: break;
      }
      bool b;
      if (!ParseBooleanWord(text, b)) Fail("Invalid boolean text");
      return Variant::FromBoolean(b);
    }
    default: break;
  }
  return Variant::FromString(text);
}

// Pairwise below this many attributes, sorted above, so that a crafted element cannot make
// the duplicate check quadratic.
constexpr size_t kPairwiseAttributeCheck = 8;

// ---- Cells of an array, collected as its children arrive ----

// An array whose r and c the rest of the text could make good is collected into one vector
// reserved for all its cells, which the array then takes over: a large table never exists
// twice, not even while it is handed over. Reserved room costs address space until it is
// filled, not memory, and the reader lends it only up to what the whole text could hold
// (room, kMinChildBytes a child, for all arrays together), so crafted counts cannot make it
// reserve more than a few times the text.
// Beyond that the counts are only believed as the children arrive: blocks of at most kBlock
// values, so growing never moves what is held and leaves no trail of outgrown buffers in the
// heap. The first block grows by doubling, so a small array is one small vector.
class TCells {
 public:
  static constexpr size_t kBlock = 4096;  // 64 KB of values
  // The shortest text of an array's child that a value holds: an empty element, "<a/>".
  static constexpr size_t kMinChildBytes = 4;

  // Never holds more than limit values: the limit comes from r and c, which only cap what
  // the children bring. Reserves the limit, taken from room, when room holds it.
  explicit TCells(int64_t limit) : FLimit(static_cast<size_t>(std::max<int64_t>(limit, 0))) {}
  TCells(int64_t limit, size_t& room) : TCells(limit) {
    if (FLimit > room) return;
    room -= FLimit;
    FBlocks.emplace_back().reserve(FLimit);
  }

  size_t Size() const { return FSize; }
  bool Full() const { return FSize == FLimit; }

  // REQUIRES: !full().
  void Append(Variant v) {
    if (FBlocks.empty() || FBlocks.back().size() == FBlocks.back().capacity()) Grow();
    FBlocks.back().push_back(std::move(v));
    ++FSize;
  }

  // The values in order, as one vector (taken over when there is a single block: always so
  // when the limit came from room).
  std::vector<Variant> TakeAll() {
    if (FBlocks.size() == 1) return std::move(FBlocks.front());
    std::vector<Variant> all;
    all.reserve(FSize);
    for (std::vector<Variant>& block : FBlocks) {
      std::move(block.begin(), block.end(), std::back_inserter(all));
      std::vector<Variant>().swap(block);
    }
    return all;
  }

 private:
  void Grow() {
    size_t room = FLimit - FSize;
    if (FBlocks.size() == 1 && FBlocks.front().capacity() < kBlock) {
      std::vector<Variant>& first = FBlocks.front();
      first.reserve(std::min({2 * first.capacity(), kBlock, first.size() + room}));
      return;
    }
    FBlocks.emplace_back();
    FBlocks.back().reserve(std::min(FBlocks.size() == 1 ? size_t{16} : kBlock, room));
  }

  size_t FLimit;
  size_t FSize = 0;
  std::vector<std::vector<Variant>> FBlocks;
};

// ---- The reader ----

class TReader {
 public:
  explicit TReader(std::string_view text)
      : FPos(text.data()), FEnd(text.data() + text.size()), FRoom(text.size() / TCells::kMinChildBytes) {}

  Variant Document();

 private:
  // An attribute value as it stands between its quotes; plain when it reads as it stands.
  struct TRawValue {
    const char* Begin = nullptr;  // nullptr: the attribute is missing
    const char* End = nullptr;
    bool Plain = true;
  };

  // A start tag. The values of t, r and c are kept only when the caller asks for them.
  struct TTag {
    const char* Name = nullptr;
    size_t NameLength = 0;
    bool Empty = false;  // <x/>: no content, no end tag
    TRawValue t, r, C;
  };

  // What a '<' opens.
  enum class TMarkup { Element, EndTag, Comment, CData, Instruction };

  bool StartsWith(std::string_view s) const {
    return static_cast<size_t>(FEnd - FPos) >= s.size() && std::memcmp(FPos, s.data(), s.size()) == 0;
  }
  bool SkipSpace() {
    const char* start = FPos;
    while (FPos < FEnd && Is(*FPos, kSpace)) ++FPos;
    return FPos != start;
  }
  const char* NameEnd(const char* p) const {
    while (p < FEnd && Is(*p, kName)) ++p;
    return p;
  }

  // Markup. REQUIRES: FPos at the '<' that opens it (StartTag: at the name after it).
  TMarkup Classify() const;
  void StartTag(TTag& tag, bool keepValues);
  TRawValue AttributeValue();
  void CheckDuplicateAttributes();
  void EndTag(const char* name, size_t nameLength);
  void Comment();
  std::string_view CData(bool keep);
  void Instruction();
  void Declaration();

  // Character data up to the next '<' or the end: false when it is only white space (and
  // then dropped). When text is given, it receives the decoded text.
  bool TextRun(std::string_view* text);

  // Element values. REQUIRES: FPos at the element's name; the tag's values kept for Array.
  Variant Element(int depth);
  Variant Array(const TTag& tag, int depth);
  std::string_view ScalarContent(const TTag& tag);
  // The children of an element up to its end tag: as many as items takes are read into it
  // (anything but an element as Empty), the rest only checked. Gives how many there were.
  int64_t Children(const TTag& parent, TCells& items, int depth);
  // Checks and passes over an element's content and end tag, nested elements included,
  // without recursion. REQUIRES: FPos just after the element's start tag.
  void SkipContent(const char* name);
  // The same for a whole element. REQUIRES: FPos at its name.
  void SkipElement();

  std::string_view Text(const TRawValue& v, std::string& buffer) const {
    if (v.Plain) return std::string_view(v.Begin, static_cast<size_t>(v.End - v.Begin));
    return DecodeAttribute(v.Begin, v.End, buffer);
  }

  const char* FPos;
  const char* const FEnd;
  std::vector<std::string_view> FAttributeNames;  // of the current start tag
  std::vector<const char*> FOpen;                 // names of the elements SkipContent is inside
  std::string FText;                              // decoded character data or CDATA
  std::string FAttribute;                         // a decoded attribute value
  size_t FRoom;                                   // cells the arrays may still reserve (TCells)
};

TReader::TMarkup TReader::Classify() const {
  if (FEnd - FPos < 2) Fail("Unfinished markup");
  char c = FPos[1];
  if (Is(c, kNameStart)) return TMarkup::Element;
  switch (c) {
    case '/': return TMarkup::EndTag;
    case '?': return TMarkup::Instruction;
    case '!':
      if (StartsWith("<!--")) return TMarkup::Comment;
      if (StartsWith("<![CDATA[")) return TMarkup::CData;
      // A DOCTYPE or a declaration of the DTD: refused where it starts, nothing of it is read.
      Fail("DOCTYPE or markup declaration is not accepted");
    default: Fail("Not well-formed markup");
  }
}

void TReader::StartTag(TTag& tag, bool keepValues) {
  tag.Name = FPos;
  FPos = NameEnd(FPos);
  tag.NameLength = static_cast<size_t>(FPos - tag.Name);
  FAttributeNames.clear();
  for (;;) {
    bool space = SkipSpace();
    if (FPos == FEnd) Fail("Unfinished start tag");
    char c = *FPos;
    if (c == '>') {
      ++FPos;
      tag.Empty = false;
      break;
    }
    if (c == '/') {
      if (FEnd - FPos < 2 || FPos[1] != '>') Fail("Malformed empty-element tag");
      FPos += 2;
      tag.Empty = true;
      break;
    }
    if (!space || !Is(c, kNameStart)) Fail("Malformed start tag");
    const char* name = FPos;
    FPos = NameEnd(FPos);
    size_t length = static_cast<size_t>(FPos - name);
    SkipSpace();
    if (FPos == FEnd || *FPos != '=') Fail("Attribute without value");
    ++FPos;
    SkipSpace();
    TRawValue value = AttributeValue();
    FAttributeNames.emplace_back(name, length);
    if (keepValues && length == 1) {
      switch (*name) {
        case 't': tag.t = value; break;
        case 'r': tag.r = value; break;
        case 'c': tag.C = value; break;
        default: break;
      }
    }
  }
  if (FAttributeNames.size() > 1) CheckDuplicateAttributes();
}

TReader::TRawValue TReader::AttributeValue() {
  if (FPos == FEnd || (*FPos != '"' && *FPos != '\'')) Fail("Attribute value without quotes");
  char quote = *FPos++;
  TRawValue v;
  v.Begin = FPos;
  for (;;) {
    while (FPos < FEnd && !Is(*FPos, kAttrStop)) ++FPos;
    if (FPos == FEnd) Fail("Unfinished attribute value");
    char c = *FPos;
    if (c == quote) break;
    if (c == '&') {
      size_t length = Reference(FPos, FEnd, nullptr);
      if (length == 0) Fail("Undefined or malformed reference");
      v.Plain = false;
      FPos += length;
    } else if (c == '"' || c == '\'') {
      ++FPos;
    } else if (Is(c, kSpace)) {
      v.Plain = false;
      ++FPos;
    } else if (c == '<') {
      Fail("'<' in an attribute value");
    } else {
      Fail("Control character in XML text");
    }
  }
  v.End = FPos++;
  return v;
}

void TReader::CheckDuplicateAttributes() {
  std::vector<std::string_view>& names = FAttributeNames;
  if (names.size() <= kPairwiseAttributeCheck) {
    for (size_t i = 0; i < names.size(); ++i)
      for (size_t j = i + 1; j < names.size(); ++j)
        if (names[i] == names[j]) Fail("Duplicate attribute");
    return;
  }
  std::sort(names.begin(), names.end());
  if (std::adjacent_find(names.begin(), names.end()) != names.end()) Fail("Duplicate attribute");
}

void TReader::EndTag(const char* name, size_t nameLength) {
  FPos += 2;  // "</"
  if (static_cast<size_t>(FEnd - FPos) < nameLength || std::memcmp(FPos, name, nameLength) != 0)
    Fail("End tag does not match start tag");
  FPos += nameLength;
  if (FPos < FEnd && Is(*FPos, kName)) Fail("End tag does not match start tag");
  SkipSpace();
  if (FPos == FEnd || *FPos != '>') Fail("Malformed end tag");
  ++FPos;
}

// Two dashes end a comment and must be followed by '>': "--" cannot stand inside one.
void TReader::Comment() {
  FPos += 4;  // "<!--"
  for (;;) {
    while (FPos < FEnd && *FPos != '-' && !Is(*FPos, kControl)) ++FPos;
    if (FPos == FEnd) Fail("Unfinished comment");
    if (*FPos != '-') Fail("Control character in XML text");
    if (FEnd - FPos >= 2 && FPos[1] == '-') {
      if (FEnd - FPos < 3 || FPos[2] != '>') Fail("Two dashes inside a comment");
      FPos += 3;
      return;
    }
    ++FPos;
  }
}

std::string_view TReader::CData(bool keep) {
  FPos += 9;  // "<![CDATA["
  const char* begin = FPos;
  bool plain = true;
  for (;;) {
    while (FPos < FEnd && *FPos != ']' && !Is(*FPos, kControl | kTextStop)) ++FPos;
    if (FPos == FEnd) Fail("Unfinished CDATA section");
    char c = *FPos;
    if (c == ']') {
      if (FEnd - FPos >= 3 && FPos[1] == ']' && FPos[2] == '>') break;
    } else if (c == '\r') {
      plain = false;
    } else if (Is(c, kControl)) {
      Fail("Control character in XML text");
    }
    ++FPos;  // '<' and '&' are text here
  }
  const char* end = FPos;
  FPos += 3;
  if (!keep) return {};
  if (plain) return std::string_view(begin, static_cast<size_t>(end - begin));
  return DecodeText(begin, end, false, FText);
}

void TReader::Instruction() {
  FPos += 2;  // "<?"
  if (FPos == FEnd || !Is(*FPos, kNameStart)) Fail("Malformed processing instruction");
  const char* target = FPos;
  FPos = NameEnd(FPos);
  if (FPos - target == 3 && (target[0] | 0x20) == 'x' && (target[1] | 0x20) == 'm' &&
      (target[2] | 0x20) == 'l')
    Fail("Misplaced XML declaration");
  if (FPos == FEnd) Fail("Unfinished processing instruction");
  if (*FPos == '?') {
    if (FEnd - FPos < 2 || FPos[1] != '>') Fail("Malformed processing instruction");
    FPos += 2;
    return;
  }
  if (!Is(*FPos, kSpace)) Fail("Malformed processing instruction");
  for (;;) {
    while (FPos < FEnd && *FPos != '?' && !Is(*FPos, kControl)) ++FPos;
    if (FPos == FEnd) Fail("Unfinished processing instruction");
    if (*FPos != '?') Fail("Control character in XML text");
    if (FEnd - FPos >= 2 && FPos[1] == '>') {
      FPos += 2;
      return;
    }
    ++FPos;
  }
}

// "<?xml", pseudo-attributes, "?>". The declaration ends at the first "?>"; its values are
// not read (the encoding is UTF-8 whatever it says), only their form is checked.
void TReader::Declaration() {
  FPos += 5;  // "<?xml"
  if (FPos == FEnd) Fail("Unfinished XML declaration");
  if (*FPos == '?') {
    if (FEnd - FPos < 2 || FPos[1] != '>') Fail("Malformed XML declaration");
    FPos += 2;
    return;
  }
  if (!Is(*FPos, kSpace)) Fail("Malformed XML declaration");
  const char* close = FPos;
  for (;;) {
    while (close < FEnd && *close != '?' && !Is(*close, kControl)) ++close;
    if (close == FEnd) Fail("Unfinished XML declaration");
    if (*close != '?') Fail("Control character in XML text");
    if (FEnd - close >= 2 && close[1] == '>') break;
    ++close;
  }
  for (;;) {
    SkipSpace();  // stops at close at the latest: '?' is no white space
    if (FPos == close) break;
    if (!Is(*FPos, kNameStart)) Fail("Malformed XML declaration");
    FPos = NameEnd(FPos);
    SkipSpace();
    if (*FPos != '=') Fail("Malformed XML declaration");
    ++FPos;
    SkipSpace();
    if (*FPos != '"' && *FPos != '\'') Fail("Malformed XML declaration");
    const char* quote =
        static_cast<const char*>(std::memchr(FPos + 1, *FPos, static_cast<size_t>(close - FPos - 1)));
    if (quote == nullptr) Fail("Malformed XML declaration");
    FPos = quote + 1;
    if (FPos != close && !Is(*FPos, kSpace)) Fail("Malformed XML declaration");
  }
  FPos = close + 2;
}

bool TReader::TextRun(std::string_view* text) {
  const char* begin = FPos;
  while (FPos < FEnd && Is(*FPos, kSpace)) ++FPos;
  if (FPos == FEnd || *FPos == '<') return false;
  bool plain = true;
  for (const char* q = begin; q < FPos; ++q) plain &= *q != '\r';
  for (;;) {
    while (FPos < FEnd && !Is(*FPos, kTextStop)) ++FPos;
    if (FPos == FEnd || *FPos == '<') break;
    if (*FPos == '&') {
      size_t length = Reference(FPos, FEnd, nullptr);
      if (length == 0) Fail("Undefined or malformed reference");
      plain = false;
      FPos += length;
    } else if (*FPos == '\r') {
      plain = false;
      ++FPos;
    } else {
      Fail("Control character in XML text");
    }
  }
  if (text != nullptr)
    *text = plain ? std::string_view(begin, static_cast<size_t>(FPos - begin))
                  : DecodeText(begin, FPos, true, FText);
  return true;
}

Variant TReader::Element(int depth) {
  TTag tag;
  StartTag(tag, true);
  char kind = tag.t.Begin == nullptr ? 'U' : KindLetter(Text(tag.t, FAttribute));
  switch (kind) {
    case 'N':
    case 'D':
    case 'B':
    case 'S': return ScalarValue(kind, ScalarContent(tag));
    case 'A': return Array(tag, depth + 1);
    default:  // Empty: the content is checked, not read
      if (!tag.Empty) SkipContent(tag.Name);
      return Variant();
  }
}

Variant TReader::Array(const TTag& tag, int depth) {
  if (depth > TXMLEncoder::kMaxNestingDepth) Fail("Arrays nested too deep");
  if (tag.r.Begin == nullptr) Fail("Array element without r");
  int64_t r = WholeNumberOrZero(Text(tag.r, FAttribute));
  if (r < 0) Fail("Negative row count");
  int64_t c = tag.C.Begin != nullptr ? WholeNumberOrZero(Text(tag.C, FAttribute)) : 0;
  // Both fit 32 bits, so the product fits 64. Only what the text could hold is reserved
  // from it (TCells); the array is made once there are enough children.
  int64_t cells = c >= 1 ? r * c : r;
  TCells items(cells, FRoom);
  int64_t count = tag.Empty ? 0 : Children(tag, items, depth);
  if (count < cells) Fail("Array element with too few children");
  if (c < 1) return Variant::ArrayOf(items.TakeAll());
  return Variant::TableOf(items.TakeAll(), static_cast<int>(c));  // row-major, as the children came
}

std::string_view TReader::ScalarContent(const TTag& tag) {
  std::string_view text;
  if (tag.Empty) return text;
  bool found = false;
  for (;;) {
    if (FPos == FEnd) Fail("Element not closed");
    if (*FPos != '<') {
      std::string_view piece;
      if (TextRun(&piece)) {
        if (found) Fail("Scalar element with content other than one piece of text");
        found = true;
        text = piece;
      }
      continue;
    }
    switch (Classify()) {
      case TMarkup::EndTag: EndTag(tag.Name, tag.NameLength); return text;
      case TMarkup::CData:
        if (found) Fail("Scalar element with content other than one piece of text");
        found = true;
        text = CData(true);
        break;
      default: Fail("Scalar element with content other than text");
    }
  }
}

int64_t TReader::Children(const TTag& parent, TCells& items, int depth) {
  int64_t count = 0;
  for (;;) {
    if (FPos == FEnd) Fail("Element not closed");
    if (*FPos != '<') {
      if (TextRun(nullptr)) {
        if (!items.Full()) items.Append(Variant());
        ++count;
      }
      continue;
    }
    switch (Classify()) {
      case TMarkup::EndTag: EndTag(parent.Name, parent.NameLength); return count;
      case TMarkup::Comment: Comment(); break;
      case TMarkup::Instruction: Instruction(); break;
      case TMarkup::CData:
        CData(false);
        if (!items.Full()) items.Append(Variant());
        ++count;
        break;
      case TMarkup::Element:
        ++FPos;
        if (!items.Full())
          items.Append(Element(depth));
        else
          SkipElement();
        ++count;
        break;
    }
  }
}

void TReader::SkipElement() {
  TTag tag;
  StartTag(tag, false);
  if (!tag.Empty) SkipContent(tag.Name);
}

void TReader::SkipContent(const char* name) {
  // Names are kept as where they start and measured again at their end tag: a deep skip then
  // holds one pointer per level.
  size_t base = FOpen.size();
  FOpen.push_back(name);
  while (FOpen.size() > base) {
    if (FPos == FEnd) Fail("Element not closed");
    if (*FPos != '<') {
      TextRun(nullptr);
      continue;
    }
    switch (Classify()) {
      case TMarkup::EndTag: {
        const char* open = FOpen.back();
        EndTag(open, static_cast<size_t>(NameEnd(open) - open));
        FOpen.pop_back();
        break;
      }
      case TMarkup::Comment: Comment(); break;
      case TMarkup::Instruction: Instruction(); break;
      case TMarkup::CData: CData(false); break;
      case TMarkup::Element: {
        ++FPos;
        TTag tag;
        StartTag(tag, false);
        if (!tag.Empty) FOpen.push_back(tag.Name);
        break;
      }
    }
  }
}

Variant TReader::Document() {
  if (StartsWith("\xEF\xBB\xBF")) FPos += 3;
  if (StartsWith("<?xml") && (FEnd - FPos == 5 || !Is(FPos[5], kName))) Declaration();
  for (;;) {  // before the root
    SkipSpace();
    if (FPos == FEnd) Fail("No root element");
    if (*FPos != '<') Fail("Text outside the root element");
    TMarkup m = Classify();
    if (m == TMarkup::Element) break;
    if (m == TMarkup::Comment)
      Comment();
    else if (m == TMarkup::Instruction)
      Instruction();
    else
      Fail("Markup outside the root element");
  }
  ++FPos;
  TTag root;
  StartTag(root, false);  // name and attributes play no part
  TCells items(INT_MAX);
  int64_t count = root.Empty ? 0 : Children(root, items, 1);
  if (count > INT_MAX) Fail("Too many elements");
  for (;;) {  // after the root
    SkipSpace();
    if (FPos == FEnd) break;
    if (*FPos != '<') Fail("Text outside the root element");
    TMarkup m = Classify();
    if (m == TMarkup::Comment)
      Comment();
    else if (m == TMarkup::Instruction)
      Instruction();
    else
      Fail(m == TMarkup::Element ? "More than one root element" : "Markup outside the root element");
  }
  return Variant::ArrayOf(items.TakeAll());
}

}  // namespace

Variant ReadXMLValue(std::string_view text) {
  // Checked before a byte is read, so a value built from the text never holds a character
  // that an answer could not carry. References are checked where they are read.
  size_t good = XMLCharsPrefix(text);
  if (good != text.size()) {
    unsigned char c = static_cast<unsigned char>(text[good]);
    Fail(c < 0x20 ? "Control character in XML text"
                  : "Text is not well-formed UTF-8 or holds a character XML does not allow");
  }
  return TReader(text).Document();
}

}  // namespace dct
