// JSON encoding of requests, replies and their scalar and string Variants, and the frame splitter.
#include "com/wire_protocol.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <limits>
#include <nlohmann/json.hpp>
#include <utility>

namespace pullwire::com {
namespace {

using nlohmann::json;

// Strict UTF-8 (no overlongs, surrogates or code points above U+10FFFF), as JSON text must be.
bool IsValidUtf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    std::size_t extra = 0;
    std::uint32_t cp = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      extra = 1, cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2, cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3, cp = c & 0x07;
    } else {
      return false;
    }
    if (i + extra >= s.size()) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      const auto cc = static_cast<unsigned char>(s[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    if ((extra == 2 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
        (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF))) {
      return false;
    }
    i += extra + 1;
  }
  return true;
}

std::string ToHex(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const char b : bytes) out += fmt::format("{:02x}", static_cast<unsigned char>(b));
  return out;
}

std::string FromHex(const std::string& hex) {
  if (hex.size() % 2 != 0) throw ProtocolError("string hex has an odd number of digits");
  std::string out;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    unsigned byte = 0;
    const char* digits = hex.data() + i;
    const auto [end, ec] = std::from_chars(digits, digits + 2, byte, 16);
    if (ec != std::errc() || end != digits + 2) {
      throw ProtocolError(fmt::format("string hex holds \"{}\"", std::string_view(digits, 2)));
    }
    out += static_cast<char>(byte);
  }
  return out;
}

json StringJson(const std::string& s) {
  if (IsValidUtf8(s)) return json{{"type", "string"}, {"value", s}};
  return json{{"type", "string"}, {"hex", ToHex(s)}};
}

const json& Member(const json& object, const char* name) {
  if (!object.is_object()) throw ProtocolError(fmt::format("expected an object holding \"{}\"", name));
  const auto it = object.find(name);
  if (it == object.end()) throw ProtocolError(fmt::format("\"{}\" is missing", name));
  return *it;
}

template <typename Int>
Int IntegerMember(const json& object, const char* name) {
  const json& value = Member(object, name);
  if (!value.is_number_integer()) throw ProtocolError(fmt::format("\"{}\" is not an integer", name));
  const std::int64_t v = value.is_number_unsigned() && value.get<std::uint64_t>() > INT64_MAX
                             ? INT64_MAX
                             : value.get<std::int64_t>();
  if (v < std::numeric_limits<Int>::min() || v > std::numeric_limits<Int>::max()) {
    throw ProtocolError(fmt::format("\"{}\" value {} is out of range", name, v));
  }
  return static_cast<Int>(v);
}

const std::string& StringMember(const json& object, const char* name) {
  const json& value = Member(object, name);
  if (!value.is_string()) throw ProtocolError(fmt::format("\"{}\" is not a string", name));
  return value.get_ref<const std::string&>();
}

json VariantJson(const Variant& value) {
  struct Visitor {
    json operator()(EmptyValue) const { return {{"type", "empty"}}; }
    json operator()(VariantBool b) const { return {{"type", "bool"}, {"value", b.value}}; }
    json operator()(std::int16_t i) const { return {{"type", "int16"}, {"value", i}}; }
    json operator()(std::int32_t i) const { return {{"type", "int32"}, {"value", i}}; }
    json operator()(const std::string& s) const { return StringJson(s); }
    json operator()(const StringArray&) const {
      throw ProtocolError("a string array does not cross to a local server");
    }
    json operator()(const Record&) const {
      throw ProtocolError("a record does not cross to a local server");
    }
  };
  return std::visit(Visitor{}, value.storage());
}

Variant VariantFrom(const json& j) {
  const std::string& type = StringMember(j, "type");
  if (type == "empty") return Variant();
  if (type == "bool") return VariantBool{IntegerMember<std::int16_t>(j, "value")};
  if (type == "int16") return IntegerMember<std::int16_t>(j, "value");
  if (type == "int32") return IntegerMember<std::int32_t>(j, "value");
  if (type == "string") {
    return j.contains("hex") ? FromHex(StringMember(j, "hex")) : StringMember(j, "value");
  }
  throw ProtocolError(fmt::format("unknown value type \"{}\"", type));
}

json ArgsJson(const std::vector<Variant>& args) {
  json list = json::array();
  for (const Variant& v : args) list.push_back(VariantJson(v));
  return list;
}

std::vector<Variant> ArgsFrom(const json& message) {
  const json& list = Member(message, "args");
  if (!list.is_array()) throw ProtocolError("\"args\" is not a list");
  std::vector<Variant> args;
  for (const json& v : list) args.push_back(VariantFrom(v));
  return args;
}

json ParseMessage(std::string_view text) {
  json j = json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (j.is_discarded()) throw ProtocolError("not valid JSON");
  if (!j.is_object()) throw ProtocolError("not a JSON object");
  const int version = IntegerMember<int>(j, "v");
  if (version != kWireProtocolVersion) throw ProtocolError(fmt::format("unsupported protocol version {}", version));
  return j;
}

std::string Dump(const json& j) {
  // Values that are not UTF-8 are already hex; names and error texts (a file name in a server's
  // reply, say) get U+FFFD rather than making the whole message fail.
  std::string text = j.dump(-1, ' ', false, json::error_handler_t::replace);
  if (text.size() > kMaxFrameBytes) {
    throw ProtocolError(fmt::format("message of {} bytes exceeds the limit of {}", text.size(), kMaxFrameBytes));
  }
  return text;
}

constexpr std::array<const char*, 3> kOpNames{"call", "post", "sync"};  // indexed by RequestOp

RequestOp OpMember(const json& request) {
  const std::string& op = StringMember(request, "op");
  const auto it = std::find(kOpNames.begin(), kOpNames.end(), op);
  if (it == kOpNames.end()) throw ProtocolError(fmt::format("unknown op \"{}\"", op));
  return static_cast<RequestOp>(it - kOpNames.begin());
}

}  // namespace

std::string EncodeRequest(const InvokeRequest& request) {
  json j{{"v", kWireProtocolVersion}, {"op", kOpNames[static_cast<std::size_t>(request.op)]}};
  if (request.op != RequestOp::kSync) {
    j["member"] = request.member;
    j["args"] = ArgsJson(request.args);
  }
  return Dump(j);
}

InvokeRequest DecodeRequest(std::string_view text) {
  const json j = ParseMessage(text);
  InvokeRequest request;
  request.op = OpMember(j);
  if (request.op == RequestOp::kSync) return request;
  request.member = StringMember(j, "member");
  if (request.member.empty()) throw ProtocolError("\"member\" is empty");
  request.args = ArgsFrom(j);
  return request;
}

std::string EncodeReply(const InvokeReply& reply) {
  json j{{"v", kWireProtocolVersion}, {"hresult", reply.hr}};
  if (Succeeded(reply.hr)) {
    j["result"] = VariantJson(reply.result);
  } else if (reply.error) {
    j["error"] = json{{"number", reply.error->number}, {"description", reply.error->description},
                      {"source", reply.error->source}};
  }
  return Dump(j);
}

InvokeReply DecodeReply(std::string_view text) {
  const json j = ParseMessage(text);
  InvokeReply reply;
  reply.hr = IntegerMember<HRESULT>(j, "hresult");
  if (Succeeded(reply.hr)) {
    reply.result = VariantFrom(Member(j, "result"));
  } else if (j.contains("error")) {
    const json& e = j["error"];
    reply.error = ErrorRecord{IntegerMember<std::int32_t>(e, "number"), StringMember(e, "description"),
                              StringMember(e, "source")};
  }
  return reply;
}

std::string Frame(std::string_view body) {
  if (body.size() > kMaxFrameBytes) {
    throw ProtocolError(fmt::format("message of {} bytes exceeds the limit of {}", body.size(), kMaxFrameBytes));
  }
  const auto n = static_cast<std::uint32_t>(body.size());
  std::string frame;
  frame.reserve(4 + body.size());
  for (int shift = 24; shift >= 0; shift -= 8) frame += static_cast<char>((n >> shift) & 0xFF);
  frame.append(body);
  return frame;
}

void FrameReader::Append(std::string_view bytes) {
  buffer_.erase(0, std::exchange(start_, 0));
  buffer_.append(bytes);
}

std::optional<std::string> FrameReader::Next() {
  if (pending() < 4) return std::nullopt;
  std::uint32_t n = 0;
  for (std::size_t i = 0; i < 4; ++i) n = (n << 8) | static_cast<unsigned char>(buffer_[start_ + i]);
  if (n > kMaxFrameBytes) {
    throw ProtocolError(fmt::format("frame of {} bytes exceeds the limit of {}", n, kMaxFrameBytes));
  }
  if (pending() < 4 + std::size_t{n}) return std::nullopt;
  std::string body = buffer_.substr(start_ + 4, n);
  start_ += 4 + std::size_t{n};
  return body;
}

}  // namespace pullwire::com
