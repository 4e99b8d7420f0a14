#include "cli/Context.h"

#include <algorithm>
#include <cstdlib>
#include <iostream>

#include <nlohmann/json.hpp>

#include "cli/TextTable.h"
#include "quillbox/CreateObject.h"

namespace quillbox::cli {
namespace {

using Json = nlohmann::json;

constexpr const char* kProgId = "Quillbox.E_270";

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameIgnoringCase(const std::string& a, const std::string& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](char x, char y) { return Upper(x) == Upper(y); });
}

// "COM1".."COM8" in any case: a module on a serial port, which the USB list cannot show; the
// component tries that port only.
bool IsComPort(const std::string& value) {
  return value.size() == 4 && SameIgnoringCase(value.substr(0, 3), "COM") && value[3] >= '1' &&
         value[3] <= '8';
}

// Two listed modules the dialog cannot tell apart: then it offers no choice at all.
bool HasTwins(const Json& list) {
  for (std::size_t i = 0; i < list.size(); ++i) {
    for (std::size_t j = i + 1; j < list.size(); ++j) {
      if (list[i].value("serial", "") == list[j].value("serial", "") &&
          list[i].value("board", "") == list[j].value("board", ""))
        return true;
    }
  }
  return false;
}

// Why the module choice cannot go to the open as it stands; "" when it can.
std::string ChoiceProblem(const std::string& choice, const std::string& source, const Json& list) {
  if (choice.empty()) {
    if (list.size() < 2) return "";
    const std::string several = std::to_string(list.size()) + " E-270 modules are attached on USB";
    if (!DisplayAvailable()) return several + " and there is no display to choose one on";
    if (HasTwins(list)) return several + " and the device dialog cannot tell them apart";
    return "";
  }
  std::size_t matches = 0;
  for (const Json& e : list) {
    if (e.value("serial", "") == choice || SameIgnoringCase(e.value("port", ""), choice)) ++matches;
  }
  const std::string named = source + " \"" + Printable(choice) + "\"";
  if (matches == 0) return named + " names no attached E-270 module";
  if (matches > 1) return named + " names " + std::to_string(matches) + " attached E-270 modules";
  return "";
}

void PrintBusy(ITools& tools) {
  const std::string busy = tools.BusyModules();
  if (busy.empty()) return;
  const bool several = busy.find(',') != std::string::npos;
  PrintError((several ? "the modules on " : "the module on ") + busy + (several ? " are" : " is") +
             " in use by another process");
}

}  // namespace

// Where this is false the component counts a device choice as cancelled.
bool DisplayAvailable() {
  const bool x11 = !Env("DISPLAY").empty();
  const bool wayland = !Env("WAYLAND_DISPLAY").empty();
  const std::string platforms = Env("QT_QPA_PLATFORM");
  if (platforms.empty()) return x11 || wayland;
  std::size_t start = 0;
  while (start <= platforms.size()) {
    const std::size_t end = std::min(platforms.find(';', start), platforms.size());
    std::string name = platforms.substr(start, end - start);
    name = name.substr(0, name.find(':'));
    start = end + 1;
    if (name == "xcb") {
      if (x11) return true;
    } else if (name.rfind("wayland", 0) == 0) {
      if (wayland) return true;
    } else if (!name.empty()) {
      return name != "offscreen" && name.rfind("minimal", 0) != 0;
    }
  }
  return false;
}

void Context::ApplyGlobals() const {
  // Runs before the component is loaded, while the process has one thread.
  // NOLINTBEGIN(concurrency-mt-unsafe)
  if (!benchFile.empty()) setenv("QUILLBOX_BENCH", benchFile.c_str(), 1);
  if (!device.empty()) setenv("QUILLBOX_DEVICE", device.c_str(), 1);
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
  const std::string choice = !device.empty() ? device : Env("QUILLBOX_DEVICE");
  ITools& tools = Tools();
  std::size_t usbModules = 0;
  if (!IsComPort(choice)) {
    const std::string text = tools.DevicesJson();
    const Json parsed = Json::parse(text, nullptr, false);
    Json list = Json::array();
    for (const Json& e : parsed.is_array() ? parsed : Json::array()) {
      if (e.is_object()) list.push_back(e);
    }
    const std::string problem =
        ChoiceProblem(choice, !device.empty() ? "--device" : "QUILLBOX_DEVICE", list);
    if (!problem.empty()) {
      choiceRefused_ = true;
      PrintError(problem + ":");
      PrintDevices(text, std::cerr);
      PrintBusy(tools);
      return kExitFailure;
    }
    usbModules = list.size();
  }
  const auto adc = Adc();
  if (adc->Test()) {
    // The dialog gave no choice (cancelled, or its display could not be reached after all) and
    // the component fell back to the serial ports: say which module that opened.
    if (choice.empty() && usbModules > 1) {
      const Json info = Json::parse(tools.InfoJson(), nullptr, false);
      const std::string port =
          info.is_object() ? info.value("board", Json::object()).value("port", "") : "";
      if (port.rfind("COM", 0) == 0)
        PrintError("no USB module was chosen in the device dialog; opened the module on " + port);
    }
    return kExitOk;
  }
  const std::string reason = adc->LastError();
  PrintError(reason.empty() ? "the module could not be opened" : reason);
  PrintBusy(tools);
  return kExitFailure;
}

void PrintDevices(const std::string& devicesJson, std::ostream& out) {
  const Json list = Json::parse(devicesJson, nullptr, false);
  if (!list.is_array() || list.empty()) {
    out << "No E-270 module found on USB.\n";
  } else {
    TextTable table({{"Device", Align::Right}, {"Port"}, {"Board"}, {"Serial"}});
    for (const Json& e : list) {
      if (!e.is_object()) continue;
      table.Add({std::to_string(e.value("device", -1)), e.value("port", ""), e.value("board", ""),
                 e.value("serial", "")});
    }
    table.Print(out);
  }
  out << "Choose one with --device and its serial or its port as listed, or COM1..COM8 for a "
         "module on a serial port.\n";
}

bool CallSucceeded(Context& ctx, const std::string& what) {
  const std::string call = ctx.Tools().LastCallFailure();
  if (call.empty()) return true;
  PrintError(what + " failed: " + call + " failed");
  return false;
}

void PrintError(const std::string& message) { std::cerr << "quillbox: " << message << '\n'; }

int ApplyScanListAndRate(IADC3& adc, const std::vector<int16_t>& channels,
                         std::optional<double> rate) {
  if (!channels.empty()) {
    adc.InputChannels(BoundedArray<int16_t>::FromVector(channels));
    if (adc.InputChannels().values() != channels) {
      PrintError("--channels: the driver did not take the scan list of " +
                 std::to_string(channels.size()) + " entries");
      return kExitUsage;
    }
  }
  if (rate) {
    if (*rate > adc.RateMax())
      PrintError("rate " + FloatText(*rate) + " Hz is above the highest rate; using " +
                 FloatText(adc.RateMax()) + " Hz");
    adc.Rate(static_cast<float>(*rate));
  }
  return kExitOk;
}

}  // namespace quillbox::cli
