#include "values/uJSONText.h"

#include <charconv>
#include <cstdlib>

namespace dct {

namespace {

const char* KindName(TJSONValue::TKind kind) {
  switch (kind) {
    case TJSONValue::TKind::Null: return "null";
    case TJSONValue::TKind::Boolean: return "boolean";
    case TJSONValue::TKind::Number: return "number";
    case TJSONValue::TKind::String: return "string";
    case TJSONValue::TKind::Array: return "array";
    case TJSONValue::TKind::Object: return "object";
  }
  return "value";
}

void AppendUTF8(std::string& out, uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

}  // namespace

class TJSONReader {
 public:
  explicit TJSONReader(std::string_view text) : FText(text) {}

  TJSONValue Document() {
    TJSONValue value = Value(0);
    SkipSpace();
    if (FPos != FText.size()) Fail("text after the value");
    return value;
  }

 private:
  [[noreturn]] void Fail(const std::string& what) const {
    throw EJSONError("JSON: " + what + " at offset " + std::to_string(FPos));
  }

  void SkipSpace() {
    while (FPos < FText.size() &&
           (FText[FPos] == ' ' || FText[FPos] == '\t' || FText[FPos] == '\n' || FText[FPos] == '\r'))
      ++FPos;
  }

  bool Take(char c) {
    SkipSpace();
    if (FPos < FText.size() && FText[FPos] == c) {
      ++FPos;
      return true;
    }
    return false;
  }

  void Expect(char c) {
    if (!Take(c)) Fail(std::string("'") + c + "' expected");
  }

  bool TakeWord(std::string_view word) {
    if (FText.substr(FPos, word.size()) != word) return false;
    FPos += word.size();
    return true;
  }

  TJSONValue Value(int depth) {
    if (depth >= kMaxJSONDepth) Fail("nesting too deep");
    SkipSpace();
    if (FPos >= FText.size()) Fail("value expected");
    TJSONValue v;
    const char c = FText[FPos];
    if (c == '{') {
      ++FPos;
      v.FKind = TJSONValue::TKind::Object;
      if (Take('}')) return v;
      do {
        SkipSpace();
        std::string name = String();
        Expect(':');
        v.FMembers[std::move(name)] = Value(depth + 1);
      } while (Take(','));
      Expect('}');
    } else if (c == '[') {
      ++FPos;
      v.FKind = TJSONValue::TKind::Array;
      if (Take(']')) return v;
      do v.FItems.push_back(Value(depth + 1));
      while (Take(','));
      Expect(']');
    } else if (c == '"') {
      v.FKind = TJSONValue::TKind::String;
      v.FText = String();
    } else if (TakeWord("true") || TakeWord("false")) {
      v.FKind = TJSONValue::TKind::Boolean;
      v.FBoolean = c == 't';
    } else if (TakeWord("null")) {
      v.FKind = TJSONValue::TKind::Null;
    } else {
      v.FKind = TJSONValue::TKind::Number;
      v.FText = Number();
    }
    return v;
  }

  std::string Number() {
    const size_t start = FPos;
    auto digits = [&] {
      const size_t from = FPos;
      while (FPos < FText.size() && FText[FPos] >= '0' && FText[FPos] <= '9') ++FPos;
      return FPos - from;
    };
    if (FPos < FText.size() && FText[FPos] == '-') ++FPos;
    if (FPos < FText.size() && FText[FPos] == '0') {
      ++FPos;
    } else if (digits() == 0) {
      Fail("value expected");
    }
    if (FPos < FText.size() && FText[FPos] == '.') {
      ++FPos;
      if (digits() == 0) Fail("digit expected");
    }
    if (FPos < FText.size() && (FText[FPos] == 'e' || FText[FPos] == 'E')) {
      ++FPos;
      if (FPos < FText.size() && (FText[FPos] == '+' || FText[FPos] == '-')) ++FPos;
      if (digits() == 0) Fail("digit expected");
    }
    return std::string(FText.substr(start, FPos - start));
  }

  uint32_t Hex4() {
    if (FText.size() - FPos < 4) Fail("short \\u escape");
    uint32_t code = 0;
    for (int i = 0; i < 4; ++i) {
      const char h = FText[FPos++];
      code <<= 4;
      if (h >= '0' && h <= '9')
        code |= static_cast<uint32_t>(h - '0');
      else if (h >= 'a' && h <= 'f')
        code |= static_cast<uint32_t>(h - 'a' + 10);
      else if (h >= 'A' && h <= 'F')
        code |= static_cast<uint32_t>(h - 'A' + 10);
      else
        Fail("bad \\u escape");
    }
    return code;
  }

  std::string String() {
    if (FPos >= FText.size() || FText[FPos] != '"') Fail("string expected");
    ++FPos;
    std::string out;
    for (;;) {
      if (FPos >= FText.size()) Fail("unterminated string");
      const char c = FText[FPos++];
      if (c == '"') return out;
      if (static_cast<unsigned char>(c) < 0x20) Fail("control character in string");
      if (c != '\\') {
        out += c;
        continue;
      }
      if (FPos >= FText.size()) Fail("unterminated string");
      const char e = FText[FPos++];
      switch (e) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          uint32_t code = Hex4();
          if (code >= 0xD800 && code < 0xDC00) {
            if (!TakeWord("\\u")) Fail("lone surrogate");
            const uint32_t low = Hex4();
            if (low < 0xDC00 || low >= 0xE000) Fail("lone surrogate");
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          } else if (code >= 0xDC00 && code < 0xE000) {
            Fail("lone surrogate");
          }
          AppendUTF8(out, code);
          break;
        }
        default: Fail("bad escape");
      }
    }
  }

  std::string_view FText;
  size_t FPos = 0;
};

TJSONValue TJSONValue::Parse(std::string_view text) { return TJSONReader(text).Document(); }

namespace {

void Require(const TJSONValue& v, TJSONValue::TKind kind) {
  if (v.Kind() != kind)
    throw EJSONError(std::string("JSON: ") + KindName(kind) + " expected, found " + KindName(v.Kind()));
}

}  // namespace

bool TJSONValue::AsBoolean() const {
  Require(*this, TKind::Boolean);
  return FBoolean;
}

int64_t TJSONValue::AsInt64() const {
  Require(*this, TKind::Number);
  int64_t value = 0;
  const char* end = FText.data() + FText.size();
  const auto [ptr, ec] = std::from_chars(FText.data(), end, value);
  if (ec != std::errc() || ptr != end) throw EJSONError("JSON: integer expected, found " + FText);
  return value;
}

double TJSONValue::AsDouble() const {
  Require(*this, TKind::Number);
  return std::strtod(FText.c_str(), nullptr);  // the reader checked the number's form
}

const std::string& TJSONValue::AsString() const {
  Require(*this, TKind::String);
  return FText;
}

const std::vector<TJSONValue>& TJSONValue::AsArray() const {
  Require(*this, TKind::Array);
  return FItems;
}

const TJSONValue& TJSONValue::operator[](const std::string& Name) const {
  Require(*this, TKind::Object);
  const auto it = FMembers.find(Name);
  if (it == FMembers.end()) throw EJSONError("JSON: member \"" + Name + "\" missing");
  return it->second;
}

bool TJSONValue::Has(const std::string& Name) const {
  return FKind == TKind::Object && FMembers.count(Name) != 0;
}

void AppendJSONString(std::string& out, std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  out += '"';
  for (const char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          out += "\\u00";
          out += kHex[(c >> 4) & 0xF];
          out += kHex[c & 0xF];
        } else {
          out += c;
        }
    }
  }
  out += '"';
}

}  // namespace dct
