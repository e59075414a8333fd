#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "support/uPrivateFile.h"

namespace dct {

namespace {

constexpr mode_t kOwnerOnly = S_IRUSR | S_IWUSR;

std::runtime_error Failure(const std::string& what, const std::string& path, int error) {
  return std::runtime_error("cannot " + what + " \"" + path + "\": " + std::strerror(error));
}

// Closes the descriptor on every path out.
class TDescriptor {
 public:
  explicit TDescriptor(int fd) : FFd(fd) {}
  ~TDescriptor() {
    if (FFd >= 0) ::close(FFd);
  }
  TDescriptor(const TDescriptor&) = delete;
  TDescriptor& operator=(const TDescriptor&) = delete;
  int Get() const { return FFd; }
  int Close() {
    const int rc = ::close(FFd);
    FFd = -1;
    return rc;
  }

 private:
  int FFd;
};

}  // namespace

bool RegularFileIdentity(const std::string& Path, TFileIdentity& Identity, std::string& Error) {
  struct stat st {};
  if (::lstat(Path.c_str(), &st) != 0) {
    Error = std::strerror(errno);
    return false;
  }
  if (S_ISLNK(st.st_mode)) {
    Error = "it is a symbolic link";
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    Error = "it is not a regular file";
    return false;
  }
  Identity = TFileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
  return true;
}

void CreatePrivateFile(const std::string& Path, std::string_view Text) {
  // O_EXCL fails on any name that exists, a dangling link included, so nothing is followed.
  TDescriptor fd(::open(Path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kOwnerOnly));
  if (fd.Get() < 0) throw Failure("create", Path, errno);
  // What this call created goes again when a later step fails: no half file is left.
  auto fail = [&](const char* what, int error) {
    ::unlink(Path.c_str());
    return Failure(what, Path, error);
  };
  // The umask may only take bits away; this states the mode whatever it is.
  if (::fchmod(fd.Get(), kOwnerOnly) != 0) throw fail("set the mode of", errno);
  while (!Text.empty()) {
    const ssize_t n = ::write(fd.Get(), Text.data(), Text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw fail("write", n < 0 ? errno : EIO);
    Text.remove_prefix(static_cast<size_t>(n));
  }
  if (::fsync(fd.Get()) != 0) throw fail("sync", errno);
  if (fd.Close() != 0) throw fail("close", errno);
}

void SyncFile(const std::string& Path) {
  TDescriptor fd(::open(Path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (fd.Get() < 0) throw Failure("open", Path, errno);
  if (::fsync(fd.Get()) != 0) throw Failure("sync", Path, errno);
}

bool SyncFolder(const std::string& Folder) {
  TDescriptor fd(::open(Folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return fd.Get() >= 0 && ::fsync(fd.Get()) == 0;
}

}  // namespace dct
