#include "buffer/SQLite3.h"

#include <mutex>

#include "support/uCommonUtils.h"
#include "support/uDynamicLibrary.h"

namespace dct {

TSQLiteAPI SQLite;

namespace {

// Load and unload run from the service-control thread, but a test or the host may race
// them against a device's Enable; the table itself is read without a lock once bound.
std::mutex GMutex;
TDynamicLibrary GHandle = nullptr;
std::string GLibraryName;

// Fills every slot from `handle`; returns the first required name that is missing, or null.
const char* BindEntryPoints(TDynamicLibrary handle, TSQLiteAPI& api) {
#define DCT_BIND_REQUIRED(name)                                                      \
  api.name = reinterpret_cast<decltype(api.name)>(FindDynamicSymbol(handle, #name)); \
  if (api.name == nullptr) return #name;
#define DCT_BIND_OPTIONAL(name, type) api.name = reinterpret_cast<type>(FindDynamicSymbol(handle, #name));
  DCT_SQLITE_REQUIRED_ENTRY_POINTS(DCT_BIND_REQUIRED)
  DCT_SQLITE_OPTIONAL_ENTRY_POINTS(DCT_BIND_OPTIONAL)
#undef DCT_BIND_REQUIRED
#undef DCT_BIND_OPTIONAL
  return nullptr;
}

}  // namespace

std::vector<std::string> SQLiteLibraryCandidates(const std::string& name) {
  if (name.empty()) {
    std::vector<std::string> candidates{GetProgramFolder() + DefaultSQLiteLibraryName()};
    if (SearchSystemForDefaultSQLiteLibrary()) candidates.push_back(DefaultSQLiteLibraryName());
    return candidates;
  }
  if (name.find_first_of(kPathDelimiters) != std::string::npos) return {name};
  return {GetProgramFolder() + name};
}

bool LoadSQLiteLibrary(const std::string& name) {
  std::lock_guard<std::mutex> lock(GMutex);
  if (GHandle != nullptr) return true;
  TDynamicLibrary handle = nullptr;
  for (const std::string& candidate : SQLiteLibraryCandidates(name)) {
    // A name without a folder is the system loader's to find: its failure is "not found".
    const bool searched = candidate.find_first_of(kPathDelimiters) == std::string::npos;
    if (!searched && !DynamicLibraryFileExists(candidate)) continue;
    std::string error;
    handle = OpenDynamicLibrary(candidate, &error);
    if (handle != nullptr) break;
    // There, but the loader refused it (another architecture, a damaged file, a missing
    // dependency): its own reason, never "not found".
    if (!searched) throw ESQLiteException("Cannot load the SQLite library \"" + candidate + "\": " + error);
  }
  if (handle == nullptr) return false;  // no engine: the entry points stay unbound
  TSQLiteAPI api;
  if (const char* missing = BindEntryPoints(handle, api)) {
    CloseDynamicLibrary(handle);
    throw ESQLiteException(std::string("Cannot get procedure \"") + missing + "\" address.");
  }
  SQLite = api;
  GHandle = handle;
  return true;
}

void UnloadSQLiteLibrary() {
  std::lock_guard<std::mutex> lock(GMutex);
  if (GHandle == nullptr) return;
  SQLite = TSQLiteAPI{};
  CloseDynamicLibrary(GHandle);
  GHandle = nullptr;
}

bool SQLiteLibraryLoaded() {
  std::lock_guard<std::mutex> lock(GMutex);
  return GHandle != nullptr;
}

void SetSQLiteLibraryName(const std::string& name) {
  std::lock_guard<std::mutex> lock(GMutex);
  GLibraryName = name;
}

const std::string& GetSQLiteLibraryName() {
  std::lock_guard<std::mutex> lock(GMutex);
  return GLibraryName;
}

const std::vector<std::string>& SQLiteRequiredEntryPoints() {
#define DCT_NAME(name) #name,
  static const std::vector<std::string> names = {DCT_SQLITE_REQUIRED_ENTRY_POINTS(DCT_NAME)};
#undef DCT_NAME
  return names;
}

const std::vector<std::string>& SQLiteOptionalEntryPoints() {
#define DCT_NAME(name, type) #name,
  static const std::vector<std::string> names = {DCT_SQLITE_OPTIONAL_ENTRY_POINTS(DCT_NAME)};
#undef DCT_NAME
  return names;
}

}  // namespace dct
