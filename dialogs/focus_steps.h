// Runs the entry and loss steps of a dialog's text boxes when the input focus moves between its
// controls, and moves the focus onto a button before the button acts.
#pragma once

#include <functional>
#include <map>

#include <QObject>

class QAbstractButton;
class QWidget;

namespace pullwire {

// A box is entered when the focus moves into it (Tab, a click, a shortcut, a rule's setFocus, or
// the first focus of a newly shown dialog) and left when the focus moves on to another control.
// A window losing or regaining activation (a message box, another application, a pop-up menu) is
// neither: the box stays entered. The loss steps of a box that was never entered do not run, so a
// box that only flickered through the focus while a refused value pulled it back stays untouched.
class FocusSteps final : public QObject {
 public:
  using EntryStep = std::function<void(Qt::FocusReason)>;
  using LossStep = std::function<void()>;

  explicit FocusSteps(QObject* parent) : QObject(parent) {}

  // Watches `box`; either step may be empty. The box handles the focus event itself first, so a
  // step that puts the focus back into the box leaves it with a live caret.
  void Watch(QWidget* box, EntryStep on_entry, LossStep on_loss);

  // Moves the focus into the watched `box` as an entry. Also while the window is not active (a
  // message box has just closed and the window manager has not yet given the activation back),
  // when Qt only notes the focus for later and sends no event.
  void FocusInto(QWidget* box);
  // Called by a loss step that refused the box's value: puts the focus back into `box`.
  void RefuseValue(QWidget* box);

  // Watches a button whose action ActivateButton guards.
  void WatchButton(QAbstractButton* button);
  // Called first by the action of a watched button: moves the focus onto it, as a click or an
  // access key does, so the box being left runs its loss steps before the action. Returns false
  // when a loss step refused its value on the way, for this activation: the action is then not
  // taken, and the user sees the corrected box.
  bool ActivateButton(QAbstractButton* button);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct Steps {
    EntryStep on_entry;
    LossStep on_loss;
  };

  void Enter(QObject* box, const Steps& steps, Qt::FocusReason reason);
  void Leave(QObject* box, const Steps& steps);

  std::map<QObject*, Steps> steps_;
  QObject* entered_ = nullptr;
  bool any_entered_ = false;
  // Where the focus was going when the running loss step began.
  QWidget* leaving_towards_ = nullptr;
  // Where the focus was going when a loss step last refused; cleared as soon as the events of
  // that one user action are handled.
  QWidget* refused_towards_ = nullptr;
  // The button whose mouse press was refused on its way in; its click must not act.
  QAbstractButton* press_refused_ = nullptr;
};

}  // namespace pullwire
