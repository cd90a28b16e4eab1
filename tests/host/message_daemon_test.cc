// The host's message daemon in-process: the SetMessage contract over a real local server and the
// printed line.
#include "host/message_daemon.h"

#include <gtest/gtest.h>

#include <array>
#include <mutex>

#include "com/activation.h"
#include "com/error_info.h"
#include "host/message_format.h"
#include "private_environment.h"

namespace pullwire::host {
namespace {

TEST(message_format, labels_each_type_and_separates_with_two_blanks) {
  EXPECT_EQ(FormatHostMessage({"04-Mar-2026 09:05.07", 0, "Connected!"}), "04-Mar-2026 09:05.07  INFO  Connected!");
  EXPECT_EQ(FormatHostMessage({"04-Mar-2026 09:05.07", 1, "WARNING: Module [X] is unknown!"}),
            "04-Mar-2026 09:05.07  WARN  WARNING: Module [X] is unknown!");
  EXPECT_EQ(FormatHostMessage({"t", 2, "ERROR_PULL-WIRE [x]"}), "t  ERROR  ERROR_PULL-WIRE [x]");
  EXPECT_EQ(MessageLabel(7), "TYPE7");
  EXPECT_EQ(MessageLabel(-1), "TYPE-1");
}

class MessageDaemonTest : public ::testing::Test {
 protected:
  MessageDaemonTest()
      : daemon_("5", [this](const HostMessage& m) {
          std::lock_guard lock(mutex_);
          received_.push_back(m);
        }) {}

  com::ComPtr<com::IDispatch> Connect() {
    com::ComPtr<com::IDispatch> client;
    EXPECT_EQ(com::CreateObject("nrvd5.IPCdaemon", com::IID_IDispatch, client.ReceiveVoid()), com::S_OK);
    return client;
  }
  std::vector<HostMessage> Received() {
    std::lock_guard lock(mutex_);
    return received_;
  }

  testing::PrivateEnvironment env_;
  std::mutex mutex_;
  std::vector<HostMessage> received_;
  MessageDaemon daemon_;
};

TEST_F(MessageDaemonTest, set_message_hands_type_text_and_timestamp_to_the_sink) {
  ASSERT_EQ(daemon_.Start(), com::S_OK);
  EXPECT_EQ(daemon_.prog_id(), "nrvd5.IPCdaemon");
  auto client = Connect();
  ASSERT_TRUE(client);
  com::DispId id = com::kDispIdUnknown;
  ASSERT_EQ(client->GetIDsOfNames("setmessage", &id), com::S_OK);
  std::array<com::Variant, 3> args{std::int16_t{0}, "Connected!", "04-Mar-2026 09:05.07"};
  ASSERT_EQ(client->Invoke(id, com::InvokeKind::kMethod, args, nullptr), com::S_OK);
  std::array<com::Variant, 3> wide{std::int32_t{2}, "ERROR_PULL-WIRE [x]", "04-Mar-2026 09:05.08"};
  ASSERT_EQ(client->Invoke(id, com::InvokeKind::kMethod, wide, nullptr), com::S_OK);
  EXPECT_EQ(Received(), (std::vector<HostMessage>{{"04-Mar-2026 09:05.07", 0, "Connected!"},
                                                  {"04-Mar-2026 09:05.08", 2, "ERROR_PULL-WIRE [x]"}}));
}

TEST_F(MessageDaemonTest, refuses_calls_that_do_not_fit_set_message) {
  ASSERT_EQ(daemon_.Start(), com::S_OK);
  auto client = Connect();
  ASSERT_TRUE(client);
  // The proxy names members lazily; the daemon refuses the unknown name when it is called.
  com::DispId id = com::kDispIdUnknown;
  ASSERT_EQ(client->GetIDsOfNames("GetMessage", &id), com::S_OK);
  std::array<com::Variant, 3> three{std::int16_t{0}, "text", "time"};
  EXPECT_EQ(client->Invoke(id, com::InvokeKind::kMethod, three, nullptr), com::DISP_E_UNKNOWNNAME);
  ASSERT_EQ(client->GetIDsOfNames("SetMessage", &id), com::S_OK);
  std::array<com::Variant, 2> two{std::int16_t{0}, "text"};
  EXPECT_EQ(client->Invoke(id, com::InvokeKind::kMethod, two, nullptr), com::DISP_E_BADPARAMCOUNT);
  std::array<com::Variant, 3> text_type{"0", "text", "time"};
  EXPECT_EQ(client->Invoke(id, com::InvokeKind::kMethod, text_type, nullptr), com::DISP_E_TYPEMISMATCH);
  std::array<com::Variant, 3> big_type{std::int32_t{70000}, "text", "time"};
  EXPECT_EQ(client->Invoke(id, com::InvokeKind::kMethod, big_type, nullptr), com::DISP_E_TYPEMISMATCH);
  EXPECT_TRUE(Received().empty());
  com::GetErrorInfo();
}

TEST_F(MessageDaemonTest, a_second_daemon_for_the_same_instance_does_not_start) {
  ASSERT_EQ(daemon_.Start(), com::S_OK);
  MessageDaemon second("5", [](const HostMessage&) {});
  EXPECT_TRUE(com::Failed(second.Start()));
  const auto record = com::GetErrorInfo();
  ASSERT_TRUE(record.has_value());
  EXPECT_NE(record->description.find("nrvd5.IPCdaemon"), std::string::npos) << record->description;
}

}  // namespace
}  // namespace pullwire::host
