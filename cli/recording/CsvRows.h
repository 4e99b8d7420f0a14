#pragma once
// The text of a recording's CSV file: a header "frame,time_s,NAME (UNIT),..." and one row per
// frame with the frame number, its time from the first frame in seconds (six decimals) and each
// column's value in the channel's unit (seven significant digits) or its code.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace quillbox::cli {

// One scan-list entry of a recording.
struct RecordColumn {
  int16_t channel = 0;
  std::string name, unit;
  float scale = 1.0f;
  bool scaled = false;  // false: no usable scale, the column holds codes
};

class CsvRows {
 public:
  CsvRows(std::vector<RecordColumn> columns, float rate, bool raw);

  std::string Header() const;
  // Appends the rows of `frames` frames of codes (one code per column, frame after frame),
  // numbered from `firstFrame`, to `out`.
  void Append(std::string& out, std::span<const int16_t> codes, int64_t firstFrame) const;

  const std::vector<RecordColumn>& Columns() const { return columns_; }

 private:
  std::vector<RecordColumn> columns_;
  std::vector<bool> asCode_;
  double rate_;
};

// A text cell, quoted when it holds a comma, a quote or a line break.
std::string CsvCell(const std::string& text);

}  // namespace quillbox::cli
