#pragma once
// What every quillbox command shares: global options and the driver object, created on first
// use through the host contract as any host would.

#include <memory>
#include <string>

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

  // Applies the global options to the environment the component reads.
  void ApplyGlobals() const;
  // The driver object ("Quillbox.E_270"); throws CreateObjectError when it cannot be made.
  Object Driver();
  std::shared_ptr<IADC3> Adc();
  std::shared_ptr<IDIO> Dio();
  // The component's tools interface; throws when the component does not export it.
  ITools& Tools();
  // Releases the driver object (runs its destruction: settings saved, device closed).
  void Release();

 private:
  Object driver_;
};

// Prints "quillbox: " and the message on stderr.
void PrintError(const std::string& message);

}  // namespace quillbox::cli
