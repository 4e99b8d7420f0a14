#pragma once
// The look shared by the dialogs: a sans-serif font like the one the layouts were made for, at
// the user's font size (the layouts scale with it), so that captions fit the controls.

#include <QFont>
#include <QGuiApplication>
#include <QWidget>

#include "ui/Twips.h"

namespace quillbox {

inline QFont DialogFont() {
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(UserFontPixels());
  return font;
}

inline void ApplyDialogFont(QWidget* widget) { widget->setFont(DialogFont()); }

// Widens a captioned control whose caption needs more room than its layout gives (the fonts
// here run wider than the ones the layouts were drawn for); never narrows it.
inline void FitCaption(QWidget* widget) {
  const QSize needed = widget->sizeHint();
  if (needed.width() > widget->width()) widget->resize(needed.width(), widget->height());
  // A check mark taller than the row grows about the row's middle.
  if (needed.height() > widget->height()) {
    const int grow = needed.height() - widget->height();
    widget->setGeometry(widget->x(), widget->y() - grow / 2, widget->width(), needed.height());
  }
}

// Puts a dialog's window in front of the others (platforms without windows have no front).
inline void BringToFront(QWidget* window) {
  if (QGuiApplication::platformName() == QLatin1String("offscreen")) return;
  window->raise();
  window->activateWindow();
}

}  // namespace quillbox
