// SPDX-License-Identifier: GPL-3.0-or-later
#include "../support/fake_peer.h"
#include "net/pop3.h"

#include "../support/temp_env.h"
#include "common/status.h"
#include "platform/log.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

using iwtest::FakePeer;
using iwtest::PeerConn;
using iwtest::Stopwatch;

// Every test starts like a fresh worker run with no session open.
class Pop3Test : public ::testing::Test {
  protected:
    void SetUp() override {
        Sock_Close(&Pop3Socket);
        Pop3_ResetCheckState();
        Pop3SessionBuffer.SetLimit(POP3_BUFFER_LIMIT);
        Pop3SessionBuffer.Release();
        Pop3MessageBuffer.Release();
    }
    void TearDown() override {
        Sock_Close(&Pop3Socket);
        Log_Close();
    }

    void Connect(const FakePeer& peer) {
        ASSERT_EQ(Pop3_Connect(&Pop3Socket, "127.0.0.1", peer.port(), 5, nullptr, 0,
                               &Pop3SessionBuffer, nullptr, nullptr),
                  0u);
    }

    static std::string Session() { return Pop3SessionBuffer.Data(); }
    static std::string ErrorText() {
        char text[CHECK_ERROR_TEXT_SIZE];
        Pop3_GetLastError(text, sizeof text);
        return text;
    }
};

// A greeting, then the given answer to each command line the client sends.
FakePeer Server(std::vector<std::pair<std::string, std::string>> dialogue) {
    return FakePeer([dialogue = std::move(dialogue)](PeerConn& c) {
        c.Send("+OK ready <1.2@host>\r\n");
        for (const auto& [expect, answer] : dialogue) {
            EXPECT_EQ(c.ReadLine(), expect + "\r\n");
            c.Send(answer);
        }
        c.WaitClosed();
    });
}

TEST(Pop3ParseResponse, ClassifiesAndPointsPastTheIndicator) {
    const struct {
        const char* response;
        int result;
        const char* text;
    } cases[] = {
        {"+OK 2 320\r\n", 1, "2 320\r\n"},
        {"-ERR no such message\r\n", 0, "no such message\r\n"},
        {"+OK\r\n", 1, "\n"},
        // Cut short: the text may not run past the end.
        {"+OK", 1, ""},
        {"-ERR", 0, ""},
        {"+ok 1\r\n", 0, "UNKNOWN POP3 response"},
        {"* OK imap\r\n", 0, "UNKNOWN POP3 response"},
        {"", 0, "UNKNOWN POP3 response"},
        {nullptr, 0, "UNKNOWN POP3 response"},
    };
    for (const auto& k : cases) {
        const char* text = nullptr;
        EXPECT_EQ(Pop3_ParseResponse(k.response, &text), k.result) << k.response;
        EXPECT_STREQ(text, k.text) << k.response;
    }
}

TEST(Pop3Apop, DigestOverTheTimestampAndPasswordOnly) {
    std::string arg;
    // The worked example of RFC 1939 §7, with text after the timestamp.
    ASSERT_EQ(Pop3_ApopArgument("+OK POP3 server ready <1896.697170952@dbc.mtview.ca.us> hi\r\n",
                                "mrose", "tanstaaf", &arg),
              0u);
    EXPECT_EQ(arg, "mrose c4c9334bac560ecc979e58001b3e22fb");

    // No timestamp, or a '<' never closed (a forged or broken greeting): the
    // account must not fall back to sending the password in clear.
    for (const char* greeting : {"+OK POP3 ready\r\n", "+OK ready <1896.697170952@dbc\r\n",
                                 "+OK a> b<\r\n", "+OK ready <abc\r\n<def>", ""}) {
        arg = "unchanged";
        EXPECT_EQ(Pop3_ApopArgument(greeting, "u", "p", &arg), POP3_APOP_UNSUPPORTED) << greeting;
        EXPECT_EQ(arg, "unchanged");
    }
}

TEST_F(Pop3Test, ResponsesSplitAtEveryPointAreReassembled) {
    const std::string listing = "+OK 3 messages\r\n1 a1\r\n2 b22\r\n3 c333\r\n.\r\n";
    const std::string line = "+OK 3 1200\r\n";
    FakePeer peer([&](PeerConn& c) {
        c.Send("+OK hi\r\n");
        for (size_t chunk = 1; chunk <= listing.size(); ++chunk) {
            EXPECT_EQ(c.ReadLine(), "UIDL\r\n");
            c.SendInChunks(listing, chunk);
            EXPECT_EQ(c.ReadLine(), "STAT\r\n");
            c.SendInChunks(line, chunk);
        }
        c.WaitClosed();
    });
    Connect(peer);
    for (size_t chunk = 1; chunk <= listing.size(); ++chunk) {
        SCOPED_TRACE(chunk);
        const char* text = nullptr;
        ASSERT_EQ(Pop3_Command(5, &Pop3SessionBuffer, "UIDL", nullptr, POP3_MULTI_LINE, 1, &text),
                  0u);
        EXPECT_EQ(Session(), listing);
        EXPECT_STREQ(text, "3 messages\r\n1 a1\r\n2 b22\r\n3 c333\r\n.\r\n");
        ASSERT_EQ(Pop3_Command(5, &Pop3SessionBuffer, "STAT", nullptr, POP3_SINGLE_LINE, 1, &text),
                  0u);
        EXPECT_EQ(Session(), line);
    }
}

TEST_F(Pop3Test, ErrAnswerToAListingEndsAfterItsLine) {
    // The server never sends a "." line; waiting for one would stall.
    FakePeer peer =
        Server({{"UIDL", "-ERR not supported\r\n"}, {"TOP 1 0", "-ERR no such message\r\n"}});
    Connect(peer);
    const char* text = nullptr;
    Stopwatch sw;
    EXPECT_EQ(Pop3_Command(5, &Pop3SessionBuffer, "UIDL", nullptr, POP3_MULTI_LINE, 0, &text),
              ERR_REFUSED);
    EXPECT_LT(sw.ElapsedMs(), 1000);
    EXPECT_STREQ(text, "not supported\r\n");
    EXPECT_EQ(CheckState.load(), 0u); // tolerated: nothing recorded, session open
    EXPECT_NE(Pop3Socket, SOCK_INVALID);

    EXPECT_EQ(Pop3_Command(5, &Pop3MessageBuffer, "TOP", "1 0", POP3_MULTI_LINE, 1, &text),
              ERR_OPERATION);
    EXPECT_EQ(ErrorText(), "no such message");
    EXPECT_EQ(Pop3Socket, SOCK_INVALID);

    // An unknown answer counts as a failure too.
    FakePeer again = Server({{"RETR 1", "* BAD what\r\n"}});
    Pop3_ResetCheckState();
    Connect(again);
    EXPECT_EQ(Pop3_Command(5, &Pop3MessageBuffer, "RETR", "1", POP3_SINGLE_LINE, 1, &text),
              ERR_OPERATION);
    EXPECT_EQ(ErrorText(), "UNKNOWN POP3 response");
}

// Each line of a listing may take the time-out from the end of the one
// before, so the whole may take longer (a trickled line may not: fast delete
// and the account check show that).
TEST_F(Pop3Test, ALineEveryTimeOutKeepsAListingGoing) {
    FakePeer peer([&](PeerConn& c) {
        c.Send("+OK hi\r\n");
        c.ReadLine();
        c.Send("+OK\r\n");
        for (const char* line : {"1 a\r\n", "2 b\r\n", ".\r\n"}) {
            std::this_thread::sleep_for(std::chrono::milliseconds(600));
            c.Send(line);
        }
        c.WaitClosed();
    });
    Connect(peer);
    Stopwatch sw;
    EXPECT_EQ(Pop3_Command(1, &Pop3SessionBuffer, "UIDL", nullptr, POP3_MULTI_LINE, 1, nullptr),
              0u);
    EXPECT_GT(sw.ElapsedMs(), 1500);
    EXPECT_EQ(Session(), "+OK\r\n1 a\r\n2 b\r\n.\r\n");
}

TEST_F(Pop3Test, CommandLinesThatWouldInjectOrOverflowAreNotSent) {
    FakePeer peer = Server({{"NOOP", "+OK\r\n"}}); // nothing before it
    Connect(peer);
    EXPECT_EQ(Pop3_SendCMD(Pop3Socket, "USER", "a\r\nDELE 1", 1, &Pop3SessionBuffer, 5),
              SOCKERR_INVAL);
    EXPECT_EQ(
        Pop3_SendCMD(Pop3Socket, "USER", std::string(237, 'u').c_str(), 1, &Pop3SessionBuffer, 5),
        SOCKERR_MSGSIZE);
    EXPECT_EQ(Pop3_SendCMD(Pop3Socket, "NOOP", nullptr, 1, &Pop3SessionBuffer, 5), 0u);
}

TEST_F(Pop3Test, CategoryLogMasksThePasswordAndCapsWhatItCopies) {
    const std::string log = iwtest::MakeTempDir("log") + "/pop3.log";
    ASSERT_EQ(Log_Open(log.c_str(), LOG_POP3), 0);
    const std::string big = "+OK\r\n" + std::string(10000, 'b') + "\r\n.\r\n";
    FakePeer peer =
        Server({{"USER alice", "+OK\r\n"}, {"PASS s3cr3t-pw", "+OK\r\n"}, {"RETR 1", big}});
    Connect(peer);
    for (const auto& [cmd, arg] : {std::pair{"USER", "alice"}, {"PASS", "s3cr3t-pw"}})
        ASSERT_EQ(Pop3_Command(5, &Pop3SessionBuffer, cmd, arg, 1, 1, nullptr), 0u);
    ASSERT_EQ(Pop3_Command(5, &Pop3MessageBuffer, "RETR", "1", POP3_MULTI_LINE, 1, nullptr), 0u);
    EXPECT_EQ(std::string(Pop3MessageBuffer.Data()), big);
    // A failed send logs the line again: it must be masked there too.
    Pop3_Quit(&Pop3Socket, 0);
    peer.Join();
    FakePeer gone([](PeerConn& c) { c.Send("+OK hi\r\n"); });
    Connect(gone);
    gone.Join();
    for (int i = 0; i < 3; ++i)
        Pop3_SendCMD(Pop3Socket, "pass", "s3cr3t-pw", 1, nullptr, 5);
    Log_Close();

    const std::string text = iwtest::ReadFile(log);
    EXPECT_EQ(text.find("s3cr3t-pw"), std::string::npos) << text;
    EXPECT_NE(text.find("POP3: SendCMD: \"PASS XXXXXXXX\"\n"), std::string::npos) << text;
    EXPECT_NE(text.find("POP3: SendCMD: \"USER alice\"\n"), std::string::npos) << text;
    // However the 10 kB answer arrived, no line holds more than the cap of it.
    size_t longest = 0, start = 0;
    for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
        longest = std::max(longest, nl - start);
    EXPECT_LT(longest, 320u);
}

// Whether the server committed its deletions is the account check's test
// (a refused or unanswered QUIT keeps the marks).
TEST_F(Pop3Test, PlainQuitDoesNotWaitForTheAnswer) {
    FakePeer peer([](PeerConn& c) {
        c.Send("+OK hi\r\n");
        EXPECT_EQ(c.ReadLine(), "QUIT\r\n");
        EXPECT_TRUE(c.WaitClosed(2000));
    });
    Connect(peer);
    Stopwatch sw;
    EXPECT_EQ(Pop3_Quit(&Pop3Socket, 1), 0u);
    EXPECT_LT(sw.ElapsedMs(), 500);
    EXPECT_EQ(Pop3Socket, SOCK_INVALID);
}

TEST_F(Pop3Test, ErrorTextIsCutOnACharacter) {
    // 94 ASCII bytes and a 2-byte character: the character does not fit.
    const std::string text = std::string(94, 'e') + "\xc3\xa9" + "tail";
    EXPECT_EQ(Pop3_SetError(text.c_str(), ERR_OPERATION), ERR_OPERATION);
    EXPECT_EQ(ErrorText(), std::string(94, 'e'));
    char small[6];
    EXPECT_EQ(Pop3_GetLastError(small, sizeof small), ERR_OPERATION);
    EXPECT_STREQ(small, "eeeee");
}

// ---------------------------------------------------------------- abort

// Calls Pop3_Abort(code) from another thread after 300 ms.
class AbortLater {
  public:
    explicit AbortLater(uint32_t code)
        : thread_([code] {
              std::this_thread::sleep_for(std::chrono::milliseconds(300));
              EXPECT_EQ(Pop3_Abort(code), 0u);
          }) {}
    ~AbortLater() { thread_.join(); }

  private:
    std::thread thread_;
};

// Waits in connect and the SOCKS handshake are the socket layer's test.
TEST_F(Pop3Test, CancelOrSkipEndsAReplyWithinASecond) {
    for (uint32_t code : {ERR_CANCELLED, ERR_SKIPPED}) {
        SCOPED_TRACE(code == ERR_CANCELLED ? "cancel" : "skip");
        ASSERT_EQ(Pop3_BeginCheck(), 0u);
        FakePeer slow([](PeerConn& c) {
            c.Send("+OK hi\r\n");
            c.ReadLine();
            c.Send("+OK\r\n");
            for (int i = 1; i <= 50; ++i) {
                if (!c.Send(std::to_string(i) + " uid" + std::to_string(i) + "\r\n")) return;
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
            c.Send(".\r\n");
        });
        Connect(slow);
        Stopwatch sw;
        uint32_t rc;
        {
            AbortLater abort(code);
            rc = Pop3_Command(60, &Pop3SessionBuffer, "UIDL", nullptr, POP3_MULTI_LINE, 1, nullptr);
        }
        EXPECT_LT(sw.ElapsedMs(), 1300);
        EXPECT_EQ(rc, code);
        EXPECT_EQ(ErrorText(), "Operation canceled");
        EXPECT_EQ(Pop3Socket, SOCK_INVALID);
        if (code == ERR_CANCELLED) {
            // A cancel stays until the next worker run...
            EXPECT_EQ(Pop3_BeginCheck(), ERR_CANCELLED);
            Pop3_ResetCheckState();
        }
        // ...a skip only until the next account, which then works.
        EXPECT_EQ(Pop3_BeginCheck(), 0u);
        EXPECT_EQ(CheckState.load(), 0u);
        FakePeer next = Server({{"STAT", "+OK 0 0\r\n"}});
        Connect(next);
        EXPECT_EQ(Pop3_Command(5, &Pop3SessionBuffer, "STAT", nullptr, 1, 1, nullptr), 0u);
    }
}

// A skip pressed after a cancel must not undo the cancel.
TEST_F(Pop3Test, AbortTakesOnlyCancelAndSkipAndSkipDoesNotReplaceACancel) {
    EXPECT_EQ(Pop3_Abort(ERR_OPERATION), ERR_OPERATION);
    EXPECT_EQ(Pop3_Abort(0), 0u);
    EXPECT_EQ(CheckState.load(), 0u);
    EXPECT_EQ(Pop3_Abort(ERR_CANCELLED), 0u);
    EXPECT_EQ(Pop3_Abort(ERR_SKIPPED), 0u);
    EXPECT_EQ(CheckState.load(), ERR_CANCELLED);
    // A new worker run starts clean.
    Pop3_ResetCheckState();
    EXPECT_EQ(CheckState.load(), 0u);
    EXPECT_EQ(Pop3_BeginCheck(), 0u);
}

} // namespace

namespace {

TEST(Pop3ParseCapa, FirstWordsOfTheListingIgnoringCaseUpToTheDot) {
    const struct {
        const char* listing;
        uint32_t caps;
    } cases[] = {
        {"+OK\r\nCAPA\r\nTOP\r\nUIDL\r\nSTLS\r\nPIPELINING\r\nUSER\r\n.\r\n",
         POP3_CAPA_TOP | POP3_CAPA_UIDL | POP3_CAPA_STLS | POP3_CAPA_PIPELINING | POP3_CAPA_USER},
        {"+OK Capability list follows\r\nstls\r\nSASL PLAIN\r\n.\r\n", POP3_CAPA_STLS},
        // A word inside another line, or after the end, is no capability.
        {"+OK\r\nX-STLS\r\nIMPLEMENTATION STLS TOP\r\n.\r\nSTLS\r\n", 0},
        {"+OK STLS TOP\r\n.\r\n", 0},
        {"+OK\nUIDL\n.\n", POP3_CAPA_UIDL},
        {"+OK\r\nSTLSX\r\nTOP \r\n", POP3_CAPA_TOP},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Pop3_ParseCapa(c.listing), c.caps) << c.listing;
}

// Required STLS ends before any credential, and never takes text that came
// before TLS as the server's answer. Plain "CAPA without STLS" is the real
// server's test.
TEST(Pop3ConnectSecure, RequiredStlsNeverFallsBackAndRefusesInjectedAnswers) {
    const struct {
        const char* what;
        std::vector<std::pair<std::string, std::string>> dialogue;
        uint32_t rc;
    } cases[] = {
        {"no CAPA, STLS refused",
         {{"CAPA", "-ERR what?\r\n"}, {"STLS", "-ERR not here\r\n"}},
         POP3_STLS_UNAVAILABLE},
        {"an answer injected behind +OK",
         {{"CAPA", "+OK\r\nSTLS\r\n.\r\n"}, {"STLS", "+OK go\r\n+OK logged in\r\n"}},
         POP3_STLS_UNAVAILABLE},
        {"+OK and then plain text instead of TLS",
         {{"CAPA", "-ERR\r\n"}, {"STLS", "+OK go\r\n"}, {"", "+OK no TLS after all\r\n"}},
         SOCKERR_TLS},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakePeer peer([&c](PeerConn& conn) {
            conn.Send("+OK ready <1.2@host>\r\n");
            for (const auto& [expect, answer] : c.dialogue) {
                if (expect.empty())
                    conn.Read(5); // the ClientHello's record header
                else
                    EXPECT_EQ(conn.ReadLine(), expect + "\r\n");
                conn.Send(answer);
            }
            // Whatever comes now must not be a login in clear.
            const std::string rest = conn.Read(64);
            EXPECT_EQ(rest.find("USER"), std::string::npos) << rest;
            EXPECT_EQ(rest.find("APOP"), std::string::npos) << rest;
            conn.WaitClosed();
        });
        int sock = SOCK_INVALID;
        GrowBuffer buf;
        std::string text;
        EXPECT_EQ(Pop3_ConnectSecure(&sock, "127.0.0.1", peer.port(), 3, nullptr, 0,
                                     {POP3_SECURITY_STLS, SOCK_TLS_VERIFY, {}}, &buf, nullptr,
                                     nullptr, &text),
                  c.rc);
        EXPECT_EQ(sock, SOCK_INVALID);
        EXPECT_FALSE(text.empty());
    }
    // An unknown choice is refused before connecting, never taken as "none".
    int sock = SOCK_INVALID;
    GrowBuffer buf;
    std::string text;
    EXPECT_EQ(Pop3_ConnectSecure(&sock, "127.0.0.1", 1, 3, nullptr, 0, {5, SOCK_TLS_VERIFY, {}},
                                 &buf, nullptr, nullptr, &text),
              SOCKERR_INVAL);
    EXPECT_EQ(text, "Unknown connection security setting");
}

} // namespace
