#include "cli/recording/Sidecar.h"

#include <chrono>
#include <cstdio>
#include <ctime>

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

bool Sidecar::Write(const std::string& path, std::string& failure) const {
  return ReplaceFileAtomically(path, Text(), failure);
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
