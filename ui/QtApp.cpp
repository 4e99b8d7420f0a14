#include "ui/QtApp.h"

#include "ui/Ui.h"

#include <QApplication>
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

namespace quillbox {
namespace {

// Set once an application is known, with the thread that made it; read by hooks that may run
// on other threads, which must not touch Qt.
std::atomic<QCoreApplication*> g_app{nullptr};
std::atomic<std::thread::id> g_appThread{};
bool g_madeHere = false;  // the application is this component's own

void Note(QCoreApplication* app) {
  g_appThread.store(std::this_thread::get_id());
  g_app.store(app);
}

bool EnvSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

// Platforms that draw into memory only.
bool WithoutScreen(const std::string& platform) {
  return platform == "offscreen" || platform.rfind("minimal", 0) == 0;
}

// The first platform QT_QPA_PLATFORM names ("" when unset), without its options.
std::string RequestedPlatform() {
  if (!EnvSet("QT_QPA_PLATFORM")) return {};
  std::string name = std::getenv("QT_QPA_PLATFORM");
  name = name.substr(0, name.find(';'));
  return name.substr(0, name.find(':'));
}

QApplication* Existing() {
  QCoreApplication* existing = QCoreApplication::instance();
  if (existing == nullptr) return nullptr;
  if (g_app.load() != existing) Note(existing);
  return qobject_cast<QApplication*>(existing);
}

QApplication* Make() {
  // Qt keeps references to argc and argv for the application's lifetime.
  static int argc = 1;
  static char arg0[] = "quillbox";
  static char* argv[] = {arg0, nullptr};
  // A display that is named but cannot be reached must not end the process: unless the host
  // chose a platform, the offscreen one is the last fallback (and then no dialog is shown).
  const bool chosen = EnvSet("QT_QPA_PLATFORM");
  if (!chosen) {
    std::string platforms;
    if (EnvSet("WAYLAND_DISPLAY")) platforms += "wayland;";
    if (EnvSet("DISPLAY")) platforms += "xcb;";
    // The environment changes only on the host's thread, and never while a recording runs.
    // NOLINTNEXTLINE(concurrency-mt-unsafe)
    setenv("QT_QPA_PLATFORM", (platforms + "offscreen").c_str(), 1);
  }
  // Kept for the life of the process: a host without its own application gets this one.
  auto* app = new QApplication(argc, argv);
  if (!chosen) unsetenv("QT_QPA_PLATFORM");  // NOLINT(concurrency-mt-unsafe): as above
  g_madeHere = true;
  Note(app);
  return app;
}

}  // namespace

bool EnvironmentHasDisplay() {
  const bool x11 = EnvSet("DISPLAY");
  const bool wayland = EnvSet("WAYLAND_DISPLAY");
  if (!EnvSet("QT_QPA_PLATFORM")) return x11 || wayland;
  // QT_QPA_PLATFORM may list fallbacks ("wayland;xcb"): any usable one will do.
  const std::string list = std::getenv("QT_QPA_PLATFORM");
  std::size_t start = 0;
  while (start <= list.size()) {
    const std::size_t end = std::min(list.find(';', start), list.size());
    std::string name = list.substr(start, end - start);
    name = name.substr(0, name.find(':'));
    if (name == "xcb") {
      if (x11) return true;
    } else if (name.rfind("wayland", 0) == 0) {
      if (wayland) return true;
    } else if (!name.empty()) {
      return true;
    }
    start = end + 1;
  }
  return false;
}

bool CanShowDialogs() {
  if (QCoreApplication::instance() != nullptr) {
    QApplication* app = Existing();
    return app != nullptr &&
           !(g_madeHere && WithoutScreen(QGuiApplication::platformName().toStdString()));
  }
  // Without a display QApplication would abort the process.
  return EnvironmentHasDisplay() && !WithoutScreen(RequestedPlatform());
}

QApplication* DialogApplication() {
  if (!CanShowDialogs()) return nullptr;
  if (QCoreApplication::instance() == nullptr) Make();
  // The display may have failed over to the offscreen platform.
  return CanShowDialogs() ? Existing() : nullptr;
}

QApplication* AdoptApplication() { return Existing(); }

bool PrepareDialogs() { return DialogApplication() != nullptr; }

QApplication* RenderingApplication() {
  if (QCoreApplication::instance() != nullptr) return Existing();
  // NOLINTNEXTLINE(concurrency-mt-unsafe): host thread only, as in Make()
  if (!EnvironmentHasDisplay()) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  return Make();
}

bool OnUiThread() {
  return g_app.load() != nullptr && g_appThread.load() == std::this_thread::get_id();
}

}  // namespace quillbox
