#pragma once
// Decoding of the module's EEPROM pages: the board descriptor (page 0) and the mezzanine pages
// (1..8). Text bytes are Windows-1252 and become UTF-8.

#include <cstddef>
#include <cstdint>
#include <string>

#include "channels/ChannelTypes.h"

namespace quillbox {

struct BoardInfo;

// One Windows-1252 byte as UTF-8 (133 is "…", 177 is "±", 255 is "ÿ"; the five bytes the code
// page leaves undefined map to the C1 control characters of the same value).
std::string Windows1252Char(uint8_t byte);
std::string Windows1252ToUtf8(const uint8_t* bytes, std::size_t count);

// Cuts the text at its first NUL, then at its first "ÿ" (byte 255 of the descriptor); a
// terminator in the first position cuts nothing.
void TrimAtTerminator(std::string& text);

// The board revision letter: byte value + 64 as a character, so 1 gives "A". Values of 192 and
// more have no character and give "?".
std::string RevisionText(uint8_t value);

// Fills BoardName, SerialNumber, ProcessorName, BoardRevision and ClockFrequency, in that
// order, from a 128-byte board descriptor page.
void DecodeBoardDescriptor(const uint8_t* page, BoardInfo& board);

// Fills VersionMajor, VersionMinor, ModuleType and ModuleSerial from a 128-byte mezzanine page.
void DecodeMezzaninePage(const uint8_t* page, ModuleSlot& slot);

// The mezzanine serial text: prefix number, letter, then the low 20 bits of the number padded
// to six digits (5, 'A', 1234 give "5A001234").
std::string MezzanineSerial(uint8_t prefix, uint8_t letter, uint32_t number);

}  // namespace quillbox
