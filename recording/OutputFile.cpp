#include "recording/OutputFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <system_error>

namespace quillbox::recording {
namespace {

void SyncFolder(const std::string& path) {
  const int fd = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// Writes all of `text` unless the system refuses; returns the bytes written.
std::size_t WriteAll(int fd, std::string_view text, int& error) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      error = errno;
      return done;
    }
    if (n == 0) {
      error = ENOSPC;
      return done;
    }
    done += static_cast<std::size_t>(n);
  }
  error = 0;
  return done;
}

}  // namespace

std::string FolderOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string ErrorText(int error) {
  return std::error_code(error, std::generic_category()).message();
}

OutputFile::~OutputFile() {
  if (fd_ >= 0 && !standardOutput_) ::close(fd_);
}

void OutputFile::OpenStandardOutput() {
  path_ = "standard output";
  fd_ = STDOUT_FILENO;
  standardOutput_ = true;
  regular_ = false;
}

bool OutputFile::Fail(const std::string& what, int error) {
  error_ = what + " " + path_ + ": " + ErrorText(error);
  return false;
}

bool OutputFile::Open(const std::string& path, bool replace) {
  path_ = path;
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  created_ = fd_ >= 0;
  if (fd_ < 0 && errno == EEXIST) {
    // A device, a pipe or the standard output is written to, not replaced: no --force needed.
    struct stat existing {};
    struct stat out {};
    const bool stream = ::stat(path.c_str(), &existing) == 0 &&
                        (!S_ISREG(existing.st_mode) ||
                         (::fstat(STDOUT_FILENO, &out) == 0 && existing.st_dev == out.st_dev &&
                          existing.st_ino == out.st_ino));
    if (!replace && !stream) {
      error_ = path + " exists; choose another name or use --force to replace it";
      return false;
    }
    fd_ = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  }
  if (fd_ < 0) return Fail("cannot write", errno);
  if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    if (error == EWOULDBLOCK) {
      error_ = path + " is being written by another recording";
      return false;
    }
    return Fail("cannot lock", error);
  }
  struct stat st {};
  struct stat out {};
  // The process's own standard output (-o /dev/stdout into a file) is a stream too.
  const bool isStdout = ::fstat(STDOUT_FILENO, &out) == 0 && ::fstat(fd_, &st) == 0 &&
                        st.st_dev == out.st_dev && st.st_ino == out.st_ino;
  regular_ = ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode) && !isStdout;
  if (created_) SyncFolder(path);
  return true;
}

bool OutputFile::Truncate() {
  size_ = 0;
  if (!regular_ || standardOutput_) return true;
  if (::ftruncate(fd_, 0) != 0) return Fail("cannot write", errno);
  if (::lseek(fd_, 0, SEEK_SET) < 0) return Fail("cannot write", errno);
  return true;
}

bool OutputFile::Append(std::string_view text) {
  int error = 0;
  const std::size_t written = WriteAll(fd_, text, error);
  if (error == 0) {
    size_ += static_cast<long long>(written);
    return true;
  }
  // Cut a partly written line off again; the file ends after the last whole one.
  if (written > 0 && regular_) {
    if (::ftruncate(fd_, size_) == 0) ::lseek(fd_, size_, SEEK_SET);
  }
  return Fail("cannot write", error);
}

bool OutputFile::Sync() {
  if (!regular_) return true;
  if (::fdatasync(fd_) != 0) return Fail("cannot write", errno);
  return true;
}

void OutputFile::RemoveIfCreated() {
  if (created_) ::unlink(path_.c_str());
}

bool CanReplaceAtomically(const std::string& path, std::string& error) {
  std::string probe = path + ".XXXXXX";
  const int fd = ::mkstemp(probe.data());
  if (fd < 0) {
    error = "cannot write " + path + ": " + ErrorText(errno);
    return false;
  }
  ::close(fd);
  ::unlink(probe.c_str());
  return true;
}

bool ReplaceFileAtomically(const std::string& path, const std::string& text, std::string& error) {
  std::string temporary = path + ".XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) {
    error = "cannot write " + path + ": " + ErrorText(errno);
    return false;
  }
  int writeError = 0;
  WriteAll(fd, text, writeError);
  if (writeError == 0 && ::fchmod(fd, 0644) != 0) writeError = errno;
  if (writeError == 0 && ::fsync(fd) != 0) writeError = errno;
  if (::close(fd) != 0 && writeError == 0) writeError = errno;
  if (writeError == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) writeError = errno;
  if (writeError != 0) {
    ::unlink(temporary.c_str());
    error = "cannot write " + path + ": " + ErrorText(writeError);
    return false;
  }
  SyncFolder(path);
  return true;
}

}  // namespace quillbox::recording
