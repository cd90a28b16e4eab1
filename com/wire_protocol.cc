// JSON encoding of Variants, Invoke requests and replies, and the frame splitter.
#include "com/wire_protocol.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <nlohmann/json.hpp>

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
    int byte = 0;
    for (std::size_t k = 0; k < 2; ++k) {
      const char c = hex[i + k];
      int digit;
      if (c >= '0' && c <= '9') {
        digit = c - '0';
      } else if (c >= 'a' && c <= 'f') {
        digit = c - 'a' + 10;
      } else {
        throw ProtocolError(fmt::format("string hex holds '{}'", c));
      }
      byte = byte * 16 + digit;
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
Int IntegerValue(const json& value, std::string_view name) {
  if (!value.is_number_integer()) throw ProtocolError(fmt::format("\"{}\" is not an integer", name));
  const std::int64_t v = value.is_number_unsigned() && value.get<std::uint64_t>() > INT64_MAX
                             ? INT64_MAX
                             : value.get<std::int64_t>();
  if (v < std::numeric_limits<Int>::min() || v > std::numeric_limits<Int>::max()) {
    throw ProtocolError(fmt::format("\"{}\" value {} is out of range", name, v));
  }
  return static_cast<Int>(v);
}

template <typename Int>
Int IntegerMember(const json& object, const char* name) {
  return IntegerValue<Int>(Member(object, name), name);
}

const std::string& StringMember(const json& object, const char* name) {
  const json& value = Member(object, name);
  if (!value.is_string()) throw ProtocolError(fmt::format("\"{}\" is not a string", name));
  return value.get_ref<const std::string&>();
}

std::string DecodeString(const json& j) {
  if (StringMember(j, "type") != "string") throw ProtocolError("expected a string value");
  if (j.contains("hex")) return FromHex(StringMember(j, "hex"));
  return StringMember(j, "value");
}

json ScalarJson(const RecordField::Value& value) {
  struct Visitor {
    json operator()(VariantBool b) const { return {{"type", "bool"}, {"value", b.value}}; }
    json operator()(std::int16_t i) const { return {{"type", "int16"}, {"value", i}}; }
    json operator()(std::int32_t i) const { return {{"type", "int32"}, {"value", i}}; }
    json operator()(const std::string& s) const { return StringJson(s); }
  };
  return std::visit(Visitor{}, value);
}

RecordField::Value DecodeScalar(const json& j) {
  const std::string& type = StringMember(j, "type");
  if (type == "bool") return VariantBool{IntegerMember<std::int16_t>(j, "value")};
  if (type == "int16") return IntegerMember<std::int16_t>(j, "value");
  if (type == "int32") return IntegerMember<std::int32_t>(j, "value");
  if (type == "string") return DecodeString(j);
  throw ProtocolError(fmt::format("unknown scalar type \"{}\"", type));
}

json ArrayJson(const StringArray& array) {
  json bounds = json::array();
  for (const ArrayBound& b : array.Bounds()) bounds.push_back(json::array({b.lower_bound, b.count}));
  json items = json::array();
  for (const std::string& s : array.Items()) items.push_back(StringJson(s));
  return json{{"type", "string_array"}, {"bounds", std::move(bounds)}, {"items", std::move(items)}};
}

StringArray DecodeArray(const json& j) {
  constexpr std::uint64_t kSaturated = std::uint64_t{1} << 40;
  const json& bounds_json = Member(j, "bounds");
  const json& items_json = Member(j, "items");
  if (!bounds_json.is_array() || !items_json.is_array()) throw ProtocolError("array bounds or items are not lists");
  if (bounds_json.size() > 60) throw ProtocolError("array has more than 60 dimensions");
  std::vector<ArrayBound> bounds;
  std::uint64_t total = bounds_json.empty() ? 0 : 1;
  for (const json& b : bounds_json) {
    if (!b.is_array() || b.size() != 2) throw ProtocolError("an array bound is not [lower_bound, count]");
    const ArrayBound bound{IntegerValue<std::int32_t>(b[0], "lower_bound"), IntegerValue<std::int32_t>(b[1], "count")};
    if (bound.count < 0) throw ProtocolError("an array bound has a negative count");
    total *= static_cast<std::uint64_t>(bound.count);
    total = std::min(total, kSaturated);  // far beyond any frame; keeps the product from overflowing
    bounds.push_back(bound);
  }
  if (total != items_json.size()) {
    throw ProtocolError(fmt::format("array bounds call for {}{} items, {} given", total == kSaturated ? "over " : "",
                                    total, items_json.size()));
  }
  StringArray array = StringArray::WithBounds(std::move(bounds));
  for (std::size_t i = 0; i < items_json.size(); ++i) array.Items()[i] = DecodeString(items_json[i]);
  return array;
}

json RecordJson(const Record& record) {
  json fields = json::array();
  for (const RecordField& f : record.fields) {
    json field = ScalarJson(f.value);
    field["name"] = f.name;
    fields.push_back(std::move(field));
  }
  return json{{"type", "record"}, {"name", record.type_name}, {"fields", std::move(fields)}};
}

Record DecodeRecord(const json& j) {
  Record record;
  record.type_name = StringMember(j, "name");
  const json& fields = Member(j, "fields");
  if (!fields.is_array()) throw ProtocolError("record fields are not a list");
  for (const json& f : fields) record.fields.push_back(RecordField{StringMember(f, "name"), DecodeScalar(f)});
  return record;
}

json VariantJson(const Variant& value) {
  struct Visitor {
    json operator()(EmptyValue) const { return {{"type", "empty"}}; }
    json operator()(VariantBool b) const { return ScalarJson(b); }
    json operator()(std::int16_t i) const { return ScalarJson(i); }
    json operator()(std::int32_t i) const { return ScalarJson(i); }
    json operator()(const std::string& s) const { return StringJson(s); }
    json operator()(const StringArray& a) const { return ArrayJson(a); }
    json operator()(const Record& r) const { return RecordJson(r); }
  };
  return std::visit(Visitor{}, value.storage());
}

Variant VariantFrom(const json& j) {
  const std::string& type = StringMember(j, "type");
  if (type == "empty") return Variant();
  if (type == "string_array") return DecodeArray(j);
  if (type == "record") return DecodeRecord(j);
  return std::visit([](auto&& scalar) { return Variant(std::move(scalar)); }, DecodeScalar(j));
}

json ArgsJson(const std::vector<Variant>& args) {
  json list = json::array();
  for (const Variant& v : args) list.push_back(VariantJson(v));
  return list;
}

std::vector<Variant> ArgsFrom(const json& message) {
  std::vector<Variant> args;
  if (!message.contains("args")) return args;
  const json& list = message["args"];
  if (!list.is_array()) throw ProtocolError("\"args\" is not a list");
  for (const json& v : list) args.push_back(VariantFrom(v));
  return args;
}

json Parse(std::string_view text) {
  json j = json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (j.is_discarded()) throw ProtocolError("not valid JSON");
  if (!j.is_object()) throw ProtocolError("not a JSON object");
  return j;
}

json ParseMessage(std::string_view text) {
  json j = Parse(text);
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

const char* KindName(InvokeKind kind) {
  switch (kind) {
    case InvokeKind::kMethod: return "method";
    case InvokeKind::kPropertyGet: return "get";
    case InvokeKind::kPropertyPut: return "put";
  }
  return "method";
}

}  // namespace

std::string EncodeVariant(const Variant& value) { return Dump(VariantJson(value)); }

Variant DecodeVariant(std::string_view text) { return VariantFrom(Parse(text)); }

std::string EncodeRequest(const InvokeRequest& request) {
  return Dump(json{{"v", kWireProtocolVersion},
                   {"member", request.member},
                   {"kind", KindName(request.kind)},
                   {"args", ArgsJson(request.args)}});
}

InvokeRequest DecodeRequest(std::string_view text) {
  const json j = ParseMessage(text);
  InvokeRequest request;
  request.member = StringMember(j, "member");
  if (request.member.empty()) throw ProtocolError("\"member\" is empty");
  const std::string& kind = StringMember(j, "kind");
  if (kind == "method") {
    request.kind = InvokeKind::kMethod;
  } else if (kind == "get") {
    request.kind = InvokeKind::kPropertyGet;
  } else if (kind == "put") {
    request.kind = InvokeKind::kPropertyPut;
  } else {
    throw ProtocolError(fmt::format("unknown invoke kind \"{}\"", kind));
  }
  request.args = ArgsFrom(j);
  return request;
}

std::string EncodeReply(const InvokeReply& reply) {
  json j{{"v", kWireProtocolVersion}, {"hresult", reply.hr}};
  if (Succeeded(reply.hr)) {
    j["result"] = VariantJson(reply.result);
    j["args"] = ArgsJson(reply.args);
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
    reply.args = ArgsFrom(j);
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

std::optional<std::string> FrameReader::Next() {
  if (buffer_.size() < 4) return std::nullopt;
  std::uint32_t n = 0;
  for (int i = 0; i < 4; ++i) n = (n << 8) | static_cast<unsigned char>(buffer_[static_cast<std::size_t>(i)]);
  if (n > kMaxFrameBytes) {
    throw ProtocolError(fmt::format("frame of {} bytes exceeds the limit of {}", n, kMaxFrameBytes));
  }
  if (buffer_.size() < 4 + std::size_t{n}) return std::nullopt;
  std::string body = buffer_.substr(4, n);
  buffer_.erase(0, 4 + std::size_t{n});
  return body;
}

}  // namespace pullwire::com
