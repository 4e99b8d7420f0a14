#include "recording/CsvRows.h"

#include <charconv>
#include <cmath>

namespace quillbox::recording {
namespace {

template <typename T>
void AppendInteger(std::string& out, T value) {
  char text[24];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  out.append(text, end);
}

// Seconds of frame `frame` at `rate`, as microseconds rounded to the nearest, written with six
// decimals: 12.345678.
void AppendTime(std::string& out, int64_t frame, double rate) {
  const auto us = std::llround(static_cast<double>(frame) * 1e6 / rate);
  const auto whole = us / 1000000;
  const auto part = us % 1000000;
  AppendInteger(out, whole);
  char digits[7] = {'.', '0', '0', '0', '0', '0', '0'};
  auto rest = part;
  for (int i = 6; i >= 1; --i, rest /= 10) digits[i] = static_cast<char>('0' + rest % 10);
  out.append(digits, sizeof digits);
}

void AppendValueExact(std::string& out, double value) {
  char text[40];
  const auto end =
      std::to_chars(text, text + sizeof text, value, std::chars_format::general, 7).ptr;
  out.append(text, end);
}

}  // namespace

// The same text as AppendValueExact, about twice as fast: a value from 1e-4 up to 1e6 is its
// seven significant digits as an integer, written with the decimal point put in and the trailing
// zeros left out. Values outside that range (scientific notation) and values within rounding
// error of a half in the last digit go the exact way.
void AppendCsvValue(std::string& out, double value) {
  static constexpr double kPow10[] = {1, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10};
  const double a = std::fabs(value);
  if (!(a >= 1e-4 && a < 1e6)) {
    AppendValueExact(out, value);
    return;
  }
  // Decimals for seven significant digits: 10 for [1e-4, 1e-3), ..., 1 for [1e5, 1e6).
  int decimals = 10;
  double scaled = a * kPow10[decimals];
  while (scaled >= 1e7 && decimals > 1) scaled = a * kPow10[--decimals];
  const double whole = std::floor(scaled);
  if (std::fabs(scaled - whole - 0.5) < 1e-6) {
    AppendValueExact(out, value);
    return;
  }
  auto digits = static_cast<uint64_t>(whole) + (scaled - whole > 0.5 ? 1 : 0);
  while (decimals > 0 && digits % 10 == 0) digits /= 10, --decimals;
  char text[24];
  char* end = text + sizeof text;
  char* p = end;
  for (int i = 0; i < decimals; ++i, digits /= 10) *--p = static_cast<char>('0' + digits % 10);
  if (decimals > 0) *--p = '.';
  do {
    *--p = static_cast<char>('0' + digits % 10);
    digits /= 10;
  } while (digits != 0);
  if (value < 0) *--p = '-';
  out.append(p, end);
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
  for (const RecordColumn& c : columns_) asCode_.push_back(raw || !c.scaled);
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
  for (std::size_t f = 0; f < frames; ++f) {
    const int64_t frame = firstFrame + static_cast<int64_t>(f);
    AppendInteger(out, frame);
    out += ',';
    AppendTime(out, frame, rate_);
    for (std::size_t j = 0; j < width; ++j) {
      const int16_t code = codes[f * width + j];
      out += ',';
      if (asCode_[j])
        AppendInteger(out, code);
      else
        AppendCsvValue(out, code / static_cast<double>(columns_[j].scale));
    }
    out += '\n';
  }
}

}  // namespace quillbox::recording
