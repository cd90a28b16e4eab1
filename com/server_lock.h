// The lock file "<socket>.lock" that decides which process serves a ProgID: taken without
// waiting, removed by its holder when it stops, and cleared away when a server that died left it.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "com/export.h"
#include "com/unix_socket.h"

namespace pullwire::com {

// Takes the lock file `path` exclusively without waiting: the descriptor, or an empty one when
// another process holds it (errno EWOULDBLOCK) or it cannot be opened (errno says why). Its
// holder removes the file at the end, so a lock taken on a file removed (or replaced) meanwhile
// is taken again on the file that stands there now.
UniqueFd TakeServerLock(const std::string& path, bool create);

// Removes the lock file of `socket` while still holding it, then lets the lock go.
void ReleaseServerLock(const std::filesystem::path& socket, UniqueFd& lock);

// Removes the socket file and "<socket>.lock" of `prog_id` when no server holds the lock (one
// that was killed left them); false when a server lives there or nothing was removed.
PULLWIRE_COM_API bool RemoveStaleServerFiles(std::string_view prog_id);

}  // namespace pullwire::com
