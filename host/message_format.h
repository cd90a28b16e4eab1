// How the pullwire host shows a message from the plug-in: "04-Mar-2026 09:05.07  INFO  Connected!".
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

namespace pullwire::host {

struct HostMessage {
  std::string timestamp;
  std::int16_t mtype = 0;  // 0 information, 1 warning, 2 error
  std::string text;

  friend bool operator==(const HostMessage&, const HostMessage&) = default;
};

// "INFO", "WARN", "ERROR"; another type shows as "TYPE<n>".
std::string MessageLabel(std::int16_t mtype);

// Timestamp, label and text separated by two blanks.
std::string FormatHostMessage(const HostMessage& message);

// Writes each message as one line and flushes, from whichever thread delivers it.
class MessagePrinter {
 public:
  explicit MessagePrinter(std::FILE* out) : out_(out) {}
  void Print(const HostMessage& message);

 private:
  std::mutex mutex_;
  std::FILE* out_;
};

}  // namespace pullwire::host
