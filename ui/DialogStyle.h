#pragma once
// The look shared by the dialogs: a small sans-serif font like the one the layouts were made
// for, so that captions fit the controls' twip sizes.

#include <QFont>
#include <QGuiApplication>
#include <QWidget>

namespace quillbox {

inline QFont DialogFont() {
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(11);
  return font;
}

inline void ApplyDialogFont(QWidget* widget) { widget->setFont(DialogFont()); }

// Puts a dialog's window in front of the others (platforms without windows have no front).
inline void BringToFront(QWidget* window) {
  if (QGuiApplication::platformName() == QLatin1String("offscreen")) return;
  window->raise();
  window->activateWindow();
}

}  // namespace quillbox
