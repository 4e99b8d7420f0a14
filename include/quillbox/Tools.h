#pragma once
// The component's tools interface: what a command-line host needs beyond IADC3 and IDIO
// (listing modules, describing the opened module, the registry, registration, screenshots).
// Reached through the exported C symbol QuillboxTools of the component library.

#include <cstdint>
#include <string>
#include <vector>

#include "quillbox/Object.h"

namespace quillbox {

class ITools {
 public:
  virtual ~ITools() = default;
  // Version of the component as "major.minor.build.revision".
  virtual std::string ComponentVersion() = 0;
  // E-270 modules on the USB side: [{"device":0,"port":"USB1","board":"E-270","serial":"..."}].
  virtual std::string DevicesJson() = 0;
  // What the driver knows about the module it opened last (see `quillbox info --json`).
  virtual std::string InfoJson() = 0;
  // Registry-export text of a key below HKEY_CURRENT_USER ("" for the settings key).
  virtual std::string ExportKey(const std::string& path, bool recursive) = 0;
  // Records the component library and its identifiers in the registry store.
  virtual bool Register(const std::string& libraryPath, std::string& error) = 0;
  // Shows the setup dialog of `object` modally; false with a reason when no display exists.
  virtual bool ShowSetup(const Object& object, std::string& error) = 0;
  // Renders every tab of the setup dialog offscreen into dir/<tab>.png.
  virtual bool Screenshots(const Object& object, const std::string& dir, std::string& error) = 0;
  // EIRQ synchronisation of the recordings started from now on, the General page's choice:
  // 0 off, 1 rising edge ("0 -1"), 2 falling edge ("1- 0"). Not stored with the settings.
  // False, with nothing changed, for another value or while a recording runs.
  virtual bool SetSyncMode(int mode) = 0;

  // What a host needs to know beyond the interfaces' specified results, which stay as they are.

  // Trouble with the settings store since the component was loaded: "" when every use of it
  // worked, else one line naming the store's path and the reason, e.g.
  // "/home/u/.config/quillbox/registry.sqlite3: locked by another process". Once the store was
  // found locked, later uses give up at once, so a command waits for it at most once.
  virtual std::string StoreProblem() = 0;
  // "" when the vendor calls behind the last single read (IADC3 GetChannel/GetKadr) or digital-I/O
  // member reached the module, else the name of the call that failed ("E270GetDIO").
  virtual std::string LastCallFailure() = 0;
  // "" while the running (or last) recording's data calls succeed; otherwise why its thread
  // gets no data, e.g. "E270GetDATA failed".
  virtual std::string AcquisitionProblem() = 0;
  // Port names ("USB1") of the modules that the last open or device listing found in use by
  // another process, separated by ", "; "" when none.
  virtual std::string BusyModules() = 0;
  // The processes that have those modules, where they can be told (ids, ascending order of
  // discovery); empty otherwise.
  virtual std::vector<int> BusyProcesses() = 0;

  // The module the opens from now on use: a serial or a port name as DevicesJson lists it
  // ("USB1", any case), or "COM1".."COM8" for that serial port only. `source` is how messages
  // name the choice ("--device"). An empty choice leaves it to QUILLBOX_DEVICE.
  virtual void SetDeviceChoice(const std::string& choice, const std::string& source) = 0;
  // Why the last open refused to choose a module, e.g. `--device "X" names no attached E-270
  // module` (its LastError says the same); "" when it did not refuse.
  virtual std::string ChoiceProblem() = 0;
  // The modules the last listing found (the last open's or DevicesJson's), as DevicesJson gives
  // them, without listing again.
  virtual std::string ListedDevicesJson() = 0;
  // Whether a window can be shown here; without one the device dialog is never asked, and an
  // open without a choice among several modules is refused.
  virtual bool DisplayAvailable() = 0;
  // Waits until the recording holds frames that GetData would return, at most `ms` milliseconds
  // of the module's clock: a host's loop wakes once per block instead of on a timer of its own.
  // True when frames are there. Without a running recording it waits the whole time (a loop
  // around it never spins).
  virtual bool WaitForData(uint32_t ms) = 0;
};

}  // namespace quillbox

// Exported by Quillbox.adc.
extern "C" quillbox::ITools* QuillboxTools();
