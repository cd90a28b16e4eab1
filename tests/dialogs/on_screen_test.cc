// The dialogs on the screen: the editor's placement, the layout at the fixed client sizes, and the
// real Qt UiServices answered through their own windows.
#include <set>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QGroupBox>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include "dialog_test_support.h"
#include "dialogs/edit_command.h"
#include "dialogs/popup_menu.h"
#include "dialogs/proxy_dialog.h"
#include "dialogs/qt_ui_services.h"
#include "dialogs/twips.h"

namespace pullwire::testing {
namespace {

TEST(DialogPlacement, TwipsAndTheEditorLiftedToEnd400TwipsAboveTheScreenBottom) {
  EXPECT_EQ(TwipsScale(96, 96).ToPixelsX(5775), 385);
  EXPECT_EQ(TwipsScale(96, 96).ToPixelsY(6855), 457);
  EXPECT_EQ(TwipsScale(96, 96).ToTwipsY(1), 15);
  EXPECT_EQ(TwipsScale(144, 192).ToPixelsX(1440), 144);
  EXPECT_EQ(TwipsScale(144, 192).ToPixelsY(1440), 192);
  const struct {
    std::int16_t top;
    int height;
    int screen;
    std::int16_t placed;
  } cases[] = {
      {9000, 4000, 9600, 5200},  // lowered to 9600 - 400 - 4000
      {5200, 4000, 9600, 5200},  // ends exactly at the limit: unchanged
      {5201, 4000, 9600, 5200},
      {1000, 4000, 9600, 1000},
      {0, 6000, 5000, -1400},    // a screen smaller than the dialog
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PlaceDialogTop(c.top, c.height, c.screen), c.placed) << c.top << " " << c.height;
  }
}

TEST(DialogPlacement, EditorOpensAtTheHostsPosition) {
  const QScreen* screen = QGuiApplication::primaryScreen();
  const TwipsScale scale = TwipsScale::Of(screen);
  const int screen_height = scale.ToTwipsY(screen->geometry().height());
  for (const auto top : {std::int16_t{300}, static_cast<std::int16_t>(screen_height)}) {
    ModuleState state;
    state.Settings = CompleteCommand();
    state.DialogTop = top;
    if (top == 300) state.DialogLeft = 450;  // else no Left given: the left edge
    ScriptedUiServices ui;
    QPoint position;
    {
      const ModalAnswer answer([&](QWidget* editor) { position = editor->pos(); });
      EditCommand(state, ui);
    }
    if (top == 300) {
      EXPECT_EQ(state.DialogTop, 300);
    } else {
      EXPECT_LT(state.DialogTop + 6855 + 400, screen_height);  // lowered to fit the screen
    }
    EXPECT_EQ(position, screen->geometry().topLeft() +
                            QPoint(scale.ToPixelsX(state.DialogLeft.value_or(0)),
                                   scale.ToPixelsY(state.DialogTop)));
  }
}

TEST(QtUiServicesTest, MessageBoxShowsTextTitleIconAndOneButton) {
  QtUiServices ui;
  for (const auto& [icon, expected] :
       {std::pair{MessageIcon::kInformation, QMessageBox::Information},
        std::pair{MessageIcon::kExclamation, QMessageBox::Warning}}) {
    QString seen;
    QMessageBox::Icon seen_icon = QMessageBox::NoIcon;
    {
      const ModalAnswer answer([&](QWidget* window) {
        auto* box = qobject_cast<QMessageBox*>(window);
        if (box == nullptr) return;
        seen = box->windowTitle() + ": " + box->text() + " " +
               QString::number(box->buttons().size());
        seen_icon = box->icon();
        box->button(QMessageBox::Ok)->click();
      });
      ui.ShowMessage(nullptr, "<Port> must be a positive numerical value!", "Incorrect Value",
                     icon);
    }
    EXPECT_EQ(seen, "Incorrect Value: <Port> must be a positive numerical value! 1");
    EXPECT_EQ(seen_icon, expected);
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
  {
    const ModalAnswer answer([&text](QWidget* window) {
      if (auto* box = qobject_cast<QMessageBox*>(window)) {
        text = box->text();
        box->button(QMessageBox::Ok)->click();
      }
    });
    PressTab();
  }
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
  // Answers the chooser: notes where it started, then picks `pick` (empty: cancels).
  const auto choose = [&](const QString& pick, std::string* chosen) {
    QString seen;
    bool answer;
    {
      const ModalAnswer modal([&](QWidget* window) {
        auto* chooser = qobject_cast<QFileDialog*>(window);
        if (chooser == nullptr) return;
        seen = chooser->windowTitle() + " @ " + chooser->directory().absolutePath();
        if (pick.isEmpty()) return chooser->reject();
        chooser->setDirectory(pick);
        static_cast<QDialog*>(chooser)->accept();  // QFileDialog::accept is protected
      });
      answer = ui.ChooseFolder(nullptr, "Browse Directory", folder.path().toStdString(), chosen);
    }
    EXPECT_EQ(seen, "Browse Directory @ " + QDir(folder.path()).absolutePath());
    return answer;
  };
  std::string chosen = "untouched";
  EXPECT_FALSE(choose("", &chosen));
  EXPECT_EQ(chosen, "untouched");
  EXPECT_TRUE(choose(inbox, &chosen));
  EXPECT_EQ(QDir(QString::fromStdString(chosen)).absolutePath(), QDir(inbox).absolutePath());
}

TEST(QtUiServicesTest, PopupMenuReturnsThePickOrNothing) {
  QtUiServices ui;
  QMenu menu;
  menu.addAction("<ScanDir>");
  QAction* top = menu.addAction("<FileName>");
  for (QAction* pick : {top, static_cast<QAction*>(nullptr)}) {
    const ModalAnswer answer([&](QWidget* popup) {
      if (pick != nullptr) qobject_cast<QMenu*>(popup)->setActiveAction(pick);
      QTest::keyClick(popup, pick != nullptr ? Qt::Key_Return : Qt::Key_Escape);
    }, /*popup=*/true);
    EXPECT_EQ(ui.PopupMenu(nullptr, &menu, QPoint(10, 10)), pick);
  }
}

// Saves the window's picture and checks that it is not blank.
void SaveScreenshot(QWidget* window, const char* name) {
  const QString folder = QStringLiteral(PULLWIRE_BINARY_DIR "/dialogs-screenshots");
  QDir().mkpath(folder);
  const QImage image = window->grab().toImage();
  ASSERT_TRUE(image.save(folder + "/" + name + ".png"));
  std::set<QRgb> colours;
  for (int y = 0; y < image.height(); y += 2) {
    for (int x = 0; x < image.width(); x += 2) colours.insert(image.pixel(x, y));
  }
  EXPECT_GT(colours.size(), 20u) << name << " looks blank";
}

QString Describe(const QWidget* widget) {
  return widget->objectName().isEmpty() ? QString::fromLatin1(widget->metaObject()->className())
                                        : widget->objectName();
}

// Every shown control gets at least the room it asks for, lies inside its parent, and overlaps no
// shown sibling.
void ExpectTidy(const QWidget* parent) {
  const auto children = parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
  std::vector<const QWidget*> shown;
  for (const QWidget* child : children) {
    if (child->isHidden() || child->isWindow()) continue;
    shown.push_back(child);
  }
  for (const QWidget* child : shown) {
    SCOPED_TRACE(Describe(child).toStdString());
    EXPECT_TRUE(parent->rect().contains(child->geometry()))
        << "sticks out of " << Describe(parent).toStdString();
    const QSize needed = child->minimumSizeHint();
    if (qobject_cast<const QLabel*>(child) || qobject_cast<const QAbstractButton*>(child) ||
        qobject_cast<const QGroupBox*>(child) || qobject_cast<const QComboBox*>(child)) {
      EXPECT_GE(child->width(), needed.width());
      EXPECT_GE(child->height(), needed.height());
    }
    if (qobject_cast<const QLineEdit*>(child)) {
      EXPECT_GE(child->height(), needed.height());
    }
    if (auto* label = qobject_cast<const QLabel*>(child); label != nullptr && !label->wordWrap() &&
                                                          !label->text().isEmpty()) {
      EXPECT_GE(label->contentsRect().width(),
                label->fontMetrics().horizontalAdvance(label->text()));
    }
    for (const QWidget* other : shown) {
      if (other != child) {
        EXPECT_FALSE(child->geometry().intersects(other->geometry()))
            << "overlaps " << Describe(other).toStdString();
      }
    }
  }
  for (const QWidget* child : shown) {
    if (qobject_cast<const QGroupBox*>(child) != nullptr) ExpectTidy(child);
  }
}

// The window has its client size in twips, its layout is tidy, and its picture is saved.
void ExpectFits(QWidget* dialog, int width_twips, int height_twips) {
  ASSERT_TRUE(ShowActive(dialog));
  const TwipsScale scale = TwipsScale::Of(QGuiApplication::primaryScreen());
  EXPECT_EQ(dialog->size(), QSize(scale.ToPixelsX(width_twips), scale.ToPixelsY(height_twips)));
  ExpectTidy(dialog);
  SaveScreenshot(dialog, dialog->objectName().toLatin1().constData());
}

TEST(Layout, DialogsFitTheirClientSizes) {
  ModuleState state;
  state.Settings = CompleteCommand();
  state.Settings.RemoteDir = "/pub/reports";
  state.Settings.LocalDir = "/srv/incoming/reports";
  state.Settings.Passive = state.Settings.SaveFilename = true;
  state.Settings.VarNumber = 3;
  state.Settings.Filter = "*.csv;*.txt";
  state.Settings.ProxyType = 2;
  state.Settings.ProxyHost = "proxy.example.org";
  state.Settings.ProxyUsername = "proxyuser";
  state.Settings.ProxyPassword = "secret";
  ScriptedUiServices ui;
  frmCommandPullwire editor(state, ui);
  editor.FillCommandDialog();
  ExpectFits(&editor, 5775, 6855);
  editor.hide();
  frmPopUp popup(state);
  frmProxySetup proxy(state.Settings, ui, popup);
  ExpectFits(&proxy, 4110, 3030);
}

}  // namespace
}  // namespace pullwire::testing
