// DescribeRun: the settings table and the plain-words account of a run.
#include "host/dry_run.h"

#include <fmt/format.h>

#include <algorithm>
#include <vector>

#include <nlohmann/json.hpp>

namespace pullwire::host {
namespace {

constexpr std::array<std::string_view, 4> kTransferModes = {"ASCII", "IMAGE", "EBCDIC", "ZIP"};
constexpr std::array<std::string_view, 8> kProxyTypes = {
    "None", "Socks V4", "Socks V5", "SITE Hostname", "USER Logon", "USER No Logon", "OPEN", "Pipe"};
constexpr std::int32_t kRunDefaultTimeout = 60;

// The record's slots by field name, read by the run's rules.
class RunView {
 public:
  explicit RunView(const CommandFile& file) : file_(file) {}

  const std::string& Text(std::string_view name) const {
    return file_.record[static_cast<std::size_t>(FieldIndex(name))];
  }
  // The run counts every flag text but exactly "0" as on.
  bool On(std::string_view name) const { return Text(name) != "0"; }
  // A plain whole number, or nothing when the text is anything else.
  std::optional<long> Number(std::string_view name) const {
    const std::string& text = Text(name);
    if (text.empty() || text.size() > 9 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      return std::nullopt;
    }
    return std::stol(text);
  }
  // `names[n]` for a number n that has one, else the text.
  template <std::size_t N>
  std::string Named(std::string_view name, const std::array<std::string_view, N>& names) const {
    const std::optional<long> n = Number(name);
    if (n && *n < static_cast<long>(N)) return std::string(names[static_cast<std::size_t>(*n)]);
    return Quoted(Text(name));
  }
  static std::string Quoted(const std::string& text) { return nlohmann::json(text).dump(); }

 private:
  const CommandFile& file_;
};

std::string ShownValue(const CommandField& field, const RunView& run, const CommandFile& file,
                       std::string_view password_env) {
  const std::string& text = run.Text(field.name);
  const bool array = file.form == CommandForm::kArray;
  switch (field.kind) {
    case FieldKind::kSecret:
      if (field.name == "Password" && !password_env.empty()) {
        return fmt::format("******** (from ${})", password_env);
      }
      return text.empty() ? "(empty)" : "********";
    case FieldKind::kFlag: {
      const bool odd = array && text != "0" && text != "1";
      return fmt::format("{} ({})", odd ? RunView::Quoted(text) : text,
                         run.On(field.name) ? "on" : "off");
    }
    case FieldKind::kNumber:
      if (!run.Number(field.name)) {
        return RunView::Quoted(text) + " (the run's number rules decide)";
      }
      if (field.name == "TransferMode") {
        return fmt::format("{} {}", text, run.Named(field.name, kTransferModes));
      }
      if (field.name == "ProxyType") {
        return fmt::format("{} {}", text, run.Named(field.name, kProxyTypes));
      }
      return text;
    case FieldKind::kScope:
    case FieldKind::kText:
      return RunView::Quoted(text);
  }
  return text;
}

// "" for the filter "*" (every name passes); else the condition a name must meet.
std::string FilterWords(const std::string& filter) {
  if (filter == "*") return "";
  std::vector<std::string> pieces;
  std::size_t from = 0;
  while (from <= filter.size()) {
    const std::size_t to = std::min(filter.find(';', from), filter.size());
    if (to > from) pieces.push_back(RunView::Quoted(filter.substr(from, to - from)));
    from = to + 1;
  }
  if (pieces.empty()) return " whose name passes the empty filter (none does)";
  return fmt::format(" whose name contains {} (any letter case)", fmt::join(pieces, " or "));
}

std::string ConnectWords(const RunView& run) {
  std::string proxy;
  if (run.Text("ProxyType") != "0") {
    proxy = fmt::format(" through the {} proxy {}", run.Named("ProxyType", kProxyTypes),
                        run.Text("ProxyHost"));
    if (run.Number("ProxyPort").value_or(0) > 0) proxy += ":" + run.Text("ProxyPort");
  }
  long timeout = run.Number("Timeout").value_or(kRunDefaultTimeout);
  if (timeout < 1 || timeout > 999) timeout = kRunDefaultTimeout;
  const std::string& user = run.Text("Username");
  return fmt::format("log in to {} port {} as {}{}, in {} mode, with a time-out of {} s",
                     run.Text("Host"), run.Text("Port"), user.empty() ? "anonymous" : user, proxy,
                     run.On("Passive") ? "passive" : "active", timeout);
}

std::vector<std::string> FolderModeWords(const RunView& run) {
  const std::string& local = run.Text("LocalDir");
  std::vector<std::string> lines = {
      fmt::format("download every entry of {}{}, folders with all they hold, into {} ({})",
                  run.Text("RemoteDir"), FilterWords(run.Text("Filter")), local,
                  run.Named("TransferMode", kTransferModes)),
      run.On("Overwrite") ? "fetch every file whole, replacing a local copy"
                          : "continue a partial local copy where one exists"};
  // The folder mode's delete pass asks the record for exactly "1".
  lines.push_back(run.Text("AutoDelete") == "1"
                      ? "then delete on the server what was copied completely"
                      : "keep the remote files");
  return lines;
}

std::vector<std::string> FlatModeWords(const RunView& run) {
  const std::string& remote = run.Text("RemoteDir");
  const std::string& local = run.Text("LocalDir");
  const std::string type = run.Named("TransferMode", kTransferModes);
  const bool one_file = run.On("CopySpecific") || !run.On("ProcessAll");
  std::vector<std::string> lines;
  if (run.On("CopySpecific")) {
    lines.push_back(fmt::format("download the file {} (letter case counts) of {} into {} ({})",
                                RunView::Quoted(run.Text("SpecificFilename")), remote, local,
                                type));
  } else {
    lines.push_back(fmt::format("download {} of {}{} into {} ({})",
                                run.On("ProcessAll") ? "every file" : "the first file", remote,
                                FilterWords(run.Text("Filter")), local, type));
  }
  lines.push_back(run.On("Overwrite")
                      ? "replace a local file of the same name"
                      : fmt::format("skip a file that already exists in {}", local));
  lines.push_back(run.On("AutoDelete") ? "delete each remote file after a complete copy"
                                       : "keep the remote files");
  if (one_file && run.On("SaveFilename")) {
    const bool global = run.Text("VarScope") == "GLOBAL";  // the run's own test
    const long number = run.Number("VarNumber").value_or(0);
    lines.push_back(fmt::format("put the file's name into variable {} ({}Var({}))",
                                run.Text("VarNumber"), global ? "Global" : "Local", number - 1));
  }
  return lines;
}

}  // namespace

std::string DescribeRun(const CommandFile& file, std::string_view source,
                        std::string_view password_env) {
  const RunView run(file);
  std::string out =
      file.form == CommandForm::kObject
          ? fmt::format("{}: a command file; \"(default)\" marks a key it does not write\n", source)
          : fmt::format("{}: a host's record of 24 texts, taken as it is; a flag is on for every "
                        "text but \"0\"\n",
                        source);
  for (std::size_t i = 0; i < kCommandSlots; ++i) {
    const CommandField& field = kCommandFields[i];
    const bool from_env = field.name == "Password" && !password_env.empty();
    const bool defaulted = file.form == CommandForm::kObject && !file.written[i] && !from_env;
    out += fmt::format("  {:<17} {}{}\n", field.name, ShownValue(field, run, file, password_env),
                       defaulted ? " (default)" : "");
  }
  std::vector<std::string> lines = {ConnectWords(run)};
  const std::vector<std::string> transfer =
      run.On("IncludeSubdir") ? FolderModeWords(run) : FlatModeWords(run);
  lines.insert(lines.end(), transfer.begin(), transfer.end());
  lines.push_back("log out");
  out += "The run would:\n";
  for (const std::string& line : lines) out += "  " + line + "\n";
  return out;
}

}  // namespace pullwire::host
