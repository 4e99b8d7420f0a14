#include "cli/TextTable.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace quillbox::cli {

TextTable::TextTable(std::vector<Column> columns, std::string indent)
    : columns_(std::move(columns)), indent_(std::move(indent)) {}

void TextTable::Add(std::vector<std::string> cells) {
  cells.resize(columns_.size());
  for (auto& cell : cells) cell = Printable(cell);
  rows_.push_back(std::move(cells));
}

void TextTable::Print(std::ostream& out) const {
  std::vector<std::size_t> widths(columns_.size());
  for (std::size_t c = 0; c < columns_.size(); ++c) {
    widths[c] = DisplayWidth(columns_[c].title);
    for (const auto& row : rows_) widths[c] = std::max(widths[c], DisplayWidth(row[c]));
  }
  const auto line = [&](const std::vector<std::string>& cells) {
    std::string text = indent_;
    for (std::size_t c = 0; c < cells.size(); ++c) {
      const std::string pad(widths[c] - DisplayWidth(cells[c]), ' ');
      text += columns_[c].align == Align::Right ? pad + cells[c] : cells[c] + pad;
      if (c + 1 < cells.size()) text += "  ";
    }
    text.erase(text.find_last_not_of(' ') + 1);
    out << text << '\n';
  };
  std::vector<std::string> titles;
  for (const auto& column : columns_) titles.push_back(column.title);
  line(titles);
  for (const auto& row : rows_) line(row);
}

std::size_t DisplayWidth(const std::string& text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

std::string Printable(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    unsigned code = 0x100;  // not a control character
    if (b < 0x20 || b == 0x7F) {
      code = b;
    } else if (b == 0xC2 && i + 1 < text.size()) {
      const auto next = static_cast<unsigned char>(text[i + 1]);
      if (next >= 0x80 && next <= 0x9F) {
        code = next;
        ++i;
      }
    }
    if (code == 0x100) {
      out += text[i];
    } else {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02X", code);
      out += escape;
    }
  }
  return out;
}

}  // namespace quillbox::cli
