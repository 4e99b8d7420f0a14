#pragma once
// Plain-text tables for the terminal: columns padded to the widest cell, counted in characters
// (UTF-8 aware), numbers right-aligned. Control characters in cells are shown as \xNN.

#include <ostream>
#include <string>
#include <vector>

#include "recording/CsvRows.h"

namespace quillbox::cli {

enum class Align { Left, Right };

struct Column {
  std::string title;
  Align align = Align::Left;
};

class TextTable {
 public:
  explicit TextTable(std::vector<Column> columns, std::string indent = "  ");
  void Add(std::vector<std::string> cells);
  void Print(std::ostream& out) const;

 private:
  std::vector<Column> columns_;
  std::string indent_;
  std::vector<std::vector<std::string>> rows_;
};

// Characters of a UTF-8 text (continuation bytes not counted).
std::size_t DisplayWidth(const std::string& text);
// The text with control characters (C0, DEL, C1) replaced by \xNN escapes.
std::string Printable(const std::string& text);
using recording::FloatText;

}  // namespace quillbox::cli
