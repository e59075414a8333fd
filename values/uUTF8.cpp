#include "values/uUTF8.h"

#include <cstdint>
#include <cstring>

namespace dct {

namespace {

constexpr uint64_t kOnes = 0x0101010101010101ull;
constexpr uint64_t kHighs = 0x8080808080808080ull;

// True when all eight bytes are printable ASCII (0x20..0x7F): the common case, checked a word
// at a time. A byte below 0x20 shows as a borrow into its high bit; a byte above 0x7F has it.
inline bool AllPrintableASCII(const unsigned char* p) {
  uint64_t w;
  std::memcpy(&w, p, sizeof w);
  return ((w | ((w - 0x20 * kOnes) & ~w)) & kHighs) == 0;
}

}  // namespace

bool IsXMLChar(uint32_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
         (c >= 0x10000 && c <= 0x10FFFF);
}

void AppendUTF8(uint32_t c, std::string& out) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

size_t CharacterReference(std::string_view text, uint32_t& code) {
  if (text.size() < 4 || text[0] != '&' || text[1] != '#') return 0;
  const bool hex = text[2] == 'x';
  size_t k = hex ? 3 : 2;
  const size_t digits = k;
  code = 0;
  for (; k < text.size(); ++k) {
    const char c = text[k];
    uint32_t d;
    if (c >= '0' && c <= '9')
      d = static_cast<uint32_t>(c - '0');
    else if (hex && c >= 'a' && c <= 'f')
      d = static_cast<uint32_t>(c - 'a' + 10);
    else if (hex && c >= 'A' && c <= 'F')
      d = static_cast<uint32_t>(c - 'A' + 10);
    else
      break;
    if (code < 0x110000) code = code * (hex ? 16 : 10) + d;  // at most 0x110000 * 16 + 15
  }
  if (code > 0x110000) code = 0x110000;
  if (k == digits || k == text.size() || text[k] != ';') return 0;
  return k + 1;
}

size_t XMLCharsPrefix(std::string_view text) {
  const auto* begin = reinterpret_cast<const unsigned char*>(text.data());
  const auto* p = begin;
  const auto* end = begin + text.size();
  for (;;) {
    while (end - p >= 8 && AllPrintableASCII(p)) p += 8;
    if (p == end) break;
    size_t n = XMLCharLength(reinterpret_cast<const char*>(p), reinterpret_cast<const char*>(end));
    if (n == 0) break;
    p += n;
  }
  return static_cast<size_t>(p - begin);
}

size_t BadSequenceLength(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const size_t size = text.size();
  int n = utf8::SequenceLength(p[0]);
  if (n <= 1) return 1;  // a lone byte that starts nothing, or a control character
  // The maximal subpart: the lead byte and the continuation bytes that still fit its form.
  unsigned char low, high;
  utf8::SecondByteRange(p[0], low, high);
  size_t k = 1;
  if (k < size && p[k] >= low && p[k] <= high) {
    ++k;
    while (k < static_cast<size_t>(n) && k < size && utf8::IsContinuation(p[k])) ++k;
  }
  // A whole sequence here is a well-formed character that XML does not allow: one stand-in.
  return k;
}

void AppendXMLChars(std::string& out, std::string_view text) {
  AppendMended(out, text, [](std::string& to, std::string_view run) { to.append(run); });
}

}  // namespace dct
