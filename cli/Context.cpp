#include "cli/Context.h"

#include <cstdlib>
#include <iostream>

#include "quillbox/CreateObject.h"

namespace quillbox::cli {

constexpr const char* kProgId = "Quillbox.E_270";

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

void PrintError(const std::string& message) { std::cerr << "quillbox: " << message << '\n'; }

}  // namespace quillbox::cli
