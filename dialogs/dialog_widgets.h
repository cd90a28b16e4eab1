// Small widgets both dialogs are built from: placeholder pictures, length-limited and password
// boxes, picture buttons.
#pragma once

#include <functional>
#include <string>
#include <utility>

#include <QIcon>
#include <QLabel>

class QLineEdit;
class QPushButton;

namespace pullwire {

inline QString ToQString(const std::string& text) { return QString::fromStdString(text); }
inline std::string ToStdString(const QString& text) { return text.toStdString(); }

inline constexpr char kPlaceholderToolTip[] = "click to select command/variable";

// The dialogs' caption font: a narrow sans serif near the classic 8-point dialog font.
QFont DialogFont();

// A picture that reports a mouse button pressed on it (any button, anywhere on it) with the
// pointer's global position.
class PlaceholderPicture final : public QLabel {
 public:
  using PressHandler = std::function<void(const QPoint& global_position)>;

  PlaceholderPicture(const QString& object_name, QWidget* parent);
  void SetPressHandler(PressHandler handler) { on_press_ = std::move(handler); }

 protected:
  void mousePressEvent(QMouseEvent* event) override;

 private:
  PressHandler on_press_;
};

// Limits what the user enters into `box` (typing, pasting, a picked placeholder) to `max_length`
// characters: a longer insertion is cut to fit ("123456" pasted into a 4-character port box gives
// "1234"). Only the user's edits: Qt's maxLength would also cut a longer stored value ("32767" in
// a 4-character port box) when it is filled in.
void LimitTypedLength(QLineEdit* box, int max_length);

// The entry step of boxes whose typing replaces their text: select it all (start 0, length the
// text's). A click that brought the focus would put the caret back where it landed, so a focus
// from the mouse selects once more after the click.
void SelectWholeText(QLineEdit* box, Qt::FocusReason reason);

// Makes `box` a password box that shows "*" for every character.
void MakePasswordBox(QLineEdit* box);

// A push button with a caption (and its "&" access key), a small picture and a tool tip.
QPushButton* MakePictureButton(const QString& object_name, const QString& caption, const QIcon& icon,
                               const QString& tool_tip, QWidget* parent);

// Makes `frame` bold-captioned while its contents keep the normal font.
void MakeCaptionBold(QWidget* frame);

}  // namespace pullwire
