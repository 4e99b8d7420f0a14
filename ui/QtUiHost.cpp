// The Qt side of the platform's UI host hooks.

#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QUrl>
#include <atomic>
#include <iostream>
#include <thread>

#include "platform/UiHost.h"
#include "ui/QtApp.h"
#include "ui/Ui.h"

namespace quillbox {
namespace {

// The thread that installed the hooks is the host's UI thread; a host application that exists
// there is adopted the first time a hook runs on it.
std::atomic<std::thread::id> g_hostThread{};

QApplication* UiApp() {
  if (!OnUiThread()) {
    if (std::this_thread::get_id() != g_hostThread.load()) return nullptr;
    if (QCoreApplication::instance() == nullptr) return nullptr;
    AdoptApplication();
    if (!OnUiThread()) return nullptr;
  }
  return qobject_cast<QApplication*>(QCoreApplication::instance());
}

void DoEventsHook() {
  if (UiApp() != nullptr) QCoreApplication::processEvents();
}

// The wait pointer is a state, not a stack: "off" returns to the normal arrow whatever was set.
void WaitCursorHook(bool wait) {
  if (UiApp() == nullptr) return;
  if (wait) {
    if (QApplication::overrideCursor() == nullptr)
      QApplication::setOverrideCursor(Qt::WaitCursor);
    else
      QApplication::changeOverrideCursor(Qt::WaitCursor);
  } else {
    while (QApplication::overrideCursor() != nullptr) QApplication::restoreOverrideCursor();
  }
}

void MessageBoxHook(const std::string& text) {
  if (std::this_thread::get_id() == g_hostThread.load() || OnUiThread()) {
    if (DialogApplication() != nullptr && OnUiThread()) {
      QMessageBox box(QMessageBox::NoIcon, QString(), QString::fromStdString(text),
                      QMessageBox::Ok);
      box.exec();
      return;
    }
  }
  // No way to show it: the text still reaches the user.
  std::cerr << text << '\n';
}

bool ShellOpenHook(const std::string& target) {
  if (UiApp() == nullptr) return false;
  return QDesktopServices::openUrl(QUrl::fromUserInput(QString::fromStdString(target)));
}

// Desktop help viewers take no context number: the file opens at its start.
bool OpenHelpHook(const std::string& file, int /*context*/) {
  if (UiApp() == nullptr) return false;
  return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(file)));
}

}  // namespace

platform::UiHooks QtUiHooks() {
  g_hostThread.store(std::this_thread::get_id());
  platform::UiHooks hooks;
  hooks.doEvents = DoEventsHook;
  hooks.waitCursor = WaitCursorHook;
  hooks.messageBox = MessageBoxHook;
  hooks.shellOpen = ShellOpenHook;
  hooks.openHelp = OpenHelpHook;
  return hooks;
}

}  // namespace quillbox
