// Scaffolding shared by the tests: a temporary folder, a scoped environment variable and a
// bounded wait. Tests only; nothing in the server includes this.
#pragma once

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>

namespace dct::testing {

// A fresh folder below the system's temporary folder, removed with everything in it.
// Mode 0711 lets other users reach the folders below it (the access-grant tests need that).
class TempDir {
 public:
  explicit TempDir(const std::string& prefix = "dct_test") {
    namespace fs = std::filesystem;
    std::random_device random;
    std::error_code ec;
    // A name another test took meanwhile is passed over: creation is what claims it.
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
      const fs::path candidate = fs::temp_directory_path() / (prefix + "_" + std::to_string(random()));
      if (fs::create_directory(candidate, ec)) path_ = candidate.string();
    }
    if (path_.empty()) throw std::runtime_error("cannot create a temporary folder for " + prefix);
    fs::permissions(path_, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec, ec);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Sets the environment variable name to value, or unsets it with nullopt
// (TestSupport_posix.cpp, in the library dct_test_support).
void SetEnvironment(const char* name, const std::optional<std::string>& value);

// Sets (or, with nullopt, unsets) an environment variable for one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    SetEnvironment(name, value);
  }
  ~ScopedEnv() { SetEnvironment(name_, old_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

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
