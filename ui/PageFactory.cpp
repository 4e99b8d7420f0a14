#include "ui/PageFactory.h"

#include <map>
#include <mutex>

#include "ui/SetupPage.h"
#include "ui/Ui.h"
#include "ui/ucADC.h"
#include "ui/ucDIO.h"
#include "ui/ucGeneral.h"

namespace quillbox {
namespace {

std::mutex g_mutex;
std::map<std::string, PageCreator>& Creators() {
  static std::map<std::string, PageCreator> creators;
  return creators;
}

template <class Page>
PageCreator Creator() {
  return [](QWidget* parent, DriverState& state) -> SetupPage* { return new Page(parent, state); };
}

}  // namespace

void SetupPage::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  UserControl_Show();
}

void SetupPage::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  UserControl_Hide();
}

void RegisterPage(const std::string& progId, PageCreator creator) {
  std::lock_guard lock(g_mutex);
  if (creator)
    Creators()[progId] = std::move(creator);
  else
    Creators().erase(progId);
}

PageCreator RegisteredPage(const std::string& progId) {
  std::lock_guard lock(g_mutex);
  const auto it = Creators().find(progId);
  return it != Creators().end() ? it->second : PageCreator();
}

SetupPage* CreatePage(const std::string& progId, QWidget* parent, DriverState& state) {
  const PageCreator creator = RegisteredPage(progId);
  if (!creator) return nullptr;
  try {
    return creator(parent, state);
  } catch (...) {
    return nullptr;
  }
}

void RegisterStandardPages() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterPage("Quillbox.ucGeneral", Creator<ucGeneral>());
    RegisterPage("Quillbox.ucADC", Creator<ucADC>());
    RegisterPage("Quillbox.ucDIO", Creator<ucDIO>());
  });
}

}  // namespace quillbox
