// `pullwire run COMMAND_FILE`: command files read into records, and the program run as a user
// runs it against pyftpdlib (messages as they arrive, variables, exit codes, --quiet,
// --password-env, bad command files).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>

#include "host/command_file.h"
#include "tests/support/test_servers.h"

namespace pullwire::testing {
namespace {

using host::CommandFileError;
using host::ParseCommandFile;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

TEST(CommandFile, ObjectKeysFillTheirSlotsAndMissingKeysStayEmpty) {
  const auto slots = ParseCommandFile(
      R"({"Host": "ftp.lan", "Port": 2121, "Passive": true, "AutoDelete": false, "Filter": "*.log",
          "Timeout": 29.5, "ProxyHost": null, "IncludeSubdir": "0"})", "cmd.json");
  EXPECT_EQ(slots[0], "ftp.lan");
  EXPECT_EQ(slots[3], "2121");
  EXPECT_EQ(slots[5], "29.5");
  EXPECT_EQ(slots[6], "1");
  EXPECT_EQ(slots[9], "0");
  EXPECT_EQ(slots[13], "");
  EXPECT_EQ(slots[22], "*.log");
  EXPECT_EQ(slots[23], "0");
  EXPECT_EQ(slots[1], "");
}

TEST(CommandFile, ArrayOfTwentyFourValuesInSlotOrder) {
  std::string json = "[";
  for (int i = 1; i <= 24; ++i) json += (i > 1 ? "," : "") + ("\"s" + std::to_string(i) + "\"");
  const auto slots = ParseCommandFile(json + "]", "cmd.json");
  EXPECT_EQ(slots[0], "s1");
  EXPECT_EQ(slots[23], "s24");
}

TEST(CommandFile, ProblemsAreOneLineNamingTheKey) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {R"({"Hots": "x"})", "cmd.json: unknown key \"Hots\" (the keys are Host, Username,"},
      {R"({"Port": [21]})", "cmd.json: key \"Port\": expected a string, a number or true/false, not array"},
      {R"(["a", "b"])", "cmd.json: the array has 2 elements; a command record has 24"},
      {"42", "cmd.json: expected a JSON object keyed by field names or an array of 24 values, not number"},
      {"{\"Host\": ", "cmd.json is not valid JSON: parse error at line 1, column 10"},
  };
  for (const auto& [json, message] : cases) {
    try {
      ParseCommandFile(json, "cmd.json");
      ADD_FAILURE() << json;
    } catch (const CommandFileError& e) {
      EXPECT_THAT(e.what(), ::testing::StartsWith(message)) << json;
      EXPECT_EQ(std::string(e.what()).find('\n'), std::string::npos);
    }
  }
  std::string array = "[{}";
  for (int i = 2; i <= 24; ++i) array += ",\"\"";
  EXPECT_THROW(
      {
        try {
          ParseCommandFile(array + "]", "f");
        } catch (const CommandFileError& e) {
          EXPECT_STREQ(e.what(), "f: element 1 (Host): expected a string, a number or true/false, not object");
          throw;
        }
      },
      CommandFileError);
}

class PullwireRun : public ::testing::Test {
 protected:
  PullwireRun() {
    options_.low_port = true;  // the record's Port is 16-bit
  }
  void WriteCommand(PyFtpd& server, const std::string& extra) {
    WriteFile(command_, R"({"Host": "127.0.0.1", "Port": )" + std::to_string(server.port()) +
                            R"(, "Username": ")" + server.user() + R"(", "RemoteDir": "/pub", "LocalDir": ")" +
                            local_.path().string() +
                            R"(", "TransferMode": 1, "Timeout": 10, "Passive": true, "ProcessAll": true,
                                "Overwrite": true, "AutoDelete": false, "ProxyType": 0, "ProxyPort": 0,
                                "SaveFilename": false, "VarNumber": 1, "CopySpecific": false, "Filter": "*",
                                "IncludeSubdir": false)" + extra + "}");
  }
  CommandResult Pullwire(std::vector<std::string> args, const std::string& password = {}) {
    std::vector<std::string> argv = {"env", "PULLWIRE_TEST_PASSWORD=" + password, PULLWIRE_HOST_PATH, "run",
                                     command_.string(), "--library", PULLWIRE_LIBRARY_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunCommand(argv);
  }
  static std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
      const std::size_t end = text.find('\n', start);
      lines.push_back(text.substr(start, end - start));
      if (end == std::string::npos) break;
      start = end + 1;
    }
    return lines;
  }

  PyFtpdOptions options_;
  TempDir work_{"pullwire-run"};
  TempDir local_{"pullwire-run-local"};
  std::filesystem::path command_ = work_ / "command.json";
};

TEST_F(PullwireRun, PrintsEveryMessageThenTheVariablesAndExitsZero) {
  PyFtpd server(options_);
  WriteFile(server.root() / "pub" / "a.txt", "alpha");
  WriteCommand(server, R"(, "CopySpecific": true, "SpecificFilename": "a.txt", "SaveFilename": true,
                          "VarScope": "GLOBAL", "VarNumber": 4)");
  const CommandResult result = Pullwire({"--password-env", "PULLWIRE_TEST_PASSWORD"}, server.password());
  ASSERT_EQ(result.exit_code, 0) << result.err;
  const auto lines = Lines(result.out);
  ASSERT_EQ(lines.size(), 10u) << result.out;
  const std::regex line(R"(\d\d-[A-Z][a-z][a-z]-\d{4} \d\d:\d\d\.\d\d  INFO  (.*))");
  std::vector<std::string> texts;
  for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(lines[i], match, line)) << lines[i];
    texts.push_back(match[1]);
  }
  EXPECT_THAT(texts, ElementsAre("Setup FTP connection ...", "Connecting with [127.0.0.1] ...", "Connected!",
                                 "Retrieving filelist ...", "Number of files & directories found: 1",
                                 "Downloading [a.txt] to [" + local_.path().string() + "/a.txt] (5 Bytes) ...",
                                 "Downloaded [a.txt] <unknown> kBps", "Number of files downloaded : 1",
                                 "Disconnecting from [127.0.0.1] ..."));
  EXPECT_EQ(lines.back(), "GlobalVar(3) = a.txt");
  EXPECT_EQ(ReadFile(local_ / "a.txt"), "alpha");
}

TEST_F(PullwireRun, QuietFailingRunPrintsTheErrorAndExitsOne) {
  PyFtpd server(options_);
  WriteFile(server.root() / "pub" / "a.txt", "alpha");
  WriteCommand(server, R"(, "Password": "wrong")");
  CommandResult result = Pullwire({"--quiet"});
  EXPECT_EQ(result.exit_code, 1) << result.err;
  const auto lines = Lines(result.out);
  ASSERT_EQ(lines.size(), 1u) << result.out;
  EXPECT_THAT(lines[0], HasSubstr("  ERROR  ERROR_PULL-WIRE ["));
  EXPECT_THAT(lines[0], HasSubstr("530"));

  // The file's password is replaced by the environment's.
  result = Pullwire({"--quiet", "--password-env", "PULLWIRE_TEST_PASSWORD"}, server.password());
  EXPECT_EQ(result.exit_code, 0) << result.out << result.err;
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(ReadFile(local_ / "a.txt"), "alpha");
}

TEST_F(PullwireRun, BadCommandFilesExitTwoWithOneLine) {
  WriteFile(command_, R"({"Host": "h", "Port": {"n": 1}})");
  CommandResult result = Pullwire({});
  EXPECT_EQ(result.exit_code, 2);
  EXPECT_EQ(result.err, "pullwire: " + command_.string() +
                            ": key \"Port\": expected a string, a number or true/false, not object\n");
  EXPECT_EQ(result.out, "");

  WriteFile(command_, R"({"Host": "h"})");
  result = Pullwire({"--password-env", "PULLWIRE_NO_SUCH_VARIABLE"});
  EXPECT_EQ(result.exit_code, 2);
  EXPECT_EQ(result.err, "pullwire: --password-env: the environment variable PULLWIRE_NO_SUCH_VARIABLE is not set\n");

  std::filesystem::remove(command_);
  result = Pullwire({});
  EXPECT_EQ(result.exit_code, 2);
  EXPECT_EQ(result.err, "pullwire: cannot read " + command_.string() + ": No such file or directory\n");
}

}  // namespace
}  // namespace pullwire::testing
