// Setup's editor placement (lifted above the screen bottom, moved to the host's position) and
// the real Qt UiServices answered through their own windows.
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include "dialog_test_support.h"
#include "dialogs/edit_command.h"
#include "dialogs/qt_ui_services.h"
#include "dialogs/twips.h"

namespace pullwire::testing {
namespace {

// The scale the placement tests below compute their expectations with.
TEST(Twips, FifteenTwipsAPixelAt96Dpi) {
  const TwipsScale scale(96, 96);
  EXPECT_EQ(scale.ToPixelsX(5775), 385);
  EXPECT_EQ(scale.ToPixelsY(6855), 457);
  EXPECT_EQ(scale.ToTwipsY(1), 15);
  const TwipsScale large(144, 192);
  EXPECT_EQ(large.ToPixelsX(1440), 144);
  EXPECT_EQ(large.ToPixelsY(1440), 192);
}

TEST(DialogPlacement, EditorIsLiftedToEnd400TwipsAboveTheScreenBottom) {
  struct Case {
    std::int16_t top;
    int height;
    int screen;
    std::int16_t placed;
  };
  const Case cases[] = {
      {9000, 4000, 9600, 5200},  // lowered to 9600 - 400 - 4000
      {5200, 4000, 9600, 5200},  // ends exactly at the limit: unchanged
      {5201, 4000, 9600, 5200},
      {1000, 4000, 9600, 1000},
      {0, 6000, 5000, -1400},    // a screen smaller than the dialog
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PlaceDialogTop(c.top, c.height, c.screen), c.placed) << c.top << " " << c.height;
  }
}

TEST(DialogPlacement, DialogMovesToLeftAndTopInTwips) {
  const QScreen* screen = QGuiApplication::primaryScreen();
  const TwipsScale scale = TwipsScale::Of(screen);
  ModuleState state;
  state.DialogTop = 5200;
  state.DialogLeft = 1500;
  QWidget dialog;
  MoveToDialogPosition(dialog, state);
  EXPECT_EQ(dialog.pos(), screen->geometry().topLeft() + QPoint(scale.ToPixelsX(1500), scale.ToPixelsY(5200)));
  state.DialogLeft.reset();  // no Left given: the left edge
  MoveToDialogPosition(dialog, state);
  EXPECT_EQ(dialog.pos().x(), screen->geometry().left());
}

class EditCommandTest : public ::testing::Test {
 protected:
  void SetUp() override { state_.Settings = CompleteCommand(); }
  ModuleState state_;
  ScriptedUiServices ui_;
};

TEST_F(EditCommandTest, EditorOpensAtTheHostsPosition) {
  const QScreen* screen = QGuiApplication::primaryScreen();
  const TwipsScale scale = TwipsScale::Of(screen);
  const int screen_height = scale.ToTwipsY(screen->geometry().height());
  for (const auto top : {std::int16_t{300}, static_cast<std::int16_t>(screen_height)}) {
    state_.DialogTop = top;
    state_.DialogLeft = 450;
    QPoint position;
    AnswerModal([&](QWidget* editor) { position = editor->pos(); });
    EditCommand(state_, ui_);
    if (top == 300) {
      EXPECT_EQ(state_.DialogTop, 300);
    } else {
      EXPECT_LT(state_.DialogTop + 6855 + 400, screen_height);  // lowered to fit the screen
    }
    EXPECT_EQ(position, screen->geometry().topLeft() +
                            QPoint(scale.ToPixelsX(450), scale.ToPixelsY(state_.DialogTop)));
  }
}

TEST(QtUiServicesTest, MessageBoxShowsTextTitleIconAndOneButton) {
  QtUiServices ui;
  struct Seen {
    QString text, title;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    int buttons = 0;
  };
  for (const auto& [icon, expected] : {std::pair{MessageIcon::kInformation, QMessageBox::Information},
                                       std::pair{MessageIcon::kExclamation, QMessageBox::Warning}}) {
    Seen seen;
    AnswerModal([&seen](QWidget* window) {
      auto* box = qobject_cast<QMessageBox*>(window);
      if (box == nullptr) return;
      seen = {box->text(), box->windowTitle(), box->icon(), static_cast<int>(box->buttons().size())};
      box->button(QMessageBox::Ok)->click();
    });
    ui.ShowMessage(nullptr, "<Port> must be a positive numerical value!", "Incorrect Value", icon);
    EXPECT_EQ(seen.text, "<Port> must be a positive numerical value!");
    EXPECT_EQ(seen.title, "Incorrect Value");
    EXPECT_EQ(seen.icon, expected);
    EXPECT_EQ(seen.buttons, 1);
  }
}

// A real box takes the activation away from the editor and gives it back: neither is a focus
// move, so only the refused box's steps run and the focus ends up back in it.
TEST(QtUiServicesTest, RefusedPortWithARealMessageBox) {
  ModuleState state;
  QtUiServices ui;
  frmCommandPullwire editor(state, ui);
  editor.FillCommandDialog();
  ASSERT_TRUE(ShowActive(&editor));
  auto* port = Child<QLineEdit>(&editor, "txtPort");
  TypeReplacing(port, "0");
  QString text;
  AnswerModal([&text](QWidget* window) {
    if (auto* box = qobject_cast<QMessageBox*>(window)) {
      text = box->text();
      box->button(QMessageBox::Ok)->click();
    }
  });
  PressTab();
  EXPECT_EQ(text, "<Port> must be a positive numerical value!");
  EXPECT_EQ(port->text(), "21");
  EXPECT_EQ(state.Settings.Port, 21);
  EXPECT_EQ(state.Settings.Timeout, 0);
  EXPECT_EQ(editor.focusWidget(), port);

  // The window manager gives the activation back (offscreen does not): the port box is entered,
  // so leaving it checks it again.
  ASSERT_TRUE(ShowActive(&editor));
  ASSERT_EQ(QApplication::focusWidget(), port);
  QTest::keyClicks(port, "8021");
  PressTab();
  EXPECT_EQ(state.Settings.Port, 8021);
  EXPECT_EQ(QApplication::focusWidget(), Child<QLineEdit>(&editor, "txtTimeout"));
}

TEST(QtUiServicesTest, FolderChooserStartsAtTheInitialFolder) {
  QtUiServices ui;
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  ASSERT_TRUE(QDir(folder.path()).mkdir("inbox"));
  const QString inbox = QDir(folder.path()).filePath("inbox");

  QString title;
  QString started_at;
  AnswerModal([&](QWidget* window) {
    auto* chooser = qobject_cast<QFileDialog*>(window);
    if (chooser == nullptr) return;
    title = chooser->windowTitle();
    started_at = chooser->directory().absolutePath();
    chooser->reject();
  });
  std::string chosen = "untouched";
  EXPECT_FALSE(ui.ChooseFolder(nullptr, "Browse Directory", folder.path().toStdString(), &chosen));
  EXPECT_EQ(chosen, "untouched");
  EXPECT_EQ(title, "Browse Directory");
  EXPECT_EQ(started_at, QDir(folder.path()).absolutePath());

  AnswerModal([&](QWidget* window) {
    auto* chooser = qobject_cast<QFileDialog*>(window);
    if (chooser == nullptr) return;
    chooser->setDirectory(inbox);
    static_cast<QDialog*>(chooser)->accept();  // QFileDialog::accept is protected
  });
  EXPECT_TRUE(ui.ChooseFolder(nullptr, "Browse Directory", folder.path().toStdString(), &chosen));
  EXPECT_EQ(QDir(QString::fromStdString(chosen)).absolutePath(), QDir(inbox).absolutePath());
}

TEST(QtUiServicesTest, PopupMenuReturnsThePickOrNothing) {
  QtUiServices ui;
  QMenu menu;
  menu.addAction("<ScanDir>");
  QAction* top = menu.addAction("<FileName>");

  AnswerModal([&](QWidget* popup) {
    auto* shown = qobject_cast<QMenu*>(popup);
    if (shown == nullptr) return;
    shown->setActiveAction(top);
    QTest::keyClick(shown, Qt::Key_Return);
  }, /*popup=*/true);
  EXPECT_EQ(ui.PopupMenu(nullptr, &menu, QPoint(10, 10)), top);

  AnswerModal([](QWidget* popup) { QTest::keyClick(popup, Qt::Key_Escape); }, /*popup=*/true);
  EXPECT_EQ(ui.PopupMenu(nullptr, &menu, QPoint(10, 10)), nullptr);
}

}  // namespace
}  // namespace pullwire::testing
