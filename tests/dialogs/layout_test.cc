// The dialogs' layout at their fixed client sizes: nothing clipped, nothing overlapping, and PNG
// screenshots in the build folder for a person to look at.
#include <set>

#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>

#include "dialog_test_support.h"
#include "dialogs/popup_menu.h"
#include "dialogs/proxy_dialog.h"
#include "dialogs/twips.h"

namespace pullwire::testing {
namespace {

QString ScreenshotPath(const char* name) {
  const QString folder = QStringLiteral(PULLWIRE_BINARY_DIR "/dialogs-screenshots");
  QDir().mkpath(folder);
  return folder + "/" + name + ".png";
}

// Saves the window's picture and checks that it is not blank.
void SaveScreenshot(QWidget* window, const char* name) {
  const QImage image = window->grab().toImage();
  ASSERT_TRUE(image.save(ScreenshotPath(name)));
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
    EXPECT_TRUE(parent->rect().contains(child->geometry())) << "sticks out of " << Describe(parent).toStdString();
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
      EXPECT_GE(label->contentsRect().width(), label->fontMetrics().horizontalAdvance(label->text()));
    }
    for (const QWidget* other : shown) {
      if (other != child) {
        EXPECT_FALSE(child->geometry().intersects(other->geometry())) << "overlaps " << Describe(other).toStdString();
      }
    }
  }
  for (const QWidget* child : shown) {
    if (qobject_cast<const QGroupBox*>(child) != nullptr) ExpectTidy(child);
  }
}

TEST(Layout, CommandEditorFitsItsClientSize) {
  ModuleState state;
  CommandSettings& s = state.Settings;
  s.Host = "ftp.example.org";
  s.Username = "anna";
  s.Password = "s3cret";
  s.Port = 21;
  s.TransferMode = 1;
  s.Timeout = 30;
  s.Passive = true;
  s.RemoteDir = "/pub/reports";
  s.LocalDir = "/srv/incoming/reports";
  s.SaveFilename = true;
  s.VarNumber = 3;
  s.Filter = "*.csv;*.txt";
  ScriptedUiServices ui;
  frmCommandPullwire dialog(state, ui);
  dialog.FillCommandDialog();
  ASSERT_TRUE(ShowActive(&dialog));
  const TwipsScale scale = TwipsScale::Of(QGuiApplication::primaryScreen());
  EXPECT_EQ(dialog.size(), QSize(scale.ToPixelsX(5775), scale.ToPixelsY(6855)));
  ExpectTidy(&dialog);
  SaveScreenshot(&dialog, "frmCommandPullwire");
}

TEST(Layout, ProxyDialogFitsItsClientSize) {
  ModuleState state;
  state.Settings.ProxyType = 2;
  state.Settings.ProxyHost = "proxy.example.org";
  state.Settings.ProxyPort = 1080;
  state.Settings.ProxyUsername = "proxyuser";
  state.Settings.ProxyPassword = "secret";
  ScriptedUiServices ui;
  frmPopUp popup(state);
  frmProxySetup dialog(state.Settings, ui, popup);
  ASSERT_TRUE(ShowActive(&dialog));
  const TwipsScale scale = TwipsScale::Of(QGuiApplication::primaryScreen());
  EXPECT_EQ(dialog.size(), QSize(scale.ToPixelsX(4110), scale.ToPixelsY(3030)));
  ExpectTidy(&dialog);
  SaveScreenshot(&dialog, "frmProxySetup");
}

}  // namespace
}  // namespace pullwire::testing
