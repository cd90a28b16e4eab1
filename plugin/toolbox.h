// The Toolbox object: one per CreateInstance, sharing its library's module with every other.
#pragma once

#include <string>

#include "com/ref_counted.h"
#include "com/type_info.h"
#include "module/plugin_module.h"
#include "pullwire/toolbox.h"

namespace pullwire {

// The author credit Init stores in gAuthor.
inline constexpr const char* kAuthorCredit = "Maren Holt, Quenlo";
inline constexpr const char* kToolboxInfo = "Norvik Plugin: Pullwire";

class Toolbox final
    : public com::RefCounted<_Toolbox, com::IProvideTypeLibrary, IToolboxProgress, IToolboxCancel> {
 public:
  // Counts itself in module.objects() while alive; the module must outlive it.
  explicit Toolbox(PluginModule& module);

  com::HRESULT QueryInterface(const com::Guid& iid, void** object /*out*/) override;

  // IDispatch, by name through the type library table (toolbox_dispatch.cc).
  com::HRESULT GetIDsOfNames(std::string_view name, com::DispId* id /*out*/) override;
  com::HRESULT Invoke(com::DispId id, com::InvokeKind kind, std::span<com::Variant> args /*in, out*/,
                      com::Variant* result /*out*/) override;

  com::HRESULT GetTypeLibrary(const com::TypeLibraryInfo** library /*out*/) override;

  // IToolboxProgress: the sink this object's Execute reports transfer progress to.
  com::HRESULT putref_ProgressSink(ITransferProgressSink* sink) override;
  // IToolboxCancel: the descriptor this object's Execute watches for the host's stop.
  com::HRESULT put_CancelDescriptor(std::int32_t fd) override;

  com::HRESULT get_gInfo(std::string* value) override;
  com::HRESULT put_gInfo(const std::string& value) override;
  com::HRESULT get_gAuthor(std::string* value) override;
  com::HRESULT put_gAuthor(const std::string& value) override;
  com::HRESULT Init() override;
  com::HRESULT put_Left(std::int16_t value) override;
  com::HRESULT put_Top(std::int16_t value) override;
  com::HRESULT put_AutoLog(com::VariantBool value) override;
  com::HRESULT put_dInstance(const std::string& value) override;
  com::HRESULT get_Info(std::string* value) override;
  com::HRESULT get_Author(std::string* value) override;
  com::HRESULT get_Error(com::VariantBool* value) override;
  com::HRESULT get_Version(std::string* value) override;
  com::HRESULT get_MessageCount(std::int16_t* value) override;
  com::HRESULT get_Message(const std::int16_t& Index, MessageType* value) override;
  com::HRESULT get_ModuleCount(std::int16_t* value) override;
  com::HRESULT get_ModuleInfo(const std::int16_t& Index, ModType* value) override;
  com::HRESULT get_DataCount(std::int16_t* value) override;
  com::HRESULT get_Data(const std::int16_t& Index, std::string* value) override;
  com::HRESULT get_LocalVar(const std::int16_t& Index, VarType* value) override;
  com::HRESULT get_GlobalVar(const std::int16_t& Index, VarType* value) override;
  com::HRESULT SetLocalConstants(const com::StringArray& Value, com::Variant* result) override;
  com::HRESULT SetGlobalConstants(const com::StringArray& Value, com::Variant* result) override;
  com::HRESULT Setup(const std::string& Module, const com::StringArray& Data, com::Variant* result) override;
  com::HRESULT Execute(const std::string& Module, const com::StringArray& Data, com::Variant* result) override;

 private:
  ~Toolbox() override = default;

  // Setup after its count reset, and the module-id test shared with Execute.
  void SetupModule(const std::string& Module, const com::StringArray& Data);

  PluginModule& module_;
  std::string gInfo_;
  std::string gAuthor_;
  com::ComPtr<ITransferProgressSink> progress_sink_;
  int cancel_fd_ = -1;
};

// The module id as Setup and Execute compare and report it: upper-cased like the host's UCase,
// beyond ASCII too ("pullwiré" gives "PULLWIRÉ").
std::string UpperCaseModuleId(const std::string& module);

}  // namespace pullwire
