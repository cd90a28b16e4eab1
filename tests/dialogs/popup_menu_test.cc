// The placeholder menu: its tree, and a pick typed into the box beside the picture pressed.
#include "dialog_test_support.h"
#include "dialogs/popup_menu.h"
#include "dialogs/proxy_dialog.h"

namespace pullwire::testing {
namespace {

// The tree's captions depth-first, a sub-menu's items in brackets after its caption.
QString Describe(const QMenu* menu) {
  QStringList items;
  for (const QAction* item : menu->actions()) {
    const QString sub = item->menu() ? "(" + Describe(item->menu()) + ")" : QString();
    items << (item->isSeparator() ? QString("-") : item->text() + sub);
  }
  return items.join(' ');
}

TEST(PopupMenu, TreeHasEveryPlaceholderInOrder) {
  ModuleState state;
  frmPopUp popup(state);
  const auto fifteen = [](const char* prefix) {
    QStringList items;
    for (int i = 1; i <= 15; ++i) items << QStringLiteral("<%1%2>").arg(prefix).arg(i);
    return items.join(' ');
  };
  EXPECT_EQ(Describe(popup.mnuCommand()),
            "File(<ScanPathFileName> <FileName> <FileNameExt> <FileNameNoExt>) "
            "Directory(<ScanDir> <ScanPath> <SubDir>) "
            "FileInfo(<FileSize> <FileTimeStamp> <TotalFileNumber> <CurrentFileNumber>) - "
            "Locals(Constants(" + fifteen("LC") + ") Variables(" + fifteen("LV") + ")) "
            "Globals(Constants(" + fifteen("GC") + ") Variables(" + fifteen("GV") + ")) - "
            "Date(<dd-mmm-yyyy> <dd> <mmm> <date_mm> <yyyy> <yy> <weeknum> <dayofweek>) "
            "Time(<hh:mm:ss> <hh> <mm> <ss>)");
}

// Presses the mouse on `picture` and picks `item` from the menu that comes up.
void Pick(ScriptedUiServices& ui, QWidget* picture, const char* item) {
  ui.menu_pick = QLatin1String(item);
  QTest::mousePress(picture, Qt::RightButton, Qt::NoModifier, QPoint(3, 3));
  QTest::mouseRelease(picture, Qt::RightButton, Qt::NoModifier, QPoint(3, 3));
}

TEST_F(CommandDialogTest, PickIsTypedAtTheCaretOfTheBoxBesideThePicture) {
  Open({.LocalDir = "/srv/in/"});
  // No menu while the box cannot take the focus: disabled, or a bad port pulls the focus back.
  Pick(ui_, Get("Picture6"), "mnuVariablesFileName");
  TypeReplacing(Get<QLineEdit>("txtPort"), "abc");
  Pick(ui_, Get("Picture2"), "mnuVariablesFileName");
  EXPECT_EQ(ui_.events, std::vector{kPortRefused});
  EXPECT_EQ(QApplication::focusWidget(), Get("txtPort"));
  ExpectLooks(dialog_.get(), {{"txtSpecificFilename", "disabled"}, {"txtHost", ""}});

  TypeReplacing(Get<QLineEdit>("txtHost"), "typed.host");
  Pick(ui_, Get("Picture1"), "mnuCommandsDateYYYY");
  auto* local = Get<QLineEdit>("txtLocalDir");
  EXPECT_EQ(ui_.owner, dialog_.get());
  EXPECT_EQ(local->text(), "/srv/in/<yyyy>");
  // The focus moved from the host box, whose loss step ran before the menu opened.
  EXPECT_EQ(settings_.Host, "typed.host");

  local->setSelection(0, 8);  // "/srv/in/"
  Pick(ui_, Get("Picture1"), "mnuGlobalsConstantsGV_14");
  EXPECT_EQ(local->text(), "<GV15><yyyy>");
  EXPECT_EQ(settings_.LocalDir, "/srv/in/");  // written when the box is left
  EXPECT_EQ(ui_.events, (std::vector<std::string>{kPortRefused, "menu <yyyy>", "menu <GV15>"}));
  EXPECT_EQ(QApplication::focusWidget(), local);
}

// Each picture types the picked placeholder into its box; constants show their value ("&" doubled).
TEST_F(CommandDialogTest, EachPictureTypesThePickedPlaceholderIntoItsBox) {
  const struct { const char *picture, *box, *item, *caption, *typed; } cases[] = {
      {"Picture2", "txtHost", "mnuLocalsConstantsLC_0", "<LC1> D:\\data", "<LC1>"},
      {"Picture3", "txtUsername", "mnuLocalsConstantsLC_1", "<LC2>", "<LC2>"},
      {"Picture4", "txtPassword", "mnuGlobalsConstantsGC_14", "<GC15> R&&D", "<GC15>"},
      {"picShowPopup2", "txtRemoteDir", "mnuGlobalsConstantsGV_14", "<GV15>", "<GV15>"},
      {"Picture6", "txtSpecificFilename", "mnuLocalsVariablesLV_4", "<LV5>", "<LV5>"},
      {"Picture1", "txtLocalDir", "mnuCommandsDateMM", "<date_mm>", "<date_mm>"},
  };
  Open({.CopySpecific = true});
  state_.LocalConstantCaptions[0] = "<LC1> D:\\data";
  state_.GlobalConstantCaptions[14] = "<GC15> R&D";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.picture);
    Pick(ui_, Get(c.picture), c.item);
    EXPECT_EQ(ui_.events.back(), std::string("menu ") + c.caption);
    EXPECT_EQ(Get<QLineEdit>(c.box)->text(), c.typed);
  }
  EXPECT_EQ(settings_.SpecificFilename, "<LV5>");
}

using ProxyPlaceholder = DialogTest<frmProxySetup>;

TEST_F(ProxyPlaceholder, PickReplacesTheWholeFieldBecauseEntrySelectsIt) {
  Open({.ProxyType = 2, .ProxyHost = "oldhost"});
  ui_.menu_pick = "mnuVariablesFileName";
  QTest::mousePress(Get("Picture3"), Qt::LeftButton, Qt::NoModifier, {3, 3});
  EXPECT_EQ(Get<QLineEdit>("txtProxyHost")->text(), "<FileName>");
  EXPECT_EQ(ui_.owner, dialog_.get());
  QTest::mousePress(Get("Picture1"), Qt::LeftButton, Qt::NoModifier, {3, 3});
  EXPECT_EQ(Get<QLineEdit>("txtProxyPort")->text(), "<File");  // cut to the port box's 5
}

}  // namespace
}  // namespace pullwire::testing
