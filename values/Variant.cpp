// Variant: storage, array shape and conversions.
#include "values/Variant.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>

namespace dct {

struct Variant::Array {
  uint16_t elementKind = varVariant;
  int dims = 1;
  Bounds bounds[2];
  std::vector<Variant> items;  // row-major: (i, j) at (i - low1) * length2 + (j - low2)
};

namespace {

using Kind = EVariantError::Kind;

[[noreturn]] void Fail(Kind kind, const char* message) { throw EVariantError(kind, message); }

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
  throw EVariantError(Kind::TypeMismatch, std::string("Could not convert variant of type (") +
                                              KindName(from) + ") into type (" + to + ")");
}

[[noreturn]] void FailOverflow(const char* to) {
  throw EVariantError(Kind::Overflow, std::string("Overflow while converting variant to ") + to);
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
  // The short text's bytes run from text_ through num_: the layout ShortChars relies on.
  static_assert(sizeof(Variant) == 16);
  static_assert(offsetof(Variant, text_) == kShortTextAt);
  static_assert(offsetof(Variant, num_) == kShortTextAt + sizeof text_);
  static_assert(sizeof text_ + sizeof num_ == kShortText);
  return TextOfBlock(num_.text);
}

void Variant::Release() noexcept {
  if (kind_ == varOleStr && short_ == 0)
    delete[] num_.text;
  else if (kind_ == varArray)
    delete num_.arr;
}

Variant::Variant(const Variant& other) : kind_(other.kind_), short_(other.short_), num_(other.num_) {
  for (size_t k = 0; k < sizeof text_; ++k) text_[k] = other.text_[k];
  if (kind_ == varOleStr && short_ == 0)
    num_.text = NewTextBlock(other.LongText());
  else if (kind_ == varArray)
    num_.arr = new Array(*other.num_.arr);
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
  kind_ = varEmpty;
  short_ = 0;
  num_.i64 = 0;
}

Variant Variant::MakeNull() {
  Variant v;
  v.kind_ = varNull;
  return v;
}

Variant Variant::FromString(std::string_view text) {
  Variant v;
  v.kind_ = varOleStr;
  if (text.size() <= kShortText) {
    v.short_ = static_cast<uint8_t>(text.size() + 1);
    if (!text.empty()) std::memcpy(v.ShortChars(), text.data(), text.size());
  } else {
    v.num_.text = NewTextBlock(text);
  }
  return v;
}

Variant Variant::FromByte(uint8_t value) {
  Variant v;
  v.kind_ = varByte;
  v.num_.i64 = value;
  return v;
}

Variant Variant::FromSmallint(int16_t value) {
  Variant v;
  v.kind_ = varSmallint;
  v.num_.i64 = value;
  return v;
}

Variant Variant::FromInteger(int32_t value) {
  Variant v;
  v.kind_ = varInteger;
  v.num_.i64 = value;
  return v;
}

Variant Variant::FromSingle(float value) {
  Variant v;
  v.kind_ = varSingle;
  v.num_.f = value;
  return v;
}

Variant Variant::FromDouble(double value) {
  Variant v;
  v.kind_ = varDouble;
  v.num_.d = value;
  return v;
}

Variant Variant::FromCurrency(Currency value) {
  Variant v;
  v.kind_ = varCurrency;
  v.num_.i64 = value.Count;
  return v;
}

Variant Variant::FromBoolean(bool value) {
  Variant v;
  v.kind_ = varBoolean;
  v.num_.b = value;
  return v;
}

Variant Variant::FromDate(TDateTime value) {
  Variant v;
  v.kind_ = varDate;
  v.num_.d = value;
  return v;
}

// ---- Arrays ----

Variant Variant::CreateArray(std::initializer_list<Bounds> dims, uint16_t elementKind) {
  return CreateArray(std::vector<Bounds>(dims), elementKind);
}

Variant Variant::CreateArray(const std::vector<Bounds>& dims, uint16_t elementKind) {
  if (dims.empty() || dims.size() > 2) Fail(Kind::BadIndex, "An array has one or two dimensions");
  if (elementKind != varVariant && elementKind != varOleStr)
    Fail(Kind::TypeMismatch, "Array elements are of any kind or text");
  auto array = std::make_unique<Array>();
  array->elementKind = elementKind;
  array->dims = static_cast<int>(dims.size());
  size_t count = 1;
  for (size_t k = 0; k < dims.size(); ++k) {
    // In 64 bits: High - Low + 1 overflows int for extreme bounds.
    int64_t length = static_cast<int64_t>(dims[k].High) - dims[k].Low + 1;
    if (length < 0) Fail(Kind::BadIndex, "Negative array length");
    if (length > INT_MAX) Fail(Kind::BadIndex, "Array length out of range");
    array->bounds[k] = dims[k];
    count *= static_cast<size_t>(length);
  }
  // Elements start Empty; empty text in a text-only array is a string with no buffer.
  Variant blank;
  if (elementKind == varOleStr) blank = FromString(std::string_view());
  array->items.assign(count, blank);
  Variant v;
  v.kind_ = varArray;
  v.num_.arr = array.release();
  return v;
}

Variant Variant::ArrayOf(std::vector<Variant> values) {
  if (values.size() > static_cast<size_t>(INT_MAX)) Fail(Kind::BadIndex, "Array length out of range");
  auto array = std::make_unique<Array>();
  array->bounds[0] = Bounds{0, static_cast<int>(values.size()) - 1};
  array->items = std::move(values);
  Variant v;
  v.kind_ = varArray;
  v.num_.arr = array.release();
  return v;
}

Variant Variant::TableOf(std::vector<Variant> values, int columns) {
  if (columns < 1 || values.size() % static_cast<size_t>(columns) != 0)
    Fail(Kind::BadIndex, "Table cells do not fill whole rows");
  const size_t rows = values.size() / static_cast<size_t>(columns);
  if (rows > static_cast<size_t>(INT_MAX)) Fail(Kind::BadIndex, "Array length out of range");
  auto array = std::make_unique<Array>();
  array->dims = 2;
  array->bounds[0] = Bounds{0, static_cast<int>(rows) - 1};
  array->bounds[1] = Bounds{0, columns - 1};
  array->items = std::move(values);
  Variant v;
  v.kind_ = varArray;
  v.num_.arr = array.release();
  return v;
}

uint16_t Variant::VarType() const {
  return kind_ == varArray ? static_cast<uint16_t>(varArray | num_.arr->elementKind) : kind_;
}

int Variant::DimCount() const { return kind_ == varArray ? num_.arr->dims : 0; }

int Variant::LowBound(int dim) const {
  if (kind_ != varArray || dim < 1 || dim > num_.arr->dims) Fail(Kind::BadIndex, "Bad dimension");
  return num_.arr->bounds[dim - 1].Low;
}

int Variant::HighBound(int dim) const {
  if (kind_ != varArray || dim < 1 || dim > num_.arr->dims) Fail(Kind::BadIndex, "Bad dimension");
  return num_.arr->bounds[dim - 1].High;
}

const Variant::Array& Variant::ArrayFor(int dims) const {
  if (kind_ != varArray) Fail(Kind::BadIndex, "Variant is not an array");
  if (num_.arr->dims != dims) Fail(Kind::BadIndex, "Wrong number of array indices");
  return *num_.arr;
}

size_t Variant::Offset(int i) const {
  const Array& a = ArrayFor(1);
  if (i < a.bounds[0].Low || i > a.bounds[0].High) Fail(Kind::BadIndex, "Array index out of bounds");
  return static_cast<size_t>(static_cast<int64_t>(i) - a.bounds[0].Low);
}

size_t Variant::Offset(int i, int j) const {
  const Array& a = ArrayFor(2);
  if (i < a.bounds[0].Low || i > a.bounds[0].High || j < a.bounds[1].Low || j > a.bounds[1].High)
    Fail(Kind::BadIndex, "Array index out of bounds");
  size_t row = static_cast<size_t>(static_cast<int64_t>(i) - a.bounds[0].Low);
  size_t col = static_cast<size_t>(static_cast<int64_t>(j) - a.bounds[1].Low);
  return row * static_cast<size_t>(a.bounds[1].Length()) + col;
}

// The offset is taken first: it raises for a value that is not an array, before the
// array pointer is touched.
const Variant& Variant::At(int i) const {
  const size_t at = Offset(i);
  return num_.arr->items[at];
}
const Variant& Variant::At(int i, int j) const {
  const size_t at = Offset(i, j);
  return num_.arr->items[at];
}
Variant& Variant::Ref(int i) {
  const size_t at = Offset(i);
  return num_.arr->items[at];
}
Variant& Variant::Ref(int i, int j) {
  const size_t at = Offset(i, j);
  return num_.arr->items[at];
}

void Variant::Put(int i, Variant value) {
  size_t at = Offset(i);
  if (num_.arr->elementKind == varOleStr && value.kind_ != varOleStr) value = FromString(value.ToText());
  num_.arr->items[at] = std::move(value);
}

void Variant::Put(int i, int j, Variant value) {
  size_t at = Offset(i, j);
  if (num_.arr->elementKind == varOleStr && value.kind_ != varOleStr) value = FromString(value.ToText());
  num_.arr->items[at] = std::move(value);
}

// ---- Conversions ----

int32_t Variant::ToInteger() const {
  switch (kind_) {
    case varEmpty: return 0;
    case varBoolean: return num_.b ? -1 : 0;
    case varSmallint:
    case varInteger:
    case varByte: return static_cast<int32_t>(num_.i64);
    case varSingle: return DoubleToInteger(num_.f);
    case varDouble:
    case varDate: return DoubleToInteger(num_.d);
    case varCurrency: return CurrencyToInteger(CurrencyValue());
    case varOleStr: {
      double d;
      switch (ParseNumberText(StringValue(), d)) {
        case NumberTextResult::Ok: return DoubleToInteger(d);
        case NumberTextResult::OutOfRange: FailOverflow("Integer");
        case NumberTextResult::Malformed: break;
      }
      bool b;
      if (ParseBooleanWord(StringValue(), b)) return b ? 1 : 0;
      FailMismatch(kind_, "Integer");
    }
    default: FailMismatch(kind_, "Integer");
  }
}

double Variant::ToDouble() const {
  switch (kind_) {
    case varEmpty: return 0;
    case varBoolean: return num_.b ? -1 : 0;
    case varSmallint:
    case varInteger:
    case varByte: return static_cast<double>(num_.i64);
    case varSingle: return num_.f;
    case varDouble:
    case varDate: return num_.d;
    case varCurrency: return CurrencyValue().ToDouble();
    case varOleStr: {
      double d;
      switch (ParseNumberText(StringValue(), d)) {
        case NumberTextResult::Ok: return d;
        case NumberTextResult::OutOfRange: FailOverflow("Double");
        case NumberTextResult::Malformed: break;
      }
      FailMismatch(kind_, "Double");
    }
    default: FailMismatch(kind_, "Double");
  }
}

Currency Variant::ToCurrency() const {
  switch (kind_) {
    case varEmpty: return Currency{0};
    case varBoolean: return Currency{num_.b ? -Currency::kScale : 0};
    case varSmallint:
    case varInteger:
    case varByte: return Currency{num_.i64 * Currency::kScale};
    case varSingle: return DoubleToCurrency(num_.f);
    case varDouble:
    case varDate: return DoubleToCurrency(num_.d);
    case varCurrency: return CurrencyValue();
    case varOleStr: {
      double d;
      switch (ParseNumberText(StringValue(), d)) {
        case NumberTextResult::Ok: return DoubleToCurrency(d);
        case NumberTextResult::OutOfRange: FailOverflow("Currency");
        case NumberTextResult::Malformed: break;
      }
      FailMismatch(kind_, "Currency");
    }
    default: FailMismatch(kind_, "Currency");
  }
}

bool Variant::ToBoolean() const {
  switch (kind_) {
    case varEmpty: return false;
    case varBoolean: return num_.b;
    case varSmallint:
    case varInteger:
    case varByte:
    case varCurrency: return num_.i64 != 0;
    case varSingle: return num_.f != 0;
    case varDouble:
    case varDate: return num_.d != 0;
    case varOleStr: {
      double d;
      // A number too large for a double is still a number, and not 0.
      switch (ParseNumberText(StringValue(), d)) {
        case NumberTextResult::Ok: return d != 0;
        case NumberTextResult::OutOfRange: return true;
        case NumberTextResult::Malformed: break;
      }
      bool b;
      if (ParseBooleanWord(StringValue(), b)) return b;
      FailMismatch(kind_, "Boolean");
    }
    default: FailMismatch(kind_, "Boolean");
  }
}

std::string Variant::ToText() const {
  switch (kind_) {
    case varEmpty: return std::string();
    case varBoolean: return num_.b ? "True" : "False";
    case varSmallint:
    case varInteger:
    case varByte: return std::to_string(num_.i64);
    case varSingle: return FormatGeneralNumber(num_.f);
    case varDouble: return FormatGeneralNumber(num_.d);
    case varCurrency: return CurrencyText(CurrencyValue());
    case varDate: return HostDateText(num_.d);
    case varOleStr: return StringValue();
    default: FailMismatch(kind_, "OleStr");
  }
}

std::string Variant::ToTextOrEmpty() const { return kind_ == varNull ? std::string() : ToText(); }

bool operator==(const Variant& a, const Variant& b) {
  if (a.kind_ != b.kind_) return false;
  switch (a.kind_) {
    case varEmpty:
    case varNull: return true;
    case varBoolean: return a.num_.b == b.num_.b;
    case varSingle: return a.num_.f == b.num_.f;
    case varDouble:
    case varDate: return a.num_.d == b.num_.d;
    case varOleStr: return a.StringValue() == b.StringValue();
    case varArray: {
      const Variant::Array& x = *a.num_.arr;
      const Variant::Array& y = *b.num_.arr;
      if (x.elementKind != y.elementKind || x.dims != y.dims) return false;
      for (int k = 0; k < x.dims; ++k)
        if (x.bounds[k].Low != y.bounds[k].Low || x.bounds[k].High != y.bounds[k].High) return false;
      return x.items == y.items;
    }
    default: return a.num_.i64 == b.num_.i64;
  }
}

}  // namespace dct
