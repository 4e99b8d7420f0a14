#include "sim/MachineState.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>

namespace quillbox::sim {
namespace {

// A round is lost only when the holder removed the file just as it was opened here.
constexpr int kOpenRounds = 8;

// The user's runtime folder for module files, "" when it cannot be used safely: it must be a real
// directory of this user that nobody else can write to.
std::string StateFolder() {
  std::string dir;
  if (const char* own = std::getenv("QUILLBOX_RUNTIME_DIR"); own != nullptr && *own != '\0')
    dir = own;
  else if (const char* xdg = std::getenv("XDG_RUNTIME_DIR"); xdg != nullptr && *xdg != '\0')
    dir = std::string(xdg) + "/quillbox";
  else
    dir = "/tmp/quillbox-" + std::to_string(::geteuid());
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return {};
  struct stat st {};
  if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() ||
      (st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
    return {};
  return dir;
}

// A lock on the whole file, owned by the open file description (released with its last
// descriptor, however the process ends, like flock), so that F_OFD_GETLK can ask for it without
// taking it.
struct flock WholeFile(short type) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  return lock;
}

bool SameFile(int fd, const std::string& path) {
  struct stat open {};
  struct stat named {};
  return ::fstat(fd, &open) == 0 && ::lstat(path.c_str(), &named) == 0 &&
         open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

// Takes `label` and two hex digits off the front of `text`.
bool TakeByte(std::string_view& text, std::string_view label, uint8_t& value) {
  if (text.substr(0, label.size()) != label || text.size() < label.size() + 2) return false;
  const char* first = text.data() + label.size();
  unsigned number = 0;
  const auto [end, error] = std::from_chars(first, first + 2, number, 16);
  if (error != std::errc() || end != first + 2) return false;
  value = static_cast<uint8_t>(number);
  text.remove_prefix(label.size() + 2);
  return true;
}

}  // namespace

std::string MachineKey(uint64_t benchTextHash, const std::string& attach) {
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(benchTextHash));
  return std::string(hex) + "-" + attach;
}

MachineLock::Result MachineLock::Take(const std::string& key, bool exclusive, bool create) {
  Release(false);
  const std::string folder = StateFolder();
  if (folder.empty()) return Result::Private;
  const std::string path = folder + "/" + key;
  const int flags = O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | (create ? O_CREAT : 0);
  for (int round = 0; round < kOpenRounds; ++round) {
    const int fd = ::open(path.c_str(), flags, 0600);
    if (fd < 0) return Result::Private;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      ::close(fd);
      return Result::Private;
    }
    struct flock lock = WholeFile(exclusive ? F_WRLCK : F_RDLCK);
    if (::fcntl(fd, F_OFD_SETLK, &lock) != 0) {
      const int error = errno;
      ::close(fd);
      return error == EAGAIN || error == EACCES ? Result::Busy : Result::Private;
    }
    // The holder before may have removed the file between the open and the lock: that file is
    // nobody's any more, take the one the name leads to now.
    if (SameFile(fd, path)) {
      fd_ = fd;
      exclusive_ = exclusive;
      path_ = path;
      return Result::Held;
    }
    ::close(fd);
  }
  return Result::Busy;
}

MachineLock::Result MachineLock::Acquire(const std::string& key, bool exclusive) {
  return Take(key, exclusive, true);
}

std::optional<LineState> MachineLock::Read() const {
  if (fd_ < 0) return std::nullopt;
  char buffer[64];
  const ssize_t n = ::pread(fd_, buffer, sizeof buffer, 0);
  if (n <= 0) return std::nullopt;
  std::string_view text(buffer, static_cast<size_t>(n));
  LineState lines;
  if (!TakeByte(text, "outputs ", lines.outputs) || !TakeByte(text, " aux ", lines.aux) ||
      text != "\n")
    return std::nullopt;
  return lines;
}

bool MachineLock::Write(LineState lines) const {
  if (fd_ < 0) return false;
  char text[32];
  const int n =
      std::snprintf(text, sizeof text, "outputs %02X aux %02X\n", lines.outputs, lines.aux);
  return ::pwrite(fd_, text, static_cast<size_t>(n), 0) == n && ::ftruncate(fd_, n) == 0;
}

void MachineLock::Release(bool atPowerUp) {
  if (fd_ < 0) return;
  if (atPowerUp && exclusive_ && SameFile(fd_, path_)) ::unlink(path_.c_str());
  ::close(fd_);
  fd_ = -1;
}

bool MachineLock::InUse(const std::string& key) {
  const std::string folder = StateFolder();
  if (folder.empty()) return false;
  const std::string path = folder + "/" + key;
  for (int round = 0; round < kOpenRounds; ++round) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return false;  // no file: nobody has the module
    struct flock lock = WholeFile(F_WRLCK);
    const bool asked = ::fcntl(fd, F_OFD_GETLK, &lock) == 0;
    // A holder that let go and removed the file meanwhile: ask about the file there is now.
    const bool same = SameFile(fd, path);
    ::close(fd);
    if (!asked) return false;
    if (same) return lock.l_type != F_UNLCK;
  }
  return true;
}

std::vector<int> MachineLock::Holders(const std::string& key) {
  std::vector<int> pids;
  const std::string folder = StateFolder();
  struct stat file {};
  if (folder.empty() || ::stat((folder + "/" + key).c_str(), &file) != 0) return pids;
  namespace fs = std::filesystem;
  std::error_code ec;
  for (const fs::directory_entry& process : fs::directory_iterator("/proc", ec)) {
    const std::string name = process.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const int pid = std::atoi(name.c_str());
    if (pid == ::getpid()) continue;
    std::error_code unreadable;  // another user's process, or one that just ended
    for (const fs::directory_entry& fd :
         fs::directory_iterator(process.path() / "fd", unreadable)) {
      struct stat open {};
      if (::stat(fd.path().c_str(), &open) == 0 && open.st_dev == file.st_dev &&
          open.st_ino == file.st_ino) {
        pids.push_back(pid);
        break;
      }
    }
  }
  return pids;
}

void MachineLock::Forget(const std::string& key) {
  MachineLock lock;
  if (lock.Take(key, true, false) == Result::Held) lock.Release(true);
}

}  // namespace quillbox::sim
