#pragma once
// The text of a recording's CSV file: a header "frame,time_s,NAME (UNIT),..." and one row per
// frame with the frame number, its time from the first frame in seconds (six decimals, rounded
// from the exact time) and each column's value in the channel's unit (seven significant digits)
// or its code (unit "code"). The numbers' text lives here, with the writer.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace quillbox::recording {

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
  std::vector<char> asCode_;    // per column: written as codes
  std::vector<double> scales_;  // per column: value = code / scale
  double rate_;
};

// A text cell, quoted when it holds a comma, a quote or a line break.
std::string CsvCell(const std::string& text);

// Appends `value` with seven significant digits, as std::to_chars in general format writes it:
// 62.49999, -0.0006103516, 3.051758e-05.
void AppendCsvValue(std::string& out, double value);

// The shortest decimal text that reads back as the same float: 1638.4, 62.499996, 1000.
std::string FloatText(double value);

// The same number as a double for a JSON value (0.016, not 0.01600000075995922).
double FloatValue(double value);

}  // namespace quillbox::recording
