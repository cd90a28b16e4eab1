// Printing a type library.
#include "host/type_library_printer.h"

#include <fmt/format.h>

namespace pullwire::host {
namespace {

std::string TypeName(const com::TypeRef& type) {
  switch (type.kind) {
    case com::TypeKind::kVoid: return "";
    case com::TypeKind::kVariant: return "Variant";
    case com::TypeKind::kBool: return "Boolean";
    case com::TypeKind::kInt16: return "Integer";
    case com::TypeKind::kInt32: return "Long";
    case com::TypeKind::kString: return "String";
    case com::TypeKind::kStringArray: return "String";
    case com::TypeKind::kRecord: return type.record_name;
  }
  return "?";
}

std::string Parameter(const com::ParamInfo& param) {
  const bool array = param.type.kind == com::TypeKind::kStringArray;
  return fmt::format("{}{}{} As {}", param.by_ref ? "ByRef " : "", param.name, array ? "()" : "", TypeName(param.type));
}

std::string Member(const com::MemberInfo& member) {
  std::vector<std::string> params;
  for (const com::ParamInfo& param : member.params) params.push_back(Parameter(param));
  const std::string signature = fmt::format("{}({})", member.name, fmt::join(params, ", "));
  const std::string result = TypeName(member.result);
  switch (member.kind) {
    case com::InvokeKind::kPropertyGet: return fmt::format("Property Get {} As {}", signature, result);
    case com::InvokeKind::kPropertyPut: return fmt::format("Property Let {}", signature);
    case com::InvokeKind::kMethod:
      return result.empty() ? fmt::format("Sub {}", signature) : fmt::format("Function {} As {}", signature, result);
  }
  return signature;
}

}  // namespace

std::string FormatTypeLibrary(const com::TypeLibraryInfo& library) {
  std::string text = fmt::format("library {} {}\n  helpstring \"{}\", lcid {}\n", library.name,
                                 com::ToString(library.guid), library.help_string, library.lcid);
  for (const com::InterfaceInfo& interface : library.interfaces) {
    text += fmt::format("\n{}interface {} {}\n", interface.dual ? "dual " : "", interface.name,
                        com::ToString(interface.iid));
    for (const com::MemberInfo& member : interface.members) {
      text += fmt::format("  [id {:>2}] {}\n", member.id, Member(member));
    }
  }
  for (const com::ClassInfo& coclass : library.classes) {
    text += fmt::format("\ncoclass {} {}\n  ProgID {}, default interface {}{}\n", coclass.name,
                        com::ToString(coclass.clsid), coclass.prog_id, coclass.default_interface,
                        coclass.creatable ? ", creatable" : "");
  }
  for (const com::RecordInfo& record : library.records) {
    text += fmt::format("\nrecord {} {}\n", record.name, com::ToString(record.guid));
    for (const com::ParamInfo& field : record.fields) {
      text += fmt::format("  {} As {}\n", field.name, TypeName(field.type));
    }
  }
  return text;
}

}  // namespace pullwire::host
