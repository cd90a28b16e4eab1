// The module of one loaded library and its default services.
#include "plugin/plugin_module.h"

#include <string>
#include <utility>

#include "plugin/command_record.h"
#include "plugin/console_ui_services.h"

namespace pullwire {
namespace {

class DroppingChannel final : public MessageChannel {
 public:
  void SendHostMessage(const std::string& /*message*/, std::int16_t /*mtype*/) override {}
};

}  // namespace

PluginModule::PluginModule()
    : messages_(std::make_unique<DroppingChannel>()),
      clock_(std::make_unique<SystemClock>()),
      download_runner_(RunWithoutDownloadRun) {}

PluginModule::~PluginModule() = default;

UiServices& PluginModule::ui() {
  if (!ui_) {
    if (ui_factory_) ui_ = ui_factory_();
    if (!ui_) ui_ = std::make_unique<ConsoleUiServices>();
  }
  return *ui_;
}

void PluginModule::set_message_channel(std::unique_ptr<MessageChannel> channel) {
  messages_ = channel ? std::move(channel) : std::make_unique<DroppingChannel>();
}

void PluginModule::set_clock(std::unique_ptr<Clock> clock) {
  clock_ = clock ? std::move(clock) : std::make_unique<SystemClock>();
}

void PluginModule::set_ui_factory(UiServicesFactory factory) {
  ui_factory_ = std::move(factory);
  ui_.reset();
}

void PluginModule::set_download_runner(DownloadRunner runner) {
  download_runner_ = runner ? std::move(runner) : DownloadRunner(RunWithoutDownloadRun);
}

void RunWithoutDownloadRun(PluginModule& module, const com::StringArray& record) {
  std::string description = "The download run is not available in this build";
  try {
    DecodeForRun(record, module.state().Settings);
  } catch (const RecordError& e) {
    description = e.what();
  }
  module.state().ErrorFlag = true;
  module.messages().SendHostMessage("ERROR_PULL-WIRE [" + description + "]", kErrorMessage);
}

}  // namespace pullwire
