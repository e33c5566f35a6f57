// SPDX-License-Identifier: GPL-3.0-or-later
// TLS on a connected socket: the handshake, the certificate's verdict and
// the table of TLS connections that Sock_Send, Sock_Recv and Sock_Close use.
#include "common/translate.h"
#include "net/socket.h"
#include "net/socket_internal.h"

#include "common/text.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <mutex>
#include <poll.h>
#include <string>
#include <unordered_map>

using namespace iwsock;

namespace {

// The TLS connections by socket handle. Only the owning thread uses an entry,
// but sessions on other threads add and remove theirs at the same time.
std::mutex g_tlsMutex;
std::unordered_map<int, SSL*> g_tls;
// Sockets without TLS skip the table; most connections never have it.
std::atomic<int> g_tlsCount{0};

} // namespace

namespace iwsock {

SSL* _tlsOf(int sock) {
    if (g_tlsCount.load(std::memory_order_acquire) == 0) return nullptr;
    std::lock_guard lock(g_tlsMutex);
    const auto it = g_tls.find(sock);
    return it == g_tls.end() ? nullptr : it->second;
}

SslPtr _tlsTake(int sock) {
    if (g_tlsCount.load(std::memory_order_acquire) == 0) return nullptr;
    std::lock_guard lock(g_tlsMutex);
    const auto it = g_tls.find(sock);
    if (it == g_tls.end()) return nullptr;
    SslPtr ssl(it->second);
    g_tls.erase(it);
    g_tlsCount.fetch_sub(1, std::memory_order_release);
    return ssl;
}

} // namespace iwsock

namespace {

// One client context for the process: loading the CA store for every
// connection would cost more than the handshake itself.
SSL_CTX* _tlsContext() {
    static SSL_CTX* const ctx = [] {
        // OpenSSL writes to the socket itself, without MSG_NOSIGNAL.
        Sock_Startup();
        Sock_Cleanup();
        const TLS_LIB* t = Tls_Lib();
        if (!t) return static_cast<SSL_CTX*>(nullptr);
        SSL_CTX* c = t->SSL_CTX_new(t->TLS_client_method());
        if (!c) return c;
        t->SSL_CTX_ctrl(c, SSL_CTRL_SET_MIN_PROTO_VERSION, TLS1_2_VERSION, nullptr);
        t->SSL_CTX_set_default_verify_paths(c);
        // The verdict is taken after the handshake (Sock_StartTls), where a
        // pinned certificate may overrule the store and the reason is named.
        t->SSL_CTX_set_verify(c, SSL_VERIFY_NONE, nullptr);
        t->SSL_CTX_ctrl(c, SSL_CTRL_MODE, SSL_MODE_AUTO_RETRY, nullptr);
        return c;
    }();
    return ctx;
}

std::string _opensslReason() {
    char text[160] = "unknown reason";
    if (const unsigned long e = Tls_Lib()->ERR_peek_last_error()) {
        const char* r = Tls_Lib()->ERR_reason_error_string(e);
        if (r) std::snprintf(text, sizeof text, "%s", r);
    }
    Tls_Lib()->ERR_clear_error();
    return text;
}

} // namespace

namespace iwsock {

uint32_t _tlsRetry(SSL* ssl, int ret, int fd, const Deadline& deadline, const SockAbort* abort,
                   int savedErrno, std::string* reason) {
    switch (Tls_Lib()->SSL_get_error(ssl, ret)) {
    case SSL_ERROR_WANT_READ:
        return _wait(fd, POLLIN, deadline, abort);
    case SSL_ERROR_WANT_WRITE:
        return _wait(fd, POLLOUT, deadline, abort);
    case SSL_ERROR_ZERO_RETURN:
        return SOCKERR_CONNRESET;
    case SSL_ERROR_SYSCALL:
        if (savedErrno == EINTR) return 0;
        Tls_Lib()->ERR_clear_error();
        return savedErrno ? Sock_ErrorFromErrno(savedErrno) : SOCKERR_CONNRESET;
    default: {
        const unsigned long e = Tls_Lib()->ERR_peek_last_error();
        if (ERR_GET_LIB(e) == ERR_LIB_SSL &&
            ERR_GET_REASON(e) == SSL_R_UNEXPECTED_EOF_WHILE_READING) {
            Tls_Lib()->ERR_clear_error();
            return SOCKERR_CONNRESET;
        }
        if (reason) *reason = _opensslReason();
        Tls_Lib()->ERR_clear_error();
        return SOCKERR_TLS;
    }
    }
}

} // namespace iwsock

namespace {

std::string _fingerprint(X509* cert) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    if (!cert || Tls_Lib()->X509_digest(cert, Tls_Lib()->EVP_sha256(), md, &n) != 1) return {};
    return Text_ToHex(std::string_view(reinterpret_cast<const char*>(md), n));
}

// The reason a certificate failed verification, short enough that the
// fingerprint after it still fits a one-line status text.
std::string _verifyReason(long result) {
    switch (result) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return IW_N_("Inboxwarden", "Certificate expired");
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return IW_N_("Inboxwarden", "Not yet valid");
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return IW_N_("Inboxwarden", "Host name mismatch");
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        return IW_N_("Inboxwarden", "Unknown issuer");
    case X509_V_ERR_CERT_REVOKED:
        return IW_N_("Inboxwarden", "Certificate revoked");
    default:
        return "Refused (" + std::to_string(result) + ")";
    }
}

bool _isIpLiteral(const char* host) {
    in6_addr a6;
    in_addr a4;
    return inet_pton(AF_INET, host, &a4) == 1 || inet_pton(AF_INET6, host, &a6) == 1;
}

// Judges the certificate of a finished handshake: 0, or SOCKERR_TLS_CERT
// with the reason and the fingerprint.
uint32_t _judgeCertificate(SSL* ssl, int policy, const char* pin, std::string* text) {
    X509* cert = Tls_Lib()->SSL_get0_peer_certificate(ssl);
    if (!cert) {
        *text = IW_N_("Inboxwarden", "The server sent no certificate");
        return SOCKERR_TLS_CERT;
    }
    const std::string fp = _fingerprint(cert);
    if (policy == SOCK_TLS_PINNED) {
        if (pin && Sock_IsValidPin(pin) && Text_EqualsNoCase(fp, pin)) return 0;
        *text = "Pin mismatch, SHA-256 " + fp;
        return SOCKERR_TLS_CERT;
    }
    const long result = Tls_Lib()->SSL_get_verify_result(ssl);
    if (result == X509_V_OK) return 0;
    *text = _verifyReason(result) + ", SHA-256 " + fp;
    return SOCKERR_TLS_CERT;
}

} // namespace

uint32_t Sock_StartTls(int sock, const char* host, int policy, const char* pin, int timeoutSec,
                       const SockAbort* abort, std::string* errorText) {
    std::string ignored;
    if (!errorText) errorText = &ignored;
    errorText->clear();
    const auto fail = [&](uint32_t rc) {
        if (errorText->empty()) *errorText = Sock_ErrorText(rc);
        return rc;
    };
    if (sock == SOCK_INVALID) return fail(SOCKERR_NOTCONN);
    if (!host || (policy != SOCK_TLS_VERIFY && policy != SOCK_TLS_PINNED) || _tlsOf(sock))
        return fail(SOCKERR_INVAL);
    SSL_CTX* ctx = _tlsContext();
    if (!ctx && !Tls_Lib()) {
        *errorText = TLS_LIB_MISSING;
        return SOCKERR_TLS;
    }
    SslPtr ssl(ctx ? Tls_Lib()->SSL_new(ctx) : nullptr);
    if (!ssl || Tls_Lib()->SSL_set_fd(ssl.get(), sock) != 1) {
        *errorText = "TLS negotiation failed: " + _opensslReason();
        return SOCKERR_TLS;
    }
    if (_isIpLiteral(host)) {
        Tls_Lib()->X509_VERIFY_PARAM_set1_ip_asc(Tls_Lib()->SSL_get0_param(ssl.get()), host);
    } else {
        Tls_Lib()->SSL_ctrl(ssl.get(), SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name,
                            const_cast<char*>(host));
        Tls_Lib()->SSL_set1_host(ssl.get(), host);
    }
    Tls_Lib()->SSL_set_connect_state(ssl.get());
    const Deadline deadline = _deadlineIn(timeoutSec);
    for (;;) {
        if (abort && abort->Triggered()) return fail(SOCKERR_INTR);
        Tls_Lib()->ERR_clear_error();
        errno = 0;
        const int ret = Tls_Lib()->SSL_connect(ssl.get());
        const int savedErrno = errno;
        if (ret == 1) break;
        std::string reason;
        if (const uint32_t rc =
                _tlsRetry(ssl.get(), ret, sock, deadline, abort, savedErrno, &reason)) {
            if (rc == SOCKERR_TLS) *errorText = "TLS negotiation failed: " + reason;
            return fail(rc);
        }
    }
    if (const uint32_t rc = _judgeCertificate(ssl.get(), policy, pin, errorText)) return rc;
    std::lock_guard lock(g_tlsMutex);
    g_tls.emplace(sock, ssl.release());
    g_tlsCount.fetch_add(1, std::memory_order_release);
    return 0;
}

bool Sock_IsTls(int sock) {
    return sock != SOCK_INVALID && _tlsOf(sock) != nullptr;
}

bool Sock_IsValidPin(std::string_view text) {
    if (text.size() != SOCK_TLS_PIN_LENGTH) return false;
    for (const char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')))
            return false;
    return true;
}
