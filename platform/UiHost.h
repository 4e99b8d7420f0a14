#pragma once
// What the driver needs of a user-interface host: letting pending events run, the wait cursor,
// a message box, opening a document or web address, and help. The defaults do nothing (a
// headless host); the Qt layer installs real ones when it is linked in.

#include <functional>
#include <string>

namespace quillbox::platform {

struct UiHooks {
  std::function<void()> doEvents;
  std::function<void(bool)> waitCursor;
  std::function<void(const std::string&)> messageBox;
  std::function<bool(const std::string&)> shellOpen;
  std::function<bool(const std::string&, int)> openHelp;
};

void SetUiHooks(UiHooks hooks);

// Lets pending events of the calling thread run once (no-op off the UI thread).
void DoEvents();
void SetWaitCursor(bool wait);
void ShowMessageBox(const std::string& text);
bool ShellOpen(const std::string& target);
bool OpenHelp(const std::string& file, int context);

}  // namespace quillbox::platform
