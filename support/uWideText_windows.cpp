#include "support/uWideText.h"

#include <windows.h>

#include <climits>

namespace dct {

std::wstring Utf8ToWide(const std::string& Text) {
  if (Text.empty() || Text.size() > INT_MAX) return std::wstring();
  const int size = static_cast<int>(Text.size());
  const int length = MultiByteToWideChar(CP_UTF8, 0, Text.data(), size, nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, Text.data(), size, wide.data(), length);
  return wide;
}

std::string WideToUtf8(const std::wstring& Text) {
  if (Text.empty() || Text.size() > INT_MAX) return std::string();
  const int size = static_cast<int>(Text.size());
  const int length = WideCharToMultiByte(CP_UTF8, 0, Text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, Text.data(), size, text.data(), length, nullptr, nullptr);
  return text;
}

}  // namespace dct
