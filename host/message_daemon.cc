// The daemon object behind each connection.
#include "host/message_daemon.h"

#include "com/names.h"
#include "com/ref_counted.h"

namespace pullwire::host {
namespace {

constexpr com::DispId kSetMessageId = 1;

class DaemonObject final : public com::RefCounted<com::IDispatch> {
 public:
  explicit DaemonObject(MessageSink sink) : sink_(std::move(sink)) {}

  com::HRESULT QueryInterface(const com::Guid& iid, void** object) override {
    return com::QueryInterfaceFrom(iid, object, {com::Expose<com::IDispatch>(this, com::IID_IDispatch)});
  }

  com::HRESULT GetIDsOfNames(std::string_view name, com::DispId* id) override {
    if (id == nullptr) return com::E_POINTER;
    *id = com::EqualsIgnoringCase(name, "SetMessage") ? kSetMessageId : com::kDispIdUnknown;
    return *id == kSetMessageId ? com::S_OK : com::DISP_E_UNKNOWNNAME;
  }

  // SetMessage(type: 16-bit integer, text: string, timestamp: string).
  com::HRESULT Invoke(com::DispId id, com::InvokeKind kind, std::span<com::Variant> args,
                      com::Variant* result) override {
    if (result != nullptr) *result = com::Variant();
    if (id != kSetMessageId || kind == com::InvokeKind::kPropertyPut) return com::DISP_E_MEMBERNOTFOUND;
    if (args.size() != 3) return com::DISP_E_BADPARAMCOUNT;
    HostMessage message;
    if (const auto* small = args[0].Get<std::int16_t>()) {
      message.mtype = *small;
    } else if (const auto* wide = args[0].Get<std::int32_t>(); wide && *wide >= -32768 && *wide <= 32767) {
      message.mtype = static_cast<std::int16_t>(*wide);
    } else {
      return com::DISP_E_TYPEMISMATCH;
    }
    const auto* text = args[1].Get<std::string>();
    const auto* timestamp = args[2].Get<std::string>();
    if (text == nullptr || timestamp == nullptr) return com::DISP_E_TYPEMISMATCH;
    message.text = *text;
    message.timestamp = *timestamp;
    return com::GuardedCall("nrvd.IPCdaemon", [&] {
      sink_(message);
      return com::S_OK;
    });
  }

 private:
  MessageSink sink_;
};

}  // namespace

MessageDaemon::MessageDaemon(const std::string& instance, MessageSink sink)
    : prog_id_("nrvd" + instance + ".IPCdaemon"),
      server_(prog_id_, [sink = std::move(sink)] { return com::ComPtr<com::IDispatch>::Owned(new DaemonObject(sink)); }) {}

}  // namespace pullwire::host
