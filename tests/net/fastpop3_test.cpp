// Fast delete against a scripted server: what a real one will not produce
// (ids inside other ids, a refused DELE, an unconfirmed QUIT, a stall).
#include "fake_peer.h"
#include "net/fastpop3.h"

#include "common/status.h"
#include "net/pop3.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

using iwtest::FakePeer;
using iwtest::PeerConn;
using iwtest::Stopwatch;

FASTPOP3_SESSION Account(uint16_t port) {
    FASTPOP3_SESSION s;
    s.server = "127.0.0.1";
    s.port = port;
    s.login = "joe";
    s.password = "pw";
    s.timeoutSec = 5;
    return s;
}

// Greets, then answers each expected line with its answer; records every
// line the client sent.
struct Script {
    std::vector<std::pair<std::string, std::string>> dialogue;
    std::string greeting = "+OK ready <1.2@host>\r\n";
};

FakePeer Server(Script script, std::vector<std::string>* sent) {
    return FakePeer([script = std::move(script), sent](PeerConn& c) {
        c.Send(script.greeting);
        for (const auto& [expect, answer] : script.dialogue) {
            const std::string line = c.ReadLine();
            sent->push_back(line);
            EXPECT_EQ(line, expect + "\r\n");
            if (line.empty()) return;
            c.Send(answer);
        }
        // Anything more the client sends is a fault of the test's making.
        const std::string extra = c.ReadLine();
        if (!extra.empty()) sent->push_back(extra);
        c.WaitClosed();
    });
}

const std::pair<std::string, std::string> kUser{"USER joe", "+OK\r\n"};
const std::pair<std::string, std::string> kPass{"PASS pw", "+OK logged in\r\n"};

TEST(FastPop3, DeletesOnlyLinesWhoseIdIsEqualAndReportsConfirmedIds) {
    const struct {
        const char* name;
        std::vector<std::string> ids;
        std::string listing;
        std::vector<std::string> dele; // numbers the client must delete
        std::vector<std::string> deleted;
    } cases[] = {
        // A plain substring search would have deleted message 1.
        {"numeric id inside a longer one", {"12"}, "1 112\r\n2 12\r\n", {"2"}, {"12"}},
        {"id equal to a message number", {"2"}, "1 2x\r\n2 abc\r\n", {}, {}},
        {"case counts", {"abc"}, "1 ABC\r\n2 abc\r\n", {"2"}, {"abc"}},
        // A status text or id ending in "." does not end the listing.
        {"ids ending in a dot", {"z"}, "1 a.\r\n2 .b.\r\n3 z\r\n", {"3"}, {"z"}},
        {"several, in listing order", {"c", "a"}, "1 a\r\n2 b\r\n3 c\r\n", {"1", "3"}, {"a", "c"}},
        {"malformed lines are skipped", {"x"}, "junk\r\n1\r\nA x\r\n4 x\r\n", {"4"}, {"x"}},
        {"an id named twice is deleted once", {"q", "q"}, "7 q\r\n", {"7"}, {"q"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Script script;
        script.dialogue = {
            kUser, kPass, {"UIDL", "+OK listing follows.\r\n" + c.listing + ".\r\n"}};
        for (const std::string& n : c.dele)
            script.dialogue.push_back({"DELE " + n, "+OK marked\r\n"});
        script.dialogue.push_back({"QUIT", "+OK bye\r\n"});
        std::vector<std::string> sent;
        FakePeer peer = Server(script, &sent);
        FASTPOP3_RESULT r;
        EXPECT_EQ(FastPOP3_Delete(Account(peer.port()), c.ids, &r), 0u) << r.errorText;
        peer.Join();
        EXPECT_EQ(r.deleted, c.deleted);
        EXPECT_EQ(sent.size(), script.dialogue.size());
        if (c.deleted.empty()) {
            ASSERT_EQ(FastPOP3_Boxes(Account(0), r).size(), 1u);
            EXPECT_EQ(FastPOP3_Boxes(Account(0), r)[0].text, "Message is already gone.");
        } else {
            EXPECT_TRUE(FastPOP3_Boxes(Account(0), r).empty());
        }
    }
}

TEST(FastPop3, RefusedDeleKeepsThatIdAndUnconfirmedQuitReportsNothing) {
    {
        Script script;
        script.dialogue = {kUser,
                           kPass,
                           {"UIDL", "+OK\r\n1 a\r\n2 b\r\n.\r\n"},
                           {"DELE 1", "-ERR message locked\r\n"},
                           {"DELE 2", "+OK\r\n"},
                           {"QUIT", "+OK\r\n"}};
        std::vector<std::string> sent;
        FakePeer peer = Server(script, &sent);
        FASTPOP3_RESULT r;
        EXPECT_EQ(FastPOP3_Delete(Account(peer.port()), {"a", "b"}, &r), 0u);
        EXPECT_EQ(r.deleted, std::vector<std::string>{"b"});
        ASSERT_EQ(r.refused.size(), 1u);
        EXPECT_EQ(r.refused[0].id, "a");
        const auto boxes = FastPOP3_Boxes(Account(0), r);
        ASSERT_EQ(boxes.size(), 2u);
        EXPECT_EQ(boxes[0].title, "SendCmd Error");
        EXPECT_EQ(boxes[0].text, "Bad DELE command \r\nResponse: message locked\n");
        EXPECT_EQ(boxes[1].title, "Fast Delete Failed");
        EXPECT_EQ(boxes[1].text, "Failed to delete message - \r\n\r\nMsg Num: 1\r\n");
    }
    {
        // The server kept its maildrop: nothing may be reported gone.
        Script script;
        script.dialogue = {kUser,
                           kPass,
                           {"UIDL", "+OK\r\n1 a\r\n.\r\n"},
                           {"DELE 1", "+OK\r\n"},
                           {"QUIT", "-ERR some deleted messages not removed\r\n"}};
        std::vector<std::string> sent;
        FakePeer peer = Server(script, &sent);
        FASTPOP3_RESULT r;
        EXPECT_EQ(FastPOP3_Delete(Account(peer.port()), {"a"}, &r), ERR_OPERATION);
        EXPECT_TRUE(r.deleted.empty());
        EXPECT_EQ(r.stage, FastPop3Stage::Quit);
        EXPECT_EQ(FastPOP3_Boxes(Account(0), r).at(0).text,
                  "Bad QUIT command \r\nResponse: some deleted messages not removed\n");
    }
}

TEST(FastPop3, FailuresBeforeDeletingSendNoDele) {
    const struct {
        const char* name;
        Script script;
        std::vector<std::string> ids;
        FastPop3Stage stage;
        const char* title;
    } cases[] = {
        {"UIDL refused",
         {{kUser, kPass, {"UIDL", "-ERR not supported\r\n"}}},
         {"a"},
         FastPop3Stage::Listing,
         "UIDL Error"},
        {"listing cut short",
         {{kUser, kPass, {"UIDL", "+OK\r\n1 a\r\n2 b"}}},
         {"a"},
         FastPop3Stage::Listing,
         "RecvData Error"},
        {"password refused",
         {{kUser, {"PASS pw", "-ERR [AUTH] wrong\r\n"}}},
         {"a"},
         FastPop3Stage::Login,
         "SendCmd Error"},
        {"greeting refused",
         {{}, "-ERR go away\r\n"},
         {"a"},
         FastPop3Stage::Connect,
         "FastPOP3 Error"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> sent;
        FakePeer peer = FakePeer([&](PeerConn& conn) {
            conn.Send(c.script.greeting);
            for (const auto& [expect, answer] : c.script.dialogue) {
                const std::string line = conn.ReadLine();
                sent.push_back(line);
                if (line.empty()) return;
                conn.Send(answer);
            }
            // A listing cut short then closes, as a dropped line would.
        });
        FASTPOP3_SESSION acc = Account(peer.port());
        acc.timeoutSec = 2;
        FASTPOP3_RESULT r;
        EXPECT_NE(FastPOP3_Delete(acc, c.ids, &r), 0u);
        peer.Join();
        EXPECT_EQ(r.stage, c.stage);
        EXPECT_TRUE(r.deleted.empty());
        for (const std::string& line : sent)
            EXPECT_NE(line.rfind("DELE", 0), 0u) << line;
        const auto boxes = FastPOP3_Boxes(acc, r);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].title, c.title);
    }
}

TEST(FastPop3, UnreachableServerIsToldWithTheSocketsWords) {
    FASTPOP3_SESSION acc = Account(iwtest::ClosedPort());
    FASTPOP3_RESULT r;
    EXPECT_EQ(FastPOP3_Delete(acc, {"a"}, &r), ERR_OPERATION);
    EXPECT_EQ(r.stage, FastPop3Stage::Connect);
    const auto boxes = FastPOP3_Boxes(acc, r);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].title, "FastPOP3 Error");
    EXPECT_EQ(boxes[0].text, "connect to server: Connection refused (10061)");
}

TEST(FastPop3, ApopAccountIsNeverSentItsPasswordInClear) {
    // A greeting without a timestamp (or a '<' without '>') refuses APOP.
    for (const char* greeting : {"+OK ready\r\n", "+OK ready <1.2@host\r\n"}) {
        SCOPED_TRACE(greeting);
        Script script;
        script.greeting = greeting;
        std::vector<std::string> sent;
        FakePeer peer = Server(script, &sent);
        FASTPOP3_SESSION acc = Account(peer.port());
        acc.authType = 1;
        FASTPOP3_RESULT r;
        EXPECT_EQ(FastPOP3_Delete(acc, {"a"}, &r), ERR_OPERATION);
        peer.Join();
        EXPECT_TRUE(sent.empty()) << sent[0];
        EXPECT_EQ(r.errorText, "APOP authorization is not supported by the server");
    }
}

TEST(FastPop3, StallTimesOutAndCancelEndsTheSessionAtOnce) {
    // The server lists, then never answers DELE.
    auto stalling = [](PeerConn& c) {
        c.Send("+OK ready\r\n");
        for (const char* answer : {"+OK\r\n", "+OK\r\n", "+OK\r\n1 a\r\n.\r\n"}) {
            c.ReadLine();
            c.Send(answer);
        }
        c.ReadLine();
        c.WaitClosed();
    };
    {
        FakePeer peer(stalling);
        FASTPOP3_SESSION acc = Account(peer.port());
        acc.timeoutSec = 1;
        FASTPOP3_RESULT r;
        Stopwatch sw;
        EXPECT_EQ(FastPOP3_Delete(acc, {"a"}, &r), ERR_TIMEOUT);
        EXPECT_LT(sw.ElapsedMs(), 4000);
        EXPECT_EQ(r.stage, FastPop3Stage::Delete);
        EXPECT_TRUE(r.deleted.empty());
    }
    {
        FakePeer peer(stalling);
        SockAbort abort;
        FASTPOP3_RESULT r;
        std::thread canceller([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            abort.Trigger();
        });
        Stopwatch sw;
        EXPECT_EQ(FastPOP3_Delete(Account(peer.port()), {"a"}, &r, &abort), ERR_CANCELLED);
        canceller.join();
        EXPECT_LT(sw.ElapsedMs(), 2000);
        EXPECT_TRUE(r.deleted.empty());
        EXPECT_TRUE(FastPOP3_Boxes(Account(0), r).empty());
    }
}

TEST(FastPop3, LeavesTheCheckSessionAlone) {
    // A fast delete must not disturb a check that runs at the same time.
    Pop3_ResetCheckState();
    std::vector<std::string> sent;
    Script script;
    script.dialogue = {kUser, kPass, {"UIDL", "+OK\r\n.\r\n"}, {"QUIT", "+OK\r\n"}};
    FakePeer peer = Server(script, &sent);
    Pop3_Abort(ERR_CANCELLED); // the check's abort does not reach this session
    FASTPOP3_RESULT r;
    EXPECT_EQ(FastPOP3_Delete(Account(peer.port()), {"a"}, &r), 0u);
    EXPECT_EQ(CheckState.load(), ERR_CANCELLED);
    EXPECT_EQ(Pop3Socket, SOCK_INVALID);
    Pop3_ResetCheckState();
}

} // namespace
