// The Qt application object the dialogs need: the host's when it has one, else our own.
#pragma once

class QApplication;

namespace pullwire {

// Returns the process's QApplication, creating one when the host has none. Returns null when
// widgets cannot be shown: the host runs a non-widget Qt application, or there is no display
// (no DISPLAY, WAYLAND_DISPLAY or QT_QPA_PLATFORM), where creating one would abort the process.
QApplication* EnsureQtApplication();

}  // namespace pullwire
