// `pullwire run` as a user runs it against pyftpdlib: refusals, the README's examples, progress,
// a closed output, a file-size limit and signals in the middle of a download.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <fmt/format.h>

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <regex>

#include "private_environment.h"
#include "tests/support/test_servers.h"

namespace pullwire::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using Json = nlohmann::json;

// The message texts of printed lines ("04-Mar-2026 09:05.07  INFO  Connected!" -> "Connected!").
std::vector<std::string> InfoTexts(const std::string& out) {
  const std::regex line(R"((^|\n)\d\d-[A-Z][a-z][a-z]-\d{4} \d\d:\d\d\.\d\d  INFO  ([^\n]*))");
  std::vector<std::string> texts;
  for (std::sregex_iterator i(out.begin(), out.end(), line), end; i != end; ++i) {
    texts.push_back((*i)[2]);
  }
  return texts;
}

std::vector<std::string> Names(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& item : fs::directory_iterator(folder)) names.push_back(item.path().filename());
  return names;
}

// Whether `folder` holds a partial file of the writer `pid` (any writer: 0).
bool HoldsPartialFile(const fs::path& folder, pid_t pid = 0) {
  const std::string prefix = ".pullwire-" + (pid == 0 ? "" : std::to_string(pid) + "-");
  return std::ranges::any_of(Names(folder), [&](const std::string& name) {
    return name.starts_with(prefix) && name.ends_with(".part");
  });
}

TEST(PullwireRun, RefusalsReadmeExamplesProgressOutputLimitsAndSignals) {
  std::optional<PrivateEnvironment> environment;  // from the minimal host on: its own registry
  PyFtpdOptions options;
  options.low_port = true;  // the record's Port is 16-bit
  options.throttle = 256 * 1024;  // the first second's bytes pass, then pauses: 640 KiB take 2 s
  PyFtpd server(options);
  const TempDir work("pullwire-run"), local("pullwire-run-local");
  const std::string in = local.path().string();
  // examples/commands/`name`, pointed at the server and `local`; nothing else changes.
  const auto example = [&](const std::string& name) {
    Json command = Json::parse(ReadFile(fs::path(PULLWIRE_SOURCE_DIR) / "examples/commands" / name));
    if (command.is_object()) {
      command.update({{"Host", server.host()}, {"Port", server.port()}, {"Username", server.user()},
                      {"LocalDir", in}});
    } else {
      command[0] = server.host(), command[1] = server.user();
      command[3] = std::to_string(server.port()), command[8] = in;
    }
    WriteFile(work / name, command.dump(2));
    return work / name;
  };
  const auto pullwire = [](const fs::path& file, const std::string& password,
                           std::vector<std::string> args = {"--password-env", "FTP_PASSWORD"},
                           const std::function<void(pid_t)>& meanwhile = {}) {
    args.insert(args.begin(), {"env", "FTP_PASSWORD=" + password, PULLWIRE_HOST_PATH, "run",
                               file.string(), "--library", PULLWIRE_LIBRARY_PATH});
    return RunCommand(args, 60s, meanwhile);
  };

  const auto file = work / "cmd.json";
  const std::string usable = R"({"Host": "127.0.0.1", "Port": )" + std::to_string(server.port()) +
                             R"(, "RemoteDir": "/", "LocalDir": ")" + in + "\"}";
  const fs::path missing = work / "missing.json";
  // The file's content (none: the path as it is), the path, more arguments, the error.
  using Row = std::tuple<std::string, fs::path, std::vector<std::string>, std::string>;
  const std::vector<Row> refusals = {
      {usable.substr(0, usable.size() - 1) + R"(, "AutoDelete": "yes"})", file, {},
       file.string() + ": AutoDelete: \"yes\" is not 0 or 1"},
      {R"({"Host": "127.0.0.1", "RemoteDir": "/"})", file, {},
       file.string() + ": LocalDir is missing; a run needs it"},
      {usable, file, {"--password-env", ""}, "--password-env: the variable name is empty"},
      {usable, file, {"--password-env", "PULLWIRE_NO_SUCH_VARIABLE"},
       "--password-env: the environment variable PULLWIRE_NO_SUCH_VARIABLE is not set"},
      {"", "/dev/zero", {},
       "cannot read /dev/zero: it is larger than 1 MiB, and a command file is a few hundred bytes"},
      {"", work.path(), {}, "cannot read " + work.path().string() + ": it is a folder"},
      {"", missing, {}, "cannot read " + missing.string() + ": No such file or directory"}};
  for (const auto& [content, path, args, err] : refusals) {
    if (!content.empty()) WriteFile(path, content);
    const CommandResult result = pullwire(path, "", args);
    EXPECT_EQ(result.exit_code, 2) << err;
    EXPECT_EQ(result.err, "pullwire: " + err + "\n");
    EXPECT_EQ(result.out, "");
  }

  WriteFile(server.root() / "pub/reports/jan.csv", "jan");
  WriteFile(server.root() / "pub/reports/feb.csv", "feb");
  WriteFile(server.root() / "pub/reports/notes.txt", "notes");
  WriteFile(server.root() / "outgoing/orders.txt", "a\r\nb\r\n");
  WriteFile(local / "jan.csv", "kept");
  // reports.json: every .csv, existing local files skipped; without AutoDelete all stay remote.
  const auto reports = example("reports.json");
  const CommandResult dry = pullwire(reports, "pw", {"--dry-run", "--password-env", "FTP_PASSWORD"});
  EXPECT_EQ(dry.exit_code, 0) << dry.err;
  EXPECT_THAT(dry.out, HasSubstr("keep the remote files\n"));
  EXPECT_THAT(server.CommandLog(), IsEmpty()) << "neither a refusal nor a dry run connects";

  CommandResult result = pullwire(reports, server.password());
  ASSERT_EQ(result.exit_code, 0) << result.out << result.err;
  EXPECT_THAT(result.out, HasSubstr("INFO  Skipped file [jan.csv] - file exists and OVERWRITE=Off\n"));
  EXPECT_EQ(ReadFile(local / "jan.csv"), "kept");
  EXPECT_EQ(ReadFile(local / "feb.csv"), "feb");
  EXPECT_FALSE(fs::exists(local / "notes.txt"));
  EXPECT_THAT(Names(server.root() / "pub/reports"), ::testing::SizeIs(3)) << "all stay remote";

  // record.json, the host's array form: quiet and failing, it prints its error alone, without
  // the password, and exits 1.
  const auto record = example("record.json");
  result = pullwire(record, "wrong", {"--quiet", "--password-env", "FTP_PASSWORD"});
  EXPECT_EQ(result.exit_code, 1) << result.err;
  EXPECT_THAT(result.out,
              ::testing::MatchesRegex("[^\n]*  ERROR  ERROR_PULL-WIRE \\[[^\n]*530[^\n]*\\]\n"));
  EXPECT_THAT(result.out, ::testing::Not(HasSubstr("wrong"))) << "no password in a message";

  // one-file.json: one named file in ASCII, deleted remotely, its name into GlobalVar(3).
  result = pullwire(example("one-file.json"), server.password());
  ASSERT_EQ(result.exit_code, 0) << result.out << result.err;
  EXPECT_THAT(InfoTexts(result.out), ElementsAre("Setup FTP connection ...",
      "Connecting with [127.0.0.1] ...", "Connected!", "Retrieving filelist ...",
      "Number of files & directories found: 1",
      "Downloading [orders.txt] to [" + in + "/orders.txt] (6 Bytes) ...",
      "Downloaded [orders.txt] <unknown> kBps", "Deleting remote-file [orders.txt] ...",
      "Number of files downloaded : 1", "Disconnecting from [127.0.0.1] ..."));
  EXPECT_TRUE(result.out.ends_with("\nGlobalVar(3) = orders.txt\n")) << result.out;
  EXPECT_EQ(ReadFile(local / "orders.txt"), "a\nb\n");
  EXPECT_FALSE(fs::exists(server.root() / "outgoing/orders.txt"));

  // examples/host/minimal_host.cc runs that record (every file, overwriting) via the registry.
  environment.emplace();
  result = RunCommand({PULLWIRE_HOST_PATH, "register", "--library", PULLWIRE_LIBRARY_PATH});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  std::vector<std::string> argv = {PULLWIRE_MINIMAL_HOST_PATH};
  for (const Json& text : Json::parse(ReadFile(record))) argv.push_back(text);
  argv[3] = server.password();
  result = RunCommand(argv, 60s);
  EXPECT_EQ(result.exit_code, 0) << result.out << result.err;
  EXPECT_EQ(result.out, "Pullwire 4.5.0: the run succeeded\n");
  EXPECT_EQ(ReadFile(local / "jan.csv"), "jan");
  EXPECT_EQ(ReadFile(local / "notes.txt"), "notes");

  // On a terminal the progress line is drawn over itself and wiped before the next message; into
  // a pipe there is none. A closed output loses the messages, not the files; a file-size limit is
  // a write error with a message, and the partial file goes.
  fs::remove_all(server.root() / "pub/reports");
  for (const std::string& name : Names(local.path())) fs::remove(local / name);
  WriteFile(server.root() / "pub/reports/big.csv", std::string(640 * 1024, 'x'));
  const std::string env = "FTP_PASSWORD=" + server.password();
  const std::string shell = fmt::format("'{}' run '{}' --library '{}' --password-env FTP_PASSWORD",
                                        PULLWIRE_HOST_PATH, reports.string(), PULLWIRE_LIBRARY_PATH);
  const auto arrived = [&] {
    const bool whole = ReadFile(local / "big.csv").size() == 640u * 1024;
    fs::remove(local / "big.csv");
    return whole;
  };
  const CommandResult terminal = RunCommand({"env", env, "script", "-qec", shell, "/dev/null"}, 60s);
  ASSERT_EQ(terminal.exit_code, 0) << terminal.out << terminal.err;
  const std::regex line(
      R"(\rbig\.csv  [0-9.]+ (B|KiB) of 640\.0 KiB  \d+%  [0-9.]+ (B|KiB|MiB)/s  \d+:\d\d left)");
  EXPECT_TRUE(std::regex_search(terminal.out, line)) << terminal.out;
  const std::size_t wiped = terminal.out.find("\r" + std::string(20, ' '));
  ASSERT_NE(wiped, std::string::npos) << terminal.out;
  EXPECT_LT(wiped, terminal.out.find("Downloaded [big.csv]")) << terminal.out;
  EXPECT_TRUE(arrived());
  const CommandResult piped = pullwire(reports, server.password());
  ASSERT_EQ(piped.exit_code, 0) << piped.err;
  EXPECT_EQ(piped.err, "");
  EXPECT_EQ(piped.out.find('\r'), std::string::npos) << piped.out;
  EXPECT_TRUE(arrived());
  const CommandResult closed = RunCommand({"env", env, "sh", "-c", shell + " | true"}, 60s);
  EXPECT_EQ(closed.exit_code, 0) << closed.err;
  EXPECT_TRUE(arrived());
  const CommandResult limited =
      RunCommand({"env", env, "prlimit", "--fsize=100000", "sh", "-c", shell}, 60s);
  EXPECT_EQ(limited.exit_code, 1) << limited.out << limited.err;
  EXPECT_THAT(limited.out, HasSubstr(": File too large]\n"));
  EXPECT_THAT(Names(local.path()), IsEmpty());

  // SIGINT, SIGTERM and SIGHUP end the run through its error ending: the partial file goes,
  // the session says QUIT, the daemon's socket and lock file go, and the exit status tells the
  // signal. SIGKILL leaves the partial file and the daemon's files behind: the next run removes
  // them, its writer being gone. No run has Qt mapped: it comes only with Setup.
  const fs::path daemons = environment->runtime() / "norvik";
  auto quits = std::ranges::count(server.CommandLog(), "QUIT");  // those of the runs above
  for (const int signal : {SIGINT, SIGKILL, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    bool sent = false;
    std::string maps;
    result = pullwire(reports, server.password(), {"--password-env", "FTP_PASSWORD"},
                      [&](pid_t pid) {
      if (sent || !HoldsPartialFile(local.path(), pid)) return;
      std::ifstream maps_file("/proc/" + std::to_string(pid) + "/maps");
      maps.assign(std::istreambuf_iterator<char>(maps_file), {});
      sent = ::kill(pid, signal) == 0;
    });
    ASSERT_TRUE(sent) << result.out << result.err;
    EXPECT_THAT(maps, HasSubstr("libpullwire.so"));
    EXPECT_THAT(maps, ::testing::Not(HasSubstr("libQt6")));
    EXPECT_EQ(result.exit_code, 128 + signal) << result.out << result.err;
    if (signal == SIGKILL) {
      EXPECT_TRUE(HoldsPartialFile(local.path()));
      EXPECT_THAT(Names(daemons), ::testing::SizeIs(2));  // the socket and its lock file
      continue;
    }
    EXPECT_THAT(result.out, HasSubstr("  ERROR  ERROR_PULL-WIRE [cancelled: the host asked the run "
                                      "to stop]\n"));
    EXPECT_THAT(Names(local.path()), IsEmpty());
    EXPECT_THAT(Names(daemons), IsEmpty());
    EXPECT_EQ(std::ranges::count(server.CommandLog(), "QUIT"), ++quits);
  }
}

}  // namespace
}  // namespace pullwire::testing
