// pullwire: a command-line host for the Pullwire plug-in.
#include <fmt/format.h>

#include <CLI/CLI.hpp>

#include "host/commands.h"
#include "host/host_error.h"

int main(int argc, char** argv) {
  using namespace pullwire::host;
  CLI::App app("pullwire: a command-line host for the Pullwire plug-in (Pullwire.Toolbox)", "pullwire");
  app.require_subcommand(1);
  app.fallthrough();  // --library may follow the subcommand's name
  HostOptions options;
  app.add_option("--library", options.library,
                 "Load this libpullwire.so through its exports instead of the registered one")
      ->type_name("PATH");
  int exit_code = 0;
  AddInfoCommand(app, options);
  AddTypelibCommand(app, options);
  AddRegisterCommands(app, options);
  AddDaemonCommand(app, exit_code);
  AddRunCommand(app, options, exit_code);
  AddEditCommand(app, options, exit_code);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return 2;
  } catch (const HostError& e) {
    fmt::print(stderr, "pullwire: {}\n", e.what());
    return 1;
  } catch (const std::exception& e) {
    fmt::print(stderr, "pullwire: unexpected failure: {}\n", e.what());
    return 1;
  }
  return exit_code;
}
