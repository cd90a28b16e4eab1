// Reply framing: finds line ends, checks the code shape, follows multi-line replies.
#include "ftp/reply.h"

#include <algorithm>

#include "ftp/errors.h"

namespace pullwire::ftp {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// "ddd" with a first digit 1..5, followed by ' ', '-' or the end of the line.
bool HasReplyCode(std::string_view line) {
  return line.size() >= 3 && line[0] >= '1' && line[0] <= '5' && IsDigit(line[1]) &&
         IsDigit(line[2]) && (line.size() == 3 || line[3] == ' ' || line[3] == '-');
}

int CodeOf(std::string_view line) {
  return (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
}

// The line as kept: CR before the LF dropped, NUL bytes removed (RFC 854 lets a NUL follow a
// bare CR; hostile servers put them anywhere).
std::string CleanLine(std::string_view raw) {
  if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
  std::string line;
  line.reserve(raw.size());
  for (char c : raw) {
    if (c != '\0') line += c;
  }
  return line;
}

// The code prefix that closes a multi-line reply: "ddd " or "ddd" alone on its line.
bool ClosesReply(std::string_view line, std::string_view code) {
  return line.size() >= 3 && line.substr(0, 3) == code && (line.size() == 3 || line[3] == ' ');
}

}  // namespace

FrameResult FrameReply(std::string_view buffer, const FrameLimits& limits) {
  FrameResult result;
  std::size_t pos = 0;
  std::string first_code;
  bool multi_line = false;
  while (true) {
    const std::size_t end = buffer.find('\n', pos);
    if (end == std::string_view::npos) {
      const bool line_too_long = buffer.size() - pos > limits.max_line;
      const bool reply_too_long = buffer.size() > limits.max_reply;
      if (line_too_long || reply_too_long) result.status = FrameStatus::kTooLong;
      return result;
    }
    if (end - pos > limits.max_line || end + 1 > limits.max_reply) {
      result.status = FrameStatus::kTooLong;
      return result;
    }
    std::string line = CleanLine(buffer.substr(pos, end - pos));
    pos = end + 1;
    if (first_code.empty()) {
      if (!HasReplyCode(line)) {
        result.status = FrameStatus::kMalformed;
        result.consumed = pos;
        result.reply.lines.push_back(std::move(line));
        return result;
      }
      first_code = line.substr(0, 3);
      multi_line = line.size() > 3 && line[3] == '-';
      result.reply.code = CodeOf(line);
      result.reply.lines.push_back(std::move(line));
      if (!multi_line) break;
      continue;
    }
    const bool closes = ClosesReply(line, first_code);
    result.reply.lines.push_back(std::move(line));
    if (closes) break;
  }
  result.status = FrameStatus::kComplete;
  result.consumed = pos;
  return result;
}

std::string_view Reply::FirstText() const {
  if (lines.empty() || lines.front().size() <= 4) return {};
  return std::string_view(lines.front()).substr(4);
}

std::string Reply::Quote() const {
  std::string text = std::to_string(code);
  const std::string code_text = text;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string_view line = lines[i];
    // The code of the first and last line is already in front; inner lines may repeat it too.
    if (line.size() >= 3 && line.substr(0, 3) == code_text &&
        (line.size() == 3 || line[3] == ' ' || line[3] == '-')) {
      line.remove_prefix(std::min<std::size_t>(4, line.size()));
    }
    while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
    if (line.empty()) continue;
    text += ' ';
    text += line;
    if (text.size() > 400) break;
  }
  return PrintableText(text);
}

}  // namespace pullwire::ftp
