// Answers the next modal window or pop-up menu the code under test opens, from a timer the test
// owns, so that none outlives the test (a leak checker counts timers left at exit).
#pragma once

#include <functional>

#include <QApplication>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

namespace pullwire::testing {

class ModalAnswer {
 public:
  // Calls `answer` with the window once it is up (made active first, so that focus moves send
  // their events), then closes it if `answer` left it open. A window still open after 20 s (one
  // `answer` did not expect) fails the test and is closed, so the test never hangs on it.
  explicit ModalAnswer(std::function<void(QWidget*)> answer, bool popup = false) {
    QObject::connect(&poll_, &QTimer::timeout, [this, answer, popup] {
      QPointer<QWidget> window =
          popup ? QApplication::activePopupWidget() : QApplication::activeModalWidget();
      if (window == nullptr || !window->isVisible()) return;
      poll_.stop();
      if (!popup) {
        window->activateWindow();
        (void)QTest::qWaitForWindowActive(window, 5000);
      }
      answer(window);
      if (window != nullptr && window->isVisible()) window->close();
    });
    poll_.start(10);
    watchdog_.setSingleShot(true);
    QObject::connect(&watchdog_, &QTimer::timeout, [] {
      for (int i = 0; i < 10 && QApplication::activeModalWidget() != nullptr; ++i) {
        QWidget* open = QApplication::activeModalWidget();
        ADD_FAILURE() << "a window was left open: " << open->windowTitle().toStdString();
        open->close();
      }
    });
    watchdog_.start(20000);
  }

 private:
  QTimer poll_;
  QTimer watchdog_;
};

}  // namespace pullwire::testing
