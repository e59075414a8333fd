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

// XML 1.0's Char production: tab, LF, CR, U+0020..U+D7FF, U+E000..U+FFFD, U+10000..U+10FFFF.
bool IsXMLChar(uint32_t code);

// REQUIRES: code <= 0x10FFFF and not a surrogate.
void AppendUTF8(uint32_t code, std::string& out);

// The character reference at the start of text ("&#65;" or "&#x41;", the x in lower case as
// XML writes it): its length up to and including the ';', or 0 when text does not start with
// one. code receives the code point, held at 0x110000 when larger, so that no sum wraps.
size_t CharacterReference(std::string_view text, uint32_t& code);

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
