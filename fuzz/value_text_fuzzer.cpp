// Fuzz target: the value text reader (TXMLEncoder::Decode), and the writer on what it reads.
//
// Whatever the reader takes, the writer must write, as XML characters, and the reader must
// take that back as the same value, but for what the format itself loses on the way: a
// string of white space only reads back empty, line breaks read back as LF, and a number
// keeps the 15 significant digits it is written with. From the second pass on nothing
// changes any more: the text written is a fixed point.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/FuzzSupport.h"
#include "values/Variant.h"
#include "values/uUTF8.h"
#include "values/uXMLEncoder.h"

namespace dct::fuzz {
namespace {

// A string as it reads back: CR LF and lone CR made LF, white space only made empty.
std::string StringAfterRoundTrip(const std::string& text) {
  std::string out;
  bool space = true;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    space &= IsXMLSpace(c);
    if (c == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
      c = '\n';
    }
    out += c;
  }
  return space ? std::string() : out;
}

// v as it must read back after one pass through the writer.
Variant AfterRoundTrip(const Variant& v) {
  if (v.IsArray()) {
    Variant out = v;
    if (v.DimCount() == 2) {
      for (int i = v.LowBound(1); i <= v.HighBound(1); ++i)
        for (int j = v.LowBound(2); j <= v.HighBound(2); ++j) out.Ref(i, j) = AfterRoundTrip(v.At(i, j));
    } else {
      for (int i = v.LowBound(1); i <= v.HighBound(1); ++i) out.Ref(i) = AfterRoundTrip(v.At(i));
    }
    return out;
  }
  switch (v.VarType()) {
    case varOleStr: return Variant::FromString(StringAfterRoundTrip(v.StringValue()));
    case varDouble: {
      double d = 0;
      const std::string text = FormatGeneralNumber(v.DoubleValue());
      DCT_FUZZ_CHECK(ParseNumberText(text, d) == TNumberTextResult::Ok, text);
      return Variant::FromDouble(d);
    }
    default: return v;
  }
}

std::string Encode(const Variant& v, std::string_view source) {
  try {
    std::string text = TXMLEncoder().Encode(v);
    const size_t good = XMLCharsPrefix(text);
    DCT_FUZZ_CHECK(good == text.size(), text);
    return text;
  } catch (const EVariantError& e) {
    Fail("the writer refuses a value the reader gave", std::string(e.what()) + ": " + std::string(source));
  }
}

Variant Decode(std::string_view text) {
  try {
    return TXMLEncoder().Decode(text);
  } catch (const std::exception& e) {
    Fail("the reader refuses what the writer wrote", std::string(e.what()) + ": " + std::string(text));
  }
}

}  // namespace
}  // namespace dct::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace dct;
  using namespace dct::fuzz;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  Variant v1;
  try {
    v1 = TXMLEncoder().Decode(input);
  } catch (const EXMLDecodeError&) {
    return 0;
  } catch (const EVariantError&) {
    return 0;
  }
  const std::string t1 = Encode(v1, input);
  const Variant v2 = Decode(t1);
  DCT_FUZZ_CHECK(v2 == AfterRoundTrip(v1), t1);
  const std::string t2 = Encode(v2, t1);
  const Variant v3 = Decode(t2);
  DCT_FUZZ_CHECK(v3 == v2, t2);
  DCT_FUZZ_CHECK(Encode(v3, t2) == t2, t2);
  return 0;
}
