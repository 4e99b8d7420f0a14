#pragma once
// What a front end asks of a recording, and the one policy every front end applies to it: the
// numbers are checked before the module is touched, the scan list and rate are handed to the
// driver with the same limits everywhere, and a refused request leaves the driver as it was.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "quillbox/IADC3.h"
#include "quillbox/Tools.h"

namespace quillbox::recording {

// The longest recording taken on: time stamps and frame numbers stay exact far beyond it.
constexpr double kMaxSeconds = 1e9;  // about 31 years
// The lowest frame rate taken on: one frame a day and a little more.
constexpr double kMinRate = 1e-5;
constexpr std::size_t kMaxScanList = 32767;
constexpr double kMaxSyncSeconds = 86400;

struct Request {
  std::vector<int16_t> channels;  // empty: the driver's stored scan list
  std::optional<double> rate;     // Hz; empty: the stored rate
  std::optional<double> seconds;  // how long; neither this nor frames: until stopped
  std::optional<int64_t> frames;
  bool raw = false;  // codes instead of values in the channels' units
  std::optional<int32_t> ring;
  int syncMode = -1;  // 0 off, 1 rising, 2 falling; -1 as it is
  std::optional<int32_t> doStart, doStop;
  double syncEvery = 1.0;  // seconds between syncs of the files; 0: every poll
};

// Why a request cannot be recorded. `usage`: the request itself is wrong (exit 2 on the command
// line, ValueError in Python); otherwise the module refused it (exit 1, quillbox.Error).
struct Problem {
  bool usage = false;
  std::string field;  // "rate", "channels", ... ("" when no single value is at fault)
  std::string message;

  // "rate: nan Hz is not a usable frame rate", or the message alone.
  std::string Text() const { return field.empty() ? message : field + ": " + message; }
};

// Checks the request's own numbers; nothing is touched.
std::optional<Problem> CheckRequest(const Request& request);

// Channels of `channels` whose slot holds no known mezzanine (unit "??"): recording them would
// give made-up zeros. Empty when all are usable.
std::optional<Problem> CheckChannelsUsable(IADC3& adc, const std::vector<int16_t>& channels);

// Hands the scan list and the rate to the opened driver. A rate above the highest is taken as
// the highest, said in `note`. On a problem the driver's scan list and rate are put back.
std::optional<Problem> ApplyScanListAndRate(IADC3& adc, const Request& request, std::string& note);

}  // namespace quillbox::recording
