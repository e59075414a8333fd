// Shared libraries loaded at run time: open one, find its symbols, close it; and the file
// of the loaded module that holds a given address.
#pragma once

#include <string>

namespace dct {

// A loaded library; null stands for none.
using TDynamicLibrary = void*;

// Loads the library at Path with every symbol resolved at once and none of them made
// visible to libraries loaded later. Null when it cannot be loaded, and then, when Error is
// given, the loader's own text of why (dlerror; the system's text of LoadLibraryW's error,
// as UTF-8). A Path without a folder is searched for where the system's loader searches.
TDynamicLibrary OpenDynamicLibrary(const std::string& Path, std::string* Error = nullptr);
// Whether Path (UTF-8) names an existing file that is not a folder. The loader's error
// cannot tell a missing library from a present one that fails (a missing dependency of
// it reads the same on Windows), so callers that must tell them apart ask this first.
bool DynamicLibraryFileExists(const std::string& Path);
// The address of the symbol Name in Library, or null when it has none.
void* FindDynamicSymbol(TDynamicLibrary Library, const char* Name);
// REQUIRES: Library came from OpenDynamicLibrary and is closed once.
void CloseDynamicLibrary(TDynamicLibrary Library);

// The file of the shared library that holds Address, as the loader opened it. Empty text
// when nothing holds it, and on POSIX for the main program, whose file the loader does not
// name there (Windows names it).
std::string DynamicModulePath(const void* Address);

}  // namespace dct
