// Placeholder pictures, typed-length limits, "*" password boxes and picture buttons.
#include "dialogs/dialog_widgets.h"

#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <QValidator>

#include "dialogs/icons.h"

namespace pullwire {
namespace {

// A validator only checks what is typed or inserted, never what setText puts into the box.
class TypedLengthValidator final : public QValidator {
 public:
  TypedLengthValidator(int max_length, QObject* parent) : QValidator(parent), max_length_(max_length) {}
  State validate(QString& input, int& /*position*/) const override {
    return input.size() > max_length_ ? Invalid : Acceptable;
  }

 private:
  int max_length_;
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
