// Variant: the dynamic value that every command takes and gives.
//
// A Variant holds one scalar of a fixed set of kinds, or an array of one or two dimensions
// whose elements are again Variants, nested to any depth. Kind codes are the OLE Automation
// VARIANT type codes; they never appear on the wire.
//
// Copying is deep: a copy of an array owns its own elements. Move large tables instead of
// copying them. A moved-from Variant is Empty.
//
// Conversions (ToInteger, ToDouble, ...) raise EVariantError; commands turn that into
// result code 1004, so the wording never reaches a caller.
//
// Host regional settings stand for "C": "." as decimal separator, no thousands separator,
// dates as "yyyy-mm-dd hh:nn:ss". The XML text form has its own fixed settings (uXMLEncoder).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "values/uDateTime.h"
#include "values/uNumberText.h"
#include "values/uVariantError.h"

namespace dct {

// Kind codes.
enum : uint16_t {
  varEmpty = 0,
  varNull = 1,
  varSmallint = 2,
  varInteger = 3,
  varSingle = 4,
  varDouble = 5,
  varCurrency = 6,
  varDate = 7,
  varOleStr = 8,
  varBoolean = 11,
  varVariant = 12,  // element kind of an array of any kind
  varByte = 17,
  varArray = 0x2000,  // added to the element kind: 8204 any kind, 8200 text only
};

// Fixed point with four decimals: a signed 64-bit count of ten-thousandths.
struct Currency {
  int64_t Count = 0;
  static constexpr int64_t kScale = 10000;
  double ToDouble() const { return static_cast<double>(Count) / kScale; }
  friend bool operator==(Currency, Currency) = default;
};

class Variant;

// The text of a string Variant: a view into the Variant, valid while the Variant lives
// unchanged. Where a std::string is asked for it converts to one, by copy.
class TVariantText : public std::string_view {
 public:
  using std::string_view::basic_string_view;
  constexpr TVariantText(std::string_view text) : std::string_view(text) {}
  operator std::string() const { return std::string(data(), size()); }
};

// Dimension bounds, inclusive: length is High - Low + 1 and may be 0.
struct TBounds {
  int Low = 0;
  int High = -1;
  int Length() const { return High - Low + 1; }
};

class Variant {
 public:
  Variant() = default;  // Empty
  Variant(const Variant& other);
  Variant(Variant&& other) noexcept;
  Variant& operator=(const Variant& other);
  Variant& operator=(Variant&& other) noexcept;
  ~Variant();

  // Scalar construction.
  static Variant MakeNull();
  static Variant FromString(std::string_view text);
  static Variant FromByte(uint8_t value);
  static Variant FromSmallint(int16_t value);
  static Variant FromInteger(int32_t value);
  static Variant FromSingle(float value);
  static Variant FromDouble(double value);
  static Variant FromCurrency(Currency value);
  static Variant FromBoolean(bool value);
  static Variant FromDate(TDateTime value);

  // Array creation. Every element starts Empty (empty text in a text-only array).
  // REQUIRES: one or two dimensions. Raises EVariantError for a negative length.
  static Variant CreateArray(std::initializer_list<TBounds> dims, uint16_t elementKind = varVariant);
  static Variant CreateArray(const std::vector<TBounds>& dims, uint16_t elementKind = varVariant);
  // One dimension, bounds 0..n-1, element i = values[i].
  static Variant ArrayOf(std::vector<Variant> values);
  // Two dimensions, bounds 0..n/columns-1 and 0..columns-1, element (i, j) =
  // values[i * columns + j]: a table built without a second copy of its cells. Raises
  // EVariantError unless columns >= 1 and n is a multiple of it.
  static Variant TableOf(std::vector<Variant> values, int columns);

  // Kind tests.
  uint16_t VarType() const;  // for arrays: varArray + element kind
  bool IsArray() const { return FKind == varArray; }
  bool IsNull() const { return FKind == varNull; }
  bool IsEmpty() const { return FKind == varEmpty; }

  // Array shape. DimCount is 0 for a scalar. dim is 1 or 2.
  int DimCount() const;
  int LowBound(int dim) const;
  int HighBound(int dim) const;
  int Length(int dim) const { return HighBound(dim) - LowBound(dim) + 1; }

  // Element access with exactly one index per dimension; raises EVariantError otherwise.
  // Put into a text-only array stores the value's text (ToText, with its errors).
  const Variant& At(int i) const;
  const Variant& At(int i, int j) const;
  void Put(int i, Variant value);
  void Put(int i, int j, Variant value);
  // Unchecked-shape mutable access for builders; same index rules as At. Elements are
  // contiguous in row-major order. In a text-only array the builder must store text.
  Variant& Ref(int i);
  Variant& Ref(int i, int j);

  void Clear();

  // Scalar payload reads; REQUIRES: the matching kind (StringValue: empty for other kinds).
  TVariantText StringValue() const {
    if (FKind != varOleStr) return {};
    if (FShort != 0) return {ShortChars(), FShort - 1u};
    return LongText();
  }
  double DoubleValue() const { return FNum.Double; }
  Currency CurrencyValue() const { return Currency{FNum.Int64}; }
  bool BooleanValue() const { return FNum.Boolean; }
  int64_t IntegerValue() const { return FNum.Int64; }  // Smallint, Integer, Byte
  float SingleValue() const { return FNum.Single; }

  // Scalar conversions.
  int32_t ToInteger() const;
  double ToDouble() const;
  Currency ToCurrency() const;
  bool ToBoolean() const;
  std::string ToText() const;
  std::string ToTextOrEmpty() const;  // Null gives empty text

  // The heap memory the value holds, its elements' included (not counting sizeof(Variant)
  // for the value itself): what a large answer costs before it is encoded.
  size_t HeapBytes() const;

  // Deep equality of kind and value (arrays: shape and every element).
  friend bool operator==(const Variant& a, const Variant& b);

 private:
  struct TArray;  // bounds, element kind, elements in row-major order

  // Text of up to kShortText bytes is held in the Variant itself: it starts in FText and
  // runs on into FNum, which follows FText directly (Variant.cpp checks the layout). Longer
  // text is a heap block: its size, then its bytes.
  static constexpr size_t kShortText = 13;
  static constexpr size_t kShortTextAt = 3;  // the offset of FText
  const char* ShortChars() const { return reinterpret_cast<const char*>(this) + kShortTextAt; }
  char* ShortChars() { return reinterpret_cast<char*>(this) + kShortTextAt; }
  TVariantText LongText() const;

  bool OwnsHeap() const { return (FKind == varOleStr && FShort == 0) || FKind == varArray; }
  void Release() noexcept;  // frees a heap payload; FKind is left as it was
  // Takes other's payload; other is left Empty. REQUIRES: *this holds no heap payload.
  void TakeFrom(Variant& other) noexcept {
    FKind = other.FKind;
    FShort = other.FShort;
    for (size_t k = 0; k < sizeof FText; ++k) FText[k] = other.FText[k];
    FNum = other.FNum;
    other.FKind = varEmpty;
    other.FShort = 0;
    other.FNum.Int64 = 0;
  }
  const TArray& ArrayFor(int dims) const;
  size_t Offset(int i) const;
  size_t Offset(int i, int j) const;

  // 16 bytes: the table of a catalogue load holds a million cells, most of them short
  // texts (barcodes, units) that would otherwise cost a heap block each. Arrays and long
  // text live on the heap.
  uint16_t FKind = varEmpty;
  uint8_t FShort = 0;  // text held in place: its size + 1; 0 for everything else
  char FText[5] = {};  // the first bytes of text held in place; the rest are FNum's
  union TNum {
    int64_t Int64;
    double Double;
    float Single;
    bool Boolean;
    char* HeapText;  // long text: its size (a size_t), then its bytes
    TArray* Array;
  } FNum{0};
};

inline Variant::Variant(Variant&& other) noexcept { TakeFrom(other); }

inline Variant& Variant::operator=(Variant&& other) noexcept {
  if (this != &other) {
    if (OwnsHeap()) Release();
    TakeFrom(other);
  }
  return *this;
}

inline Variant::~Variant() {
  if (OwnsHeap()) Release();
}

}  // namespace dct
