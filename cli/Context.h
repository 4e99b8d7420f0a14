#pragma once
// What every quillbox command shares: global options and the driver object, created on first
// use through the host contract as any host would.

#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "quillbox/IADC3.h"
#include "quillbox/IDIO.h"
#include "quillbox/Object.h"
#include "quillbox/Tools.h"

namespace quillbox::cli {

// Exit codes of the quillbox command.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

struct Context {
  std::string benchFile;  // --bench
  std::string device;     // --device

  // Hands --bench to the simulated vendor library, which reads it from the environment when it
  // loads. --device goes to the component with each open.
  void ApplyGlobals() const;
  // The driver object ("Quillbox.E_270"); throws CreateObjectError when it cannot be made.
  Object Driver();
  std::shared_ptr<IADC3> Adc();
  std::shared_ptr<IDIO> Dio();
  // The component's tools interface; throws when the component does not export it.
  ITools& Tools();
  // Releases the driver object (runs its destruction: settings saved, device closed).
  void Release();

  // Opens the module (IADC3 Test) with the choice of --device (else the component takes
  // QUILLBOX_DEVICE) and prints why when it cannot. When the component refuses the choice (it
  // names no module or several, or several modules cannot be chosen among), the refusal is
  // followed by the modules the open listed. Returns kExitOk or kExitFailure.
  int OpenModule();
  // True when the last OpenModule refused the module choice without trying to open.
  bool ChoiceRefused() const { return choiceRefused_; }

 private:
  Object driver_;
  bool choiceRefused_ = false;
};

// Prints the modules of ITools::DevicesJson as `quillbox devices` shows them: the table to `out`;
// the hint how to choose one, or that there is none, to stderr, so that scripts can read `out`.
void PrintDevices(const std::string& devicesJson, std::ostream& out);

// False, with "quillbox: WHAT failed: CALL failed" on stderr, when the vendor call behind the
// last single read or digital-I/O member did not reach the module: its value is not the
// module's.
bool CallSucceeded(Context& ctx, const std::string& what);

// Whether a window can be shown (ITools::DisplayAvailable).
bool DisplayAvailable();

// How much a message matters; when stderr is the journal it is the line's priority.
enum class Severity { Error, Warning, Notice, Info };

// Prints "quillbox: " and the message on stderr. When stderr is the journal (a service), each
// line starts with its priority for the journal: <3> error, <4> warning, <5> notice, <6> info.
void PrintMessage(Severity severity, const std::string& message);
// PrintMessage of an error.
void PrintError(const std::string& message);

}  // namespace quillbox::cli
