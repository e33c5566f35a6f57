#include "real_peers.h"

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
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <tuple>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;

namespace iwtest {
namespace {

constexpr const char* kPython = "/usr/bin/python3"; // the one python3-aiosmtpd is installed for
constexpr const char* kBash = "/bin/bash";
// A unix socket path holds at most 107 bytes; the deepest one dovecot makes
// under its work directory is this long.
constexpr size_t kDeepestDovecotSocket = sizeof("/dovecot/run/token-login/tokenlogin") - 1;
constexpr auto kLeaseWait = std::chrono::seconds(60);

struct ProcessResult {
    int status = -1; // exit code, or -1 when it did not exit normally
    std::string output;
};

// Runs argv without a shell, stdout and stderr captured together. Descriptors
// other than 0-2 are closed in the child: a server started by a script must
// not keep a lease lock or a test's socket open after this process is gone.
ProcessResult Run(const std::vector<std::string>& argv,
                  const std::map<std::string, std::string>& env = {}) {
    std::vector<std::string> envs;
    for (char** e = environ; *e; ++e) {
        std::string kv = *e;
        if (!env.count(kv.substr(0, kv.find('=')))) envs.push_back(std::move(kv));
    }
    for (const auto& [k, v] : env)
        envs.push_back(k + "=" + v);
    std::vector<char*> cargv, cenv;
    for (const auto& a : argv)
        cargv.push_back(const_cast<char*>(a.c_str()));
    cargv.push_back(nullptr);
    for (auto& e : envs)
        cenv.push_back(e.data());
    cenv.push_back(nullptr);

    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
    posix_spawn_file_actions_adddup2(&fa, fds[1], 2);
    posix_spawn_file_actions_addclosefrom_np(&fa, 3);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, cargv[0], &fa, nullptr, cargv.data(), cenv.data());
    posix_spawn_file_actions_destroy(&fa);
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        throw std::runtime_error("cannot run " + argv[0] + ": " + std::strerror(rc));
    }
    ProcessResult r;
    char buf[4096];
    for (;;) {
        ssize_t n = read(fds[0], buf, sizeof buf);
        if (n > 0)
            r.output.append(buf, static_cast<size_t>(n));
        else if (n == 0 || errno != EINTR)
            break;
    }
    close(fds[0]);
    int st = 0;
    while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {
    }
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

std::string Describe(const std::vector<std::string>& argv) {
    std::string s;
    for (const auto& a : argv)
        s += (s.empty() ? "" : " ") + a;
    return s;
}

void RunOrThrow(const std::vector<std::string>& argv,
                const std::map<std::string, std::string>& env = {}) {
    ProcessResult r = Run(argv, env);
    if (r.status != 0)
        throw std::runtime_error(Describe(argv) + " failed (exit " + std::to_string(r.status) +
                                 "):\n" + r.output);
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
    size_t pos = 0;
    while (pos < s.size()) {
        size_t end = s.find(' ', pos);
        if (end == std::string::npos) end = s.size();
        std::string entry = s.substr(pos, end - pos);
        auto colon = entry.find(':');
        if (colon != std::string::npos)
            users.push_back({entry.substr(0, colon), entry.substr(colon + 1)});
        pos = end + 1;
    }
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

// The value of "NAME_PID=<pid>" in a start script's output, or 0.
int PidFromOutput(const std::string& out, const std::string& name) {
    std::string key = name + "_PID=";
    auto at = out.rfind(key);
    if (at == std::string::npos) return 0;
    return std::atoi(out.c_str() + at + key.size());
}

void StopPid(const std::string& scripts, int pid) {
    if (pid > 0) Run({kBash, scripts + "/stop-pid.sh", std::to_string(pid)});
}

// Keeps a failed test's server logs for reading; the fixture's cleanup
// stops anything a crashed test left behind.
void RemoveUnlessFailed(const std::string& dir) {
    if (!::testing::Test::HasFailure()) RemoveTree(dir);
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

// ---------------------------------------------------------------- Pop3Server

Pop3Server::Pop3Server(std::string scripts, std::string workdir, uint16_t port, uint16_t tls_port,
                       int pid)
    : scripts_(std::move(scripts)), workdir_(std::move(workdir)), port_(port), tls_port_(tls_port),
      pid_(pid) {}

std::string Pop3Server::Maildir(const std::string& user) const {
    return workdir_ + "/mail/" + user + "/Maildir";
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
    std::vector<std::string> argv = {kPython, scripts_ + "/seed-maildir.py", Maildir(user), "-n",
                                     std::to_string(n)};
    if (opt.reset) argv.push_back("--reset");
    if (opt.size > 0) argv.insert(argv.end(), {"--size", std::to_string(opt.size)});
    if (!opt.names.empty()) argv.insert(argv.end(), {"--names", opt.names});
    for (const auto& f : files)
        argv.insert(argv.end(), {"--eml", f});
    RunOrThrow(argv);
}

void Pop3Server::SeedMaildir(const std::string& user, int n, const SeedOptions& opt) const {
    Seed(user, n, {}, opt);
}

void Pop3Server::SeedEmlFiles(const std::string& user, const std::vector<std::string>& files,
                              const SeedOptions& opt) const {
    Seed(user, 0, files, opt);
}

void Pop3Server::SeedMessages(const std::string& user, const std::vector<std::string>& raw,
                              const SeedOptions& opt) const {
    std::string dir = MakeTempDir("eml");
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

void Pop3Server::ResetMaildir(const std::string& user) const {
    Seed(user, 0, {}, SeedOptions{});
}

PrivatePop3::~PrivatePop3() {
    StopPid(scripts_, pid_);
    RemoveUnlessFailed(workdir_);
}

// ---------------------------------------------------------------- SmtpServer

SmtpServer::SmtpServer(std::string scripts, std::string workdir, uint16_t port, uint16_t tls_port,
                       int pid)
    : scripts_(std::move(scripts)), workdir_(std::move(workdir)), port_(port), tls_port_(tls_port),
      pid_(pid) {}

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
    std::string dir = workdir_ + "/smtp/messages";
    std::vector<SmtpMessage> out;
    for (int seq : StoredSeqs(dir)) {
        if (seq <= after_seq) continue;
        SmtpMessage m;
        m.seq = seq;
        char id[16];
        std::snprintf(id, sizeof id, "%06d", seq);
        m.id = id;
        m.envelope_json = ReadFile(dir + "/" + m.id + ".json");
        m.eml = ReadFile(dir + "/" + m.id + ".eml");
        auto j = nlohmann::json::parse(m.envelope_json, nullptr, false);
        if (j.is_discarded() || !j.is_object())
            throw std::runtime_error("unreadable envelope " + dir + "/" + m.id + ".json");
        m.mail_from = JsonString(j, "mail_from");
        m.auth_mechanism = JsonString(j, "auth_mechanism");
        m.auth_login = JsonString(j, "auth_login");
        m.helo = JsonString(j, "helo");
        m.tls = JsonString(j, "tls");
        if (auto it = j.find("rcpt_tos"); it != j.end() && it->is_array())
            for (const auto& r : *it)
                if (r.is_string()) m.rcpt_tos.push_back(r.get<std::string>());
        out.push_back(std::move(m));
    }
    return out;
}

PrivateSmtp::~PrivateSmtp() {
    StopPid(scripts_, pid_);
    RemoveUnlessFailed(workdir_);
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
    p->socks_port_ = static_cast<uint16_t>(std::atoi(kv["IW_SOCKS_PORT"].c_str()));
    p->users_ = ParseUsers(kv["IW_PEERS_USERS"]);
    const int dovecot = std::atoi(kv["IW_DOVECOT_PID"].c_str());
    const int smtp = std::atoi(kv["IW_SMTP_PID"].c_str());
    const int socks = std::atoi(kv["IW_SOCKS_PID"].c_str());
    p->pop3_ = std::make_unique<Pop3Server>(
        p->scripts_, p->workdir_, static_cast<uint16_t>(std::atoi(kv["IW_POP3_PORT"].c_str())), 0,
        dovecot);
    p->smtp_ = std::make_unique<SmtpServer>(
        p->scripts_, p->workdir_, static_cast<uint16_t>(std::atoi(kv["IW_SMTP_PORT"].c_str())), 0,
        smtp);

    // The env file says they were started: one that is gone now died or was
    // stopped under the tests, which is a fault, not a reason to skip.
    for (auto [name, pid, log] : {std::tuple{"dovecot", dovecot, "dovecot/dovecot.log"},
                                  std::tuple{"dante", socks, "socks/danted.log"},
                                  std::tuple{"smtp-sink", smtp, "smtp/stderr.log"}})
        if (!Running(pid))
            return fail(true, std::string(name) + " (pid " + std::to_string(pid) + ", from " +
                                  path + ") is not running; see " + p->workdir_ + "/" + log);

    try {
        p->LeaseUser();
    } catch (const std::exception& e) {
        return fail(true, e.what());
    }
    p->smtp_mark_ = p->smtp_->LastSeq();
    return p;
}

RealPeers::~RealPeers() {
    for (auto& l : leases_)
        close(l.fd);
}

bool RealPeers::TryLease(const Credentials& c) {
    std::string lock = workdir_ + "/leases/" + c.name + ".lock";
    int fd = open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) throw std::runtime_error("cannot open " + lock + ": " + std::strerror(errno));
    // flock() belongs to this open file: another RealPeers in this process
    // cannot take it either, and the kernel drops it when a test crashes.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return false;
    }
    leases_.push_back({c, fd});
    return true;
}

Credentials RealPeers::LeaseUser() {
    const auto deadline = std::chrono::steady_clock::now() + kLeaseWait;
    for (;;) {
        for (const auto& c : users_) {
            bool mine = false;
            for (const auto& l : leases_)
                mine = mine || l.creds.name == c.name;
            if (mine || !TryLease(c)) continue;
            pop3_->ResetMaildir(c.name);
            return c;
        }
        if (std::chrono::steady_clock::now() > deadline)
            throw std::runtime_error("all " + std::to_string(users_.size()) +
                                     " shared mailboxes stayed leased for 60 s; run fewer tests "
                                     "at once or add users in tests/peers/peers-fixture.sh");
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::vector<SmtpMessage> RealPeers::SmtpReceivedAll() const {
    return smtp_->Received(smtp_mark_);
}

std::vector<SmtpMessage> RealPeers::SmtpReceived() const {
    std::vector<SmtpMessage> mine;
    for (auto& m : SmtpReceivedAll())
        for (const auto& l : leases_)
            if (!m.auth_login.empty() && m.auth_login == l.creds.name) {
                mine.push_back(std::move(m));
                break;
            }
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

std::unique_ptr<PrivatePop3> RealPeers::StartPop3(const Pop3Options& opt) const {
    std::string dir = NewPrivateDir();
    std::map<std::string, std::string> env = {{"DOVECOT_USERS", opt.users},
                                              {"DOVECOT_UIDL_FORMAT", opt.uidl_format},
                                              {"DOVECOT_EXTRA_CONF", opt.extra_conf},
                                              {"DOVECOT_AUTH_DELAYS", opt.auth_delays ? "1" : "0"},
                                              {"DOVECOT_TLS_CERT", opt.tls_cert},
                                              {"DOVECOT_TLS_KEY", opt.tls_key}};
    std::string out;
    // A port can be taken between choosing and binding it; the script then
    // refuses it and the next attempt takes others.
    for (int attempt = 0; attempt < 3; ++attempt) {
        auto ports = FreePorts(opt.tls ? 2 : 1);
        std::vector<std::string> argv = {kBash, scripts_ + "/start-dovecot.sh", dir,
                                         std::to_string(ports[0])};
        if (opt.tls) argv.push_back(std::to_string(ports[1]));
        ProcessResult r = Run(argv, env);
        out = r.output;
        if (int pid = PidFromOutput(r.output, "DOVECOT"); r.status == 0 && pid > 0)
            return std::make_unique<PrivatePop3>(scripts_, dir, ports[0], opt.tls ? ports[1] : 0,
                                                 pid);
    }
    throw std::runtime_error("could not start a private dovecot in " + dir + ":\n" + out);
}

std::unique_ptr<PrivateSmtp> RealPeers::StartSmtp(const SmtpOptions& opt) const {
    std::string dir = NewPrivateDir();
    std::string out;
    for (int attempt = 0; attempt < 3; ++attempt) {
        auto ports = FreePorts(opt.implicit_tls ? 2 : 1);
        std::vector<std::string> argv = {kBash, scripts_ + "/start-smtp.sh", dir,
                                         std::to_string(ports[0])};
        if (opt.implicit_tls) argv.push_back(std::to_string(ports[1]));
        argv.insert(argv.end(), {"--", "--users", opt.users});
        argv.insert(argv.end(), opt.args.begin(), opt.args.end());
        ProcessResult r = Run(argv);
        out = r.output;
        if (int pid = PidFromOutput(r.output, "SMTP"); r.status == 0 && pid > 0)
            return std::make_unique<PrivateSmtp>(scripts_, dir, ports[0],
                                                 opt.implicit_tls ? ports[1] : 0, pid);
    }
    throw std::runtime_error("could not start a private SMTP sink in " + dir + ":\n" + out);
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
