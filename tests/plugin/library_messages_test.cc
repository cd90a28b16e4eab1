// Messages from the loaded library to the host's message daemon over a real local server: the
// exact texts, types and timestamps, and every way the daemon can be missing or failing.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <regex>

#include "com/error_info.h"
#include "host_view.h"
#include "loaded_library.h"
#include "private_environment.h"
#include "recording_daemon.h"

namespace pullwire {
namespace {

using com::StringArray;
using testing::DaemonCall;
using testing::LoadedLibrary;
using testing::PrivateEnvironment;
using testing::Read;
using testing::RecordingDaemon;

// Seconds between the timestamp "dd-mmm-yyyy hh:nn.ss" (local time) and now; a large value when
// the text does not have that shape.
double SecondsFromNow(const std::string& timestamp) {
  static const std::regex pattern(
      R"(^(\d{2})-(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec)-(\d{4}) (\d{2}):(\d{2})\.(\d{2})$)");
  std::smatch m;
  if (!std::regex_match(timestamp, m, pattern)) return 1e9;
  static const std::string months = "JanFebMarAprMayJunJulAugSepOctNovDec";
  std::tm local{};
  local.tm_mday = std::stoi(m[1]);
  local.tm_mon = static_cast<int>(months.find(m[2].str()) / 3);
  local.tm_year = std::stoi(m[3]) - 1900;
  local.tm_hour = std::stoi(m[4]);
  local.tm_min = std::stoi(m[5]);
  local.tm_sec = std::stoi(m[6]);
  local.tm_isdst = -1;
  return std::difftime(std::time(nullptr), std::mktime(&local));
}

// Checks one SetMessage call: (16-bit type, text, timestamp of now).
void ExpectMessage(const DaemonCall& call, std::int16_t mtype, const std::string& text) {
  ASSERT_EQ(call.args.size(), 3u);
  ASSERT_NE(call.args[0].Get<std::int16_t>(), nullptr) << "the type travels as a 16-bit integer";
  EXPECT_EQ(*call.args[0].Get<std::int16_t>(), mtype);
  ASSERT_NE(call.args[1].Get<std::string>(), nullptr);
  EXPECT_EQ(*call.args[1].Get<std::string>(), text);
  ASSERT_NE(call.args[2].Get<std::string>(), nullptr);
  const double age = SecondsFromNow(*call.args[2].Get<std::string>());
  EXPECT_TRUE(age >= 0 && age <= 10) << *call.args[2].Get<std::string>();
}

class LibraryMessagesTest : public ::testing::Test {
 protected:
  LibraryMessagesTest() : library_(env_.root()), box_(library_.NewToolbox()) {}

  PrivateEnvironment env_;
  LoadedLibrary library_;
  com::ComPtr<_Toolbox> box_;
};

TEST_F(LibraryMessagesTest, messages_reach_the_daemon_of_the_instance_with_type_text_and_timestamp) {
  RecordingDaemon daemon("nrvd2.IPCdaemon");
  ASSERT_EQ(daemon.Start(), com::S_OK);
  RecordingDaemon other("nrvd.IPCdaemon");
  ASSERT_EQ(other.Start(), com::S_OK);

  box_->put_dInstance("2");
  box_->Init();
  ASSERT_EQ(box_->Execute("other", StringArray({}, 1), nullptr), com::S_OK);
  ASSERT_EQ(box_->Execute("PULLWIRE", StringArray({"only the host"}, 1), nullptr), com::S_OK);

  const auto calls = daemon.log().Calls();
  ASSERT_EQ(calls.size(), 2u);
  ExpectMessage(calls[0], 1, "WARNING: Module [OTHER] is unknown!");
  ExpectMessage(calls[1], 2, "ERROR_PULL-WIRE [Subscript out of range]");
  EXPECT_TRUE(other.log().Calls().empty());
  EXPECT_TRUE(daemon.log().WaitForReleases(2)) << "one daemon object per Execute, released when it returns";
  EXPECT_EQ(daemon.log().connections, 2);
  EXPECT_FALSE(com::GetErrorInfo().has_value());
}

TEST_F(LibraryMessagesTest, an_empty_instance_reaches_nrvd_ipcdaemon_and_state_is_shared_by_objects) {
  RecordingDaemon daemon("nrvd.IPCdaemon");
  ASSERT_EQ(daemon.Start(), com::S_OK);
  auto second = library_.NewToolbox();
  second->Execute("Pullwire2", StringArray({}, 0), nullptr);
  ASSERT_EQ(daemon.log().Calls().size(), 1u);
  ExpectMessage(daemon.log().Calls()[0], 1, "WARNING: Module [PULLWIRE2] is unknown!");

  RecordingDaemon seven("nrvd7.IPCdaemon");
  ASSERT_EQ(seven.Start(), com::S_OK);
  box_->put_dInstance("7");
  second->Execute("x", StringArray({}, 0), nullptr);
  ASSERT_EQ(seven.log().Calls().size(), 1u) << "the second object uses the instance the first one set";
  ExpectMessage(seven.log().Calls()[0], 1, "WARNING: Module [X] is unknown!");
}

TEST_F(LibraryMessagesTest, without_a_daemon_messages_are_dropped_silently) {
  box_->put_dInstance("absent");
  ASSERT_EQ(box_->Execute("other", StringArray({}, 1), nullptr), com::S_OK);
  EXPECT_EQ(Read(*box_, &_Toolbox::get_Error), com::kVariantFalse) << "a lost message is not a failure";
  EXPECT_FALSE(com::GetErrorInfo().has_value());
}

TEST_F(LibraryMessagesTest, a_daemon_without_set_message_or_failing_in_it_is_ignored) {
  RecordingDaemon daemon("nrvdodd.IPCdaemon");
  ASSERT_EQ(daemon.Start(), com::S_OK);
  box_->put_dInstance("odd");
  daemon.log().no_set_message = true;
  ASSERT_EQ(box_->Execute("one", StringArray({}, 1), nullptr), com::S_OK);
  EXPECT_TRUE(daemon.log().Calls().empty());
  daemon.log().no_set_message = false;
  daemon.log().fail_set_message = true;
  ASSERT_EQ(box_->Execute("two", StringArray({}, 1), nullptr), com::S_OK);
  ASSERT_EQ(daemon.log().Calls().size(), 1u);
  ExpectMessage(daemon.log().Calls()[0], 1, "WARNING: Module [TWO] is unknown!");
  EXPECT_EQ(Read(*box_, &_Toolbox::get_Error), com::kVariantFalse);
  EXPECT_FALSE(com::GetErrorInfo().has_value()) << "the daemon's raised error does not reach the host";
}

}  // namespace
}  // namespace pullwire
