#include "support/TestSupport.h"

#include <stdlib.h>

namespace dct::testing {

void SetEnvironment(const char* name, const std::optional<std::string>& value) {
  if (value)
    setenv(name, value->c_str(), 1);
  else
    unsetenv(name);
}

}  // namespace dct::testing
