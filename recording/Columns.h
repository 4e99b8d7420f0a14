#pragma once
// What a recording of the driver's scan list is made of: one column per scan-list entry with the
// channel's name, unit and scale, and the module's serial. Every front end describes its
// recordings with these.

#include <string>
#include <vector>

#include "quillbox/IADC3.h"
#include "quillbox/Tools.h"
#include "recording/CsvRows.h"

namespace quillbox::recording {

// The columns of the current scan list. A nameless channel is "chN"; a channel without a usable
// scale is recorded as codes (unit "code"), and with `raw` every column is (its scale kept, so
// that values can still be had as code / scale).
std::vector<RecordColumn> ScanListColumns(IADC3& adc, bool raw);

// The channels `text` names, comma-separated and in the order given (repeats allowed, as in a
// scan list): numbers 0..31, ascending ranges such as 16-18, and channel names as `names` gives
// them (names[c] is channel c's; any case), e.g. "0,16-18,AD-Ch1,TTL-In3". False with the
// reason for anything else. Every front end that takes channels as text selects them with this.
bool SelectChannels(const std::string& text, const std::vector<std::string>& names,
                    std::vector<int16_t>& channels, std::string& error);

// The names of the driver's channels by number (known once a module was opened).
std::vector<std::string> ChannelNames(IADC3& adc);

// The open module's serial from the tools' description, "" when it has none.
std::string ModuleSerial(ITools& tools);

}  // namespace quillbox::recording
