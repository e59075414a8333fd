// TXMLEncoder: a Variant as XML text and back.
//
// Format (shared with the accounting driver and the terminal app, so it is an external
// interface):
//   <?xml version="1.0" encoding="UTF-8"?><sa><elm t="N">2.5</elm>...</sa>
// One <elm> per element of the top-level one-dimensional array. t is the kind letter:
// N number, D date ("yyyy.mm.dd hh:nn:ss"), S string, B boolean ("True"/"False"),
// A array (attributes r rows, c columns, "0" for one dimension; cells row by row),
// U empty or unknown. Line breaks in the text are CR LF.
//
// An encoder keeps nothing between calls: Encode writes the text directly and Decode builds
// the value straight from the text, so one call never sees what another left behind. Each
// service call still owns its own encoder.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

#include "values/Variant.h"

namespace dct {

class EXMLDecodeError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TXMLEncoder {
 public:
  // Arrays nested deeper than this are refused: the reader recurses once per level and
  // real values nest three deep (document table > row table > cell). The top-level array
  // is level 1. The writer refuses the same values, so that it never writes what the reader
  // would refuse and never recurses without bound either.
  static constexpr int kMaxNestingDepth = 64;

  TXMLEncoder();
  ~TXMLEncoder();
  TXMLEncoder(const TXMLEncoder&) = delete;
  TXMLEncoder& operator=(const TXMLEncoder&) = delete;

  // Empty text when varValue is not an array. Raises EVariantError for values outside the
  // model (a two-dimensional top-level array, nesting beyond kMaxNestingDepth, a number
  // that is not finite, a date outside the years 1 to 9999).
  std::string Encode(const Variant& varValue);

  // Empty text gives Empty; otherwise a one-dimensional array. Raises EXMLDecodeError
  // (or EVariantError) for text it cannot read, text that is not well-formed XML
  // included, and for any DOCTYPE: no entity is ever declared or expanded.
  Variant Decode(std::string_view strValue);
};

}  // namespace dct
