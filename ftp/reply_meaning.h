// What individual replies mean: the error number of a refusal and the values inside the
// replies to EPSV, PASV, PWD and RETR. Pure functions, one per reply kind.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ftp/errors.h"
#include "ftp/reply.h"

namespace pullwire::ftp {

// The number a refusal of `verb` ("RETR", "DELE" ...) gets; see the rules in errors.cc.
ErrorCode RefusalCode(std::string_view verb, const Reply& reply);

// "229 Entering Extended Passive Mode (|||6446|)" -> 6446.
std::optional<std::uint16_t> ParseEpsvPort(const Reply& reply);

// "227 Entering Passive Mode (127,0,0,1,4,51)" -> 1075. The address part is read only to find
// the port: data always goes to the control connection's peer.
std::optional<std::uint16_t> ParsePasvPort(const Reply& reply);

// "257 "/pub/a ""quoted"" name" is the current directory" -> /pub/a "quoted" name; unquoted
// "257 /pub is the current directory" -> /pub, but "257 /pub/a name" -> nullopt (unreadable).
std::optional<std::string> ParsePwdPath(const Reply& reply);

// One fact of a FEAT reply's MLST line, lower case, and whether it is on by default ("*").
struct MlstFact {
  std::string name;
  bool on = false;
};

// The facts a FEAT reply offers for MLST and MLSD (RFC 3659 section 7.8), or nullopt when it
// offers neither: " MLST type*;perm*;size*;modify*;unique*;unix.mode;" -> type (on) ...
std::optional<std::vector<MlstFact>> ParseMlstFacts(const Reply& feat);

// "150 Opening BINARY mode data connection for big.bin (1073741824 bytes)." -> 1073741824.
std::optional<std::int64_t> ParseAnnouncedSize(const Reply& reply);

}  // namespace pullwire::ftp
