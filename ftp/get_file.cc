// GetFile: destination rules, replace-or-continue, and the transfer itself.
#include "ftp/get_file.h"

#include <fmt/format.h>

#include "ftp/data_sink.h"
#include "ftp/errors.h"
#include "ftp/listing_parser.h"
#include "ftp/local_file.h"

namespace pullwire::ftp {
namespace {

// The last part of a remote path ("/pub/a.txt" -> "a.txt"); empty when the path ends in "/".
std::string_view RemoteBaseName(std::string_view remote_path) {
  const std::size_t slash = remote_path.rfind('/');
  return slash == std::string_view::npos ? remote_path : remote_path.substr(slash + 1);
}

// SIZE of a file about to be continued at `offset`: nullopt when the server cannot tell. A
// remote file shorter than the local copy is not the file that copy came from; it is refused
// and the local copy stays as it is.
std::optional<std::int64_t> RemainderKnown(Session& session, const std::string& remote,
                                           const std::filesystem::path& local,
                                           std::int64_t offset) {
  const std::optional<std::int64_t> size = session.Size(remote);
  if (size && *size < offset) {
    throw FtpError(ErrorCode::kInvalidValue,
                   fmt::format("cannot continue {} from byte {}: the remote file {} has only {} "
                               "bytes; the local copy is left as it is",
                               PrintableText(local.string(), 1000), offset,
                               PrintableText(remote, 300), *size));
  }
  return size;
}

}  // namespace

std::filesystem::path ResolveDestination(const std::string& remote,
                                         const std::string& local_destination) {
  if (remote.empty()) throw FtpError(ErrorCode::kInvalidValue, "the remote file name is empty");
  if (local_destination.empty()) {
    throw FtpError(ErrorCode::kInvalidValue, "the local destination is empty");
  }
  std::error_code error;
  const std::filesystem::path destination(local_destination);
  if (!std::filesystem::is_directory(destination, error)) return destination;
  const std::string_view base = RemoteBaseName(remote);
  if (!IsSafeEntryName(base)) {
    throw FtpError(ErrorCode::kUnsafeName,
                   fmt::format("the remote name \"{}\" cannot be used as a file name in {}",
                               PrintableText(base), PrintableText(local_destination)));
  }
  return destination / std::string(base);
}

FetchResult GetFile(Session& session, const std::string& remote,
                    const std::string& local_destination,
                    std::optional<std::int64_t> restart_offset) {
  FetchResult result;
  result.local_path = ResolveDestination(remote, local_destination);
  if (restart_offset && *restart_offset < 0) {
    throw FtpError(ErrorCode::kInvalidValue,
                   fmt::format("the restart offset {} is negative", *restart_offset));
  }
  const bool ascii = session.transfer_type() == TransferType::kAscii;
  const std::int64_t offset = restart_offset && !ascii ? *restart_offset : 0;
  LocalFile file = restart_offset ? LocalFile::Continue(result.local_path, offset, session.sys())
                                  : LocalFile::Replace(result.local_path, session.sys());
  // Before continuing, the server's size says whether anything is left to fetch.
  std::optional<std::int64_t> size;
  if (offset > 0) size = RemainderKnown(session, remote, result.local_path, offset);
  if (size && *size == offset) {
    file.Commit();
    return result;
  }
  FileSink sink(file, ascii);
  try {
    result.bytes = session.Retrieve(remote, sink, offset, size).bytes;
    file.Commit();
  } catch (...) {
    file.Abandon();
    throw;
  }
  return result;
}

}  // namespace pullwire::ftp
