// EVariantError: what the value code raises for a conversion, a shape or a date it cannot
// make. Commands turn it into result code 1004, so its wording never reaches a caller.
#pragma once

#include <stdexcept>
#include <string>

namespace dct {

class EVariantError : public std::runtime_error {
 public:
  enum class TKind { TypeMismatch, Overflow, BadIndex };
  EVariantError(TKind kind, const std::string& message) : std::runtime_error(message), FKind(kind) {}
  TKind Kind() const { return FKind; }

 private:
  TKind FKind;
};

}  // namespace dct
