// Services a test gives a plug-in module: a message channel that records, a fixed clock and a
// desktop that records its boxes and answers no dialog.
#pragma once

#include <chrono>
#include <ctime>
#include <string>
#include <vector>

#include "module/clock.h"
#include "module/message_channel.h"
#include "module/ui_services.h"

namespace pullwire::testing {

struct SentMessage {
  std::string text;
  std::int16_t mtype = 0;

  friend bool operator==(const SentMessage&, const SentMessage&) = default;
};

class RecordingChannel final : public MessageChannel {
 public:
  explicit RecordingChannel(std::vector<SentMessage>* sent) : sent_(sent) {}
  void SendHostMessage(const std::string& message, std::int16_t mtype) override {
    sent_->push_back({message, mtype});
  }

 private:
  std::vector<SentMessage>* sent_;
};

// The local time `year-month-day hour:minute:second` as the system clock reads it.
inline std::chrono::system_clock::time_point LocalTime(int year, int month, int day, int hour, int minute,
                                                       int second) {
  std::tm local{};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_sec = second;
  local.tm_isdst = -1;
  return std::chrono::system_clock::from_time_t(std::mktime(&local));
}

class FixedClock final : public Clock {
 public:
  explicit FixedClock(std::chrono::system_clock::time_point now) : now_(now) {}
  std::chrono::system_clock::time_point Now() override { return now_; }

 private:
  std::chrono::system_clock::time_point now_;
};

struct ShownBox {
  std::string text;
  std::string title;
  MessageIcon icon = MessageIcon::kInformation;

  friend bool operator==(const ShownBox&, const ShownBox&) = default;
};

class RecordingUi final : public UiServices {
 public:
  explicit RecordingUi(std::vector<ShownBox>* boxes) : boxes_(boxes) {}
  void ShowMessage(const std::string& text, const std::string& title, MessageIcon icon) override {
    boxes_->push_back({text, title, icon});
  }

 private:
  std::vector<ShownBox>* boxes_;
};

}  // namespace pullwire::testing
