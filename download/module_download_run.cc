// The module's one FTP component and the runner that hands it to DownloadRun.
#include "download/module_download_run.h"

#include <memory>

#include "component/engine_component.h"
#include "download/download_run.h"
#include "download/progress_relay.h"

namespace pullwire {
namespace {

// Holds the component for as long as the module keeps the runner.
class ModuleComponent {
 public:
  FtpComponent& Get() {
    if (!component_) component_ = std::make_unique<EngineComponent>();
    return *component_;
  }

 private:
  std::unique_ptr<EngineComponent> component_;
};

}  // namespace

void InstallDownloadRun(PluginModule& module) {
  auto component = std::make_shared<ModuleComponent>();
  module.set_download_runner([component](PluginModule& m, const com::StringArray& record) {
    RunContext run{m.state(), component->Get(), m.messages(), m.clock()};
    const ProgressRelay progress(run.ftp, m.state(), m.progress_sink());
    run.ftp.SetCancelDescriptor(m.cancel_fd());
    DownloadRun(run, record);
    run.ftp.SetCancelDescriptor(-1);
  });
}

}  // namespace pullwire
