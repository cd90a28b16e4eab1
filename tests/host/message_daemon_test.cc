// The host's message daemon in-process: which SetMessage calls it takes and how a type no
// plug-in of ours sends is printed (the usual lines and a second daemon are the `pullwire daemon`
// tests').
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

TEST_F(MessageDaemonTest, takes_only_calls_that_fit_set_message) {
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
  // A host's 32-bit type is taken when it fits 16 bits.
  std::array<com::Variant, 3> wide{std::int32_t{7}, "text", "time"};
  EXPECT_EQ(client->Invoke(id, com::InvokeKind::kMethod, wide, nullptr), com::S_OK);
  EXPECT_EQ(Received(), (std::vector<HostMessage>{{"time", 7, "text"}}));
  EXPECT_EQ(FormatHostMessage(Received().at(0)), "time  TYPE7  text");
  com::GetErrorInfo();
}

}  // namespace
}  // namespace pullwire::host
