// SPDX-License-Identifier: GPL-3.0-or-later
// Real POP3, SOCKS and SMTP servers on loopback for integration tests.
//
// The CTest fixture "peers" (tests/peers/peers-fixture.sh) starts one dovecot
// POP3 server, one dante SOCKS 4/5 proxy and one SMTP sink for the whole test
// run and describes them in an env file ($IW_PEERS_ENV). A test opens them
// through RealPeersTest (or RealPeers::Open) and gets a mailbox and login of
// its own, so tests running in parallel never see each other's mail. Tests
// that need a differently configured server start a private one, which is
// stopped by pid when its handle goes away.
//
// When the servers are not there (no env file, or not installed) the tests
// skip with the reason; with IW_REQUIRE_PEERS=1 (scripts/test) they fail.
#pragma once

#include "process.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace iwtest {

struct Credentials {
    std::string name;
    std::string password;
};

// Seeding empties the mailbox first (messages, dovecot's uidlist and index).
struct SeedOptions {
    // Message i is stored as <names><i:06d>, which is its UIDL when the server
    // runs with the UIDL format "%f" (the shared one does): "msg-000001", ...
    // Empty: time-ordered maildir names with size hints, UIDLs not predictable.
    std::string names = "msg-";
};

// The UIDL of the i-th seeded message (1-based) under the default SeedOptions.
std::string SeededUidl(int i, const std::string& names = "msg-");

// A server process: the shared one (the fixture stops it) or one started for
// a test (`owned`: stopped by pid when its handle goes away).
class PeerServer {
  public:
    PeerServer(std::string scripts, std::string workdir, uint16_t port, uint16_t tls_port, int pid,
               bool owned);
    virtual ~PeerServer();
    PeerServer(const PeerServer&) = delete;
    PeerServer& operator=(const PeerServer&) = delete;

    uint16_t port() const { return port_; }
    // Implicit-TLS port; 0 when the instance has none.
    uint16_t tls_port() const { return tls_port_; }

  protected:
    std::string scripts_, workdir_;
    uint16_t port_, tls_port_;
    int pid_;
    bool owned_;
};

// One dovecot instance.
class Pop3Server : public PeerServer {
  public:
    using PeerServer::PeerServer;
    std::string Maildir(const std::string& user) const;
    // The server's log so far: one "Disconnected" line per session, with its
    // counts ("retr=1/2048" is one RETR of 2048 bytes).
    std::string Log() const;

    // Do these between POP3 sessions, not while one is open on that mailbox.
    // Generated message i has "Subject: Test message i". Raw messages are
    // stored as given (CRLF becomes LF on disk and CRLF again on the wire);
    // they are numbered before any generated ones.
    void SeedMaildir(const std::string& user, int n, const SeedOptions& opt = {}) const;
    void SeedMessages(const std::string& user, const std::vector<std::string>& raw,
                      const SeedOptions& opt = {}) const;

  private:
    void Seed(const std::string& user, int n, const std::vector<std::string>& files,
              const SeedOptions& opt) const;
};

// What the SMTP sink stored for one accepted message.
struct SmtpMessage {
    std::string mail_from; // reverse path without the angle brackets
    std::vector<std::string> rcpt_tos;
    std::string auth_mechanism; // "PLAIN", "LOGIN", "CRAM-MD5"; empty without AUTH
    std::string auth_login;     // empty without AUTH
    std::string tls;            // TLS version, empty on a plain connection
    std::string eml;            // exact bytes after DATA, dot-stuffing undone, CRLF kept
};

// One SMTP sink instance.
class SmtpServer : public PeerServer {
  public:
    using PeerServer::PeerServer;
    // Highest sequence number stored so far (0 when none).
    int LastSeq() const;
    // Every complete message with a sequence number above after_seq, in order.
    // The sink has written both files before it answers 250, so a message the
    // client saw accepted is always there.
    std::vector<SmtpMessage> Received(int after_seq = 0) const;
};

using PrivatePop3 = Pop3Server;
using PrivateSmtp = SmtpServer;

// A dovecot started for one test.
struct Pop3Options {
    std::string users = "test:secret"; // "user:password ...", no ':' or blanks in passwords
    std::string uidl_format = "%f";
    bool tls = false; // self-signed cert, STLS, and a POP3S port
    // With tls: serve these PEM files instead of the self-signed pair (see
    // TestPki).
    std::string tls_cert{};
    std::string tls_key{};
};

struct SmtpOptions {
    std::string users = "test:secret";
    std::vector<std::string> args; // smtp-sink.py options, e.g. {"--mechanisms", "PLAIN"}
    bool implicit_tls = false;     // a second, implicit-TLS port
};

// A test CA and server certificates made with openssl for this process
// (tests/peers/make-test-pki.sh), each certificate named:
//   "good"      from the CA, for localhost and 127.0.0.1
//   "good2"     the same names with another key (a certificate that changed)
//   "wronghost" from the CA, for wrong.example only
//   "expired"   like good, expired
//   "stranger"  for localhost and 127.0.0.1 from a CA nobody trusts
// Making it points SSL_CERT_FILE at the CA, so the client's default CA store
// is exactly that CA; it must happen before the process's first TLS
// connection.
class TestPki {
  public:
    // Made once per process (throws std::runtime_error on failure).
    static const TestPki& Get();
    std::string Cert(const std::string& name) const { return dir_ + "/" + name + ".pem"; }
    std::string Key(const std::string& name) const { return dir_ + "/" + name + ".key"; }
    // SHA-256 of the certificate's DER bytes, 64 lower-case hex digits.
    std::string Fingerprint(const std::string& name) const;

  private:
    std::string dir_;
};

class RealPeers {
  public:
    // Reads the env file ($IW_PEERS_ENV, else the build tree's default) and
    // leases a mailbox. On failure returns null, with the reason in *why and
    // *fatal set when the test must fail rather than skip.
    static std::unique_ptr<RealPeers> Open(std::string* why, bool* fatal);
    ~RealPeers();
    RealPeers(const RealPeers&) = delete;
    RealPeers& operator=(const RealPeers&) = delete;

    const Pop3Server& pop3() const { return *pop3_; }
    uint16_t pop3_port() const { return pop3_->port(); }
    uint16_t smtp_port() const { return smtp_->port(); }
    uint16_t socks_port() const { return socks_port_; }

    // This test's own login for the shared POP3 and SMTP servers; its mailbox
    // is emptied when it is leased.
    const Credentials& user() const { return lease_.creds; }

    void SeedMaildir(const std::string& user, int n, const SeedOptions& opt = {}) const {
        pop3_->SeedMaildir(user, n, opt);
    }
    void SeedMessages(const std::string& user, const std::vector<std::string>& raw,
                      const SeedOptions& opt = {}) const {
        pop3_->SeedMessages(user, raw, opt);
    }

    // Messages the shared sink accepted since Open() from a session that
    // authenticated as this object's login.
    std::vector<SmtpMessage> SmtpReceived() const;

    // Private instances on fresh ports (throw std::runtime_error on failure).
    std::unique_ptr<PrivatePop3> StartPop3(const Pop3Options& opt = {}) const;
    std::unique_ptr<PrivateSmtp> StartSmtp(const SmtpOptions& opt = {}) const;

  private:
    RealPeers() = default;
    void Lease();
    std::string NewPrivateDir() const;
    std::tuple<uint16_t, uint16_t, int> StartPrivate(const std::string& dir,
                                                     const std::string& script, bool tls,
                                                     std::vector<std::string> args,
                                                     const Env& env) const;

    std::string scripts_, workdir_;
    uint16_t socks_port_ = 0;
    std::vector<Credentials> users_;
    struct {
        Credentials creds;
        int fd = -1;
    } lease_;
    std::unique_ptr<Pop3Server> pop3_;
    std::unique_ptr<SmtpServer> smtp_;
    int smtp_mark_ = 0;
};

// Base fixture: SetUp() opens the peers or skips (fails under
// IW_REQUIRE_PEERS=1). A subclass's SetUp() calls it first and returns when
// IsSkipped() or HasFatalFailure().
class RealPeersTest : public ::testing::Test {
  protected:
    void SetUp() override;
    RealPeers& peers() { return *peers_; }

    std::unique_ptr<RealPeers> peers_;
};

} // namespace iwtest
