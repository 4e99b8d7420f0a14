#pragma once
// The vendor functions as the device code calls them: the names and signatures of the C
// functions of e270/E270API.h, inside namespace quillbox. Each forwards to the library; when the
// trace is on (platform/Trace.h) it also times the call and traces one line:
//
//   E270ReadEEPROM(USB handle=9989, page=0) -> 0 [41 us]
//   E270SetConfig(USB handle=9989, divider=250, control=0xC7) -> 0 [9 us]
//   E270GetDIO(USB handle=9989) -> 0 out=0x00 in=0xA5 aux=0x3C [12 us]
//   E270GetDATA(USB handle=9989, frames=20) -> 1 [200311 us]
//
// Arguments first: the connection as the record holds it before the call ("USB handle=H",
// "COMn handle=H", or "handle=H" for a reset record), then the call's own (page, divider and
// control byte, frames of the block, DIO bytes). After "->" the result (0 is success), on success
// what the call reported (the new handle of an open, the slots' type codes with "-" for an empty
// slot, the DIO bytes), and the duration in microseconds.
//
// A device/*.cpp file that calls the library includes this header instead of e270/E270API.h:
// inside namespace quillbox, an unqualified E270... call then finds these functions, which hide
// the global ones.

#include <cstdint>

#include "e270/E270API.h"
#include "platform/Trace.h"

namespace quillbox {

// The traced forms, taken only when the trace is on.
namespace traced {
int32_t E270Init(Device* device);
int32_t E270Open(Device* device);
int32_t E270Close(Device* device);
int32_t E270GetConfig(Device* device);
int32_t E270SetConfig(Device* device, int32_t reserved);
int32_t E270ReadEEPROM(Device* device, int16_t page);
int32_t E270CRCCheck(Device* device, int32_t reserved);
int32_t E270GetDATA(Device* device, DeviceFrame* blockBuffer);
int32_t E270GetDIO(Device* device, uint8_t* outByte, uint8_t* inByte, uint8_t* auxByte);
int32_t E270SetDIO(Device* device, uint8_t outByte, uint8_t auxByte);
}  // namespace traced

inline int32_t E270Init(Device* device) {
  return platform::TraceOn() ? traced::E270Init(device) : ::E270Init(device);
}
inline int32_t E270Open(Device* device) {
  return platform::TraceOn() ? traced::E270Open(device) : ::E270Open(device);
}
inline int32_t E270Close(Device* device) {
  return platform::TraceOn() ? traced::E270Close(device) : ::E270Close(device);
}
inline int32_t E270GetConfig(Device* device) {
  return platform::TraceOn() ? traced::E270GetConfig(device) : ::E270GetConfig(device);
}
inline int32_t E270SetConfig(Device* device, int32_t reserved) {
  return platform::TraceOn() ? traced::E270SetConfig(device, reserved)
                             : ::E270SetConfig(device, reserved);
}
inline int32_t E270ReadEEPROM(Device* device, int16_t page) {
  return platform::TraceOn() ? traced::E270ReadEEPROM(device, page)
                             : ::E270ReadEEPROM(device, page);
}
inline int32_t E270CRCCheck(Device* device, int32_t reserved) {
  return platform::TraceOn() ? traced::E270CRCCheck(device, reserved)
                             : ::E270CRCCheck(device, reserved);
}
inline int32_t E270GetDATA(Device* device, DeviceFrame* blockBuffer) {
  return platform::TraceOn() ? traced::E270GetDATA(device, blockBuffer)
                             : ::E270GetDATA(device, blockBuffer);
}
inline int32_t E270GetDIO(Device* device, uint8_t* outByte, uint8_t* inByte, uint8_t* auxByte) {
  return platform::TraceOn() ? traced::E270GetDIO(device, outByte, inByte, auxByte)
                             : ::E270GetDIO(device, outByte, inByte, auxByte);
}
inline int32_t E270SetDIO(Device* device, uint8_t outByte, uint8_t auxByte) {
  return platform::TraceOn() ? traced::E270SetDIO(device, outByte, auxByte)
                             : ::E270SetDIO(device, outByte, auxByte);
}

}  // namespace quillbox
