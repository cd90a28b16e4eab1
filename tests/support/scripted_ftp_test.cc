// Self-tests of the scripted FTP server: exact transcripts, data connections, hostile replies.
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

TEST(ScriptedFtpFixture, EpsvRefusedThenPasvListingInExactOrder) {
  ScriptedFtp server(Script({
      {{"expect", "PWD"}, {"reply", {"257 \"/\""}}},
      {{"expect", "EPSV"}, {"reply", {"500 EPSV not understood"}}},
      {{"expect", "PASV"}, {"passive", true}, {"reply", {"227 Entering Passive Mode ({pasv})"}}},
      {{"expect", "TYPE A"}, {"optional", true}, {"reply", {"200 Type A"}}},
      {{"expect", "LIST"}, {"reply", {"150 Here it comes"}},
       {"data", "-rw-r--r-- 1 a b 3 Jan 01 00:00 x\r\n"}, {"after", {"226 Done"}}},
      {{"expect", "QUIT"}, {"reply", {"221 Bye"}}},
  }).dump());

  CommandResult result = RunCommand(CurlArgs("user", "secret", {FtpUrl(server.port(), "")}));

  EXPECT_EQ(result.out, "-rw-r--r-- 1 a b 3 Jan 01 00:00 x\n") << result.err;
  EXPECT_TRUE(server.WaitFinished()) << server.Failure();
  EXPECT_THAT(server.Transcript(),
              ElementsAre("USER user", "PASS secret", "PWD", "EPSV", "PASV", "TYPE A", "LIST",
                          "QUIT"));
}

TEST(ScriptedFtpFixture, ActiveModeDataGoesToThePortAddress) {
  ScriptedFtp server(Script({
      {{"expect", "TYPE I"}, {"reply", {"200 Binary"}}},
      {{"expect", "re:(PORT|EPRT) .*"}, {"reply", {"200 Active"}}},
      {{"expect", "RETR f.bin"}, {"reply", {"150 Sending", "226 Sent"}}, {"data", "abc"}},
      {{"expect", "QUIT"}, {"reply", {"221 Bye"}}},
  }).dump());

  CommandResult result = Probe(server, {"retr:f.bin"}, {"--active", "--out", "/dev/stdout"});

  EXPECT_THAT(result.out, HasSubstr("abcreceived 3\nreply: 226 Sent"));
  EXPECT_TRUE(server.WaitFinished()) << server.Failure();
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

TEST(ScriptedFtpFixture, Reply421MidSessionThenClose) {
  ScriptedFtp server(Script({{{"expect", "NOOP"}, {"reply", {"421 Going away"}},
                              {"action", "close"}}}).dump());

  CommandResult result = Probe(server, {"quote:NOOP"});

  EXPECT_THAT(result.out, HasSubstr("error: error_temp: 421 Going away"));
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
