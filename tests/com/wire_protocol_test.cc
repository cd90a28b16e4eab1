// The local-server wire format: Variant JSON round trips, malformed values and messages, and
// frame splitting.
#include "com/wire_protocol.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>

namespace pullwire::com {
namespace {

using ::testing::HasSubstr;

std::string ProtocolErrorOf(auto&& decode) {
  try {
    decode();
  } catch (const ProtocolError& e) {
    return e.what();
  }
  return "<no error>";
}

TEST(WireVariant, EveryKindRoundTrips) {
  Record record{"MessageType", {{"Timestamp", std::string("04-Mar-2026 09:05.07")},
                                {"Message", std::string("Connected!")},
                                {"Mtype", std::int16_t{2}},
                                {"Use", kVariantTrue},
                                {"Size", std::int32_t{-70000}}}};
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
      Variant(StringArray({"a", "", "c"}, 1)),
      Variant(StringArray({"zero"}, 0)),
      Variant(StringArray({}, 1)),
      Variant(StringArray::WithBounds({{1, 2}, {0, 3}})),
      Variant(StringArray::WithBounds({})),
      Variant(record),
      Variant(Record{"Empty", {}}),
  };
  for (const Variant& value : values) {
    const std::string json = EncodeVariant(value);
    EXPECT_EQ(DecodeVariant(json), value) << json;
  }
  EXPECT_EQ(EncodeVariant(Variant(std::int16_t{7})), R"({"type":"int16","value":7})");
  EXPECT_THAT(EncodeVariant(Variant(std::string("\xe9"))), HasSubstr(R"("hex":"e9")"));
}

TEST(WireVariant, MalformedValuesAreRejectedWithTheReason) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", "not valid JSON"},
      {"{\"type\":\"int16\",\"value\":7", "not valid JSON"},
      {"[1,2]", "not a JSON object"},
      {"{}", "\"type\" is missing"},
      {R"({"type":7})", "\"type\" is not a string"},
      {R"({"type":"double","value":1.5})", "unknown scalar type \"double\""},
      {R"({"type":"int16","value":32768})", "\"value\" value 32768 is out of range"},
      {R"({"type":"int16","value":-32769})", "out of range"},
      {R"({"type":"int32","value":2147483648})", "out of range"},
      {R"({"type":"int32","value":18446744073709551615})", "out of range"},
      {R"({"type":"int32","value":1.0})", "\"value\" is not an integer"},
      {R"({"type":"bool","value":true})", "\"value\" is not an integer"},
      {R"({"type":"string"})", "\"value\" is missing"},
      {R"({"type":"string","hex":"abc"})", "odd number of digits"},
      {R"({"type":"string","hex":"zz"})", "string hex holds 'z'"},
      {R"({"type":"string_array","bounds":[[1,3]],"items":[{"type":"string","value":"a"}]})",
       "array bounds call for 3 items, 1 given"},
      {R"({"type":"string_array","bounds":[[0,-1]],"items":[]})", "negative count"},
      {R"({"type":"string_array","bounds":[[0]],"items":[]})", "not [lower_bound, count]"},
      {R"({"type":"string_array","bounds":[[0,2147483647],[0,2147483647],[0,4]],"items":[]})",
       "call for over 1099511627776 items, 0 given"},
      {R"({"type":"string_array","bounds":[[0,1]],"items":[{"type":"int16","value":1}]})", "expected a string value"},
      {R"({"type":"string_array","bounds":{},"items":[]})", "not lists"},
      {R"({"type":"record","name":"VarType","fields":{}})", "record fields are not a list"},
      {R"({"type":"record","name":"VarType","fields":[{"type":"bool","value":0}]})", "\"name\" is missing"},
      {R"({"type":"record","name":"VarType","fields":[{"name":"Use","type":"record"}]})", "unknown scalar type"},
  };
  for (const auto& [json, reason] : cases) {
    EXPECT_THAT(ProtocolErrorOf([&] { DecodeVariant(json); }), HasSubstr(reason)) << json;
  }
}

TEST(WireMessages, RequestAndReplyRoundTrip) {
  const InvokeRequest request{"SetMessage", InvokeKind::kMethod,
                              {Variant(std::int16_t{1}), Variant("WARNING: Module [OTHER] is unknown!"),
                               Variant("04-Mar-2026 09:05.07")}};
  EXPECT_EQ(DecodeRequest(EncodeRequest(request)), request);
  const InvokeRequest put{"AutoLog", InvokeKind::kPropertyPut, {Variant(kVariantTrue)}};
  EXPECT_EQ(DecodeRequest(EncodeRequest(put)), put);
  const InvokeRequest get{"Version", InvokeKind::kPropertyGet, {}};
  EXPECT_EQ(DecodeRequest(EncodeRequest(get)), get);

  const InvokeReply ok{S_OK, Variant("4.5.0"), {Variant(std::int32_t{3})}, std::nullopt};
  EXPECT_EQ(DecodeReply(EncodeReply(ok)), ok);
  const InvokeReply failed{VbErrorResult(9), Variant(), {},
                           ErrorRecord{9, "Subscript out of range", "Pullwire.Toolbox"}};
  EXPECT_EQ(DecodeReply(EncodeReply(failed)), failed);
  const InvokeReply bare_failure{E_FAIL, Variant(), {}, std::nullopt};
  EXPECT_EQ(DecodeReply(EncodeReply(bare_failure)), bare_failure);

  // An error text quoting a Latin-1 file name must not make the reply unsendable.
  const InvokeReply latin1{E_FAIL, Variant(), {}, ErrorRecord{E_FAIL, "no caf\xe9", "X"}};
  EXPECT_EQ(DecodeReply(EncodeReply(latin1)).error->description, "no caf\uFFFD");
}

TEST(WireMessages, MalformedMessagesAreRejected) {
  const std::vector<std::pair<std::string, std::string>> requests = {
      {R"({"member":"X","kind":"method","args":[]})", "\"v\" is missing"},
      {R"({"v":2,"member":"X","kind":"method","args":[]})", "unsupported protocol version 2"},
      {R"({"v":1,"member":"","kind":"method"})", "\"member\" is empty"},
      {R"({"v":1,"member":"X","kind":"call"})", "unknown invoke kind \"call\""},
      {R"({"v":1,"member":"X","kind":"get","args":{}})", "\"args\" is not a list"},
      {R"({"v":1,"member":"X","kind":"get","args":[{"type":"nope"}]})", "unknown scalar type \"nope\""},
  };
  for (const auto& [json, reason] : requests) {
    EXPECT_THAT(ProtocolErrorOf([&] { DecodeRequest(json); }), HasSubstr(reason)) << json;
  }
  EXPECT_THAT(ProtocolErrorOf([] { DecodeReply(R"({"v":1,"hresult":0})"); }), HasSubstr("\"result\" is missing"));
  EXPECT_THAT(ProtocolErrorOf([] { DecodeReply(R"({"v":1,"hresult":4294967295})"); }), HasSubstr("out of range"));
  EXPECT_THAT(ProtocolErrorOf([] { DecodeReply(R"({"v":1,"hresult":-1,"error":{"number":9}})"); }),
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
  EXPECT_EQ(bodies, (std::vector<std::string>{"first", "", "third"}));
  EXPECT_EQ(reader.pending(), 0u);

  FrameReader oversized;
  oversized.Append(std::string("\x00\x10\x00\x01", 4));  // 1 MiB + 1
  EXPECT_THAT(ProtocolErrorOf([&] { oversized.Next(); }), HasSubstr("frame of 1048577 bytes exceeds the limit"));
  EXPECT_THROW(Frame(std::string(kMaxFrameBytes + 1, 'x')), ProtocolError);
  EXPECT_EQ(Frame(std::string(kMaxFrameBytes, 'x')).size(), kMaxFrameBytes + 4);
  EXPECT_THAT(ProtocolErrorOf([] { EncodeVariant(Variant(std::string(kMaxFrameBytes, 'x'))); }),
              HasSubstr("exceeds the limit"));
}

}  // namespace
}  // namespace pullwire::com
