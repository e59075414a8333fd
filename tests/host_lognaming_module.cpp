// A second module for the log-naming test: a shared library that carries its own copy of
// the BaseLog unit (and of the folder helpers), loaded into the test program with dlopen.
#include <memory>
#include <string>

#include "support/BaseLog.h"
#include "support/uCommonUtils.h"

namespace {
std::unique_ptr<dct::TBaseLog> g_unit;
}  // namespace

extern "C" {

// Unit start of this module, with the machine-wide folder this module's copy should use.
__attribute__((visibility("default"))) void host_lognaming_module_start(const char* data_root) {
  dct::SetCommonAppDataRoot(data_root);
  g_unit = std::make_unique<dct::TBaseLog>();
}

__attribute__((visibility("default"))) void host_lognaming_module_end() { g_unit.reset(); }

__attribute__((visibility("default"))) int host_lognaming_module_is_host() {
  return g_unit && g_unit->IsHost() ? 1 : 0;
}

__attribute__((visibility("default"))) const char* host_lognaming_module_name() {
  return g_unit ? g_unit->LogFileName() : "";
}

}  // extern "C"
