// The _Toolbox members by name: IDispatch over the type library table, calling the vtable
// members after converting the arguments as an automation host would.
#include <fmt/format.h>

#include "plugin/dispatch_arguments.h"
#include "plugin/toolbox.h"
#include "plugin/toolbox_call.h"
#include "plugin/type_library.h"
#include "pullwire/record_variants.h"

namespace pullwire {
namespace {

// Visual Basic's numbers for a late-bound call that names no member or passes the wrong count.
constexpr std::int32_t kVbMemberNotFound = 438;
constexpr std::int32_t kVbWrongArgumentCount = 450;

com::Variant AsVariant(std::string value) { return com::Variant(std::move(value)); }
com::Variant AsVariant(std::int16_t value) { return com::Variant(value); }
com::Variant AsVariant(com::VariantBool value) { return com::Variant(value); }
template <typename Record>
com::Variant AsVariant(const Record& record) {
  return com::Variant(ToRecord(record));
}

// Calls a get accessor and hands its value back as a Variant.
template <typename T>
com::HRESULT Read(Toolbox& box, com::HRESULT (Toolbox::*get)(T*), com::Variant* result) {
  T value{};
  const com::HRESULT hr = (box.*get)(&value);
  if (com::Succeeded(hr) && result != nullptr) *result = AsVariant(std::move(value));
  return hr;
}

// The same for an indexed get, with the index converted from `index`.
template <typename T>
com::HRESULT Read(Toolbox& box, com::HRESULT (Toolbox::*get)(const std::int16_t&, T*), const com::Variant& index,
                  com::Variant* result) {
  const std::int16_t i = ArgumentToInt16(index);
  T value{};
  const com::HRESULT hr = (box.*get)(i, &value);
  if (com::Succeeded(hr) && result != nullptr) *result = AsVariant(std::move(value));
  return hr;
}

// Calls the vtable member `id` (its put accessor when `put`) with the converted arguments;
// `args` has the count the type library gives the member.
com::HRESULT CallMember(Toolbox& box, ToolboxDispId id, bool put, std::span<com::Variant> args,
                        com::Variant* result) {
  using D = ToolboxDispId;
  switch (id) {
    case D::kGInfo: return put ? box.put_gInfo(ArgumentToString(args[0])) : Read(box, &Toolbox::get_gInfo, result);
    case D::kGAuthor:
      return put ? box.put_gAuthor(ArgumentToString(args[0])) : Read(box, &Toolbox::get_gAuthor, result);
    case D::kInit: return box.Init();
    case D::kLeft: return box.put_Left(ArgumentToInt16(args[0]));
    case D::kTop: return box.put_Top(ArgumentToInt16(args[0]));
    case D::kAutoLog: return box.put_AutoLog(ArgumentToBool(args[0]));
    case D::kDInstance: return box.put_dInstance(ArgumentToString(args[0]));
    case D::kInfo: return Read(box, &Toolbox::get_Info, result);
    case D::kAuthor: return Read(box, &Toolbox::get_Author, result);
    case D::kError: return Read(box, &Toolbox::get_Error, result);
    case D::kVersion: return Read(box, &Toolbox::get_Version, result);
    case D::kMessageCount: return Read(box, &Toolbox::get_MessageCount, result);
    case D::kMessage: return Read(box, &Toolbox::get_Message, args[0], result);
    case D::kModuleCount: return Read(box, &Toolbox::get_ModuleCount, result);
    case D::kModuleInfo: return Read(box, &Toolbox::get_ModuleInfo, args[0], result);
    case D::kDataCount: return Read(box, &Toolbox::get_DataCount, result);
    case D::kData: return Read(box, &Toolbox::get_Data, args[0], result);
    case D::kLocalVar: return Read(box, &Toolbox::get_LocalVar, args[0], result);
    case D::kGlobalVar: return Read(box, &Toolbox::get_GlobalVar, args[0], result);
    case D::kSetLocalConstants: return box.SetLocalConstants(ArgumentToStringArray(args[0]), result);
    case D::kSetGlobalConstants: return box.SetGlobalConstants(ArgumentToStringArray(args[0]), result);
    case D::kSetup: {
      const std::string module = ArgumentToString(args[0]);
      return box.Setup(module, ArgumentToStringArray(args[1]), result);
    }
    case D::kExecute: {
      const std::string module = ArgumentToString(args[0]);
      return box.Execute(module, ArgumentToStringArray(args[1]), result);
    }
  }
  return com::E_UNEXPECTED;
}

}  // namespace

com::HRESULT Toolbox::GetIDsOfNames(std::string_view name, com::DispId* id) {
  if (id == nullptr) return com::E_POINTER;
  *id = FindToolboxDispId(name);
  if (*id != com::kDispIdUnknown) return com::S_OK;
  return ToolboxCall([&] {
    com::RaiseError(kVbMemberNotFound, "Object doesn't support this property or method: " + std::string(name),
                    kToolboxProgId);
    return com::DISP_E_UNKNOWNNAME;
  });
}

com::HRESULT Toolbox::Invoke(com::DispId id, com::InvokeKind kind, std::span<com::Variant> args,
                             com::Variant* result) {
  if (result != nullptr) *result = com::Variant();
  return ToolboxCall([&] {
    const com::MemberInfo* member = FindToolboxMember(id, kind);
    if (member == nullptr) {
      com::RaiseError(kVbMemberNotFound, "Object doesn't support this property or method", kToolboxProgId);
      return com::DISP_E_MEMBERNOTFOUND;
    }
    if (args.size() != member->params.size()) {
      com::RaiseError(kVbWrongArgumentCount,
                      fmt::format("Wrong number of arguments or invalid property assignment: {} takes {}, got {}",
                                  member->name, member->params.size(), args.size()),
                      kToolboxProgId);
      return com::DISP_E_BADPARAMCOUNT;
    }
    return CallMember(*this, static_cast<ToolboxDispId>(member->id), member->kind == com::InvokeKind::kPropertyPut,
                      args, result);
  });
}

}  // namespace pullwire
