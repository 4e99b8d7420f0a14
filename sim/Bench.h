#pragma once
// In-process control of the simulated E-270 bench behind libE270API.so, for tests and tools.
//
// The bench is a set of modules, each attached at one point: "usb0".."usb7" (reached through the
// device nodes "\\.\LDevUsb0".."7" and E270GetConfig) or "com1".."com8" (reached through
// E270Open with Interface 0 and ComPort 1..8). Until something loads a bench explicitly, the
// first use of the library loads the file named by $QUILLBOX_BENCH, or else the built-in default
// bench (one E-270 on usb0, serial "27000123", eight mezzanines, lively signals).
//
// Every load replaces the whole bench: modules of the previous bench are gone, their open
// handles fail from then on and a waiting E270GetDATA on them returns non-zero at once.
// A refused bench leaves no modules at all and its message in LastBenchError() (also exported
// as the C function QuillboxBenchError()).
//
// Module state that lasts while the bench is loaded ("power-up" values in brackets): the output
// byte [0] and aux byte [dio.aux] last written by E270SetDIO, the digital inputs [dio.inputs],
// the frame counter [0], and the call counters. Replug is a power cycle: outputs, aux and the
// frame clock start again from their power-up values; the call counters and the frame counter
// keep counting.
//
// A module is one device of the machine (of the user), shared by every process that loads a
// bench of the same text: it is open in one process at a time (a USB node or serial port open
// elsewhere fails as "busy"), and its output and aux bytes pass from one process to the next.
// The bench a process starts with carries on from what the module holds; a bench loaded through
// the functions below is plugged in now, so its modules start from their power-up values (a
// module open in another process keeps its own). See sim/README.md.
//
// All functions are safe to call from any thread, also while other threads are inside E270* calls.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace quillbox::sim {

// A bench that cannot be loaded, or a request for a module the bench does not have. The message
// names the file (or "<text>"), the key path and what is wrong, e.g.
//   bench file /tmp/b.json: modules[0].slots[2].type: must be an integer 0..254, not 300
class BenchError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// ---- Loading ------------------------------------------------------------------------------------

// Loads a bench from JSON text. Throws BenchError (the bench is then empty, see above).
void LoadBench(const std::string& jsonText);
// Loads a bench file: a regular file of at most 4 MiB. Throws BenchError.
void LoadBenchFile(const std::string& path);
// Loads the built-in default bench.
void LoadDefaultBench();
// Loads what a fresh process would: $QUILLBOX_BENCH (read now) or the default bench.
// Throws BenchError when that file is refused.
void ResetBench();
// JSON text of the built-in default bench (a complete example of the bench file format).
std::string DefaultBenchJson();
// Message of the refused bench, "" when the current bench loaded fine.
std::string LastBenchError();

// Loads `jsonText` for the lifetime of the object, then ResetBench() (errors there are ignored).
class ScopedBench {
 public:
  explicit ScopedBench(const std::string& jsonText) { LoadBench(jsonText); }
  ~ScopedBench();
  ScopedBench(const ScopedBench&) = delete;
  ScopedBench& operator=(const ScopedBench&) = delete;
};

// ---- Modules ------------------------------------------------------------------------------------
// `attach` is the module's attach point as written in the bench ("usb0", "com2"). Functions
// taking it throw BenchError when the current bench has no module there.

// Attach points of the current bench, in bench-file order.
std::vector<std::string> Attachments();

struct ModuleStatus {
  bool plugged = false;          // false after Unplug() or when unplug_after_s ran out
  bool connected = false;        // a library connection is open (serial port or USB node)
  bool usbNodeOpen = false;      // the module's USB device node is open
  uint8_t outputs = 0;           // output byte last written by E270SetDIO
  uint8_t aux = 0;               // aux byte last written by E270SetDIO (else the configured one)
  uint8_t inputs = 0;            // digital input lines as E270GetDIO reports them now
  int setConfigCalls = 0;        // accepted E270SetConfig calls
  uint8_t lastControlByte = 0;   // ControlByte of the last accepted E270SetConfig
  uint16_t lastRateDivider = 0;  // RateDivider of the last accepted E270SetConfig
  int getDataCalls = 0;          // E270GetDATA calls that reached the module (failed ones too)
  uint64_t frameCounter = 0;     // number of the next frame E270GetDATA delivers (bytes 0-3
                                 // of a frame carry the low 32 bits of its number)
};
ModuleStatus Status(const std::string& attach);

// Pulls the module's cable now: every call on its open handles fails, a waiting E270GetDATA
// returns non-zero promptly, and its USB node / serial port no longer opens.
void Unplug(const std::string& attach);
// Plugs it in again (a power cycle, for the other processes too unless one has the module open);
// old handles stay dead, a new open is needed.
void Replug(const std::string& attach);
// Sets the digital input lines the module reports (bit i = input line i + 1).
void SetDigitalInputs(const std::string& attach, uint8_t value);

}  // namespace quillbox::sim
