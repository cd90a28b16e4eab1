// The Qt tests' main (dialogs, `pullwire edit`): one QApplication, offscreen unless told otherwise.
#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
  // Also when run by hand or listed by gtest_discover_tests outside ctest's environment.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  qputenv("QT_QPA_PLATFORMTHEME", "");
  QApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
