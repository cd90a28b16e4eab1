// Exact command sequences against the scripted FTP server: gateway logins Debian has no proxy
// for, a session's whole road, and hostile or broken replies, data connections and listings.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <sstream>

#include "ftp/get_file.h"
#include "ftp/get_matching.h"
#include "ftp/server_name.h"
#include "tests/ftp/engine_test_util.h"
#include "tests/support/test_servers.h"

namespace pullwire::ftp {
namespace {

using namespace pullwire::testing;
using json = nlohmann::json;
using namespace test;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;

json Step(const char* expect, std::vector<std::string> reply) {
  return {{"expect", expect}, {"reply", std::move(reply)}};
}
// A passive request answered with the script's listener.
json Passive(const char* verb = "EPSV") {
  return {{"expect", verb}, {"passive", true},
          {"reply", {verb == std::string("EPSV") ? "229 Extended (|||{port}|)"
                                                 : "227 Entering Passive Mode ({pasv})."}}};
}
// `expect` answered with `reply`, then `data` on the data connection, then `after`.
json Data(const char* expect, const char* reply, std::string data,
          std::vector<std::string> after = {"226 Done."}) {
  return {{"expect", expect}, {"reply", {reply}}, {"data", std::move(data)}, {"after", after}};
}

json Greeting() { return {{"reply", {"220 Gateway ready"}}}; }

// The greeting, anna's login, `steps` and, unless the steps end the session, QUIT.
std::string WithLogin(const std::vector<json>& steps, bool quit = true) {
  json script = json::array({Greeting(), Step("USER anna", {"331 Password please."}),
                             Step("PASS anna-pw", {"230 Logged in."})});
  for (const json& step : steps) script.push_back(step);
  if (quit) script.push_back(Step("QUIT", {"221 Bye"}));
  return script.dump();
}

// Logs in as anna, to the scripted server, or with `kind` pointed at it to ftp.example.org.
void LoginTo(Session& session, const ScriptedFtp& server, ProxyKind kind = ProxyKind::kNone,
             std::string proxy_user = {}, std::uint16_t port = 21) {
  const auto server_port = static_cast<std::uint16_t>(server.port());
  session.set_proxy({kind, server.host(), server_port, std::move(proxy_user), "proxy-pw"});
  const bool direct = kind == ProxyKind::kNone;
  session.Login(LoginAt(direct ? server.host() : "ftp.example.org", direct ? server_port : port,
                        "anna", "anna-pw"));
}

// Letters only, so that the script can carry it as JSON text.
std::string LetterBytes(std::size_t size) {
  std::string text(size, 'a');
  for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char>('a' + (i * 7 + i / 26) % 26);
  return text;
}

// Each case's exchange is written "command>reply|command>reply..."; an error ends the login.
TEST(EngineTranscript, GatewayLoginsSendTheirSequencesAndNameTheStepRefused) {
  using K = ProxyKind;
  const struct {
    ProxyKind kind;
    const char* proxy_user;
    std::uint16_t port;
    std::string exchange;
    const char* error;  // nullptr: logged in
  } cases[] = {
      {K::kSite, "pete", 21, "USER pete>331 Proxy password.|PASS proxy-pw>230 Proxy ok.|"
       "SITE ftp.example.org>220 Connected.|USER anna>331 Password.|PASS anna-pw>230 In.", nullptr},
      {K::kSite, "", 2121,
       "SITE ftp.example.org:2121>200 Ok.|USER anna>331 Password.|PASS anna-pw>230 In.", nullptr},
      {K::kUserAfterLogon, "pete", 2121, "USER pete>331 Proxy password.|PASS proxy-pw>230 Proxy "
       "ok.|USER anna@ftp.example.org:2121>331 Password.|PASS anna-pw>230 In.", nullptr},
      // A 230 skips PASS; a 230 after the proxy's USER skips the proxy's PASS.
      {K::kUserWithoutLogon, "", 21, "USER anna@ftp.example.org>230 No password needed.", nullptr},
      {K::kOpen, "pete", 21, "USER pete>230 Trusted.|OPEN ftp.example.org>220 Open.|"
       "USER anna>331 Password.|PASS anna-pw>230 In.", nullptr},
      {K::kPipe, "pete", 21, "USER anna>331 Password.|PASS anna-pw>230 In.", nullptr},
      {K::kSite, "pete", 21, "USER pete>331 Proxy password.|PASS proxy-pw>530 Proxy login "
       "incorrect.", "proxy logon as pete refused: 530 Proxy login incorrect."},
      {K::kSite, "", 21, "SITE ftp.example.org>501 Unknown host.",
       "the FTP proxy refused SITE ftp.example.org: 501 Unknown host."},
      {K::kNone, "", 21, "USER anna>331 Password.|PASS anna-pw>332 Account needed.",
       "login as anna needs an account (332), and none was given"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.exchange);
    json script = json::array({Greeting()});
    std::vector<std::string> sent;
    std::istringstream steps(c.exchange);
    for (std::string step; std::getline(steps, step, '|');) {
      sent.push_back(step.substr(0, step.find('>')));
      script.push_back(Step(sent.back().c_str(), {step.substr(step.find('>') + 1)}));
    }
    if (!c.error) script.push_back(Step("QUIT", {"221 Bye"}));
    ScriptedFtp server(script.dump());
    TracedSession traced;
    const auto login = [&] { LoginTo(traced.session, server, c.kind, c.proxy_user, c.port); };
    if (c.error) {
      ExpectFtpError(login, c.kind == K::kNone ? ErrorCode::kLoginFailed : ErrorCode::kProxyFailed,
                     c.error);
      EXPECT_FALSE(traced.session.logged_in());
      continue;
    }
    login();
    EXPECT_TRUE(traced.session.logged_in());
    traced.session.Logout();
    EXPECT_TRUE(server.WaitFinished()) << server.Failure();
    sent.emplace_back("QUIT");
    EXPECT_EQ(server.Transcript(), sent);
    for (const std::string& line : traced.trace) EXPECT_THAT(line, Not(HasSubstr("-pw")));
  }
}

// One session's whole road: replies of many lines, ACCT, a NUL; refused, reset and trickling
// data connections, after which ABOR/NOOP or the 426 keep the session in step; FEAT offers MLST
// but EPSV and MLSD are refused; a passive request sent before the last 226; REST and a refused
// REST; sizes that judge a copy; active-mode data only the server may deliver.
TEST(EngineTranscript, ASessionsWholeRoad) {
  const std::string content = LetterBytes(300000);
  const int dead_port = UnusedPort();
  // The 226 before any data: the transfer must end at the data's end-of-file.
  const auto both = [](const char* expect, const char* preliminary, std::string data) {
    return json{{"expect", expect}, {"reply", {preliminary, "226 Transfer complete."}},
                {"data", std::move(data)}};
  };
  const std::string listing =
      "-rw-r--r-- 1 u g 1 Jan 01 00:00 a\r\n-rw-r--r-- 1 u g 1 Jan 01 00:00 b\r\n";
  json ahead = Passive("PASV");
  ahead["reply"] = {"226 Sent a.", "227 Entering Passive Mode ({pasv})."};
  ScriptedFtp server(json::array({
      {{"reply", {"120 Ready in a moment."}}},
      {{"reply", {"220-Welcome", "230 not the end", " indented", "220-still", "220 Ready"}}},
      Step("USER anna", {"331-Password", "331 please."}),
      Step("PASS anna-pw", {"332 Account needed."}), Step("ACCT acc", {"230-Logged", "230 in."}),
      {{"expect", "PWD"}, {"send", std::string("257 \"/pu\0b\" is cwd\r\n", 20)}},
      Step("TYPE I", {"200 Binary."}),
      Step("EPSV", {fmt::format("229 Extended (|||{}|)", dead_port)}), {{"expect", "RETR f.bin"}},
      Step("ABOR", {"225 No transfer to ABOR."}), Step("NOOP", {"200 NOOP ok."}),
      // The pause lets the client connect first (a reset before that fails the connect).
      Passive(),
      {{"expect", "RETR f.bin"}, {"delay", 1.0}, {"reply", {"150 Opening."}},
       {"data", LetterBytes(200000)}, {"data_end", "reset"}, {"after", {"426 Connection reset."}}},
      Step("PWD", {"257 \"/pub\" is the current directory"}),
      // Regression: every byte restarted the time-out, so a byte now and then kept it for days.
      Passive(),
      {{"expect", "RETR f.bin"}, {"reply", {"150 Sending."}}, {"data", std::string(200, 's')},
       {"trickle", 0.2}},
      Step("ABOR", {"426 Aborted.", "226 Abort done."}), Step("NOOP", {"200 NOOP ok."}),
      Step("PWD", {"257 \"/\" is cwd"}),
      Step("FEAT", {"211-Features:", " MLST type*;size*;modify*;", "211 End"}),
      Step("EPSV", {"500 EPSV not understood."}), Passive("PASV"),
      Step("MLSD", {"500 MLSD not understood."}), Passive("PASV"),
      Data("LIST", "150 Here.", listing), Passive("PASV"),
      {{"expect", "RETR a"}, {"reply", {"150 Sending a (1 bytes)."}}, {"data", "A"}}, ahead,
      Data("RETR b", "150 Sending b (1 bytes).", "B"), Step("CWD /", {"250 Ok."}),
      Passive("PASV"), Data("LIST", "150 Here.", listing),
      Step("SIZE f.bin", {"213 10"}), Passive("PASV"), Step("REST 5", {"350 Restarting at 5."}),
      Data("RETR f.bin", "150 Sending f.bin (10 bytes).", "56789"),
      Step("SIZE f.bin", {"213 10"}), Passive("PASV"), Step("REST 5", {"502 Not implemented."}),
      Data("RETR f.bin", "150 Sending f.bin (10 bytes).", "0123456789"),
      Passive("PASV"), both("RETR big.bin", "150 Opening.", content),
      Passive("PASV"), both("RETR big.bin", "150 Opening (300000 bytes).", content.substr(0, 1000)),
      Passive("PASV"), both("RETR grown.log", "150 Opening (10 bytes).", content.substr(0, 20)),
      Passive("PASV"), both("RETR growing.log", "150 Opening.", content.substr(0, 20)),
      // Regression: whoever reached the listener first (here 127.0.0.2) delivered the file.
      Step("PORT *", {"200 PORT ok."}),
      {{"expect", "RETR f.bin"}, {"reply", {"150 Sending f.bin."}}, {"data", "EVIL"},
       {"data_from", "127.0.0.2"}},
      {{"data", "good"}, {"after", {"226 Sent."}}},
      {{"expect", "SIZE f.bin"}, {"optional", true}, {"reply", {"213 4"}}},
      Step("QUIT", {"221 Bye"}),
  }).dump());
  TempDir local;
  TracedSession traced(3s);
  Session& session = traced.session;
  session.set_transfer_type(TransferType::kImage);
  LoginParams login = LoginAt(server.host(), server.port(), "anna", "anna-pw");
  login.account = "acc";
  session.Login(login);
  EXPECT_EQ(session.CurrentDirectory(), "/pub");
  WriteFile(local / "f.bin", "earlier copy");
  const std::string to = (local / "f.bin").string();
  ExpectFtpError([&] { GetFile(session, "f.bin", to); }, ErrorCode::kDataConnectionFailed,
                 fmt::format("cannot open the data connection to 127.0.0.1 port {}: "
                             "Connection refused", dead_port));
  ExpectFtpError([&] { GetFile(session, "f.bin", to); }, ErrorCode::kTransferFailed,
                 MatchesRegex("RETR f\\.bin failed: the data connection broke after [0-9]+ "
                              "bytes \\([^)]+\\); the server said 426 Connection reset\\."));
  EXPECT_EQ(session.CurrentDirectory(), "/pub");
  ExpectFtpError([&] { GetFile(session, "f.bin", to); }, ErrorCode::kTimedOut,
                 MatchesRegex("the transfer stalled: only [0-9]+ bytes \\(less than 1 KiB\\) "
                              "from the server during RETR f\\.bin within 3 s"));
  EXPECT_EQ(ReadFile(local / "f.bin"), "earlier copy");
  EXPECT_EQ(GetMatching(session, "*", local.path().string()).files, 2);
  EXPECT_EQ(ReadFile(local / "a") + ReadFile(local / "b"), "AB");
  EXPECT_EQ(session.ListTable().size(), 2u);
  for (const std::int64_t fetched : {5, 10}) {
    WriteFile(local / "f.bin", "01234");
    EXPECT_EQ(GetFile(session, "f.bin", (local / "f.bin").string(), 5).bytes, fetched);
    EXPECT_EQ(ReadFile(local / "f.bin"), "0123456789");
  }
  GetFile(session, "big.bin", local.path().string());
  EXPECT_TRUE(ReadFile(local / "big.bin") == content);
  // An announced size must be met; without one no SIZE is asked (a log may have grown).
  ExpectFtpError([&] { GetFile(session, "big.bin", local.path().string()); },
                 ErrorCode::kTransferIncomplete,
                 "RETR big.bin ended after 1000 of 300000 bytes although the server reported "
                 "success: 226 Transfer complete.");
  EXPECT_TRUE(ReadFile(local / "big.bin") == content);
  ExpectFtpError([&] { GetFile(session, "grown.log", local.path().string()); },
                 ErrorCode::kTransferIncomplete,
                 "RETR grown.log brought 20 bytes, more than the 10 the server announced: 150 "
                 "Opening (10 bytes).");
  EXPECT_EQ(GetFile(session, "growing.log", local.path().string()).bytes, 20);
  session.set_passive(false);
  GetFile(session, "f.bin", local.path().string());
  EXPECT_EQ(ReadFile(local / "f.bin"), "good");
  EXPECT_THAT(traced.trace, ::testing::Contains("! refused a data connection from 127.0.0.2"));
  session.Logout();
  EXPECT_TRUE(server.WaitFinished()) << server.Failure();
}

TEST(EngineTranscript, A421GarbageOrAnEndlessReplyEndsTheSession) {
  const struct {
    json step;
    ErrorCode code;
    const char* text;
  } cases[] = {
      {{{"expect", "PWD"}, {"reply", {"421 Timeout, closing."}}, {"action", "close"}},
       ErrorCode::kServiceClosing, "the server ended the session: 421 Timeout, closing."},
      {Step("PWD", {"hello garbage"}), ErrorCode::kProtocolError,
       "unreadable reply to PWD from the server: \"hello garbage\""},
      {{{"expect", "PWD"}, {"send", "257 " + std::string(100000, 'x')}},
       ErrorCode::kProtocolError,
       "the reply to PWD from the server is too long (over 8192 bytes)"},
      {{{"expect", "PWD"}, {"action", "close"}}, ErrorCode::kConnectionLost,
       "the server closed the connection while the client waited for the reply to PWD"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    ScriptedFtp server(WithLogin({c.step}, false));
    Session session;
    session.set_timeout(5s);
    LoginTo(session, server);
    ExpectFtpError([&] { session.CurrentDirectory(); }, c.code, c.text);
    EXPECT_FALSE(session.logged_in());
  }
}

// Only TLS's close_notify tells the end of the data from a connection cut on the way.
TEST(EngineTranscript, TlsDataEndingWithoutCloseNotifyIsCutShort) {
  ScopedEnv self_signed(kTlsInsecureVariable, "1");
  ScriptedFtpOptions options;
  options.tls = true;
  json cut = Data("RETR f.bin", "150 Sending.", "0123456789");
  cut["data_end"] = "cut";
  ScriptedFtp server(json::array({
      Greeting(), {{"expect", "AUTH TLS"}, {"reply", {"234 Proceed."}}, {"tls", true}},
      Step("USER anna", {"331 Password."}), Step("PASS anna-pw", {"230 In."}),
      Step("PBSZ 0", {"200 PBSZ=0"}), Step("PROT P", {"200 Private."}),
      Step("TYPE I", {"200 Binary."}), Passive(), cut,
  }).dump(), options);
  Session session;
  session.set_timeout(5s);
  session.set_transfer_type(TransferType::kImage);
  session.Login(LoginAt("ftpes://127.0.0.1", server.port(), "anna", "anna-pw"));
  TempDir local;
  ExpectFtpError([&] { GetFile(session, "f.bin", local.path().string()); },
                 ErrorCode::kTransferFailed,
                 "RETR f.bin failed: the data connection broke after 10 bytes (the connection "
                 "ended without TLS close_notify); the server said 226 Done.");
  EXPECT_FALSE(std::filesystem::exists(local / "f.bin"));
}

// A refused listing, a million files (73 MB), then an unanswered QUIT that holds only briefly.
TEST(EngineTranscript, AMillionFilesAreListedAndAnUnansweredQuitEndsSoon) {
  ScriptedFtp server(WithLogin({
      Step("FEAT", {"500 FEAT not understood."}), Passive(), Step("LIST", {"450 No files found"}),
      Passive(), {{"expect", "LIST"}, {"reply", {"150 Here it comes."}},
       {"data", "-rw-r--r--    1 1000     1000            0 Jan 01 00:00 file-0000{n}\r\n"},
       {"repeat", 1'000'000}, {"after", {"226 Done."}}},
      {{"expect", "QUIT"}, {"action", "stall"}, {"seconds", 40}},
  }, false));
  Session session;
  session.set_timeout(20s);
  LoginTo(session, server);
  ExpectFtpError([&] { session.ListTable(); }, ErrorCode::kNoSuchFile,
                 "LIST refused: 450 No files found");
  EXPECT_EQ(session.ListTable().size(), 1'000'000u);
  const auto start = std::chrono::steady_clock::now();
  session.Logout();
  // A few seconds, not the operation time-out (nor the 40 s the server holds on).
  EXPECT_LT(std::chrono::steady_clock::now() - start, 15s);
  EXPECT_FALSE(session.logged_in());
}

}  // namespace
}  // namespace pullwire::ftp
