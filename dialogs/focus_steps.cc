// Focus entry and loss steps of text boxes, told apart from window (de)activation, and buttons
// that take the focus before they act.
#include "dialogs/focus_steps.h"

#include <utility>

#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QFocusEvent>
#include <QTimer>
#include <QWidget>

namespace pullwire {
namespace {

bool IsWindowActivation(Qt::FocusReason reason) {
  return reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason;
}

}  // namespace

void FocusSteps::Watch(QWidget* box, EntryStep on_entry, LossStep on_loss) {
  steps_[box] = Steps{std::move(on_entry), std::move(on_loss)};
  box->installEventFilter(this);
  connect(box, &QObject::destroyed, this, [this, box] {
    steps_.erase(box);
    if (entered_ == box) entered_ = nullptr;
  });
}

bool FocusSteps::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::FocusIn && event->type() != QEvent::FocusOut) return false;
  const auto found = steps_.find(watched);
  if (found == steps_.end()) return false;
  const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
  // A copy: a step may show a modal box, during which the map could change.
  const Steps steps = found->second;
  watched->event(event);
  if (event->type() == QEvent::FocusIn) {
    // The first focus of a shown dialog arrives as an activation, yet it is a real entry.
    if (!IsWindowActivation(reason) || !any_entered_) Enter(watched, steps, reason);
  } else if (!IsWindowActivation(reason)) {
    Leave(watched, steps);
  }
  return true;
}

void FocusSteps::Enter(QObject* box, const Steps& steps, Qt::FocusReason reason) {
  any_entered_ = true;
  if (entered_ == box) return;
  entered_ = box;
  if (steps.on_entry) steps.on_entry(reason);
}

void FocusSteps::Leave(QObject* box, const Steps& steps) {
  if (entered_ != box) return;
  entered_ = nullptr;
  // Qt names the new focus widget before it tells the old one that it lost the focus.
  leaving_towards_ = QApplication::focusWidget();
  if (steps.on_loss) steps.on_loss();
  leaving_towards_ = nullptr;
}

void FocusSteps::FocusInto(QWidget* box) {
  box->setFocus(Qt::OtherFocusReason);
  const auto found = steps_.find(box);
  if (found == steps_.end() || entered_ == box) return;
  const Steps steps = found->second;
  Enter(box, steps, Qt::OtherFocusReason);
}

void FocusSteps::RefuseValue(QWidget* box) {
  QWidget* const towards = leaving_towards_;
  FocusInto(box);
  refused_towards_ = towards;
  // A mouse press that caused the refusal is delivered before any timer runs; a Tab is not
  // followed by a press at all, so nothing is left over for a later, unrelated activation.
  QTimer::singleShot(0, this, [this] { refused_towards_ = nullptr; });
}

void FocusSteps::WatchButton(QAbstractButton* button) {
  connect(button, &QAbstractButton::pressed, this, [this, button] {
    press_refused_ = refused_towards_ == button ? button : nullptr;
    refused_towards_ = nullptr;
  });
}

bool FocusSteps::ActivateButton(QAbstractButton* button) {
  if (std::exchange(press_refused_, nullptr) == button) return false;
  if (button->window()->focusWidget() != button) {
    refused_towards_ = nullptr;
    button->setFocus(Qt::OtherFocusReason);
    if (std::exchange(refused_towards_, nullptr) == button) return false;
  }
  return button->window()->focusWidget() == button;
}

}  // namespace pullwire
