// An OpenSSL BIO over a socket through the SysIo seam: sends with MSG_NOSIGNAL (OpenSSL's own
// socket BIO uses write(2), and a server that went away would kill the host with SIGPIPE), and
// lets tests inject faults into TLS connections as into plain ones.
#pragma once

#include <openssl/bio.h>

#include "ftp/sys_io.h"

namespace pullwire::ftp {

// A new BIO reading and writing `fd` through `sys`, which must outlive it; nullptr when OpenSSL
// has no memory. The BIO does not close `fd`.
BIO* NewSocketBio(SysIo& sys, int fd);

}  // namespace pullwire::ftp
