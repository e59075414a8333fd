#include "support/TestSupport.h"

#include <stdlib.h>
#include <windows.h>

#include "support/uWideText.h"

namespace dct::testing {

// The C runtime keeps its own copy of the environment, which getenv reads; the system's
// block is what child processes and GetEnvironmentVariableW see. Both are set. The runtime
// cannot hold an empty variable: an empty value unsets it for getenv.
void SetEnvironment(const char* name, const std::optional<std::string>& value) {
  const std::wstring wideName = Utf8ToWide(name);
  const std::wstring wideValue = value ? Utf8ToWide(*value) : std::wstring();
  _wputenv_s(wideName.c_str(), wideValue.c_str());
  SetEnvironmentVariableW(wideName.c_str(), value ? wideValue.c_str() : nullptr);
}

}  // namespace dct::testing
