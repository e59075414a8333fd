#include "service/uXMLEscape.h"

#include <array>
#include <cstdint>
#include <cstring>

#include "values/uUTF8.h"

namespace dct {
namespace {

enum class TMode { Text, Attr, Html };

// For every byte: 0 when it is copied as is, else the index of its mode mask bit.
struct TEscapeTable {
  std::array<uint8_t, 256> Needs{};  // bit 0: text, bit 1: attribute, bit 2: html
  constexpr TEscapeTable() {
    Needs['\r'] = 7;
    Needs['\t'] = 2 | 4;
    Needs['\n'] = 2 | 4;
    Needs['&'] = 7;
    Needs['<'] = 7;
    Needs['>'] = 7;
    Needs['"'] = 2 | 4;
    Needs['\''] = 4;
  }
};
constexpr TEscapeTable kTable;

constexpr uint8_t Bit(TMode mode) { return mode == TMode::Text ? 1 : mode == TMode::Attr ? 2 : 4; }

// REQUIRES: text holds only XML characters (IsXMLChars), so the only control characters in it
// are tab, LF and CR.
template <TMode mode>
void AppendEscapedChars(std::string& out, std::string_view text) {
  constexpr uint8_t bit = Bit(mode);
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p < end) {
    const char* run = p;
    while (p < end && !(kTable.Needs[static_cast<unsigned char>(*p)] & bit)) ++p;
    out.append(run, p - run);
    if (p == end) break;
    const unsigned char c = static_cast<unsigned char>(*p++);
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      case '\r': out += "&#13;"; break;
      case '\n': out += "&#10;"; break;
      default:  // '\t'
        out += "&#9;";
        break;
    }
  }
}

// Character data: counted first, then written through a pointer into exactly that much
// room, since answers carry tens of MB of markup-dense value text (about one byte in four
// needs an entity) and per-character appends would dominate. Extra: the bytes each character
// adds when escaped.
struct TTextGrowth {
  std::array<uint8_t, 256> Extra{};
  constexpr TTextGrowth() {
    Extra['\r'] = 4;  // "&#13;"
    Extra['&'] = 4;
    Extra['<'] = 3;
    Extra['>'] = 3;
  }
};
constexpr TTextGrowth kTextGrowth;

// REQUIRES: IsXMLChars(text).
void AppendXMLTextChars(std::string& out, std::string_view text) {
  const size_t start = out.size();
  size_t size = text.size();
  for (const char c : text) size += kTextGrowth.Extra[static_cast<unsigned char>(c)];
  // Room for the closing markup that follows, so that it does not move the whole text again.
  if (out.capacity() < start + size) out.reserve(start + size + 4096);
  out.resize(start + size);
  char* p = out.data() + start;
  for (const char ch : text) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (kTextGrowth.Extra[c] == 0) {
      *p++ = ch;
      continue;
    }
    switch (c) {
      case '&':
        std::memcpy(p, "&amp;", 5);
        p += 5;
        break;
      case '<':
        std::memcpy(p, "&lt;", 4);
        p += 4;
        break;
      case '>':
        std::memcpy(p, "&gt;", 4);
        p += 4;
        break;
      default:  // '\r'
        std::memcpy(p, "&#13;", 5);
        p += 5;
        break;
    }
  }
}

}  // namespace

size_t EscapedXMLTextSize(std::string_view text) {
  size_t size = 0;
  for (;;) {
    const size_t good = XMLCharsPrefix(text);
    size += good;
    for (const char c : text.substr(0, good)) size += kTextGrowth.Extra[static_cast<unsigned char>(c)];
    text.remove_prefix(good);
    if (text.empty()) return size;
    size += kReplacementChar.size();
    text.remove_prefix(BadSequenceLength(text));
  }
}

void AppendXMLText(std::string& out, std::string_view text) { AppendMended(out, text, AppendXMLTextChars); }

void AppendXMLAttr(std::string& out, std::string_view text) {
  AppendMended(out, text, AppendEscapedChars<TMode::Attr>);
}

std::string HTMLEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  AppendMended(out, text, AppendEscapedChars<TMode::Html>);
  return out;
}

}  // namespace dct
