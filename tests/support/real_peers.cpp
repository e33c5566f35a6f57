// SPDX-License-Identifier: GPL-3.0-or-later
#include "real_peers.h"

#include "process.h"
#include "temp_env.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <netinet/in.h>
#include <sstream>
#include <stdexcept>
#include <sys/file.h>
#include <sys/socket.h>
#include <thread>
#include <tuple>
#include <unistd.h>

namespace fs = std::filesystem;

namespace iwtest {
namespace {

constexpr const char* kPython = "/usr/bin/python3"; // the one python3-aiosmtpd is installed for
constexpr const char* kBash = "/bin/bash";
// A unix socket path holds at most 107 bytes; the deepest one dovecot makes
// under its work directory is this long.
constexpr size_t kDeepestDovecotSocket = sizeof("/dovecot/run/token-login/tokenlogin") - 1;
constexpr auto kLeaseWait = std::chrono::seconds(60);

// Runs argv without a shell, stdout and stderr in *out. Descriptors other
// than 0-2 are closed in the child: a server started by a script must not
// keep a lease lock or a test's socket open after this process is gone.
int Run(const std::vector<std::string>& argv, std::string* out, const Env& env = {}) {
    return RunCollect(argv, out, env, true);
}

void RunOrThrow(const std::vector<std::string>& argv) {
    std::string out;
    if (const int status = Run(argv, &out); status != 0) {
        std::string cmd;
        for (const auto& a : argv)
            cmd += (cmd.empty() ? "" : " ") + a;
        throw std::runtime_error(cmd + " failed (exit " + std::to_string(status) + "):\n" + out);
    }
}

std::string Unquote(std::string v) {
    if (v.size() >= 2 && (v.front() == '\'' || v.front() == '"') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    return v;
}

std::map<std::string, std::string> ReadEnvFile(const std::string& path) {
    std::map<std::string, std::string> kv;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        kv[line.substr(0, eq)] = Unquote(line.substr(eq + 1));
    }
    return kv;
}

// Alive and not a zombie (the servers are orphans; their reaper may be slow).
bool Running(int pid) {
    if (pid <= 0) return false;
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    if (!std::getline(in, stat)) return false;
    auto paren = stat.rfind(") ");
    return paren != std::string::npos && paren + 2 < stat.size() && stat[paren + 2] != 'Z';
}

std::vector<Credentials> ParseUsers(const std::string& s) {
    std::vector<Credentials> users;
    std::istringstream in(s);
    for (std::string e; in >> e;)
        if (const auto colon = e.find(':'); colon != std::string::npos)
            users.push_back({e.substr(0, colon), e.substr(colon + 1)});
    return users;
}

// Ports the kernel reports free right now, all different (the sockets are
// held until every port is chosen).
std::vector<uint16_t> FreePorts(int n) {
    std::vector<int> socks;
    std::vector<uint16_t> ports;
    for (int i = 0; i < n; ++i) {
        int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (s < 0 || bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
            if (s >= 0) close(s);
            break;
        }
        socks.push_back(s);
        ports.push_back(ntohs(a.sin_port));
    }
    for (int s : socks)
        close(s);
    if (static_cast<int>(ports.size()) != n) throw std::runtime_error("no free loopback port");
    return ports;
}

std::string JsonString(const nlohmann::json& j, const char* key) {
    auto it = j.find(key);
    return it != j.end() && it->is_string() ? it->get<std::string>() : std::string();
}

} // namespace

std::string SeededUidl(int i, const std::string& names) {
    char num[16];
    std::snprintf(num, sizeof num, "%06d", i);
    return names + num;
}

// ---------------------------------------------------------------- servers

PeerServer::PeerServer(std::string scripts, std::string workdir, uint16_t port, uint16_t tls_port,
                       int pid, bool owned)
    : scripts_(std::move(scripts)), workdir_(std::move(workdir)), port_(port), tls_port_(tls_port),
      pid_(pid), owned_(owned) {}

PeerServer::~PeerServer() {
    if (!owned_) return;
    std::string out;
    if (pid_ > 0) Run({kBash, scripts_ + "/stop-pid.sh", std::to_string(pid_)}, &out);
    // Keeps a failed test's server logs for reading; the fixture's cleanup
    // stops anything a crashed test left behind.
    if (!::testing::Test::HasFailure()) RemoveTree(workdir_);
}

std::string Pop3Server::Maildir(const std::string& user) const {
    return workdir_ + "/mail/" + user + "/Maildir";
}

std::string Pop3Server::Log() const {
    return ReadFile(workdir_ + "/dovecot/dovecot.log");
}

void Pop3Server::Seed(const std::string& user, int n, const std::vector<std::string>& files,
                      const SeedOptions& opt) const {
    // The user's home is made (and under root chowned to the mail uid) by
    // the server's start script; seeding an unknown user would make a
    // mailbox dovecot neither serves nor may read.
    if (user.empty() || user.find('/') != std::string::npos ||
        !fs::is_directory(workdir_ + "/mail/" + user))
        throw std::runtime_error("no mailbox for user '" + user + "' on the POP3 server in " +
                                 workdir_);
    std::vector<std::string> argv = {
        kPython, scripts_ + "/seed-maildir.py", Maildir(user), "-n", std::to_string(n), "--reset"};
    if (!opt.names.empty()) argv.insert(argv.end(), {"--names", opt.names});
    for (const auto& f : files)
        argv.insert(argv.end(), {"--eml", f});
    RunOrThrow(argv);
}

void Pop3Server::SeedMaildir(const std::string& user, int n, const SeedOptions& opt) const {
    Seed(user, n, {}, opt);
}

void Pop3Server::SeedMessages(const std::string& user, const std::vector<std::string>& raw,
                              const SeedOptions& opt) const {
    const std::string dir = MakeTempDir("eml");
    std::vector<std::string> files;
    for (size_t i = 0; i < raw.size(); ++i) {
        files.push_back(dir + "/" + std::to_string(i + 1) + ".eml");
        std::ofstream(files.back(), std::ios::binary) << raw[i];
    }
    try {
        Seed(user, 0, files, opt);
    } catch (...) {
        RemoveTree(dir);
        throw;
    }
    RemoveTree(dir);
}

namespace {

// Sequence numbers of the complete messages: the sink renames NNNNNN.eml into
// place after writing NNNNNN.json, so an .eml means the pair is there.
std::vector<int> StoredSeqs(const std::string& dir) {
    std::vector<int> seqs;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec)) {
        std::string name = e.path().filename().string();
        if (name.size() == 10 && name.ends_with(".eml") &&
            name.find_first_not_of("0123456789") == 6)
            seqs.push_back(std::atoi(name.c_str()));
    }
    std::sort(seqs.begin(), seqs.end());
    return seqs;
}

} // namespace

int SmtpServer::LastSeq() const {
    auto seqs = StoredSeqs(workdir_ + "/smtp/messages");
    return seqs.empty() ? 0 : seqs.back();
}

std::vector<SmtpMessage> SmtpServer::Received(int after_seq) const {
    const std::string dir = workdir_ + "/smtp/messages";
    std::vector<SmtpMessage> out;
    for (int seq : StoredSeqs(dir)) {
        if (seq <= after_seq) continue;
        char id[16];
        std::snprintf(id, sizeof id, "%06d", seq);
        const std::string base = dir + "/" + id;
        auto j = nlohmann::json::parse(ReadFile(base + ".json"), nullptr, false);
        if (j.is_discarded() || !j.is_object())
            throw std::runtime_error("unreadable envelope " + base + ".json");
        SmtpMessage m;
        m.eml = ReadFile(base + ".eml");
        m.mail_from = JsonString(j, "mail_from");
        m.auth_mechanism = JsonString(j, "auth_mechanism");
        m.auth_login = JsonString(j, "auth_login");
        m.tls = JsonString(j, "tls");
        if (auto it = j.find("rcpt_tos"); it != j.end() && it->is_array())
            for (const auto& r : *it)
                if (r.is_string()) m.rcpt_tos.push_back(r.get<std::string>());
        out.push_back(std::move(m));
    }
    return out;
}

// ----------------------------------------------------------------- RealPeers

std::unique_ptr<RealPeers> RealPeers::Open(std::string* why, bool* fatal) {
    const char* req = std::getenv("IW_REQUIRE_PEERS");
    const bool required = req && std::string(req) == "1";
    const char* envp = std::getenv("IW_PEERS_ENV");
#ifdef IW_PEERS_DEFAULT_ENV
    std::string path = envp && *envp ? envp : IW_PEERS_DEFAULT_ENV;
#else
    std::string path = envp ? envp : "";
#endif
    // Missing servers skip a test, unless the run requires them; servers that
    // were started but are unusable always fail it.
    auto fail = [&](bool is_fatal, std::string reason) -> std::unique_ptr<RealPeers> {
        *why = std::move(reason);
        if (required && !is_fatal) *why += " (failing: IW_REQUIRE_PEERS=1)";
        *fatal = is_fatal || required;
        return nullptr;
    };

    if (path.empty() || !fs::exists(path))
        return fail(false, "real POP3/SOCKS/SMTP servers are not running: no env file '" + path +
                               "'; run this test through ctest, whose 'peers' fixture starts them");
    auto kv = ReadEnvFile(path);
    if (auto it = kv.find("IW_PEERS_UNAVAILABLE"); it != kv.end())
        return fail(false, "real POP3/SOCKS/SMTP servers unavailable: " + it->second);

    for (const char* key :
         {"IW_PEERS_WORKDIR", "IW_PEERS_SCRIPTS", "IW_POP3_PORT", "IW_SOCKS_PORT", "IW_SMTP_PORT",
          "IW_DOVECOT_PID", "IW_SOCKS_PID", "IW_SMTP_PID", "IW_PEERS_USERS"})
        if (kv[key].empty()) return fail(true, path + " has no " + key);

    std::unique_ptr<RealPeers> p(new RealPeers);
    p->workdir_ = kv["IW_PEERS_WORKDIR"];
    p->scripts_ = kv["IW_PEERS_SCRIPTS"];
    p->users_ = ParseUsers(kv["IW_PEERS_USERS"]);
    const int dovecot = std::atoi(kv["IW_DOVECOT_PID"].c_str());
    const int smtp = std::atoi(kv["IW_SMTP_PID"].c_str());
    const int socks = std::atoi(kv["IW_SOCKS_PID"].c_str());
    const auto port = [&](const char* key) { return uint16_t(std::atoi(kv[key].c_str())); };
    p->socks_port_ = port("IW_SOCKS_PORT");
    p->pop3_ = std::make_unique<Pop3Server>(p->scripts_, p->workdir_, port("IW_POP3_PORT"), 0,
                                            dovecot, false);
    p->smtp_ = std::make_unique<SmtpServer>(p->scripts_, p->workdir_, port("IW_SMTP_PORT"), 0, smtp,
                                            false);

    // The env file says they were started: one that is gone now died or was
    // stopped under the tests, which is a fault, not a reason to skip.
    for (auto [name, pid, log] : {std::tuple{"dovecot", dovecot, "dovecot/dovecot.log"},
                                  std::tuple{"dante", socks, "socks/danted.log"},
                                  std::tuple{"smtp-sink", smtp, "smtp/stderr.log"}})
        if (!Running(pid))
            return fail(true, std::string(name) + " (pid " + std::to_string(pid) + ", from " +
                                  path + ") is not running; see " + p->workdir_ + "/" + log);

    try {
        p->Lease();
    } catch (const std::exception& e) {
        return fail(true, e.what());
    }
    p->smtp_mark_ = p->smtp_->LastSeq();
    return p;
}

RealPeers::~RealPeers() {
    if (lease_.fd >= 0) close(lease_.fd);
}

void RealPeers::Lease() {
    const auto deadline = std::chrono::steady_clock::now() + kLeaseWait;
    for (;;) {
        for (const auto& c : users_) {
            const std::string lock = workdir_ + "/leases/" + c.name + ".lock";
            const int fd = open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
            if (fd < 0)
                throw std::runtime_error("cannot open " + lock + ": " + std::strerror(errno));
            // flock() belongs to this open file: another RealPeers in this
            // process cannot take it either, and the kernel drops it when a
            // test crashes.
            if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
                close(fd);
                continue;
            }
            lease_ = {c, fd};
            pop3_->SeedMaildir(c.name, 0);
            return;
        }
        if (std::chrono::steady_clock::now() > deadline)
            throw std::runtime_error("all " + std::to_string(users_.size()) +
                                     " shared mailboxes stayed leased for 60 s; run fewer tests "
                                     "at once or add users in tests/peers/peers-fixture.sh");
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::vector<SmtpMessage> RealPeers::SmtpReceived() const {
    std::vector<SmtpMessage> mine;
    for (auto& m : smtp_->Received(smtp_mark_))
        if (!m.auth_login.empty() && m.auth_login == lease_.creds.name)
            mine.push_back(std::move(m));
    return mine;
}

std::string RealPeers::NewPrivateDir() const {
    std::string tmpl = workdir_ + "/private/XXXXXX";
    if (tmpl.size() + kDeepestDovecotSocket > 107)
        throw std::runtime_error("work directory path too long for dovecot's sockets: " + tmpl);
    if (!mkdtemp(tmpl.data()))
        throw std::runtime_error("mkdtemp " + tmpl + ": " + std::strerror(errno));
    return tmpl;
}

// Runs a start script on fresh ports (one, or two with `tls`): the port, the
// TLS port and the pid it printed. A port can be taken between choosing and
// binding it; the script then refuses it and the next attempt takes others.
std::tuple<uint16_t, uint16_t, int> RealPeers::StartPrivate(const std::string& dir,
                                                            const std::string& script, bool tls,
                                                            std::vector<std::string> args,
                                                            const Env& env) const {
    std::string out;
    for (int attempt = 0; attempt < 3; ++attempt) {
        const auto ports = FreePorts(tls ? 2 : 1);
        std::vector<std::string> argv = {kBash, scripts_ + "/start-" + script + ".sh", dir,
                                         std::to_string(ports[0])};
        if (tls) argv.push_back(std::to_string(ports[1]));
        argv.insert(argv.end(), args.begin(), args.end());
        const int status = Run(argv, &out, env);
        std::string key = script + "_PID=";
        for (char& ch : key)
            ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        const auto at = out.rfind(key);
        if (const int pid = at == std::string::npos ? 0 : std::atoi(out.c_str() + at + key.size());
            status == 0 && pid > 0)
            return {ports[0], tls ? ports[1] : 0, pid};
    }
    throw std::runtime_error("could not start a private " + script + " in " + dir + ":\n" + out);
}

std::unique_ptr<PrivatePop3> RealPeers::StartPop3(const Pop3Options& opt) const {
    const std::string dir = NewPrivateDir();
    const auto [port, tlsPort, pid] = StartPrivate(dir, "dovecot", opt.tls, {},
                                                   {{"DOVECOT_USERS", opt.users},
                                                    {"DOVECOT_UIDL_FORMAT", opt.uidl_format},
                                                    {"DOVECOT_TLS_CERT", opt.tls_cert},
                                                    {"DOVECOT_TLS_KEY", opt.tls_key}});
    return std::make_unique<PrivatePop3>(scripts_, dir, port, tlsPort, pid, true);
}

std::unique_ptr<PrivateSmtp> RealPeers::StartSmtp(const SmtpOptions& opt) const {
    const std::string dir = NewPrivateDir();
    std::vector<std::string> args = {"--", "--users", opt.users};
    args.insert(args.end(), opt.args.begin(), opt.args.end());
    const auto [port, tlsPort, pid] = StartPrivate(dir, "smtp", opt.implicit_tls, args, {});
    return std::make_unique<PrivateSmtp>(scripts_, dir, port, tlsPort, pid, true);
}

// ------------------------------------------------------------------ TestPki

const TestPki& TestPki::Get() {
    static const TestPki pki = [] {
        TestPki p;
        const char* tmp = std::getenv("TMPDIR");
        std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/iw-pki-XXXXXX";
        if (!mkdtemp(tmpl.data()))
            throw std::runtime_error("mkdtemp " + tmpl + ": " + std::strerror(errno));
        p.dir_ = tmpl;
        const fs::path script = fs::path(IW_PEERS_SCRIPTS) / "make-test-pki.sh";
        RunOrThrow({kBash, script.string(), p.dir_});
        setenv("SSL_CERT_FILE", (p.dir_ + "/ca.pem").c_str(), 1);
        setenv("SSL_CERT_DIR", p.dir_.c_str(), 1);
        static std::string made;
        made = p.dir_;
        std::atexit([] {
            std::error_code ec;
            fs::remove_all(made, ec);
        });
        return p;
    }();
    return pki;
}

std::string TestPki::Fingerprint(const std::string& name) const {
    std::ifstream in(dir_ + "/" + name + ".sha256");
    std::string hex;
    in >> hex;
    return hex;
}

// ------------------------------------------------------------- RealPeersTest

void RealPeersTest::SetUp() {
    std::string why;
    bool fatal = false;
    peers_ = RealPeers::Open(&why, &fatal);
    if (peers_) return;
    if (fatal) FAIL() << why;
    GTEST_SKIP() << why;
}

} // namespace iwtest
