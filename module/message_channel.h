// The one way the plug-in tells the host's message daemon about progress, warnings and errors.
#pragma once

#include <cstdint>
#include <string>

namespace pullwire {

// Message types (Mtype): progress is sent only while AutoLog is on; the caller checks that.
inline constexpr std::int16_t kInformationMessage = 0;
inline constexpr std::int16_t kWarningMessage = 1;
inline constexpr std::int16_t kErrorMessage = 2;

class MessageChannel {
 public:
  virtual ~MessageChannel() = default;

  // Sends one message with the current timestamp. Never fails towards the caller: a daemon that
  // is missing, refuses or does not answer in time loses the message silently.
  virtual void SendHostMessage(const std::string& message, std::int16_t mtype) = 0;

  // The call that sent the messages (Execute) ends: returns once every message sent so far has
  // reached the host, or has been given up for lost. Never fails towards the caller.
  virtual void EndRun() {}
};

}  // namespace pullwire
