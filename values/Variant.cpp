// Variant: storage, array shape and conversions.
#include "values/Variant.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>

namespace dct {

struct Variant::TArray {
  uint16_t ElementKind = varVariant;
  int Dims = 1;
  TBounds Bounds[2];
  std::vector<Variant> items;  // row-major: (i, j) at (i - low1) * length2 + (j - low2)
};

namespace {

using TKind = EVariantError::TKind;

[[noreturn]] void Fail(TKind kind, const char* message) { throw EVariantError(kind, message); }

const char* KindName(uint16_t kind) {
  switch (kind) {
    case varEmpty: return "Empty";
    case varNull: return "Null";
    case varSmallint: return "Smallint";
    case varInteger: return "Integer";
    case varSingle: return "Single";
    case varDouble: return "Double";
    case varCurrency: return "Currency";
    case varDate: return "Date";
    case varOleStr: return "OleStr";
    case varBoolean: return "Boolean";
    case varByte: return "Byte";
    default: return (kind & varArray) != 0 ? "Array" : "Unknown";
  }
}

[[noreturn]] void FailMismatch(uint16_t from, const char* to) {
  throw EVariantError(TKind::TypeMismatch, std::string("Could not convert variant of type (") +
                                               KindName(from) + ") into type (" + to + ")");
}

[[noreturn]] void FailOverflow(const char* to) {
  throw EVariantError(TKind::Overflow, std::string("Overflow while converting variant to ") + to);
}

// Halves go to the even neighbour, as the conversions of this system have always rounded.
double RoundHalfEven(double x) {
  double r = std::round(x);  // halves away from zero
  if (std::fabs(x - std::trunc(x)) == 0.5) r = 2.0 * std::round(x / 2.0);
  return r;
}

int32_t DoubleToInteger(double x) {
  double r = RoundHalfEven(x);
  if (!(r >= static_cast<double>(INT32_MIN) && r <= static_cast<double>(INT32_MAX))) FailOverflow("Integer");
  return static_cast<int32_t>(r);
}

Currency DoubleToCurrency(double x) {
  double r = RoundHalfEven(x * static_cast<double>(Currency::kScale));
  // 2^63 is exactly representable; anything at or above it does not fit a signed count.
  if (!(r >= -9223372036854775808.0 && r < 9223372036854775808.0)) FailOverflow("Currency");
  return Currency{static_cast<int64_t>(r)};
}

int32_t CurrencyToInteger(Currency c) {
  int64_t q = c.Count / Currency::kScale;
  int64_t rem = c.Count % Currency::kScale;  // same sign as Count
  int64_t half = Currency::kScale / 2;
  if (rem > half || (rem == half && (q % 2) != 0)) ++q;
  if (rem < -half || (rem == -half && (q % 2) != 0)) --q;
  if (q < INT32_MIN || q > INT32_MAX) FailOverflow("Integer");
  return static_cast<int32_t>(q);
}

std::string CurrencyText(Currency c) {
  uint64_t magnitude = c.Count < 0 ? 0 - static_cast<uint64_t>(c.Count) : static_cast<uint64_t>(c.Count);
  std::string out = c.Count < 0 ? "-" : "";
  out += std::to_string(magnitude / Currency::kScale);
  unsigned fraction = static_cast<unsigned>(magnitude % Currency::kScale);
  if (fraction != 0) {
    char digits[5];
    for (int k = 3; k >= 0; --k) {
      digits[k] = static_cast<char>('0' + fraction % 10);
      fraction /= 10;
    }
    int n = 4;
    while (digits[n - 1] == '0') --n;
    out += '.';
    out.append(digits, n);
  }
  return out;
}

std::string HostDateText(TDateTime value) {
  int y, m, d, h, mi, s, ms;
  DecodeDateTime(value, y, m, d, h, mi, s, ms);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", y, m, d, h, mi, s);
  return buf;
}

}  // namespace

// ---- Storage ----

namespace {

// A long text's heap block: its size, then its bytes.
char* NewTextBlock(std::string_view text) {
  const size_t size = text.size();
  char* block = new char[sizeof size + size];
  std::memcpy(block, &size, sizeof size);
  std::memcpy(block + sizeof size, text.data(), size);
  return block;
}

std::string_view TextOfBlock(const char* block) {
  size_t size;
  std::memcpy(&size, block, sizeof size);
  return std::string_view(block + sizeof size, size);
}

}  // namespace

TVariantText Variant::LongText() const {
  // The short text's bytes run from FText through FNum: the layout ShortChars relies on.
  static_assert(sizeof(Variant) == 16);
  static_assert(offsetof(Variant, FText) == kShortTextAt);
  static_assert(offsetof(Variant, FNum) == kShortTextAt + sizeof FText);
  static_assert(sizeof FText + sizeof FNum == kShortText);
  return TextOfBlock(FNum.HeapText);
}

void Variant::Release() noexcept {
  if (FKind == varOleStr && FShort == 0)
    delete[] FNum.HeapText;
  else if (FKind == varArray)
    delete FNum.Array;
}

Variant::Variant(const Variant& other) : FKind(other.FKind), FShort(other.FShort), FNum(other.FNum) {
  for (size_t k = 0; k < sizeof FText; ++k) FText[k] = other.FText[k];
  if (FKind == varOleStr && FShort == 0)
    FNum.HeapText = NewTextBlock(other.LongText());
  else if (FKind == varArray)
    FNum.Array = new TArray(*other.FNum.Array);
}

Variant& Variant::operator=(const Variant& other) {
  if (this != &other) {
    Variant copy(other);  // a throwing copy leaves *this unchanged
    *this = std::move(copy);
  }
  return *this;
}

void Variant::Clear() {
  if (OwnsHeap()) Release();
  FKind = varEmpty;
  FShort = 0;
  FNum.Int64 = 0;
}

Variant Variant::MakeNull() {
  Variant v;
  v.FKind = varNull;
  return v;
}

Variant Variant::FromString(std::string_view text) {
  Variant v;
  v.FKind = varOleStr;
  if (text.size() <= kShortText) {
    v.FShort = static_cast<uint8_t>(text.size() + 1);
    if (!text.empty()) std::memcpy(v.ShortChars(), text.data(), text.size());
  } else {
    v.FNum.HeapText = NewTextBlock(text);
  }
  return v;
}

Variant Variant::FromByte(uint8_t value) {
  Variant v;
  v.FKind = varByte;
  v.FNum.Int64 = value;
  return v;
}

Variant Variant::FromSmallint(int16_t value) {
  Variant v;
  v.FKind = varSmallint;
  v.FNum.Int64 = value;
  return v;
}

Variant Variant::FromInteger(int32_t value) {
  Variant v;
  v.FKind = varInteger;
  v.FNum.Int64 = value;
  return v;
}

Variant Variant::FromSingle(float value) {
  Variant v;
  v.FKind = varSingle;
  v.FNum.Single = value;
  return v;
}

Variant Variant::FromDouble(double value) {
  Variant v;
  v.FKind = varDouble;
  v.FNum.Double = value;
  return v;
}

Variant Variant::FromCurrency(Currency value) {
  Variant v;
  v.FKind = varCurrency;
  v.FNum.Int64 = value.Count;
  return v;
}

Variant Variant::FromBoolean(bool value) {
  Variant v;
  v.FKind = varBoolean;
  v.FNum.Boolean = value;
  return v;
}

Variant Variant::FromDate(TDateTime value) {
  Variant v;
  v.FKind = varDate;
  v.FNum.Double = value;
  return v;
}

// ---- Arrays ----

Variant Variant::CreateArray(std::initializer_list<TBounds> dims, uint16_t elementKind) {
  return CreateArray(std::vector<TBounds>(dims), elementKind);
}

Variant Variant::CreateArray(const std::vector<TBounds>& dims, uint16_t elementKind) {
  if (dims.empty() || dims.size() > 2) Fail(TKind::BadIndex, "An array has one or two dimensions");
  if (elementKind != varVariant && elementKind != varOleStr)
    Fail(TKind::TypeMismatch, "Array elements are of any kind or text");
  auto array = std::make_unique<TArray>();
  array->ElementKind = elementKind;
  array->Dims = static_cast<int>(dims.size());
  size_t count = 1;
  for (size_t k = 0; k < dims.size(); ++k) {
    // In 64 bits: High - Low + 1 overflows int for extreme bounds.
    int64_t length = static_cast<int64_t>(dims[k].High) - dims[k].Low + 1;
    if (length < 0) Fail(TKind::BadIndex, "Negative array length");
    if (length > INT_MAX) Fail(TKind::BadIndex, "Array length out of range");
    array->Bounds[k] = dims[k];
    count *= static_cast<size_t>(length);
  }
  // Elements start Empty; empty text in a text-only array is a string with no buffer.
  Variant blank;
  if (elementKind == varOleStr) blank = FromString(std::string_view());
  array->items.assign(count, blank);
  Variant v;
  v.FKind = varArray;
  v.FNum.Array = array.release();
  return v;
}

Variant Variant::ArrayOf(std::vector<Variant> values) {
  if (values.size() > static_cast<size_t>(INT_MAX)) Fail(TKind::BadIndex, "Array length out of range");
  auto array = std::make_unique<TArray>();
  array->Bounds[0] = TBounds{0, static_cast<int>(values.size()) - 1};
  array->items = std::move(values);
  Variant v;
  v.FKind = varArray;
  v.FNum.Array = array.release();
  return v;
}

Variant Variant::TableOf(std::vector<Variant> values, int columns) {
  if (columns < 1 || values.size() % static_cast<size_t>(columns) != 0)
    Fail(TKind::BadIndex, "Table cells do not fill whole rows");
  const size_t rows = values.size() / static_cast<size_t>(columns);
  if (rows > static_cast<size_t>(INT_MAX)) Fail(TKind::BadIndex, "Array length out of range");
  auto array = std::make_unique<TArray>();
  array->Dims = 2;
  array->Bounds[0] = TBounds{0, static_cast<int>(rows) - 1};
  array->Bounds[1] = TBounds{0, columns - 1};
  array->items = std::move(values);
  Variant v;
  v.FKind = varArray;
  v.FNum.Array = array.release();
  return v;
}

uint16_t Variant::VarType() const {
  return FKind == varArray ? static_cast<uint16_t>(varArray | FNum.Array->ElementKind) : FKind;
}

int Variant::DimCount() const { return FKind == varArray ? FNum.Array->Dims : 0; }

int Variant::LowBound(int dim) const {
  if (FKind != varArray || dim < 1 || dim > FNum.Array->Dims) Fail(TKind::BadIndex, "Bad dimension");
  return FNum.Array->Bounds[dim - 1].Low;
}

int Variant::HighBound(int dim) const {
  if (FKind != varArray || dim < 1 || dim > FNum.Array->Dims) Fail(TKind::BadIndex, "Bad dimension");
  return FNum.Array->Bounds[dim - 1].High;
}

const Variant::TArray& Variant::ArrayFor(int dims) const {
  if (FKind != varArray) Fail(TKind::BadIndex, "Variant is not an array");
  if (FNum.Array->Dims != dims) Fail(TKind::BadIndex, "Wrong number of array indices");
  return *FNum.Array;
}

size_t Variant::Offset(int i) const {
  const TArray& a = ArrayFor(1);
  if (i < a.Bounds[0].Low || i > a.Bounds[0].High) Fail(TKind::BadIndex, "Array index out of bounds");
  return static_cast<size_t>(static_cast<int64_t>(i) - a.Bounds[0].Low);
}

size_t Variant::Offset(int i, int j) const {
  const TArray& a = ArrayFor(2);
  if (i < a.Bounds[0].Low || i > a.Bounds[0].High || j < a.Bounds[1].Low || j > a.Bounds[1].High)
    Fail(TKind::BadIndex, "Array index out of bounds");
  size_t row = static_cast<size_t>(static_cast<int64_t>(i) - a.Bounds[0].Low);
  size_t col = static_cast<size_t>(static_cast<int64_t>(j) - a.Bounds[1].Low);
  return row * static_cast<size_t>(a.Bounds[1].Length()) + col;
}

// The offset is taken first: it raises for a value that is not an array, before the
// array pointer is touched.
const Variant& Variant::At(int i) const {
  const size_t at = Offset(i);
  return FNum.Array->items[at];
}
const Variant& Variant::At(int i, int j) const {
  const size_t at = Offset(i, j);
  return FNum.Array->items[at];
}
Variant& Variant::Ref(int i) {
  const size_t at = Offset(i);
  return FNum.Array->items[at];
}
Variant& Variant::Ref(int i, int j) {
  const size_t at = Offset(i, j);
  return FNum.Array->items[at];
}

void Variant::Put(int i, Variant value) {
  size_t at = Offset(i);
  if (FNum.Array->ElementKind == varOleStr && value.FKind != varOleStr) value = FromString(value.ToText());
  FNum.Array->items[at] = std::move(value);
}

void Variant::Put(int i, int j, Variant value) {
  size_t at = Offset(i, j);
  if (FNum.Array->ElementKind == varOleStr && value.FKind != varOleStr) value = FromString(value.ToText());
  FNum.Array->items[at] = std::move(value);
}

// ---- Conversions ----

int32_t Variant::ToInteger() const {
  switch (FKind) {
    case varEmpty: return 0;
    case varBoolean: return FNum.Boolean ? -1 : 0;
    case varSmallint:
    case varInteger:
    case varByte: return static_cast<int32_t>(FNum.Int64);
    case varSingle: return DoubleToInteger(FNum.Single);
    case varDouble:
    case varDate: return DoubleToInteger(FNum.Double);
    case varCurrency: return CurrencyToInteger(CurrencyValue());
    case varOleStr: {
      double d;
      switch (ParseNumberText(StringValue(), d)) {
        case TNumberTextResult::Ok: return DoubleToInteger(d);
        case TNumberTextResult::OutOfRange: FailOverflow("Integer");
        case TNumberTextResult::Malformed: break;
      }
      bool b;
      if (ParseBooleanWord(StringValue(), b)) return b ? 1 : 0;
      FailMismatch(FKind, "Integer");
    }
    default: FailMismatch(FKind, "Integer");
  }
}

double Variant::ToDouble() const {
  switch (FKind) {
    case varEmpty: return 0;
    case varBoolean: return FNum.Boolean ? -1 : 0;
    case varSmallint:
    case varInteger:
    case varByte: return static_cast<double>(FNum.Int64);
    case varSingle: return FNum.Single;
    case varDouble:
    case varDate: return FNum.Double;
    case varCurrency: return CurrencyValue().ToDouble();
    case varOleStr: {
      double d;
      switch (ParseNumberText(StringValue(), d)) {
        case TNumberTextResult::Ok: return d;
        case TNumberTextResult::OutOfRange: FailOverflow("Double");
        case TNumberTextResult::Malformed: break;
      }
      FailMismatch(FKind, "Double");
    }
    default: FailMismatch(FKind, "Double");
  }
}

Currency Variant::ToCurrency() const {
  switch (FKind) {
    case varEmpty: return Currency{0};
    case varBoolean: return Currency{FNum.Boolean ? -Currency::kScale : 0};
    case varSmallint:
    case varInteger:
    case varByte: return Currency{FNum.Int64 * Currency::kScale};
    case varSingle: return DoubleToCurrency(FNum.Single);
    case varDouble:
    case varDate: return DoubleToCurrency(FNum.Double);
    case varCurrency: return CurrencyValue();
    case varOleStr: {
      double d;
      switch (ParseNumberText(StringValue(), d)) {
        case TNumberTextResult::Ok: return DoubleToCurrency(d);
        case TNumberTextResult::OutOfRange: FailOverflow("Currency");
        case TNumberTextResult::Malformed: break;
      }
      FailMismatch(FKind, "Currency");
    }
    default: FailMismatch(FKind, "Currency");
  }
}

bool Variant::ToBoolean() const {
  switch (FKind) {
    case varEmpty: return false;
    case varBoolean: return FNum.Boolean;
    case varSmallint:
    case varInteger:
    case varByte:
    case varCurrency: return FNum.Int64 != 0;
    case varSingle: return FNum.Single != 0;
    case varDouble:
    case varDate: return FNum.Double != 0;
    case varOleStr: {
      double d;
      // A number too large for a double is still a number, and not 0.
      switch (ParseNumberText(StringValue(), d)) {
        case TNumberTextResult::Ok: return d != 0;
        case TNumberTextResult::OutOfRange: return true;
        case TNumberTextResult::Malformed: break;
      }
      bool b;
      if (ParseBooleanWord(StringValue(), b)) return b;
      FailMismatch(FKind, "Boolean");
    }
    default: FailMismatch(FKind, "Boolean");
  }
}

std::string Variant::ToText() const {
  switch (FKind) {
    case varEmpty: return std::string();
    case varBoolean: return FNum.Boolean ? "True" : "False";
    case varSmallint:
    case varInteger:
    case varByte: return std::to_string(FNum.Int64);
    case varSingle: return FormatGeneralNumber(FNum.Single);
    case varDouble: return FormatGeneralNumber(FNum.Double);
    case varCurrency: return CurrencyText(CurrencyValue());
    case varDate: return HostDateText(FNum.Double);
    case varOleStr: return StringValue();
    default: FailMismatch(FKind, "OleStr");
  }
}

std::string Variant::ToTextOrEmpty() const { return FKind == varNull ? std::string() : ToText(); }

size_t Variant::HeapBytes() const {
  if (FKind == varOleStr && FShort == 0) return sizeof(size_t) + LongText().size();
  if (FKind != varArray) return 0;
  size_t bytes = sizeof(TArray) + FNum.Array->items.capacity() * sizeof(Variant);
  for (const Variant& item : FNum.Array->items) bytes += item.HeapBytes();
  return bytes;
}

bool operator==(const Variant& a, const Variant& b) {
  if (a.FKind != b.FKind) return false;
  switch (a.FKind) {
    case varEmpty:
    case varNull: return true;
    case varBoolean: return a.FNum.Boolean == b.FNum.Boolean;
    case varSingle: return a.FNum.Single == b.FNum.Single;
    case varDouble:
    case varDate: return a.FNum.Double == b.FNum.Double;
    case varOleStr: return a.StringValue() == b.StringValue();
    case varArray: {
      const Variant::TArray& x = *a.FNum.Array;
      const Variant::TArray& y = *b.FNum.Array;
      if (x.ElementKind != y.ElementKind || x.Dims != y.Dims) return false;
      for (int k = 0; k < x.Dims; ++k)
        if (x.Bounds[k].Low != y.Bounds[k].Low || x.Bounds[k].High != y.Bounds[k].High) return false;
      return x.items == y.items;
    }
    default: return a.FNum.Int64 == b.FNum.Int64;
  }
}

}  // namespace dct
