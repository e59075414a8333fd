// ReadXMLValue: a small XML tokenizer for the value text, and the value built on top of it.
//
// The text is not terminated, so every step checks against end_. The text is first checked to
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

struct CharClasses {
  uint8_t of[256] = {};
  constexpr CharClasses() {
    for (int c = 0; c < 0x20; ++c) of[c] = kControl | kTextStop | kAttrStop;
    for (int c : {' ', '\t', '\n', '\r'}) of[c] = kSpace;
    of[static_cast<int>('\r')] |= kTextStop;
    for (int c : {'\t', '\n', '\r', '"', '\'', '&', '<'}) of[c] |= kAttrStop;
    of[static_cast<int>('<')] |= kTextStop;
    of[static_cast<int>('&')] |= kTextStop;
    for (int c = 'a'; c <= 'z'; ++c) of[c] |= kNameStart | kName;
    for (int c = 'A'; c <= 'Z'; ++c) of[c] |= kNameStart | kName;
    for (int c = 0x80; c < 0x100; ++c) of[c] |= kNameStart | kName;
    for (int c : {'_', ':'}) of[c] |= kNameStart | kName;
    for (int c = '0'; c <= '9'; ++c) of[c] |= kName;
    for (int c : {'-', '.'}) of[c] |= kName;
  }
};
constexpr CharClasses kClasses;

inline bool Is(char c, uint8_t classes) {
  return (kClasses.of[static_cast<unsigned char>(c)] & classes) != 0;
}

// The reference that starts at p ("&amp;", "&#65;", "&#x41;", ...): its length, or 0 when it is
// not one that XML defines here. When out is given, appends the character it stands for.
size_t Reference(const char* p, const char* end, std::string* out) {
  std::string_view rest(p, static_cast<size_t>(end - p));
  static constexpr struct {
    std::string_view text;
    char c;
  } kNamed[] = {{"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
  for (const auto& named : kNamed)
    if (rest.starts_with(named.text)) {
      if (out != nullptr) *out += named.c;
      return named.text.size();
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
        case NumberTextResult::Ok: return Variant::FromDouble(d);
        case NumberTextResult::OutOfRange: Fail("Number out of range");
        case NumberTextResult::Malformed: Fail("Invalid number text");
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
        case NumberTextResult::Ok: return Variant::FromBoolean(d != 0);
        case NumberTextResult::OutOfRange: return Variant::FromBoolean(true);
        case NumberTextResult::Malformed: break;
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
class Cells {
 public:
  static constexpr size_t kBlock = 4096;  // 64 KB of values
  // The shortest text of an array's child that a value holds: an empty element, "<a/>".
  static constexpr size_t kMinChildBytes = 4;

  // Never holds more than limit values: the limit comes from r and c, which only cap what
  // the children bring. Reserves the limit, taken from room, when room holds it.
  explicit Cells(int64_t limit) : limit_(static_cast<size_t>(std::max<int64_t>(limit, 0))) {}
  Cells(int64_t limit, size_t& room) : Cells(limit) {
    if (limit_ > room) return;
    room -= limit_;
    blocks_.emplace_back().reserve(limit_);
  }

  size_t size() const { return size_; }
  bool full() const { return size_ == limit_; }

  // REQUIRES: !full().
  void Append(Variant v) {
    if (blocks_.empty() || blocks_.back().size() == blocks_.back().capacity()) Grow();
    blocks_.back().push_back(std::move(v));
    ++size_;
  }

  // The values in order, as one vector (taken over when there is a single block: always so
  // when the limit came from room).
  std::vector<Variant> TakeAll() {
    if (blocks_.size() == 1) return std::move(blocks_.front());
    std::vector<Variant> all;
    all.reserve(size_);
    for (std::vector<Variant>& block : blocks_) {
      std::move(block.begin(), block.end(), std::back_inserter(all));
      std::vector<Variant>().swap(block);
    }
    return all;
  }

 private:
  void Grow() {
    size_t room = limit_ - size_;
    if (blocks_.size() == 1 && blocks_.front().capacity() < kBlock) {
      std::vector<Variant>& first = blocks_.front();
      first.reserve(std::min({2 * first.capacity(), kBlock, first.size() + room}));
      return;
    }
    blocks_.emplace_back();
    blocks_.back().reserve(std::min(blocks_.size() == 1 ? size_t{16} : kBlock, room));
  }

  size_t limit_;
  size_t size_ = 0;
  std::vector<std::vector<Variant>> blocks_;
};

// ---- The reader ----

class Reader {
 public:
  explicit Reader(std::string_view text)
      : p_(text.data()), end_(text.data() + text.size()), room_(text.size() / Cells::kMinChildBytes) {}

  Variant Document();

 private:
  // An attribute value as it stands between its quotes; plain when it reads as it stands.
  struct RawValue {
    const char* begin = nullptr;  // nullptr: the attribute is missing
    const char* end = nullptr;
    bool plain = true;
  };

  // A start tag. The values of t, r and c are kept only when the caller asks for them.
  struct Tag {
    const char* name = nullptr;
    size_t nameLength = 0;
    bool empty = false;  // <x/>: no content, no end tag
    RawValue t, r, c;
  };

  // What a '<' opens.
  enum class Markup { kElement, kEndTag, kComment, kCData, kInstruction };

  bool StartsWith(std::string_view s) const {
    return static_cast<size_t>(end_ - p_) >= s.size() && std::memcmp(p_, s.data(), s.size()) == 0;
  }
  bool SkipSpace() {
    const char* start = p_;
    while (p_ < end_ && Is(*p_, kSpace)) ++p_;
    return p_ != start;
  }
  const char* NameEnd(const char* p) const {
    while (p < end_ && Is(*p, kName)) ++p;
    return p;
  }

  // Markup. REQUIRES: p_ at the '<' that opens it (StartTag: at the name after it).
  Markup Classify() const;
  void StartTag(Tag& tag, bool keepValues);
  RawValue AttributeValue();
  void CheckDuplicateAttributes();
  void EndTag(const char* name, size_t nameLength);
  void Comment();
  std::string_view CData(bool keep);
  void Instruction();
  void Declaration();

  // Character data up to the next '<' or the end: false when it is only white space (and
  // then dropped). When text is given, it receives the decoded text.
  bool TextRun(std::string_view* text);

  // Element values. REQUIRES: p_ at the element's name; the tag's values kept for Array.
  Variant Element(int depth);
  Variant Array(const Tag& tag, int depth);
  std::string_view ScalarContent(const Tag& tag);
  // The children of an element up to its end tag: as many as items takes are read into it
  // (anything but an element as Empty), the rest only checked. Gives how many there were.
  int64_t Children(const Tag& parent, Cells& items, int depth);
  // Checks and passes over an element's content and end tag, nested elements included,
  // without recursion. REQUIRES: p_ just after the element's start tag.
  void SkipContent(const char* name);
  // The same for a whole element. REQUIRES: p_ at its name.
  void SkipElement();

  std::string_view Text(const RawValue& v, std::string& buffer) const {
    if (v.plain) return std::string_view(v.begin, static_cast<size_t>(v.end - v.begin));
    return DecodeAttribute(v.begin, v.end, buffer);
  }

  const char* p_;
  const char* const end_;
  std::vector<std::string_view> attributeNames_;  // of the current start tag
  std::vector<const char*> open_;                 // names of the elements SkipContent is inside
  std::string text_;                              // decoded character data or CDATA
  std::string attribute_;                         // a decoded attribute value
  size_t room_;                                   // cells the arrays may still reserve (Cells)
};

Reader::Markup Reader::Classify() const {
  if (end_ - p_ < 2) Fail("Unfinished markup");
  char c = p_[1];
  if (Is(c, kNameStart)) return Markup::kElement;
  switch (c) {
    case '/': return Markup::kEndTag;
    case '?': return Markup::kInstruction;
    case '!':
      if (StartsWith("<!--")) return Markup::kComment;
      if (StartsWith("<![CDATA[")) return Markup::kCData;
      // A DOCTYPE or a declaration of the DTD: refused where it starts, nothing of it is read.
      Fail("DOCTYPE or markup declaration is not accepted");
    default: Fail("Not well-formed markup");
  }
}

void Reader::StartTag(Tag& tag, bool keepValues) {
  tag.name = p_;
  p_ = NameEnd(p_);
  tag.nameLength = static_cast<size_t>(p_ - tag.name);
  attributeNames_.clear();
  for (;;) {
    bool space = SkipSpace();
    if (p_ == end_) Fail("Unfinished start tag");
    char c = *p_;
    if (c == '>') {
      ++p_;
      tag.empty = false;
      break;
    }
    if (c == '/') {
      if (end_ - p_ < 2 || p_[1] != '>') Fail("Malformed empty-element tag");
      p_ += 2;
      tag.empty = true;
      break;
    }
    if (!space || !Is(c, kNameStart)) Fail("Malformed start tag");
    const char* name = p_;
    p_ = NameEnd(p_);
    size_t length = static_cast<size_t>(p_ - name);
    SkipSpace();
    if (p_ == end_ || *p_ != '=') Fail("Attribute without value");
    ++p_;
    SkipSpace();
    RawValue value = AttributeValue();
    attributeNames_.emplace_back(name, length);
    if (keepValues && length == 1) {
      switch (*name) {
        case 't': tag.t = value; break;
        case 'r': tag.r = value; break;
        case 'c': tag.c = value; break;
        default: break;
      }
    }
  }
  if (attributeNames_.size() > 1) CheckDuplicateAttributes();
}

Reader::RawValue Reader::AttributeValue() {
  if (p_ == end_ || (*p_ != '"' && *p_ != '\'')) Fail("Attribute value without quotes");
  char quote = *p_++;
  RawValue v;
  v.begin = p_;
  for (;;) {
    while (p_ < end_ && !Is(*p_, kAttrStop)) ++p_;
    if (p_ == end_) Fail("Unfinished attribute value");
    char c = *p_;
    if (c == quote) break;
    if (c == '&') {
      size_t length = Reference(p_, end_, nullptr);
      if (length == 0) Fail("Undefined or malformed reference");
      v.plain = false;
      p_ += length;
    } else if (c == '"' || c == '\'') {
      ++p_;
    } else if (Is(c, kSpace)) {
      v.plain = false;
      ++p_;
    } else if (c == '<') {
      Fail("'<' in an attribute value");
    } else {
      Fail("Control character in XML text");
    }
  }
  v.end = p_++;
  return v;
}

void Reader::CheckDuplicateAttributes() {
  std::vector<std::string_view>& names = attributeNames_;
  if (names.size() <= kPairwiseAttributeCheck) {
    for (size_t i = 0; i < names.size(); ++i)
      for (size_t j = i + 1; j < names.size(); ++j)
        if (names[i] == names[j]) Fail("Duplicate attribute");
    return;
  }
  std::sort(names.begin(), names.end());
  if (std::adjacent_find(names.begin(), names.end()) != names.end()) Fail("Duplicate attribute");
}

void Reader::EndTag(const char* name, size_t nameLength) {
  p_ += 2;  // "</"
  if (static_cast<size_t>(end_ - p_) < nameLength || std::memcmp(p_, name, nameLength) != 0)
    Fail("End tag does not match start tag");
  p_ += nameLength;
  if (p_ < end_ && Is(*p_, kName)) Fail("End tag does not match start tag");
  SkipSpace();
  if (p_ == end_ || *p_ != '>') Fail("Malformed end tag");
  ++p_;
}

// Two dashes end a comment and must be followed by '>': "--" cannot stand inside one.
void Reader::Comment() {
  p_ += 4;  // "<!--"
  for (;;) {
    while (p_ < end_ && *p_ != '-' && !Is(*p_, kControl)) ++p_;
    if (p_ == end_) Fail("Unfinished comment");
    if (*p_ != '-') Fail("Control character in XML text");
    if (end_ - p_ >= 2 && p_[1] == '-') {
      if (end_ - p_ < 3 || p_[2] != '>') Fail("Two dashes inside a comment");
      p_ += 3;
      return;
    }
    ++p_;
  }
}

std::string_view Reader::CData(bool keep) {
  p_ += 9;  // "<![CDATA["
  const char* begin = p_;
  bool plain = true;
  for (;;) {
    while (p_ < end_ && *p_ != ']' && !Is(*p_, kControl | kTextStop)) ++p_;
    if (p_ == end_) Fail("Unfinished CDATA section");
    char c = *p_;
    if (c == ']') {
      if (end_ - p_ >= 3 && p_[1] == ']' && p_[2] == '>') break;
    } else if (c == '\r') {
      plain = false;
    } else if (Is(c, kControl)) {
      Fail("Control character in XML text");
    }
    ++p_;  // '<' and '&' are text here
  }
  const char* end = p_;
  p_ += 3;
  if (!keep) return {};
  if (plain) return std::string_view(begin, static_cast<size_t>(end - begin));
  return DecodeText(begin, end, false, text_);
}

void Reader::Instruction() {
  p_ += 2;  // "<?"
  if (p_ == end_ || !Is(*p_, kNameStart)) Fail("Malformed processing instruction");
  const char* target = p_;
  p_ = NameEnd(p_);
  if (p_ - target == 3 && (target[0] | 0x20) == 'x' && (target[1] | 0x20) == 'm' && (target[2] | 0x20) == 'l')
    Fail("Misplaced XML declaration");
  if (p_ == end_) Fail("Unfinished processing instruction");
  if (*p_ == '?') {
    if (end_ - p_ < 2 || p_[1] != '>') Fail("Malformed processing instruction");
    p_ += 2;
    return;
  }
  if (!Is(*p_, kSpace)) Fail("Malformed processing instruction");
  for (;;) {
    while (p_ < end_ && *p_ != '?' && !Is(*p_, kControl)) ++p_;
    if (p_ == end_) Fail("Unfinished processing instruction");
    if (*p_ != '?') Fail("Control character in XML text");
    if (end_ - p_ >= 2 && p_[1] == '>') {
      p_ += 2;
      return;
    }
    ++p_;
  }
}

// "<?xml", pseudo-attributes, "?>". The declaration ends at the first "?>"; its values are
// not read (the encoding is UTF-8 whatever it says), only their form is checked.
void Reader::Declaration() {
  p_ += 5;  // "<?xml"
  if (p_ == end_) Fail("Unfinished XML declaration");
  if (*p_ == '?') {
    if (end_ - p_ < 2 || p_[1] != '>') Fail("Malformed XML declaration");
    p_ += 2;
    return;
  }
  if (!Is(*p_, kSpace)) Fail("Malformed XML declaration");
  const char* close = p_;
  for (;;) {
    while (close < end_ && *close != '?' && !Is(*close, kControl)) ++close;
    if (close == end_) Fail("Unfinished XML declaration");
    if (*close != '?') Fail("Control character in XML text");
    if (end_ - close >= 2 && close[1] == '>') break;
    ++close;
  }
  for (;;) {
    SkipSpace();  // stops at close at the latest: '?' is no white space
    if (p_ == close) break;
    if (!Is(*p_, kNameStart)) Fail("Malformed XML declaration");
    p_ = NameEnd(p_);
    SkipSpace();
    if (*p_ != '=') Fail("Malformed XML declaration");
    ++p_;
    SkipSpace();
    if (*p_ != '"' && *p_ != '\'') Fail("Malformed XML declaration");
    const char* quote =
        static_cast<const char*>(std::memchr(p_ + 1, *p_, static_cast<size_t>(close - p_ - 1)));
    if (quote == nullptr) Fail("Malformed XML declaration");
    p_ = quote + 1;
    if (p_ != close && !Is(*p_, kSpace)) Fail("Malformed XML declaration");
  }
  p_ = close + 2;
}

bool Reader::TextRun(std::string_view* text) {
  const char* begin = p_;
  while (p_ < end_ && Is(*p_, kSpace)) ++p_;
  if (p_ == end_ || *p_ == '<') return false;
  bool plain = true;
  for (const char* q = begin; q < p_; ++q) plain &= *q != '\r';
  for (;;) {
    while (p_ < end_ && !Is(*p_, kTextStop)) ++p_;
    if (p_ == end_ || *p_ == '<') break;
    if (*p_ == '&') {
      size_t length = Reference(p_, end_, nullptr);
      if (length == 0) Fail("Undefined or malformed reference");
      plain = false;
      p_ += length;
    } else if (*p_ == '\r') {
      plain = false;
      ++p_;
    } else {
      Fail("Control character in XML text");
    }
  }
  if (text != nullptr)
    *text =
        plain ? std::string_view(begin, static_cast<size_t>(p_ - begin)) : DecodeText(begin, p_, true, text_);
  return true;
}

Variant Reader::Element(int depth) {
  Tag tag;
  StartTag(tag, true);
  char kind = tag.t.begin == nullptr ? 'U' : KindLetter(Text(tag.t, attribute_));
  switch (kind) {
    case 'N':
    case 'D':
    case 'B':
    case 'S': return ScalarValue(kind, ScalarContent(tag));
    case 'A': return Array(tag, depth + 1);
    default:  // Empty: the content is checked, not read
      if (!tag.empty) SkipContent(tag.name);
      return Variant();
  }
}

Variant Reader::Array(const Tag& tag, int depth) {
  if (depth > TXMLEncoder::kMaxNestingDepth) Fail("Arrays nested too deep");
  if (tag.r.begin == nullptr) Fail("Array element without r");
  int64_t r = WholeNumberOrZero(Text(tag.r, attribute_));
  if (r < 0) Fail("Negative row count");
  int64_t c = tag.c.begin != nullptr ? WholeNumberOrZero(Text(tag.c, attribute_)) : 0;
  // Both fit 32 bits, so the product fits 64. Only what the text could hold is reserved
  // from it (Cells); the array is made once there are enough children.
  int64_t cells = c >= 1 ? r * c : r;
  Cells items(cells, room_);
  int64_t count = tag.empty ? 0 : Children(tag, items, depth);
  if (count < cells) Fail("Array element with too few children");
  if (c < 1) return Variant::ArrayOf(items.TakeAll());
  return Variant::TableOf(items.TakeAll(), static_cast<int>(c));  // row-major, as the children came
}

std::string_view Reader::ScalarContent(const Tag& tag) {
  std::string_view text;
  if (tag.empty) return text;
  bool found = false;
  for (;;) {
    if (p_ == end_) Fail("Element not closed");
    if (*p_ != '<') {
      std::string_view piece;
      if (TextRun(&piece)) {
        if (found) Fail("Scalar element with content other than one piece of text");
        found = true;
        text = piece;
      }
      continue;
    }
    switch (Classify()) {
      case Markup::kEndTag: EndTag(tag.name, tag.nameLength); return text;
      case Markup::kCData:
        if (found) Fail("Scalar element with content other than one piece of text");
        found = true;
        text = CData(true);
        break;
      default: Fail("Scalar element with content other than text");
    }
  }
}

int64_t Reader::Children(const Tag& parent, Cells& items, int depth) {
  int64_t count = 0;
  for (;;) {
    if (p_ == end_) Fail("Element not closed");
    if (*p_ != '<') {
      if (TextRun(nullptr)) {
        if (!items.full()) items.Append(Variant());
        ++count;
      }
      continue;
    }
    switch (Classify()) {
      case Markup::kEndTag: EndTag(parent.name, parent.nameLength); return count;
      case Markup::kComment: Comment(); break;
      case Markup::kInstruction: Instruction(); break;
      case Markup::kCData:
        CData(false);
        if (!items.full()) items.Append(Variant());
        ++count;
        break;
      case Markup::kElement:
        ++p_;
        if (!items.full())
          items.Append(Element(depth));
        else
          SkipElement();
        ++count;
        break;
    }
  }
}

void Reader::SkipElement() {
  Tag tag;
  StartTag(tag, false);
  if (!tag.empty) SkipContent(tag.name);
}

void Reader::SkipContent(const char* name) {
  // Names are kept as where they start and measured again at their end tag: a deep skip then
  // holds one pointer per level.
  size_t base = open_.size();
  open_.push_back(name);
  while (open_.size() > base) {
    if (p_ == end_) Fail("Element not closed");
    if (*p_ != '<') {
      TextRun(nullptr);
      continue;
    }
    switch (Classify()) {
      case Markup::kEndTag: {
        const char* open = open_.back();
        EndTag(open, static_cast<size_t>(NameEnd(open) - open));
        open_.pop_back();
        break;
      }
      case Markup::kComment: Comment(); break;
      case Markup::kInstruction: Instruction(); break;
      case Markup::kCData: CData(false); break;
      case Markup::kElement: {
        ++p_;
        Tag tag;
        StartTag(tag, false);
        if (!tag.empty) open_.push_back(tag.name);
        break;
      }
    }
  }
}

Variant Reader::Document() {
  if (StartsWith("\xEF\xBB\xBF")) p_ += 3;
  if (StartsWith("<?xml") && (end_ - p_ == 5 || !Is(p_[5], kName))) Declaration();
  for (;;) {  // before the root
    SkipSpace();
    if (p_ == end_) Fail("No root element");
    if (*p_ != '<') Fail("Text outside the root element");
    Markup m = Classify();
    if (m == Markup::kElement) break;
    if (m == Markup::kComment)
      Comment();
    else if (m == Markup::kInstruction)
      Instruction();
    else
      Fail("Markup outside the root element");
  }
  ++p_;
  Tag root;
  StartTag(root, false);  // name and attributes play no part
  Cells items(INT_MAX);
  int64_t count = root.empty ? 0 : Children(root, items, 1);
  if (count > INT_MAX) Fail("Too many elements");
  for (;;) {  // after the root
    SkipSpace();
    if (p_ == end_) break;
    if (*p_ != '<') Fail("Text outside the root element");
    Markup m = Classify();
    if (m == Markup::kComment)
      Comment();
    else if (m == Markup::kInstruction)
      Instruction();
    else
      Fail(m == Markup::kElement ? "More than one root element" : "Markup outside the root element");
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
  return Reader(text).Document();
}

}  // namespace dct
