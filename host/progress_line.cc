// ProgressLine: formatting, drawing and wiping the terminal's progress line.
#include "host/progress_line.h"

#include <fmt/format.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>

namespace pullwire::host {
namespace {

// "812 B", "4.0 KiB", "312.5 MiB", "1.0 GiB".
std::string Bytes(double bytes) {
  constexpr std::array<const char*, 4> kUnits = {"KiB", "MiB", "GiB", "TiB"};
  if (bytes < 1024) return fmt::format("{:.0f} B", bytes);
  std::size_t unit = 0;
  bytes /= 1024;
  while (bytes >= 1024 && unit + 1 < kUnits.size()) {
    bytes /= 1024;
    ++unit;
  }
  return fmt::format("{:.1f} {}", bytes, kUnits[unit]);
}

// "0:07", "12:30", "1:02:03".
std::string Duration(std::int64_t seconds) {
  if (seconds >= 3600) {
    return fmt::format("{}:{:02}:{:02}", seconds / 3600, seconds / 60 % 60, seconds % 60);
  }
  return fmt::format("{}:{:02}", seconds / 60, seconds % 60);
}

// Columns a UTF-8 text takes, one per character (continuation bytes take none).
std::size_t Columns(std::string_view text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

// A server's name could carry terminal controls; they are shown as "?".
std::string Printable(std::string_view name) {
  std::string text(name);
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return text;
}

// The last `columns` characters of `text`, behind "...".
std::string Tail(const std::string& text, std::size_t columns) {
  if (Columns(text) <= columns) return text;
  if (columns <= 3) return std::string(columns, '.');
  std::size_t from = text.size();
  for (std::size_t kept = 0; from > 0 && kept < columns - 3;) {
    --from;
    if ((static_cast<unsigned char>(text[from]) & 0xC0) != 0x80) ++kept;
  }
  return "..." + text.substr(from);
}

}  // namespace

std::string FormatProgress(const TransferProgress& p, std::size_t width) {
  const double seconds = static_cast<double>(std::max<std::int64_t>(p.elapsed_ms, 1)) / 1000;
  const double rate = static_cast<double>(std::max<std::int64_t>(p.bytes - p.start, 0)) / seconds;
  std::string figures = "  " + Bytes(static_cast<double>(p.bytes));
  if (p.total >= 0) {
    figures += " of " + Bytes(static_cast<double>(p.total));
    if (p.total > 0) {
      figures += fmt::format("  {}%", std::min<std::int64_t>(p.bytes * 100 / p.total, 999));
    }
  }
  figures += "  " + Bytes(rate) + "/s";
  if (p.total >= p.bytes && rate >= 1) {
    const double left = static_cast<double>(p.total - p.bytes) / rate;
    figures += "  " + Duration(static_cast<std::int64_t>(left + 0.5)) + " left";
  }
  const std::size_t figure_columns = Columns(figures);
  if (figure_columns >= width) return figures.substr(0, width);
  return Tail(Printable(p.name), width - figure_columns) + figures;
}

com::HRESULT ProgressLine::QueryInterface(const com::Guid& iid, void** object) {
  return com::QueryInterfaceFrom(
      iid, object, {com::Expose<ITransferProgressSink>(this, IID_ITransferProgressSink)});
}

com::HRESULT ProgressLine::OnTransferProgress(const TransferProgress& progress) {
  return com::GuardedCall("ProgressLine", [&] {
    std::lock_guard lock(mutex_);
    if (progress.finished) {
      ClearLocked();
    } else if (progress.elapsed_ms >= kProgressShownAfterMs) {
      // One column short of the edge: a full line would wrap on some terminals.
      const std::string line = FormatProgress(progress, TerminalColumns() - 1);
      const std::size_t columns = Columns(line);
      std::string text = "\r" + line;
      if (columns < shown_) text.append(shown_ - columns, ' ');
      std::fputs(text.c_str(), terminal_);
      std::fflush(terminal_);
      shown_ = std::max(columns, shown_);
    }
    return com::S_OK;
  });
}

void ProgressLine::Clear() {
  std::lock_guard lock(mutex_);
  ClearLocked();
}

void ProgressLine::ClearLocked() {
  if (shown_ == 0) return;
  std::fputs(("\r" + std::string(shown_, ' ') + "\r").c_str(), terminal_);
  std::fflush(terminal_);
  shown_ = 0;
}

std::size_t ProgressLine::TerminalColumns() const {
  winsize size{};
  if (::ioctl(::fileno(terminal_), TIOCGWINSZ, &size) == 0 && size.ws_col >= 20) return size.ws_col;
  return 80;
}

namespace {

com::ComPtr<IToolboxProgress> ProgressOf(_Toolbox& box) {
  return com::ComPtr<_Toolbox>::Shared(&box).As<IToolboxProgress>(IID_IToolboxProgress);
}

}  // namespace

com::ComPtr<ProgressLine> AttachProgressLine(_Toolbox& box) {
  const com::ComPtr<IToolboxProgress> progress = ProgressOf(box);
  if (!progress) return nullptr;
  auto line = com::MakeObject<ProgressLine>(stderr);
  if (com::Failed(progress->putref_ProgressSink(line.get()))) return nullptr;
  return line;
}

void DetachProgressLine(_Toolbox& box) {
  const com::ComPtr<IToolboxProgress> progress = ProgressOf(box);
  if (progress) progress->putref_ProgressSink(nullptr);
}

}  // namespace pullwire::host
