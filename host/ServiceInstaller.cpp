#include "host/ServiceInstaller.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "host/CommandLine.h"
#include "host/ServiceDefinition.h"

extern char** environ;

namespace dct {

namespace {

std::string SystemText(int error) { return std::strerror(error); }

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
    text.replace(at, from.size(), to);
    at += to.size();
  }
}

std::string Joined(const std::vector<std::string>& args) {
  std::string out;
  for (const std::string& a : args) out += (out.empty() ? "" : " ") + a;
  return out;
}

// Folder path with one trailing "/" and no doubled ones, for comparing unit folders.
std::string FolderKey(const std::string& folder) {
  std::string out;
  for (char c : folder) {
    if (c == '/' && !out.empty() && out.back() == '/') continue;
    out += c;
  }
  if (out.empty() || out.back() != '/') out += '/';
  return out;
}

std::string UnitPath(const std::string& UnitDir) { return FolderKey(UnitDir) + kUnitFileName; }

}  // namespace

std::string ExecStartWord(const std::string& ProgramPath) {
  std::string word;
  bool quote = false;
  for (char c : ProgramPath) {
    switch (c) {
      case '%':
        word += "%%";
        break;  // specifiers are expanded in the whole command line
      // '$' stays: variables are substituted only in arguments, so "$$" would stay "$$" here.
      case '\\':
        word += "\\\\";
        quote = true;
        break;
      case '"':
        word += "\\\"";
        quote = true;
        break;
      case ' ':
      case '\t':
      case '\'':
      case ';':
        word += c;
        quote = true;
        break;
      default: word += c;
    }
  }
  return quote ? "\"" + word + "\"" : word;
}

std::string UnitFileText(const std::string& ProgramPath) {
  std::string text = UnitFileTemplate();
  ReplaceAll(text, "@DISPLAY_NAME@", kServiceDisplayName);
  ReplaceAll(text, "@SERVICE_DESCRIPTION@", kServiceDescription);
  ReplaceAll(text, "@EXEC_START@", ExecStartWord(ProgramPath));
  return text;
}

void TSystemctl::Reload() { RunCommand({"systemctl", "daemon-reload"}); }
void TSystemctl::EnableUnit(const std::string& Unit) { RunCommand({"systemctl", "enable", Unit}); }
void TSystemctl::DisableUnit(const std::string& Unit) { RunCommand({"systemctl", "disable", Unit}); }

bool SystemdRunning() {
  struct stat st {};
  return lstat("/run/systemd/system", &st) == 0 && S_ISDIR(st.st_mode);
}

bool UnitDirIsSystemd(const std::string& UnitDir) {
  return SystemdRunning() && FolderKey(UnitDir) == FolderKey(kDefaultUnitDir);
}

void InstallService(const std::string& UnitDir, const std::string& ProgramPath, IServiceManager* Manager) {
  const std::string path = UnitPath(UnitDir);
  WriteNewFile(path, UnitFileText(ProgramPath));
  if (Manager == nullptr) return;
  try {
    Manager->Reload();
    Manager->EnableUnit(kUnitFileName);
  } catch (...) {
    try {
      RemoveFile(path);
      Manager->Reload();
    } catch (...) {
      // The first failure is the one to report.
    }
    throw;
  }
}

void UninstallService(const std::string& UnitDir, IServiceManager* Manager) {
  const std::string path = UnitPath(UnitDir);
  if (!FileExists(path)) {
    throw std::runtime_error("the unit file " + path + " does not exist");
  }
  if (Manager != nullptr) Manager->DisableUnit(kUnitFileName);
  RemoveFile(path);
  if (Manager == nullptr) return;
  try {
    Manager->Reload();
  } catch (...) {
    // The unit is gone from disk; systemd forgets it at its next reload.
  }
}

void RunCommand(const std::vector<std::string>& Args) {
  std::vector<char*> argv;
  for (const std::string& a : Args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ);
  if (rc != 0) throw std::runtime_error(Joined(Args) + ": " + SystemText(rc));
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) throw std::runtime_error(Joined(Args) + ": " + SystemText(errno));
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return;
  if (WIFEXITED(status)) {
    throw std::runtime_error(Joined(Args) + " ended with status " + std::to_string(WEXITSTATUS(status)));
  }
  throw std::runtime_error(Joined(Args) + " ended abnormally");
}

void WriteNewFile(const std::string& Path, const std::string& Text) {
  const int fd = open(Path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    const int error = errno;
    if (error == EEXIST) throw std::runtime_error("the unit file " + Path + " already exists");
    throw std::runtime_error(Path + ": " + SystemText(error));
  }
  size_t done = 0;
  int error = 0;
  while (done < Text.size() && error == 0) {
    const ssize_t n = write(fd, Text.data() + done, Text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      error = n < 0 ? errno : EIO;
    else
      done += static_cast<size_t>(n);
  }
  if (error == 0 && fsync(fd) != 0) error = errno;
  if (close(fd) != 0 && error == 0) error = errno;
  if (error != 0) {
    unlink(Path.c_str());
    throw std::runtime_error(Path + ": " + SystemText(error));
  }
}

void RemoveFile(const std::string& Path) {
  if (unlink(Path.c_str()) != 0) throw std::runtime_error(Path + ": " + SystemText(errno));
}

bool FileExists(const std::string& Path) {
  struct stat st {};
  return lstat(Path.c_str(), &st) == 0;
}

}  // namespace dct
