#include "recording/Sidecar.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <random>
#include <utility>

#include <nlohmann/json.hpp>

#include "recording/CsvRows.h"
#include "recording/OutputFile.h"

namespace quillbox::recording {

std::string Sidecar::Text(bool compact) const {
  using Json = nlohmann::ordered_json;
  Json j;
  j["uid"] = uid;
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
  j["first_frame"] = firstFrame;
  j["gap"] = gap ? Json{{"from_utc", gap->fromUtc}, {"to_utc", gap->toUtc}, {"frames", gap->frames}}
                 : Json(nullptr);
  return j.dump(compact ? -1 : 2, ' ', false, Json::error_handler_t::replace) + "\n";
}

bool Sidecar::Parse(const std::string& text, Sidecar& out, std::string& error) {
  // Strict: the whole text is one JSON object (trailing bytes, NULs included, are an error).
  // The parser takes a NUL for the end of its input, so NULs are refused first.
  const bool nul = text.find('\0') != std::string::npos;
  const nlohmann::json j = nul ? nlohmann::json() : nlohmann::json::parse(text, nullptr, false);
  if (nul || j.is_discarded() || !j.is_object()) {
    error = "not a JSON object";
    return false;
  }
  try {
    Sidecar d;
    d.uid = j.value("uid", "");
    d.startUtc = j.value("start_utc", "");
    d.rateRequested = j.value("rate_requested", 0.0);
    d.rate = j.value("rate", 0.0f);
    d.serial = j.value("serial", "");
    d.raw = j.value("raw", false);
    d.frames = j.value("frames", int64_t{0});
    d.framesExpected = j.value("frames_expected", int64_t{0});
    d.complete = j.value("complete", false);
    d.stopReason = j.value("stop_reason", "");
    if (j.contains("error") && j["error"].is_string()) d.error = j["error"].get<std::string>();
    d.firstFrame = j.value("first_frame", int64_t{0});
    if (j.contains("gap") && j["gap"].is_object())
      d.gap = Gap{j["gap"].value("from_utc", ""), j["gap"].value("to_utc", ""),
                  j["gap"].value("frames", int64_t{0})};
    const auto channels = j.value("channels", std::vector<int>{});
    const auto names = j.value("names", std::vector<std::string>{});
    const auto units = j.value("units", std::vector<std::string>{});
    const auto scales = j.value("scales", std::vector<float>{});
    // Scales may be missing (a description written by hand); names and units may not.
    if (names.size() != channels.size() || units.size() != channels.size() ||
        (!scales.empty() && scales.size() != channels.size())) {
      error = "its channels, names, units and scales differ in number";
      return false;
    }
    for (std::size_t i = 0; i < channels.size(); ++i) {
      RecordColumn c;
      c.channel = static_cast<int16_t>(channels[i]);
      c.name = names[i];
      c.unit = units[i];
      c.scale = scales.empty() ? 1.0f : scales[i];
      c.scaled = units[i] != "code" && std::isfinite(c.scale) && c.scale > 0;
      d.columns.push_back(std::move(c));
    }
    out = std::move(d);
    return true;
  } catch (const std::exception& e) {
    error = e.what();
    return false;
  }
}

namespace {

constexpr off_t kReservedBytes = off_t{256} * 1024;
constexpr off_t kLeastReservedBytes = 4096;

}  // namespace

SidecarFile::~SidecarFile() {
  if (reserved_ >= 0) ::close(reserved_);
}

void SidecarFile::Reserve() {
  reserved_ = ::open(FolderOf(path_).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0644);
  if (reserved_ < 0) return;  // a file system without unnamed files: no reserve
  // A nearly full disk still gets a small reserve: the description fits in a few KiB.
  for (off_t bytes = kReservedBytes; bytes >= kLeastReservedBytes; bytes /= 4) {
    if (::posix_fallocate(reserved_, 0, bytes) == 0) {
      reservedBytes_ = bytes;
      return;
    }
  }
  ::close(reserved_);
  reserved_ = -1;
}

bool SidecarFile::Write(const Sidecar& sidecar, std::string& error) {
  return ReplaceFileAtomically(path_, sidecar.Text(), error);
}

bool SidecarFile::WriteFinal(const Sidecar& sidecar, std::string& error) {
  std::string text = sidecar.Text();
  if (static_cast<off_t>(text.size()) > reservedBytes_) text = sidecar.Text(true);
  if (reserved_ < 0 || static_cast<off_t>(text.size()) > reservedBytes_)
    return ReplaceFileAtomically(path_, sidecar.Text(), error);
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

namespace {

std::string UtcText(std::chrono::system_clock::time_point now) {
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

}  // namespace

std::string NewUid() {
  std::random_device random;
  char text[40];
  std::snprintf(text, sizeof text, "%08x%08x%08x%08x", random(), random(), random(), random());
  return text;
}

std::string UtcNow() { return UtcText(std::chrono::system_clock::now()); }

double UtcSeconds(const std::string& utc) {
  std::tm tm{};
  int ms = 0;
  if (std::sscanf(utc.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3dZ", &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
                  &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &ms) != 7)
    return std::nan("");
  tm.tm_year -= 1900;
  tm.tm_mon -= 1;
  return static_cast<double>(timegm(&tm)) + ms / 1000.0;
}

std::string UtcPlus(const std::string& utc, double seconds) {
  const double base = UtcSeconds(utc);
  if (std::isnan(base)) return utc;
  return UtcText(std::chrono::system_clock::time_point(
      std::chrono::duration_cast<std::chrono::system_clock::duration>(
          std::chrono::duration<double>(base + seconds))));
}

}  // namespace quillbox::recording
