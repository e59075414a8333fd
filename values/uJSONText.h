// JSON text: the writer's string escaping and a small reader for documents this program
// writes itself (the status document). The reader takes any well-formed JSON (RFC 8259)
// within kMaxJSONDepth levels and raises EJSONError on anything else; numbers keep their
// text, so an integer reads back exactly.
#pragma once

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace dct {

// Deep enough for any status document; shallow enough that recursion cannot exhaust the stack.
constexpr int kMaxJSONDepth = 64;

class EJSONError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TJSONValue {
 public:
  enum class TKind { Null, Boolean, Number, String, Array, Object };

  TKind Kind() const { return FKind; }
  bool IsNull() const { return FKind == TKind::Null; }

  // Each raises EJSONError when the value is of another kind (or the number is not an
  // integer, for AsInt64).
  bool AsBoolean() const;
  int64_t AsInt64() const;
  double AsDouble() const;
  const std::string& AsString() const;
  const std::vector<TJSONValue>& AsArray() const;
  // The member Name of an object; raises when it is missing.
  const TJSONValue& operator[](const std::string& Name) const;
  bool Has(const std::string& Name) const;

  static TJSONValue Parse(std::string_view text);

 private:
  friend class TJSONReader;
  TKind FKind = TKind::Null;
  bool FBoolean = false;
  std::string FText;  // a string's value, or a number's text
  std::vector<TJSONValue> FItems;
  std::map<std::string, TJSONValue> FMembers;
};

// Appends text as a JSON string, quotes included. REQUIRES: text is UTF-8.
void AppendJSONString(std::string& out, std::string_view text);

}  // namespace dct
