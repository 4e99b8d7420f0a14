#include "sim/Simulator.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/Clock.h"

namespace quillbox::sim {
namespace {

using std::chrono::nanoseconds;

// Results of the vendor calls: 0 is success, the rest say why a call failed.
constexpr int32_t kOk = 0;
constexpr int32_t kNoConnection = 1;  // handle not open, module unplugged or gone
constexpr int32_t kBadArgument = 2;
constexpr int32_t kFault = 3;       // a fault of the bench file
constexpr int32_t kNotRunning = 4;  // no frame clock: E270SetConfig was not called
constexpr int32_t kChecksumWrong = 5;
constexpr int32_t kInUse = 6;  // the serial port is open elsewhere

constexpr uint32_t kModuleNameCode = 0x220012;
constexpr nanoseconds kFramePeriodUnit{40000};  // one 25 kHz base clock period
// Longest real wait of a data call between checks, so that a time-scale change takes effect. More
// than the 50 ms (and the rounding of the tick count) that the driver leaves its data call to
// wait, so that a block costs the module one wait and not two.
constexpr std::chrono::milliseconds kLongestWait{100};

// f = 25000 / divider frames per second; a block is a fifth of a second: 1..20 frames.
int BlockFrames(uint16_t divider) {
  const float f = 25000.0f / static_cast<float>(divider);
  const int n = static_cast<int>(f / 5.0f);
  return std::clamp(n, 1, kMaxFramesPerBlock);
}

bool NodeNumber(const std::string& name, int& number) {
  static const std::string prefix = "\\\\.\\ldevusb";
  if (name.size() != prefix.size() + 1) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(name[i])) != prefix[i]) return false;
  const char digit = name.back();
  if (digit < '0' || digit > '7') return false;
  number = digit - '0';
  return true;
}

class UsbNodes : public platform::DeviceNodeBackend {
 public:
  explicit UsbNodes(Simulator& sim) : sim_(sim) {}
  int32_t Open(const std::string& name, platform::NodeAccess access,
               platform::NodeOpenError& error) override {
    return sim_.NodeOpen(name, access, error);
  }
  bool Control(int32_t handle, uint32_t code, const void* in, uint32_t inSize, void* out,
               uint32_t outSize, uint32_t& returned) override {
    return sim_.NodeControl(handle, code, in, inSize, out, outSize, returned);
  }
  bool Close(int32_t handle) override { return sim_.NodeClose(handle); }
  std::vector<int> Holders(const std::string& name) override { return sim_.NodeHolders(name); }

 private:
  Simulator& sim_;
};

}  // namespace

Simulator& Simulator::Instance() {
  static Simulator* instance = new Simulator();
  return *instance;
}

Simulator::Simulator() : usb_(std::make_unique<UsbNodes>(*this)) {}

// ---- Bench loading ------------------------------------------------------------------------------

void Simulator::Install(BenchConfig bench, std::string error, bool powerUp) {
  for (const auto& old : modules_) UnplugLocked(*old);
  modules_.clear();
  for (ModuleConfig& cfg : bench.modules) {
    auto m = std::make_shared<Module>();
    m->key = MachineKey(bench.textHash, cfg.attach);
    if (powerUp) MachineLock::Forget(m->key);
    m->eeprom = BuildEeprom(cfg);
    m->aux = cfg.dioAux;
    m->inputs = cfg.dioInputs;
    m->cfg = std::move(cfg);
    modules_.push_back(std::move(m));
  }
  error_ = std::move(error);
  loaded_ = true;
  changed_.Notify();
}

void Simulator::InstallRead(const std::function<BenchConfig()>& read) {
  BenchConfig bench;
  try {
    bench = read();
  } catch (const BenchError& e) {
    std::lock_guard lock(mutex_);
    Install({}, e.what(), true);
    throw;
  }
  std::lock_guard lock(mutex_);
  Install(std::move(bench), "", true);
}

void Simulator::Load(const std::string& text, const std::string& source) {
  InstallRead([&] { return ParseBench(text, source); });
}

void Simulator::LoadFile(const std::string& path) {
  InstallRead([&] { return ReadBenchFile(path); });
}

void Simulator::LoadFromEnvironment() {
  const char* path = std::getenv("QUILLBOX_BENCH");
  if (path != nullptr && *path != '\0')
    LoadFile(path);
  else
    Load(DefaultBenchText(), "built-in bench");
}

void Simulator::EnsureLoaded() {
  if (loaded_) return;
  const char* path = std::getenv("QUILLBOX_BENCH");
  try {
    Install(path != nullptr && *path != '\0' ? ReadBenchFile(path)
                                             : ParseBench(DefaultBenchText(), "built-in bench"),
            "", false);
  } catch (const BenchError& e) {
    Install({}, e.what(), false);
  }
}

std::string Simulator::Error() {
  std::lock_guard lock(mutex_);
  EnsureLoaded();
  return error_;
}

// ---- Connections --------------------------------------------------------------------------------

int32_t Simulator::NewHandle() {
  for (;;) {
    const int32_t h = nextHandle_;
    nextHandle_ = nextHandle_ == INT32_MAX ? 0x2701 : nextHandle_ + 1;
    if ((h & 0xFFFF) != 0 && !connections_.contains(h)) return h;
  }
}

// The bench's scheduled unplug, and the return it may schedule (the cable put back).
void Simulator::CheckUnplugTimer(Module& m) {
  const auto now = platform::Now();
  if (m.plugged && m.unplugAt && now >= *m.unplugAt) {
    UnplugLocked(m);
    if (m.cfg.replugAfterSeconds)
      m.replugAt = now + std::chrono::duration_cast<nanoseconds>(
                             std::chrono::duration<double>(*m.cfg.replugAfterSeconds));
  }
  if (!m.plugged && m.replugAt && now >= *m.replugAt) PlugLocked(m);
}

// The cable is pulled: every connection to the module dies and its clock stops.
void Simulator::UnplugLocked(Module& m) {
  StopClock(m);
  ReleaseMachine(m);
  m.plugged = false;
  m.unplugAt.reset();
  m.nodeOpens = 0;
  m.queryOpens = 0;
  m.nodeExclusive = false;
  m.serialOpen = false;
  for (auto& [handle, c] : connections_)
    if (c.module.get() == &m) c.live = false;
  changed_.Notify();
}

// The first connection of this process to the module: another process must not have it open.
// The lines are then the ones the module kept from its last user.
bool Simulator::ClaimMachine(Module& m, bool exclusive) {
  switch (m.machine.Acquire(m.key, exclusive)) {
    case MachineLock::Result::Busy:
      return false;
    case MachineLock::Result::Held: {
      const std::optional<LineState> lines = m.machine.Read();
      m.outputs = lines ? lines->outputs : 0;
      m.aux = lines ? lines->aux : m.cfg.dioAux;
      return true;
    }
    case MachineLock::Result::Private:
      break;
  }
  return true;
}

// The last connection of this process is gone; lines at their power-up values leave no file.
void Simulator::ReleaseMachine(Module& m) {
  m.machine.Release(m.outputs == 0 && m.aux == m.cfg.dioAux);
}

void Simulator::ConnectionOpened(Module& m) {
  if (m.cfg.unplugAfterSeconds)
    m.unplugAt = platform::Now() + std::chrono::duration_cast<nanoseconds>(
                                       std::chrono::duration<double>(*m.cfg.unplugAfterSeconds));
}

Simulator::Module* Simulator::Live(int32_t handle, Need need) {
  EnsureLoaded();
  const auto it = connections_.find(handle);
  if (it == connections_.end() || !it->second.live) return nullptr;
  if ((need == Need::UsbNode && !it->second.usb) || (need == Need::ReadWrite && it->second.query))
    return nullptr;
  Module& m = *it->second.module;
  CheckUnplugTimer(m);
  return it->second.live ? &m : nullptr;
}

void Simulator::CloseLocked(int32_t handle) {
  const auto it = connections_.find(handle);
  if (it == connections_.end()) return;
  const Connection c = it->second;
  connections_.erase(it);
  if (c.live && c.query) {
    --c.module->queryOpens;
  } else if (c.live) {
    Module& m = *c.module;
    if (c.usb) {
      if (--m.nodeOpens == 0) m.nodeExclusive = false;
    } else {
      m.serialOpen = false;
    }
    if (m.nodeOpens == 0 && !m.serialOpen) {
      StopClock(m);
      ReleaseMachine(m);
    }
  }
  changed_.Notify();
}

void Simulator::FillSlotPresent(const Module& m, Device* d) {
  for (int slot = 0; slot < kSlotCount; ++slot) {
    const SlotConfig& s = m.cfg.slots[static_cast<size_t>(slot)];
    d->SlotPresent[slot] = s.present ? s.type : kSlotEmpty;
  }
}

void Simulator::StopClock(Module& m) {
  if (!m.running) return;
  m.clockSeconds = FrameSeconds(m, m.nextFrame);
  m.clockFrame = m.nextFrame;
  m.running = false;
}

double Simulator::FrameSeconds(const Module& m, uint64_t frame) {
  if (!m.running) return m.clockSeconds;
  return m.clockSeconds +
         static_cast<double>(frame - m.clockFrame) * static_cast<double>(m.divider) / kBaseClockHz;
}

// ---- Vendor calls -------------------------------------------------------------------------------

int32_t Simulator::Open(Device* d) {
  if (d == nullptr) return kBadArgument;
  std::lock_guard lock(mutex_);
  EnsureLoaded();
  d->Handle = -1;
  if (d->Interface != kInterfaceSerial) return kBadArgument;
  for (const auto& m : modules_) {
    if (m->cfg.usb || m->cfg.number != d->ComPort) continue;
    CheckUnplugTimer(*m);
    if (!m->plugged) return kNoConnection;
    if (m->serialOpen || !ClaimMachine(*m, true)) return kInUse;
    const int32_t handle = NewHandle();
    connections_[handle] = Connection{m, false, true};
    m->serialOpen = true;
    ConnectionOpened(*m);
    d->Handle = handle;
    FillSlotPresent(*m, d);
    return kOk;
  }
  return kNoConnection;
}

int32_t Simulator::Close(Device* d) {
  if (d == nullptr) return kBadArgument;
  const int32_t handle = d->Handle;  // a copy: the packed field is not aligned
  std::lock_guard lock(mutex_);
  if (!connections_.contains(handle)) return kNoConnection;
  CloseLocked(handle);
  return kOk;
}

int32_t Simulator::GetConfig(Device* d) {
  if (d == nullptr) return kBadArgument;
  std::lock_guard lock(mutex_);
  const Module* m = Live(d->Handle, Need::ReadWrite);
  if (m == nullptr) return kNoConnection;
  FillSlotPresent(*m, d);
  return kOk;
}

int32_t Simulator::SetConfig(Device* d) {
  if (d == nullptr) return kBadArgument;
  std::lock_guard lock(mutex_);
  Module* m = Live(d->Handle, Need::ReadWrite);
  if (m == nullptr) return kNoConnection;
  const uint16_t divider = d->RateDivider;
  if (divider == 0) return kBadArgument;
  StopClock(*m);
  m->controlByte = d->ControlByte;
  m->divider = divider;
  m->running = true;
  m->clockStart = platform::Now();
  ++m->setConfigCalls;
  changed_.Notify();
  return kOk;
}

int32_t Simulator::ReadEeprom(Device* d, int16_t page) {
  if (d == nullptr || page < 0 || page >= kPageCount) return kBadArgument;
  std::lock_guard lock(mutex_);
  const Module* m = Live(d->Handle, Need::Any);
  if (m == nullptr) return kNoConnection;
  if (m->cfg.unreadablePages[static_cast<size_t>(page)]) return kFault;
  std::memcpy(d->EepromImage[page], m->eeprom[static_cast<size_t>(page)].data(), kPageSize);
  return kOk;
}

int32_t Simulator::CrcCheck(Device* d) {
  if (d == nullptr) return kBadArgument;
  std::lock_guard lock(mutex_);
  if (Live(d->Handle, Need::Any) == nullptr) return kNoConnection;
  return ChecksumValid(d->EepromImage[0]) ? kOk : kChecksumWrong;
}

int32_t Simulator::GetData(Device* d, DeviceFrame* block) {
  if (d == nullptr || block == nullptr) return kBadArgument;
  const int32_t handle = d->Handle;
  std::unique_lock lock(mutex_);
  Module* m = Live(handle, Need::ReadWrite);
  if (m == nullptr) return kNoConnection;
  ++m->getDataCalls;
  if (m->cfg.dataCallsFail) return kFault;
  // Waits until the block's last frame is complete; a close, unplug, bench change or
  // reconfiguration meanwhile is seen on the next pass.
  for (;;) {
    m = Live(handle, Need::ReadWrite);
    if (m == nullptr) return kNoConnection;
    if (!m->running) return kNotRunning;
    const int n = BlockFrames(m->divider);
    const uint64_t end = m->nextFrame + static_cast<uint64_t>(n);
    const nanoseconds due = m->clockStart + kFramePeriodUnit * static_cast<int64_t>(m->divider) *
                                                static_cast<int64_t>(end - m->clockFrame);
    const nanoseconds now = platform::Now();
    if (now >= due) {
      for (int i = 0; i < n; ++i) {
        const uint64_t frame = m->nextFrame + static_cast<uint64_t>(i);
        SynthesiseFrame(m->cfg, frame, FrameSeconds(*m, frame), block[i].Bytes);
      }
      m->nextFrame = end;
      return kOk;
    }
    nanoseconds wake = due;
    if (m->unplugAt) wake = std::min(wake, std::max(*m->unplugAt, now));
    const nanoseconds real = std::min<nanoseconds>(platform::ToReal(wake - now), kLongestWait);
    // Read under the lock: a change made after it is unlocked ends the wait at once.
    const uint32_t seen = changed_.Generation();
    lock.unlock();
    changed_.Wait(seen, real + nanoseconds(1000));
    lock.lock();
  }
}

int32_t Simulator::GetDio(Device* d, uint8_t* out, uint8_t* in, uint8_t* aux) {
  if (d == nullptr || out == nullptr || in == nullptr || aux == nullptr) return kBadArgument;
  std::lock_guard lock(mutex_);
  const Module* m = Live(d->Handle, Need::ReadWrite);
  if (m == nullptr) return kNoConnection;
  if (m->cfg.dioCallsFail) return kFault;
  *out = m->outputs;
  *in = m->cfg.outputsToInputs ? m->outputs : m->inputs;
  *aux = m->aux;
  return kOk;
}

int32_t Simulator::SetDio(Device* d, uint8_t out, uint8_t aux) {
  if (d == nullptr) return kBadArgument;
  std::lock_guard lock(mutex_);
  Module* m = Live(d->Handle, Need::ReadWrite);
  if (m == nullptr) return kNoConnection;
  if (m->cfg.dioCallsFail) return kFault;
  m->outputs = out;
  m->aux = aux;
  m->machine.Write({out, aux});
  return kOk;
}

// ---- USB device nodes ---------------------------------------------------------------------------

std::vector<int> Simulator::NodeHolders(const std::string& name) {
  int number = 0;
  if (!NodeNumber(name, number)) return {};
  std::lock_guard lock(mutex_);
  EnsureLoaded();
  for (const auto& m : modules_)
    if (m->cfg.usb && m->cfg.number == number) return MachineLock::Holders(m->key);
  return {};
}

int32_t Simulator::NodeOpen(const std::string& name, platform::NodeAccess access,
                            platform::NodeOpenError& error) {
  error = platform::NodeOpenError::Absent;
  int number = 0;
  if (!NodeNumber(name, number)) return platform::kInvalidHandle;
  std::lock_guard lock(mutex_);
  EnsureLoaded();
  for (const auto& m : modules_) {
    if (!m->cfg.usb || m->cfg.number != number) continue;
    CheckUnplugTimer(*m);
    if (!m->plugged) return platform::kInvalidHandle;
    // Share mode 0 admits no second read-write open; shared opens admit each other, in this
    // process and across processes. A query open takes nothing, so it is never in the way of
    // another open, and is refused while the module is open for read and write anywhere.
    const bool query = access == platform::NodeAccess::Query;
    const bool exclusive = access == platform::NodeAccess::Exclusive;
    const bool busy = query ? m->nodeOpens > 0 || MachineLock::InUse(m->key)
                            : m->nodeExclusive || (exclusive && m->nodeOpens > 0) ||
                                  (m->nodeOpens == 0 && !ClaimMachine(*m, exclusive));
    if (busy) {
      error = platform::NodeOpenError::Busy;
      return platform::kInvalidHandle;
    }
    error = platform::NodeOpenError::None;
    const int32_t handle = NewHandle();
    connections_[handle] = Connection{m, true, true, query};
    if (query) {
      ++m->queryOpens;
    } else {
      ++m->nodeOpens;
      m->nodeExclusive = exclusive;
    }
    ConnectionOpened(*m);
    return handle;
  }
  return platform::kInvalidHandle;
}

bool Simulator::NodeControl(int32_t handle, uint32_t code, const void* in, uint32_t inSize,
                            void* out, uint32_t outSize, uint32_t& returned) {
  returned = 0;
  std::lock_guard lock(mutex_);
  const Module* m = Live(handle, Need::UsbNode);
  if (m == nullptr) return false;
  if (code != kModuleNameCode || in == nullptr || inSize != 8 || out == nullptr || outSize < 8)
    return false;
  uint8_t request[8];
  std::memcpy(request, in, 8);
  static constexpr uint8_t kExpected[8] = {1, 0, 11, 0, 0, 0, 0, 0};
  if (std::memcmp(request, kExpected, 8) != 0) return false;
  uint8_t name[8] = {};
  std::copy_n(m->cfg.name.begin(), std::min<size_t>(8, m->cfg.name.size()), name);  // NUL-padded
  std::memcpy(out, name, 8);
  returned = 8;
  return true;
}

bool Simulator::NodeClose(int32_t handle) {
  std::lock_guard lock(mutex_);
  const auto it = connections_.find(handle);
  if (it == connections_.end() || !it->second.usb) return false;
  CloseLocked(handle);
  return true;
}

// ---- Control API --------------------------------------------------------------------------------

std::shared_ptr<Simulator::Module> Simulator::Find(const std::string& attach) {
  EnsureLoaded();
  for (const auto& m : modules_)
    if (m->cfg.attach == attach) return m;
  return nullptr;
}

std::shared_ptr<Simulator::Module> Simulator::Require(const std::string& attach) {
  auto m = Find(attach);
  if (!m) throw BenchError("the bench has no module attached at \"" + attach + "\"");
  return m;
}

std::vector<std::string> Simulator::Attachments() {
  std::lock_guard lock(mutex_);
  EnsureLoaded();
  std::vector<std::string> result;
  for (const auto& m : modules_) result.push_back(m->cfg.attach);
  return result;
}

ModuleStatus Simulator::Status(const std::string& attach) {
  std::lock_guard lock(mutex_);
  const auto m = Require(attach);
  CheckUnplugTimer(*m);
  ModuleStatus s;
  s.plugged = m->plugged;
  s.connected = m->nodeOpens > 0 || m->queryOpens > 0 || m->serialOpen;
  s.usbNodeOpen = m->nodeOpens > 0 || m->queryOpens > 0;
  s.outputs = m->outputs;
  s.aux = m->aux;
  s.inputs = m->cfg.outputsToInputs ? m->outputs : m->inputs;
  s.setConfigCalls = m->setConfigCalls;
  s.lastControlByte = m->controlByte;
  s.lastRateDivider = m->divider;
  s.getDataCalls = m->getDataCalls;
  s.frameCounter = m->nextFrame;
  return s;
}

void Simulator::Unplug(const std::string& attach) {
  std::lock_guard lock(mutex_);
  const auto m = Require(attach);
  if (m->plugged) UnplugLocked(*m);
}

void Simulator::Replug(const std::string& attach) {
  std::lock_guard lock(mutex_);
  const auto m = Require(attach);
  CheckUnplugTimer(*m);
  if (!m->plugged) PlugLocked(*m);
}

// A power cycle: the module is back with its lines at their power-up values.
void Simulator::PlugLocked(Module& m) {
  m.plugged = true;
  m.replugAt.reset();
  m.outputs = 0;
  m.aux = m.cfg.dioAux;
  MachineLock::Forget(m.key);
}

void Simulator::SetInputs(const std::string& attach, uint8_t value) {
  std::lock_guard lock(mutex_);
  Require(attach)->inputs = value;
}

}  // namespace quillbox::sim
