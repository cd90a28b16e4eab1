// The client side of local servers: a proxy IOneWayDispatch over one connection (internal).
#pragma once

#include <chrono>
#include <string_view>

#include "com/guid.h"
#include "com/hresult.h"

namespace pullwire::com {

// Connects to the local server of `prog_id` and returns its proxy as `iid` (IID_IDispatch,
// IID_IOneWayDispatch or IID_IUnknown). REGDB_E_CLASSNOTREG when no socket exists,
// CO_E_SERVER_EXEC_FAILURE when the connection is refused or not accepted within `timeout`; a
// record describes the failure.
HRESULT ConnectLocalServer(std::string_view prog_id, const Guid& iid, std::chrono::milliseconds timeout,
                           void** object /*out*/);

}  // namespace pullwire::com
