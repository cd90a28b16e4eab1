// The placeholder menu: its tree, the constant captions, and typing a picked placeholder into the
// focused box from the editor's and the proxy dialog's pictures.
#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QTest>

#include "dialog_test_support.h"
#include "dialogs/popup_menu.h"
#include "dialogs/proxy_dialog.h"

namespace pullwire::testing {
namespace {

// The tree as "name caption" lines, depth-first, sub-menus indented.
void Describe(const QMenu* menu, const QString& indent, QStringList* lines) {
  for (const QAction* item : menu->actions()) {
    *lines << indent + item->objectName() + " " + (item->isSeparator() ? "-" : item->text());
    if (item->menu() != nullptr) Describe(item->menu(), indent + "  ", lines);
  }
}

TEST(PopupMenu, TreeHasEveryPlaceholderInOrder) {
  ModuleState state;
  frmPopUp popup(state);
  EXPECT_EQ(popup.objectName(), "frmPopUp");
  EXPECT_EQ(popup.windowTitle(), "Popup Menu");
  EXPECT_FALSE(popup.isVisible());
  EXPECT_EQ(popup.mnuCommand()->objectName(), "mnuCommand");
  EXPECT_EQ(popup.mnuCommand()->title(), "Command");
  QStringList lines;
  Describe(popup.mnuCommand(), "", &lines);
  // Nine top items; File 4, Directory 3, FileInfo 4, Locals and Globals 2 + 30, Date 8, Time 4.
  ASSERT_EQ(lines.size(), 9 + 4 + 3 + 4 + 32 + 32 + 8 + 4);
  const QStringList head = {
      "mnuVariablesFile File",
      "  mnuVariablesInputPathFileName <ScanPathFileName>",
      "  mnuVariablesFileName <FileName>",
      "  mnuVariablesFileNameExt <FileNameExt>",
      "  mnuFileFileNameNoExt <FileNameNoExt>",
      "mnuDirectory Directory",
      "  mnuVariablesInputdir <ScanDir>",
      "  mnuVariablesInputPath <ScanPath>",
      "  mnuVariablesSubDir <SubDir>",
      "mnuFileInfo FileInfo",
      "  mnuCommandsFileFileSize <FileSize>",
      "  mnuCommandsFileTimeStamp <FileTimeStamp>",
      "  mnuCommandsTotalFileNumber <TotalFileNumber>",
      "  mnuCommandsCurrentFileNumber <CurrentFileNumber>",
      "mnuParamBreak1 -",
      "mnuLocals Locals",
      "  mnuLocalsConstants Constants",
      "    mnuLocalsConstantsLC_0 <LC1>",
  };
  EXPECT_EQ(lines.mid(0, head.size()), head);
  EXPECT_TRUE(lines.contains("    mnuLocalsConstantsLC_14 <LC15>"));
  EXPECT_TRUE(lines.contains("    mnuLocalsVariablesLV_0 <LV1>"));
  EXPECT_TRUE(lines.contains("    mnuGlobalsConstantsGC_14 <GC15>"));
  EXPECT_TRUE(lines.contains("    mnuGlobalsConstantsGV_14 <GV15>"));
  const QStringList tail = {
      "mnuParamBreak2 -",
      "mnuCommandsDate Date",
      "  mnuCommandsDateDate <dd-mmm-yyyy>",
      "  mnuCommandsDateDD <dd>",
      "  mnuCommandsDateMMM <mmm>",
      "  mnuCommandsDateMM <date_mm>",
      "  mnuCommandsDateYYYY <yyyy>",
      "  mnuDateYY <yy>",
      "  mnuDateWeeknum <weeknum>",
      "  mnuDateWeekday <dayofweek>",
      "mnuCommandsTime Time",
      "  mnuCommandsTimeTime <hh:mm:ss>",
      "  mnuCommandsTimeHH <hh>",
      "  mnuCommandsTimeMM <mm>",
      "  mnuCommandsTimeSS <ss>",
  };
  EXPECT_EQ(lines.mid(lines.size() - tail.size()), tail);
}

TEST(PopupMenu, ItemsEnterTheirPlaceholderWithoutTheConstantsValue) {
  ModuleState state;
  state.LocalConstantCaptions[0] = "<LC1> D:\\data";
  state.GlobalConstantCaptions[14] = "<GC15> R&D";
  frmPopUp popup(state);
  const auto item = [&popup](const char* name) {
    return popup.mnuCommand()->findChild<QAction*>(QLatin1String(name));
  };
  EXPECT_EQ(item("mnuLocalsConstantsLC_0")->text(), "<LC1> D:\\data");
  EXPECT_EQ(item("mnuLocalsConstantsLC_1")->text(), "<LC2>");
  EXPECT_EQ(item("mnuGlobalsConstantsGC_14")->text(), "<GC15> R&&D");  // "&" shown, not an access key
  EXPECT_EQ(frmPopUp::PlaceholderText(item("mnuLocalsConstantsLC_0")), "<LC1>");
  EXPECT_EQ(frmPopUp::PlaceholderText(item("mnuGlobalsConstantsGC_14")), "<GC15>");
  EXPECT_EQ(frmPopUp::PlaceholderText(item("mnuGlobalsConstantsGV_14")), "<GV15>");
  EXPECT_EQ(frmPopUp::PlaceholderText(item("mnuLocalsVariablesLV_4")), "<LV5>");
  EXPECT_EQ(frmPopUp::PlaceholderText(item("mnuCommandsDateMM")), "<date_mm>");
  EXPECT_EQ(frmPopUp::PlaceholderText(item("mnuLocals")), "");
  EXPECT_EQ(frmPopUp::PlaceholderText(item("mnuParamBreak1")), "");

  // Captions set later reach a menu that already exists the next time it pops up.
  state.LocalConstantCaptions[1] = "<LC2> ";
  popup.UpdateConstantCaptions();
  EXPECT_EQ(item("mnuLocalsConstantsLC_1")->text(), "<LC2> ");
}

class EditorPlaceholderTest : public CommandDialogTest {
 protected:
  // Presses the mouse on `picture` and picks `item` from the menu that comes up.
  void Pick(const char* picture, const char* item) {
    ui_.menu_pick = QLatin1String(item);
    auto* widget = Get<QWidget>(picture);
    QTest::mousePress(widget, Qt::RightButton, Qt::NoModifier, QPoint(3, 3));
    QTest::mouseRelease(widget, Qt::RightButton, Qt::NoModifier, QPoint(3, 3));
  }
};

TEST_F(EditorPlaceholderTest, PickIsTypedAtTheCaretOfTheBoxBesideThePicture) {
  settings_.LocalDir = "/srv/in/";
  Open();
  ASSERT_TRUE(ShowActive(dialog_.get()));
  TypeReplacing(Get<QLineEdit>("txtHost"), "typed.host");
  Pick("Picture1", "mnuCommandsDateYYYY");
  auto* local = Get<QLineEdit>("txtLocalDir");
  EXPECT_EQ(ui_.focus_when_menu_opened, local);
  EXPECT_EQ(ui_.menu_owner, dialog_.get());
  EXPECT_EQ(local->text(), "/srv/in/<yyyy>");
  // The focus moved from the host box, whose loss step ran before the menu opened.
  EXPECT_EQ(settings_.Host, "typed.host");

  local->setCursorPosition(0);
  Pick("Picture1", "mnuVariablesFileName");
  EXPECT_EQ(local->text(), "<FileName>/srv/in/<yyyy>");

  local->setSelection(10, 8);  // "/srv/in/"
  Pick("Picture1", "mnuGlobalsConstantsGV_14");
  EXPECT_EQ(local->text(), "<FileName><GV15><yyyy>");
  EXPECT_EQ(settings_.LocalDir, "/srv/in/");  // written when the box is left
}

TEST_F(EditorPlaceholderTest, DismissingTheMenuChangesNothing) {
  settings_.RemoteDir = "/pub";
  Open();
  ASSERT_TRUE(ShowActive(dialog_.get()));
  Pick("picShowPopup2", "");
  EXPECT_EQ(ui_.events, (std::vector<std::string>{"menu"}));
  EXPECT_EQ(Get<QLineEdit>("txtRemoteDir")->text(), "/pub");
  EXPECT_EQ(QApplication::focusWidget(), Get<QLineEdit>("txtRemoteDir"));
}

TEST_F(EditorPlaceholderTest, EachPictureServesItsBox) {
  const std::pair<const char*, const char*> pairs[] = {
      {"Picture2", "txtHost"},      {"Picture3", "txtUsername"},
      {"Picture4", "txtPassword"},  {"picShowPopup2", "txtRemoteDir"},
      {"Picture6", "txtSpecificFilename"}, {"Picture1", "txtLocalDir"},
  };
  state_.LocalConstantCaptions[2] = "<LC3> C:\\in";
  settings_.CopySpecific = true;
  Open();
  ASSERT_TRUE(ShowActive(dialog_.get()));
  for (const auto& [picture, box] : pairs) {
    SCOPED_TRACE(picture);
    Pick(picture, "mnuLocalsConstantsLC_2");
    EXPECT_EQ(Get<QLineEdit>(box)->text(), "<LC3>");
  }
  ASSERT_FALSE(ui_.menu_captions.empty());
  EXPECT_TRUE(ui_.menu_captions.back().contains("<LC3> C:\\in"));
  EXPECT_EQ(settings_.SpecificFilename, "<LC3>");
}

TEST_F(EditorPlaceholderTest, NoMenuOpensWhenTheBoxCannotTakeTheFocus) {
  Open();
  ASSERT_TRUE(ShowActive(dialog_.get()));
  Pick("Picture6", "mnuVariablesFileName");  // disabled while "Copy Specific File" is cleared
  EXPECT_TRUE(ui_.events.empty());
  EXPECT_EQ(Get<QLineEdit>("txtSpecificFilename")->text(), "");

  // Leaving a bad port refuses the move and pulls the focus back: nothing is typed anywhere.
  auto* port = Get<QLineEdit>("txtPort");
  TypeReplacing(port, "abc");
  Pick("Picture2", "mnuVariablesFileName");
  EXPECT_EQ(ui_.events, (std::vector<std::string>{"message"}));
  EXPECT_THAT(ui_.messages, ::testing::ElementsAre(IncorrectValue("<Port> must be a positive numerical value!")));
  EXPECT_EQ(port->text(), "21");
  EXPECT_EQ(Get<QLineEdit>("txtHost")->text(), "");
  EXPECT_EQ(QApplication::focusWidget(), port);
}

TEST(ProxyPlaceholder, PickReplacesTheWholeFieldBecauseEntrySelectsIt) {
  ModuleState state;
  state.Settings.ProxyType = 2;
  state.Settings.ProxyHost = "oldhost";
  ScriptedUiServices ui;
  frmPopUp popup(state);
  frmProxySetup dialog(state.Settings, ui, popup);
  ASSERT_TRUE(ShowActive(&dialog));
  ui.menu_pick = "mnuVariablesFileName";
  QTest::mousePress(Child<QWidget>(&dialog, "Picture3"), Qt::LeftButton, Qt::NoModifier, QPoint(3, 3));
  auto* host = Child<QLineEdit>(&dialog, "txtProxyHost");
  EXPECT_EQ(host->text(), "<FileName>");
  EXPECT_EQ(ui.menu_owner, &dialog);
  // The port box takes 5 characters: the pick is cut to them.
  QTest::mousePress(Child<QWidget>(&dialog, "Picture1"), Qt::LeftButton, Qt::NoModifier, QPoint(3, 3));
  EXPECT_EQ(Child<QLineEdit>(&dialog, "txtProxyPort")->text(), "<File");
}

}  // namespace
}  // namespace pullwire::testing
