// The local-server wire format: requests and replies with every value type, malformed messages,
// and frame splitting.
#include "com/wire_protocol.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>

namespace pullwire::com {
namespace {

using ::testing::HasSubstr;

std::string ProtocolErrorOf(auto&& code) {
  try {
    code();
  } catch (const ProtocolError& e) {
    return e.what();
  }
  return "<no error>";
}

TEST(WireMessages, RequestsAndRepliesRoundTripWithEveryValueType) {
  const std::vector<Variant> values = {
      Variant(),
      Variant(kVariantTrue),
      Variant(kVariantFalse),
      Variant(VariantBool{1}),  // a non-canonical True keeps its bits
      Variant(std::int16_t{SHRT_MIN}),
      Variant(std::int16_t{SHRT_MAX}),
      Variant(std::int32_t{INT_MIN}),
      Variant(std::int32_t{INT_MAX}),
      Variant(""),
      Variant("Grüße \"quoted\" \\ \n tab\t"),
      Variant(std::string("caf\xe9 \xff\x00z", 8)),  // Latin-1 bytes and a NUL: not UTF-8
  };
  const std::vector<InvokeRequest> requests = {
      {RequestOp::kCall, "SetMessage", values},
      {RequestOp::kPost, "SetMessage", {Variant(std::int16_t{7}), Variant("\xe9")}},
      {RequestOp::kCall, "Version", {}},
      {RequestOp::kSync, "", {}},
  };
  for (const InvokeRequest& request : requests) {
    const std::string json = EncodeRequest(request);
    EXPECT_EQ(DecodeRequest(json), request) << json;
  }
  EXPECT_EQ(EncodeRequest(requests[3]), R"({"op":"sync","v":2})");
  EXPECT_THAT(EncodeRequest(requests[1]), HasSubstr(R"({"type":"int16","value":7},{"hex":"e9","type":"string"})"));

  for (const Variant& value : values) {
    const InvokeReply ok{S_OK, value, std::nullopt};
    EXPECT_EQ(DecodeReply(EncodeReply(ok)), ok) << EncodeReply(ok);
  }
  const InvokeReply failed{VbErrorResult(9), Variant(), ErrorRecord{9, "Subscript out of range", "nrvd.IPCdaemon"}};
  EXPECT_EQ(DecodeReply(EncodeReply(failed)), failed);
  const InvokeReply bare_failure{E_FAIL, Variant(), std::nullopt};
  EXPECT_EQ(DecodeReply(EncodeReply(bare_failure)), bare_failure);
  // An error text quoting a Latin-1 file name must not make the reply unsendable.
  const InvokeReply latin1{E_FAIL, Variant(), ErrorRecord{E_FAIL, "no caf\xe9", "X"}};
  EXPECT_EQ(DecodeReply(EncodeReply(latin1)).error->description, "no caf\uFFFD");
}

TEST(WireMessages, ValuesTheWireDoesNotCarryAreRefused) {
  const auto request = [](Variant value) {
    return InvokeRequest{RequestOp::kPost, "SetMessage", {std::move(value)}};
  };
  EXPECT_THAT(ProtocolErrorOf([&] { EncodeRequest(request(StringArray({"a"}, 1))); }),
              HasSubstr("a string array does not cross to a local server"));
  EXPECT_THAT(ProtocolErrorOf([&] { EncodeReply({S_OK, Record{"VarType", {}}, std::nullopt}); }),
              HasSubstr("a record does not cross to a local server"));
  EXPECT_THAT(ProtocolErrorOf([&] { EncodeRequest(request(std::string(kMaxFrameBytes, 'x'))); }),
              HasSubstr("exceeds the limit"));
}

TEST(WireMessages, MalformedMessagesAreRejectedWithTheReason) {
  const auto call = [](const std::string& value) {
    return R"({"v":2,"op":"post","member":"X","args":[)" + value + "]}";
  };
  const std::vector<std::pair<std::string, std::string>> requests = {
      {"", "not valid JSON"},
      {R"({"v":2,"op":"sync")", "not valid JSON"},
      {"[1,2]", "not a JSON object"},
      {R"({"op":"sync"})", "\"v\" is missing"},
      {R"({"v":1,"op":"sync"})", "unsupported protocol version 1"},
      {R"({"v":2})", "\"op\" is missing"},
      {R"({"v":2,"op":"send"})", "unknown op \"send\""},
      {R"({"v":2,"op":"call","member":"","args":[]})", "\"member\" is empty"},
      {R"({"v":2,"op":"call","member":"X"})", "\"args\" is missing"},
      {R"({"v":2,"op":"call","member":"X","args":{}})", "\"args\" is not a list"},
      {call("7"), "expected an object holding \"type\""},
      {call("{}"), "\"type\" is missing"},
      {call(R"({"type":7})"), "\"type\" is not a string"},
      {call(R"({"type":"double","value":1.5})"), "unknown value type \"double\""},
      {call(R"({"type":"string_array","bounds":[[1,1]],"items":[]})"), "unknown value type \"string_array\""},
      {call(R"({"type":"int16","value":32768})"), "\"value\" value 32768 is out of range"},
      {call(R"({"type":"int16","value":-32769})"), "out of range"},
      {call(R"({"type":"int32","value":2147483648})"), "out of range"},
      {call(R"({"type":"int32","value":18446744073709551615})"), "out of range"},
      {call(R"({"type":"int32","value":1.0})"), "\"value\" is not an integer"},
      {call(R"({"type":"bool","value":true})"), "\"value\" is not an integer"},
      {call(R"({"type":"string"})"), "\"value\" is missing"},
      {call(R"({"type":"string","hex":"abc"})"), "odd number of digits"},
      {call(R"({"type":"string","hex":"zz"})"), "string hex holds \"zz\""},
  };
  for (const auto& [json, reason] : requests) {
    EXPECT_THAT(ProtocolErrorOf([&] { DecodeRequest(json); }), HasSubstr(reason)) << json;
  }
  EXPECT_THAT(ProtocolErrorOf([] { DecodeReply(R"({"v":2,"hresult":0})"); }), HasSubstr("\"result\" is missing"));
  EXPECT_THAT(ProtocolErrorOf([] { DecodeReply(R"({"v":2,"hresult":4294967295})"); }), HasSubstr("out of range"));
  EXPECT_THAT(ProtocolErrorOf([] { DecodeReply(R"({"v":2,"hresult":-1,"error":{"number":9}})"); }),
              HasSubstr("\"description\" is missing"));
}

TEST(WireFrames, SplitsAStreamInAnyPiecesAndBoundsTheLength) {
  const std::string stream = Frame("first") + Frame("") + Frame("third");
  EXPECT_EQ(stream.substr(0, 4), std::string("\0\0\0\5", 4));
  FrameReader reader;
  std::vector<std::string> bodies;
  for (const char byte : stream) {  // one byte at a time
    reader.Append(std::string_view(&byte, 1));
    while (auto body = reader.Next()) bodies.push_back(*body);
  }
  reader.Append(stream);  // and all at once
  while (auto body = reader.Next()) bodies.push_back(*body);
  EXPECT_EQ(bodies, (std::vector<std::string>{"first", "", "third", "first", "", "third"}));
  EXPECT_EQ(reader.pending(), 0u);

  FrameReader oversized;
  oversized.Append(std::string("\x00\x10\x00\x01", 4));  // 1 MiB + 1
  EXPECT_THAT(ProtocolErrorOf([&] { oversized.Next(); }), HasSubstr("frame of 1048577 bytes exceeds the limit"));
  EXPECT_THROW(Frame(std::string(kMaxFrameBytes + 1, 'x')), ProtocolError);
  EXPECT_EQ(Frame(std::string(kMaxFrameBytes, 'x')).size(), kMaxFrameBytes + 4);
}

}  // namespace
}  // namespace pullwire::com
