// The Toolbox by vtable with a module of the test's own: host contract, index errors, Setup,
// Execute, messages, variables and constants.
#include "plugin/toolbox.h"

#include <gtest/gtest.h>

#include "host_view.h"
#include "module/command_record.h"
#include "module/variable_slots.h"
#include "private_environment.h"
#include "test_services.h"

namespace pullwire {
namespace {

using testing::ExpectRaised;
using testing::Read;
using testing::RecordingChannel;
using testing::RecordingUi;
using testing::SentMessage;
using testing::ShownBox;

std::vector<std::string> GoodRecordTexts() {
  return {"ftp.example.net", "anna", "secret", "21", "1", "30", "1", "/pub", "/tmp/in", "0", "1", "0",
          "0", "", "1080", "", "", "0", "LOCAL", "1", "0", "", "*", "0"};
}
com::StringArray GoodRecord() { return com::StringArray(GoodRecordTexts(), 1); }

// A command editor that records its calls; Edit saves like the editor's OK button when asked.
class RecordingEditor final : public CommandEditor {
 public:
  explicit RecordingEditor(std::vector<std::string>* calls, bool save) : calls_(calls), save_(save) {}
  void Position(PluginModule& module) override {
    calls_->push_back("Position");
    module.state().DialogTop = 5200;
  }
  void Edit(PluginModule& module) override {
    calls_->push_back("Edit " + module.state().Settings.Host);
    if (save_) EncodeEditedRecord(module.state().Settings, module.state());
  }

 private:
  std::vector<std::string>* calls_;
  bool save_;
};

class ToolboxTest : public ::testing::Test {
 protected:
  ToolboxTest() {
    module_.set_message_channel(std::make_unique<RecordingChannel>(&sent_));
    module_.set_ui_factory([this] { return std::make_unique<RecordingUi>(&boxes_); });
    box_ = com::MakeObject<Toolbox>(module_);
    com::GetErrorInfo();
  }

  com::ComPtr<Toolbox> NewBox() { return com::MakeObject<Toolbox>(module_); }

  PluginModule module_;
  std::vector<SentMessage> sent_;
  std::vector<ShownBox> boxes_;
  com::ComPtr<Toolbox> box_;
};

TEST_F(ToolboxTest, before_init_the_descriptions_are_empty_and_module_info_fails) {
  EXPECT_EQ(Read(*box_, &_Toolbox::get_Info), "");
  EXPECT_EQ(Read(*box_, &_Toolbox::get_Author), "");
  EXPECT_EQ(Read(*box_, &_Toolbox::get_ModuleCount), 0);
  for (std::int16_t index : {0, 1, 2}) {
    ModType info{"kept", "", "", "", "", ""};
    ExpectRaised(box_->get_ModuleInfo(index, &info), 9, "Subscript out of range");
    EXPECT_EQ(info.Name, "kept") << "out-value untouched on failure";
  }
  MessageType message;
  ExpectRaised(box_->get_Message(0, &message), 9, "Subscript out of range");
}

TEST_F(ToolboxTest, init_fills_the_descriptions_and_the_tables) {
  ASSERT_EQ(box_->Init(), com::S_OK);
  testing::ExpectAfterInit(testing::ReadByVtable(*box_));
  EXPECT_EQ(Read(*box_, &_Toolbox::get_gInfo), "Norvik Plugin: Pullwire");
  for (std::int16_t index : {0, 2}) {
    ModType info{"x", "", "", "", "", ""};
    ASSERT_EQ(box_->get_ModuleInfo(index, &info), com::S_OK);
    EXPECT_EQ(info, ModType{});
  }
  MessageType message{"x", "y", 5};
  ASSERT_EQ(box_->get_Message(1, &message), com::S_OK);
  EXPECT_EQ(message, MessageType{});
  for (std::int16_t index : {0, 14, 15}) {
    VarType local{com::kVariantTrue, "x"};
    VarType global = local;
    ASSERT_EQ(box_->get_LocalVar(index, &local), com::S_OK);
    ASSERT_EQ(box_->get_GlobalVar(index, &global), com::S_OK);
    EXPECT_EQ(local, VarType{});
    EXPECT_EQ(global, VarType{});
  }
  testing::ExpectIndexesOutsideTheTablesRaise(*box_);
}

TEST_F(ToolboxTest, g_info_and_g_author_belong_to_each_object_until_the_next_init) {
  box_->Init();
  box_->put_gInfo("written by the host");
  box_->put_gAuthor("someone");
  EXPECT_EQ(Read(*box_, &_Toolbox::get_Info), "written by the host");
  EXPECT_EQ(Read(*box_, &_Toolbox::get_Author), "someone");
  EXPECT_EQ(Read(*NewBox(), &_Toolbox::get_Info), "") << "a new object has its own gInfo";
  box_->Init();
  EXPECT_EQ(Read(*box_, &_Toolbox::get_Info), "Norvik Plugin: Pullwire");
}

TEST_F(ToolboxTest, a_second_object_sees_the_module_state_the_first_left) {
  box_->Init();
  box_->put_Top(1234);
  box_->put_Left(-20);
  box_->put_AutoLog(com::kVariantTrue);
  box_->put_dInstance("7");
  box_->Setup("PULLWIRE", GoodRecord(), nullptr);
  module_.state().ErrorFlag = true;
  StoreVariable(module_.state(), "GLOBAL", 3, "a.txt");
  box_.Reset();

  auto second = NewBox();
  EXPECT_EQ(module_.state().DialogTop, 1234);
  EXPECT_EQ(module_.state().DialogLeft, std::int16_t{-20});
  EXPECT_TRUE(module_.state().AutoLog);
  EXPECT_EQ(module_.state().DaemonInstance, "7");
  EXPECT_EQ(Read(*second, &_Toolbox::get_Error), com::kVariantTrue);
  VarType slot;
  second->get_GlobalVar(2, &slot);
  EXPECT_EQ(slot, (VarType{com::kVariantTrue, "a.txt"}));
  EXPECT_EQ(Read(*second, &_Toolbox::get_ModuleCount), 1) << "the module table is module-wide";
  EXPECT_EQ(module_.state().Settings.Host, "ftp.example.net");
}

TEST_F(ToolboxTest, init_twice_rebuilds_only_what_it_owns) {
  box_->Init();
  box_->put_Top(300);
  box_->put_AutoLog(com::kVariantTrue);
  box_->put_dInstance("2");
  module_.state().ErrorFlag = true;
  box_->Setup("PULLWIRE", GoodRecord(), nullptr);
  EncodeEditedRecord(module_.state().Settings, module_.state());
  StoreVariable(module_.state(), "LOCAL", 1, "first");
  StoreVariable(module_.state(), "GLOBAL", 15, "fifteenth");
  StoreVariable(module_.state(), "LOCAL", 16, "sixteenth");
  StoreVariable(module_.state(), "GLOBAL", 16, "global sixteenth");
  const CommandSettings settings = module_.state().Settings;

  ASSERT_EQ(box_->Init(), com::S_OK);
  const ModuleState& s = module_.state();
  EXPECT_EQ(s.LocalVars[0], VariableSlot{});
  EXPECT_EQ(s.GlobalVars[14], VariableSlot{});
  EXPECT_EQ(s.LocalVars[15], (VariableSlot{true, "sixteenth"}));
  EXPECT_EQ(s.GlobalVars[15], (VariableSlot{true, "global sixteenth"}));
  EXPECT_TRUE(s.ErrorFlag);
  EXPECT_TRUE(s.AutoLog);
  EXPECT_EQ(s.DaemonInstance, "2");
  EXPECT_EQ(s.DialogTop, 300);
  EXPECT_EQ(s.Settings, settings);
  EXPECT_EQ(s.EditedRecordCount, 24);
  EXPECT_EQ(s.ModuleTable.size(), 3u);
  EXPECT_EQ(s.ModuleCount, 1);
  EXPECT_EQ(Read(*box_, &_Toolbox::get_MessageCount), 0);
}

TEST_F(ToolboxTest, data_fails_before_the_first_save_and_outside_0_to_24) {
  std::string text;
  ExpectRaised(box_->get_Data(0, &text), 9, "Subscript out of range");
  EXPECT_EQ(Read(*box_, &_Toolbox::get_DataCount), 0);

  auto editor = std::vector<std::string>();
  module_.set_command_editor(std::make_unique<RecordingEditor>(&editor, true));
  auto texts = GoodRecordTexts();
  texts[3] = "21";
  texts[6] = "1";
  texts[18] = "LOCAL";
  ASSERT_EQ(box_->Setup("PULLWIRE", com::StringArray(texts, 1), nullptr), com::S_OK);
  EXPECT_EQ(Read(*box_, &_Toolbox::get_DataCount), 24);
  box_->get_Data(4, &text);
  EXPECT_EQ(text, "21");
  box_->get_Data(7, &text);
  EXPECT_EQ(text, "1");
  box_->get_Data(19, &text);
  EXPECT_EQ(text, "LOCAL");
  box_->get_Data(0, &text);
  EXPECT_EQ(text, "");
  for (std::int16_t index : {-1, 25}) {
    text = "kept";
    ExpectRaised(box_->get_Data(index, &text), 9, "Subscript out of range");
    EXPECT_EQ(text, "kept");
  }
}

TEST_F(ToolboxTest, null_out_pointers_are_refused) {
  EXPECT_EQ(box_->get_Info(nullptr), com::E_POINTER);
  EXPECT_EQ(box_->get_Error(nullptr), com::E_POINTER);
  EXPECT_EQ(box_->get_LocalVar(0, nullptr), com::E_POINTER);
  EXPECT_EQ(box_->GetTypeLibrary(nullptr), com::E_POINTER);
}

TEST_F(ToolboxTest, query_interface_gives_one_identity_and_the_three_interfaces) {
  void* unknown_a = nullptr;
  void* unknown_b = nullptr;
  ASSERT_EQ(box_->QueryInterface(com::IID_IUnknown, &unknown_a), com::S_OK);
  auto type_library = box_.As<com::IProvideTypeLibrary>(com::IID_IProvideTypeLibrary);
  ASSERT_TRUE(type_library);
  ASSERT_EQ(type_library->QueryInterface(com::IID_IUnknown, &unknown_b), com::S_OK);
  EXPECT_EQ(unknown_a, unknown_b);
  static_cast<com::IUnknown*>(unknown_a)->Release();
  static_cast<com::IUnknown*>(unknown_b)->Release();
  EXPECT_TRUE(box_.As<com::IDispatch>(com::IID_IDispatch));
  EXPECT_TRUE(box_.As<_Toolbox>(IID__Toolbox));
  void* none = &none;
  EXPECT_EQ(box_->QueryInterface(com::IID_IClassFactory, &none), com::E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);
}

TEST_F(ToolboxTest, setup_with_an_unknown_module_shows_the_box_and_leaves_data_count_0) {
  std::vector<std::string> calls;
  module_.set_command_editor(std::make_unique<RecordingEditor>(&calls, true));
  box_->Setup("PULLWIRE", GoodRecord(), nullptr);
  ASSERT_EQ(module_.state().EditedRecordCount, 24);

  com::Variant result = "not empty";
  ASSERT_EQ(box_->Setup("pullwire2", GoodRecord(), &result), com::S_OK);
  EXPECT_TRUE(result.IsEmpty());
  EXPECT_EQ(module_.state().EditedRecordCount, 0);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0], (ShownBox{"Module [PULLWIRE2] is unknown!", "Unknown Module", MessageIcon::kExclamation}));
  EXPECT_EQ(calls, (std::vector<std::string>{"Position", "Edit ftp.example.net"}));
  EXPECT_TRUE(sent_.empty());
}

TEST_F(ToolboxTest, setup_matches_the_module_id_in_any_letter_case) {
  std::vector<std::string> calls;
  module_.set_command_editor(std::make_unique<RecordingEditor>(&calls, false));
  module_.state().DialogTop = 9000;
  for (const char* id : {"pullwire", "PullWire", "PULLWIRE"}) {
    ASSERT_EQ(box_->Setup(id, GoodRecord(), nullptr), com::S_OK);
  }
  EXPECT_EQ(calls.size(), 6u);
  EXPECT_TRUE(boxes_.empty());
  EXPECT_EQ(module_.state().EditedRecordCount, 0) << "a cancel leaves the count 0";
  EXPECT_EQ(module_.state().DialogTop, 5200) << "the editor may lower DialogTop for later calls";
}

// As the host's UCase does, beyond ASCII, and alike under every locale (here plain C).
TEST(module_id, is_upper_cased_beyond_ascii) {
  testing::ScopedLocale c_locale("C");
  const std::pair<const char*, const char*> cases[] = {
      {"pullwire", "PULLWIRE"}, {"pUlLwIrE", "PULLWIRE"}, {"é", "É"},       {"pullwiré2", "PULLWIRÉ2"},
      {"привет", "ПРИВЕТ"},     {"", ""},                 {"a\xff\xc3", "A\xff\xc3"},  // not UTF-8: ASCII only
  };
  for (const auto& [id, upper] : cases) EXPECT_EQ(UpperCaseModuleId(id), upper) << id;
}

TEST_F(ToolboxTest, setup_without_an_editor_decodes_and_returns) {
  ASSERT_EQ(box_->Setup("PULLWIRE", com::StringArray(std::vector<std::string>(24), 1), nullptr), com::S_OK);
  CommandSettings expected;
  expected.TransferMode = 1;
  EXPECT_EQ(module_.state().Settings, expected);
}

// The faults' numbers and texts are the loaded library's tests; here, that the editor never opens.
TEST_F(ToolboxTest, setup_raises_record_faults_and_does_not_open_the_editor) {
  std::vector<std::string> calls;
  module_.set_command_editor(std::make_unique<RecordingEditor>(&calls, true));
  auto texts = GoodRecordTexts();
  texts[3] = "abc";
  com::Variant result = "x";
  ExpectRaised(box_->Setup("PULLWIRE", com::StringArray(texts, 1), &result), 13, "Type mismatch");
  EXPECT_TRUE(result.IsEmpty());
  texts[3] = "21";
  texts.pop_back();
  ExpectRaised(box_->Setup("PULLWIRE", com::StringArray(texts, 1), nullptr), 9,
               "Subscript out of range");
  EXPECT_EQ(calls, std::vector<std::string>(2, "Position")) << "the editor is placed, never shown";
  EXPECT_EQ(module_.state().EditedRecordCount, 0);
}

TEST_F(ToolboxTest, execute_with_an_unknown_module_warns_whatever_auto_log_says) {
  box_->put_AutoLog(com::kVariantFalse);
  com::Variant result = "x";
  ASSERT_EQ(box_->Execute("other", GoodRecord(), &result), com::S_OK);
  EXPECT_TRUE(result.IsEmpty());
  EXPECT_EQ(sent_, (std::vector<SentMessage>{{"WARNING: Module [OTHER] is unknown!", 1}}));
  EXPECT_EQ(Read(*box_, &_Toolbox::get_Error), com::kVariantFalse);
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(ToolboxTest, execute_hands_the_record_to_the_download_run_and_never_fails) {
  std::vector<std::string> hosts;
  module_.set_download_runner([&](PluginModule& module, const com::StringArray& record) {
    DecodeForRun(record, module.state().Settings);
    hosts.push_back(module.state().Settings.Host);
    throw std::runtime_error("the run must not throw, but Execute survives it");
  });
  ASSERT_EQ(box_->Execute("pullwire", GoodRecord(), nullptr), com::S_OK);
  EXPECT_EQ(hosts, std::vector<std::string>{"ftp.example.net"});
  EXPECT_TRUE(sent_.empty());
}

TEST_F(ToolboxTest, constants_set_captions_from_index_1_and_ignore_index_0) {
  std::vector<std::string> values(16);
  values[0] = "ignored";
  values[1] = "C:\\in";
  values[15] = "last";
  com::Variant result = "x";
  ASSERT_EQ(box_->SetLocalConstants(com::StringArray(values, 0), &result), com::S_OK);
  EXPECT_TRUE(result.IsEmpty());
  EXPECT_EQ(ConstantCaption(module_.state(), ConstantScope::kLocal, 1), "<LC1> C:\\in");
  EXPECT_EQ(ConstantCaption(module_.state(), ConstantScope::kLocal, 2), "<LC2> ");
  EXPECT_EQ(ConstantCaption(module_.state(), ConstantScope::kLocal, 15), "<LC15> last");
  EXPECT_EQ(ConstantCaption(module_.state(), ConstantScope::kGlobal, 1), "<GC1>");
}

TEST_F(ToolboxTest, constants_fail_at_the_first_missing_index_after_setting_the_lower_ones) {
  std::vector<std::string> ten;
  for (int i = 1; i <= 10; ++i) ten.push_back("g" + std::to_string(i));
  ExpectRaised(box_->SetGlobalConstants(com::StringArray(ten, 1), nullptr), 9, "Subscript out of range");
  EXPECT_EQ(ConstantCaption(module_.state(), ConstantScope::kGlobal, 10), "<GC10> g10");
  EXPECT_EQ(ConstantCaption(module_.state(), ConstantScope::kGlobal, 11), "<GC11>");
  ExpectRaised(box_->SetLocalConstants(com::StringArray(ten, 2), nullptr), 9, "Subscript out of range");
  EXPECT_EQ(ConstantCaption(module_.state(), ConstantScope::kLocal, 1), "<LC1>");
  ExpectRaised(box_->SetLocalConstants(com::StringArray::WithBounds({{1, 15}, {1, 1}}), nullptr), 9,
               "Subscript out of range");
}

TEST(plugin_module, without_desktop_services_the_unknown_module_box_goes_to_stderr) {
  PluginModule module;
  auto box = com::MakeObject<Toolbox>(module);
  ::testing::internal::CaptureStderr();
  ASSERT_EQ(box->Setup("Report", com::StringArray(), nullptr), com::S_OK);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Unknown Module: (!) Module [REPORT] is unknown!\n");
}

// The run's table (download_entry_test.cc) has the scopes and slots 1 to 16; here the numbers
// outside them, which must never reach the slot arrays.
TEST(variable_slots, numbers_outside_1_to_16_fail_and_only_exactly_global_is_global) {
  ModuleState state;
  StoreVariable(state, "GLOBAL ", 3, "a.txt");
  EXPECT_EQ(state.LocalVars[2], (VariableSlot{true, "a.txt"}));
  for (int number : {0, 17, -1}) {
    try {
      StoreVariable(state, "LOCAL", number, "x");
      ADD_FAILURE() << number;
    } catch (const VbError& e) {
      EXPECT_EQ(e.vb_number(), 9);
      EXPECT_EQ(e.what(), "slot 20 (VarNumber): " + std::to_string(number) + " is outside 1..16");
    }
  }
}

}  // namespace
}  // namespace pullwire
