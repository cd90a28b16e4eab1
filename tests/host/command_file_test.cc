// Command files as the host reads them, no server: the object form's defaults and checks (each
// refusal naming its key), the array form taken as it is, and what --dry-run says a run does.
#include <gtest/gtest.h>

#include "host/command_file.h"
#include "host/dry_run.h"

namespace pullwire::host {
namespace {

std::string Refusal(const std::string& json) {
  try {
    ParseCommandFile(json, "cmd.json");
  } catch (const CommandFileError& e) {
    return e.what();
  }
  return "(accepted)";
}

TEST(CommandFile, UnwrittenKeysTakeSafeDefaultsAndWrittenOnesBecomeSlotTexts) {
  const CommandFile empty = ParseCommandFile("{}", "cmd.json");
  const CommandSlots defaults = {"", "", "", "21", "1", "30", "1", "", "", "0", "0", "1",
                                 "0", "", "0", "", "", "0", "LOCAL", "1", "0", "", "*", "0"};
  EXPECT_EQ(empty.record, defaults) << "nothing destructive is on unless written";
  EXPECT_EQ(empty, DefaultCommandFile());

  const CommandFile file = ParseCommandFile(
      R"({"Port": 2121, "Timeout": "45", "TransferMode": 0.0, "Passive": false, "AutoDelete": 1,
          "Overwrite": "0", "Filter": "", "ProxyHost": null, "VarScope": "GLOBAL", "Host": "ftp.lan"})",
      "cmd.json");
  EXPECT_EQ(file.form, CommandForm::kObject);
  EXPECT_EQ(file.record, (CommandSlots{"ftp.lan", "", "", "2121", "0", "45", "0", "", "", "1", "0",
                                       "0", "0", "", "0", "", "", "0", "GLOBAL", "1", "0", "", "*",
                                       "0"}));
  EXPECT_TRUE(file.written[static_cast<std::size_t>(FieldIndex("Port"))]);
  EXPECT_FALSE(file.written[static_cast<std::size_t>(FieldIndex("ProxyHost"))]) << "null is not written";
}

TEST(CommandFile, EachRefusalNamesItsKeyTheValueAndWhatIsAllowed) {
  const std::string_view wildcard =
      R"(cmd.json: Filter: "*.csv" uses a wildcard, but a filter is text found anywhere in the name )"
      R"((write ".csv"); "*" alone means every file)";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {R"({"AutoDelete": "yes"})", R"(cmd.json: AutoDelete: "yes" is not 0 or 1)"},
      {R"({"Passive": 2})", "cmd.json: Passive: 2 is not 0 or 1"},
      {R"({"Port": "abc"})", R"(cmd.json: Port: "abc" is not a whole number in 1..32767)"},
      {R"({"Port": 0})", "cmd.json: Port: 0 is outside 1..32767"},
      {R"({"Port": "99999999999999999999"})", R"(cmd.json: Port: "99999999999999999999" is outside 1..32767)"},
      {R"({"Timeout": 29.5})", "cmd.json: Timeout: 29.5 is not a whole number in 1..999"},
      {R"({"Timeout": 1000})", "cmd.json: Timeout: 1000 is outside 1..999"},
      {R"({"TransferMode": 4})", "cmd.json: TransferMode: 4 is outside 0..3"},
      {R"({"ProxyType": "8"})", R"(cmd.json: ProxyType: "8" is outside 0..7)"},
      {R"({"ProxyPort": -1})", "cmd.json: ProxyPort: -1 is outside 0..32767"},
      {R"({"VarNumber": 17})", "cmd.json: VarNumber: 17 is outside 1..16"},
      {R"({"VarScope": "global"})", R"(cmd.json: VarScope: "global" is not LOCAL or GLOBAL)"},
      {R"({"Host": 42})", "cmd.json: Host: 42 is not a string (write it in double quotes)"},
      {R"({"Password": 1234})", "cmd.json: Password: the value is not a string (write it in double quotes)"},
      {R"({"RemoteDir": "/pub\nRMD /"})", R"(cmd.json: RemoteDir: "/pub\nRMD /" contains a line break)"},
      {R"({"ProxyPassword": "a\u0000b"})", "cmd.json: ProxyPassword: the value contains a NUL"},
      {R"({"Filter": "*.csv"})", std::string(wildcard)},
      {R"({"Host": "a", "Host": "b"})", R"(cmd.json: the key "Host" is written twice)"},
      {R"({"Overwite": 1})", R"(cmd.json: unknown key "Overwite" (did you mean "Overwrite"?))"},
      {R"({"Colour": 1})", R"(cmd.json: unknown key "Colour" (the keys are Host, Username, Password, Port, )"
                           "TransferMode, Timeout, Passive, RemoteDir, LocalDir, AutoDelete, ProcessAll, Overwrite, "
                           "ProxyType, ProxyHost, ProxyPort, ProxyUsername, ProxyPassword, SaveFilename, VarScope, "
                           "VarNumber, CopySpecific, SpecificFilename, Filter, IncludeSubdir)"},
      {R"({"CopySpecific": 1})",
       "cmd.json: CopySpecific: 1 needs SpecificFilename, the name of the file to download"},
      {R"({"CopySpecific": 1, "SpecificFilename": "a", "IncludeSubdir": 1})",
       "cmd.json: CopySpecific: 1 cannot be used with IncludeSubdir 1 (the folder mode fetches every entry, "
       "not the one file)"},
      {R"({"TransferMode": 3, "IncludeSubdir": 1})",
       "cmd.json: TransferMode: 3 (ZIP) cannot be used with IncludeSubdir 1"},
      {R"({"SaveFilename": 1, "ProcessAll": 1})",
       "cmd.json: SaveFilename: 1 stores the name of one file and has no effect with ProcessAll 1 or "
       "IncludeSubdir 1 (use CopySpecific, or ProcessAll 0 for the first file)"},
      {R"(["a", "b"])", "cmd.json: the array has 2 elements; a command record has 24"},
      {"42", "cmd.json: expected a JSON object keyed by field names or an array of 24 values, not number"},
      {"{\"Host\": ", "cmd.json is not valid JSON: parse error at line 1, column 10: syntax error while "
                      "parsing value - unexpected end of input; expected '[', '{', or a literal"},
  };
  for (const auto& [json, message] : cases) EXPECT_EQ(Refusal(json), message) << json;

  std::string array = R"([{})";
  for (int i = 2; i <= 24; ++i) array += i == 9 ? R"(,"/srv\r")" : R"(,"")";
  EXPECT_EQ(Refusal(array + "]"), "cmd.json: element 1 (Host): expected a string, a number or true/false, not object");
  array.replace(1, 2, R"("h")");
  EXPECT_EQ(Refusal(array + "]"), "cmd.json: element 9 (LocalDir) contains a line break");
}

TEST(CommandFile, TheArrayFormIsTheHostsRecordAsItIs) {
  const CommandFile file = ParseCommandFile(
      R"(["h", "u", "p", "21.5", "", "abc", "yes", "/pub", "/in", "", 1, true,
          null, "", "0", "", "", "0", "global", "0", "0", "", "*.csv", "0"])",
      "cmd.json");
  EXPECT_EQ(file.form, CommandForm::kArray);
  const CommandSlots expected = {"h", "u", "p", "21.5", "", "abc", "yes", "/pub", "/in", "", "1", "1",
                                 "",  "",  "0", "",     "", "0",   "global", "0", "0", "", "*.csv", "0"};
  EXPECT_EQ(file.record, expected) << "no defaults, no checks: the run's own rules decide";
  EXPECT_NO_THROW(RequireRunnable(file, "cmd.json"));
}

TEST(CommandFile, DryRunTellsWhatTheRunWouldDoByTheRunsRules) {
  const CommandFile object = ParseCommandFile(
      R"({"Host": "ftp.example.org", "Username": "anna", "Password": "secret", "RemoteDir": "/pub",
          "LocalDir": "/srv/in", "ProcessAll": 1, "Filter": ".csv;log", "AutoDelete": 1})",
      "reports.json");
  const std::string told = DescribeRun(object, "reports.json", "");
  EXPECT_NE(told.find("\n  Password          ********\n"), std::string::npos) << told;
  EXPECT_EQ(told.find("secret"), std::string::npos) << told;
  EXPECT_NE(told.find("\n  Overwrite         1 (on) (default)\n"), std::string::npos) << told;
  EXPECT_NE(told.find("The run would:\n"
                      "  log in to ftp.example.org port 21 as anna, in passive mode, with a time-out of 30 s\n"
                      "  download every file of /pub whose name contains \".csv\" or \"log\" (any letter case) "
                      "into /srv/in (IMAGE)\n"
                      "  replace a local file of the same name\n"
                      "  delete each remote file after a complete copy\n"
                      "  log out\n"),
            std::string::npos)
      << told;

  // A host record whose AutoDelete slot is empty: the run counts it as on, and says so.
  const CommandFile record = ParseCommandFile(
      R"(["h", "", "", "21", "1", "30", "1", "/pub", "/in", "", "0", "1",
          "0", "", "0", "", "", "1", "GLOBAL", "4", "1", "a.txt", "*", "0"])",
      "record.json");
  const std::string record_told = DescribeRun(record, "record.json", "FTP_PASSWORD");
  EXPECT_NE(record_told.find("\n  AutoDelete        \"\" (on)\n"), std::string::npos) << record_told;
  EXPECT_NE(record_told.find("\n  Password          ******** (from $FTP_PASSWORD)\n"), std::string::npos);
  EXPECT_NE(record_told.find("The run would:\n"
                             "  log in to h port 21 as anonymous, in passive mode, with a time-out of 30 s\n"
                             "  download the file \"a.txt\" (letter case counts) of /pub into /in (IMAGE)\n"
                             "  replace a local file of the same name\n"
                             "  delete each remote file after a complete copy\n"
                             "  put the file's name into variable 4 (GlobalVar(3))\n"
                             "  log out\n"),
            std::string::npos)
      << record_told;
}

}  // namespace
}  // namespace pullwire::host
