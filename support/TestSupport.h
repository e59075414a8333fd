// Scaffolding shared by the tests: a temporary folder, a scoped environment variable, a scoped
// data root, a file's text and a bounded wait. Tests only; nothing in the server includes this.
#pragma once

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>

#include "support/uCommonUtils.h"

namespace dct::testing {

// A fresh folder below the system's temporary folder, removed with everything in it.
// Mode 0711 lets other users reach the folders below it (the access-grant tests need that).
class TTempDir {
 public:
  explicit TTempDir(const std::string& prefix = "dct_test") {
    namespace fs = std::filesystem;
    std::random_device random;
    std::error_code ec;
    // A name another test took meanwhile is passed over: creation is what claims it.
    for (int attempt = 0; attempt < 100 && FPath.empty(); ++attempt) {
      const fs::path candidate = fs::temp_directory_path() / (prefix + "_" + std::to_string(random()));
      if (fs::create_directory(candidate, ec)) FPath = candidate.string();
    }
    if (FPath.empty()) throw std::runtime_error("cannot create a temporary folder for " + prefix);
    fs::permissions(FPath, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec, ec);
  }
  ~TTempDir() {
    std::error_code ec;
    std::filesystem::remove_all(FPath, ec);
  }
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;
  const std::string& Path() const { return FPath; }

 private:
  std::string FPath;
};

// Sets the environment variable name to value, or unsets it with nullopt
// (TestSupport_posix.cpp, in the library dct_test_support).
void SetEnvironment(const char* name, const std::optional<std::string>& value);

// Sets (or, with nullopt, unsets) an environment variable for one scope.
class TScopedEnv {
 public:
  TScopedEnv(const char* name, std::optional<std::string> value) : FName(name) {
    if (const char* old = std::getenv(name)) FOld = old;
    SetEnvironment(name, value);
  }
  ~TScopedEnv() { SetEnvironment(FName, FOld); }
  TScopedEnv(const TScopedEnv&) = delete;
  TScopedEnv& operator=(const TScopedEnv&) = delete;

 private:
  const char* FName;
  std::optional<std::string> FOld;
};

// Sets the machine-wide data folder for one scope and restores the default however the scope
// ends.
class TScopedDataRoot {
 public:
  explicit TScopedDataRoot(const std::string& root) { SetCommonAppDataRoot(root); }
  ~TScopedDataRoot() { SetCommonAppDataRoot(""); }
  TScopedDataRoot(const TScopedDataRoot&) = delete;
  TScopedDataRoot& operator=(const TScopedDataRoot&) = delete;
};

// A path written with "/" as this system writes it: the same text on POSIX.
inline std::string NativePath(std::string path) {
  for (char& c : path) {
    if (c == '/') c = kPathDelimiter[0];
  }
  return path;
}

// The whole content of a file, as bytes; empty when it cannot be read.
inline std::string ReadFileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Waits for a condition that other threads bring about; bounded, so a fault fails the test
// instead of hanging it. Never a way to order events: the condition itself is the signal.
template <typename Condition>
bool WaitFor(Condition condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace dct::testing
