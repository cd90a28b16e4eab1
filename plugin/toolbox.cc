// The _Toolbox members by vtable.
#include "plugin/toolbox.h"

#include <fcntl.h>
#include <fmt/format.h>

#include "module/command_record.h"
#include "module/host_locale.h"
#include "module/variable_slots.h"
#include "plugin/toolbox_call.h"
#include "plugin/type_library.h"
#include "pullwire/version.h"

namespace pullwire {
namespace {

constexpr const char* kModuleId = "PULLWIRE";

// The one module this plug-in contributes, as Init stores it at ModuleTable index 1.
ModuleDescription PullwireModuleDescription() {
  return ModuleDescription{
      .Name = "Pullwire",
      .IconLarge = "il_pullwire.ico",
      .IconSmall = "is_pullwire.ico",
      .Cat = "Network",
      .CatIconLarge = "icl_network.ico",
      .CatIconSmall = "ics_network.ico",
  };
}

// Init's reset: the message queue (indices 0..1, empty, count 0), the module table (indices 0..2,
// the description at 1, count 1) and variable slots 0..14. The flags, the daemon instance, the
// dialog position, the command settings and the edited record stay as they are.
void InitModuleState(ModuleState& state) {
  state.MessageQueueCount = 0;
  state.MessageQueue = std::vector<QueuedMessage>(2);
  state.ModuleTable = std::vector<ModuleDescription>(3);
  state.ModuleTable[1] = PullwireModuleDescription();
  state.ModuleCount = 1;
  ResetVariableSlots(state);
}

// Copies `value` out when there is somewhere to put it; a null out-pointer is E_POINTER.
template <typename T, typename Make>
com::HRESULT Return(T* out, Make&& make) {
  if (out == nullptr) return com::E_POINTER;
  return ToolboxCall([&] {
    *out = make();
    return com::S_OK;
  });
}

// The methods' result is always an empty variant.
void ClearResult(com::Variant* result) {
  if (result != nullptr) *result = com::Variant();
}

// Element `index` of a table that exists only after Init or a save; "Subscript out of range"
// for a missing table or an index outside it.
template <typename Container>
const auto& Element(const Container& table, std::int16_t index) {
  if (index < 0 || static_cast<std::size_t>(index) >= table.size()) throw VbError(com::kVbSubscriptOutOfRange);
  return table[static_cast<std::size_t>(index)];
}

VarType ToVarType(const VariableSlot& slot) { return VarType{com::VariantBool::From(slot.Use), slot.Value}; }

}  // namespace

std::string UpperCaseModuleId(const std::string& module) { return UpperCaseText(module); }

Toolbox::Toolbox(PluginModule& module) : RefCounted(&module.objects()), module_(module) {}

com::HRESULT Toolbox::QueryInterface(const com::Guid& iid, void** object) {
  return com::QueryInterfaceFrom(
      iid, object,
      {com::Expose<_Toolbox>(this, IID__Toolbox),
       com::Expose<com::IDispatch>(this, com::IID_IDispatch),
       com::Expose<com::IProvideTypeLibrary>(this, com::IID_IProvideTypeLibrary),
       com::Expose<IToolboxProgress>(this, IID_IToolboxProgress),
       com::Expose<IToolboxCancel>(this, IID_IToolboxCancel)});
}

com::HRESULT Toolbox::GetTypeLibrary(const com::TypeLibraryInfo** library) {
  return Return(library, [] { return &PullwireTypeLibrary(); });
}

com::HRESULT Toolbox::putref_ProgressSink(ITransferProgressSink* sink) {
  progress_sink_ = com::ComPtr<ITransferProgressSink>::Shared(sink);
  return com::S_OK;
}

com::HRESULT Toolbox::put_CancelDescriptor(std::int32_t fd) {
  if (fd < -1 || (fd >= 0 && ::fcntl(fd, F_GETFD) < 0)) return com::E_INVALIDARG;
  cancel_fd_ = fd;
  return com::S_OK;
}

com::HRESULT Toolbox::get_gInfo(std::string* value) {
  return Return(value, [&] { return gInfo_; });
}

com::HRESULT Toolbox::put_gInfo(const std::string& value) {
  return ToolboxCall([&] {
    gInfo_ = value;
    return com::S_OK;
  });
}

com::HRESULT Toolbox::get_gAuthor(std::string* value) {
  return Return(value, [&] { return gAuthor_; });
}

com::HRESULT Toolbox::put_gAuthor(const std::string& value) {
  return ToolboxCall([&] {
    gAuthor_ = value;
    return com::S_OK;
  });
}

com::HRESULT Toolbox::Init() {
  return ToolboxCall([&] {
    gInfo_ = kToolboxInfo;
    gAuthor_ = kAuthorCredit;
    InitModuleState(module_.state());
    return com::S_OK;
  });
}

com::HRESULT Toolbox::put_Left(std::int16_t value) {
  module_.state().DialogLeft = value;
  return com::S_OK;
}

com::HRESULT Toolbox::put_Top(std::int16_t value) {
  module_.state().DialogTop = value;
  return com::S_OK;
}

com::HRESULT Toolbox::put_AutoLog(com::VariantBool value) {
  module_.state().AutoLog = value.IsTrue();
  return com::S_OK;
}

com::HRESULT Toolbox::put_dInstance(const std::string& value) {
  return ToolboxCall([&] {
    module_.state().DaemonInstance = value;
    return com::S_OK;
  });
}

com::HRESULT Toolbox::get_Info(std::string* value) {
  return Return(value, [&] { return gInfo_; });
}

com::HRESULT Toolbox::get_Author(std::string* value) {
  return Return(value, [&] { return gAuthor_; });
}

com::HRESULT Toolbox::get_Error(com::VariantBool* value) {
  return Return(value, [&] { return com::VariantBool::From(module_.state().ErrorFlag); });
}

com::HRESULT Toolbox::get_Version(std::string* value) {
  return Return(value, [] { return fmt::format("{}.{}.{}", kVersionMajor, kVersionMinor, kVersionRevision); });
}

com::HRESULT Toolbox::get_MessageCount(std::int16_t* value) {
  return Return(value, [&] { return module_.state().MessageQueueCount; });
}

com::HRESULT Toolbox::get_Message(const std::int16_t& Index, MessageType* value) {
  return Return(value, [&] {
    const auto& queue = module_.state().MessageQueue;
    if (!queue) throw VbError(com::kVbSubscriptOutOfRange);  // before the first Init
    const QueuedMessage& message = Element(*queue, Index);
    return MessageType{message.Timestamp, message.Message, message.Mtype};
  });
}

com::HRESULT Toolbox::get_ModuleCount(std::int16_t* value) {
  return Return(value, [&] { return module_.state().ModuleCount; });
}

com::HRESULT Toolbox::get_ModuleInfo(const std::int16_t& Index, ModType* value) {
  return Return(value, [&] {
    const ModuleDescription& m = Element(module_.state().ModuleTable, Index);
    return ModType{m.Name, m.IconLarge, m.IconSmall, m.Cat, m.CatIconLarge, m.CatIconSmall};
  });
}

com::HRESULT Toolbox::get_DataCount(std::int16_t* value) {
  return Return(value, [&] { return module_.state().EditedRecordCount; });
}

com::HRESULT Toolbox::get_Data(const std::int16_t& Index, std::string* value) {
  return Return(value, [&] {
    const auto& record = module_.state().EditedRecord;
    if (!record) throw VbError(com::kVbSubscriptOutOfRange);  // before the first save
    return Element(*record, Index);
  });
}

com::HRESULT Toolbox::get_LocalVar(const std::int16_t& Index, VarType* value) {
  return Return(value, [&] { return ToVarType(ReadVariableSlot(module_.state().LocalVars, Index)); });
}

com::HRESULT Toolbox::get_GlobalVar(const std::int16_t& Index, VarType* value) {
  return Return(value, [&] { return ToVarType(ReadVariableSlot(module_.state().GlobalVars, Index)); });
}

com::HRESULT Toolbox::SetLocalConstants(const com::StringArray& Value, com::Variant* result) {
  ClearResult(result);
  return ToolboxCall([&] {
    SetConstantCaptions(module_.state(), ConstantScope::kLocal, Value);
    return com::S_OK;
  });
}

com::HRESULT Toolbox::SetGlobalConstants(const com::StringArray& Value, com::Variant* result) {
  ClearResult(result);
  return ToolboxCall([&] {
    SetConstantCaptions(module_.state(), ConstantScope::kGlobal, Value);
    return com::S_OK;
  });
}

com::HRESULT Toolbox::Setup(const std::string& Module, const com::StringArray& Data, com::Variant* result) {
  ClearResult(result);
  return ToolboxCall([&] {
    // First, whatever the module: a host reading DataCount after an unknown module or a faulty
    // record must not take an earlier save for this one.
    module_.state().EditedRecordCount = 0;
    SetupModule(Module, Data);
    return com::S_OK;
  });
}

void Toolbox::SetupModule(const std::string& Module, const com::StringArray& Data) {
  const std::string module_id = UpperCaseModuleId(Module);
  if (module_id != kModuleId) {
    module_.ui().ShowMessage("Module [" + module_id + "] is unknown!", "Unknown Module",
                             MessageIcon::kExclamation);
    return;
  }
  CommandEditor* editor = module_.command_editor();
  if (editor != nullptr) editor->Position(module_);
  DecodeForEditing(Data, module_.state().Settings);
  if (editor != nullptr) editor->Edit(module_);
}

com::HRESULT Toolbox::Execute(const std::string& Module, const com::StringArray& Data, com::Variant* result) {
  ClearResult(result);
  // Execute never fails towards the host: the run reports through messages and ErrorFlag.
  try {
    const std::string module_id = UpperCaseModuleId(Module);
    if (module_id == kModuleId) {
      // This object's sink, for this run only: another object's Execute reports to its own.
      module_.set_progress_sink(progress_sink_.get());
      module_.set_cancel_fd(cancel_fd_);
      if (module_.download_runner()) module_.download_runner()(module_, Data);
    } else {
      module_.messages().SendHostMessage("WARNING: Module [" + module_id + "] is unknown!", kWarningMessage);
    }
  } catch (...) {
  }
  module_.set_progress_sink(nullptr);
  module_.set_cancel_fd(-1);
  // The host reads a run's messages as complete once Execute has returned.
  module_.messages().EndRun();
  return com::S_OK;
}

}  // namespace pullwire
