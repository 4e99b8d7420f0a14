#include "device/Descriptor.h"

#include "device/DeviceParts.h"

namespace quillbox {
namespace {

// Code points of Windows-1252 bytes 0x80..0x9F.
constexpr char32_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Cuts `text` before the first occurrence of `terminator` unless it stands at the start.
void CutAt(std::string& text, const std::string& terminator) {
  const auto pos = text.find(terminator);
  if (pos != std::string::npos && pos > 0) text.erase(pos);
}

// Removes spaces (only spaces) at both ends.
std::string TrimSpaces(const std::string& text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  const auto last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

}  // namespace

std::string Windows1252Char(uint8_t byte) {
  std::string out;
  AppendUtf8(out, (byte >= 0x80 && byte < 0xA0) ? kHighControls[byte - 0x80] : char32_t(byte));
  return out;
}

std::string Windows1252ToUtf8(const uint8_t* bytes, std::size_t count) {
  std::string out;
  out.reserve(count * 2);
  for (std::size_t i = 0; i < count; ++i) out += Windows1252Char(bytes[i]);
  return out;
}

void TrimAtTerminator(std::string& text) {
  CutAt(text, std::string(1, '\0'));
  CutAt(text, Windows1252Char(255));
}

std::string RevisionText(uint8_t value) {
  if (value >= 192) return "?";
  return Windows1252Char(static_cast<uint8_t>(value + 64));
}

void DecodeBoardDescriptor(const uint8_t* page, BoardInfo& board) {
  board.BoardName = TrimSpaces(Windows1252ToUtf8(page + 11, 7));
  TrimAtTerminator(board.BoardName);
  // The serial field holds 9 bytes; only the first 8 characters count.
  board.SerialNumber = Windows1252ToUtf8(page + 2, 8);
  TrimAtTerminator(board.SerialNumber);
  board.ProcessorName = TrimSpaces(Windows1252ToUtf8(page + 19, 5));
  TrimAtTerminator(board.ProcessorName);
  board.BoardRevision = RevisionText(page[18]);
  const uint32_t clock = uint32_t(page[24]) | uint32_t(page[25]) << 8 | uint32_t(page[26]) << 16 |
                         uint32_t(page[27]) << 24;
  board.ClockFrequency = static_cast<int32_t>(clock);
}

std::string MezzanineSerial(uint8_t prefix, uint8_t letter, uint32_t number) {
  std::string digits = std::to_string(number & 0xFFFFFu);
  if (digits.size() < 6) digits.insert(0, 6 - digits.size(), '0');
  return std::to_string(prefix) + Windows1252Char(letter) + digits;
}

void DecodeMezzaninePage(const uint8_t* page, ModuleSlot& slot) {
  slot.VersionMajor = page[0];
  slot.VersionMinor = page[1];
  slot.ModuleType = page[2];
  const uint32_t number = uint32_t(page[8]) | uint32_t(page[9]) << 8 | uint32_t(page[10]) << 16 |
                          uint32_t(page[11]) << 24;
  slot.ModuleSerial = MezzanineSerial(page[6], page[7], number);
}

}  // namespace quillbox
