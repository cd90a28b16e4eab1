// The command record: number conversion, both decodes, the encode and host arrays of any shape.
#include "module/command_record.h"

#include <gtest/gtest.h>

#include <vector>

#include "private_environment.h"

namespace pullwire {
namespace {

// A record whose slot i (1..24) holds texts[i - 1], with the host array's lower bound 1.
com::StringArray Record(std::vector<std::string> texts, std::int32_t lower_bound = 1) {
  return com::StringArray(std::move(texts), lower_bound);
}

std::vector<std::string> FullTexts() {
  return {"ftp.example.net", "anna", "secret", "2121", "3", "45", "1", "/pub", "/tmp/in", "0", "1", "0",
          "2", "proxy.lan", "1080", "puser", "ppass", "1", "GLOBAL", "3", "1", "a.txt", "*.txt;*.csv", "0"};
}

// Runs `decode` and returns the VB number it failed with, 0 when it did not fail.
template <typename Decode>
std::int32_t FailureNumber(Decode&& decode, std::string* description = nullptr) {
  try {
    decode();
  } catch (const RecordError& e) {
    if (description) *description = e.what();
    return e.vb_number();
  }
  return 0;
}

TEST(number_conversion, reads_decimal_text_and_rounds_halves_to_even) {
  const struct {
    const char* text;
    std::int16_t expected;
  } cases[] = {
      {"21", 21},     {"  21  ", 21}, {"+21", 21},     {"-21", -21},   {"21.5", 22},   {"22.5", 22},
      {"-21.5", -22}, {"-22.5", -22}, {"0.5", 0},      {"1.5", 2},     {"21.49", 21},  {"21.51", 22},
      {".5", 0},      {"5.", 5},      {"2.1e1", 21},   {"2150E-2", 22}, {"1e+2", 100}, {"32767", 32767},
      {"-32768", -32768}, {"32767.4", 32767}, {"-32768.5", -32768}, {"\t7\t", 7}, {"007", 7}, {"0", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ConvertToInt16(c.text), c.expected) << c.text;
  }
  EXPECT_EQ(ConvertToInt32("70000"), 70000);
  EXPECT_EQ(ConvertToInt32("2147483647"), 2147483647);
  EXPECT_EQ(ConvertToInt32("-2147483648.5"), -2147483647 - 1);
}

TEST(number_conversion, text_that_is_not_a_number_is_a_type_mismatch) {
  for (const char* text : {"", "   ", "abc", "21abc", "1,5", "1.2.3", "--1", "+-1", "1e", "1e+", "e5", ".", "- 1",
                           "0x10", "inf", "nan", "1 2", "21.5x"}) {
    std::string description;
    EXPECT_EQ(FailureNumber([&] { ConvertToInt16(text); }, &description), 13) << '"' << text << '"';
    EXPECT_EQ(description, "Type mismatch");
    EXPECT_FALSE(ParseNumber(text).has_value()) << text;
  }
}

TEST(number_conversion, values_beyond_the_type_overflow) {
  for (const char* text : {"32768", "-32769", "32767.5", "1e5", "1e400", "99999999999999999999"}) {
    std::string description;
    EXPECT_EQ(FailureNumber([&] { ConvertToInt16(text); }, &description), 6) << text;
    EXPECT_EQ(description, "Overflow");
  }
  EXPECT_EQ(FailureNumber([] { ConvertToInt32("2147483648"); }), 6);
  EXPECT_EQ(FailureNumber([] { ConvertToInt32("-2147483649"); }), 6);
  // Too small to represent is zero, not an overflow.
  EXPECT_EQ(ConvertToInt16("1e-400"), 0);
}

TEST(number_conversion, parse_number_keeps_the_fraction) {
  EXPECT_DOUBLE_EQ(*ParseNumber(" -1.25e1 "), -12.5);
  EXPECT_DOUBLE_EQ(*ParseNumber("30"), 30.0);
}

// The conversion reads the environment's LC_NUMERIC on every call; "." stays a decimal point.
TEST(number_conversion, takes_the_decimal_sign_of_the_host_s_numeric_locale) {
  if (!testing::ScopedLocale::Installed(testing::kGermanLocale)) GTEST_SKIP() << testing::kGermanLocaleMissing;
  const char* const german = testing::kGermanLocale;
  const struct {
    const char* locale;
    const char* text;
    std::int16_t expected;
    std::int32_t failure;
  } cases[] = {
      {german, "21,5", 22, 0},    {german, "22,5", 22, 0},     {german, " -2,15e1 ", -22, 0},
      {german, "21.5", 22, 0},    {german, "1.234", 1, 0},     {german, "1,2,3", 0, 13},
      {german, "1.5,5", 0, 13},   {german, "32767,5", 0, 6},   {"C", "21,5", 0, 13},
      {"C", "21.5", 22, 0},       {"no_SUCH.UTF-8", "21,5", 0, 13},
  };
  for (const auto& c : cases) {
    testing::ScopedLocale locale(c.locale);
    std::int16_t value = 0;
    EXPECT_EQ(FailureNumber([&] { value = ConvertToInt16(c.text); }), c.failure) << c.locale << " " << c.text;
    EXPECT_EQ(value, c.expected) << c.locale << " " << c.text;
  }
}

TEST(decode_for_editing, takes_every_slot_of_a_full_record) {
  CommandSettings s;
  DecodeForEditing(Record(FullTexts()), s);
  const CommandSettings expected{
      .Host = "ftp.example.net", .Username = "anna", .Password = "secret", .Port = 2121, .TransferMode = 3,
      .Timeout = 45, .Passive = true, .RemoteDir = "/pub", .LocalDir = "/tmp/in", .AutoDelete = false,
      .ProcessAll = true, .Overwrite = false, .ProxyType = 2, .ProxyHost = "proxy.lan", .ProxyPort = 1080,
      .ProxyUsername = "puser", .ProxyPassword = "ppass", .SaveFilename = true, .VarScope = "GLOBAL",
      .VarNumber = 3, .CopySpecific = true, .SpecificFilename = "a.txt", .Filter = "*.txt;*.csv",
      .IncludeSubdir = false};
  EXPECT_EQ(s, expected);
}

TEST(decode_for_editing, empty_slots_keep_fields_except_the_transfer_mode) {
  CommandSettings fresh;
  DecodeForEditing(Record(std::vector<std::string>(24)), fresh);
  CommandSettings expected;
  expected.TransferMode = 1;
  EXPECT_EQ(fresh, expected);

  CommandSettings earlier;
  DecodeForEditing(Record(FullTexts()), earlier);
  CommandSettings kept = earlier;
  DecodeForEditing(Record(std::vector<std::string>(24)), kept);
  earlier.TransferMode = 1;
  EXPECT_EQ(kept, earlier);
}

TEST(decode_for_editing, flags_change_only_for_exactly_0_or_1) {
  auto texts = FullTexts();
  CommandSettings s;
  s.Passive = true;
  for (const char* text : {"yes", "", "-1", " 1", "True"}) {
    texts[6] = text;
    DecodeForEditing(Record(texts), s);
    EXPECT_TRUE(s.Passive) << text;
  }
  texts[6] = "0";
  DecodeForEditing(Record(texts), s);
  EXPECT_FALSE(s.Passive);
  texts[6] = "yes";
  DecodeForEditing(Record(texts), s);
  EXPECT_FALSE(s.Passive);
}

TEST(decode_for_run, takes_every_slot_and_only_exactly_0_is_false) {
  auto texts = FullTexts();
  const struct {
    const char* text;
    bool expected;
  } flags[] = {{"0", false}, {"1", true}, {"yes", true}, {"", true}, {"00", true}, {" 0", true}};
  for (const auto& f : flags) {
    texts[6] = f.text;   // Passive
    texts[9] = f.text;   // AutoDelete
    texts[23] = f.text;  // IncludeSubdir
    CommandSettings s;
    DecodeForRun(Record(texts), s);
    EXPECT_EQ(s.Passive, f.expected) << f.text;
    EXPECT_EQ(s.AutoDelete, f.expected) << f.text;
    EXPECT_EQ(s.IncludeSubdir, f.expected) << f.text;
  }
  texts = FullTexts();
  texts[0] = "";
  texts[22] = "";
  CommandSettings s;
  s.Host = "old";
  s.Filter = "*";
  DecodeForRun(Record(texts), s);
  EXPECT_EQ(s.Host, "");
  EXPECT_EQ(s.Filter, "");
}

TEST(decode_for_run, a_failed_number_names_the_slot_the_field_and_the_text) {
  const struct {
    std::size_t index;  // slot - 1
    std::string text;
    std::int32_t number;
    std::string description;
  } cases[] = {
      {3, "", 13, "slot 4 (Port): \"\" is not a number"},
      {4, "", 13, "slot 5 (TransferMode): \"\" is not a number"},
      {5, "abc", 13, "slot 6 (Timeout): \"abc\" is not a number"},
      {12, "", 13, "slot 13 (ProxyType): \"\" is not a number"},
      {14, "", 13, "slot 15 (ProxyPort): \"\" is not a number"},
      {19, "", 13, "slot 20 (VarNumber): \"\" is not a number"},
      {3, "70000", 6, "slot 4 (Port): \"70000\" is outside -32768..32767"},
      {4, "40000", 6, "slot 5 (TransferMode): \"40000\" is outside -32768..32767"},
      {5, "1e10", 6, "slot 6 (Timeout): \"1e10\" is outside -2147483648..2147483647"},
      {3, "1\n2" + std::string(50, 'x'), 13,
       "slot 4 (Port): \"1?2" + std::string(37, 'x') + "...\" is not a number"},
  };
  for (const auto& c : cases) {
    auto texts = FullTexts();
    texts[c.index] = c.text;
    CommandSettings s;
    std::string description;
    EXPECT_EQ(FailureNumber([&] { DecodeForRun(Record(texts), s); }, &description), c.number) << c.description;
    EXPECT_EQ(description, c.description);
  }
}

TEST(decode, number_slots_round_and_fail_in_both_decodes) {
  for (const auto& decode : {DecodeForEditing, DecodeForRun}) {
    auto texts = FullTexts();
    CommandSettings s;
    texts[3] = "21.5";
    decode(Record(texts), s);
    EXPECT_EQ(s.Port, 22);
    texts[3] = "22.5";
    decode(Record(texts), s);
    EXPECT_EQ(s.Port, 22);
    texts[3] = "32768";
    EXPECT_EQ(FailureNumber([&] { decode(Record(texts), s); }), 6);
    texts[3] = "abc";
    EXPECT_EQ(FailureNumber([&] { decode(Record(texts), s); }), 13);
  }
  // Setup raises the host's standard texts.
  auto texts = FullTexts();
  texts[3] = "abc";
  CommandSettings s;
  std::string description;
  EXPECT_EQ(FailureNumber([&] { DecodeForEditing(Record(texts), s); }, &description), 13);
  EXPECT_EQ(description, "Type mismatch");
  texts[3] = "32768";
  EXPECT_EQ(FailureNumber([&] { DecodeForEditing(Record(texts), s); }, &description), 6);
  EXPECT_EQ(description, "Overflow");
}

TEST(decode, slot_5_goes_through_16_bits_and_slot_6_through_32) {
  auto texts = FullTexts();
  CommandSettings s;
  texts[4] = "40000";
  EXPECT_EQ(FailureNumber([&] { DecodeForEditing(Record(texts), s); }), 6);
  texts[4] = "1";
  texts[5] = "40000";
  DecodeForEditing(Record(texts), s);
  EXPECT_EQ(s.Timeout, 40000);
}

TEST(decode, a_failure_keeps_the_earlier_slots_new_values) {
  auto texts = FullTexts();
  texts[12] = "seven";  // slot 13, ProxyType
  CommandSettings s;
  s.ProxyHost = "before";
  EXPECT_EQ(FailureNumber([&] { DecodeForEditing(Record(texts), s); }), 13);
  EXPECT_EQ(s.Host, "ftp.example.net");
  EXPECT_EQ(s.Overwrite, false);
  EXPECT_EQ(s.ProxyHost, "before");  // slot 14 comes after the fault
}

TEST(decode, any_lower_bound_addresses_slots_1_to_24) {
  auto texts = FullTexts();
  std::vector<std::string> from_zero = texts;
  from_zero.insert(from_zero.begin(), "ignored");
  CommandSettings one_based;
  CommandSettings zero_based;
  DecodeForRun(Record(texts, 1), one_based);
  DecodeForRun(Record(from_zero, 0), zero_based);
  EXPECT_EQ(one_based, zero_based);

  // Lower bound -5 with slots up to 24 present.
  std::vector<std::string> from_minus_five(5, "x");
  from_minus_five.insert(from_minus_five.end(), from_zero.begin(), from_zero.end());
  CommandSettings negative;
  DecodeForRun(Record(from_minus_five, -5), negative);
  EXPECT_EQ(negative, one_based);
}

TEST(decode, a_missing_index_is_subscript_out_of_range) {
  auto texts = FullTexts();
  texts.pop_back();  // 1..23
  for (const auto& decode : {DecodeForEditing, DecodeForRun}) {
    CommandSettings s;
    std::string description;
    EXPECT_EQ(FailureNumber([&] { decode(Record(texts), s); }, &description), 9);
    EXPECT_EQ(description, "Subscript out of range");
    EXPECT_EQ(s.SpecificFilename, "a.txt") << "slots 1..23 are taken before slot 24 fails";
  }
  CommandSettings s;
  EXPECT_EQ(FailureNumber([&] { DecodeForEditing(Record(FullTexts(), 2), s); }), 9) << "slot 1 is missing";
  EXPECT_EQ(s, CommandSettings{});
  EXPECT_EQ(FailureNumber([&] { DecodeForRun(com::StringArray(), s); }), 9);
}

TEST(decode, an_array_that_is_not_one_dimensional_fails) {
  auto two_dimensional = com::StringArray::WithBounds({{1, 24}, {1, 2}});
  for (auto& text : two_dimensional.Items()) text = "1";
  for (const auto& decode : {DecodeForEditing, DecodeForRun}) {
    CommandSettings s;
    EXPECT_EQ(FailureNumber([&] { decode(two_dimensional, s); }), 9);
    EXPECT_EQ(s, CommandSettings{});
  }
}

TEST(encode, writes_texts_numbers_and_flags_into_a_fresh_record) {
  CommandSettings s;
  DecodeForRun(Record(FullTexts()), s);
  s.Port = 21;
  s.Passive = true;
  s.VarScope = "LOCAL";
  s.TransferMode = -7;
  ModuleState state;
  EncodeEditedRecord(s, state);
  ASSERT_TRUE(state.EditedRecord.has_value());
  const auto& r = *state.EditedRecord;
  EXPECT_EQ(state.EditedRecordCount, 24);
  EXPECT_EQ(r[0], "");
  EXPECT_EQ(r[4], "21");
  EXPECT_EQ(r[5], "-7");
  EXPECT_EQ(r[7], "1");
  EXPECT_EQ(r[10], "0");
  EXPECT_EQ(r[19], "LOCAL");

  // Encoding and decoding for a run gives the settings back.
  com::StringArray again(std::vector<std::string>(r.begin(), r.end()), 0);
  CommandSettings decoded;
  DecodeForRun(again, decoded);
  EXPECT_EQ(decoded, s);
}

}  // namespace
}  // namespace pullwire
