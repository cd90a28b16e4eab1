// File and listing destinations of data connections.
#include "ftp/data_sink.h"

#include <cstring>
#include <fmt/format.h>

#include "ftp/errors.h"

namespace pullwire::ftp {

void DataSink::SpliceFailed(int error_number) {
  throw FtpError(ErrorCode::kLocalFileError,
                 fmt::format("cannot write the data: {}", std::strerror(error_number)));
}

int FileSink::SpliceTarget() {
  if (ascii_) return -1;
  file_.Begin();
  return file_.fd();
}

void FileSink::Write(const char* data, std::size_t size) {
  file_.Begin();
  if (!ascii_) {
    file_.Write(data, size);
    return;
  }
  converted_.clear();
  filter_.Convert(std::string_view(data, size), converted_);
  file_.Write(converted_.data(), converted_.size());
}

void FileSink::Finish() {
  if (!ascii_) return;
  converted_.clear();
  filter_.Finish(converted_);
  if (converted_.empty()) return;
  file_.Begin();
  file_.Write(converted_.data(), converted_.size());
}

void ListingSink::Write(const char* data, std::size_t size) {
  received_ += size;
  if (received_ > limits_.received) {
    throw FtpError(ErrorCode::kListingTooLarge,
                   fmt::format("the server sent more than {} MiB of listing, the most this "
                               "client reads: list a smaller folder",
                               limits_.received >> 20));
  }
  builder_.Feed(std::string_view(data, size));
  if (builder_.kept_text() > limits_.kept_text) {
    throw FtpError(ErrorCode::kListingTooLarge,
                   fmt::format("the listing is larger than {} MiB of text, the most this client "
                               "keeps: list a smaller folder",
                               limits_.kept_text >> 20));
  }
}

}  // namespace pullwire::ftp
