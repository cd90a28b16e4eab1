// The Qt application object the dialogs need: the host's when it has one, else our own.
#pragma once

class QApplication;

namespace pullwire {

// Returns the process's QApplication, creating one when the host has none. Returns null when
// widgets cannot be shown: the host runs a non-widget Qt application, or there is no display
// (no DISPLAY, WAYLAND_DISPLAY or QT_QPA_PLATFORM), where creating one would abort the process.
QApplication* EnsureQtApplication();

// Deletes the application EnsureQtApplication created, if it created one (before the library is
// unloaded). The host's own application is never touched.
void ReleaseQtApplication();

}  // namespace pullwire
