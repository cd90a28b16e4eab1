// The local-server wire protocol: length-prefixed JSON frames carrying one Invoke request or
// its reply, with Variants encoded by type.
//
// A frame is a 4-byte big-endian length followed by that many bytes of UTF-8 JSON, at most
// kMaxFrameBytes. A request (client to server):
//   {"v":1,"member":"SetMessage","kind":"method","args":[<variant>...]}
// its reply, success or failure:
//   {"v":1,"hresult":0,"result":<variant>,"args":[<variant>...]}
//   {"v":1,"hresult":-2146828279,"error":{"number":9,"description":"...","source":"..."}}
// "args" in a reply are the arguments as the object left them (written back to by-reference
// arguments). A variant:
//   {"type":"empty"}  {"type":"bool","value":-1}  {"type":"int16","value":7}
//   {"type":"int32","value":70000}  {"type":"string","value":"text"}
//   {"type":"string","hex":"e9"}                 (a string that is not valid UTF-8)
//   {"type":"string_array","bounds":[[1,2]],"items":[<string>,<string>]}
//   {"type":"record","name":"VarType","fields":[{"name":"Use","type":"bool","value":0},...]}
// where an item or a field value is encoded like a string or scalar variant without "name".
#pragma once

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "com/error_info.h"
#include "com/export.h"
#include "com/unknown.h"
#include "com/variant.h"

namespace pullwire::com {

inline constexpr std::size_t kMaxFrameBytes = 1 << 20;
inline constexpr int kWireProtocolVersion = 1;

// Anything malformed on the wire: bad JSON, unknown type, value out of range, oversized frame.
class PULLWIRE_COM_API ProtocolError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct InvokeRequest {
  std::string member;
  InvokeKind kind = InvokeKind::kMethod;
  std::vector<Variant> args;

  friend bool operator==(const InvokeRequest&, const InvokeRequest&) = default;
};

struct InvokeReply {
  HRESULT hr = S_OK;
  Variant result;
  std::vector<Variant> args;
  std::optional<ErrorRecord> error;  // only with a failing hr

  friend bool operator==(const InvokeReply&, const InvokeReply&) = default;
};

// Encoders throw ProtocolError only when the encoded frame would exceed kMaxFrameBytes;
// decoders throw ProtocolError with a description of the first fault.
PULLWIRE_COM_API std::string EncodeVariant(const Variant& value);
PULLWIRE_COM_API Variant DecodeVariant(std::string_view json);
PULLWIRE_COM_API std::string EncodeRequest(const InvokeRequest& request);
PULLWIRE_COM_API InvokeRequest DecodeRequest(std::string_view json);
PULLWIRE_COM_API std::string EncodeReply(const InvokeReply& reply);
PULLWIRE_COM_API InvokeReply DecodeReply(std::string_view json);

// The length prefix followed by `body`.
PULLWIRE_COM_API std::string Frame(std::string_view body);

// Splits a byte stream into frame bodies, for readers that get bytes in arbitrary pieces.
class PULLWIRE_COM_API FrameReader {
 public:
  void Append(std::string_view bytes) { buffer_.append(bytes); }
  // The next complete body, nullopt while incomplete; throws ProtocolError for a frame longer
  // than kMaxFrameBytes (the stream cannot be trusted after that).
  std::optional<std::string> Next();
  // Bytes received that do not yet form a complete frame.
  std::size_t pending() const { return buffer_.size(); }

 private:
  std::string buffer_;
};

}  // namespace pullwire::com
