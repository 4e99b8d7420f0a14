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

// The open module's serial from the tools' description, "" when it has none.
std::string ModuleSerial(ITools& tools);

}  // namespace quillbox::recording
