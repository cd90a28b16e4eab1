// Placeholder pictures, typed-length limits, "*" password boxes and picture buttons.
#include "dialogs/dialog_widgets.h"

#include <algorithm>

#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <QValidator>

#include "dialogs/icons.h"

namespace pullwire {
namespace {

// Cuts what the user types, pastes or picks to the limit. Qt validates setText as well, but that
// is no user edit (isModified is false then), so a longer value the program puts in stays whole;
// the user may shorten it, not lengthen it.
class TypedLengthValidator final : public QValidator {
 public:
  TypedLengthValidator(int max_length, QLineEdit* box)
      : QValidator(box), max_length_(max_length), box_(box), last_(box->text()) {}

  State validate(QString& input, int& position) const override {
    if (box_->isModified() && input.size() > max_length_ && input.size() > last_.size()) {
      // The insertion ends at the caret; what follows it and what precedes it are kept from the
      // text before (where the insertion starts is the end of their common beginning). As in a
      // classic edit box, it gets the room the kept text leaves, and none at all is a refusal.
      const qsizetype after = input.size() - position;
      const qsizetype start_limit = std::min<qsizetype>(position, last_.size() - after);
      qsizetype start = 0;
      while (start < start_limit && input[start] == last_[start]) ++start;
      const qsizetype room = max_length_ - start - after;
      if (room <= 0) return Invalid;  // which also keeps the undo history
      input = input.left(start + room) + input.mid(position);
      position = static_cast<int>(start + room);
    }
    last_ = input;
    return Acceptable;
  }

 private:
  int max_length_;
  QLineEdit* box_;
  mutable QString last_;  // the box's text before the change being validated
};

}  // namespace

QFont DialogFont() {
  QFont font(QStringLiteral("DejaVu Sans Condensed"));
  font.setPointSizeF(8.25);
  font.setStyleHint(QFont::SansSerif);
  return font;
}

PlaceholderPicture::PlaceholderPicture(const QString& object_name, QWidget* parent) : QLabel(parent) {
  setObjectName(object_name);
  setPixmap(PlaceholderIcon().pixmap(kPlaceholderIconSize, kPlaceholderIconSize));
  setFixedSize(kPlaceholderIconSize, kPlaceholderIconSize);
  setToolTip(kPlaceholderToolTip);
  setCursor(Qt::PointingHandCursor);
}

void PlaceholderPicture::mousePressEvent(QMouseEvent* event) {
  event->accept();
  if (on_press_) on_press_(event->globalPosition().toPoint());
}

void LimitTypedLength(QLineEdit* box, int max_length) {
  box->setValidator(new TypedLengthValidator(max_length, box));
}

void SelectWholeText(QLineEdit* box, Qt::FocusReason reason) {
  box->selectAll();
  if (reason != Qt::MouseFocusReason) return;
  QTimer::singleShot(0, box, [box] {
    if (box->hasFocus()) box->selectAll();
  });
}

void MakePasswordBox(QLineEdit* box) {
  // "*" (42) whatever bullet the platform style draws.
  box->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }"));
  box->setEchoMode(QLineEdit::Password);
}

QPushButton* MakePictureButton(const QString& object_name, const QString& caption, const QIcon& icon,
                               const QString& tool_tip, QWidget* parent) {
  auto* button = new QPushButton(icon, caption, parent);
  button->setObjectName(object_name);
  button->setToolTip(tool_tip);
  button->setIconSize(QSize(kButtonIconSize, kButtonIconSize));
  return button;
}

void MakeCaptionBold(QWidget* frame) {
  // Set explicitly, so that the children stop inheriting the weight from the frame.
  QFont normal = frame->font();
  normal.setBold(false);
  QFont bold = normal;
  bold.setBold(true);
  frame->setFont(bold);
  for (QWidget* child : frame->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    child->setFont(normal);
  }
}

}  // namespace pullwire
