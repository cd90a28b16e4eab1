// Where the bytes of a data connection go: a local file (binary, or ASCII with CRLF to LF) or a
// listing, parsed as it arrives.
#pragma once

#include <cstddef>
#include <string>

#include "ftp/ascii_filter.h"
#include "ftp/listing_parser.h"
#include "ftp/local_file.h"

namespace pullwire::ftp {

class DataSink {
 public:
  virtual ~DataSink() = default;
  virtual void Write(const char* data, std::size_t size) = 0;
  // A file descriptor the receiver may splice into directly, or -1 when bytes must pass Write.
  virtual int SpliceTarget() { return -1; }
  // Reports a failed splice into SpliceTarget() the way Write reports a failed write.
  [[noreturn]] virtual void SpliceFailed(int error_number);
  // The data has ended: flush what is held back.
  virtual void Finish() {}
  // Before any data: the server would not continue from the offset asked for, so the data
  // that follows starts at byte 0. Sinks that never continue have nothing to do.
  virtual void StartOver() {}
};

class FileSink : public DataSink {
 public:
  FileSink(LocalFile& file, bool ascii) : file_(file), ascii_(ascii) {}
  void Write(const char* data, std::size_t size) override;
  int SpliceTarget() override;
  [[noreturn]] void SpliceFailed(int error_number) override { file_.FailWrite(error_number); }
  void Finish() override;
  void StartOver() override { file_.StartOver(); }

 private:
  LocalFile& file_;
  bool ascii_;
  CrLfToLf filter_;
  std::string converted_;
};

// Feeds a listing to its builder; more than `limit` bytes ends the transfer with kListingTooLarge
// (a hostile endless listing, or a folder too large to hold).
class ListingSink : public DataSink {
 public:
  ListingSink(ListingBuilder& builder, std::size_t limit) : builder_(builder), limit_(limit) {}
  void Write(const char* data, std::size_t size) override;
  void Finish() override { builder_.Finish(); }

 private:
  ListingBuilder& builder_;
  std::size_t limit_;
  std::size_t received_ = 0;
};

}  // namespace pullwire::ftp
