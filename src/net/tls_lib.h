// SPDX-License-Identifier: GPL-3.0-or-later
// OpenSSL, loaded on first use: most runs of the command line, and most
// accounts, never need TLS, and loading libssl and libcrypto at start-up
// costs every process about two milliseconds. Internal to net/ (and the
// command line's digest).
#pragma once

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#define IW_TLS_FUNCTIONS(X)                                                                        \
    X(TLS_client_method)                                                                           \
    X(SSL_CTX_new)                                                                                 \
    X(SSL_CTX_ctrl)                                                                                \
    X(SSL_CTX_set_default_verify_paths)                                                            \
    X(SSL_CTX_set_verify)                                                                          \
    X(SSL_new)                                                                                     \
    X(SSL_free)                                                                                    \
    X(SSL_set_fd)                                                                                  \
    X(SSL_ctrl)                                                                                    \
    X(SSL_set1_host)                                                                               \
    X(SSL_get0_param)                                                                              \
    X(SSL_set_connect_state)                                                                       \
    X(SSL_connect)                                                                                 \
    X(SSL_get_error)                                                                               \
    X(SSL_get0_peer_certificate)                                                                   \
    X(SSL_get_verify_result)                                                                       \
    X(SSL_read_ex)                                                                                 \
    X(SSL_write_ex)                                                                                \
    X(SSL_is_init_finished)                                                                        \
    X(SSL_shutdown)                                                                                \
    X(X509_VERIFY_PARAM_set1_ip_asc)                                                               \
    X(X509_digest)                                                                                 \
    X(EVP_sha256)                                                                                  \
    X(EVP_Digest)                                                                                  \
    X(ERR_peek_last_error)                                                                         \
    X(ERR_reason_error_string)                                                                     \
    X(ERR_clear_error)

struct TLS_LIB {
#define IW_TLS_MEMBER(name) decltype(&::name) name = nullptr;
    IW_TLS_FUNCTIONS(IW_TLS_MEMBER)
#undef IW_TLS_MEMBER
};

// The functions, loaded by the first call; null (and logged once) when the
// library or one of its functions is missing. Any thread.
const TLS_LIB* Tls_Lib();

// What the user is told when Tls_Lib() is null.
inline constexpr const char* TLS_LIB_MISSING = "TLS is not available: libssl.so.3 cannot be loaded";
