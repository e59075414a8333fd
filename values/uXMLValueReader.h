// ReadXMLValue: the value text (see uXMLEncoder.h) read in one pass, straight into a Variant.
//
// No document tree and no copy of the text are made: the reader walks the text once, front to
// back, and builds each value as its element ends. What it holds besides the result is the
// elements of the arrays still open, a stack of the names of open elements it skips, and
// small buffers for text that needs decoding.
//
// Accepted text: an XML document in UTF-8 with one root element. Before the root: an optional
// byte-order mark, an optional XML declaration (only at the very start), then comments,
// processing instructions and white space; after it only the last three. No DOCTYPE.
// Inside elements: character data with the five predefined entities and decimal or
// hexadecimal character references, CDATA sections, comments, processing instructions and
// elements. Line breaks (CR LF, lone CR) read as LF in text and CDATA; in attribute values
// every tab, LF, CR and CR LF reads as one space; a CR written as &#13; stays a CR. A piece of
// character data that is only white space is dropped.
//
// Refused, besides what the value format refuses (see TXMLEncoder::Decode): anything that is
// not such a document, in particular an end tag that does not match its start tag, an unclosed
// element, a second root, text or CDATA outside the root, control characters other than tab,
// LF and CR, U+FFFE and U+FFFF (also as references), bytes that are not well-formed UTF-8 (an
// overlong form, an encoded surrogate, a code point above U+10FFFF, a stray or missing
// continuation byte), undefined or malformed references, a repeated attribute name
// on any element, '<' in an attribute value, "--" inside a comment, a misplaced XML declaration,
// "<!" other than a comment or CDATA (a DOCTYPE is refused as soon as it is seen, nothing of it
// is read), and arrays nested deeper than TXMLEncoder::kMaxNestingDepth. Taken as they stand:
// "]]>" may stand in character data, and the declaration's
// pseudo-attributes are checked for form only (the text is UTF-8 whatever encoding it names).
//
// The value: the root's name and attributes play no part; its children, by position, are the
// elements of the one-dimensional result. Children are elements, pieces of character data and
// CDATA sections (comments and processing instructions are not children); a child that is not
// an element reads as Empty. Arrays are built only from children actually read: r and c never
// size an allocation before the children are there.
//
// Raises EXMLDecodeError for everything it refuses. Never reads outside text.
#pragma once

#include <string_view>

#include "values/Variant.h"

namespace dct {

// Empty text has no root element and is refused; TXMLEncoder::Decode reads it as Empty first.
Variant ReadXMLValue(std::string_view text);

}  // namespace dct
