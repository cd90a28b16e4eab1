// DownloadRun with the engine's component against a real server on loopback.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "component/engine_component.h"
#include "tests/download/run_fixture.h"

namespace pullwire::testing {

class ServerRunFixture : public RunFixtureOf<EngineComponent, SystemClock> {
 protected:
  // Runs a flat record against `server`'s /pub; `slots` overrides any field.
  template <typename Server>
  void Run(const Server& server, std::map<std::string, std::string> slots = {}) {
    slots.emplace("Timeout", "10");
    DownloadRun(run, MakeRecord(ServerSlots(server, local, std::move(slots))));
  }
  static std::vector<SentMessage> Opening() { return OpeningFor("127.0.0.1"); }
};

}  // namespace pullwire::testing
