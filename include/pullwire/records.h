// The automation records a Toolbox hands to its host by value: VarType, ModType, MessageType.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

#include "com/guid.h"
#include "com/variant.h"

namespace pullwire {

// A host variable slot: Use is a 16-bit automation Boolean (True is -1).
struct VarType {
  com::VariantBool Use;
  std::string Value;

  friend bool operator==(const VarType&, const VarType&) = default;
};

// A module the plug-in contributes; icons are bare file names the host resolves.
struct ModType {
  std::string Name;
  std::string IconLarge;
  std::string IconSmall;
  std::string Cat;
  std::string CatIconLarge;
  std::string CatIconSmall;

  friend bool operator==(const ModType&, const ModType&) = default;
};

// A queued host message; Mtype 0 information, 1 warning, 2 error.
struct MessageType {
  std::string Timestamp;
  std::string Message;
  std::int16_t Mtype = 0;

  friend bool operator==(const MessageType&, const MessageType&) = default;
};

inline constexpr com::Guid GUID_VarType{0xEDC11568, 0xE85F, 0x4500, {0x9F, 0xAE, 0x23, 0xAB, 0x58, 0x15, 0xE9, 0x40}};
inline constexpr com::Guid GUID_ModType{0xCAD7CF9D, 0x60B5, 0x4FF7, {0xA3, 0xA1, 0xEC, 0xC9, 0x4D, 0xE2, 0x80, 0xEB}};
inline constexpr com::Guid GUID_MessageType{0xFD8039A1, 0xE06B, 0x4F45,
                                            {0x99, 0x4C, 0x61, 0x80, 0x9A, 0xAC, 0x70, 0x78}};

// The records cross the library boundary by value under the Itanium C++ ABI with libstdc++:
// fix their layout so that a host and a plug-in built apart agree on it.
static_assert(sizeof(com::VariantBool) == 2 && std::is_standard_layout_v<com::VariantBool>);
static_assert(std::is_standard_layout_v<VarType> && std::is_standard_layout_v<ModType> &&
              std::is_standard_layout_v<MessageType>);
static_assert(offsetof(VarType, Use) == 0 && offsetof(VarType, Value) == alignof(std::string));
static_assert(sizeof(VarType) == alignof(std::string) + sizeof(std::string));
static_assert(offsetof(ModType, Name) == 0 && offsetof(ModType, IconLarge) == sizeof(std::string) &&
              offsetof(ModType, IconSmall) == 2 * sizeof(std::string) &&
              offsetof(ModType, Cat) == 3 * sizeof(std::string) &&
              offsetof(ModType, CatIconLarge) == 4 * sizeof(std::string) &&
              offsetof(ModType, CatIconSmall) == 5 * sizeof(std::string) &&
              sizeof(ModType) == 6 * sizeof(std::string));
static_assert(offsetof(MessageType, Timestamp) == 0 && offsetof(MessageType, Message) == sizeof(std::string) &&
              offsetof(MessageType, Mtype) == 2 * sizeof(std::string) &&
              sizeof(MessageType) == 2 * sizeof(std::string) + alignof(std::string));
#if defined(__GLIBCXX__) && _GLIBCXX_USE_CXX11_ABI
static_assert(sizeof(std::string) == 32, "libstdc++'s new string ABI is the boundary's string");
#endif

}  // namespace pullwire
