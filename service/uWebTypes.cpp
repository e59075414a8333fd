#include "service/uWebTypes.h"

namespace dct {
namespace {

char LowerASCII(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string PercentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '+') {
      out += ' ';
    } else if (c == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 && HexDigit(text[i + 2]) >= 0) {
      out += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

std::string_view TWebRequest::Path() const {
  std::string_view t = Target;
  return t.substr(0, t.find_first_of("?#"));
}

std::string_view TWebRequest::Query() const {
  std::string_view t = Target;
  const size_t q = t.find('?');
  if (q == std::string_view::npos) return {};
  t.remove_prefix(q + 1);
  return t.substr(0, t.find('#'));
}

std::string QueryField(std::string_view query, std::string_view name) {
  while (!query.empty()) {
    const size_t amp = query.find('&');
    std::string_view field = query.substr(0, amp);
    query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
    const size_t eq = field.find('=');
    if (PercentDecode(field.substr(0, eq)) != name) continue;
    return eq == std::string_view::npos ? std::string() : PercentDecode(field.substr(eq + 1));
  }
  return {};
}

bool SameTextASCII(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerASCII(a[i]) != LowerASCII(b[i])) return false;
  }
  return true;
}

bool StartsWithTextASCII(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && SameTextASCII(text.substr(0, prefix.size()), prefix);
}

}  // namespace dct
