#include "recording/Request.h"

#include <cmath>

#include "recording/CsvRows.h"

namespace quillbox::recording {
namespace {

Problem Usage(std::string field, std::string message) {
  return {true, std::move(field), std::move(message)};
}

}  // namespace

std::optional<Problem> CheckRequest(const Request& r) {
  if (r.channels.size() > kMaxScanList)
    return Usage("channels", std::to_string(r.channels.size()) + " entries; at most " +
                                 std::to_string(kMaxScanList));
  for (int16_t c : r.channels)
    if (c < 0 || c > 31) return Usage("channels", std::to_string(c) + " is not a channel 0..31");
  if (r.rate) {
    const double rate = *r.rate;
    if (!std::isfinite(rate) || !std::isfinite(static_cast<float>(rate)))
      return Usage("rate", FloatText(rate) + " Hz is not a usable frame rate");
    if (!(rate >= kMinRate))
      return Usage(
          "rate", FloatText(rate) + " Hz is below the lowest rate, " + FloatText(kMinRate) + " Hz");
  }
  if (r.seconds && !(std::isfinite(*r.seconds) && *r.seconds > 0 && *r.seconds <= kMaxSeconds))
    return Usage("duration", FloatText(*r.seconds) +
                                 " is not a number of seconds above 0 and at most " +
                                 FloatText(kMaxSeconds));
  if (r.seconds && r.frames) return Usage("", "give a duration or a number of frames, not both");
  if (r.frames && *r.frames <= 0) return Usage("frames", "must be at least 1");
  if (r.frames && r.rate && static_cast<double>(*r.frames) / *r.rate > kMaxSeconds)
    return Usage("frames", std::to_string(*r.frames) + " frames at " + FloatText(*r.rate) +
                               " Hz last longer than " + FloatText(kMaxSeconds) + " s");
  if (!std::isfinite(r.syncEvery) || r.syncEvery < 0 || r.syncEvery > kMaxSyncSeconds)
    return Usage("sync-every", FloatText(r.syncEvery) +
                                   " is not a number of seconds between 0 and " +
                                   FloatText(kMaxSyncSeconds));
  if (r.ring && *r.ring <= 0) return Usage("ring", "must be at least 1");
  if (r.syncMode < -1 || r.syncMode > 2) return Usage("sync", "off, rising or falling");
  return std::nullopt;
}

std::optional<Problem> CheckChannelsUsable(IADC3& adc, const std::vector<int16_t>& channels) {
  for (int16_t c : channels) {
    if (adc.ChannelUnitName(c) != "??") continue;
    std::string name = adc.ChannelName(c);
    return Problem{false, "channels",
                   "channel " + std::to_string(c) + (name.empty() ? "" : " (" + name + ")") +
                       " has no known mezzanine in its slot; its values would be made up"};
  }
  return std::nullopt;
}

std::optional<Problem> ApplyScanListAndRate(IADC3& adc, const Request& request, std::string& note) {
  note.clear();
  const BoundedArray<int16_t> oldList = adc.InputChannels();
  const float oldRate = adc.Rate();
  const auto restore = [&] {
    adc.InputChannels(oldList);
    adc.Rate(oldRate);
  };
  if (!request.channels.empty()) {
    adc.InputChannels(BoundedArray<int16_t>::FromVector(request.channels));
    if (adc.InputChannels().values() != request.channels) {
      restore();
      return Problem{true, "channels",
                     "the driver did not take the scan list of " +
                         std::to_string(request.channels.size()) + " entries"};
    }
  }
  if (auto problem = CheckChannelsUsable(adc, adc.InputChannels().values())) {
    restore();
    return problem;
  }
  if (request.rate) {
    const float highest = adc.RateMax();
    float rate = static_cast<float>(*request.rate);
    if (*request.rate > highest) {
      rate = highest;
      note = "rate: " + FloatText(*request.rate) + " Hz is above the highest rate, " +
             FloatText(highest) + " Hz; recording at " + FloatText(highest) + " Hz";
    }
    adc.Rate(rate);
  }
  return std::nullopt;
}

}  // namespace quillbox::recording
