// The POP3 session against the real Dovecot of the test harness, directly
// and through the real SOCKS 4 and SOCKS 5 proxy.
#include "net/pop3.h"

#include "common/status.h"
#include "support/real_peers.h"

#include <gtest/gtest.h>

namespace {

using iwtest::SeededUidl;

constexpr int kTimeout = 10;

class Pop3Peers : public iwtest::RealPeersTest {
  protected:
    void SetUp() override {
        RealPeersTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        Sock_Close(&Pop3Socket);
        Pop3_ResetCheckState();
    }
    void TearDown() override { Sock_Close(&Pop3Socket); }

    // Connects to the shared Dovecot, through a proxy when one is given.
    uint32_t Connect(const std::string& server, const char* proxy = nullptr,
                     uint32_t proxyParam = 0) {
        return Pop3_Connect(&Pop3Socket, server.c_str(), peers().pop3_port(), kTimeout, proxy,
                            proxyParam, &Pop3SessionBuffer, nullptr, nullptr);
    }

    uint32_t Command(const char* cmd, const char* arg, int mode = POP3_SINGLE_LINE,
                     GrowBuffer* buf = &Pop3SessionBuffer) {
        return Pop3_Command(kTimeout, buf, cmd, arg, mode, 1, nullptr);
    }

    uint32_t UserPass(const iwtest::Credentials& u) {
        if (const uint32_t rc = Command("USER", u.name.c_str())) return rc;
        return Command("PASS", u.password.c_str());
    }

    // Connected and logged in; then STAT's message count.
    void ExpectStat(int count) {
        ASSERT_EQ(Command("STAT", nullptr), 0u);
        EXPECT_TRUE(
            std::string(Pop3SessionBuffer.Data()).starts_with("+OK " + std::to_string(count) + " "))
            << Pop3SessionBuffer.Data();
    }

    static std::string LastError() {
        char text[CHECK_ERROR_TEXT_SIZE];
        Pop3_GetLastError(text, sizeof text);
        return text;
    }
};

TEST_F(Pop3Peers, UserPassListsFetchesAndCommitsDeletionsOnlyAtQuit) {
    const auto& u = peers().user();
    peers().SeedMaildir(u.name, 3);

    ASSERT_EQ(Connect(peers().host()), 0u);
    EXPECT_EQ(Pop3_ParseResponse(Pop3SessionBuffer.Data(), nullptr), 1);
    ASSERT_EQ(UserPass(u), 0u);
    ExpectStat(3);
    ASSERT_EQ(Command("UIDL", nullptr, POP3_MULTI_LINE), 0u);
    EXPECT_EQ(std::string(Pop3SessionBuffer.Data())
                  .substr(std::string(Pop3SessionBuffer.Data()).find("\r\n") + 2),
              "1 " + SeededUidl(1) + "\r\n2 " + SeededUidl(2) + "\r\n3 " + SeededUidl(3) +
                  "\r\n.\r\n");
    ASSERT_EQ(Command("TOP", "2 0", POP3_MULTI_LINE, &Pop3MessageBuffer), 0u);
    const std::string top = Pop3MessageBuffer.Data();
    EXPECT_NE(top.find("Subject: Test message 2\r\n"), std::string::npos) << top;
    EXPECT_TRUE(top.ends_with("\r\n\r\n.\r\n")) << top;

    // A DELE without a committed QUIT deletes nothing (RFC 1939 §6)...
    ASSERT_EQ(Command("DELE", "1", POP3_SINGLE_LINE, &Pop3MessageBuffer), 0u);
    Pop3_Quit(&Pop3Socket, 0);
    ASSERT_EQ(Connect(peers().host()), 0u);
    ASSERT_EQ(UserPass(u), 0u);
    ExpectStat(3);
    // ...and one whose QUIT got "+OK" does.
    ASSERT_EQ(Command("DELE", "1", POP3_SINGLE_LINE, &Pop3MessageBuffer), 0u);
    EXPECT_EQ(Pop3_QuitAndConfirm(kTimeout, &Pop3SessionBuffer), 0u);
    EXPECT_EQ(Pop3Socket, SOCK_INVALID);
    ASSERT_EQ(Connect(peers().host()), 0u);
    ASSERT_EQ(UserPass(u), 0u);
    ExpectStat(2);
}

TEST_F(Pop3Peers, WrongPasswordFailsWithTheServersWords) {
    const auto& u = peers().user();
    ASSERT_EQ(Connect(peers().host()), 0u);
    EXPECT_EQ(UserPass({u.name, u.password + "x"}), ERR_OPERATION);
    EXPECT_EQ(Pop3Socket, SOCK_INVALID);
    const std::string text = LastError();
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(text.find('\r'), std::string::npos) << text;
    EXPECT_EQ(text.find(u.password), std::string::npos) << text;
}

TEST_F(Pop3Peers, ApopLoginWithTheGreetingsTimestamp) {
    const auto& u = peers().user();
    peers().SeedMaildir(u.name, 2);
    std::string arg;
    ASSERT_EQ(Connect(peers().host()), 0u);
    ASSERT_EQ(Pop3_ApopArgument(Pop3SessionBuffer.Data(), u.name, u.password, &arg), 0u)
        << Pop3SessionBuffer.Data();
    ASSERT_EQ(Command("APOP", arg.c_str()), 0u);
    ExpectStat(2);
    EXPECT_EQ(Pop3_QuitAndConfirm(kTimeout, &Pop3SessionBuffer), 0u);

    ASSERT_EQ(Connect(peers().host()), 0u);
    ASSERT_EQ(Pop3_ApopArgument(Pop3SessionBuffer.Data(), u.name, "wrong", &arg), 0u);
    EXPECT_EQ(Command("APOP", arg.c_str()), ERR_OPERATION);
    EXPECT_EQ(Pop3Socket, SOCK_INVALID);
}

TEST_F(Pop3Peers, SameSessionThroughSocks5ByNameAndSocks4) {
    const auto& u = peers().user();
    const std::string message = "From: a@example.invalid\r\nSubject: via proxy\r\n\r\n"
                                "..dot-stuffed line\r\nbody\r\n";
    peers().SeedMessages(u.name, {message});
    const struct {
        const char* what;
        const char* server;
        uint32_t version;
    } routes[] = {{"SOCKS 5, domain name", "localhost", 5}, {"SOCKS 4", "127.0.0.1", 4}};
    for (const auto& r : routes) {
        SCOPED_TRACE(r.what);
        ASSERT_EQ(Connect(r.server, "127.0.0.1", (r.version << 24) | peers().socks_port()), 0u);
        EXPECT_TRUE(std::string(Pop3SessionBuffer.Data()).starts_with("+OK"))
            << Pop3SessionBuffer.Data();
        std::string arg;
        ASSERT_EQ(Pop3_ApopArgument(Pop3SessionBuffer.Data(), u.name, u.password, &arg), 0u);
        ASSERT_EQ(Command("APOP", arg.c_str()), 0u);
        ASSERT_EQ(Command("RETR", "1", POP3_MULTI_LINE, &Pop3MessageBuffer), 0u);
        const std::string retr = Pop3MessageBuffer.Data();
        // Dot-stuffing is left as received.
        EXPECT_TRUE(retr.ends_with("\r\n\r\n...dot-stuffed line\r\nbody\r\n.\r\n")) << retr;
        EXPECT_EQ(Pop3_QuitAndConfirm(kTimeout, &Pop3SessionBuffer), 0u);
    }
    // And plain USER/PASS through SOCKS 5 too.
    ASSERT_EQ(Connect("localhost", "127.0.0.1", (5u << 24) | peers().socks_port()), 0u);
    ASSERT_EQ(UserPass(u), 0u);
    ExpectStat(1);
}

} // namespace
