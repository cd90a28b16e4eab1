// The engine's one table of error numbers and titles.
//
// How a server's refusal is numbered (reply_meaning.cc applies it):
//  - 11101 "does not exist": a 550 whose text says the object is missing ("No such file or
//    directory", "not found", "does not exist"), or a 550 to RETR, CWD, SIZE or LIST whose text
//    does not mention access ("Permission denied"); RFC 959 reads 550 to those as "file
//    unavailable" and vsftpd says only "550 Failed to open file." / "550 Failed to change
//    directory.". A 550 to DELE or RMD is 11101 only when the text says the object is missing:
//    vsftpd answers a non-empty folder with "550 Remove directory operation failed." and that
//    is a refusal the caller must see, not a missing folder.
//  - 11011 every other 4xx/5xx refusal of a command.
#include "ftp/errors.h"

#include <array>

namespace pullwire::ftp {
namespace {

struct ErrorRow {
  ErrorCode code;
  std::string_view title;
};

constexpr std::array kErrorTable = {
    ErrorRow{ErrorCode::kInvalidValue, "Invalid argument or property value"},
    ErrorRow{ErrorCode::kNotConnected, "Not connected to a server"},
    ErrorRow{ErrorCode::kHostNotFound, "Host name not found"},
    ErrorRow{ErrorCode::kConnectFailed, "Cannot connect to the server"},
    ErrorRow{ErrorCode::kTimedOut, "The operation timed out"},
    ErrorRow{ErrorCode::kConnectionLost, "The server closed the connection"},
    ErrorRow{ErrorCode::kServiceClosing, "The server ended the session (421)"},
    ErrorRow{ErrorCode::kProtocolError, "Unreadable reply from the server"},
    ErrorRow{ErrorCode::kLoginFailed, "Login refused"},
    ErrorRow{ErrorCode::kProxyFailed, "The proxy refused the connection"},
    ErrorRow{ErrorCode::kActiveThroughSocks, "Active mode does not work through a SOCKS proxy"},
    ErrorRow{ErrorCode::kCommandFailed, "The server refused the command"},
    ErrorRow{ErrorCode::kDataConnectionFailed, "Cannot open the data connection"},
    ErrorRow{ErrorCode::kTransferFailed, "The transfer failed"},
    ErrorRow{ErrorCode::kTransferIncomplete, "The transfer is incomplete"},
    ErrorRow{ErrorCode::kLocalFileError, "Cannot write the local file"},
    ErrorRow{ErrorCode::kUnsafeName, "The remote name cannot be used as a local file name"},
    ErrorRow{ErrorCode::kTooDeep, "Folders nested too deeply"},
    ErrorRow{ErrorCode::kListingTooLarge, "The listing is too large"},
    ErrorRow{ErrorCode::kTooManyEntries, "The folder tree holds too many entries"},
    ErrorRow{ErrorCode::kCancelled, "The run was cancelled"},
    ErrorRow{ErrorCode::kTlsFailed, "The TLS connection failed"},
    ErrorRow{ErrorCode::kCertificateRejected, "The server's certificate was not accepted"},
    ErrorRow{ErrorCode::kNoSuchFile, "The file or folder does not exist"},
};

}  // namespace

std::string_view ErrorTitle(ErrorCode code) {
  for (const ErrorRow& row : kErrorTable) {
    if (row.code == code) return row.title;
  }
  return "Unknown error";
}

std::size_t ControlCharacterAt(std::string_view text, std::size_t i) {
  const auto byte = static_cast<unsigned char>(text[i]);
  if (byte < 0x20 || byte == 0x7f) return 1;
  if (byte == 0xc2 && i + 1 < text.size() &&
      (static_cast<unsigned char>(text[i + 1]) & 0xe0) == 0x80) {
    return 2;
  }
  return 0;
}

bool HasControlCharacter(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (ControlCharacterAt(text, i) > 0) return true;
  }
  return false;
}

std::string PrintableText(std::string_view text, std::size_t max_bytes) {
  std::string out;
  out.reserve(text.size() < max_bytes ? text.size() : max_bytes + 3);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (out.size() >= max_bytes) {
      out += "...";
      break;
    }
    const std::size_t control = ControlCharacterAt(text, i);
    out += control > 0 ? '?' : text[i];
    if (control == 2) ++i;
  }
  return out;
}

std::string EscapedText(std::string_view text, std::size_t max_bytes) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (out.size() >= max_bytes) {
      out += "...";
      break;
    }
    const char c = text[i];
    const std::size_t control = ControlCharacterAt(text, i);
    if (c == '\\' || c == '"') {
      out += '\\';
      out += c;
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (control > 0) {
      constexpr char kHex[] = "0123456789abcdef";
      for (std::size_t k = 0; k < control; ++k) {
        const auto byte = static_cast<unsigned char>(text[i + k]);
        out += {'\\', 'x', kHex[byte >> 4], kHex[byte & 15]};
      }
      i += control - 1;
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace pullwire::ftp
