// The FTP component over the engine, as the run sees it: settings checked with 380, listings and
// their styles and warnings, a failed copy, transfer types through a proxy, progress events.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <thread>

#include "component/engine_component.h"
#include "tests/ftp/engine_test_util.h"
#include "tests/support/test_servers.h"

namespace pullwire {
namespace {

namespace fs = std::filesystem;
using namespace pullwire::testing;
using ftp::test::CatchFtpError;
using ftp::test::ExpectFtpError;
using ::testing::Contains;
using ::testing::ElementsAre;

void LoginTo(EngineComponent& component, const PyFtpd& server) {
  component.OperationTimeout(5000);
  component.Login(server.host(), server.user(), server.password(), "", server.port());
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
  for (const auto& [call, text] : cases) {
    const FtpError error = CatchFtpError(call);
    EXPECT_EQ(error.code(), ErrorCode::kInvalidValue) << text;
    EXPECT_EQ(std::string(error.what()), text);
  }
  EXPECT_EQ(component.ConnectionState(), 0);
}

// Style DOS when every entry is, UNIX otherwise, mixed with unparsed lines; warnings bounded.
TEST(EngineComponent, ListingStylesUnparsedLinesAndWarnings) {
  const auto listed = [](const std::string& raw) {
    ftp::EntryTable table;
    ftp::ListingBuilder builder(ftp::ListingSyntax::kList, table, table.notes);
    builder.Feed(raw);
    builder.Finish();
    return EngineListing(std::move(table));
  };
  const std::string dos = "04-14-00  03:47PM                  589 a.txt\r\n";
  const std::string unix = "lrwxrwxrwx 1 u g 1 Mar 4 09:05 latest -> a.txt\r\n";
  EXPECT_EQ(listed("").ListingStyle(), kListingStyleUnix);
  const EngineListing dos_only = listed(dos);
  EXPECT_EQ(dos_only.ListingStyle(), kListingStyleDos);
  EXPECT_EQ(dos_only.EntryAt(0).ExtraNumber, 0);
  EXPECT_EQ(dos_only.EntryAt(0).ExtraText, "04-14-00  03:47PM");
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
  WriteFile(server.root() / "report.csv", "one\ntwo\n");
  WriteFile(server.root() / "data.bin", PatternBytes(100000));
  WriteFile(server.root() / "Folder" / "a.bin", PatternBytes(kSize));
  WriteFile(server.root() / "tree" / "sub" / "b.bin", PatternBytes(kSize));
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
  LoginTo(component, server);
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
}  // namespace pullwire
