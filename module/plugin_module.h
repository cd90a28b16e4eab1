// One loaded library's module: the module-wide state every Toolbox object shares, the services
// its members reach the outside through, and the seams the dialogs and the run plug into.
#pragma once

#include <functional>
#include <memory>
#include <utility>

#include "com/ref_counted.h"
#include "com/variant.h"
#include "module/clock.h"
#include "module/message_channel.h"
#include "module/module_state.h"
#include "module/ui_services.h"
#include "pullwire/toolbox.h"

namespace pullwire {

class PluginModule;

// Creates the desktop services when a message box or dialog is first needed, so that a host
// without a display never meets a GUI object before then.
using UiServicesFactory = std::function<std::unique_ptr<UiServices>()>;

// Setup's command editor, installed by the dialogs layer. Without one, Setup returns after the
// decode.
class CommandEditor {
 public:
  virtual ~CommandEditor() = default;
  // Before the record is decoded: places the editor at state().DialogLeft/DialogTop, lowering
  // DialogTop when the dialog would reach into the bottom of the screen.
  virtual void Position(PluginModule& module) = 0;
  // After the decode into state().Settings: fills the editor, shows it modally and returns when
  // it closed; a save has encoded the edited record by then.
  virtual void Edit(PluginModule& module) = 0;
};

// Execute's download run with the host's record: decodes it by the run rules, runs and reports
// through messages() and state().ErrorFlag. Must not throw.
using DownloadRunner = std::function<void(PluginModule& module, const com::StringArray& record)>;

class PluginModule {
 public:
  // With the real wall clock; the message channel starts as one that drops everything until
  // set_message_channel installs the real one (or a test's).
  PluginModule();
  PluginModule(const PluginModule&) = delete;
  PluginModule& operator=(const PluginModule&) = delete;
  ~PluginModule();

  ModuleState& state() { return state_; }
  MessageChannel& messages() { return *messages_; }
  Clock& clock() { return *clock_; }
  // Live Toolbox objects, class factories and server locks, for DllCanUnloadNow.
  com::ObjectCounter& objects() { return objects_; }

  // The message boxes, made by the factory on first use; without a factory (or when it makes
  // none), boxes written to stderr.
  UiServices& ui();

  // Where the running Execute's transfer progress goes: the sink of the Toolbox that runs it,
  // null when its host did not ask. Set by the Toolbox for the length of one Execute.
  ITransferProgressSink* progress_sink() const { return progress_sink_; }
  void set_progress_sink(ITransferProgressSink* sink) { progress_sink_ = sink; }
  // The descriptor the running Execute watches for its host's stop (IToolboxCancel); -1: none.
  int cancel_fd() const { return cancel_fd_; }
  void set_cancel_fd(int fd) { cancel_fd_ = fd; }

  // Null while none is installed.
  CommandEditor* command_editor() { return command_editor_.get(); }
  // Empty until the download layer installs the run (InstallDownloadRun).
  const DownloadRunner& download_runner() const { return download_runner_; }

  void set_message_channel(std::unique_ptr<MessageChannel> channel);
  void set_clock(std::unique_ptr<Clock> clock);
  void set_ui_factory(UiServicesFactory factory);
  void set_command_editor(std::unique_ptr<CommandEditor> editor) { command_editor_ = std::move(editor); }
  void set_download_runner(DownloadRunner runner) { download_runner_ = std::move(runner); }

 private:
  ModuleState state_;
  std::unique_ptr<MessageChannel> messages_;
  std::unique_ptr<Clock> clock_;
  com::ObjectCounter objects_;
  UiServicesFactory ui_factory_;
  std::unique_ptr<UiServices> ui_;
  std::unique_ptr<CommandEditor> command_editor_;
  DownloadRunner download_runner_;
  ITransferProgressSink* progress_sink_ = nullptr;
  int cancel_fd_ = -1;
};

}  // namespace pullwire
