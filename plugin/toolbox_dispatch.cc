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

// Calls a get accessor `(this->*get)(out)` and hands the value back as a Variant.
template <typename T, typename Get>
com::HRESULT ReadInto(Get&& get, com::Variant* result) {
  T value{};
  const com::HRESULT hr = get(&value);
  if (com::Succeeded(hr) && result != nullptr) {
    if constexpr (std::is_same_v<T, std::string> || std::is_same_v<T, std::int16_t> ||
                  std::is_same_v<T, com::VariantBool>) {
      *result = com::Variant(std::move(value));
    } else {
      *result = com::Variant(ToRecord(value));
    }
  }
  return hr;
}

// Init, the puts and the gets without an index.
com::HRESULT CallSimple(Toolbox& box, ToolboxDispId id, com::InvokeKind kind, std::span<com::Variant> args,
                        com::Variant* result) {
  using D = ToolboxDispId;
  const bool put = kind == com::InvokeKind::kPropertyPut;
  switch (id) {
    case D::kGInfo:
      if (put) return box.put_gInfo(ArgumentToString(args[0]));
      return ReadInto<std::string>([&](std::string* v) { return box.get_gInfo(v); }, result);
    case D::kGAuthor:
      if (put) return box.put_gAuthor(ArgumentToString(args[0]));
      return ReadInto<std::string>([&](std::string* v) { return box.get_gAuthor(v); }, result);
    case D::kInit: return box.Init();
    case D::kLeft: return box.put_Left(ArgumentToInt16(args[0]));
    case D::kTop: return box.put_Top(ArgumentToInt16(args[0]));
    case D::kAutoLog: return box.put_AutoLog(ArgumentToBool(args[0]));
    case D::kDInstance: return box.put_dInstance(ArgumentToString(args[0]));
    case D::kInfo: return ReadInto<std::string>([&](std::string* v) { return box.get_Info(v); }, result);
    case D::kAuthor: return ReadInto<std::string>([&](std::string* v) { return box.get_Author(v); }, result);
    case D::kError: return ReadInto<com::VariantBool>([&](com::VariantBool* v) { return box.get_Error(v); }, result);
    case D::kVersion: return ReadInto<std::string>([&](std::string* v) { return box.get_Version(v); }, result);
    case D::kMessageCount:
      return ReadInto<std::int16_t>([&](std::int16_t* v) { return box.get_MessageCount(v); }, result);
    case D::kModuleCount:
      return ReadInto<std::int16_t>([&](std::int16_t* v) { return box.get_ModuleCount(v); }, result);
    case D::kDataCount:
      return ReadInto<std::int16_t>([&](std::int16_t* v) { return box.get_DataCount(v); }, result);
    default: break;
  }
  return com::E_UNEXPECTED;
}

// The indexed gets and the methods with arguments.
com::HRESULT CallWithArguments(Toolbox& box, ToolboxDispId id, std::span<com::Variant> args,
                               com::Variant* result) {
  using D = ToolboxDispId;
  switch (id) {
    case D::kMessage: {
      const std::int16_t index = ArgumentToInt16(args[0]);
      return ReadInto<MessageType>([&](MessageType* v) { return box.get_Message(index, v); }, result);
    }
    case D::kModuleInfo: {
      const std::int16_t index = ArgumentToInt16(args[0]);
      return ReadInto<ModType>([&](ModType* v) { return box.get_ModuleInfo(index, v); }, result);
    }
    case D::kData: {
      const std::int16_t index = ArgumentToInt16(args[0]);
      return ReadInto<std::string>([&](std::string* v) { return box.get_Data(index, v); }, result);
    }
    case D::kLocalVar: {
      const std::int16_t index = ArgumentToInt16(args[0]);
      return ReadInto<VarType>([&](VarType* v) { return box.get_LocalVar(index, v); }, result);
    }
    case D::kGlobalVar: {
      const std::int16_t index = ArgumentToInt16(args[0]);
      return ReadInto<VarType>([&](VarType* v) { return box.get_GlobalVar(index, v); }, result);
    }
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
    default: break;
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
    const auto member_id = static_cast<ToolboxDispId>(member->id);
    if (member->kind != com::InvokeKind::kPropertyPut && !member->params.empty()) {
      return CallWithArguments(*this, member_id, args, result);
    }
    return CallSimple(*this, member_id, member->kind, args, result);
  });
}

}  // namespace pullwire
