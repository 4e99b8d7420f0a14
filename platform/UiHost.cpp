#include "platform/UiHost.h"

#include <mutex>

namespace quillbox::platform {
namespace {
std::mutex g_mutex;
UiHooks g_hooks;

UiHooks Hooks() {
  std::lock_guard lock(g_mutex);
  return g_hooks;
}
}  // namespace

void SetUiHooks(UiHooks hooks) {
  std::lock_guard lock(g_mutex);
  g_hooks = std::move(hooks);
}

void DoEvents() {
  if (auto hooks = Hooks(); hooks.doEvents) hooks.doEvents();
}

void SetWaitCursor(bool wait) {
  if (auto hooks = Hooks(); hooks.waitCursor) hooks.waitCursor(wait);
}

void ShowMessageBox(const std::string& text) {
  if (auto hooks = Hooks(); hooks.messageBox) hooks.messageBox(text);
}

bool ShellOpen(const std::string& target) {
  auto hooks = Hooks();
  return hooks.shellOpen ? hooks.shellOpen(target) : false;
}

bool OpenHelp(const std::string& file, int context) {
  auto hooks = Hooks();
  return hooks.openHelp ? hooks.openHelp(file, context) : false;
}

}  // namespace quillbox::platform
