#include "service/uXMLEscape.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace dct {
namespace {

enum class Mode { Text, Attr, Html };

// For every byte: 0 when it is copied as is, else the index of its mode mask bit.
struct TEscapeTable {
  std::array<uint8_t, 256> needs{};  // bit 0: text, bit 1: attribute, bit 2: html
  constexpr TEscapeTable() {
    for (int c = 0; c < 0x20; ++c) needs[c] = 7;
    needs['\t'] = 2 | 4;
    needs['\n'] = 2 | 4;
    needs['&'] = 7;
    needs['<'] = 7;
    needs['>'] = 7;
    needs['"'] = 2 | 4;
    needs['\''] = 4;
  }
};
constexpr TEscapeTable kTable;

constexpr uint8_t Bit(Mode mode) { return mode == Mode::Text ? 1 : mode == Mode::Attr ? 2 : 4; }

void AppendReference(std::string& out, unsigned char c) {
  static const char kHex[] = "0123456789ABCDEF";
  out += "&#x";
  if (c >= 16) out += kHex[c >> 4];
  out += kHex[c & 15];
  out += ';';
}

template <Mode mode>
void AppendEscaped(std::string& out, std::string_view text) {
  constexpr uint8_t bit = Bit(mode);
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p < end) {
    const char* run = p;
    while (p < end && !(kTable.needs[static_cast<unsigned char>(*p)] & bit)) ++p;
    out.append(run, p - run);
    if (p == end) break;
    const unsigned char c = static_cast<unsigned char>(*p++);
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      case '\r':
        out += "&#13;";
        break;
      case '\n':
        out += "&#10;";
        break;
      case '\t':
        out += "&#9;";
        break;
      default:
        AppendReference(out, c);
        break;
    }
  }
}

}  // namespace

// Character data: counted first, then written through a pointer into exactly that much
// room, since answers carry tens of MB of markup-dense value text (about one byte in four
// needs an entity) and per-character appends would dominate.
// Bytes each character adds when escaped as character data.
struct TTextGrowth {
  std::array<uint8_t, 256> extra{};
  constexpr TTextGrowth() {
    for (int c = 0; c < 0x20; ++c) extra[c] = c >= 16 ? 5 : 4;  // "&#x1F;", "&#x1;"
    extra['\t'] = 0;
    extra['\n'] = 0;
    extra['\r'] = 4;  // "&#13;"
    extra['&'] = 4;
    extra['<'] = 3;
    extra['>'] = 3;
  }
};
constexpr TTextGrowth kTextGrowth;

size_t EscapedXMLTextSize(std::string_view text) {
  size_t size = text.size();
  for (const char c : text) size += kTextGrowth.extra[static_cast<unsigned char>(c)];
  return size;
}

void AppendXMLText(std::string& out, std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  const size_t start = out.size();
  const size_t size = EscapedXMLTextSize(text);
  // Room for the closing markup that follows, so that it does not move the whole text again.
  if (out.capacity() < start + size) out.reserve(start + size + 4096);
  out.resize(start + size);
  char* p = out.data() + start;
  for (const char ch : text) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (kTextGrowth.extra[c] == 0) {
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
      case '\r':
        std::memcpy(p, "&#13;", 5);
        p += 5;
        break;
      default:
        *p++ = '&';
        *p++ = '#';
        *p++ = 'x';
        if (c >= 16) *p++ = kHex[c >> 4];
        *p++ = kHex[c & 15];
        *p++ = ';';
        break;
    }
  }
}

void AppendXMLAttr(std::string& out, std::string_view text) {
  AppendEscaped<Mode::Attr>(out, text);
}

std::string HTMLEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  AppendEscaped<Mode::Html>(out, text);
  return out;
}

}  // namespace dct
