// Throughput of the LIST parser on 20,000-line UNIX, DOS/IIS and hostile listings.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <string>

#include "ftp/listing_parser.h"

namespace {

constexpr int kLines = 20000;

// vsftpd-style lines with a mix of files, folders and links and names of varying length.
std::string UnixListing() {
  std::string raw = "total 80000\r\n";
  for (int i = 0; i < kLines; ++i) {
    const std::string n = std::to_string(i);
    switch (i % 4) {
      case 0:
        raw += "-rw-r--r--    1 1000     1000        " + std::to_string(i * 4099) +
               " Dec 05 19:25 report " + n + ".csv\r\n";
        break;
      case 1:
        raw += "drwxr-xr-x    2 1000     1000         4096 Mar  4  2019 folder_" + n + "\r\n";
        break;
      case 2:
        raw += "lrwxrwxrwx    1 1000     1000           11 Jan 29 03:26 link" + n + " -> ../target/" +
               n + "\r\n";
        break;
      default:
        raw += "-rw-r--r--    1 ftp      ftp      5000000000 Oct 11 23:59 a rather longer file name " +
               n + ".tar.gz\r\n";
    }
  }
  return raw;
}

// IIS-style lines, half folders.
std::string DosListing() {
  std::string raw;
  for (int i = 0; i < kLines; ++i) {
    const std::string n = std::to_string(i);
    if (i % 2 == 0) {
      raw += "04-27-00  12:09PM       <DIR>          folder " + n + "\r\n";
    } else {
      raw += "04-14-00  03:47PM             " + std::to_string(i * 7919) + " file " + n + ".txt\r\n";
    }
  }
  return raw;
}

// What a hostile server might send: unsafe names, duplicates and garbage, all in one listing.
std::string HostileListing() {
  std::string raw;
  for (int i = 0; i < kLines; ++i) {
    switch (i % 4) {
      case 0:
        raw += "-rw-r--r-- 1 u g 1 Mar 4 09:05 ../../etc/passwd" + std::to_string(i) + "\r\n";
        break;
      case 1:
        raw += "-rw-r--r-- 1 u g 1 Mar 4 09:05 same name\r\n";
        break;
      case 2:
        raw += "This line is in no format the parser knows, number " + std::to_string(i) + "\r\n";
        break;
      default:
        raw += "-rw-r--r-- 1 u g 99999999999999999999999 Mar 4 09:05 too big\r\n";
    }
  }
  return raw;
}

void Run(benchmark::State& state, const std::string& raw) {
  std::size_t entries = 0;
  for (auto _ : state) {
    const pullwire::ftp::ParsedListing parsed = pullwire::ftp::ParseListing(raw);
    entries = parsed.entries.size() + parsed.unparsed_count;
    benchmark::DoNotOptimize(entries);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * raw.size()));
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kLines);
  state.counters["lines_handled"] = static_cast<double>(entries);
}

void BM_ParseUnixListing(benchmark::State& state) { Run(state, UnixListing()); }
void BM_ParseDosListing(benchmark::State& state) { Run(state, DosListing()); }
void BM_ParseHostileListing(benchmark::State& state) { Run(state, HostileListing()); }

BENCHMARK(BM_ParseUnixListing)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseDosListing)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseHostileListing)->Unit(benchmark::kMillisecond);

}  // namespace
