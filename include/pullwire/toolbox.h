// The Toolbox class as a host sees it: the dual interface _Toolbox, its identifiers and ProgID.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "com/guid.h"
#include "com/hresult.h"
#include "com/unknown.h"
#include "com/variant.h"
#include "pullwire/records.h"

namespace pullwire {

inline constexpr const char* kToolboxProgId = "Pullwire.Toolbox";

// The type library "Pullwire", the class Toolbox and its default interface _Toolbox.
inline constexpr com::Guid LIBID_Pullwire{0xF2039550, 0xA86B, 0x4C6B, {0xB5, 0x78, 0x14, 0x77, 0x28, 0x36, 0xFE, 0x02}};
inline constexpr com::Guid CLSID_Toolbox{0x8530A44E, 0x7BA6, 0x46F5, {0x89, 0xA3, 0xC9, 0xD7, 0x22, 0x7D, 0x68, 0xA3}};
inline constexpr com::Guid IID__Toolbox{0xFD69521B, 0x3936, 0x44EA, {0xA0, 0xCA, 0x11, 0x43, 0x20, 0x51, 0x44, 0x62}};

// Dual: the same members by vtable here and by name through IDispatch. Each member returns S_OK
// or a failing result with the calling thread's error record set (Visual Basic numbers: 9
// "Subscript out of range", 13 "Type mismatch", 6 "Overflow"); out-values are untouched on
// failure. Index arguments are by reference and never modified. Slot order is the contract.
class _Toolbox : public com::IDispatch {
 public:
  virtual com::HRESULT get_gInfo(std::string* value /*out*/) = 0;
  virtual com::HRESULT put_gInfo(const std::string& value /*in*/) = 0;
  virtual com::HRESULT get_gAuthor(std::string* value /*out*/) = 0;
  virtual com::HRESULT put_gAuthor(const std::string& value /*in*/) = 0;
  virtual com::HRESULT Init() = 0;
  virtual com::HRESULT put_Left(std::int16_t value /*in*/) = 0;
  virtual com::HRESULT put_Top(std::int16_t value /*in*/) = 0;
  virtual com::HRESULT put_AutoLog(com::VariantBool value /*in*/) = 0;
  virtual com::HRESULT put_dInstance(const std::string& value /*in*/) = 0;
  virtual com::HRESULT get_Info(std::string* value /*out*/) = 0;
  virtual com::HRESULT get_Author(std::string* value /*out*/) = 0;
  virtual com::HRESULT get_Error(com::VariantBool* value /*out*/) = 0;
  virtual com::HRESULT get_Version(std::string* value /*out*/) = 0;
  virtual com::HRESULT get_MessageCount(std::int16_t* value /*out*/) = 0;
  virtual com::HRESULT get_Message(const std::int16_t& Index /*in*/, MessageType* value /*out*/) = 0;
  virtual com::HRESULT get_ModuleCount(std::int16_t* value /*out*/) = 0;
  virtual com::HRESULT get_ModuleInfo(const std::int16_t& Index /*in*/, ModType* value /*out*/) = 0;
  virtual com::HRESULT get_DataCount(std::int16_t* value /*out*/) = 0;
  virtual com::HRESULT get_Data(const std::int16_t& Index /*in*/, std::string* value /*out*/) = 0;
  virtual com::HRESULT get_LocalVar(const std::int16_t& Index /*in*/, VarType* value /*out*/) = 0;
  virtual com::HRESULT get_GlobalVar(const std::int16_t& Index /*in*/, VarType* value /*out*/) = 0;
  // The four methods always give an empty variant (`result` may be null) and modify nothing
  // they are given.
  virtual com::HRESULT SetLocalConstants(const com::StringArray& Value /*in*/, com::Variant* result /*out*/) = 0;
  virtual com::HRESULT SetGlobalConstants(const com::StringArray& Value /*in*/, com::Variant* result /*out*/) = 0;
  virtual com::HRESULT Setup(const std::string& Module /*in*/, const com::StringArray& Data /*in*/,
                             com::Variant* result /*out*/) = 0;
  virtual com::HRESULT Execute(const std::string& Module /*in*/, const com::StringArray& Data /*in*/,
                               com::Variant* result /*out*/) = 0;

 protected:
  ~_Toolbox() = default;
};

// ---------------------------------------------------------------------------------------------
// Transfer progress: a second, optional interface of Toolbox (QueryInterface with
// IID_IToolboxProgress), outside _Toolbox and its type library. A host that shows progress hands
// the object a sink of its own; a host that does not ask is never called.

// One file's download while Execute runs.
struct TransferProgress {
  std::string_view name;        // the remote file as the run fetches it; valid during the call
  std::int64_t bytes = 0;       // of the file so far (a continued copy's first part included)
  std::int64_t total = -1;      // the file's size as listed or announced; -1 when unknown
  std::int64_t start = 0;       // where this transfer began; the rate is over bytes - start
  std::int64_t elapsed_ms = 0;  // since this transfer began
  bool finished = false;        // the last report of this file: a line showing it can go
};

inline constexpr com::Guid IID_ITransferProgressSink{
    0xC26295A6, 0x378A, 0x40AA, {0xA8, 0x92, 0x20, 0xEB, 0xE2, 0x68, 0xA6, 0xE5}};
inline constexpr com::Guid IID_IToolboxProgress{
    0x060D87AC, 0xE388, 0x4DEA, {0xB9, 0x50, 0xCF, 0xF3, 0x49, 0x38, 0x19, 0x57}};

// Implemented by the host. Called on the thread that called Execute, inside it: from the
// moment a download has run a quarter of a second at most four times a second, then once with
// `finished`. Returns quickly and calls nothing of the Toolbox; its result is ignored.
class ITransferProgressSink : public com::IUnknown {
 public:
  virtual com::HRESULT OnTransferProgress(const TransferProgress& progress /*in*/) = 0;

 protected:
  ~ITransferProgressSink() = default;
};

class IToolboxProgress : public com::IUnknown {
 public:
  // Every later Execute of this object reports to `sink` (null: to nobody). The object holds a
  // reference until the sink is replaced or the object goes.
  virtual com::HRESULT putref_ProgressSink(ITransferProgressSink* sink /*in*/) = 0;

 protected:
  ~IToolboxProgress() = default;
};

// ---------------------------------------------------------------------------------------------
// Stopping a run: a third optional interface of Toolbox (QueryInterface with IID_IToolboxCancel).
// The plug-in starts no threads and never touches the process's signal handling, so a host that
// wants Ctrl+C, SIGTERM or a Stop button to end a run hands it a descriptor of its own that
// becomes readable when the run is to stop: a signalfd(2) of the signals it blocks, an
// eventfd(2), a pipe's read end. Execute's every wait (connect, reply, data, name lookup) watches
// it beside its own sockets, so a run blocked for minutes ends at once, through its error ending:
// "ERROR_PULL-WIRE [cancelled: the host asked the run to stop]", Error set, a partial file of the
// flat mode removed, and QUIT sent (its reply awaited a few seconds at most). The plug-in only
// polls the descriptor, never reads or closes it: it stays readable until the host reads it.

inline constexpr com::Guid IID_IToolboxCancel{
    0x16EE02A0, 0x5BDB, 0x47E4, {0x89, 0x64, 0x3D, 0x06, 0x80, 0x3F, 0xDC, 0xE8}};

class IToolboxCancel : public com::IUnknown {
 public:
  // Every later Execute of this object watches `fd` (-1: nothing). E_INVALIDARG for a value
  // that is no open descriptor. The host keeps it open while it is set.
  virtual com::HRESULT put_CancelDescriptor(std::int32_t fd /*in*/) = 0;

 protected:
  ~IToolboxCancel() = default;
};

}  // namespace pullwire
