#include "cli/Context.h"

#include <cstdlib>
#include <iostream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "cli/ServiceNotify.h"
#include "cli/TextTable.h"
#include "quillbox/CreateObject.h"

namespace quillbox::cli {
namespace {

using Json = nlohmann::json;

constexpr const char* kProgId = "Quillbox.E_270";

// "the module on USB1 is in use by process 1234" (or "by another process" when it cannot be
// told which), or "" when the last open found none busy.
std::string BusyText(ITools& tools) {
  const std::string busy = tools.BusyModules();
  if (busy.empty()) return "";
  const bool several = busy.find(',') != std::string::npos;
  const std::vector<int> pids = tools.BusyProcesses();
  std::string by = pids.size() == 1 ? "process " : "processes ";
  for (std::size_t i = 0; i < pids.size(); ++i) by += (i > 0 ? ", " : "") + std::to_string(pids[i]);
  return (several ? "the modules on " : "the module on ") + busy + (several ? " are" : " is") +
         " in use by " + (pids.empty() ? "another process" : by);
}

// Whether the open listed several USB modules: the device dialog was asked to choose.
bool SeveralListed(ITools& tools) {
  const Json listed = Json::parse(tools.ListedDevicesJson(), nullptr, false);
  return listed.is_array() && listed.size() > 1;
}

}  // namespace

// Asks the component, which decides by the same rule whether its device dialog can be shown.
// Without the component the command's next step says what is missing.
bool DisplayAvailable() {
  const auto get = reinterpret_cast<ITools* (*)()>(ComponentSymbol(kProgId, "QuillboxTools"));
  ITools* tools = get != nullptr ? get() : nullptr;
  return tools == nullptr || tools->DisplayAvailable();
}

void Context::ApplyGlobals() const {
  // Runs before the component is loaded, while the process has one thread.
  // NOLINTBEGIN(concurrency-mt-unsafe)
  if (!benchFile.empty()) setenv("QUILLBOX_BENCH", benchFile.c_str(), 1);
  // NOLINTEND(concurrency-mt-unsafe)
}

Object Context::Driver() {
  if (!driver_) driver_ = CreateObject(kProgId);
  return driver_;
}

std::shared_ptr<IADC3> Context::Adc() { return As<IADC3>(Driver()); }
std::shared_ptr<IDIO> Context::Dio() { return As<IDIO>(Driver()); }

ITools& Context::Tools() {
  Driver();
  auto get = reinterpret_cast<ITools* (*)()>(ComponentSymbol(kProgId, "QuillboxTools"));
  ITools* tools = get != nullptr ? get() : nullptr;
  if (tools == nullptr) throw CreateObjectError("the component has no tools interface");
  return *tools;
}

void Context::Release() { driver_.reset(); }

int Context::OpenModule() {
  choiceRefused_ = false;
  ITools& tools = Tools();
  tools.SetDeviceChoice(device, "--device");
  const auto adc = Adc();
  if (adc->Test()) {
    // The dialog gave no choice (cancelled, or its display could not be reached after all) and
    // the component fell back to the serial ports: say which module that opened.
    if (SeveralListed(tools)) {
      const Json info = Json::parse(tools.InfoJson(), nullptr, false);
      const std::string port =
          info.is_object() ? info.value("board", Json::object()).value("port", "") : "";
      if (port.rfind("COM", 0) == 0)
        PrintMessage(Severity::Notice,
                     "no USB module was chosen in the device dialog; opened the module on " + port);
    }
    return kExitOk;
  }
  if (const std::string problem = tools.ChoiceProblem(); !problem.empty()) {
    // The list is the one the open itself found: no second listing.
    choiceRefused_ = true;
    PrintError(Printable(problem) + ":");
    PrintDevices(tools.ListedDevicesJson(), std::cerr);
    if (const std::string busy = BusyText(tools); !busy.empty()) PrintError(busy);
    return kExitFailure;
  }
  // The reason a user can act on first (a module busy elsewhere, a dialog closed without a
  // choice), then the component's own text as the detail.
  std::string reason = BusyText(tools);
  if (reason.empty() && SeveralListed(tools)) reason = "no module was chosen in the device dialog";
  const std::string detail = adc->LastError();
  if (reason.empty())
    reason = detail.empty() ? "the module could not be opened" : detail;
  else if (!detail.empty())
    reason += " (" + detail + ")";
  PrintError(reason);
  return kExitFailure;
}

void PrintDevices(const std::string& devicesJson, std::ostream& out) {
  const Json list = Json::parse(devicesJson, nullptr, false);
  if (!list.is_array() || list.empty()) {
    std::cerr << "No E-270 module found on USB.\n";
  } else {
    TextTable table({{"Device", Align::Right}, {"Port"}, {"Board"}, {"Serial"}});
    for (const Json& e : list) {
      if (!e.is_object()) continue;
      table.Add({std::to_string(e.value("device", -1)), e.value("port", ""), e.value("board", ""),
                 e.value("serial", "")});
    }
    table.Print(out);
  }
  out << std::flush;
  std::cerr << "Choose one with --device and its serial or its port as listed, or COM1..COM8 for a "
               "module on a serial port.\n";
}

bool CallSucceeded(Context& ctx, const std::string& what) {
  const std::string call = ctx.Tools().LastCallFailure();
  if (call.empty()) return true;
  PrintError(what + " failed: " + call + " failed");
  return false;
}

void PrintMessage(Severity severity, const std::string& message) {
  // The journal takes each line as an entry of its own: each gets the priority.
  const char* priority = !StderrIsJournal()              ? ""
                         : severity == Severity::Error   ? "<3>"
                         : severity == Severity::Warning ? "<4>"
                         : severity == Severity::Notice  ? "<5>"
                                                         : "<6>";
  std::string text;
  std::istringstream lines("quillbox: " + message);
  for (std::string line; std::getline(lines, line);) text += priority + line + '\n';
  std::cerr << text;  // in one write, so that its lines stay together
}

void PrintError(const std::string& message) { PrintMessage(Severity::Error, message); }

}  // namespace quillbox::cli
