// Creates the QApplication for a host that has none.
#include "dialogs/qt_application.h"

#include <cstdlib>

#include <QApplication>

namespace pullwire {
namespace {

// QApplication keeps references to argc and argv for its whole life.
int g_argc = 1;
char g_program_name[] = "pullwire";
char* g_argv[] = {g_program_name, nullptr};

bool HasEnvironment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

bool DisplayReachable() {
  return HasEnvironment("QT_QPA_PLATFORM") || HasEnvironment("DISPLAY") ||
         HasEnvironment("WAYLAND_DISPLAY");
}

}  // namespace

QApplication* EnsureQtApplication() {
  if (QCoreApplication* existing = QCoreApplication::instance()) {
    return qobject_cast<QApplication*>(existing);
  }
  if (!DisplayReachable()) return nullptr;
  // Never destroyed: the dialogs module stays loaded for the life of the process, and at exit
  // Qt's own globals may already be gone.
  return new QApplication(g_argc, g_argv);
}

}  // namespace pullwire
