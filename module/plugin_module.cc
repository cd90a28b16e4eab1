// The module of one loaded library and its default services.
#include "module/plugin_module.h"

#include <cstdio>
#include <string>
#include <utility>

#include <fmt/format.h>

namespace pullwire {
namespace {

class DroppingChannel final : public MessageChannel {
 public:
  void SendHostMessage(const std::string& /*message*/, std::int16_t /*mtype*/) override {}
};

// Message boxes for a process without dialogs: one line on stderr each.
class ConsoleUiServices final : public UiServices {
 public:
  void ShowMessage(const std::string& text, const std::string& title, MessageIcon icon) override {
    fmt::print(stderr, "{}: {}{}\n", title, icon == MessageIcon::kExclamation ? "(!) " : "", text);
    std::fflush(stderr);
  }
};

}  // namespace

PluginModule::PluginModule()
    : messages_(std::make_unique<DroppingChannel>()),
      clock_(std::make_unique<SystemClock>()) {}

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

}  // namespace pullwire
