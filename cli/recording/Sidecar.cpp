#include "cli/recording/Sidecar.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <utility>

#include <nlohmann/json.hpp>

#include "cli/TextTable.h"
#include "cli/recording/OutputFile.h"

namespace quillbox::cli {

std::string Sidecar::Text() const {
  using Json = nlohmann::ordered_json;
  Json j;
  j["start_utc"] = startUtc;
  j["rate_requested"] = rateRequested;
  j["rate"] = std::stod(FloatText(rate));
  j["channels"] = Json::array();
  j["names"] = Json::array();
  j["units"] = Json::array();
  j["scales"] = Json::array();
  for (const RecordColumn& c : columns) {
    j["channels"].push_back(c.channel);
    j["names"].push_back(c.name);
    j["units"].push_back(c.unit);
    j["scales"].push_back(std::stod(FloatText(c.scale)));
  }
  j["frames"] = frames;
  j["frames_expected"] = framesExpected;
  j["complete"] = complete;
  j["stop_reason"] = stopReason;
  j["error"] = error ? Json(*error) : Json(nullptr);
  j["serial"] = serial;
  j["raw"] = raw;
  return j.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

namespace {

constexpr off_t kReservedBytes = off_t{256} * 1024;

}  // namespace

SidecarFile::~SidecarFile() {
  if (reserved_ >= 0) ::close(reserved_);
}

void SidecarFile::Reserve() {
  reserved_ = ::open(FolderOf(path_).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0644);
  if (reserved_ < 0) return;  // a file system without unnamed files: no reserve
  if (::posix_fallocate(reserved_, 0, kReservedBytes) != 0) {
    ::close(reserved_);
    reserved_ = -1;
  }
}

bool SidecarFile::Write(const Sidecar& sidecar, std::string& error) {
  return ReplaceFileAtomically(path_, sidecar.Text(), error);
}

bool SidecarFile::WriteFinal(const Sidecar& sidecar, std::string& error) {
  const std::string text = sidecar.Text();
  if (reserved_ < 0 || static_cast<off_t>(text.size()) > kReservedBytes)
    return ReplaceFileAtomically(path_, text, error);
  // Written into blocks already allocated, named, then renamed over the old description.
  const int fd = std::exchange(reserved_, -1);
  const std::string temporary = path_ + ".final-" + std::to_string(::getpid());
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  int failure = 0;
  if (::pwrite(fd, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size()))
    failure = errno != 0 ? errno : EIO;
  if (failure == 0 && ::ftruncate(fd, static_cast<off_t>(text.size())) != 0) failure = errno;
  if (failure == 0 && ::fsync(fd) != 0) failure = errno;
  if (failure == 0 &&
      ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temporary.c_str(), AT_SYMLINK_FOLLOW) != 0)
    failure = errno;
  ::close(fd);
  if (failure == 0 && ::rename(temporary.c_str(), path_.c_str()) != 0) {
    failure = errno;
    ::unlink(temporary.c_str());
  }
  if (failure != 0) return ReplaceFileAtomically(path_, text, error);
  return true;
}

std::string UtcNow() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t t = std::chrono::system_clock::to_time_t(now);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm tm{};
  gmtime_r(&t, &tm);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms));
  return text;
}

}  // namespace quillbox::cli
