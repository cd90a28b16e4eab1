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

// Not destroyed at exit on purpose: Qt's own globals may be gone by then. ReleaseQtApplication
// deletes it while Qt is still whole.
QApplication* g_own_application = nullptr;

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
  g_own_application = new QApplication(g_argc, g_argv);
  return g_own_application;
}

void ReleaseQtApplication() {
  delete g_own_application;
  g_own_application = nullptr;
}

}  // namespace pullwire
