// The dialogs on the screen: the editor's placement, and the real Qt UiServices' own windows.
#include <functional>

#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>

#include "dialog_test_support.h"
#include "dialogs/edit_command.h"
#include "dialogs/qt_ui_services.h"
#include "dialogs/twips.h"

namespace pullwire::testing {
namespace {

TEST(DialogPlacement, EditorOpensAtTheHostsPosition) {
  const QScreen* screen = QGuiApplication::primaryScreen();
  const TwipsScale scale = TwipsScale::Of(screen);
  const int screen_height = scale.ToTwipsY(screen->geometry().height());
  for (const auto top : {std::int16_t{300}, static_cast<std::int16_t>(screen_height)}) {
    ModuleState state;
    state.DialogTop = top;
    if (top == 300) state.DialogLeft = 450;  // else no Left given: the left edge
    ScriptedUiServices ui;
    QPoint position;
    const ModalAnswer answer([&](QWidget* editor) { position = editor->pos(); });
    EditCommand(state, ui);
    // Lowered to end 400 twips above the screen's bottom, title bar (under 600 twips) included.
    const int bottom = state.DialogTop + 6855 + 400;
    EXPECT_TRUE(top == 300 ? state.DialogTop == 300
                           : bottom < screen_height && bottom > screen_height - 600)
        << state.DialogTop;
    EXPECT_EQ(position, screen->geometry().topLeft() +
                            QPoint(scale.ToPixelsX(state.DialogLeft.value_or(0)),
                                   scale.ToPixelsY(state.DialogTop)));
  }
}

// Answers the real message box `show` opens with Ok; returns "title: text icon buttons".
QString AnswerBox(const std::function<void()>& show) {
  QString seen;
  {
    const ModalAnswer answer([&seen](QWidget* window) {
      auto* box = qobject_cast<QMessageBox*>(window);
      if (box == nullptr) return;
      seen = QString("%1: %2 %3 %4").arg(box->windowTitle(), box->text()).arg(box->icon());
      seen = seen.arg(box->buttons().size());
      box->button(QMessageBox::Ok)->click();
    });
    show();
  }
  return seen;
}

// A real box takes the activation away from the editor and gives it back: neither is a focus
// move, so only the refused box's steps run and the focus ends up back in it.
TEST(QtUiServicesTest, RealBoxesAndChooserInTheEditor) {
  ModuleState state;
  QtUiServices ui;
  frmCommandPullwire editor(state, ui);
  editor.FillCommandDialog();
  ASSERT_TRUE(ShowActive(&editor));
  auto* port = Child<QLineEdit>(&editor, "txtPort");
  TypeReplacing(port, "0");
  EXPECT_EQ(AnswerBox(PressTab), QString("Incorrect Value: <Port> must be a positive numerical "
                                         "value! %1 1").arg(QMessageBox::Information));
  EXPECT_EQ(port->text(), "21");
  EXPECT_EQ(state.Settings.Port, 21);
  EXPECT_EQ(state.Settings.Timeout, 0);
  EXPECT_EQ(editor.focusWidget(), port);
  // A window manager gives the activation back (offscreen does not): leaving checks it again.
  ASSERT_TRUE(ShowActive(&editor));
  ASSERT_EQ(QApplication::focusWidget(), port);
  QTest::keyClicks(port, "8021");
  PressTab();
  EXPECT_EQ(state.Settings.Port, 8021);
  EXPECT_EQ(QApplication::focusWidget(), Child<QLineEdit>(&editor, "txtTimeout"));
  Child<QComboBox>(&editor, "cmbMode")->setCurrentIndex(3);  // ZIP
  EXPECT_EQ(AnswerBox([&] { Child<QAbstractButton>(&editor, "chkIncludeSubdir")->click(); }),
            QString("Warning: NOTE: ZIP-mode can't be selected with the Include-Subdirectories "
                    "option! %1 1").arg(QMessageBox::Warning));

  // The folder chooser starts at the box's folder.
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid() && QDir(folder.path()).mkdir("inbox"));
  auto* local = Child<QLineEdit>(&editor, "txtLocalDir");
  local->setText(folder.path());
  const QString inbox = QDir(folder.path()).filePath("inbox");
  QString seen;
  {
    const ModalAnswer modal([&](QWidget* window) {
      auto* chooser = qobject_cast<QFileDialog*>(window);
      if (chooser == nullptr) return;
      seen = chooser->windowTitle() + " @ " + chooser->directory().absolutePath();
      chooser->setDirectory(inbox);
      static_cast<QDialog*>(chooser)->accept();  // QFileDialog::accept is protected
    });
    Child<QPushButton>(&editor, "cmdBrowseDestination")->click();
  }
  EXPECT_EQ(seen, "Browse Directory @ " + QDir(folder.path()).absolutePath());
  EXPECT_EQ(QDir(local->text()).absolutePath(), QDir(inbox).absolutePath());
}

TEST(QtUiServicesTest, PopupMenuReturnsThePick) {
  QtUiServices ui;
  QMenu menu;
  menu.addAction("<ScanDir>");
  QAction* pick = menu.addAction("<FileName>");
  const ModalAnswer answer([&](QWidget* popup) {
    qobject_cast<QMenu*>(popup)->setActiveAction(pick);
    QTest::keyClick(popup, Qt::Key_Return);
  }, /*popup=*/true);
  EXPECT_EQ(ui.PopupMenu(nullptr, &menu, QPoint(10, 10)), pick);
}

}  // namespace
}  // namespace pullwire::testing
