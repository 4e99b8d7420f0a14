// Entry points of the user interface for the driver: the setup dialog and its screenshots.

#include "ui/Ui.h"

#include <QApplication>
#include <QPixmap>
#include <filesystem>

#include "driver/DriverState.h"
#include "ui/QtApp.h"
#include "ui/dlgSetup.h"

namespace quillbox {

SetupResult ShowSetupDialog(DriverState& state, std::string& error) {
  if (DialogApplication() == nullptr) return SetupResult::NoDisplay;
  RegisterStandardPages();
  try {
    dlgSetup dialog(state);
    dialog.exec();
    if (!dialog.Failure().empty()) {
      error = dialog.Failure();
      return SetupResult::Failed;
    }
    return SetupResult::Shown;
  } catch (const std::exception& e) {
    error = e.what();
  } catch (...) {
    error = "unexpected error in the setup dialog";
  }
  if (error.empty()) error = "unknown error";
  return SetupResult::Failed;
}

bool RenderSetupScreenshots(DriverState& state, const std::string& dir,
                            std::vector<std::string>& written, std::string& error) {
  namespace fs = std::filesystem;
  if (RenderingApplication() == nullptr) {
    error = "the host's application cannot show widgets";
    return false;
  }
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec || !fs::is_directory(dir, ec)) {
    error = "cannot create the folder " + dir + (ec ? ": " + ec.message() : std::string());
    return false;
  }
  RegisterStandardPages();
  // The screenshots must not change the tab the next opening starts on.
  const int16_t rememberedTab = state.LastSetupTab;
  bool ok = true;
  try {
    dlgSetup dialog(state);
    dialog.setAttribute(Qt::WA_DontShowOnScreen);
    dialog.show();
    for (int i = 0; i < dialog.Tabs()->count() && ok; ++i) {
      dialog.SelectTab(i);
      QCoreApplication::processEvents();
      const fs::path file = fs::path(dir) / (dialog.Tabs()->Key(i).toStdString() + ".png");
      if (!dialog.grab().save(QString::fromStdString(file.string()), "PNG")) {
        error = "cannot write " + file.string();
        ok = false;
      } else {
        written.push_back(file.string());
      }
    }
    dialog.reject();
  } catch (const std::exception& e) {
    error = e.what();
    ok = false;
  }
  state.LastSetupTab = rememberedTab;
  return ok;
}

}  // namespace quillbox
