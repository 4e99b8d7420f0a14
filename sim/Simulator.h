#pragma once
// The running bench: modules with their connections, frame clocks and digital lines, behind one
// mutex. The vendor C functions, the USB device-node backend and the control API all land here.

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "e270/E270API.h"
#include "platform/DeviceNodes.h"
#include "platform/Signal.h"
#include "sim/Bench.h"
#include "sim/BenchConfig.h"
#include "sim/MachineState.h"
#include "sim/Synth.h"

namespace quillbox::sim {

class Simulator {
 public:
  // The process-wide bench; never destroyed, so calls still running at exit stay safe.
  static Simulator& Instance();

  // Vendor library calls; 0 = success.
  int32_t Open(Device* d);
  int32_t Close(Device* d);
  int32_t GetConfig(Device* d);
  int32_t SetConfig(Device* d);
  int32_t ReadEeprom(Device* d, int16_t page);
  int32_t CrcCheck(Device* d);
  int32_t GetData(Device* d, DeviceFrame* block);
  int32_t GetDio(Device* d, uint8_t* out, uint8_t* in, uint8_t* aux);
  int32_t SetDio(Device* d, uint8_t out, uint8_t aux);

  // USB device nodes "\\.\LDevUsb0".."7".
  int32_t NodeOpen(const std::string& name, platform::NodeAccess access,
                   platform::NodeOpenError& error);
  bool NodeControl(int32_t handle, uint32_t code, const void* in, uint32_t inSize, void* out,
                   uint32_t outSize, uint32_t& returned);
  bool NodeClose(int32_t handle);
  // The other processes that hold the node's module (see MachineLock::Holders).
  std::vector<int> NodeHolders(const std::string& name);
  platform::DeviceNodeBackend& UsbBackend() { return *usb_; }

  // Control API (see Bench.h).
  void Load(const std::string& text, const std::string& source);
  void LoadFile(const std::string& path);
  void LoadFromEnvironment();
  std::string Error();
  std::vector<std::string> Attachments();
  ModuleStatus Status(const std::string& attach);
  void Unplug(const std::string& attach);
  void Replug(const std::string& attach);
  void SetInputs(const std::string& attach, uint8_t value);

 private:
  struct Module {
    ModuleConfig cfg;
    std::string key;      // names the module's machine-wide state
    MachineLock machine;  // held while this process has a connection to the module
    EepromImage eeprom{};
    bool plugged = true;
    int nodeOpens = 0;   // read-write opens of the USB node
    int queryOpens = 0;  // query opens (a listing's), which hold nothing
    bool nodeExclusive = false;
    bool serialOpen = false;
    std::optional<std::chrono::nanoseconds> unplugAt;  // scaled clock
    std::optional<std::chrono::nanoseconds> replugAt;  // scaled clock
    uint8_t outputs = 0;
    uint8_t aux = 0;
    uint8_t inputs = 0;
    // Frame clock: frame f (f >= clockFrame) is complete at
    // clockStart + (f + 1 - clockFrame) periods, and sampled at device time
    // clockSeconds + (f - clockFrame) periods.
    bool running = false;
    uint8_t controlByte = 0;
    uint16_t divider = 0;
    std::chrono::nanoseconds clockStart{0};
    uint64_t clockFrame = 0;
    double clockSeconds = 0.0;
    uint64_t nextFrame = 0;
    int setConfigCalls = 0;
    int getDataCalls = 0;
  };
  struct Connection {
    std::shared_ptr<Module> module;
    bool usb = false;
    bool live = true;
    bool query = false;  // a USB node opened for queries only
  };
  // What a call needs of its connection.
  enum class Need {
    Any,        // the descriptor pages and the check sum: also a query open
    UsbNode,    // the module-name request: a USB node, also a query open
    ReadWrite,  // configuration, data and digital I/O
  };

  Simulator();
  // `powerUp`: the bench is plugged in now, so its modules forget what another process left in
  // them; otherwise (the bench a process starts with) they carry on from it.
  void Install(BenchConfig bench, std::string error, bool powerUp);
  // Installs what `read` returns, or no modules and the error it throws (then rethrown).
  void InstallRead(const std::function<BenchConfig()>& read);
  void EnsureLoaded();
  int32_t NewHandle();
  Module* Live(int32_t handle, Need need);
  void CheckUnplugTimer(Module& m);
  void UnplugLocked(Module& m);
  void PlugLocked(Module& m);
  void ConnectionOpened(Module& m);
  static bool ClaimMachine(Module& m, bool exclusive);
  static void ReleaseMachine(Module& m);
  void CloseLocked(int32_t handle);
  std::shared_ptr<Module> Find(const std::string& attach);
  std::shared_ptr<Module> Require(const std::string& attach);
  static void FillSlotPresent(const Module& m, Device* d);
  static void StopClock(Module& m);
  static double FrameSeconds(const Module& m, uint64_t frame);

  std::mutex mutex_;
  platform::Signal changed_;  // a module changed: a block wait looks again
  bool loaded_ = false;
  std::string error_;
  std::vector<std::shared_ptr<Module>> modules_;
  std::map<int32_t, Connection> connections_;
  int32_t nextHandle_ = 0x2701;
  std::unique_ptr<platform::DeviceNodeBackend> usb_;
};

}  // namespace quillbox::sim
