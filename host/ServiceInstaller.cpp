#include "host/ServiceInstaller.h"

#include <stdexcept>

#include "host/CommandLine.h"
#include "host/ServiceDefinition.h"

namespace dct {

namespace {

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
    text.replace(at, from.size(), to);
    at += to.size();
  }
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

}  // namespace dct
