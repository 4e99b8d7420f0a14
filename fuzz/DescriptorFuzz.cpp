// EEPROM pages and channel sources of any content through the decoding, the channel model and
// the open sequence.

#include <cstdio>
#include <memory>
#include <string>

#include "channels/Catalogue.h"
#include "channels/ChannelList.h"
#include "device/Connection.h"
#include "device/Descriptor.h"
#include "device/DeviceChooser.h"
#include "device/Enumeration.h"
#include "device/SampleConversion.h"
#include "driver/DriverState.h"
#include "e270/E270API.h"
#include "fuzz/FuzzChecks.h"
#include "fuzz/FuzzInput.h"
#include "fuzz/FuzzTargets.h"
#include "sim/Bench.h"

namespace quillbox::fuzz {
namespace {

using Page = uint8_t[kEepromPageSize];

std::string HexPage(const uint8_t* page) {
  std::string out;
  char buf[4];
  for (int i = 0; i < kEepromPageSize; ++i) {
    std::snprintf(buf, sizeof buf, "%02x ", page[i]);
    out += buf;
  }
  return out;
}

void CheckSlot(const ModuleSlot& m) {
  FUZZ_CHECK(IsUtf8(m.ModuleName) && IsUtf8(m.ModuleSerial) && IsUtf8(m.RangeText) &&
             IsUtf8(m.UnitName));
  FUZZ_CHECK(!m.ModuleName.empty());
}

void CheckTables(const ChannelSources& sources, const ChannelTables& t) {
  const std::size_t rows = t.Ranges.size();
  FUZZ_CHECK(rows >= 1 && rows <= kChannelsCount);
  FUZZ_CHECK(t.UnitNames.size() == rows && t.UnitScales.size() == rows &&
             t.UnitOffsets.size() == rows);
  for (std::size_t ch = 0; ch < kChannelsCount; ++ch) {
    FUZZ_CHECK(t.ChannelRanges[ch] >= 0 && static_cast<std::size_t>(t.ChannelRanges[ch]) < rows);
    FUZZ_CHECK(IsUtf8(t.ChannelNames[ch]) && !t.ChannelNames[ch].empty());
    const ChannelSource& s = sources[ch];
    FUZZ_CHECK(s.Index < ((s.Source == SourceADC || s.Source == SourceTTL) ? 8 : 16));
  }
}

// The whole open on a bench whose module holds exactly these pages.
void OpenOnBench(FuzzInput& in, const Page* pages, const uint8_t* slotPresent,
                 const BoardInfo& decoded) {
  const uint8_t flags = in.Byte();
  const bool usb = (flags & 1) == 0;
  const bool crcOk = (flags & 2) == 0;
  const uint8_t unreadable = (flags & 4) != 0 ? in.Byte() : 0;  // bit p: page p fails

  std::string slots;
  for (int i = 0; i < kSlots; ++i) {
    if (i > 0) slots += ",";
    slots +=
        slotPresent[i] == kSlotEmpty ? "null" : "{\"type\":" + std::to_string(slotPresent[i]) + "}";
  }
  std::string eeprom;
  for (int p = 0; p < kEepromPages; ++p) {
    if (p > 0) eeprom += ",";
    eeprom += "\"" + std::to_string(p) + "\":\"" + HexPage(pages[p]) + "\"";
  }
  std::string failing;
  for (int p = 0; p < 8; ++p)
    if ((unreadable >> p) & 1) failing += (failing.empty() ? "" : ",") + std::to_string(p);
  const std::string attach = usb ? "usb0" : "com" + std::to_string(1 + (flags >> 4) % 8);
  const std::string bench = "{\"modules\":[{\"attach\":\"" + attach +
                            "\",\"crc_ok\":" + (crcOk ? "true" : "false") + ",\"slots\":[" + slots +
                            "],\"eeprom\":{" + eeprom +
                            "},\"faults\":{\"eeprom_unreadable_pages\":[" + failing + "]}}]}";
  sim::LoadBench(bench);

  auto state = std::make_unique<DriverState>();
  DriverState& s = *state;
  s.Adc.ADCName = "E-270";
  s.Adc.ChannelsCount = kChannelsCount;
  E270Init(&s.Dev);
  const int16_t port = DeviceOpen(s);

  bool pagesReadable = (unreadable & 1) == 0;
  for (int slot = 0; slot < kSlots; ++slot)
    if (slotPresent[slot] != kSlotEmpty && ((unreadable >> (slot + 1)) & 1) != 0)
      pagesReadable = false;
  const bool expectOpen = crcOk && pagesReadable;
  FUZZ_CHECK((port != 0) == expectOpen);
  if (port != 0) {
    FUZZ_CHECK(s.Adc.LastError.empty());
    FUZZ_CHECK(s.Board.BoardName == decoded.BoardName);
    FUZZ_CHECK(s.Board.SerialNumber == decoded.SerialNumber);
    FUZZ_CHECK(s.Board.ProcessorName == decoded.ProcessorName);
    FUZZ_CHECK(s.Board.BoardRevision == decoded.BoardRevision);
    FUZZ_CHECK(s.Board.ClockFrequency == decoded.ClockFrequency);
    FUZZ_CHECK(s.Board.PortName == (usb ? std::string("USB") : "COM" + attach.substr(3)));
    for (const ModuleSlot& m : s.Modules) CheckSlot(m);
    CheckTables(s.Sources, s.Adc.Tables);
  } else {
    // Enumeration lists a USB module only when its descriptor page reads.
    const bool page0Fails = (unreadable & 1) != 0;
    const char* expected = (usb && page0Fails)       ? "No found E-270 on USB or COM ports!"
                           : (!page0Fails && !crcOk) ? "CRC error of module!"
                                                     : "Unable to read information from module!";
    FUZZ_CHECK(s.Adc.LastError == expected);
  }
  DeviceClose(s);
}

}  // namespace

int FuzzDescriptor(const uint8_t* data, std::size_t size) {
  PrepareProcess();
  FuzzInput in(data, size);

  Page pages[kEepromPages];
  uint8_t slotPresent[kSlots];
  in.Fill(pages[0], kEepromPageSize);
  in.Fill(slotPresent, kSlots);
  for (int p = 1; p < kEepromPages; ++p) in.Fill(pages[p], kEepromPageSize);

  BoardInfo board;
  DecodeBoardDescriptor(pages[0], board);
  FUZZ_CHECK(IsUtf8(board.BoardName) && IsUtf8(board.SerialNumber) && IsUtf8(board.ProcessorName) &&
             IsUtf8(board.BoardRevision));
  FUZZ_CHECK(Utf8Length(board.SerialNumber) <= 8);
  FUZZ_CHECK(Utf8Length(board.BoardName) <= 7 && Utf8Length(board.ProcessorName) <= 5);
  FUZZ_CHECK(Utf8Length(board.BoardRevision) == 1);

  ModuleSlots modules;
  for (int slot = 0; slot < kSlots; ++slot) {
    ModuleSlot& m = modules[static_cast<std::size_t>(slot)];
    if (slotPresent[slot] == kSlotEmpty)
      m.ModuleType = kSlotEmpty;
    else
      DecodeMezzaninePage(pages[slot + 1], m);
    DescribeSlot(m);
    CheckSlot(m);
  }

  // Channel sources as the settings store may hand them over: any bytes.
  ChannelSources sources;
  for (ChannelSource& cs : sources) {
    cs.Source = in.Byte();
    cs.Index = in.Byte();
  }
  const SourceInfo direct = DirectSourceInfo();
  const SourceInfo ttl = TTLSourceInfo();
  ChannelSources listed = sources;
  ChannelTables tables;
  BuildChannelList(listed, modules, direct, ttl, tables);
  CheckTables(listed, tables);

  DeviceFrame frame;
  in.Fill(frame.Bytes, sizeof frame.Bytes);
  for (int ch = -1; ch <= kChannelsCount; ++ch) {
    const SampleSource src = ResolveSample(ch, sources, modules, ttl);
    const int16_t code = ConvertSample(frame, src);
    if (ch < 0 || ch >= kChannelsCount) FUZZ_CHECK(code == 0 && src.kind == SampleSource::None);
    // The raw table and the one the channel list reduced resolve alike.
    if (ch >= 0 && ch < kChannelsCount)
      FUZZ_CHECK(code == ConvertSample(frame, ResolveSample(ch, listed, modules, ttl)));
  }

  // Module names against name patterns.
  const std::string name = in.Text(16);
  const std::string pattern = in.Text(16);
  const bool matched = MatchesPattern(name, pattern);
  if (pattern.find_first_of("?*#[") == std::string::npos) FUZZ_CHECK(matched == (name == pattern));
  if (pattern == "*") FUZZ_CHECK(matched);

  OpenOnBench(in, pages, slotPresent, board);
  return 0;
}

}  // namespace quillbox::fuzz
