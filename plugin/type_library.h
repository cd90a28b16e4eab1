// The type library "Pullwire": the one table of the _Toolbox members that late binding, the
// host's listing and the registration read.
#pragma once

#include <string_view>

#include "com/type_info.h"

namespace pullwire {

// Dispatch ids of the _Toolbox members, in interface order; a property's get and put share one.
enum class ToolboxDispId : com::DispId {
  kGInfo = 1,
  kGAuthor,
  kInit,
  kLeft,
  kTop,
  kAutoLog,
  kDInstance,
  kInfo,
  kAuthor,
  kError,
  kVersion,
  kMessageCount,
  kMessage,
  kModuleCount,
  kModuleInfo,
  kDataCount,
  kData,
  kLocalVar,
  kGlobalVar,
  kSetLocalConstants,
  kSetGlobalConstants,
  kSetup,
  kExecute,
};

inline constexpr const char* kTypeLibraryHelpString = "Norvik Toolbox: Pullwire";

// Built once; valid while the library is loaded.
const com::TypeLibraryInfo& PullwireTypeLibrary();
// The _Toolbox interface of that library.
const com::InterfaceInfo& ToolboxInterfaceInfo();

// The accessor of `id` that serves a call of `kind`. Like automation, a call by method may read
// a property and a call by property get may run a method; a put needs a put accessor.
const com::MemberInfo* FindToolboxMember(com::DispId id, com::InvokeKind kind);
// The dispatch id of a member name, any letter case; kDispIdUnknown when there is none.
com::DispId FindToolboxDispId(std::string_view name);

}  // namespace pullwire
