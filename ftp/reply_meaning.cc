// Reads the meaning of single replies: refusal numbers, passive ports, PWD paths, sizes.
#include "ftp/reply_meaning.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace pullwire::ftp {
namespace {

std::string Lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

bool ContainsAny(std::string_view text, const auto& phrases) {
  return std::any_of(phrases.begin(), phrases.end(), [&](std::string_view phrase) {
    return text.find(phrase) != std::string_view::npos;
  });
}

// Phrases servers use for a missing object: pyftpdlib "550 No such file or directory.",
// proftpd "550 x: No such file or directory", IIS "550 The system cannot find the file
// specified.", wu-ftpd "450 No files found".
constexpr std::array<std::string_view, 8> kMissingPhrases = {
    "no such file", "no such directory", "not found", "does not exist",
    "doesn't exist", "cannot find",     "can't find", "no files found"};

// Phrases of a refusal although the object is there: "550 Permission denied.",
// "550 Directory not empty.", "550 Access is denied.".
constexpr std::array<std::string_view, 7> kAccessPhrases = {
    "permission", "denied", "access", "not allowed", "forbidden", "not empty", "read-only"};

// Verbs for which RFC 959 reads a bare 550 as "file unavailable".
constexpr std::array<std::string_view, 6> kLookupVerbs = {"RETR", "CWD", "SIZE",
                                                          "LIST", "NLST", "MDTM"};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads up to `count` comma-separated numbers 0..255 from `text` at `pos`.
bool ReadByteList(std::string_view text, std::size_t pos, int count, std::array<int, 6>& out) {
  for (int i = 0; i < count; ++i) {
    if (pos >= text.size() || !IsDigit(text[pos])) return false;
    int value = 0;
    int digits = 0;
    while (pos < text.size() && IsDigit(text[pos]) && digits < 4) {
      value = value * 10 + (text[pos] - '0');
      ++pos;
      ++digits;
    }
    if (value > 255 || (pos < text.size() && IsDigit(text[pos]))) return false;
    out[static_cast<std::size_t>(i)] = value;
    if (i + 1 < count) {
      if (pos >= text.size() || text[pos] != ',') return false;
      ++pos;
    }
  }
  return true;
}

}  // namespace

ErrorCode RefusalCode(std::string_view verb, const Reply& reply) {
  const std::string text = Lower(reply.Quote());
  const bool file_reply = reply.code == 550 || reply.code == 450 || reply.code == 553;
  if (file_reply && ContainsAny(text, kMissingPhrases)) return ErrorCode::kNoSuchFile;
  const bool lookup = std::find(kLookupVerbs.begin(), kLookupVerbs.end(), verb) !=
                      kLookupVerbs.end();
  if (reply.code == 550 && lookup && !ContainsAny(text, kAccessPhrases)) {
    return ErrorCode::kNoSuchFile;
  }
  return ErrorCode::kCommandFailed;
}

std::optional<std::uint16_t> ParseEpsvPort(const Reply& reply) {
  const std::string_view text = reply.FirstText();
  const std::size_t open = text.find('(');
  if (open == std::string_view::npos || open + 5 > text.size()) return std::nullopt;
  const char delim = text[open + 1];
  if (IsDigit(delim) || text[open + 2] != delim || text[open + 3] != delim) return std::nullopt;
  std::size_t pos = open + 4;
  std::uint32_t port = 0;
  int digits = 0;
  while (pos < text.size() && IsDigit(text[pos]) && digits < 6) {
    port = port * 10 + static_cast<std::uint32_t>(text[pos] - '0');
    ++pos;
    ++digits;
  }
  if (digits == 0 || port == 0 || port > 65535 || pos >= text.size() || text[pos] != delim) {
    return std::nullopt;
  }
  return static_cast<std::uint16_t>(port);
}

std::optional<std::uint16_t> ParsePasvPort(const Reply& reply) {
  const std::string_view text = reply.FirstText();
  std::array<int, 6> numbers{};
  for (std::size_t pos = 0; pos < text.size(); ++pos) {
    if (!IsDigit(text[pos]) || (pos > 0 && IsDigit(text[pos - 1]))) continue;
    if (ReadByteList(text, pos, 6, numbers)) {
      const int port = numbers[4] * 256 + numbers[5];
      if (port == 0) return std::nullopt;
      return static_cast<std::uint16_t>(port);
    }
  }
  return std::nullopt;
}

std::optional<std::string> ParsePwdPath(const Reply& reply) {
  if (reply.code != 257) return std::nullopt;
  const std::string_view text = reply.FirstText();
  const std::size_t open = text.find('"');
  if (open == std::string_view::npos) {
    // Some servers omit the quotes: "257 /pub is the current directory". Where the path ends is
    // then a guess: only a path the text ends with, or one followed by " is ", is taken, so that
    // "257 /pub/my folder is ..." is unreadable rather than read as "/pub/my".
    const std::size_t blank = std::min(text.find(' '), text.size());
    const std::string_view word = text.substr(0, blank);
    const std::string_view rest = text.substr(blank);
    if (word.empty() || !(rest.empty() || rest.substr(0, 4) == " is ")) return std::nullopt;
    return std::string(word);
  }
  std::string path;
  for (std::size_t pos = open + 1; pos < text.size(); ++pos) {
    if (text[pos] != '"') {
      path += text[pos];
    } else if (pos + 1 < text.size() && text[pos + 1] == '"') {
      path += '"';
      ++pos;
    } else {
      return path.empty() ? std::nullopt : std::optional<std::string>(path);
    }
  }
  return std::nullopt;
}

std::optional<std::vector<MlstFact>> ParseMlstFacts(const Reply& feat) {
  for (std::size_t i = 1; i < feat.lines.size(); ++i) {
    std::string_view line = feat.lines[i];
    while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
    if (line.size() < 4 || Lower(line.substr(0, 4)) != "mlst" ||
        (line.size() > 4 && line[4] != ' ')) {
      continue;
    }
    std::vector<MlstFact> facts;
    std::string_view list = line.substr(std::min<std::size_t>(5, line.size()));
    while (!list.empty()) {
      const std::size_t end = std::min(list.find(';'), list.size());
      std::string_view name = list.substr(0, end);
      list.remove_prefix(std::min(end + 1, list.size()));
      const bool on = !name.empty() && name.back() == '*';
      if (on) name.remove_suffix(1);
      if (!name.empty()) facts.push_back({Lower(name), on});
    }
    return facts;
  }
  return std::nullopt;
}

std::optional<std::int64_t> ParseAnnouncedSize(const Reply& reply) {
  const std::string text = Lower(reply.FirstText());
  const std::size_t marker = text.rfind(" bytes)");
  if (marker == std::string::npos) return std::nullopt;
  std::size_t begin = marker;
  while (begin > 0 && IsDigit(text[begin - 1])) --begin;
  if (begin == marker || begin == 0 || text[begin - 1] != '(' || marker - begin > 18) {
    return std::nullopt;
  }
  std::int64_t size = 0;
  for (std::size_t pos = begin; pos < marker; ++pos) size = size * 10 + (text[pos] - '0');
  return size;
}

}  // namespace pullwire::ftp
