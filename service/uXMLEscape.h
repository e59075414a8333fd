// Escaping of text for XML and HTML output, appended to a string without building a DOM.
// Answers carry tens of MB of value text, so the escapers copy runs of plain bytes at once.
//
// Text: "&", "<", ">" as entities; CR as "&#13;" so that it survives the reader's line-end
// normalisation. Attribute values also escape '"', TAB and LF. Whatever XML 1.0 cannot carry
// (other control characters, U+FFFE, U+FFFF, bytes that are not well-formed UTF-8) becomes
// U+FFFD, one for each bad stretch (see values/uUTF8.h): the output is always well-formed.
#pragma once

#include <string>
#include <string_view>

namespace dct {

void AppendXMLText(std::string& out, std::string_view text);
void AppendXMLAttr(std::string& out, std::string_view text);
// Like an attribute value, and "'" too: safe inside HTML text and quoted attributes.
std::string HTMLEscape(std::string_view text);
// The size AppendXMLText would add, for reserving the answer in one allocation.
size_t EscapedXMLTextSize(std::string_view text);

}  // namespace dct
