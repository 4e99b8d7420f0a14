#include "recording/CsvRows.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace quillbox::recording {
namespace {

// The longest text a cell's number takes: a 64-bit integer or a value of seven significant
// digits ("-1.234567e-100", "-0.0001234567"); a row's frame and time take two of them.
constexpr std::size_t kCellRoom = 24;

template <typename T>
char* WriteInteger(char* out, T value) {
  return std::to_chars(out, out + kCellRoom, value).ptr;
}

// Seconds of frame `frame` at `rate`, as microseconds rounded to the nearest, written with six
// decimals: 12.345678.
char* WriteTime(char* out, int64_t frame, double rate) {
  const auto us = std::llround(static_cast<double>(frame) * 1e6 / rate);
  out = WriteInteger(out, us / 1000000);
  *out++ = '.';
  auto rest = us % 1000000;
  for (int i = 5; i >= 0; --i, rest /= 10) out[i] = static_cast<char>('0' + rest % 10);
  return out + 6;
}

char* WriteValueExact(char* out, double value) {
  return std::to_chars(out, out + kCellRoom, value, std::chars_format::general, 7).ptr;
}

// The same text as WriteValueExact, about twice as fast: a value from 1e-4 up to 1e6 is its
// seven significant digits as an integer, written with the decimal point put in and the trailing
// zeros left out. Values outside that range (scientific notation) and values within rounding
// error of a half in the last digit go the exact way.
char* WriteCsvValue(char* out, double value) {
  static constexpr double kPow10[] = {1, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10};
  const double a = std::fabs(value);
  if (!(a >= 1e-4 && a < 1e6)) return WriteValueExact(out, value);
  // Decimals for seven significant digits: 10 for [1e-4, 1e-3), ..., 1 for [1e5, 1e6).
  int decimals = 10;
  double scaled = a * kPow10[decimals];
  while (scaled >= 1e7 && decimals > 1) scaled = a * kPow10[--decimals];
  const double whole = std::floor(scaled);
  if (std::fabs(scaled - whole - 0.5) < 1e-6) return WriteValueExact(out, value);
  auto digits = static_cast<uint64_t>(whole) + (scaled - whole > 0.5 ? 1 : 0);
  while (decimals > 0 && digits % 10 == 0) digits /= 10, --decimals;
  char text[kCellRoom];
  char* const end = text + sizeof text;
  char* p = end;
  for (int i = 0; i < decimals; ++i, digits /= 10) *--p = static_cast<char>('0' + digits % 10);
  if (decimals > 0) *--p = '.';
  do {
    *--p = static_cast<char>('0' + digits % 10);
    digits /= 10;
  } while (digits != 0);
  if (value < 0) *--p = '-';
  const auto length = static_cast<std::size_t>(end - p);
  std::memcpy(out, p, length);
  return out + length;
}

}  // namespace

void AppendCsvValue(std::string& out, double value) {
  char text[kCellRoom];
  out.append(text, static_cast<std::size_t>(WriteCsvValue(text, value) - text));
}

std::string FloatText(double value) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, static_cast<float>(value)).ptr;
  return std::string(text, end);
}

double FloatValue(double value) {
  const std::string text = FloatText(value);
  double result = 0;
  std::from_chars(text.data(), text.data() + text.size(), result);
  return result;
}

std::string CsvCell(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

CsvRows::CsvRows(std::vector<RecordColumn> columns, float rate, bool raw)
    : columns_(std::move(columns)), rate_(rate) {
  for (const RecordColumn& c : columns_) {
    asCode_.push_back(raw || !c.scaled);
    scales_.push_back(c.scale);
  }
}

std::string CsvRows::Header() const {
  std::string line = "frame,time_s";
  for (const RecordColumn& c : columns_) line += "," + CsvCell(c.name + " (" + c.unit + ")");
  return line + "\n";
}

void CsvRows::Append(std::string& out, std::span<const int16_t> codes, int64_t firstFrame) const {
  const std::size_t width = columns_.size();
  if (width == 0) return;
  const std::size_t frames = codes.size() / width;
  // Each row is written into one buffer and appended in one piece.
  std::vector<char> row((width + 2) * (kCellRoom + 1));
  for (std::size_t f = 0; f < frames; ++f) {
    const int64_t frame = firstFrame + static_cast<int64_t>(f);
    char* p = WriteInteger(row.data(), frame);
    *p++ = ',';
    p = WriteTime(p, frame, rate_);
    const int16_t* code = codes.data() + f * width;
    for (std::size_t j = 0; j < width; ++j) {
      *p++ = ',';
      p = asCode_[j] ? WriteInteger(p, code[j]) : WriteCsvValue(p, code[j] / scales_[j]);
    }
    *p++ = '\n';
    out.append(row.data(), static_cast<std::size_t>(p - row.data()));
  }
}

}  // namespace quillbox::recording
