// Where local servers listen: the private run-time folder and the socket of each ProgID.
#pragma once

#include <filesystem>
#include <string_view>

#include "com/export.h"
#include "com/hresult.h"

namespace pullwire::com {

// `<runtime>/norvik`, runtime being $XDG_RUNTIME_DIR, else /tmp/norvik-<uid>. With `create`,
// missing folders are made 0700; without it, a missing folder is not an error (nothing listens
// there) and its path is returned. Fails with E_ACCESSDENIED and a record naming the folder when
// a folder is not a real directory, is owned by another user or is accessible to group or
// others, since whoever controls it could pose as any server.
PULLWIRE_COM_API HRESULT LocalServerFolder(bool create, std::filesystem::path* folder /*out*/);

// The socket of ProgID `prog_id`: LocalServerFolder() / prog_id. The ProgID must be a plain
// file name of letters, digits, '.', '_' and '-' (E_INVALIDARG otherwise) and the whole path
// must fit a Unix socket address.
PULLWIRE_COM_API HRESULT LocalServerSocketPath(std::string_view prog_id, bool create_folder,
                                               std::filesystem::path* socket /*out*/);

}  // namespace pullwire::com
