// Reply framing and reply meaning: table tests over well-formed, hostile and broken replies.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ftp/reply.h"
#include "ftp/reply_meaning.h"

namespace pullwire::ftp {
namespace {

Reply MakeReply(int code, std::vector<std::string> lines) { return Reply{code, std::move(lines)}; }

struct FrameCase {
  const char* name;
  std::string input;
  FrameStatus status;
  int code;
  std::size_t consumed;
  std::vector<std::string> lines;
};

TEST(ReplyFraming, FramesCompleteIncompleteAndBrokenReplies) {
  using std::string_literals::operator""s;
  const std::vector<FrameCase> cases = {
      {"single line", "220 Ready\r\n", FrameStatus::kComplete, 220, 11, {"220 Ready"}},
      {"bare LF", "331 Password\n", FrameStatus::kComplete, 331, 13, {"331 Password"}},
      {"code alone", "200\r\n", FrameStatus::kComplete, 200, 5, {"200"}},
      {"no line end yet", "220 Rea", FrameStatus::kIncomplete, 0, 0, {}},
      {"empty", "", FrameStatus::kIncomplete, 0, 0, {}},
      {"multi-line", "230-Welcome\r\n230-Rules\r\n230 Done\r\n", FrameStatus::kComplete, 230, 34,
       {"230-Welcome", "230-Rules", "230 Done"}},
      // RFC 959: inner lines may start with anything, even another code or the same code and
      // a hyphen; only "230 " ends the reply.
      {"inner lines with other codes",
       "230-Hello\r\n 220 indented\r\n550 other\r\n230-more\r\n230 End\r\n",
       FrameStatus::kComplete, 230, 56,
       {"230-Hello", " 220 indented", "550 other", "230-more", "230 End"}},
      {"multi-line not finished", "230-Hello\r\n230-more\r\n", FrameStatus::kIncomplete, 0, 0, {}},
      {"multi-line ended by code alone", "211-Features\r\n EPSV\r\n211\r\n", FrameStatus::kComplete,
       211, 26, {"211-Features", " EPSV", "211"}},
      {"NUL bytes dropped", "220 Rea\0dy\r\n"s, FrameStatus::kComplete, 220, 12, {"220 Ready"}},
      {"garbage line", "hello there\r\n220 x\r\n", FrameStatus::kMalformed, 0, 13, {"hello there"}},
      {"code out of range", "620 x\r\n", FrameStatus::kMalformed, 0, 7, {"620 x"}},
      {"letters in code", "2a0 x\r\n", FrameStatus::kMalformed, 0, 7, {"2a0 x"}},
      {"code glued to text", "220x\r\n", FrameStatus::kMalformed, 0, 6, {"220x"}},
      {"short line", "22\r\n", FrameStatus::kMalformed, 0, 4, {"22"}},
      {"blank line", "\r\n220 x\r\n", FrameStatus::kMalformed, 0, 2, {""}},
      {"over-long line without end", "220 " + std::string(5000, 'a'), FrameStatus::kTooLong, 0, 0,
       {}},
      {"over-long line with end", "220 " + std::string(5000, 'a') + "\r\n", FrameStatus::kTooLong,
       0, 0, {}},
  };
  for (const FrameCase& c : cases) {
    SCOPED_TRACE(c.name);
    const FrameResult result = FrameReply(c.input);
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.consumed, c.consumed);
    if (c.status == FrameStatus::kComplete) {
      EXPECT_EQ(result.reply.code, c.code);
    }
    if (c.status == FrameStatus::kComplete || c.status == FrameStatus::kMalformed) {
      EXPECT_EQ(result.reply.lines, c.lines);
    }
  }
}

TEST(ReplyFraming, KeepsBytesAfterTheReplyForTheNext) {
  // pyftpdlib may send the 150 and the 226 of a small file in one packet.
  const std::string both = "150 Opening\r\n226 Transfer complete.\r\n";
  const FrameResult first = FrameReply(both);
  ASSERT_EQ(first.status, FrameStatus::kComplete);
  EXPECT_EQ(first.reply.code, 150);
  const FrameResult second = FrameReply(std::string_view(both).substr(first.consumed));
  ASSERT_EQ(second.status, FrameStatus::kComplete);
  EXPECT_EQ(second.reply.code, 226);
  EXPECT_EQ(first.consumed + second.consumed, both.size());
}

TEST(ReplyFraming, BoundsAnEndlessMultiLineReply) {
  std::string endless = "220-start\r\n";
  while (endless.size() < 70 * 1024) endless += "220-still going\r\n";
  EXPECT_EQ(FrameReply(endless).status, FrameStatus::kTooLong);
  FrameLimits small;
  small.max_reply = 64;
  EXPECT_EQ(FrameReply("220-a\r\n" + std::string(80, 'b') + "\r\n220 c\r\n", small).status,
            FrameStatus::kTooLong);
}

TEST(ReplyQuote, JoinsLinesDropsRepeatedCodesAndControlCharacters) {
  EXPECT_EQ(MakeReply(550, {"550 Permission denied."}).Quote(), "550 Permission denied.");
  EXPECT_EQ(MakeReply(530, {"530-Login incorrect.", "530 Bye."}).Quote(),
            "530 Login incorrect. Bye.");
  EXPECT_EQ(MakeReply(550, {"550 evil\x1b[31m name"}).Quote(), "550 evil?[31m name");
  // C1 controls in UTF-8 (CSI U+009B, NEL U+0085) are controls too; "é" (C3 A9) is not.
  EXPECT_EQ(MakeReply(550, {"550 evil\xC2\x9B" "31m \xC2\x85x \xC3\xA9"}).Quote(),
            "550 evil?31m ?x \xC3\xA9");
  EXPECT_EQ(MakeReply(200, {"200"}).Quote(), "200");
  EXPECT_LE(MakeReply(220, {"220 " + std::string(2000, 'x')}).Quote().size(), 403u);
}

struct RefusalCase {
  const char* verb;
  int code;
  const char* text;
  ErrorCode expected;
};

TEST(ReplyMeaning, NumbersRefusalsByVerbAndText) {
  const std::vector<RefusalCase> cases = {
      {"RETR", 550, "550 No such file or directory.", ErrorCode::kNoSuchFile},      // pyftpdlib
      {"RETR", 550, "550 Failed to open file.", ErrorCode::kNoSuchFile},            // vsftpd
      {"CWD", 550, "550 Failed to change directory.", ErrorCode::kNoSuchFile},      // vsftpd
      {"CWD", 550, "550 Not a directory.", ErrorCode::kNoSuchFile},
      {"RETR", 550, "550 Permission denied.", ErrorCode::kCommandFailed},
      {"CWD", 550, "550 Access is denied.", ErrorCode::kCommandFailed},             // IIS
      {"DELE", 550, "550 No such file or directory.", ErrorCode::kNoSuchFile},
      {"DELE", 550, "550 Delete operation failed.", ErrorCode::kCommandFailed},      // vsftpd
      {"RMD", 550, "550 Remove directory operation failed.", ErrorCode::kCommandFailed},
      {"RMD", 550, "550 Directory not empty.", ErrorCode::kCommandFailed},
      {"RMD", 550, "550 x: The system cannot find the file specified.", ErrorCode::kNoSuchFile},
      {"RMD", 550, "550 x: File not found", ErrorCode::kNoSuchFile},
      {"LIST", 450, "450 No files found", ErrorCode::kNoSuchFile},
      {"RETR", 451, "451 Local error in processing.", ErrorCode::kCommandFailed},
      {"RETR", 500, "500 Unknown command.", ErrorCode::kCommandFailed},
  };
  for (const RefusalCase& c : cases) {
    SCOPED_TRACE(std::string(c.verb) + " " + c.text);
    EXPECT_EQ(RefusalCode(c.verb, MakeReply(c.code, {c.text})), c.expected);
  }
}

TEST(ReplyMeaning, ReadsPassivePorts) {
  EXPECT_EQ(ParseEpsvPort(MakeReply(229, {"229 Entering Extended Passive Mode (|||6446|)"})),
            6446);
  EXPECT_EQ(ParseEpsvPort(MakeReply(229, {"229 ok (!!!1025!)"})), 1025);
  EXPECT_FALSE(ParseEpsvPort(MakeReply(229, {"229 Entering Extended Passive Mode"})));
  EXPECT_FALSE(ParseEpsvPort(MakeReply(229, {"229 x (|||70000|)"})));
  EXPECT_FALSE(ParseEpsvPort(MakeReply(229, {"229 x (|||0|)"})));
  EXPECT_FALSE(ParseEpsvPort(MakeReply(229, {"229 x (||6446|)"})));
  EXPECT_EQ(ParsePasvPort(MakeReply(227, {"227 Entering Passive Mode (127,0,0,1,4,51)."})), 1075);
  // The address is never used: a private or hostile one changes nothing.
  EXPECT_EQ(ParsePasvPort(MakeReply(227, {"227 Entering Passive Mode (10,9,8,7,200,1)"})),
            51201);
  EXPECT_EQ(ParsePasvPort(MakeReply(227, {"227 Entering Passive Mode 127,0,0,1,4,51"})), 1075);
  EXPECT_FALSE(ParsePasvPort(MakeReply(227, {"227 Entering Passive Mode (127,0,0,1,4)"})));
  EXPECT_FALSE(ParsePasvPort(MakeReply(227, {"227 Entering Passive Mode (127,0,0,1,400,1)"})));
  EXPECT_FALSE(ParsePasvPort(MakeReply(227, {"227 =127,0,0,1,0,0"})));
}

TEST(ReplyQuote, EscapedTextNamesOddBytesExactly) {
  EXPECT_EQ(EscapedText("tab\there \"q\" back\\slash"), "tab\\there \\\"q\\\" back\\\\slash");
  EXPECT_EQ(EscapedText(std::string("nul\0\x1b[2J\x7f\r\n", 11)), "nul\\x00\\x1b[2J\\x7f\\r\\n");
  EXPECT_EQ(EscapedText("csi\xC2\x9B \xC3\xA9"), "csi\\xc2\\x9b \xC3\xA9");
  EXPECT_EQ(EscapedText(std::string(50, 'x'), 10), "xxxxxxxxxx...");
}

TEST(ReplyMeaning, ReadsFeatMlstFacts) {
  const auto facts = ParseMlstFacts(MakeReply(
      211, {"211-Features supported:", " EPRT", " MLST type*;perm*;size*;modify*;UNIX.mode;",
            " SIZE", "211 End FEAT."}));
  ASSERT_TRUE(facts);
  std::vector<std::string> on;
  std::vector<std::string> off;
  for (const MlstFact& fact : *facts) (fact.on ? on : off).push_back(fact.name);
  EXPECT_EQ(on, (std::vector<std::string>{"type", "perm", "size", "modify"}));
  EXPECT_EQ(off, std::vector<std::string>{"unix.mode"});
  EXPECT_FALSE(ParseMlstFacts(MakeReply(211, {"211-Features:", " MLSTX a;", " SIZE", "211 End"})));
  EXPECT_FALSE(ParseMlstFacts(MakeReply(211, {"211 MLST type*;"})));  // not a feature line
}

TEST(ReplyMeaning, ReadsPwdPathsAndAnnouncedSizes) {
  EXPECT_EQ(ParsePwdPath(MakeReply(257, {"257 \"/pub\" is the current directory"})), "/pub");
  EXPECT_EQ(ParsePwdPath(MakeReply(257, {"257 \"/a \"\"b\"\" c\" is current"})), "/a \"b\" c");
  EXPECT_EQ(ParsePwdPath(MakeReply(257, {"257 /plain is current"})), "/plain");
  EXPECT_EQ(ParsePwdPath(MakeReply(257, {"257 /plain"})), "/plain");
  // Unquoted with a blank in the path: where it ends cannot be told.
  EXPECT_FALSE(ParsePwdPath(MakeReply(257, {"257 /my folder is the current directory"})));
  EXPECT_FALSE(ParsePwdPath(MakeReply(257, {"257 \"/unterminated"})));
  EXPECT_FALSE(ParsePwdPath(MakeReply(550, {"550 \"/x\""})));
  EXPECT_EQ(ParseAnnouncedSize(MakeReply(
                150, {"150 Opening BINARY mode data connection for big.bin (1073741824 bytes)."})),
            1073741824);
  EXPECT_EQ(ParseAnnouncedSize(MakeReply(150, {"150 Opening data for (1) x (42 BYTES)"})), 42);
  EXPECT_FALSE(ParseAnnouncedSize(MakeReply(150, {"150 File status okay."})));
  EXPECT_FALSE(ParseAnnouncedSize(MakeReply(150, {"150 x ( bytes)"})));
  EXPECT_FALSE(ParseAnnouncedSize(MakeReply(150, {"150 x 12 bytes)"})));
}

}  // namespace
}  // namespace pullwire::ftp
