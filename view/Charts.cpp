#include "view/Charts.h"

#include <QApplication>
#include <algorithm>
#include <array>
#include <cstdlib>

namespace quillbox::view {

QColor TraceColour(std::size_t i) {
  // Strong hues first, then darker and lighter ones; none paler than 3:1 against white.
  static constexpr std::array<QRgb, kTraceColours> kColours = {
      0x1f77b4, 0xd62728, 0x2ca02c, 0x9467bd, 0xd35400, 0x8c564b, 0xc2187a, 0x0e7c86,
      0x555555, 0x7a7a00, 0x1a237e, 0x8b0000, 0x1b5e20, 0x4a148c, 0xa0522d, 0x00695c,
      0x880e4f, 0x33691e, 0x0d47a1, 0x9a6a00, 0x263238, 0x6a5acd, 0xb03060, 0x2e8b57};
  return QColor::fromRgb(kColours[i % kTraceColours]);
}

bool IsDigital(const std::string& unit) { return unit == "TTL"; }

std::vector<Group> GroupColumns(const std::vector<std::string>& units, bool ownPanels) {
  std::vector<Group> groups;
  for (std::size_t c = 0; c < units.size(); ++c) {
    const bool digital = IsDigital(units[c]);
    auto it = std::find_if(groups.begin(), groups.end(), [&](const Group& g) {
      return g.unit == units[c] && (digital || !ownPanels);
    });
    if (it == groups.end()) it = groups.insert(groups.end(), Group{units[c], digital, {}});
    it->columns.push_back(c);
  }
  return groups;
}

namespace {

bool EnvSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

}  // namespace

QApplication* ViewApplication(bool offscreen, std::string& why) {
  if (QCoreApplication::instance() != nullptr) {
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (app == nullptr) why = "the views need a Qt widget application";
    return app;
  }
  // The environment changes only here, before the application and while one thread runs.
  // NOLINTBEGIN(concurrency-mt-unsafe)
  std::string platforms;
  if (offscreen) {
    platforms = "offscreen";
  } else if (EnvSet("QT_QPA_PLATFORM")) {
    platforms = std::getenv("QT_QPA_PLATFORM");
  } else {
    if (EnvSet("WAYLAND_DISPLAY")) platforms += "wayland;";
    if (EnvSet("DISPLAY")) platforms += "xcb;";
  }
  // A display that is named but does not answer falls back to offscreen instead of Qt ending
  // the process, and is then refused below, as the dialogs refuse it.
  const bool fallback = platforms.find("offscreen") == std::string::npos;
  if (fallback) platforms += "offscreen";
  setenv("QT_QPA_PLATFORM", platforms.c_str(), 1);
  // NOLINTEND(concurrency-mt-unsafe)
  static int argc = 1;
  static char name[] = "quillbox";
  static char* argv[] = {name, nullptr};
  // Lives until the process ends, as the dialogs' application does.
  auto* app = new QApplication(argc, argv);
  if (fallback && QGuiApplication::platformName() == QLatin1String("offscreen")) {
    const char* variable = EnvSet("DISPLAY") ? "DISPLAY" : "WAYLAND_DISPLAY";
    const char* display = std::getenv(variable);
    why = std::string("the display ") + variable + "=" + (display != nullptr ? display : "") +
          " cannot be reached; --screenshot FILE renders the scope without one";
    return nullptr;
  }
  return app;
}

}  // namespace quillbox::view
