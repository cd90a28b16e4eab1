// The proxy dialog: its types and the fields each shows, load, the port check, Ok and cancel.
#include <string_view>

#include <QPushButton>

#include "dialog_test_support.h"
#include "dialogs/popup_menu.h"
#include "dialogs/proxy_dialog.h"

namespace pullwire::testing {
namespace {

// Host, port, user name, password: box, label, picture, and the letters ShownFields gives them.
constexpr const char* kFields[][3] = {{"txtProxyHost", "lblProxyHost", "Picture3"},
                                      {"txtProxyPort", "lblProxyPort", "Picture1"},
                                      {"txtProxyUsername", "lblProxyUsername", "Picture2"},
                                      {"txtProxyPassword", "lblProxyPassword", "Picture4"}};
constexpr char kFieldLetters[] = "HPUW";
// The fields each proxy type shows and requires, by type index.
constexpr const char* kFieldsOfType[] = {"", "HPU", "HPUW", "HPUW", "HPUW", "HP", "HP", "HP"};

class ProxyDialogTest : public DialogTest<frmProxySetup> {
 protected:
  QComboBox* Types() const { return Get<QComboBox>("cboProxyType"); }
  // Which fields show, as kFieldLetters; label, picture and box agree.
  std::string ShownFields() const {
    std::string shown;
    for (int field = 0; field < 4; ++field) {
      const bool box = !Get(kFields[field][0])->isHidden();
      for (const char* other : {kFields[field][1], kFields[field][2]}) {
        EXPECT_EQ(!Get(other)->isHidden(), box) << other;
      }
      if (box) shown += kFieldLetters[field];
    }
    return shown;
  }
  void Ok() { Get<QPushButton>("cmdSave")->click(); }
};

TEST_F(ProxyDialogTest, ControlsShowTheirCaptionsTipsAndLimit) {
  Open();
  EXPECT_EQ(dialog_->windowTitle(), "Proxy Setup");
  const std::pair<const char*, QString> controls[] = {
      {"fraProxySettings", "Configure Proxy Settings"}, {"Labels", "Proxy Type:"},
      {"cboProxyType",
       "None|Socks V4|Socks V5|SITE Hostname |USER Logon|USER No Logon |OPEN|Pipe"},
      {"lblProxyHost", "Proxy Host:"}, {"lblProxyPort", "Proxy Port:"},
      {"lblProxyUsername", "Proxy Username:"}, {"lblProxyPassword", "Proxy Password:"},
      {"cmdSave", "&Ok [save]"}, {"cmdCancel", "&Cancel [cancel]"},
      {"Picture3", " [click to select command/variable]"}};
  for (const auto& [name, caption] : controls) EXPECT_EQ(CaptionOf(Get(name)), caption) << name;
  EXPECT_EQ(Get<QLineEdit>("txtProxyPassword")->echoMode(), QLineEdit::Password);
  Types()->setCurrentIndex(1);
  auto* port = Get<QLineEdit>("txtProxyPort");
  TypeReplacing(port, "1234567");
  EXPECT_EQ(port->text(), "12345");
}

TEST_F(ProxyDialogTest, LoadOkAndCancel) {
  const CommandSettings socks5 = {.ProxyType = 2, .ProxyHost = "proxy.lan", .ProxyPort = 3128,
                                  .ProxyUsername = "pu", .ProxyPassword = "pp"};
  const struct {
    const char* what; CommandSettings given; Looks set, looks; CommandSettings after;
    const char* shown;
  } cases[] = {
      {"no proxy proposes port 1080 and Ok stores it", {}, {{"cmdSave", "click"}},
       {{"cboProxyType", "None"}, {"txtProxyHost", ""}, {"txtProxyPort", "1080"}},
       {.ProxyPort = 1080}, ""},
      {"SOCKS 5 shows its four fields", socks5, {},
       {{"cboProxyType", "Socks V5"}, {"txtProxyHost", "proxy.lan"}, {"txtProxyPort", "3128"},
        {"txtProxyUsername", "pu"}, {"txtProxyPassword", "pp"}},
       socks5, "HPUW"},
      {"a negative type shows None with the design content",
       {.ProxyType = -1, .ProxyHost = "kept.lan", .ProxyPort = 3128}, {},
       {{"cboProxyType", "None"}, {"txtProxyHost", ""}, {"txtProxyPort", "1080"}},
       {.ProxyType = -1, .ProxyHost = "kept.lan", .ProxyPort = 3128}, ""},
      {"Ok stores all four texts, also of hidden fields",
       {.ProxyType = 2, .ProxyUsername = "old user", .ProxyPassword = "old pass"},
       {{"cboProxyType", "OPEN"}, {"txtProxyHost", "gate.lan"}, {"txtProxyUsername", ""},
        {"cmdSave", "click"}}, {},
       {.ProxyType = 6, .ProxyHost = "gate.lan", .ProxyPort = 1080, .ProxyPassword = "old pass"},
       "HP"},
      {"cancel stores nothing but the port the load proposed", {.ProxyType = 2},
       {{"cboProxyType", "Pipe"}, {"txtProxyHost", "changed.lan"}, {"cmdCancel", "click"}}, {},
       {.ProxyType = 2, .ProxyPort = 1080}, "HP"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Open(c.given, /*active=*/false);
    SetLooks(dialog_.get(), c.set);
    ExpectLooks(dialog_.get(), c.looks);
    EXPECT_EQ(settings_, c.after);
    EXPECT_TRUE(ui_.events.empty());
    EXPECT_EQ(ShownFields(), c.shown);
    const bool ok = !c.set.empty() && std::string_view(c.set.back().first) == "cmdSave";
    EXPECT_EQ(dialog_->result() == QDialog::Accepted, ok);
  }
}

// Each type shows and requires its own fields (SOCKS4 no password), and only those.
TEST_F(ProxyDialogTest, EachTypeShowsAndRequiresItsFields) {
  for (int type = 0; type < 8; ++type) {
    SCOPED_TRACE(type);
    const std::string_view required = kFieldsOfType[type];
    Open({}, /*active=*/false);
    Types()->setCurrentIndex(type);
    EXPECT_EQ(ShownFields(), required);
    QLineEdit* last = nullptr;  // the last field the type requires
    for (int field = 0; field < 4 && type > 0; ++field) {
      auto* box = Get<QLineEdit>(kFields[field][0]);
      box->setText(required.find(kFieldLetters[field]) != std::string::npos ? "1" : "");
      if (!box->text().isEmpty()) last = box;
    }
    if (last != nullptr) {
      last->setText("");
      Ok();
      EXPECT_EQ(ui_.events, (std::vector<std::string>{"beep", kMissingData}));
      last->setText("1");
    }
    Ok();
    EXPECT_EQ(dialog_->result(), QDialog::Accepted);
    EXPECT_EQ(settings_.ProxyType, type);
    EXPECT_EQ(settings_.ProxyPort, type == 0 ? 1080 : 1);
  }
}

TEST_F(ProxyDialogTest, PortThatIsNotPositiveIsRefusedWhenLeftAndAbove32767OnOk) {
  Open({.ProxyType = 7, .ProxyHost = "pipe.lan", .ProxyPort = 2000});
  auto* port = Get<QLineEdit>("txtProxyPort");
  TypeReplacing(port, "0.4");
  PressTab();
  EXPECT_EQ(ui_.events, std::vector{Refused("<ProxyPort> must be a positive numerical value!")});
  EXPECT_EQ(port->text(), "1080");
  EXPECT_EQ(QApplication::focusWidget(), port);

  Open({.ProxyType = 7, .ProxyHost = "pipe.lan", .ProxyPort = 2000});
  port = Get<QLineEdit>("txtProxyPort");
  TypeReplacing(port, "40000");
  PressTab();
  EXPECT_TRUE(ui_.events.empty());  // a positive number passes the focus check
  Ok();
  EXPECT_EQ(ui_.events, std::vector{Refused("<ProxyPort> must be between 1 and 32767!")});
  EXPECT_TRUE(dialog_->isVisible());
  EXPECT_EQ(settings_.ProxyPort, 2000);
  EXPECT_EQ(QApplication::focusWidget(), port);
  EXPECT_EQ(port->selectedText(), "40000");

  TypeReplacing(port, "32767");
  Ok();
  EXPECT_EQ(settings_.ProxyPort, 32767);
  EXPECT_EQ(settings_.ProxyHost, "pipe.lan");
}

}  // namespace
}  // namespace pullwire::testing
