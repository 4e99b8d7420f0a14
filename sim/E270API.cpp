// Vendor library entry points answered by the simulated bench, and the USB device-node backend
// registered as soon as the library is loaded.
#include "e270/E270API.h"

#include <string>

#include "platform/DeviceNodes.h"
#include "sim/Simulator.h"

using quillbox::Device;
using quillbox::DeviceFrame;
using quillbox::sim::Simulator;

namespace {

// Runs when the library is loaded, whether or not the program calls into it yet: the USB nodes
// must answer before the first vendor call (enumeration comes first).
struct UsbBackendRegistration {
  UsbBackendRegistration() {
    quillbox::platform::SetDeviceNodeBackend(&Simulator::Instance().UsbBackend());
  }
  ~UsbBackendRegistration() { quillbox::platform::SetDeviceNodeBackend(nullptr); }
};
[[gnu::used]] const UsbBackendRegistration g_registration;

}  // namespace

extern "C" {

int32_t E270Init(Device* d) {
  if (d == nullptr) return 1;
  *d = Device{};
  d->Handle = -1;
  return 0;
}
int32_t E270Open(Device* d) { return Simulator::Instance().Open(d); }
int32_t E270Close(Device* d) { return Simulator::Instance().Close(d); }
int32_t E270GetConfig(Device* d) { return Simulator::Instance().GetConfig(d); }
int32_t E270SetConfig(Device* d, int32_t) { return Simulator::Instance().SetConfig(d); }
int32_t E270ReadEEPROM(Device* d, int16_t page) {
  return Simulator::Instance().ReadEeprom(d, page);
}
int32_t E270CRCCheck(Device* d, int32_t) { return Simulator::Instance().CrcCheck(d); }
int32_t E270GetDATA(Device* d, DeviceFrame* blockBuffer) {
  return Simulator::Instance().GetData(d, blockBuffer);
}
int32_t E270GetDIO(Device* d, uint8_t* outByte, uint8_t* inByte, uint8_t* auxByte) {
  return Simulator::Instance().GetDio(d, outByte, inByte, auxByte);
}
int32_t E270SetDIO(Device* d, uint8_t outByte, uint8_t auxByte) {
  return Simulator::Instance().SetDio(d, outByte, auxByte);
}

// Message of a refused bench file, "" when the bench is fine. The text stays valid until the
// next call on the same thread.
const char* QuillboxBenchError() {
  thread_local std::string text;
  text = Simulator::Instance().Error();
  return text.c_str();
}

}  // extern "C"
