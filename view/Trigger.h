#pragma once
// The scope's software trigger: "CH:rising:LEVEL" or "CH:falling:LEVEL", optionally ":auto"
// (draw freely until the event) or ":normal" (draw nothing until it, the default). CH is a
// channel's number or name. The event is the first frame at or past the level after a frame
// before it.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "recording/CsvRows.h"

namespace quillbox::view {

struct TriggerSetting {
  std::size_t column = 0;  // of the scan list
  bool rising = true;
  double level = 0;
  bool automatic = false;
};

// Reads `text` against the scan list's columns; false with `error`.
bool ParseTrigger(const std::string& text, const std::vector<recording::RecordColumn>& columns,
                  TriggerSetting& trigger, std::string& error);

// The first frame in [from, to) whose value crossed the level from the frame before it, which
// must be at or after `earliest`.
std::optional<int64_t> FindCrossing(const TriggerSetting& trigger,
                                    const std::function<double(int64_t)>& valueAt, int64_t earliest,
                                    int64_t from, int64_t to);

}  // namespace quillbox::view
