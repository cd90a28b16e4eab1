// `pullwire info` and `pullwire typelib`: what the loaded Toolbox says about itself.
#include <fmt/format.h>

#include "com/type_info.h"
#include "host/commands.h"
#include "host/host_error.h"
#include "host/toolbox_loader.h"
#include "host/type_library_printer.h"

namespace pullwire::host {
namespace {

void PrintInfo(const HostOptions& options) {
  LoadedToolbox loaded = LoadToolbox(options.library);
  _Toolbox& box = *loaded.toolbox.get();
  Check(box.Init(), "Init failed");
  std::string info, author, version;
  std::int16_t count = 0;
  Check(box.get_Info(&info), "Info failed");
  Check(box.get_Author(&author), "Author failed");
  Check(box.get_Version(&version), "Version failed");
  Check(box.get_ModuleCount(&count), "ModuleCount failed");
  fmt::print("Info:      {}\nAuthor:    {}\nVersion:   {}\nLoaded:    {}\nModules:   {}\n", info, author, version,
             loaded.origin, count);
  for (std::int16_t index = 1; index <= count; ++index) {
    ModType module;
    Check(box.get_ModuleInfo(index, &module), fmt::format("ModuleInfo({}) failed", index));
    fmt::print("Module {}:  {} (category {})\n  icons {}, {}; category icons {}, {}\n", index, module.Name,
               module.Cat, module.IconLarge, module.IconSmall, module.CatIconLarge, module.CatIconSmall);
  }
}

void PrintTypeLibrary(const HostOptions& options) {
  LoadedToolbox loaded = LoadToolbox(options.library);
  auto provider = loaded.toolbox.As<com::IProvideTypeLibrary>(com::IID_IProvideTypeLibrary);
  if (!provider) throw HostError("the Toolbox carries no type library");
  const com::TypeLibraryInfo* library = nullptr;
  Check(provider->GetTypeLibrary(&library), "GetTypeLibrary failed");
  fmt::print("{}", FormatTypeLibrary(*library));
}

}  // namespace

void AddInfoCommand(CLI::App& app, const HostOptions& options) {
  app.add_subcommand("info", "Load the Toolbox, call Init and show Info, Author, Version and the modules")
      ->callback([&options] { PrintInfo(options); });
}

void AddTypelibCommand(CLI::App& app, const HostOptions& options) {
  app.add_subcommand("typelib", "Print the type library of the Toolbox: members, dispatch ids, records")
      ->callback([&options] { PrintTypeLibrary(options); });
}

}  // namespace pullwire::host
