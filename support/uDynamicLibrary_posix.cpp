#include "support/uDynamicLibrary.h"

#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>

namespace dct {

TDynamicLibrary OpenDynamicLibrary(const std::string& Path, std::string* Error) {
  dlerror();  // a text left by an earlier call is not this one's
  TDynamicLibrary library = dlopen(Path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr && Error != nullptr) {
    const char* text = dlerror();
    *Error = text != nullptr ? text : "the loader gave no reason";
  }
  return library;
}

bool DynamicLibraryFileExists(const std::string& Path) {
  struct stat st {};
  return stat(Path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

void* FindDynamicSymbol(TDynamicLibrary Library, const char* Name) { return dlsym(Library, Name); }

void CloseDynamicLibrary(TDynamicLibrary Library) { dlclose(Library); }

// The link map, not dladdr's dli_fname: that one names the main program by argv[0].
std::string DynamicModulePath(const void* Address) {
  Dl_info info{};
  struct link_map* map = nullptr;
  if (dladdr1(Address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) != 0 && map != nullptr &&
      map->l_name != nullptr && map->l_name[0] != '\0') {
    return map->l_name;
  }
  return std::string();
}

}  // namespace dct
