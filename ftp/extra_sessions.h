// Further sessions beside a main one, logged in the same way, so that a folder's files can be
// fetched several at a time (parallel_fetch.h).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ftp/session.h"

namespace pullwire::ftp {

// One extra session and the working folder it was last sent to ("" when unknown).
struct ExtraSession {
  explicit ExtraSession(SysIo& sys) : session(sys) {}
  Session session;
  std::string folder;
};

class ExtraSessions {
 public:
  // `total`: the sessions wanted in all, the main one included (1: no extra session).
  explicit ExtraSessions(int total = 1) : total_(total) {}
  ~ExtraSessions() { Close(); }
  ExtraSessions(const ExtraSessions&) = delete;
  ExtraSessions& operator=(const ExtraSessions&) = delete;

  void set_total(int total) { total_ = total; }

  // The extra sessions usable beside `main` now, with its time-out and transfer type (TYPE
  // sent where it differs). They are opened on the first call after Close(), logged in like
  // `main`, and kept. A server that refuses one (421 or 530, a closed connection, any failure)
  // is not asked for more, and nothing is reported: the transfers go to the sessions it took.
  // None in active mode or through a proxy, where each data connection needs a handshake of its
  // own and one session is used.
  std::vector<ExtraSession*> For(Session& main);

  // QUIT and close every extra session; the next For() opens them afresh. Never throws.
  void Close() noexcept;

 private:
  void Open(Session& main);

  int total_;
  bool opened_ = false;
  std::vector<std::unique_ptr<ExtraSession>> sessions_;
};

}  // namespace pullwire::ftp
