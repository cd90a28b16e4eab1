// Type library descriptions: what an object's members, records and classes look like, so that a
// host can list them and late binding can check names, kinds and argument counts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "com/guid.h"
#include "com/unknown.h"
#include "com/variant.h"

namespace pullwire::com {

// Types as a type library names them; records are named by `record_name`.
enum class TypeKind { kVoid, kVariant, kBool, kInt16, kInt32, kString, kStringArray, kRecord };

struct TypeRef {
  TypeKind kind = TypeKind::kVoid;
  std::string record_name;  // for kRecord: "VarType", "ModType", "MessageType"

  friend bool operator==(const TypeRef&, const TypeRef&) = default;
};

struct ParamInfo {
  std::string name;
  TypeRef type;
  bool by_ref = false;
};

// One member accessor; a read-write property has two entries with the same dispatch id.
struct MemberInfo {
  std::string name;
  InvokeKind kind = InvokeKind::kMethod;
  DispId id = kDispIdUnknown;
  std::vector<ParamInfo> params;  // for a put: the value is the last parameter
  TypeRef result;
};

struct InterfaceInfo {
  std::string name;  // "_Toolbox"
  Guid iid;
  bool dual = true;
  std::vector<MemberInfo> members;  // in interface (vtable slot) order
};

struct RecordInfo {
  std::string name;  // "VarType"
  Guid guid;
  std::vector<ParamInfo> fields;  // in declaration order; by_ref unused
};

struct ClassInfo {
  std::string name;  // "Toolbox"
  Guid clsid;
  std::string prog_id;
  std::string default_interface;
  bool creatable = true;
};

struct TypeLibraryInfo {
  std::string name;  // "Pullwire"
  std::string help_string;
  std::uint32_t lcid = 0;
  Guid guid;
  std::vector<InterfaceInfo> interfaces;
  std::vector<ClassInfo> classes;
  std::vector<RecordInfo> records;
};

// Implemented by objects that carry a type library (COM's IProvideClassInfo, simplified).
class PULLWIRE_COM_API IProvideTypeLibrary : public IUnknown {
 public:
  // The pointer stays valid while the object's library is loaded.
  virtual HRESULT GetTypeLibrary(const TypeLibraryInfo** library /*out*/) = 0;

 protected:
  ~IProvideTypeLibrary() = default;
};
inline constexpr Guid IID_IProvideTypeLibrary{0x6E3A1C52, 0x9D0B, 0x4F27, {0x8B, 0x31, 0x2C, 0x55, 0x90, 0x4E, 0x17, 0xA3}};

}  // namespace pullwire::com
