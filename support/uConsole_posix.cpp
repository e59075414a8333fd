#include <stdio.h>
#include <unistd.h>

#include "support/uConsole.h"

namespace dct {

bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) == 1; }

}  // namespace dct
