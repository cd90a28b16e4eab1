// The session's OpenSSL context: trust store, name check or pin, kept sessions, new streams.
#include "ftp/tls_client.h"

#include <arpa/inet.h>
#include <fmt/format.h>
#include <openssl/err.h>
#include <openssl/x509v3.h>

#include "ftp/errors.h"
#include "ftp/net_io.h"
#include "ftp/tls_bio.h"

namespace pullwire::ftp {
namespace {

// With read-ahead, one read(2) on a data connection takes this much: many records at once.
constexpr std::size_t kDataReadAhead = std::size_t{256} << 10;

// AES-128-GCM first: as safe for this use and about a third faster than AES-256 where the
// server lets the client choose.
constexpr char kCipherSuites[] =
    "TLS_AES_128_GCM_SHA256:TLS_AES_256_GCM_SHA384:TLS_CHACHA20_POLY1305_SHA256";

[[noreturn]] void SetupFailed(const std::string& what) {
  const unsigned long error = ERR_get_error();
  ERR_clear_error();
  const char* reason = error != 0 ? ERR_reason_error_string(error) : nullptr;
  throw FtpError(ErrorCode::kTlsFailed, fmt::format("cannot set up TLS ({}): {}", what,
                                                    reason != nullptr ? reason : "no reason"));
}

std::string Append(std::string names, std::string_view name) {
  if (!names.empty()) names += ", ";
  names += PrintableText(name, 255);
  return names;
}

// "127.0.0.1, localhost": the subjectAltName entries a name check looks at, else the CN.
std::string CertificateNames(X509* certificate) {
  std::string names;
  auto* alternatives = static_cast<GENERAL_NAMES*>(
      X509_get_ext_d2i(certificate, NID_subject_alt_name, nullptr, nullptr));
  for (int i = 0; i < sk_GENERAL_NAME_num(alternatives); ++i) {
    const GENERAL_NAME* entry = sk_GENERAL_NAME_value(alternatives, i);
    if (entry->type == GEN_DNS) {
      const ASN1_STRING* dns = entry->d.dNSName;
      names = Append(std::move(names),
                     std::string_view(reinterpret_cast<const char*>(ASN1_STRING_get0_data(dns)),
                                      static_cast<std::size_t>(ASN1_STRING_length(dns))));
    } else if (entry->type == GEN_IPADD) {
      const ASN1_OCTET_STRING* ip = entry->d.iPAddress;
      const int length = ASN1_STRING_length(ip);
      char text[INET6_ADDRSTRLEN] = {};
      if ((length == 4 || length == 16) &&
          inet_ntop(length == 4 ? AF_INET : AF_INET6, ASN1_STRING_get0_data(ip), text,
                    sizeof(text)) != nullptr) {
        names = Append(std::move(names), text);
      }
    }
  }
  GENERAL_NAMES_free(alternatives);
  if (!names.empty()) return names;
  char common_name[256] = {};
  if (X509_NAME_get_text_by_NID(X509_get_subject_name(certificate), NID_commonName, common_name,
                                sizeof(common_name)) > 0) {
    names = Append(std::move(names), common_name);
  }
  return names;
}

CertificateNotes* NotesOf(SSL* ssl) {
  return static_cast<CertificateNotes*>(SSL_get_ex_data(ssl, CertificateNotesIndex()));
}

// Runs for every certificate of the chain and every problem found; notes the server's own
// certificate, and with a pin decides alone.
int VerifyCertificate(int verified, X509_STORE_CTX* store) {
  auto* ssl =
      static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
  CertificateNotes* notes = ssl != nullptr ? NotesOf(ssl) : nullptr;
  if (notes == nullptr) return verified;
  X509* leaf = X509_STORE_CTX_get0_cert(store);
  if (leaf != nullptr && !notes->digest) {
    Sha256 digest{};
    unsigned int length = 0;
    if (X509_digest(leaf, EVP_sha256(), digest.data(), &length) == 1 && length == digest.size()) {
      notes->digest = digest;
    }
    notes->names = CertificateNames(leaf);
  }
  if (!notes->server->pinned) {
    if (!notes->server->unverified) return verified;
    X509_STORE_CTX_set_error(store, X509_V_OK);
    return 1;
  }
  // A pinned certificate stands for itself: who signed it and which names it holds do not count.
  if (notes->digest == notes->server->pinned) {
    X509_STORE_CTX_set_error(store, X509_V_OK);
    return 1;
  }
  X509_STORE_CTX_set_error(store, X509_V_ERR_APPLICATION_VERIFICATION);
  return 0;
}

int OnNewSession(SSL* ssl, SSL_SESSION* session) {
  CertificateNotes* notes = NotesOf(ssl);
  if (notes == nullptr || notes->client == nullptr) return 0;
  notes->client->Keep(session);
  return 1;  // kept: OpenSSL must not free it
}

}  // namespace

TlsClient::TlsClient(ServerName server, SysIo& sys) : server_(std::move(server)), sys_(sys) {
  ERR_clear_error();
  context_ = SSL_CTX_new(TLS_client_method());
  if (context_ == nullptr) SetupFailed("no context");
  SSL_CTX_set_min_proto_version(context_, TLS1_2_VERSION);
  SSL_CTX_set_ciphersuites(context_, kCipherSuites);
  SSL_CTX_set_mode(context_, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  SSL_CTX_set_verify(context_, SSL_VERIFY_PEER, VerifyCertificate);
  if (!server_.pinned && SSL_CTX_set_default_verify_paths(context_) != 1) {
    SetupFailed("the system's trust store");
  }
  SSL_CTX_set_session_cache_mode(context_,
                                 SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
  SSL_CTX_sess_set_new_cb(context_, OnNewSession);
}

TlsClient::~TlsClient() {
  if (session_ != nullptr) SSL_SESSION_free(session_);
  SSL_CTX_free(context_);
}

void TlsClient::Keep(SSL_SESSION* session) {
  if (session_ != nullptr) SSL_SESSION_free(session_);
  session_ = session;
}

std::unique_ptr<TlsStream> TlsClient::ForControl(int fd) { return MakeStream(fd, true); }

std::unique_ptr<TlsStream> TlsClient::ForData(int fd) { return MakeStream(fd, false); }

std::unique_ptr<TlsStream> TlsClient::MakeStream(int fd, bool control) {
  ERR_clear_error();
  SSL* ssl = SSL_new(context_);
  if (ssl == nullptr) SetupFailed("no connection object");
  CertificateNotes notes;
  notes.server = &server_;
  notes.client = this;
  auto stream = std::make_unique<TlsStream>(ssl, std::move(notes));
  BIO* socket = NewSocketBio(sys_, fd);
  if (socket == nullptr) SetupFailed("the socket");
  SSL_set_bio(ssl, socket, socket);
  const std::optional<asio::ip::address> address = ParseAddress(server_.name);
  if (!server_.pinned && !server_.unverified) {
    X509_VERIFY_PARAM* check = SSL_get0_param(ssl);
    if (address) {
      X509_VERIFY_PARAM_set1_ip_asc(check, address->to_string().c_str());
    } else {
      X509_VERIFY_PARAM_set_hostflags(check, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
      X509_VERIFY_PARAM_set1_host(check, server_.name.c_str(), server_.name.size());
    }
  }
  // Server Name Indication: names only (RFC 6066 leaves addresses out). SSL_ctrl is what the
  // SSL_set_tlsext_host_name macro expands to, without its C cast.
  if (!address) {
    SSL_ctrl(ssl, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name,
             const_cast<char*>(server_.name.c_str()));
  }
  if (!control) {
    SSL_set_read_ahead(ssl, 1);
    SSL_set_default_read_buffer_len(ssl, kDataReadAhead);
    if (session_ != nullptr) SSL_set_session(ssl, session_);
  }
  return stream;
}

}  // namespace pullwire::ftp
