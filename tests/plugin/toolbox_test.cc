// The Toolbox in-process with a module of the test's own (editor, run, messages, desktop): what
// Setup, Execute, Init and the constants do to the module's state.
#include "plugin/toolbox.h"

#include <gtest/gtest.h>

#include "module/command_record.h"
#include "module/message_channel.h"
#include "module/ui_services.h"
#include "module/variable_slots.h"
#include "tests/support/test_files.h"

namespace pullwire {
namespace {

struct Recorded {
  std::vector<std::string> messages, boxes, editor;
};

// Stands in for the host's message daemon, the desktop and the command editor, recording what
// reaches them; Edit saves like the editor's Save button when asked to.
struct Recorder final : MessageChannel, UiServices, CommandEditor {
  explicit Recorder(Recorded* recorded, bool saves = false) : r(recorded), save(saves) {}
  void SendHostMessage(const std::string& text, std::int16_t mtype) override {
    r->messages.push_back(std::to_string(mtype) + " " + text);
  }
  void ShowMessage(const std::string& text, const std::string& title, MessageIcon icon) override {
    r->boxes.push_back(title + ": " + text + (icon == MessageIcon::kExclamation ? " (!)" : ""));
  }
  void Position(PluginModule&) override { r->editor.push_back("Position"); }
  void Edit(PluginModule& module) override {
    r->editor.push_back("Edit " + module.state().Settings.Host);
    if (save) EncodeEditedRecord(module.state().Settings, module.state());
  }
  Recorded* r;
  bool save;
};

std::vector<std::string> GoodRecordTexts() {
  return {"ftp.example.net", "anna", "secret", "21", "1", "30", "1", "/pub", "/tmp/in", "0", "1", "0",
          "0", "", "1080", "", "", "0", "LOCAL", "1", "0", "", "*", "0"};
}

class ToolboxTest : public ::testing::Test {
 protected:
  ToolboxTest() {
    module_.set_message_channel(std::make_unique<Recorder>(&recorded_));
    module_.set_ui_factory([this] { return std::make_unique<Recorder>(&recorded_); });
    com::GetErrorInfo();
  }
  // "9 Subscript out of range" for an error raised the host's way.
  static std::string Raised(com::HRESULT hr) {
    const auto record = com::GetErrorInfo();
    if (!record || hr != com::VbErrorResult(record->number)) return "not raised";
    return std::to_string(record->number) + " " + record->description;
  }

  PluginModule module_;
  Recorded recorded_;
  com::ComPtr<Toolbox> box_ = com::MakeObject<Toolbox>(module_);
};

// Setup places the editor, decodes and edits; a save fills Data(0..24), another module shows a box
// and leaves DataCount 0. The real editor's save, cancel and refusal are `pullwire edit`'s tests.
TEST_F(ToolboxTest, a_save_fills_data_and_another_module_shows_a_box) {
  module_.set_command_editor(std::make_unique<Recorder>(&recorded_, /*saves=*/true));
  com::Variant result = "not empty";
  ASSERT_EQ(box_->Setup("PullWire", com::StringArray(GoodRecordTexts(), 1), &result), com::S_OK);
  EXPECT_TRUE(result.IsEmpty());
  EXPECT_EQ(recorded_.editor, (std::vector<std::string>{"Position", "Edit ftp.example.net"}));
  std::int16_t count = 0;
  ASSERT_EQ(box_->get_DataCount(&count), com::S_OK);
  EXPECT_EQ(count, 24);
  for (const auto& [index, text] : {std::pair{0, ""}, {4, "21"}, {7, "1"}, {19, "LOCAL"}, {24, "0"}}) {
    std::string value;
    ASSERT_EQ(box_->get_Data(static_cast<std::int16_t>(index), &value), com::S_OK);
    EXPECT_EQ(value, text) << index;
  }
  std::string kept = "kept";
  EXPECT_EQ(Raised(box_->get_Data(25, &kept)), "9 Subscript out of range");
  EXPECT_EQ(kept, "kept");
  ASSERT_EQ(box_->Setup("pullwire2", com::StringArray(GoodRecordTexts(), 1), nullptr), com::S_OK);
  EXPECT_EQ(module_.state().EditedRecordCount, 0);
  EXPECT_EQ(recorded_.boxes, std::vector<std::string>{"Unknown Module: Module [PULLWIRE2] is unknown! (!)"});
  EXPECT_TRUE(recorded_.messages.empty());
}

TEST(plugin_module, without_desktop_services_the_unknown_module_box_goes_to_stderr) {
  PluginModule module;
  auto box = com::MakeObject<Toolbox>(module);
  ::testing::internal::CaptureStderr();
  ASSERT_EQ(box->Setup("Report", com::StringArray(), nullptr), com::S_OK);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Unknown Module: (!) Module [REPORT] is unknown!\n");
}

// As the host's UCase does, beyond ASCII, and alike under every locale (here plain C).
TEST(module_id, is_upper_cased_beyond_ascii) {
  testing::ScopedEnv c_locale("LC_ALL", "C");
  const std::pair<const char*, const char*> cases[] = {
      {"pUlLwIrE", "PULLWIRE"}, {"é", "É"}, {"pullwiré2", "PULLWIRÉ2"}, {"привет", "ПРИВЕТ"}, {"", ""},
      {"a\xff\xc3", "A\xff\xc3"},  // not UTF-8: ASCII only
  };
  for (const auto& [id, upper] : cases) EXPECT_EQ(UpperCaseModuleId(id), upper) << id;
}

TEST_F(ToolboxTest, execute_warns_of_an_unknown_module_whatever_auto_log_says_and_survives_its_run) {
  box_->put_AutoLog(com::kVariantFalse);
  com::Variant result = "x";
  ASSERT_EQ(box_->Execute("other", com::StringArray(GoodRecordTexts(), 1), &result), com::S_OK);
  EXPECT_TRUE(result.IsEmpty());
  std::vector<std::string> hosts;
  module_.set_download_runner([&](PluginModule& module, const com::StringArray& record) {
    DecodeForRun(record, module.state().Settings);
    hosts.push_back(module.state().Settings.Host);
    throw std::runtime_error("the run must not throw, but Execute survives it");
  });
  ASSERT_EQ(box_->Execute("pullwire", com::StringArray(GoodRecordTexts(), 1), nullptr), com::S_OK);
  EXPECT_EQ(hosts, std::vector<std::string>{"ftp.example.net"});
  EXPECT_EQ(recorded_.messages, std::vector<std::string>{"1 WARNING: Module [OTHER] is unknown!"});
  EXPECT_TRUE(recorded_.boxes.empty());
  EXPECT_FALSE(module_.state().ErrorFlag);
}

// Init resets the module table, the message queue and variable slots 0..14; what the host set,
// the error flag, the settings, the saved record and slot 16 stay.
TEST_F(ToolboxTest, init_twice_rebuilds_only_what_it_owns) {
  box_->Init();
  box_->put_Top(300);
  box_->put_Left(-20);
  box_->put_AutoLog(com::kVariantTrue);
  box_->put_dInstance("2");
  ModuleState& s = module_.state();
  s.ErrorFlag = true;
  box_->Setup("PULLWIRE", com::StringArray(GoodRecordTexts(), 1), nullptr);
  EncodeEditedRecord(s.Settings, s);
  for (const char* scope : {"LOCAL", "GLOBAL"}) {
    StoreVariable(s, scope, 1, "first");
    StoreVariable(s, scope, 16, "sixteenth");
  }
  const CommandSettings settings = s.Settings;
  ASSERT_EQ(box_->Init(), com::S_OK);
  const VariableSlot unused{}, kept{true, "sixteenth"};
  EXPECT_EQ(std::tie(s.LocalVars[0], s.GlobalVars[0], s.LocalVars[15], s.GlobalVars[15]),
            std::tie(unused, unused, kept, kept));
  EXPECT_TRUE(s.ErrorFlag && s.AutoLog && s.Settings == settings);
  EXPECT_EQ(std::tuple(s.DaemonInstance, s.DialogTop, s.DialogLeft, s.EditedRecordCount, s.ModuleCount),
            std::tuple("2", 300, -20, 24, 1));
  EXPECT_EQ(s.ModuleTable.size(), 3u);
}

// Captions from index 1 to 15, index 0 ignored; a missing index fails after the lower ones are set.
TEST_F(ToolboxTest, constants_set_the_captions_from_index_1) {
  std::vector<std::string> values(16);
  values[0] = "ignored";
  values[1] = "C:\\in";
  values[15] = "last";
  com::Variant result = "x";
  ASSERT_EQ(box_->SetLocalConstants(com::StringArray(values, 0), &result), com::S_OK);
  EXPECT_TRUE(result.IsEmpty());
  std::vector<std::string> ten;
  for (int i = 1; i <= 10; ++i) ten.push_back("g" + std::to_string(i));
  EXPECT_EQ(Raised(box_->SetGlobalConstants(com::StringArray(ten, 1), nullptr)), "9 Subscript out of range");
  EXPECT_EQ(Raised(box_->SetLocalConstants(com::StringArray::WithBounds({{1, 15}, {1, 1}}), nullptr)),
            "9 Subscript out of range");
  std::vector<std::string> captions;
  for (const int n : {1, 2, 15}) captions.push_back(ConstantCaption(module_.state(), ConstantScope::kLocal, n));
  for (const int n : {10, 11}) captions.push_back(ConstantCaption(module_.state(), ConstantScope::kGlobal, n));
  EXPECT_EQ(captions, (std::vector<std::string>{"<LC1> C:\\in", "<LC2> ", "<LC15> last", "<GC10> g10", "<GC11>"}));
}

}  // namespace
}  // namespace pullwire
