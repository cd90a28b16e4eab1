// Message lines of the pullwire host.
#include "host/message_format.h"

#include <fmt/format.h>

namespace pullwire::host {

std::string MessageLabel(std::int16_t mtype) {
  switch (mtype) {
    case 0: return "INFO";
    case 1: return "WARN";
    case 2: return "ERROR";
    default: return fmt::format("TYPE{}", mtype);
  }
}

std::string FormatHostMessage(const HostMessage& message) {
  return fmt::format("{}  {}  {}", message.timestamp, MessageLabel(message.mtype), message.text);
}

void MessagePrinter::Print(const HostMessage& message) {
  const std::string line = FormatHostMessage(message) + "\n";
  std::lock_guard lock(mutex_);
  std::fwrite(line.data(), 1, line.size(), out_);
  std::fflush(out_);
}

}  // namespace pullwire::host
