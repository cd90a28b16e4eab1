// The static table of the type library.
#include "plugin/type_library.h"

#include "com/names.h"
#include "pullwire/records.h"
#include "pullwire/toolbox.h"

namespace pullwire {
namespace {

using com::InvokeKind;
using com::MemberInfo;
using com::ParamInfo;
using com::TypeKind;
using com::TypeRef;

const TypeRef kVoid{TypeKind::kVoid, {}};
const TypeRef kVariant{TypeKind::kVariant, {}};
const TypeRef kBool{TypeKind::kBool, {}};
const TypeRef kInt16{TypeKind::kInt16, {}};
const TypeRef kString{TypeKind::kString, {}};
const TypeRef kStringArray{TypeKind::kStringArray, {}};
TypeRef RecordRef(const char* name) { return TypeRef{TypeKind::kRecord, name}; }

com::DispId Id(ToolboxDispId id) { return static_cast<com::DispId>(id); }

MemberInfo Get(const char* name, ToolboxDispId id, TypeRef result) {
  return MemberInfo{name, InvokeKind::kPropertyGet, Id(id), {}, std::move(result)};
}
MemberInfo IndexedGet(const char* name, ToolboxDispId id, TypeRef result) {
  return MemberInfo{name, InvokeKind::kPropertyGet, Id(id), {ParamInfo{"Index", kInt16, true}}, std::move(result)};
}
MemberInfo Put(const char* name, ToolboxDispId id, TypeRef value) {
  return MemberInfo{name, InvokeKind::kPropertyPut, Id(id), {ParamInfo{"value", std::move(value), false}}, kVoid};
}
MemberInfo Method(const char* name, ToolboxDispId id, std::vector<ParamInfo> params, TypeRef result) {
  return MemberInfo{name, InvokeKind::kMethod, Id(id), std::move(params), std::move(result)};
}

std::vector<MemberInfo> ToolboxMembers() {
  using D = ToolboxDispId;
  const ParamInfo module{"Module", kString, true};
  const ParamInfo data{"Data", kStringArray, true};
  const ParamInfo value{"Value", kStringArray, true};
  return {
      Get("gInfo", D::kGInfo, kString),
      Put("gInfo", D::kGInfo, kString),
      Get("gAuthor", D::kGAuthor, kString),
      Put("gAuthor", D::kGAuthor, kString),
      Method("Init", D::kInit, {}, kVoid),
      Put("Left", D::kLeft, kInt16),
      Put("Top", D::kTop, kInt16),
      Put("AutoLog", D::kAutoLog, kBool),
      Put("dInstance", D::kDInstance, kString),
      Get("Info", D::kInfo, kString),
      Get("Author", D::kAuthor, kString),
      Get("Error", D::kError, kBool),
      Get("Version", D::kVersion, kString),
      Get("MessageCount", D::kMessageCount, kInt16),
      IndexedGet("Message", D::kMessage, RecordRef("MessageType")),
      Get("ModuleCount", D::kModuleCount, kInt16),
      IndexedGet("ModuleInfo", D::kModuleInfo, RecordRef("ModType")),
      Get("DataCount", D::kDataCount, kInt16),
      IndexedGet("Data", D::kData, kString),
      IndexedGet("LocalVar", D::kLocalVar, RecordRef("VarType")),
      IndexedGet("GlobalVar", D::kGlobalVar, RecordRef("VarType")),
      Method("SetLocalConstants", D::kSetLocalConstants, {value}, kVariant),
      Method("SetGlobalConstants", D::kSetGlobalConstants, {value}, kVariant),
      Method("Setup", D::kSetup, {module, data}, kVariant),
      Method("Execute", D::kExecute, {module, data}, kVariant),
  };
}

com::TypeLibraryInfo BuildTypeLibrary() {
  com::TypeLibraryInfo library;
  library.name = "Pullwire";
  library.help_string = kTypeLibraryHelpString;
  library.lcid = 1033;
  library.guid = LIBID_Pullwire;
  library.interfaces.push_back(com::InterfaceInfo{"_Toolbox", IID__Toolbox, true, ToolboxMembers()});
  library.classes.push_back(com::ClassInfo{"Toolbox", CLSID_Toolbox, kToolboxProgId, "_Toolbox", true});
  library.records = {
      com::RecordInfo{"VarType", GUID_VarType, {{"Use", kBool}, {"Value", kString}}},
      com::RecordInfo{"ModType",
                      GUID_ModType,
                      {{"Name", kString},
                       {"IconLarge", kString},
                       {"IconSmall", kString},
                       {"Cat", kString},
                       {"CatIconLarge", kString},
                       {"CatIconSmall", kString}}},
      com::RecordInfo{"MessageType", GUID_MessageType, {{"Timestamp", kString}, {"Message", kString}, {"Mtype", kInt16}}},
  };
  return library;
}

}  // namespace

const com::TypeLibraryInfo& PullwireTypeLibrary() {
  static const com::TypeLibraryInfo library = BuildTypeLibrary();
  return library;
}

const com::InterfaceInfo& ToolboxInterfaceInfo() { return PullwireTypeLibrary().interfaces.front(); }

const com::MemberInfo* FindToolboxMember(com::DispId id, com::InvokeKind kind) {
  const com::MemberInfo* fallback = nullptr;
  for (const MemberInfo& member : ToolboxInterfaceInfo().members) {
    if (member.id != id) continue;
    if (member.kind == kind) return &member;
    const bool readable = member.kind != InvokeKind::kPropertyPut && kind != InvokeKind::kPropertyPut;
    if (readable && fallback == nullptr) fallback = &member;
  }
  return fallback;
}

com::DispId FindToolboxDispId(std::string_view name) {
  for (const MemberInfo& member : ToolboxInterfaceInfo().members) {
    if (com::EqualsIgnoringCase(member.name, name)) return member.id;
  }
  return com::kDispIdUnknown;
}

}  // namespace pullwire
