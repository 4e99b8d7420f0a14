#pragma once
// Entry points of the fuzz targets. Each takes one input and returns 0; a fault shows up as a
// sanitizer report, an uncaught exception or a failed FUZZ_CHECK. The libFuzzer drivers
// (FuzzMain.cpp) and the regression replay (tests/regression) call the same functions.

#include <cstddef>
#include <cstdint>

namespace quillbox::fuzz {

// EEPROM pages 0..8 and the channel sources: descriptor and mezzanine decoding, the catalogue,
// the channel list, sample resolution and conversion, the device-name wildcard match; then the
// whole open sequence on a bench whose EEPROM holds the same pages.
int FuzzDescriptor(const uint8_t* data, std::size_t size);

// Bench file text: the loader, and when it accepts the text, every module opened and used
// through the vendor calls and the driver's open sequence.
int FuzzBench(const uint8_t* data, std::size_t size);

// Stored "Rate" and "Channels" values of any type and size for the settings store, and a key
// with arbitrary values, sub-keys and names for cRegistry's ExportKey and readers.
int FuzzSettings(const uint8_t* data, std::size_t size);

// A sequence of IADC3 and IDIO calls with arbitrary arguments on an opened bench module, with
// recordings started and stopped; every input ends with no recording running.
int FuzzHostCalls(const uint8_t* data, std::size_t size);

// Once per process: a private registry store in a fresh temporary folder (removed at exit) and
// a fast clock, so that inputs never touch the user's registry and recordings move quickly.
void PrepareProcess();

// Time scale the targets run the clocks at.
constexpr double kFuzzTimeScale = 1000.0;

}  // namespace quillbox::fuzz
