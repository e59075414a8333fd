#include "host/ServiceInstaller.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace dct {

namespace {

std::string SystemText(int error) { return std::strerror(error); }

std::string Joined(const std::vector<std::string>& args) {
  std::string out;
  for (const std::string& a : args) out += (out.empty() ? "" : " ") + a;
  return out;
}

}  // namespace

void TSystemctl::Reload() { RunCommand({"systemctl", "daemon-reload"}); }
void TSystemctl::EnableUnit(const std::string& Unit) { RunCommand({"systemctl", "enable", Unit}); }
void TSystemctl::DisableUnit(const std::string& Unit) { RunCommand({"systemctl", "disable", Unit}); }

bool SystemdRunning() {
  struct stat st {};
  return lstat("/run/systemd/system", &st) == 0 && S_ISDIR(st.st_mode);
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
