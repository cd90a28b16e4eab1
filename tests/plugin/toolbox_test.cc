// The command record (number conversion, both decodes, the encode, host arrays of any shape) and
// the Toolbox in-process with a module of the test's own (run, messages, desktop): what Setup,
// Execute, Init and the constants do to the module's state.
#include "plugin/toolbox.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "module/command_record.h"
#include "module/message_channel.h"
#include "module/ui_services.h"
#include "module/variable_slots.h"
#include "private_environment.h"
#include "tests/support/test_files.h"

namespace pullwire {
namespace {

using Decode = void (*)(const com::StringArray&, CommandSettings&);

std::vector<std::string> FullTexts() {
  return {"ftp.example.net", "anna", "secret", "2121", "3", "45", "1", "/pub", "/tmp/in", "0", "1", "0",
          "2", "proxy.lan", "1080", "puser", "ppass", "1", "GLOBAL", "3", "1", "a.txt", "*.txt;*.csv", "0"};
}

// The full record with slot `slot` (1..24) holding `text`.
com::StringArray FullRecordWith(int slot, const std::string& text) {
  auto texts = FullTexts();
  texts.at(static_cast<std::size_t>(slot - 1)) = text;
  return com::StringArray(texts, 1);
}

// "13 Type mismatch": the number and text `code` fails with; "" when it does not fail.
std::string Failure(auto&& code) {
  try {
    code();
  } catch (const RecordError& e) {
    return std::to_string(e.vb_number()) + " " + e.what();
  }
  return "";
}

TEST(number_conversion, reads_decimal_text_rounds_halves_to_even_and_fails_as_the_host_does) {
  const std::pair<const char*, std::int16_t> values[] = {
      {"21", 21},     {"  21  ", 21},     {"+21", 21},        {"-21", -21},       {"21.5", 22},     {"22.5", 22},
      {"-21.5", -22}, {"-22.5", -22},     {"0.5", 0},         {"1.5", 2},         {"21.49", 21},    {"21.51", 22},
      {".5", 0},      {"5.", 5},          {"2.1e1", 21},      {"2150E-2", 22},    {"1e+2", 100},    {"32767", 32767},
      {"-32768", -32768}, {"32767.4", 32767}, {"-32768.5", -32768}, {"\t7\t", 7}, {"007", 7},       {"1e-400", 0},
  };
  for (const auto& [text, expected] : values) EXPECT_EQ(ConvertToInt16(text), expected) << text;
  for (const char* text : {"", "   ", "abc", "21abc", "1,5", "1.2.3", "--1", "+-1", "1e", "1e+", "e5", ".", "- 1",
                           "0x10", "inf", "nan", "1 2", "21.5x"}) {
    EXPECT_EQ(Failure([&] { ConvertToInt16(text); }), "13 Type mismatch") << '"' << text << '"';
    EXPECT_FALSE(ParseNumber(text).has_value()) << text;
  }
  for (const char* text : {"32768", "-32769", "32767.5", "1e5", "1e400", "99999999999999999999"}) {
    EXPECT_EQ(Failure([&] { ConvertToInt16(text); }), "6 Overflow") << text;
  }
  EXPECT_EQ(ConvertToInt32("-2147483648.5"), INT_MIN);
  EXPECT_EQ(Failure([] { ConvertToInt32("2147483648"); }), "6 Overflow");
  EXPECT_DOUBLE_EQ(*ParseNumber(" -1.25e1 "), -12.5);
  // The decimal sign is LC_NUMERIC's, read on every call; "." stays a decimal point.
  if (!testing::LocaleInstalled(testing::kGermanLocale)) GTEST_SKIP() << testing::kGermanLocaleMissing;
  const char* const de = testing::kGermanLocale;
  const std::tuple<const char*, const char*, std::int16_t, const char*> cases[] = {
      {de, "21,5", 22, ""}, {de, " -2,15e1 ", -22, ""}, {de, "21.5", 22, ""}, {de, "1.234", 1, ""},
      {de, "1,2,3", 0, "13 Type mismatch"}, {de, "32767,5", 0, "6 Overflow"},
      {"C", "21,5", 0, "13 Type mismatch"}, {"no_SUCH.UTF-8", "21,5", 0, "13 Type mismatch"}};
  for (const auto& [locale, text, expected, failure] : cases) {
    testing::ScopedEnv scoped("LC_ALL", locale);
    std::int16_t value = 0;
    EXPECT_EQ(Failure([&] { value = ConvertToInt16(text); }), failure) << locale << " " << text;
    EXPECT_EQ(value, expected) << locale << " " << text;
  }
}

// The editor's save writes the record both decodes read back; a full record fills every field.
TEST(record, a_full_record_decodes_to_every_field_and_encodes_back_to_itself) {
  const CommandSettings full{
      .Host = "ftp.example.net", .Username = "anna", .Password = "secret", .Port = 2121, .TransferMode = 3,
      .Timeout = 45, .Passive = true, .RemoteDir = "/pub", .LocalDir = "/tmp/in", .AutoDelete = false,
      .ProcessAll = true, .Overwrite = false, .ProxyType = 2, .ProxyHost = "proxy.lan", .ProxyPort = 1080,
      .ProxyUsername = "puser", .ProxyPassword = "ppass", .SaveFilename = true, .VarScope = "GLOBAL",
      .VarNumber = 3, .CopySpecific = true, .SpecificFilename = "a.txt", .Filter = "*.txt;*.csv",
      .IncludeSubdir = false};
  for (const Decode decode : {DecodeForEditing, DecodeForRun}) {
    CommandSettings s;
    decode(com::StringArray(FullTexts(), 1), s);
    EXPECT_EQ(s, full);
  }
  ModuleState state;
  EncodeEditedRecord(full, state);
  ASSERT_TRUE(state.EditedRecord.has_value());
  EXPECT_EQ(state.EditedRecordCount, 24);
  std::vector<std::string> expected = FullTexts();
  expected.insert(expected.begin(), "");
  EXPECT_EQ(std::vector<std::string>(state.EditedRecord->begin(), state.EditedRecord->end()), expected);
}

// Before the editor: empty slots keep their field (slot 5 gives TransferMode 1) and a flag
// changes only for exactly "0" or "1". Before a run every slot is taken and only "0" is False.
TEST(record, empty_slots_and_flags_are_read_by_each_decode_s_rules) {
  CommandSettings earlier;
  DecodeForEditing(com::StringArray(FullTexts(), 1), earlier);
  CommandSettings kept = earlier;
  DecodeForEditing(com::StringArray(std::vector<std::string>(24), 1), kept);
  earlier.TransferMode = 1;
  EXPECT_EQ(kept, earlier);
  DecodeForRun(FullRecordWith(1, ""), kept);
  EXPECT_EQ(kept.Host, "");
  // The flag read for editing from False and from True, and for a run.
  const std::pair<const char*, std::tuple<bool, bool, bool>> flags[] = {
      {"0", {false, false, false}}, {"1", {true, true, true}}, {"yes", {false, true, true}},
      {"", {false, true, true}}, {"00", {false, true, true}}, {" 0", {false, true, true}}};
  for (const auto& [text, expected] : flags) {
    CommandSettings from_false, from_true, run;
    from_false.Passive = false;
    from_true.Passive = true;
    DecodeForEditing(FullRecordWith(7, text), from_false);
    DecodeForEditing(FullRecordWith(7, text), from_true);
    DecodeForRun(FullRecordWith(7, text), run);
    EXPECT_EQ(std::tuple(from_false.Passive, from_true.Passive, run.Passive), expected) << text;
  }
}

// The editor's Setup raises the host's own texts; a run's failure names the slot, its field and
// its text (control bytes as "?", at most 40 bytes). Slot 5 goes through 16 bits, slot 6 through 32.
TEST(record, a_number_slot_that_fails_raises_13_or_6_in_both_decodes) {
  const std::tuple<int, std::string, std::string, std::string> cases[] = {
      {4, "", "", "13 slot 4 (Port): \"\" is not a number"},
      {4, "abc", "13 Type mismatch", "13 slot 4 (Port): \"abc\" is not a number"},
      {4, "32768", "6 Overflow", "6 slot 4 (Port): \"32768\" is outside -32768..32767"},
      {5, "", "", "13 slot 5 (TransferMode): \"\" is not a number"},
      {5, "40000", "6 Overflow", "6 slot 5 (TransferMode): \"40000\" is outside -32768..32767"},
      {6, "abc", "13 Type mismatch", "13 slot 6 (Timeout): \"abc\" is not a number"},
      {6, "40000", "", ""},
      {6, "1e10", "6 Overflow", "6 slot 6 (Timeout): \"1e10\" is outside -2147483648..2147483647"},
      {13, "", "", "13 slot 13 (ProxyType): \"\" is not a number"},
      {15, "", "", "13 slot 15 (ProxyPort): \"\" is not a number"},
      {20, "", "", "13 slot 20 (VarNumber): \"\" is not a number"},
      {4, "1\n2" + std::string(50, 'x'), "13 Type mismatch",
       "13 slot 4 (Port): \"1?2" + std::string(37, 'x') + "...\" is not a number"},
  };
  for (const auto& [slot, text, editing, run] : cases) {
    CommandSettings s;
    EXPECT_EQ(Failure([&] { DecodeForEditing(FullRecordWith(slot, text), s); }), editing) << run;
    EXPECT_EQ(Failure([&] { DecodeForRun(FullRecordWith(slot, text), s); }), run);
  }
  CommandSettings s;
  s.ProxyHost = "before";
  EXPECT_EQ(Failure([&] { DecodeForEditing(FullRecordWith(13, "seven"), s); }), "13 Type mismatch");
  EXPECT_EQ(s.Overwrite, false) << "slot 12 comes before the fault";
  EXPECT_EQ(s.ProxyHost, "before") << "slot 14 comes after it";
}

// Slots 1 to 24 whatever the host array's lower bound; a missing one, also in an array that is not
// one-dimensional, is "Subscript out of range" after the slots before it were taken.
TEST(record, any_lower_bound_addresses_slots_1_to_24) {
  const auto from = [](std::int32_t lower, std::size_t slots) {
    std::vector<std::string> texts(static_cast<std::size_t>(1 - lower), "x"), full = FullTexts();
    texts.insert(texts.end(), full.begin(), full.begin() + static_cast<std::ptrdiff_t>(slots));
    return com::StringArray(texts, lower);
  };
  const std::pair<com::StringArray, const char*> cases[] = {
      {from(-5, 24), ""}, {from(0, 24), ""}, {from(1, 23), "9 Subscript out of range"},
      {com::StringArray(FullTexts(), 2), "9 Subscript out of range"},
      {com::StringArray::WithBounds({{1, 24}, {1, 2}}), "9 Subscript out of range"},
      {com::StringArray(FullTexts(), INT_MIN), "9 Subscript out of range"},  // 1 - INT_MIN
  };
  CommandSettings full;
  DecodeForRun(com::StringArray(FullTexts(), 1), full);
  for (std::size_t row = 0; row < std::size(cases); ++row) {
    for (const Decode decode : {DecodeForEditing, DecodeForRun}) {
      CommandSettings s;
      EXPECT_EQ(Failure([&] { decode(cases[row].first, s); }), cases[row].second) << "row " << row;
      EXPECT_EQ(s.SpecificFilename, row < 3 ? "a.txt" : "") << "row " << row << ": the slots before are taken";
      EXPECT_TRUE(row >= 2 || s == full) << "row " << row;
    }
  }
}

// Stands in for the host's message daemon and the desktop: "1 text" for a message of type 1,
// "title: text (!)" for a warning box.
struct Recorder final : MessageChannel, UiServices {
  explicit Recorder(std::vector<std::string>* lines) : seen(lines) {}
  void SendHostMessage(const std::string& text, std::int16_t mtype) override {
    seen->push_back(std::to_string(mtype) + " " + text);
  }
  void ShowMessage(const std::string& text, const std::string& title, MessageIcon icon) override {
    seen->push_back(title + ": " + text + (icon == MessageIcon::kExclamation ? " (!)" : ""));
  }
  std::vector<std::string>* seen;
};

class ToolboxTest : public ::testing::Test {
 protected:
  ToolboxTest() {
    module_.set_message_channel(std::make_unique<Recorder>(&seen_));
    module_.set_ui_factory([this] { return std::make_unique<Recorder>(&seen_); });
    com::GetErrorInfo();
  }
  // "9 Subscript out of range" for an error raised the host's way.
  static std::string Raised(com::HRESULT hr) {
    const auto record = com::GetErrorInfo();
    if (!record || hr != com::VbErrorResult(record->number)) return "not raised";
    return std::to_string(record->number) + " " + record->description;
  }

  PluginModule module_;
  std::vector<std::string> seen_;
  com::ComPtr<Toolbox> box_ = com::MakeObject<Toolbox>(module_);
};

// Setup for another module shows a box, on the desktop or, without one, on stderr. Its id is
// upper-cased as the host's UCase does, beyond ASCII and alike under every locale (here plain C).
TEST_F(ToolboxTest, setup_of_another_module_shows_a_box) {
  testing::ScopedEnv c_locale("LC_ALL", "C");
  ASSERT_EQ(box_->Setup("pullwiré2", com::StringArray(FullTexts(), 1), nullptr), com::S_OK);
  EXPECT_EQ(module_.state().EditedRecordCount, 0);
  EXPECT_EQ(seen_, std::vector<std::string>{"Unknown Module: Module [PULLWIRÉ2] is unknown! (!)"});
  PluginModule bare;
  ::testing::internal::CaptureStderr();
  // Not UTF-8 (Latin-1 "é"): ASCII letters only.
  ASSERT_EQ(com::MakeObject<Toolbox>(bare)->Setup("r\xe9port", {}, nullptr), com::S_OK);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Unknown Module: (!) Module [R\xe9PORT] is unknown!\n");
}

TEST_F(ToolboxTest, execute_warns_of_an_unknown_module_whatever_auto_log_says_and_survives_its_run) {
  box_->put_AutoLog(com::kVariantFalse);
  ASSERT_EQ(box_->Execute("other", com::StringArray(FullTexts(), 1), nullptr), com::S_OK);
  std::vector<std::string> hosts;
  module_.set_download_runner([&](PluginModule& module, const com::StringArray& record) {
    DecodeForRun(record, module.state().Settings);
    hosts.push_back(module.state().Settings.Host);
    throw std::runtime_error("the run must not throw, but Execute survives it");
  });
  ASSERT_EQ(box_->Execute("pullwire", com::StringArray(FullTexts(), 1), nullptr), com::S_OK);
  EXPECT_EQ(hosts, std::vector<std::string>{"ftp.example.net"});
  EXPECT_EQ(seen_, std::vector<std::string>{"1 WARNING: Module [OTHER] is unknown!"});
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
  box_->Setup("PULLWIRE", com::StringArray(FullTexts(), 1), nullptr);
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
  ASSERT_EQ(box_->SetLocalConstants(com::StringArray(values, 0), nullptr), com::S_OK);
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
