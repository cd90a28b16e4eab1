// The local-server wire format: requests and replies with every value type, and what it refuses to
// carry (a peer's malformed, cut or oversized frames are the local-server tests').
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
      Variant(), kVariantTrue, kVariantFalse, VariantBool{1},  // a non-canonical True keeps its bits
      std::int16_t{SHRT_MIN}, std::int16_t{SHRT_MAX}, std::int32_t{INT_MIN}, std::int32_t{INT_MAX}, "",
      "Grüße \"quoted\" \\ \n tab\t € 𝄞", std::string("caf\xe9 \xff\x00z", 8),  // Latin-1 and a NUL
      "\xc0\xaf \xed\xa0\x80 \xf4\x90\x80\x80 \xe2\x82",  // overlong, surrogate, beyond U+10FFFF, cut
  };
  const std::vector<InvokeRequest> requests = {
      {RequestOp::kCall, "SetMessage", values}, {RequestOp::kPost, "SetMessage", {std::int16_t{7}, "\xe9"}},
      {RequestOp::kCall, "Version", {}}, {RequestOp::kSync, "", {}}};
  for (const InvokeRequest& request : requests) {
    EXPECT_EQ(DecodeRequest(EncodeRequest(request)), request) << EncodeRequest(request);
  }
  EXPECT_EQ(EncodeRequest(requests[3]), R"({"op":"sync","v":2})");
  EXPECT_THAT(EncodeRequest(requests[1]), HasSubstr(R"({"type":"int16","value":7},{"hex":"e9","type":"string"})"));
  for (const Variant& value : values) {
    const InvokeReply ok{S_OK, value, std::nullopt};
    EXPECT_EQ(DecodeReply(EncodeReply(ok)), ok) << EncodeReply(ok);
  }
  for (const InvokeReply& failed : {InvokeReply{VbErrorResult(9), {}, ErrorRecord{9, "Subscript out of range", "X"}},
                                    InvokeReply{E_FAIL, {}, std::nullopt}}) {
    EXPECT_EQ(DecodeReply(EncodeReply(failed)), failed);
  }
  // What the wire cannot carry is refused before anything is sent.
  const std::pair<Variant, const char*> refused[] = {
      {StringArray({"a"}, 1), "a string array does not cross to a local server"},
      {Record{"VarType", {}}, "a record does not cross to a local server"},
      {std::string(kMaxFrameBytes, 'x'), "exceeds the limit of 1048576"}};
  for (const auto& [value, reason] : refused) {
    EXPECT_THAT(ProtocolErrorOf([&] { EncodeRequest({RequestOp::kPost, "SetMessage", {value}}); }), HasSubstr(reason));
  }
  EXPECT_THAT(ProtocolErrorOf([] { Frame(std::string(kMaxFrameBytes + 1, 'x')); }), HasSubstr("exceeds the limit"));
  // An error text quoting a Latin-1 file name must not make the reply unsendable.
  const InvokeReply latin1{E_FAIL, Variant(), ErrorRecord{E_FAIL, "no caf\xe9", "X"}};
  EXPECT_EQ(DecodeReply(EncodeReply(latin1)).error->description, "no caf\uFFFD");
}

}  // namespace
}  // namespace pullwire::com
