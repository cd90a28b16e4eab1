// Exact command sequences against the scripted FTP server: the gateway logins Debian has no
// proxy for, EPSV to PASV fallback, REST before RETR, replies that arrive together, and hostile
// or broken replies (421, garbage, endless lines).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include <filesystem>

#include "ftp/get_file.h"
#include "ftp/get_matching.h"
#include "tests/ftp/engine_test_util.h"
#include "tests/support/test_servers.h"

namespace pullwire::ftp {
namespace {

using namespace pullwire::testing;
using json = nlohmann::json;
using namespace test;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

json Step(const char* expect, std::vector<std::string> reply) {
  return {{"expect", expect}, {"reply", std::move(reply)}};
}

json Greeting() { return {{"reply", {"220 Gateway ready"}}}; }

json WithLogin(std::initializer_list<json> steps) {
  json script = json::array({Greeting(), Step("USER anna", {"331 Password please."}),
                             Step("PASS anna-pw", {"230 Logged in."})});
  for (const json& step : steps) script.push_back(step);
  script.push_back(Step("QUIT", {"221 Bye"}));
  return script;
}

// Logs in with `proxy` pointed at the scripted server, to anna on ftp.example.org.
void LoginThrough(Session& session, const ScriptedFtp& server, ProxyKind kind,
                  std::string proxy_user = {}, std::uint16_t port = 21) {
  session.set_proxy({kind, server.host(), static_cast<std::uint16_t>(server.port()),
                     std::move(proxy_user), "proxy-pw"});
  LoginParams login;
  login.host = "ftp.example.org";
  login.port = port;
  login.user = "anna";
  login.password = "anna-pw";
  session.Login(login);
}

LoginParams Direct(const ScriptedFtp& server) {
  LoginParams login;
  login.host = server.host();
  login.port = static_cast<std::uint16_t>(server.port());
  login.user = "anna";
  login.password = "anna-pw";
  return login;
}

struct GatewayCase {
  const char* name;
  ProxyKind kind;
  const char* proxy_user;
  std::uint16_t port;
  std::vector<json> steps;
  std::vector<std::string> transcript;
};

TEST(EngineTranscript, GatewayLoginsSendTheirSequences) {
  const std::vector<GatewayCase> cases = {
      {"SITE with proxy logon", ProxyKind::kSite, "pete", 21,
       {Step("USER pete", {"331 Proxy password."}), Step("PASS proxy-pw", {"230 Proxy ok."}),
        Step("SITE ftp.example.org", {"220 Connected."}), Step("USER anna", {"331 Password."}),
        Step("PASS anna-pw", {"230 In."})},
       {"USER pete", "PASS proxy-pw", "SITE ftp.example.org", "USER anna", "PASS anna-pw",
        "QUIT"}},
      {"SITE without proxy logon, port given", ProxyKind::kSite, "", 2121,
       {Step("SITE ftp.example.org:2121", {"200 Ok."}), Step("USER anna", {"331 Password."}),
        Step("PASS anna-pw", {"230 In."})},
       {"SITE ftp.example.org:2121", "USER anna", "PASS anna-pw", "QUIT"}},
      {"USER after logon", ProxyKind::kUserAfterLogon, "pete", 2121,
       {Step("USER pete", {"331 Proxy password."}), Step("PASS proxy-pw", {"230 Proxy ok."}),
        Step("USER anna@ftp.example.org:2121", {"331 Password."}),
        Step("PASS anna-pw", {"230 In."})},
       {"USER pete", "PASS proxy-pw", "USER anna@ftp.example.org:2121", "PASS anna-pw", "QUIT"}},
      {"USER without logon, a 230 skips PASS", ProxyKind::kUserWithoutLogon, "", 21,
       {Step("USER anna@ftp.example.org", {"230 No password needed."})},
       {"USER anna@ftp.example.org", "QUIT"}},
      {"OPEN with proxy logon, 230 after the proxy USER", ProxyKind::kOpen, "pete", 21,
       {Step("USER pete", {"230 Trusted."}), Step("OPEN ftp.example.org", {"220 Open."}),
        Step("USER anna", {"331 Password."}), Step("PASS anna-pw", {"230 In."})},
       {"USER pete", "OPEN ftp.example.org", "USER anna", "PASS anna-pw", "QUIT"}},
      {"pipe", ProxyKind::kPipe, "pete", 21,
       {Step("USER anna", {"331 Password."}), Step("PASS anna-pw", {"230 In."})},
       {"USER anna", "PASS anna-pw", "QUIT"}},
  };
  for (const GatewayCase& c : cases) {
    SCOPED_TRACE(c.name);
    json script = json::array({Greeting()});
    for (const json& step : c.steps) script.push_back(step);
    script.push_back(Step("QUIT", {"221 Bye"}));
    ScriptedFtp server(script.dump());
    TracedSession traced;
    LoginThrough(traced.session, server, c.kind, c.proxy_user, c.port);
    EXPECT_TRUE(traced.session.logged_in());
    traced.session.Logout();
    EXPECT_TRUE(server.WaitFinished()) << server.Failure();
    EXPECT_EQ(server.Transcript(), c.transcript);
    for (const std::string& line : traced.trace) {
      EXPECT_THAT(line, ::testing::Not(HasSubstr("-pw")));
    }
  }
}

TEST(EngineTranscript, GatewayRefusalsNameTheStep) {
  ScriptedFtp server(json::array({Greeting(), Step("USER pete", {"331 Proxy password."}),
                                  Step("PASS proxy-pw", {"530 Proxy login incorrect."})})
                         .dump());
  Session session;
  const FtpError error =
      CatchFtpError([&] { LoginThrough(session, server, ProxyKind::kSite, "pete"); });
  EXPECT_EQ(error.code(), ErrorCode::kProxyFailed);
  EXPECT_STREQ(error.what(), "proxy logon as pete refused: 530 Proxy login incorrect.");

  ScriptedFtp site(json::array({Greeting(), Step("SITE ftp.example.org", {"501 Unknown host."})})
                       .dump());
  const FtpError refused = CatchFtpError([&] { LoginThrough(session, site, ProxyKind::kSite); });
  EXPECT_STREQ(refused.what(), "the FTP proxy refused SITE ftp.example.org: 501 Unknown host.");
  EXPECT_FALSE(session.logged_in());
}

// A gateway may pass on the server's FEAT (MLST offered) and refuse MLSD itself.
TEST(EngineTranscript, RefusedEpsvAndMlsdFallBackToPasvAndListForTheRestOfTheSession) {
  const std::string listing = "-rw-r--r-- 1 a b 3 Jan 01 00:00 x\r\n";
  const json pasv = {
      {"expect", "PASV"}, {"passive", true}, {"reply", {"227 Entering Passive Mode ({pasv})."}}};
  const json list = {
      {"expect", "LIST"}, {"reply", {"150 Listing."}}, {"data", listing}, {"after", {"226 Done."}}};
  ScriptedFtp server(
      WithLogin({Step("FEAT", {"211-Features:", " MLST type*;size*;modify*;", "211 End"}),
                 Step("EPSV", {"500 EPSV not understood."}), pasv,
                 Step("MLSD", {"500 MLSD not understood."}), pasv, list, pasv, list})
          .dump());
  Session session;
  session.Login(Direct(server));
  EXPECT_EQ(session.ListTable().size(), 1u);
  EXPECT_EQ(session.ListTable().size(), 1u);
  session.Logout();
  EXPECT_TRUE(server.WaitFinished()) << server.Failure();
  EXPECT_THAT(server.Transcript(), ElementsAre("USER anna", "PASS anna-pw", "FEAT", "EPSV", "PASV",
                                               "MLSD", "PASV", "LIST", "PASV", "LIST", "QUIT"));
}

TEST(EngineTranscript, RestComesRightBeforeRetrAndARefusalFetchesTheFileWhole) {
  ScriptedFtp server(WithLogin({
      Step("TYPE I", {"200 Binary."}),
      Step("SIZE f.bin", {"213 10"}),
      {{"expect", "EPSV"}, {"passive", true}, {"reply", {"229 Extended (|||{port}|)"}}},
      Step("REST 5", {"350 Restarting at 5."}),
      {{"expect", "RETR f.bin"}, {"reply", {"150 Sending f.bin (10 bytes)."}}, {"data", "56789"},
       {"after", {"226 Sent."}}},
      Step("SIZE f.bin", {"213 10"}),
      {{"expect", "EPSV"}, {"passive", true}, {"reply", {"229 Extended (|||{port}|)"}}},
      Step("REST 5", {"502 REST not implemented."}),
      {{"expect", "RETR f.bin"}, {"reply", {"150 Sending f.bin (10 bytes)."}},
       {"data", "0123456789"}, {"after", {"226 Sent."}}},
  }).dump());
  TempDir local;
  WriteFile(local / "f.bin", "01234");
  Session session;
  session.set_transfer_type(TransferType::kImage);
  session.Login(Direct(server));
  EXPECT_EQ(GetFile(session, "f.bin", (local / "f.bin").string(), 5).bytes, 5);
  EXPECT_EQ(ReadFile(local / "f.bin"), "0123456789");

  WriteFile(local / "f.bin", "01234");
  EXPECT_EQ(GetFile(session, "f.bin", (local / "f.bin").string(), 5).bytes, 10);
  EXPECT_EQ(ReadFile(local / "f.bin"), "0123456789");  // from byte 0, not appended
  session.Logout();
  EXPECT_TRUE(server.WaitFinished()) << server.Failure();
}

// Letters only, so that the script can carry it as JSON text.
std::string LetterBytes(std::size_t size) {
  std::string text(size, 'a');
  for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char>('a' + (i * 7 + i / 26) % 26);
  return text;
}

TEST(EngineTranscript, The226BeforeTheDataIsKeptAndOnlyAnAnnouncedSizeJudgesTheLength) {
  // pyftpdlib sends both replies in one packet for small files; here the 226 even precedes
  // every data byte. The transfer must end at the data's end-of-file, not at the 226. A size
  // announced in the 150 reply must be met exactly; without one, no SIZE is asked afterwards
  // (a log still being written has grown by then): judging against a listing is the caller's.
  const std::string content = LetterBytes(300000);
  const auto retr = [](const char* command, const char* preliminary, std::string data) {
    return json{{"expect", command},
                {"reply", {preliminary, "226 Transfer complete."}},
                {"data", std::move(data)}};
  };
  const json epsv = {
      {"expect", "EPSV"}, {"passive", true}, {"reply", {"229 Extended (|||{port}|)"}}};
  ScriptedFtp server(
      WithLogin({
                    Step("TYPE I", {"200 Binary."}),
                    epsv,
                    retr("RETR big.bin", "150 Opening.", content),
                    epsv,
                    retr("RETR big.bin", "150 Opening (300000 bytes).", content.substr(0, 1000)),
                    epsv,
                    retr("RETR grown.log", "150 Opening (10 bytes).", content.substr(0, 20)),
                    epsv,
                    retr("RETR growing.log", "150 Opening.", content.substr(0, 20)),
                })
          .dump());
  TempDir local;
  Session session;
  session.set_transfer_type(TransferType::kImage);
  session.Login(Direct(server));
  GetFile(session, "big.bin", local.path().string());
  EXPECT_TRUE(ReadFile(local / "big.bin") == content);
  const FtpError short_copy =
      CatchFtpError([&] { GetFile(session, "big.bin", local.path().string()); });
  EXPECT_EQ(short_copy.code(), ErrorCode::kTransferIncomplete);
  EXPECT_STREQ(short_copy.what(),
               "RETR big.bin ended after 1000 of 300000 bytes although the server reported "
               "success: 226 Transfer complete.");
  EXPECT_TRUE(ReadFile(local / "big.bin") == content);
  const FtpError long_copy =
      CatchFtpError([&] { GetFile(session, "grown.log", local.path().string()); });
  EXPECT_EQ(long_copy.code(), ErrorCode::kTransferIncomplete);
  EXPECT_STREQ(long_copy.what(),
               "RETR grown.log brought 20 bytes, more than the 10 the server "
               "announced: 150 Opening (10 bytes).");
  EXPECT_EQ(GetFile(session, "growing.log", local.path().string()).bytes, 20);
  session.Logout();
  EXPECT_TRUE(server.WaitFinished()) << server.Failure();
}

TEST(EngineTranscript, GreetingsAndRepliesOfManyLines) {
  ScriptedFtp server(json::array({
                                     {{"reply", {"120 Ready in a moment."}}},
                                     {{"reply", {"220-Welcome", "230 not the end", " indented",
                                                 "220-still", "220 Ready"}}},
                                     Step("USER anna", {"331-Password", "331 please."}),
                                     Step("PASS anna-pw", {"332 Account needed."}),
                                     Step("ACCT acc", {"230-Logged", "230 in."}),
                                     {{"expect", "PWD"},
                                      {"send", std::string("257 \"/pu\0b\" is cwd\r\n", 20)}},
                                     Step("QUIT", {"221 Bye"}),
                                 })
                         .dump());
  Session session;
  session.set_timeout(5s);
  LoginParams login = Direct(server);
  login.account = "acc";
  session.Login(login);
  EXPECT_EQ(session.CurrentDirectory(), "/pub");
  session.Logout();
  EXPECT_TRUE(server.WaitFinished()) << server.Failure();
  EXPECT_THAT(server.Transcript(),
              ElementsAre("USER anna", "PASS anna-pw", "ACCT acc", "PWD", "QUIT"));
}

TEST(EngineTranscript, AnAccountAskedForButNotGivenFailsTheLogin) {
  ScriptedFtp server(json::array({Greeting(), Step("USER anna", {"331 Password."}),
                                  Step("PASS anna-pw", {"332 Account needed."})})
                         .dump());
  Session session;
  const FtpError error = CatchFtpError([&] { session.Login(Direct(server)); });
  EXPECT_EQ(error.code(), ErrorCode::kLoginFailed);
  EXPECT_STREQ(error.what(), "login as anna needs an account (332), and none was given");
}

TEST(EngineTranscript, ARefusedDataConnectionAbortsAndKeepsTheSessionInStep) {
  // The data connection is made while the server reads RETR; when it is refused, ABOR and NOOP
  // bring the reply stream back in step.
  const int dead_port = UnusedPort();
  ScriptedFtp server(WithLogin({
      Step("TYPE I", {"200 Binary."}),
      Step("EPSV", {fmt::format("229 Extended (|||{}|)", dead_port)}),
      {{"expect", "RETR f.bin"}},
      Step("ABOR", {"225 No transfer to ABOR."}),
      Step("NOOP", {"200 NOOP ok."}),
  }).dump());
  TempDir local;
  Session session;
  session.set_timeout(3s);
  session.set_transfer_type(TransferType::kImage);
  session.Login(Direct(server));
  const FtpError error =
      CatchFtpError([&] { GetFile(session, "f.bin", local.path().string()); });
  EXPECT_EQ(error.code(), ErrorCode::kDataConnectionFailed);
  EXPECT_EQ(std::string(error.what()),
            fmt::format("cannot open the data connection to 127.0.0.1 port {}: "
                        "Connection refused", dead_port));
  EXPECT_TRUE(session.logged_in());
  EXPECT_FALSE(std::filesystem::exists(local / "f.bin"));
  session.Logout();
  EXPECT_TRUE(server.WaitFinished()) << server.Failure();
}

// The server resets the data connection while sending and then says 426: the error names the
// broken connection and quotes the reply, the earlier copy stays, and the session goes on.
TEST(EngineTranscript, ADataConnectionResetMidwayIsReportedWithTheReply) {
  const json epsv = {{"expect", "EPSV"}, {"passive", true}, {"reply", {"229 Extended (|||{port}|)"}}};
  ScriptedFtp server(WithLogin({
      Step("TYPE I", {"200 Binary."}), epsv,
      // The pause lets the client's connect finish first; a reset before that is told as a
      // data connection that could not be opened.
      {{"expect", "RETR f.bin"}, {"delay", 1.0}, {"reply", {"150 Opening."}},
       {"data", LetterBytes(200000)}, {"data_end", "reset"}, {"after", {"426 Connection reset."}}},
      Step("PWD", {"257 \"/pub\" is the current directory"}),
  }).dump());
  TempDir local;
  WriteFile(local / "f.bin", "earlier copy");
  Session session;
  session.set_timeout(3s);
  session.set_transfer_type(TransferType::kImage);
  session.Login(Direct(server));
  const FtpError error =
      CatchFtpError([&] { GetFile(session, "f.bin", (local / "f.bin").string()); });
  EXPECT_EQ(error.code(), ErrorCode::kTransferFailed);
  EXPECT_THAT(error.what(), HasSubstr("RETR f.bin failed: the data connection broke after "));
  EXPECT_THAT(error.what(), HasSubstr("the server said 426 Connection reset."));
  EXPECT_EQ(ReadFile(local / "f.bin"), "earlier copy");
  EXPECT_EQ(session.CurrentDirectory(), "/pub");  // the reply stream is still in step
  session.Logout();
  EXPECT_TRUE(server.WaitFinished()) << server.Failure();
}

TEST(EngineTranscript, GetMatchingAsksForTheNextPortBeforeTheLast226) {
  // This server sends a file's 226 only once the next EPSV has arrived: a client that waited
  // for the 226 before asking would stall until its time-out.
  const json epsv = {{"passive", true}, {"reply", {"229 Extended (|||{port}|)"}}};
  json first_epsv = epsv;
  first_epsv["expect"] = "EPSV";
  json ahead_epsv = epsv;
  ahead_epsv["expect"] = "EPSV";
  ahead_epsv["reply"] = {"226 Sent a.", "229 Extended (|||{port}|)"};
  const std::string listing =
      "-rw-r--r-- 1 u g 1 Jan 01 00:00 a\r\n-rw-r--r-- 1 u g 1 Jan 01 00:00 b\r\n";
  ScriptedFtp server(WithLogin({
      Step("PWD", {"257 \"/\" is cwd"}),
      Step("FEAT", {"211-Features:", " SIZE", "211 End"}),
      first_epsv,
      {{"expect", "LIST"}, {"reply", {"150 Here."}}, {"data", listing}, {"after", {"226 Listed."}}},
      Step("TYPE I", {"200 Binary."}),
      first_epsv,
      {{"expect", "RETR a"}, {"reply", {"150 Sending a (1 bytes)."}}, {"data", "A"}},
      ahead_epsv,
      {{"expect", "RETR b"}, {"reply", {"150 Sending b (1 bytes)."}}, {"data", "B"},
       {"after", {"226 Sent b."}}},
      Step("CWD /", {"250 Ok."}),
  }).dump());
  TempDir local;
  Session session;
  session.set_timeout(3s);
  session.set_transfer_type(TransferType::kImage);
  session.Login(Direct(server));
  const MatchingResult result = GetMatching(session, "*", local.path().string());
  EXPECT_EQ(result.files, 2);
  EXPECT_EQ(ReadFile(local / "a"), "A");
  EXPECT_EQ(ReadFile(local / "b"), "B");
  session.Logout();
  EXPECT_TRUE(server.WaitFinished()) << server.Failure();
}

struct BrokenReplyCase {
  const char* name;
  json step;
  ErrorCode code;
  const char* text;
};

TEST(EngineTranscript, A421GarbageOrAnEndlessReplyEndsTheSession) {
  const std::vector<BrokenReplyCase> cases = {
      {"421", {{"expect", "PWD"}, {"reply", {"421 Timeout, closing."}}, {"action", "close"}},
       ErrorCode::kServiceClosing, "the server ended the session: 421 Timeout, closing."},
      {"garbage", {{"expect", "PWD"}, {"reply", {"hello garbage"}}},
       ErrorCode::kProtocolError, "unreadable reply to PWD from the server: \"hello garbage\""},
      {"endless line", {{"expect", "PWD"}, {"send", "257 " + std::string(100000, 'x')}},
       ErrorCode::kProtocolError, "the reply to PWD from the server is too long"},
      {"closed", {{"expect", "PWD"}, {"action", "close"}}, ErrorCode::kConnectionLost,
       "the server closed the connection while the client waited for the reply to PWD"},
  };
  for (const BrokenReplyCase& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedFtp server(json::array({Greeting(), Step("USER anna", {"331 Password."}),
                                    Step("PASS anna-pw", {"230 In."}), c.step})
                           .dump());
    Session session;
    session.set_timeout(5s);
    session.Login(Direct(server));
    const FtpError error = CatchFtpError([&] { session.CurrentDirectory(); });
    EXPECT_EQ(error.code(), c.code);
    EXPECT_THAT(error.what(), HasSubstr(c.text));
    EXPECT_FALSE(session.logged_in());
  }
}

// Hostile servers that the engine bounds: a stranger on the active-mode listener, a trickle of
// data, an endless listing, and a QUIT that is never answered.

TEST(EngineTranscript, ActiveModeTakesTheDataOnlyFromTheServer) {
  // Regression: whoever reached the listener first (here 127.0.0.2) delivered the file.
  ScriptedFtp server(WithLogin({
      Step("TYPE I", {"200 Binary."}),
      Step("PORT *", {"200 PORT ok."}),
      {{"expect", "RETR f.bin"}, {"reply", {"150 Sending f.bin."}}, {"data", "EVIL"},
       {"data_from", "127.0.0.2"}},
      {{"data", "good"}, {"after", {"226 Sent."}}},
      {{"expect", "SIZE f.bin"}, {"optional", true}, {"reply", {"213 4"}}},
  }).dump());
  TempDir local;
  TracedSession traced;
  traced.session.set_passive(false);
  traced.session.set_transfer_type(TransferType::kImage);
  traced.session.Login(Direct(server));
  GetFile(traced.session, "f.bin", local.path().string());
  EXPECT_EQ(ReadFile(local / "f.bin"), "good");
  EXPECT_THAT(traced.trace, ::testing::Contains("! refused a data connection from 127.0.0.2"));
  traced.session.Logout();
  EXPECT_TRUE(server.WaitFinished()) << server.Failure();
}

TEST(EngineTranscript, ATrickleOfDataIsAStall) {
  // Regression: every byte restarted the time-out, so a byte now and then kept it for days.
  ScriptedFtp server(WithLogin({
      Step("TYPE I", {"200 Binary."}),
      {{"expect", "EPSV"}, {"passive", true}, {"reply", {"229 Extended (|||{port}|)"}}},
      {{"expect", "RETR slow.bin"}, {"reply", {"150 Sending slow.bin."}},
       {"data", std::string(200, 's')}, {"trickle", 0.2}},
      Step("ABOR", {"426 Aborted.", "226 Abort done."}),
      Step("NOOP", {"200 NOOP ok."}),
  }).dump());
  TempDir local;
  Session session;
  session.set_timeout(2s);
  session.set_transfer_type(TransferType::kImage);
  session.Login(Direct(server));
  const FtpError error =
      CatchFtpError([&] { GetFile(session, "slow.bin", local.path().string()); });
  EXPECT_EQ(error.code(), ErrorCode::kTimedOut);
  EXPECT_THAT(error.what(), HasSubstr("the transfer stalled: only "));
  EXPECT_THAT(error.what(), HasSubstr(" bytes (less than 1 KiB) from the server during "
                                      "RETR slow.bin within 2 s"));
  EXPECT_TRUE(session.logged_in());  // ABOR and NOOP kept the session in step
  session.Logout();
  EXPECT_TRUE(server.WaitFinished()) << server.Failure();
}

TEST(EngineTranscript, ListingsAreCappedByTheTextTheyKeepAndEndlessOnesEnd) {
  // A million files as vsftpd lists them (73 MB sent, 27 MB kept) are listed; long names pass
  // the 64 MiB of text kept; the same long line again and again keeps nothing new and ends at
  // 256 MiB received.
  const std::string name(200, 'n');
  struct Row {
    std::string line;
    int repeat;
    const char* error;  // nullptr: the listing is read whole
  } rows[] = {
      {"-rw-r--r--    1 1000     1000            0 Jan 01 00:00 file-0000{n}\r\n", 1'000'000,
       nullptr},
      {"-rw-r--r-- 1 u g 0 Jan 01 00:00 " + name + "{n}\r\n", 400'000,
       "the listing is larger than 64 MiB of text, the most this client keeps: list a smaller "
       "folder"},
      {"-rw-r--r-- 1 u g 0 Jan 01 00:00 " + std::string(60'000, 'x') + "\r\n", 5'000,
       "the server sent more than 256 MiB of listing, the most this client reads: list a smaller "
       "folder"},
  };
  json script = WithLogin({Step("FEAT", {"500 FEAT not understood."})});
  script.erase(script.end() - 1);  // QUIT comes last
  for (const Row& row : rows) {
    script.push_back(
        {{"expect", "EPSV"}, {"passive", true}, {"reply", {"229 Extended (|||{port}|)"}}});
    script.push_back({{"expect", "LIST"},
                      {"reply", {"150 Here it comes."}},
                      {"data", row.line},
                      {"repeat", row.repeat},
                      {"after", {"226 Done."}}});
    if (row.error) {
      script.push_back(Step("ABOR", {"426 Aborted.", "226 Abort done."}));
      script.push_back(Step("NOOP", {"200 NOOP ok."}));
    }
  }
  script.push_back(Step("QUIT", {"221 Bye"}));
  ScriptedFtp server(script.dump());
  Session session;
  session.set_timeout(20s);
  session.Login(Direct(server));
  for (const Row& row : rows) {
    if (!row.error) {
      EXPECT_EQ(session.ListTable().size(), static_cast<std::size_t>(row.repeat));
      continue;
    }
    const FtpError error = CatchFtpError([&] { session.ListTable(); });
    EXPECT_EQ(error.code(), ErrorCode::kListingTooLarge) << row.error;
    EXPECT_STREQ(error.what(), row.error);
    EXPECT_TRUE(session.logged_in()) << row.error;
  }
  session.Logout();
  EXPECT_TRUE(server.WaitFinished()) << server.Failure();
}

TEST(EngineTranscript, LogoutWaitsOnlyBrieflyForTheReplyToQuit) {
  ScriptedFtp server(json::array({Greeting(), Step("USER anna", {"331 Password."}),
                                  Step("PASS anna-pw", {"230 In."}),
                                  {{"expect", "QUIT"}, {"action", "stall"}, {"seconds", 40}}})
                         .dump());
  Session session;
  session.set_timeout(120s);
  session.Login(Direct(server));
  const auto start = std::chrono::steady_clock::now();
  session.Logout();
  // A few seconds, not the operation time-out (nor the 40 s the server holds on).
  EXPECT_LT(std::chrono::steady_clock::now() - start, 20s);
  EXPECT_FALSE(session.logged_in());
  EXPECT_EQ(session.timeout(), 120s);
}

}  // namespace
}  // namespace pullwire::ftp
