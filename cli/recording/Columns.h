#pragma once
// What a recording of the driver's scan list is made of: one column per scan-list entry with the
// channel's name, unit and scale, and the module's serial. `quillbox record` and the scope's
// Record button describe their files with these, so both write the same CSV and FILE.json.

#include <string>
#include <vector>

#include "cli/recording/CsvRows.h"
#include "quillbox/IADC3.h"
#include "quillbox/Tools.h"

namespace quillbox::cli {

// The columns of the current scan list. A nameless channel is "chN"; a channel without a usable
// scale is recorded as codes (unit "code").
std::vector<RecordColumn> ScanListColumns(IADC3& adc);

// The open module's serial from the tools' description, "" when it has none.
std::string ModuleSerial(ITools& tools);

}  // namespace quillbox::cli
