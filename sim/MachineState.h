#pragma once
// What a simulated module shares with every process of the user, as a real module attached to
// the machine would: who has it open, and its output lines.
//
// One small file per module in the user's runtime folder ($QUILLBOX_RUNTIME_DIR, else
// $XDG_RUNTIME_DIR/quillbox, else /tmp/quillbox-<uid>, made 0700), named by the bench text's hash
// and the attach point. A process with a connection to the module holds an open-file-description
// lock (F_OFD_SETLK) on it, which the kernel drops however the process ends; the file holds the
// output and aux bytes last written, and is removed when its holder lets go with both at their
// power-up values. A folder or file that cannot be used leaves the module a device of this
// process alone; nothing fails because of it.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quillbox::sim {

struct LineState {
  uint8_t outputs = 0;
  uint8_t aux = 0;
};

// "<16 hex digits>-<attach>": the name of a module's file.
std::string MachineKey(uint64_t benchTextHash, const std::string& attach);

class MachineLock {
 public:
  enum class Result {
    Held,     // this process now has the module
    Busy,     // another process has it
    Private,  // no shared state to be had: the module is this process's alone
  };

  MachineLock() = default;
  ~MachineLock() { Release(false); }
  MachineLock(const MachineLock&) = delete;
  MachineLock& operator=(const MachineLock&) = delete;

  // Exclusive: no other holder at all; shared: other shared holders only.
  Result Acquire(const std::string& key, bool exclusive);
  // The lines stored for the module; nullopt when not held or nothing valid is stored.
  std::optional<LineState> Read() const;
  // Stores the lines (while held); false when they could not be written.
  bool Write(LineState lines) const;
  // Lets go. `atPowerUp`: the lines are at their power-up values, so an exclusive holder removes
  // the file instead of leaving it behind.
  void Release(bool atPowerUp);

  // A power cycle: forgets the stored lines of a module that no process has open.
  static void Forget(const std::string& key);
  // Whether any holder (another process, or another lock of this one) has the module; asks
  // without taking it, so the question never makes an Acquire fail.
  static bool InUse(const std::string& key);
  // The other processes that have the module's state file open (its holders), found through
  // /proc; empty when there is no shared state or none can be seen.
  static std::vector<int> Holders(const std::string& key);

 private:
  Result Take(const std::string& key, bool exclusive, bool create);

  int fd_ = -1;
  bool exclusive_ = false;
  std::string path_;
};

}  // namespace quillbox::sim
