// UTF-16 text for the Windows API. The program's text is UTF-8 everywhere; it becomes UTF-16
// only where it crosses into a wide Windows call, and comes back at once. Bytes that are not
// UTF-8 (and lone surrogates coming back) become U+FFFD rather than being dropped.
// Used by the _windows files only.
#pragma once

#include <string>

namespace dct {

std::wstring Utf8ToWide(const std::string& Text);
std::string WideToUtf8(const std::wstring& Text);

}  // namespace dct
