// Exact command sequences against the scripted FTP server (gateway logins Debian has no proxy
// for, a session's whole road, hostile replies and data), and the component over the engine as
// the run sees it (settings refused with 380, listing styles and warnings, types, progress).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>
#include <thread>

#include "component/engine_component.h"
#include "ftp/get_file.h"
#include "ftp/get_matching.h"
#include "ftp/server_name.h"
#include "tests/ftp/engine_test_util.h"
#include "tests/support/test_servers.h"

namespace pullwire::ftp {
namespace {

namespace fs = std::filesystem;
using namespace pullwire::testing;
using json = nlohmann::json;
using namespace test;
using ::testing::Contains;
using ::testing::ElementsAre;
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

// The greeting, anna's login, then `steps`.
std::string WithLogin(const std::vector<json>& steps) {
  json script = json::array({Greeting(), Step("USER anna", {"331 Password please."}),
                             Step("PASS anna-pw", {"230 Logged in."})});
  for (const json& step : steps) script.push_back(step);
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
// but EPSV and MLSD are refused; a passive request sent before the last 226; an unreadable PWD;
// sizes that judge a copy; active-mode data only the server may deliver.
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
      Passive("PASV"), Data("LIST", "150 Here.", listing), Step("PWD", {"257 /a b is cwd"}),
      Passive("PASV"), both("RETR big.bin", "150 Opening.", content),
      Passive("PASV"), both("RETR big.bin", "150 Opening (300000 bytes).", content.substr(0, 1000)),
      Passive("PASV"), both("RETR grown.log", "150 Opening (10 bytes).", content.substr(0, 20)),
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
  EXPECT_EQ(session.CurrentDirectory(), "/");  // unreadable: the folder last entered
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
  session.set_passive(false);
  GetFile(session, "f.bin", local.path().string());
  EXPECT_EQ(ReadFile(local / "f.bin"), "good");
  EXPECT_THAT(traced.trace, Contains("! refused a data connection from 127.0.0.2"));
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
    ScriptedFtp server(WithLogin({c.step}));
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
  EXPECT_FALSE(fs::exists(local / "f.bin"));
}

// A refused listing, a million files (73 MB), then an unanswered QUIT that holds only briefly.
TEST(EngineTranscript, AMillionFilesAreListedAndAnUnansweredQuitEndsSoon) {
  ScriptedFtp server(WithLogin({
      Step("FEAT", {"500 FEAT not understood."}), Passive(), Step("LIST", {"450 No files found"}),
      Passive(), {{"expect", "LIST"}, {"reply", {"150 Here it comes."}},
       {"data", "-rw-r--r--    1 1000     1000            0 Jan 01 00:00 file-0000{n}\r\n"},
       {"repeat", 1'000'000}, {"after", {"226 Done."}}},
      {{"expect", "QUIT"}, {"action", "stall"}, {"seconds", 40}},
  }));
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

TEST(EngineComponent, RefusesInvalidSettingsAndArgumentsWith380) {
  EngineComponent component;
  const std::vector<std::pair<std::function<void()>, std::string>> cases = {
      {[&] { component.TransferType(4); }, "TransferType must be 0 to 3, not 4"},
      {[&] { component.ProxyKind(8); }, "ProxyKind must be 0 to 7, not 8"},
      {[&] { component.ProxyServerPort(0); }, "ProxyServerPort must be 1 to 65535, not 0"},
      {[&] { component.OperationTimeout(0); }, "OperationTimeout must be more than 0 ms, not 0"},
      // Regression: the name was cut at the NUL, and the session went to 127.0.0.1.
      {[&] { component.Login(std::string("127.0.0.1\0.evil", 15), "u", "p", "", 21); },
       "the host name \"127.0.0.1\\x00.evil\" holds a control character"},
      {[&] { component.Login("127.0.0.1", "u", "p", "", 70000); },
       "the port must be 0 to 65535, not 70000"},
  };
  for (const auto& [call, text] : cases) ExpectFtpError(call, ErrorCode::kInvalidValue, text);
  EXPECT_EQ(component.ConnectionState(), 0);
}

// Style DOS when every entry is, UNIX otherwise, mixed with unparsed lines; warnings bounded.
TEST(EngineComponent, ListingStylesUnparsedLinesAndWarnings) {
  const auto listed = [](const std::string& raw) {
    EntryTable table;
    ListingBuilder builder(ListingSyntax::kList, table, table.notes);
    builder.Feed(raw);
    builder.Finish();
    return EngineListing(std::move(table));
  };
  const std::string dos = "04-14-00  03:47PM                  589 a.txt\r\n";
  const std::string unix = "lrwxrwxrwx 1 u g 1 Mar 4 09:05 latest -> a.txt\r\n";
  EXPECT_EQ(listed(dos).ListingStyle(), kListingStyleDos);
  const EngineListing both = listed(dos + unix);
  EXPECT_EQ(both.ListingStyle(), kListingStyleUnix);
  EXPECT_EQ(both.EntryAt(1).TypeLetter, "L");
  EXPECT_EQ(both.EntryAt(1).ExtraNumber, 0777);
  ExpectFtpError([&] { both.EntryAt(2); }, ErrorCode::kInvalidValue,
                 "the listing has no entry 2 (it holds 2)");
  std::string raw = "VMS-STYLE LINE;1\r\nevil\x1b[2Jname\r\n" + unix;
  for (std::size_t i = 0; i <= EngineListing::kMaxWarnings; ++i) {
    raw += "-rw-r--r-- 1 u g 1 Jan 01 00:00 up/" + std::to_string(i) + "\r\n";
  }
  const EngineListing mixed = listed(raw);
  EXPECT_EQ(mixed.ListingStyle(), kListingStyleMixed);
  EXPECT_EQ(mixed.UnparsedLines(), "VMS-STYLE LINE;1\nevil?[2Jname");
  const std::vector<std::string> warnings = mixed.Warnings();
  ASSERT_EQ(warnings.size(), EngineListing::kMaxWarnings + 1);
  EXPECT_EQ(warnings.front(), "Remote entry \"up/0\" left out: the name holds \"/\"");
  EXPECT_EQ(warnings.back(), "... and 1 more remote entries left out: their names cannot be local "
                             "file names");
}

// MLSD keeps a link named "odd -> name" whole and reads UNIX.mode; types, proxy and progress
// reach the session; a failed copy is left to the caller.
TEST(EngineComponent, ListsByMlsdTransfersThroughAProxyAndReportsProgress) {
  std::string why;
  if (!Microsocks::Available(&why)) GTEST_SKIP() << why;
  PyFtpdOptions options;
  options.retr_fault = RetrFault::kAbort426;
  options.fault_name = "data.bin";
  // The first second's bytes pass unthrottled, then 448 KiB take about two seconds.
  options.throttle = 150 * 1024;
  PyFtpd server(options);
  constexpr std::int64_t kSize = 448 * 1024;
  WriteFiles(server.root(), {{"report.csv", "one\ntwo\n"}, {"data.bin", PatternBytes(100000)},
                             {"Folder/a.bin", PatternBytes(kSize)},
                             {"tree/sub/b.bin", PatternBytes(kSize)}});
  fs::create_symlink("report.csv", server.root() / "odd -> name");
  Microsocks proxy;
  TempDir local;
  EngineComponent component;
  std::vector<std::string> trace;
  component.SetTrace([&](std::string_view line) { trace.emplace_back(line); });
  component.ProxyKind(2);
  component.ProxyServer("127.0.0.1");
  component.ProxyServerPort(proxy.port());
  component.ProxyLoginName("");
  component.ProxyLoginPassword("");
  component.PassiveMode(true);
  component.OperationTimeout(5000);
  component.Login(server.host(), server.user(), server.password(), "", server.port());
  EXPECT_EQ(component.ConnectionState(), kConnectionStateConnected);
  EXPECT_EQ(component.Listing().Entries().size(), 0u);  // before any ListDirectory
  component.ListDirectory();
  component.ListDirectory();
  EXPECT_EQ(component.Listing().ListingStyle(), kListingStyleUnix);
  EXPECT_EQ(component.Listing().UnparsedLines(), "");
  std::map<std::string, ListEntry> by_name;
  for (const ListEntry& entry : component.Listing().Entries()) by_name[entry.Name] = entry;
  ASSERT_EQ(by_name.size(), 5u);
  EXPECT_EQ(by_name["odd -> name"].TypeLetter, "F");
  EXPECT_EQ(by_name["odd -> name"].Size, 8);
  EXPECT_EQ(by_name["Folder"].TypeLetter, "D");
  EXPECT_EQ(by_name["report.csv"].ExtraNumber,
            static_cast<std::int32_t>(fs::status(server.root() / "report.csv").permissions()));
  EXPECT_EQ(by_name["report.csv"].ExtraText.size(), 14u);  // "20240105120000"
  const std::vector<std::string> commands = server.CommandLog();
  EXPECT_THAT(commands, ::testing::IsSupersetOf(
                            {"FEAT", "OPTS MLST type;size;modify;unix.mode;unique;", "MLSD"}));
  EXPECT_EQ(std::count(commands.begin(), commands.end(), "FEAT"), 1);  // once per session

  std::map<std::string, std::vector<ComponentProgress>> events;
  const std::thread::id main_thread = std::this_thread::get_id();
  component.SetProgressEventHandler([&](const ComponentProgress& p) {
    EXPECT_EQ(std::this_thread::get_id(), main_thread);
    events[std::string(p.name)].push_back(p);
  });
  component.TransferType(0);
  component.GetFile("report.csv", (local / "ascii.txt").string());
  EXPECT_EQ(component.LastTransferBytes(), 10);  // CRLF on the wire, LF on disk
  EXPECT_EQ(ReadFile(local / "ascii.txt"), "one\ntwo\n");
  component.TransferType(3);  // ZIP: binary
  component.GetFile("report.csv", local.path().string());
  EXPECT_EQ(component.LastTransferBytes(), 8);
  EXPECT_THAT(trace, Contains("> TYPE A"));
  EXPECT_THAT(trace, Contains("> TYPE I"));
  component.GetFile("/Folder/a.bin", (local / "a.bin").string());
  component.GetMatching("/tree/*", local.path().string());
  EXPECT_TRUE(ReadFile(local / "sub" / "b.bin") == PatternBytes(kSize));
  ASSERT_THAT(events, ElementsAre(::testing::Key("/Folder/a.bin"), ::testing::Key("b.bin")));
  // The server announces no size; the folder walk knows it from its listing.
  for (const auto& [name, reports] : events) {
    ASSERT_GE(reports.size(), 2u) << name << ": at least one report on the way and the last";
    for (std::size_t i = 0; i < reports.size(); ++i) {
      EXPECT_EQ(reports[i].finished, i + 1 == reports.size()) << name << " " << i;
      EXPECT_GE(reports[i].bytes, reports[i == 0 ? 0 : i - 1].bytes) << name << " " << i;
      EXPECT_EQ(reports[i].total, name == "b.bin" ? std::optional(kSize) : std::nullopt);
    }
    EXPECT_EQ(reports.back().bytes, kSize) << name;
    EXPECT_GE(reports.back().elapsed_ms, 250) << name;
  }
  ExpectFtpError([&] { component.GetFile("data.bin", (local / "data.bin").string()); },
                 ErrorCode::kTransferFailed,
                 ::testing::HasSubstr("RETR data.bin failed: 426 Connection closed;"));
  ASSERT_TRUE(fs::exists(local / "data.bin"));
  EXPECT_LT(fs::file_size(local / "data.bin"), 100000u);
  EXPECT_EQ(component.LastTransferBytes(), 0);
  EXPECT_EQ(component.ConnectionState(), kConnectionStateConnected);
  // Missing files and folders are kNoSuchFile (11101) whatever the verb.
  component.WorkingDirectory("/Folder");
  for (const std::function<void()>& call : std::vector<std::function<void()>>{
           [&] { component.WorkingDirectory("/nothing"); },
           [&] { component.DeleteFile("nothing.txt"); },
           [&] { component.RemoveDirectory("nothing"); }}) {
    EXPECT_EQ(CatchFtpError(call).code(), ErrorCode::kNoSuchFile);
  }
  component.Logout();
  EXPECT_EQ(component.ConnectionState(), 0);
  component.Logout();  // a second logout is harmless
}

}  // namespace
}  // namespace pullwire::ftp
