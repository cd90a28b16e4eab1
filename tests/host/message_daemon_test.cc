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

TEST(MessageDaemonTest, takes_only_calls_that_fit_set_message) {
  testing::PrivateEnvironment env;
  std::mutex mutex;
  std::vector<HostMessage> received;
  MessageDaemon daemon("5", [&](const HostMessage& m) {
    std::lock_guard lock(mutex);
    received.push_back(m);
  });
  ASSERT_EQ(daemon.Start(), com::S_OK);
  com::ComPtr<com::IDispatch> client;
  ASSERT_EQ(com::CreateObject("nrvd5.IPCdaemon", com::IID_IDispatch, client.ReceiveVoid()),
            com::S_OK);
  // The proxy names members lazily; the daemon refuses the unknown name when it is called.
  const struct {
    const char* member;
    std::vector<com::Variant> args;
    com::HRESULT result;
  } calls[] = {
      {"GetMessage", {std::int16_t{0}, "text", "time"}, com::DISP_E_UNKNOWNNAME},
      {"SetMessage", {std::int16_t{0}, "text"}, com::DISP_E_BADPARAMCOUNT},
      {"SetMessage", {"0", "text", "time"}, com::DISP_E_TYPEMISMATCH},
      {"SetMessage", {std::int32_t{70000}, "text", "time"}, com::DISP_E_TYPEMISMATCH},
      // A host's 32-bit type is taken when it fits 16 bits.
      {"SetMessage", {std::int32_t{7}, "text", "time"}, com::S_OK},
  };
  for (const auto& call : calls) {
    SCOPED_TRACE("call " + std::to_string(&call - calls));
    com::DispId id = com::kDispIdUnknown;
    ASSERT_EQ(client->GetIDsOfNames(call.member, &id), com::S_OK);
    std::vector<com::Variant> args = call.args;
    EXPECT_EQ(client->Invoke(id, com::InvokeKind::kMethod, args, nullptr), call.result);
  }
  std::lock_guard lock(mutex);
  EXPECT_EQ(received, (std::vector<HostMessage>{{"time", 7, "text"}}));
  EXPECT_EQ(FormatHostMessage(received.at(0)), "time  TYPE7  text");
  com::GetErrorInfo();
}

}  // namespace
}  // namespace pullwire::host
