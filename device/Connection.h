#pragma once
// Finding, opening, describing and closing the module.

#include <cstdint>
#include <string>

#include "device/DeviceParts.h"

namespace quillbox {

// The whole open sequence: connect (USB first, then serial ports 1..8), read and decode the
// descriptor and mezzanine pages, build the channel list, send the idle configuration and read
// the digital lines. Returns the low 16 bits of the device handle on success, 0 on failure
// (LastError then says why). A connection left open by an earlier open is closed first.
int16_t DeviceOpen(ModuleRecord& m);
// Finds and opens the module: an E-270 on USB, else the first serial port 1..8 that answers.
bool DeviceConnect(ModuleRecord& m);
// Opens a module of that name on the USB driver; with several, ChooseDevice picks one.
bool DeviceConnectUSB(ModuleRecord& m, const std::string& name);
// Reads the board descriptor (page 0, check sum tested) and the pages of the present
// mezzanines into BoardInfo and Modules, and fills DirectSource and TTLSource.
bool ReadModuleInfo(ModuleRecord& m);
// E270Close, then E270Init: the record is reset.
void DeviceClose(DeviceLink& link);
// "USB" for a USB connection, "COM<n>" for serial port n; any other interface leaves the text
// as it is.
void PortName(const Device& device, std::string& portName);

}  // namespace quillbox
