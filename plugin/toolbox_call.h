// The exception guard every Toolbox member runs its body in.
#pragma once

#include "com/error_info.h"
#include "com/ref_counted.h"
#include "module/vb_error.h"
#include "pullwire/toolbox.h"

namespace pullwire {

// Runs a member's body so that nothing escapes: a VbError becomes its facility-control result
// with the error record (number, description, source "Pullwire.Toolbox"), other exceptions the
// runtime's usual results.
template <typename Body>
com::HRESULT ToolboxCall(Body&& body) noexcept {
  return com::GuardedCall(kToolboxProgId, [&]() -> com::HRESULT {
    try {
      return body();
    } catch (const VbError& e) {
      return com::RaiseError(e.vb_number(), e.what(), kToolboxProgId);
    }
  });
}

}  // namespace pullwire
