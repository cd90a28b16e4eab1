// The local-server wire protocol: length-prefixed JSON frames carrying calls to a served object
// and their replies, with scalar and string Variants.
//
// A frame is a 4-byte big-endian length followed by that many bytes of UTF-8 JSON, at most
// kMaxFrameBytes. Requests (client to server), carried out in the order they arrive, each a
// method call (a local server's members are methods) or a sync:
//   {"v":2,"op":"call","member":"SetMessage","args":[<variant>...]}
//   {"v":2,"op":"post","member":"SetMessage","args":[<variant>...]}
//   {"v":2,"op":"sync"}
// A call is answered; a post never is (neither its success nor its failure); a sync is answered
// once everything before it has been carried out. A reply, success or failure:
//   {"v":2,"hresult":0,"result":<variant>}
//   {"v":2,"hresult":-2146828279,"error":{"number":9,"description":"...","source":"..."}}
// A variant:
//   {"type":"empty"}  {"type":"bool","value":-1}  {"type":"int16","value":7}
//   {"type":"int32","value":70000}  {"type":"string","value":"text"}
//   {"type":"string","hex":"e9"}                 (a string that is not valid UTF-8)
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
inline constexpr int kWireProtocolVersion = 2;

// Anything malformed on the wire: bad JSON, unknown type, value out of range, oversized frame;
// also a value the wire does not carry (a string array or a record).
class PULLWIRE_COM_API ProtocolError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class RequestOp { kCall, kPost, kSync };

struct InvokeRequest {
  RequestOp op = RequestOp::kCall;
  std::string member;  // empty for a sync, as are the args
  std::vector<Variant> args;

  friend bool operator==(const InvokeRequest&, const InvokeRequest&) = default;
};

struct InvokeReply {
  HRESULT hr = S_OK;
  Variant result;
  std::optional<ErrorRecord> error;  // only with a failing hr

  friend bool operator==(const InvokeReply&, const InvokeReply&) = default;
};

// Encoders throw ProtocolError for a value the wire does not carry and when the encoded frame
// would exceed kMaxFrameBytes; decoders throw ProtocolError with a description of the first fault.
PULLWIRE_COM_API std::string EncodeRequest(const InvokeRequest& request);
PULLWIRE_COM_API InvokeRequest DecodeRequest(std::string_view json);
PULLWIRE_COM_API std::string EncodeReply(const InvokeReply& reply);
PULLWIRE_COM_API InvokeReply DecodeReply(std::string_view json);

// The length prefix followed by `body`.
PULLWIRE_COM_API std::string Frame(std::string_view body);

// Splits a byte stream into frame bodies, for readers that get bytes in arbitrary pieces.
class PULLWIRE_COM_API FrameReader {
 public:
  void Append(std::string_view bytes);
  // The next complete body, nullopt while incomplete; throws ProtocolError for a frame longer
  // than kMaxFrameBytes (the stream cannot be trusted after that).
  std::optional<std::string> Next();
  // Bytes received that do not yet form a complete frame.
  std::size_t pending() const { return buffer_.size() - start_; }

 private:
  std::string buffer_;
  std::size_t start_ = 0;  // bodies already taken end here; compacted on the next Append
};

}  // namespace pullwire::com
