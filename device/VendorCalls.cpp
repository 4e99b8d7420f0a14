#include "device/VendorCalls.h"

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <string_view>

#include "device/RateRule.h"

namespace quillbox::traced {
namespace {

// One traced call's line, written into a fixed buffer (no allocation): the arguments before
// the call, the result and what the call reported after it, then the duration.
class CallLine {
 public:
  CallLine(const char* name, const Device* device) {
    Add("%s(", name);
    if (device == nullptr) {
      Add("device=null");
      return;
    }
    const int32_t handle = device->Handle;  // a copy: the packed field is unaligned
    if (device->Interface == kInterfaceUsb) {
      Add("USB handle=%d", handle);
    } else if (device->Interface == kInterfaceSerial && device->ComPort != 0) {
      Add("COM%u handle=%d", unsigned{device->ComPort}, handle);
    } else {
      Add("handle=%d", handle);
    }
  }

  __attribute__((format(printf, 2, 3))) void Add(const char* format, ...) {
    if (size_ >= sizeof text_) return;
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(text_ + size_, sizeof text_ - size_, format, args);
    va_end(args);
    if (n > 0) size_ = std::min(size_ + static_cast<std::size_t>(n), sizeof text_ - 1);
  }

  // Times `call` and notes its result.
  template <class Call>
  int32_t Run(Call call) {
    const auto start = std::chrono::steady_clock::now();
    const int32_t result = call();
    micros_ = std::chrono::duration_cast<std::chrono::microseconds>(
                  std::chrono::steady_clock::now() - start)
                  .count();
    Add(") -> %d", result);
    return result;
  }

  void AddSlots(const Device* device) {
    Add(" slots=");
    for (int slot = 0; slot < kSlots; ++slot) {
      const uint8_t type = device->SlotPresent[slot];
      if (type == kSlotEmpty) {
        Add(slot == 0 ? "-" : ",-");
      } else {
        Add(slot == 0 ? "%u" : ",%u", unsigned{type});
      }
    }
  }

  // Written when the line goes out of scope, after the call and what it reported.
  ~CallLine() {
    Add(" [%lld us]", static_cast<long long>(micros_));
    platform::Trace(std::string_view(text_, size_));
  }

 private:
  char text_[256];
  std::size_t size_ = 0;
  long long micros_ = 0;
};

}  // namespace

int32_t E270Init(Device* device) {
  CallLine line("E270Init", device);
  return line.Run([&] { return ::E270Init(device); });
}

int32_t E270Open(Device* device) {
  CallLine line("E270Open", device);
  const int32_t result = line.Run([&] { return ::E270Open(device); });
  if (result == 0) {
    line.Add(" handle=%d", int32_t{device->Handle});
    line.AddSlots(device);
  }
  return result;
}

int32_t E270Close(Device* device) {
  CallLine line("E270Close", device);
  return line.Run([&] { return ::E270Close(device); });
}

int32_t E270GetConfig(Device* device) {
  CallLine line("E270GetConfig", device);
  const int32_t result = line.Run([&] { return ::E270GetConfig(device); });
  if (result == 0) line.AddSlots(device);
  return result;
}

int32_t E270SetConfig(Device* device, int32_t reserved) {
  CallLine line("E270SetConfig", device);
  if (device != nullptr) {
    line.Add(", divider=%u, control=0x%02X", unsigned{device->RateDivider},
             unsigned{device->ControlByte});
  }
  return line.Run([&] { return ::E270SetConfig(device, reserved); });
}

int32_t E270ReadEEPROM(Device* device, int16_t page) {
  CallLine line("E270ReadEEPROM", device);
  line.Add(", page=%d", int{page});
  return line.Run([&] { return ::E270ReadEEPROM(device, page); });
}

int32_t E270CRCCheck(Device* device, int32_t reserved) {
  CallLine line("E270CRCCheck", device);
  return line.Run([&] { return ::E270CRCCheck(device, reserved); });
}

int32_t E270GetDATA(Device* device, DeviceFrame* blockBuffer) {
  CallLine line("E270GetDATA", device);
  // The library delivers the block its divider implies, by the rule the driver plans with.
  if (device != nullptr)
    line.Add(", frames=%d", ComputeBlockTiming(device->RateDivider).BlockFrames);
  return line.Run([&] { return ::E270GetDATA(device, blockBuffer); });
}

int32_t E270GetDIO(Device* device, uint8_t* outByte, uint8_t* inByte, uint8_t* auxByte) {
  CallLine line("E270GetDIO", device);
  const int32_t result = line.Run([&] { return ::E270GetDIO(device, outByte, inByte, auxByte); });
  if (result == 0) {
    line.Add(" out=0x%02X in=0x%02X aux=0x%02X", unsigned{*outByte}, unsigned{*inByte},
             unsigned{*auxByte});
  }
  return result;
}

int32_t E270SetDIO(Device* device, uint8_t outByte, uint8_t auxByte) {
  CallLine line("E270SetDIO", device);
  line.Add(", out=0x%02X, aux=0x%02X", unsigned{outByte}, unsigned{auxByte});
  return line.Run([&] { return ::E270SetDIO(device, outByte, auxByte); });
}

}  // namespace quillbox::traced
