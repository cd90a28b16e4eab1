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

// How much of a listing is read and kept.
struct ListingLimits {
  // The text the listing keeps (names, dates, link targets): what memory it costs.
  std::size_t kept_text = std::size_t{64} << 20;
  // The bytes received, more generous (a line holds more than what is kept of it), so that an
  // endless listing of names already seen still ends.
  std::size_t received = std::size_t{256} << 20;
};

// Feeds a listing to its builder; past either limit the transfer ends with kListingTooLarge.
class ListingSink : public DataSink {
 public:
  ListingSink(ListingBuilder& builder, const ListingLimits& limits)
      : builder_(builder), limits_(limits) {}
  void Write(const char* data, std::size_t size) override;
  void Finish() override { builder_.Finish(); }

 private:
  ListingBuilder& builder_;
  ListingLimits limits_;
  std::size_t received_ = 0;
};

}  // namespace pullwire::ftp
