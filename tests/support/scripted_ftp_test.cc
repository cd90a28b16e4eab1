// Self-tests of the scripted FTP server for the script keys and reports the engine's transcript
// tests do not use: active data, optional steps, raw bytes, stalls, mismatches, a second session.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tests/support/selftest_clients.h"
#include "tests/support/test_servers.h"

namespace pullwire::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using json = nlohmann::json;

const json kLogin = json::array({
    {{"reply", {"220-Scripted", "220 ready"}}},
    {{"expect", "USER *"}, {"reply", {"331 Password please."}}},
    {{"expect", "PASS *"}, {"reply", {"230 Logged in."}}},
});

json Script(std::initializer_list<json> steps) {
  json script = kLogin;
  for (const auto& step : steps) script.push_back(step);
  return script;
}

CommandResult Probe(const ScriptedFtp& server, std::vector<std::string> steps,
                    std::vector<std::string> options = {}) {
  return RunCommand(ProbeArgs(server.port(), "user", "secret", std::move(steps), options));
}

TEST(ScriptedFtpFixture, ActiveModeDataGoesToThePortAddress) {
  ScriptedFtp server(Script({
      {{"expect", "SYST"}, {"optional", true}, {"reply", {"215 UNIX"}}},  // skipped: not sent
      {{"expect", "TYPE I"}, {"reply", {"200 Binary"}}},
      {{"expect", "re:(PORT|EPRT) .*"}, {"reply", {"200 Active"}}},
      {{"expect", "RETR f.bin"}, {"reply", {"150 Sending", "226 Sent"}}, {"data", "abc"}},
      {{"expect", "QUIT"}, {"reply", {"221 Bye"}}},
  }).dump());

  CommandResult result = Probe(server, {"retr:f.bin"}, {"--active", "--out", "/dev/stdout"});

  EXPECT_THAT(result.out, HasSubstr("abcreceived 3\nreply: 226 Sent"));
  EXPECT_TRUE(server.WaitFinished()) << server.Failure();
  EXPECT_THAT(server.Transcript(),
              ElementsAre("USER user", "PASS secret", "TYPE I",
                          ::testing::StartsWith("PORT 127,0,0,1,"), "RETR f.bin", "QUIT"));
}

TEST(ScriptedFtpFixture, HostileRepliesGoOutByteForByte) {
  std::string long_line = "220-" + std::string(100000, 'x');
  std::string with_nul("331 nul\0inside\r\n", 16);
  ScriptedFtp server(json::array({
      {{"reply", {long_line, "220 ok"}}},
      {{"send", with_nul}},
      {{"reply", {"421 Going away"}}, {"action", "close"}},
  }).dump());

  // curl's telnet mode prints what arrives, raw, until the server closes.
  CommandResult result = RunCommand(
      {"curl", "-sS", "--max-time", "5", fmt::format("telnet://127.0.0.1:{}", server.port())});

  EXPECT_TRUE(result.out == long_line + "\r\n220 ok\r\n" + with_nul + "421 Going away\r\n")
      << result.err;
  EXPECT_TRUE(server.WaitFinished()) << server.Failure();
}

TEST(ScriptedFtpFixture, MismatchEndsTheScriptWithAReport) {
  ScriptedFtp server(Script({{{"expect", "SITE 127.0.0.1:21"}, {"reply", {"230 in"}}}}).dump());

  CommandResult result = Probe(server, {"quote:OPEN 127.0.0.1:21"});

  EXPECT_THAT(result.out, HasSubstr("500 Scripted server expected SITE 127.0.0.1:21"));
  EXPECT_FALSE(server.WaitFinished());
  EXPECT_EQ(server.Failure(),
            "scripted_ftp: step 4 expected 'SITE 127.0.0.1:21', got 'OPEN 127.0.0.1:21'");
}

TEST(ScriptedFtpFixture, ClientClosingEarlyIsReported) {
  ScriptedFtp server(Script({{{"expect", "CWD *"}, {"reply", {"250 ok"}}}}).dump());

  CommandResult result = Probe(server, {});  // logs in, then QUIT instead of CWD
  (void)result;

  EXPECT_FALSE(server.WaitFinished());
  EXPECT_THAT(server.Failure(), HasSubstr("step 4 expected 'CWD *', got 'QUIT'"));
}

TEST(ScriptedFtpFixture, SecondSessionAfterAccept) {
  json script = Script({{{"expect", "QUIT"}, {"reply", {"221 Bye"}}},
                        {{"expect", "<EOF>"}, {"action", "accept"}}});
  for (const auto& step : kLogin) script.push_back(step);
  script.push_back({{"expect", "QUIT"}, {"reply", {"221 Bye"}}});
  ScriptedFtp server(script.dump());

  CommandResult first = Probe(server, {});
  CommandResult second = Probe(server, {});

  EXPECT_EQ(first.exit_code, 0) << first.out;
  EXPECT_EQ(second.exit_code, 0) << second.out;
  EXPECT_TRUE(server.WaitFinished()) << server.Failure();
  EXPECT_EQ(server.Transcript().size(), 6u);
}

TEST(ScriptedFtpFixture, StallMakesAShortTimeoutClientFail) {
  ScriptedFtp server(Script({{{"expect", "PWD"}, {"action", "stall"}, {"seconds", 3}},
                             {{"reply", {"257 \"/\""}}}}).dump());

  CommandResult result = Probe(server, {"quote:PWD"}, {"--timeout", "1"});

  EXPECT_THAT(result.out, HasSubstr("error: TimeoutError"));
}

}  // namespace
}  // namespace pullwire::testing
