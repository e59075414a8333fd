// XML characters in UTF-8: checking text that arrives, and mending text that leaves.
//
// An XML 1.0 document may hold only the characters tab, LF, CR, U+0020..U+D7FF,
// U+E000..U+FFFD and U+10000..U+10FFFF, written in well-formed UTF-8: the shortest form of
// each, no encoded surrogate, nothing above U+10FFFF. A client's text is checked against this
// before anything of it is stored; text that leaves the server is mended, so that text stored
// by hand or by an older build can never make an answer that a client's parser refuses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace dct {

// XML's white space: space, tab, LF, CR.
inline bool IsXMLSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
inline std::string_view TrimXMLSpace(std::string_view s) {
  while (!s.empty() && IsXMLSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsXMLSpace(s.back())) s.remove_suffix(1);
  return s;
}

// XML 1.0's Char production: tab, LF, CR, U+0020..U+D7FF, U+E000..U+FFFD, U+10000..U+10FFFF.
bool IsXMLChar(uint32_t code);

// REQUIRES: code <= 0x10FFFF and not a surrogate.
void AppendUTF8(uint32_t code, std::string& out);

// The character reference at the start of text ("&#65;" or "&#x41;", the x in lower case as
// XML writes it): its length up to and including the ';', or 0 when text does not start with
// one. code receives the code point, held at 0x110000 when larger, so that no sum wraps.
size_t CharacterReference(std::string_view text, uint32_t& code);

namespace utf8 {

inline bool IsContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// Bytes of the character a lead byte starts; 0 for a byte that cannot start one (a
// continuation byte, C0, C1, F5..FF).
inline int SequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead < 0xC2) return 0;
  if (lead < 0xE0) return 2;
  if (lead < 0xF0) return 3;
  if (lead < 0xF5) return 4;
  return 0;
}

// The range the byte after a lead byte must fall in: narrower than 80..BF after E0 (no
// overlong form), ED (no surrogate), F0 (no overlong form) and F4 (nothing above U+10FFFF).
inline void SecondByteRange(unsigned char lead, unsigned char& low, unsigned char& high) {
  low = 0x80;
  high = 0xBF;
  if (lead == 0xE0)
    low = 0xA0;
  else if (lead == 0xED)
    high = 0x9F;
  else if (lead == 0xF0)
    low = 0x90;
  else if (lead == 0xF4)
    high = 0x8F;
}

}  // namespace utf8

// The length of the XML character in well-formed UTF-8 that starts at p; 0 when none does.
// Inline, for writers that check text in the same pass that escapes it.
// REQUIRES: p < end.
inline size_t XMLCharLength(const char* at, const char* end) {
  const auto* p = reinterpret_cast<const unsigned char*>(at);
  const unsigned char lead = *p;
  if (lead < 0x80) return lead >= 0x20 || lead == '\t' || lead == '\n' || lead == '\r' ? 1 : 0;
  const int n = utf8::SequenceLength(lead);
  if (n == 0 || end - at < n) return 0;
  unsigned char low, high;
  utf8::SecondByteRange(lead, low, high);
  if (p[1] < low || p[1] > high) return 0;
  for (int k = 2; k < n; ++k)
    if (!utf8::IsContinuation(p[k])) return 0;
  // U+FFFE and U+FFFF are well-formed UTF-8 but not XML characters.
  if (lead == 0xEF && p[1] == 0xBF && p[2] >= 0xBE) return 0;
  return static_cast<size_t>(n);
}

// The length of the longest prefix of text made only of XML characters in well-formed UTF-8.
// So the text is good when the result is text.size(); otherwise the result is where the first
// bad sequence or character starts.
size_t XMLCharsPrefix(std::string_view text);

inline bool IsXMLChars(std::string_view text) { return XMLCharsPrefix(text) == text.size(); }

// U+FFFD, the stand-in for whatever cannot be written.
inline constexpr std::string_view kReplacementChar = "\xEF\xBF\xBD";

// The length of the ill-formed stretch at the start of text, as one replacement stands for
// it: the maximal subpart of a sequence (Unicode's "best practice", as in W3C's and WHATWG's
// decoders), at least one byte; a well-formed character that XML does not allow counts whole.
// REQUIRES: text is not empty and XMLCharsPrefix(text) == 0.
size_t BadSequenceLength(std::string_view text);

// Writes text to out: each run of XML characters through write(out, run), each bad stretch
// between them (see BadSequenceLength) as one U+FFFD. So whatever the text, out receives
// only XML characters, and nothing around a bad stretch is lost.
template <typename WriteChars>
void AppendMended(std::string& out, std::string_view text, WriteChars write) {
  for (;;) {
    const size_t good = XMLCharsPrefix(text);
    write(out, text.substr(0, good));
    text.remove_prefix(good);
    if (text.empty()) return;
    out.append(kReplacementChar);
    text.remove_prefix(BadSequenceLength(text));
  }
}

// AppendMended with runs copied as they are.
void AppendXMLChars(std::string& out, std::string_view text);

}  // namespace dct
