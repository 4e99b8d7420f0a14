#pragma once
// The QApplication the dialogs need. A host may bring its own; otherwise one is made on demand
// and kept for the life of the process.
//
// A modal dialog is shown only where someone can answer it: in a host that made its own
// application, or on a real display. A process whose only platform is one without a screen
// (offscreen, minimal) gets the cancelled result instead of a dialog that would wait forever;
// rendering (screenshots) works there.

class QApplication;

namespace quillbox {

// True when the environment names a display Qt can reach: DISPLAY or WAYLAND_DISPLAY, or a
// QT_QPA_PLATFORM whose platform needs neither (offscreen, vnc, ...).
bool EnvironmentHasDisplay();

// The application for a modal dialog, made when there is none; null when no one could answer
// the dialog (see above) or the host made a non-widget application.
QApplication* DialogApplication();

// The application for rendering widgets off screen, made when there is none (on the offscreen
// platform when there is no display). Null when the host made a non-widget application.
QApplication* RenderingApplication();

// The host's (or an earlier made) application, never a new one; null when there is none.
QApplication* AdoptApplication();

// True on the thread that made (or first reported) the QApplication, once one is known.
bool OnUiThread();

}  // namespace quillbox
