// Driving Qt widgets the way a user does, for the dialogs tests and `pullwire edit`'s.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>

#include <QApplication>
#include <QLineEdit>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

namespace pullwire::testing {

// The child of `root` named `name`; throws (failing the test) when there is none.
template <class T>
T* Child(const QWidget* root, const char* name) {
  T* child = root->findChild<T*>(QLatin1String(name));
  if (child == nullptr) throw std::runtime_error(std::string("no child named ") + name);
  return child;
}

// Shows `window` and waits (bounded) until it is the active window, so focus moves send events.
inline bool ShowActive(QWidget* window) {
  window->show();
  window->activateWindow();
  return QTest::qWaitForWindowActive(window, 5000);
}

// Enters `box` as Tab would (the box left stores its text) and types `text` over its whole text.
inline void TypeReplacing(QLineEdit* box, const QString& text) {
  box->setFocus(Qt::TabFocusReason);
  box->selectAll();
  if (text.isEmpty()) QTest::keyClick(box, Qt::Key_Delete);
  QTest::keyClicks(box, text);
}

inline void PressTab() { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab); }

// Answers the next modal window or pop-up menu with `answer` once it is up and active, then closes
// it if still open, from timers the test owns (none outlives it). A window still open after 20 s
// fails the test and is closed, so the test never hangs on it.
class ModalAnswer {
 public:
  explicit ModalAnswer(std::function<void(QWidget*)> answer, bool popup = false) {
    QObject::connect(&poll_, &QTimer::timeout, [this, answer, popup] {
      QPointer<QWidget> window =
          popup ? QApplication::activePopupWidget() : QApplication::activeModalWidget();
      if (window == nullptr || !window->isVisible()) return;
      poll_.stop();
      if (!popup) window->activateWindow();
      if (!popup) (void)QTest::qWaitForWindowActive(window, 5000);
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
