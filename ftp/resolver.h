// Host name lookup within a deadline on the caller's thread, by c-ares: /etc/hosts first, then
// DNS as /etc/resolv.conf says, its sockets polled here. (Asio's resolver, like getaddrinfo_a,
// runs getaddrinfo on a thread of its own, and a plain getaddrinfo cannot be bounded in time.)
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ftp/deadline.h"
#include "ftp/net_io.h"

namespace pullwire::ftp {

// Throws FtpError kHostNotFound, kTimedOut when the deadline passes first, or kCancelled.
std::vector<Tcp::endpoint> LookUpHost(const std::string& host, std::uint16_t port,
                                      const Deadline& deadline, const CancelWatch& cancel);

}  // namespace pullwire::ftp
