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
