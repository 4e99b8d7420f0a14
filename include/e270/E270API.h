#pragma once
// The E-270 vendor library: the byte-packed device record and the ten C functions the driver
// calls. Every function takes the device record first and returns 0 on success where its result
// is looked at. libE270API.so (the simulated bench on this platform) provides them.

#include <cstddef>
#include <cstdint>

namespace quillbox {

constexpr int kEepromPages = 9;
constexpr int kEepromPageSize = 128;
constexpr int kSlots = 8;
constexpr uint8_t kInterfaceSerial = 0;
constexpr uint8_t kInterfaceUsb = 2;
constexpr uint8_t kSlotEmpty = 255;

#pragma pack(push, 1)
struct Device {
  uint8_t Interface;     // 0 = serial port, 2 = USB
  uint8_t ComPort;       // serial port number 1..8
  int32_t Handle;        // device handle, -1 = none
  int32_t Reserved6;     // set to 0 before USB use
  int32_t Reserved10;    // set to 0 before USB use
  uint8_t Reserved14;    // library's own
  uint8_t OpenFlags;     // offset 15: set to 0 before every open
  uint8_t ControlByte;   // sent by E270SetConfig
  uint16_t RateDivider;  // frame rate = 25000 Hz / RateDivider (unaligned)
  uint8_t Reserved19[8];
  uint8_t SlotPresent[kSlots];  // per mezzanine slot, 255 = empty (written by the library)
  uint8_t EepromImage[kEepromPages][kEepromPageSize];  // page p at 35 + 128 * p
};

// One raw frame as E270GetDATA delivers it.
struct DeviceFrame {
  uint8_t Bytes[48];
};
#pragma pack(pop)

static_assert(offsetof(Device, Interface) == 0);
static_assert(offsetof(Device, ComPort) == 1);
static_assert(offsetof(Device, Handle) == 2);
static_assert(offsetof(Device, Reserved6) == 6);
static_assert(offsetof(Device, Reserved10) == 10);
static_assert(offsetof(Device, OpenFlags) == 15);
static_assert(offsetof(Device, ControlByte) == 16);
static_assert(offsetof(Device, RateDivider) == 17);
static_assert(offsetof(Device, SlotPresent) == 27);
static_assert(offsetof(Device, EepromImage) == 35);
static_assert(sizeof(Device) == 35 + 9 * 128);
static_assert(sizeof(DeviceFrame) == 48);

// The block buffer has room for this many frames; the library delivers at most 20 per call.
constexpr int kBlockBufferFrames = 21;
constexpr int kMaxFramesPerBlock = 20;
constexpr int32_t kBaseClockHz = 25000;

}  // namespace quillbox

extern "C" {
int32_t E270Init(quillbox::Device* device);
int32_t E270Open(quillbox::Device* device);
int32_t E270Close(quillbox::Device* device);
int32_t E270GetConfig(quillbox::Device* device);
int32_t E270SetConfig(quillbox::Device* device, int32_t reserved);
int32_t E270ReadEEPROM(quillbox::Device* device, int16_t page);
int32_t E270CRCCheck(quillbox::Device* device, int32_t reserved);
// `blockBuffer` has room for kBlockBufferFrames frames.
int32_t E270GetDATA(quillbox::Device* device, quillbox::DeviceFrame* blockBuffer);
int32_t E270GetDIO(quillbox::Device* device, uint8_t* outByte, uint8_t* inByte, uint8_t* auxByte);
int32_t E270SetDIO(quillbox::Device* device, uint8_t outByte, uint8_t auxByte);
}
