// Assembles a listing from the bytes of its data connection, line by line as they arrive (so the
// raw text is never held whole): entries into a store, a name listed twice kept once, and
// bounded notes of what was left out. Pure: no I/O, linear in the listing's size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ftp/listing_line.h"

namespace pullwire::ftp {

// Bounds on what the notes keep, so a hostile multi-megabyte listing cannot blow memory: the
// first kMaxKeptLines lines (or names), each cut to kMaxKeptLineBytes bytes. The counts still
// count every one.
inline constexpr std::size_t kMaxKeptUnparsedLines = 1000;
inline constexpr std::size_t kMaxKeptUnparsedLineBytes = 1024;
// A line longer than this is no entry: it is unparsed without being read further.
inline constexpr std::size_t kMaxListingLineBytes = 1 << 20;

// What a listing left out. Raw bytes: escape them before showing them.
struct ListingNotes {
  std::vector<std::string> unparsed_lines;  // lines in none of the known forms, without endings
  std::size_t unparsed_count = 0;           // all unparsed lines, also those not kept
  std::vector<std::string> unsafe_names;    // names that cannot be local file names
  std::vector<std::string_view> unsafe_reasons;  // UnsafeNameReason of each kept name
  std::size_t unsafe_count = 0;
};

// Where the accepted entries go, in listing order.
class ListingStore {
 public:
  virtual ~ListingStore() = default;
  virtual std::size_t size() const = 0;
  virtual std::string_view NameAt(std::size_t index) const = 0;
  virtual void Add(const EntryFields& fields) = 0;
  virtual void RemoveLast() = 0;
  // The bytes of text the store holds for its entries (names, dates and the other kept fields):
  // what a cap on a listing's size measures.
  virtual std::size_t kept_text() const = 0;
};

class ListingBuilder {
 public:
  ListingBuilder(ListingSyntax syntax, ListingStore& store, ListingNotes& notes);
  ~ListingBuilder();
  ListingBuilder(const ListingBuilder&) = delete;
  ListingBuilder& operator=(const ListingBuilder&) = delete;

  // Any piece of the data; lines end in LF or CRLF and may span pieces.
  void Feed(std::string_view bytes);
  // The data has ended: the last line may lack its ending.
  void Finish();
  std::size_t kept_text() const { return store_.kept_text(); }

 private:
  class KeptNames;
  void Line(std::string_view line);
  void Unparsed(std::string_view line);

  ListingSyntax syntax_;
  ListingStore& store_;
  ListingNotes& notes_;
  std::unique_ptr<KeptNames> names_;
  std::string partial_;    // a line begun in an earlier piece
  bool overlong_ = false;  // partial_ passed kMaxListingLineBytes: the rest of the line is dropped
};

// One entry, copied out of its line.
struct ListingEntry {
  std::string name;          // never empty, never holds "/" or a control character, never "." or
                             // ".." (those are dropped, not unparsed)
  EntryType type = EntryType::kFile;  // UNIX "d" folder, "l" link; "-" and the special files
                                      // "b", "c", "p", "s" are files (`permissions` keeps the
                                      // letter for callers that want to tell them apart)
  std::int64_t size = 0;     // bytes as listed; 0 for DOS folders and UNIX device files, whose
                             // size column holds "major, minor"
  std::string link_target;   // UNIX "name -> target"; empty otherwise. May hold "/" (it is never
                             // used as a local path) but never a control character
  std::string modified;      // the date/time columns as listed ("Mar  4 09:05", "03-04-26  09:05AM")
  std::string permissions;   // UNIX mode column ("-rw-r--r--"); "<DIR>" or "" for DOS
  LineFormat format = LineFormat::kUnix;
  std::int64_t link_count = 0;  // UNIX link count column; 0 for DOS and when the server omits it
  std::string owner;         // UNIX owner column (a name or a number); empty for DOS and when absent
  std::string group;         // UNIX group column; empty for DOS and when absent
  std::int32_t permission_bits = 0;  // from the mode column or MLSD's UNIX.mode; else 0

  friend bool operator==(const ListingEntry&, const ListingEntry&) = default;
};

struct ParsedListing : ListingNotes {
  std::vector<ListingEntry> entries;  // listing order; a name listed twice is kept once
};

// `raw` is a whole listing as received.
ParsedListing ParseListing(std::string_view raw, ListingSyntax syntax = ListingSyntax::kList);

// Appends to `listing.entries` as a ListingBuilder's store.
class EntryVectorStore final : public ListingStore {
 public:
  explicit EntryVectorStore(std::vector<ListingEntry>& entries) : entries_(entries) {}
  std::size_t size() const override { return entries_.size(); }
  std::string_view NameAt(std::size_t index) const override { return entries_[index].name; }
  void Add(const EntryFields& fields) override;
  void RemoveLast() override;
  std::size_t kept_text() const override { return kept_text_; }

 private:
  std::vector<ListingEntry>& entries_;
  std::size_t kept_text_ = 0;
};

}  // namespace pullwire::ftp
