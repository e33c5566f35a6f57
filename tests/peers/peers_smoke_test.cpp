// Checks that the shared real servers behave the way the client tests will
// rely on, speaking the protocols over raw sockets.
#include "support/real_peers.h"
#include "support/temp_env.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <regex>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using iwtest::RealPeersTest;
using iwtest::SeededUidl;

constexpr int kTimeoutMs = 10000;

// A blocking loopback connection with a read timeout; enough protocol
// plumbing for line-based and binary handshakes.
class Conn {
  public:
    explicit Conn(uint16_t port) {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd_ >= 0 && connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            close(fd_);
            fd_ = -1;
        }
    }
    ~Conn() {
        if (fd_ >= 0) close(fd_);
    }
    Conn(const Conn&) = delete;
    Conn& operator=(const Conn&) = delete;

    bool connected() const { return fd_ >= 0; }

    void Send(std::string_view data) {
        while (!data.empty()) {
            ssize_t n = send(fd_, data.data(), data.size(), MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                ADD_FAILURE() << "send failed: " << strerror(errno);
                return;
            }
            data.remove_prefix(static_cast<size_t>(n));
        }
    }

    // One line without its CRLF; "<eof>" or "<timeout>" when none comes.
    std::string Line() {
        for (;;) {
            auto nl = buf_.find("\r\n");
            if (nl != std::string::npos) {
                std::string line = buf_.substr(0, nl);
                buf_.erase(0, nl + 2);
                return line;
            }
            if (auto err = Fill()) return *err;
        }
    }

    // Exactly n bytes (shorter on EOF or timeout).
    std::string Bytes(size_t n) {
        while (buf_.size() < n)
            if (Fill()) break;
        std::string out = buf_.substr(0, n);
        buf_.erase(0, out.size());
        return out;
    }

    std::string Cmd(std::string_view line) {
        Send(std::string(line) + "\r\n");
        return Line();
    }

    // The body of a POP3 multi-line reply, dot-stuffing undone, CRLF kept.
    std::string Multiline() {
        std::string body;
        for (;;) {
            std::string line = Line();
            if (line == "." || line == "<eof>" || line == "<timeout>") return body;
            if (line.starts_with('.')) line.erase(0, 1);
            body += line + "\r\n";
        }
    }

    // All lines of an SMTP reply ("250-a", "250-b", "250 c").
    std::vector<std::string> SmtpReply() {
        std::vector<std::string> lines;
        for (;;) {
            lines.push_back(Line());
            const auto& l = lines.back();
            if (l.size() < 4 || l[3] != '-') return lines;
        }
    }

  private:
    std::optional<std::string> Fill() {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, kTimeoutMs) <= 0) return "<timeout>";
        char tmp[4096];
        ssize_t n = recv(fd_, tmp, sizeof tmp, 0);
        if (n <= 0) return "<eof>";
        buf_.append(tmp, static_cast<size_t>(n));
        return std::nullopt;
    }

    int fd_ = -1;
    std::string buf_;
};

std::string Hex(const unsigned char* p, unsigned n) {
    static const char* digits = "0123456789abcdef";
    std::string s;
    for (unsigned i = 0; i < n; ++i) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}

std::string Md5Hex(const std::string& data) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned n = 0;
    EVP_Digest(data.data(), data.size(), md, &n, EVP_md5(), nullptr);
    return Hex(md, n);
}

std::string HmacMd5Hex(const std::string& key, const std::string& data) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned n = 0;
    HMAC(EVP_md5(), key.data(), static_cast<int>(key.size()),
         reinterpret_cast<const unsigned char*>(data.data()), data.size(), md, &n);
    return Hex(md, n);
}

std::string B64(const std::string& in) {
    std::string out(4 * ((in.size() + 2) / 3) + 1, '\0');
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                            reinterpret_cast<const unsigned char*>(in.data()),
                            static_cast<int>(in.size()));
    out.resize(static_cast<size_t>(n));
    return out;
}

std::string Unb64(const std::string& in) {
    std::string out(in.size(), '\0');
    int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                            reinterpret_cast<const unsigned char*>(in.data()),
                            static_cast<int>(in.size()));
    if (n < 0) return {};
    size_t pad = 0;
    for (size_t i = in.size(); i > 0 && in[i - 1] == '='; --i)
        ++pad;
    out.resize(static_cast<size_t>(n) - pad);
    return out;
}

// The APOP timestamp in a POP3 greeting, "" when there is none.
std::string ApopTimestamp(const std::string& greeting) {
    std::smatch m;
    static const std::regex re("<[^<>@\\s]+@[^<>\\s]+>");
    return std::regex_search(greeting, m, re) ? m.str() : "";
}

void Pop3Login(Conn& c, const iwtest::Credentials& u) {
    ASSERT_TRUE(c.connected());
    ASSERT_TRUE(c.Line().starts_with("+OK"));
    ASSERT_TRUE(c.Cmd("USER " + u.name).starts_with("+OK"));
    ASSERT_TRUE(c.Cmd("PASS " + u.password).starts_with("+OK"));
}

// ----------------------------------------------------------------------- POP3

using PeersPop3 = RealPeersTest;

TEST_F(PeersPop3, UserPassSeesSeededMailboxWithDeterministicUidls) {
    const auto& u = peers().user();
    peers().SeedMaildir(u.name, 3);

    Conn c(peers().pop3_port());
    ASSERT_TRUE(c.connected());
    std::string greeting = c.Line();
    EXPECT_TRUE(greeting.starts_with("+OK")) << greeting;
    EXPECT_NE(ApopTimestamp(greeting), "") << greeting;
    ASSERT_TRUE(c.Cmd("USER " + u.name).starts_with("+OK"));
    ASSERT_TRUE(c.Cmd("PASS " + u.password).starts_with("+OK"));
    EXPECT_TRUE(c.Cmd("STAT").starts_with("+OK 3 "));

    ASSERT_TRUE(c.Cmd("UIDL").starts_with("+OK"));
    EXPECT_EQ(c.Multiline(),
              "1 " + SeededUidl(1) + "\r\n2 " + SeededUidl(2) + "\r\n3 " + SeededUidl(3) + "\r\n");

    ASSERT_TRUE(c.Cmd("TOP 2 0").starts_with("+OK"));
    std::string top = c.Multiline();
    EXPECT_NE(top.find("Subject: Test message 2\r\n"), std::string::npos) << top;
    EXPECT_TRUE(top.ends_with("\r\n\r\n")) << top;
    EXPECT_EQ(top.find("Body of message"), std::string::npos) << top;
    EXPECT_TRUE(c.Cmd("QUIT").starts_with("+OK"));

    // A reset between sessions is seen at once, and the UIDLs start over.
    peers().SeedMaildir(u.name, 1);
    Conn again(peers().pop3_port());
    Pop3Login(again, u);
    EXPECT_TRUE(again.Cmd("STAT").starts_with("+OK 1 "));
    EXPECT_EQ(again.Cmd("UIDL 1"), "+OK 1 " + SeededUidl(1));
}

TEST_F(PeersPop3, ApopAcceptsTheDigestAndRefusesAWrongOne) {
    const auto& u = peers().user();
    peers().SeedMaildir(u.name, 2);

    Conn c(peers().pop3_port());
    ASSERT_TRUE(c.connected());
    std::string ts = ApopTimestamp(c.Line());
    ASSERT_NE(ts, "");
    EXPECT_TRUE(c.Cmd("APOP " + u.name + " " + Md5Hex(ts + "wrong")).starts_with("-ERR"));
    EXPECT_TRUE(c.Cmd("APOP " + u.name + " " + Md5Hex(ts + u.password)).starts_with("+OK"));
    EXPECT_TRUE(c.Cmd("STAT").starts_with("+OK 2 "));
}

TEST_F(PeersPop3, SeededMessagesComeBackByteForByte) {
    const auto& u = peers().user();
    const std::string first = "From: a@example.invalid\r\nSubject: dots\r\n\r\n"
                              ".leading dot\r\n..two dots\r\n.\r\n8-bit \xe9\xff\r\n";
    const std::string second = "Subject: plain\r\n\r\nbody\r\n";
    peers().SeedMessages(u.name, {first, second});
    peers().SeedMaildir(u.name, 1, {.reset = false});

    Conn c(peers().pop3_port());
    Pop3Login(c, u);
    EXPECT_TRUE(c.Cmd("STAT").starts_with("+OK 3 "));
    ASSERT_TRUE(c.Cmd("RETR 1").starts_with("+OK"));
    EXPECT_EQ(c.Multiline(), first);
    ASSERT_TRUE(c.Cmd("RETR 2").starts_with("+OK"));
    EXPECT_EQ(c.Multiline(), second);
    EXPECT_EQ(c.Cmd("UIDL 3"), "+OK 3 " + SeededUidl(3));
}

TEST_F(PeersPop3, EveryLeaseIsItsOwnMailbox) {
    const auto& mine = peers().user();
    iwtest::Credentials other = peers().LeaseUser();
    std::string why;
    bool fatal = false;
    auto second = iwtest::RealPeers::Open(&why, &fatal);
    ASSERT_TRUE(second) << why;
    EXPECT_NE(other.name, mine.name);
    EXPECT_NE(second->user().name, mine.name);
    EXPECT_NE(second->user().name, other.name);

    peers().SeedMaildir(mine.name, 1);
    peers().SeedMaildir(other.name, 4);
    Conn a(peers().pop3_port()), b(peers().pop3_port());
    Pop3Login(a, mine);
    Pop3Login(b, other);
    EXPECT_TRUE(a.Cmd("STAT").starts_with("+OK 1 "));
    EXPECT_TRUE(b.Cmd("STAT").starts_with("+OK 4 "));
}

// ---------------------------------------------------------------------- SOCKS

using PeersSocks = RealPeersTest;

std::string PortBytes(uint16_t port) {
    return {char(port >> 8), char(port & 0xff)};
}
const std::string kLoopback("\x7f\x00\x00\x01", 4);

// SOCKS5 CONNECT; returns the reply code (0 = granted) or -1 on a protocol error.
int Socks5Connect(Conn& c, const std::string& addr_type_and_addr, uint16_t port) {
    c.Send(std::string("\x05\x01\x00", 3));
    if (c.Bytes(2) != std::string("\x05\x00", 2)) return -1;
    c.Send(std::string("\x05\x01\x00", 3) + addr_type_and_addr + PortBytes(port));
    std::string head = c.Bytes(4);
    if (head.size() != 4 || head[0] != 5) return -1;
    size_t addr = head[3] == 1 ? 4 : head[3] == 4 ? 16 : static_cast<uint8_t>(c.Bytes(1)[0]);
    c.Bytes(addr + 2);
    return static_cast<uint8_t>(head[1]);
}

TEST_F(PeersSocks, Socks5And4ConnectThroughToDovecot) {
    const uint16_t pop3 = peers().pop3_port();
    {
        SCOPED_TRACE("SOCKS5, domain name");
        Conn c(peers().socks_port());
        ASSERT_TRUE(c.connected());
        EXPECT_EQ(Socks5Connect(c, std::string("\x03\x09", 2) + "localhost", pop3), 0);
        EXPECT_TRUE(c.Line().starts_with("+OK"));
    }
    {
        SCOPED_TRACE("SOCKS5, IPv4");
        Conn c(peers().socks_port());
        ASSERT_TRUE(c.connected());
        EXPECT_EQ(Socks5Connect(c, "\x01" + kLoopback, pop3), 0);
        EXPECT_TRUE(c.Line().starts_with("+OK"));
    }
    {
        SCOPED_TRACE("SOCKS4, IPv4");
        Conn c(peers().socks_port());
        ASSERT_TRUE(c.connected());
        c.Send(std::string("\x04\x01", 2) + PortBytes(pop3) + kLoopback + std::string(1, '\0'));
        std::string reply = c.Bytes(8);
        ASSERT_EQ(reply.size(), 8u);
        EXPECT_EQ(reply[0], 0);
        EXPECT_EQ(static_cast<uint8_t>(reply[1]), 0x5a);
        EXPECT_TRUE(c.Line().starts_with("+OK"));
    }
}

TEST_F(PeersSocks, RefusedTargetIsReportedNotConnected) {
    // A port nothing listens on: bound once to learn a free number, then closed.
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(getsockname(s, reinterpret_cast<sockaddr*>(&a), &len), 0);
    close(s);

    Conn c(peers().socks_port());
    ASSERT_TRUE(c.connected());
    EXPECT_EQ(Socks5Connect(c, "\x01" + kLoopback, ntohs(a.sin_port)), 5); // connection refused
}

// ----------------------------------------------------------------------- SMTP

using PeersSmtp = RealPeersTest;

// Connects, reads the 220 and sends EHLO; returns the EHLO reply lines.
std::vector<std::string> SmtpHello(Conn& c) {
    if (!c.connected() || !c.Line().starts_with("220")) return {};
    c.Send("EHLO client.example.invalid\r\n");
    return c.SmtpReply();
}

// Runs one AUTH exchange; returns the final reply line.
std::string SmtpAuth(Conn& c, const std::string& mech, const iwtest::Credentials& u) {
    if (mech == "PLAIN") {
        std::string reply = c.Cmd("AUTH PLAIN");
        if (!reply.starts_with("334")) return reply;
        return c.Cmd(B64(std::string(1, '\0') + u.name + '\0' + u.password));
    }
    if (mech == "LOGIN") {
        std::string reply = c.Cmd("AUTH LOGIN");
        if (reply != "334 " + B64("Username:")) return reply;
        reply = c.Cmd(B64(u.name));
        if (reply != "334 " + B64("Password:")) return reply;
        return c.Cmd(B64(u.password));
    }
    std::string reply = c.Cmd("AUTH CRAM-MD5");
    if (!reply.starts_with("334 ")) return reply;
    std::string challenge = Unb64(reply.substr(4));
    return c.Cmd(B64(u.name + " " + HmacMd5Hex(u.password, challenge)));
}

TEST_F(PeersSmtp, EhloOffersPlainLoginAndCramMd5) {
    Conn c(peers().smtp_port());
    std::string auth;
    for (const auto& l : SmtpHello(c))
        if (l.starts_with("250-AUTH ") || l.starts_with("250 AUTH ")) auth = l.substr(8) + " ";
    for (const char* mech : {" PLAIN ", " LOGIN ", " CRAM-MD5 "})
        EXPECT_NE(auth.find(mech), std::string::npos) << mech << " missing from" << auth;
}

TEST_F(PeersSmtp, EachMechanismTakesTheRightPasswordAndRefusesAWrongOne) {
    const auto& u = peers().user();
    for (const char* mech : {"PLAIN", "LOGIN", "CRAM-MD5"}) {
        SCOPED_TRACE(mech);
        {
            Conn c(peers().smtp_port());
            ASSERT_FALSE(SmtpHello(c).empty());
            EXPECT_TRUE(SmtpAuth(c, mech, u).starts_with("235"));
        }
        {
            Conn c(peers().smtp_port());
            ASSERT_FALSE(SmtpHello(c).empty());
            EXPECT_TRUE(SmtpAuth(c, mech, {u.name, u.password + "x"}).starts_with("535"));
        }
    }
}

TEST_F(PeersSmtp, AcceptedMessageIsStoredByteForByte) {
    const auto& u = peers().user();
    const std::string message = "From: <a@example.invalid>\r\nTo: <b@example.invalid>\r\n"
                                "Subject: stored\r\n\r\n"
                                ".starts with a dot\r\n.\r\n..\r\n8-bit \xe9\xff\r\nlast\r\n";
    std::string stuffed;
    size_t pos = 0;
    while (pos < message.size()) {
        size_t end = message.find("\r\n", pos) + 2;
        std::string line = message.substr(pos, end - pos);
        stuffed += (line.starts_with('.') ? "." : "") + line;
        pos = end;
    }

    Conn c(peers().smtp_port());
    ASSERT_FALSE(SmtpHello(c).empty());
    ASSERT_TRUE(SmtpAuth(c, "PLAIN", u).starts_with("235"));
    EXPECT_TRUE(c.Cmd("MAIL FROM:<a@example.invalid>").starts_with("250"));
    EXPECT_TRUE(c.Cmd("RCPT TO:<b@example.invalid>").starts_with("250"));
    EXPECT_TRUE(c.Cmd("RCPT TO:<c@example.invalid>").starts_with("250"));
    ASSERT_TRUE(c.Cmd("DATA").starts_with("354"));
    c.Send(stuffed + ".\r\n");
    std::string queued = c.Line();
    ASSERT_TRUE(queued.starts_with("250")) << queued;
    c.Cmd("QUIT");

    auto got = peers().SmtpReceived();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_TRUE(queued.ends_with(" " + got[0].id)) << queued;
    EXPECT_EQ(got[0].eml, message);
    EXPECT_EQ(got[0].mail_from, "a@example.invalid");
    EXPECT_EQ(got[0].rcpt_tos,
              (std::vector<std::string>{"b@example.invalid", "c@example.invalid"}));
    EXPECT_EQ(got[0].auth_mechanism, "PLAIN");
    EXPECT_EQ(got[0].auth_login, u.name);
    EXPECT_EQ(got[0].helo, "client.example.invalid");
}

// ------------------------------------------------------- private instances

using PeersPrivate = RealPeersTest;

bool Accepts(uint16_t port) {
    return Conn(port).connected();
}

TEST_F(PeersPrivate, Pop3TakesExtraConfigAndStopsWithItsHandle) {
    auto box = peers().StartPop3(
        {.users = "alice:pw1", .extra_conf = "login_greeting = Private box ready."});
    box->SeedMaildir("alice", 2);
    {
        Conn c(box->port());
        ASSERT_TRUE(c.connected());
        EXPECT_TRUE(c.Line().starts_with("+OK Private box ready."));
        EXPECT_TRUE(c.Cmd("USER alice").starts_with("+OK"));
        EXPECT_TRUE(c.Cmd("PASS pw1").starts_with("+OK"));
        EXPECT_EQ(c.Cmd("UIDL 2"), "+OK 2 " + SeededUidl(2));
    }
    const uint16_t port = box->port();
    box.reset();
    EXPECT_FALSE(Accepts(port));
    EXPECT_THROW(peers().pop3().SeedMaildir("alice", 1), std::runtime_error); // not a shared user
}

TEST_F(PeersPrivate, SmtpTakesSinkOptionsAndStopsWithItsHandle) {
    auto sink = peers().StartSmtp(
        {.users = "bob:pw2",
         .args = {"--mechanisms", "CRAM-MD5", "--reject-rcpt", "nobody@example.invalid"}});
    {
        Conn c(sink->port());
        auto ehlo = SmtpHello(c);
        EXPECT_NE(std::find(ehlo.begin(), ehlo.end(), "250-AUTH CRAM-MD5"), ehlo.end());
        ASSERT_TRUE(SmtpAuth(c, "CRAM-MD5", {"bob", "pw2"}).starts_with("235"));
        EXPECT_TRUE(c.Cmd("MAIL FROM:<bob@example.invalid>").starts_with("250"));
        EXPECT_TRUE(c.Cmd("RCPT TO:<nobody@example.invalid>").starts_with("550"));
        EXPECT_TRUE(c.Cmd("RCPT TO:<x@example.invalid>").starts_with("250"));
        ASSERT_TRUE(c.Cmd("DATA").starts_with("354"));
        EXPECT_TRUE(c.Cmd("Subject: s\r\n\r\nhi\r\n.").starts_with("250"));
    }
    auto got = sink->Received();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].eml, "Subject: s\r\n\r\nhi\r\n");
    EXPECT_EQ(got[0].auth_mechanism, "CRAM-MD5");
    // The shared sink saw none of it (other tests running beside this one
    // may send it their own mail).
    for (const auto& m : peers().SmtpReceivedAll())
        EXPECT_NE(m.auth_login, "bob");

    const uint16_t port = sink->port();
    sink.reset();
    EXPECT_FALSE(Accepts(port));
}

// ------------------------------------------------------------ missing peers

class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    ~ScopedEnv() { old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_); }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(PeersEnvFile, MissingServersSkipUnlessRequiredAndDeadServersFail) {
    const std::string dir = iwtest::MakeTempDir("env");
    std::string why;
    bool fatal = false;
    ScopedEnv require("IW_REQUIRE_PEERS", nullptr);
    {
        ScopedEnv env("IW_PEERS_ENV", (dir + "/absent.env").c_str());
        EXPECT_FALSE(iwtest::RealPeers::Open(&why, &fatal));
        EXPECT_FALSE(fatal);
        EXPECT_NE(why.find("absent.env"), std::string::npos) << why;

        ScopedEnv required("IW_REQUIRE_PEERS", "1");
        EXPECT_FALSE(iwtest::RealPeers::Open(&why, &fatal));
        EXPECT_TRUE(fatal);
    }
    {
        std::ofstream(dir + "/na.env") << "IW_PEERS_UNAVAILABLE='/usr/sbin/dovecot is not "
                                          "installed'\n";
        ScopedEnv env("IW_PEERS_ENV", (dir + "/na.env").c_str());
        EXPECT_FALSE(iwtest::RealPeers::Open(&why, &fatal));
        EXPECT_FALSE(fatal);
        EXPECT_NE(why.find("/usr/sbin/dovecot is not installed"), std::string::npos) << why;
    }
    {
        std::ofstream(dir + "/dead.env")
            << "IW_PEERS_WORKDIR=" << dir << "\nIW_PEERS_SCRIPTS=" << dir
            << "\nIW_POP3_PORT=1\nIW_SOCKS_PORT=2\nIW_SMTP_PORT=3\nIW_DOVECOT_PID=2147483600\n"
               "IW_SOCKS_PID=2147483601\nIW_SMTP_PID=2147483602\nIW_PEERS_USERS='test:secret'\n";
        ScopedEnv env("IW_PEERS_ENV", (dir + "/dead.env").c_str());
        EXPECT_FALSE(iwtest::RealPeers::Open(&why, &fatal));
        EXPECT_TRUE(fatal);
        EXPECT_NE(why.find("dovecot (pid 2147483600"), std::string::npos) << why;
    }
}

} // namespace
