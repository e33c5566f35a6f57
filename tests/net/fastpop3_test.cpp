// SPDX-License-Identifier: GPL-3.0-or-later
// Fast delete against a scripted server: what a real one will not produce
// (ids inside other ids, a refused DELE, an unconfirmed QUIT, a stall).
#include "../support/fake_peer.h"
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

using Dialogue = std::vector<std::pair<std::string, std::string>>;
// An older server: it knows no CAPA, so it gets the dialogue one command at a time.
const std::pair<std::string, std::string> kCapa{"CAPA", "-ERR unknown command\r\n"};
const std::pair<std::string, std::string> kUser{"USER joe", "+OK\r\n"};
const std::pair<std::string, std::string> kPass{"PASS pw", "+OK logged in\r\n"};

// Greets, then answers each expected line with its answer; records every
// line the client sent, including any it should not have.
FakePeer Server(Dialogue dialogue, std::vector<std::string>* sent,
                std::string greeting = "+OK ready <1.2@host>\r\n") {
    return FakePeer([=](PeerConn& c) {
        c.Send(greeting);
        for (const auto& [expect, answer] : dialogue) {
            const std::string line = c.ReadLine();
            sent->push_back(line);
            EXPECT_EQ(line, expect + "\r\n");
            if (line.empty()) return;
            c.Send(answer);
        }
        const std::string extra = c.ReadLine();
        if (!extra.empty()) sent->push_back(extra);
        c.WaitClosed();
    });
}

// One session that logs in and then follows the dialogue.
uint32_t Delete(Dialogue dialogue, const std::vector<std::string>& ids, FASTPOP3_RESULT* r) {
    dialogue.insert(dialogue.begin(), {kCapa, kUser, kPass});
    std::vector<std::string> sent;
    FakePeer peer = Server(dialogue, &sent);
    const uint32_t rc = FastPOP3_Delete(Account(peer.port()), ids, r);
    peer.Join();
    EXPECT_EQ(sent.size(), dialogue.size()) << "an unexpected command";
    return rc;
}

// Malformed lines and ids asked twice are left to the listing fuzz target.
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
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Dialogue d{{"UIDL", "+OK listing follows.\r\n" + c.listing + ".\r\n"}};
        for (const std::string& n : c.dele)
            d.push_back({"DELE " + n, "+OK marked\r\n"});
        d.push_back({"QUIT", "+OK bye\r\n"});
        FASTPOP3_RESULT r;
        EXPECT_EQ(Delete(d, c.ids, &r), 0u) << r.errorText;
        EXPECT_EQ(r.deleted, c.deleted);
        const auto boxes = FastPOP3_Boxes(Account(0), r);
        if (c.deleted.empty())
            EXPECT_EQ(boxes.at(0).text, "Message is already gone.");
        else
            EXPECT_TRUE(boxes.empty());
    }
}

TEST(FastPop3, RefusedDeleKeepsThatIdAndUnconfirmedQuitReportsNothing) {
    FASTPOP3_RESULT r;
    EXPECT_EQ(Delete({{"UIDL", "+OK\r\n1 a\r\n2 b\r\n.\r\n"},
                      {"DELE 1", "-ERR message locked\r\n"},
                      {"DELE 2", "+OK\r\n"},
                      {"QUIT", "+OK\r\n"}},
                     {"a", "b"}, &r),
              0u);
    EXPECT_EQ(r.deleted, std::vector<std::string>{"b"});
    ASSERT_EQ(r.refused.size(), 1u);
    EXPECT_EQ(r.refused[0].id, "a");
    auto boxes = FastPOP3_Boxes(Account(0), r);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, "Bad DELE command \r\nResponse: message locked\n");
    EXPECT_EQ(boxes[1].text, "Failed to delete message - \r\n\r\nMsg Num: 1\r\n");

    // The server kept its maildrop: nothing may be reported gone.
    r = {};
    EXPECT_EQ(Delete({{"UIDL", "+OK\r\n1 a\r\n.\r\n"},
                      {"DELE 1", "+OK\r\n"},
                      {"QUIT", "-ERR some deleted messages not removed\r\n"}},
                     {"a"}, &r),
              ERR_OPERATION);
    EXPECT_TRUE(r.deleted.empty());
    EXPECT_EQ(r.stage, FastPop3Stage::Quit);
    EXPECT_EQ(FastPOP3_Boxes(Account(0), r).at(0).text,
              "Bad QUIT command \r\nResponse: some deleted messages not removed\n");
}

TEST(FastPop3, FailuresBeforeDeletingSendNoDele) {
    const struct {
        const char* greeting;
        Dialogue dialogue;
        FastPop3Stage stage;
        const char* title;
    } cases[] = {
        {"+OK\r\n",
         {kCapa, kUser, kPass, {"UIDL", "-ERR no\r\n"}},
         FastPop3Stage::Listing,
         "UIDL Error"},
        // The server closes after a listing cut short, as a dropped line would.
        {"+OK\r\n",
         {kCapa, kUser, kPass, {"UIDL", "+OK\r\n1 a\r\n2 b"}},
         FastPop3Stage::Listing,
         "RecvData Error"},
        {"-ERR go away\r\n", {}, FastPop3Stage::Connect, "FastPOP3 Error"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        std::vector<std::string> sent;
        FakePeer peer([&](PeerConn& conn) {
            conn.Send(c.greeting);
            for (const auto& [expect, answer] : c.dialogue) {
                sent.push_back(conn.ReadLine());
                if (sent.back().empty()) return;
                conn.Send(answer);
            }
        });
        FASTPOP3_SESSION acc = Account(peer.port());
        acc.timeoutSec = 2;
        FASTPOP3_RESULT r;
        EXPECT_NE(FastPOP3_Delete(acc, {"a"}, &r), 0u);
        peer.Join();
        EXPECT_EQ(r.stage, c.stage);
        EXPECT_TRUE(r.deleted.empty());
        for (const std::string& line : sent)
            EXPECT_NE(line.rfind("DELE", 0), 0u) << line;
        const auto boxes = FastPOP3_Boxes(acc, r);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].title, c.title);
    }

    FASTPOP3_SESSION acc = Account(iwtest::ClosedPort());
    FASTPOP3_RESULT r;
    EXPECT_EQ(FastPOP3_Delete(acc, {"a"}, &r), ERR_OPERATION);
    EXPECT_EQ(FastPOP3_Boxes(acc, r).at(0).text, "connect to server: Connection refused (10061)");
}

TEST(FastPop3, StallTimesOutAndCancelEndsTheSessionAtOnce) {
    // The server lists, then never answers DELE.
    auto stalling = [](PeerConn& c) {
        c.Send("+OK ready\r\n");
        for (const char* answer : {"-ERR\r\n", "+OK\r\n", "+OK\r\n", "+OK\r\n1 a\r\n.\r\n"}) {
            c.ReadLine();
            c.Send(answer);
        }
        c.ReadLine();
        c.WaitClosed();
    };
    // Or it trickles the listing a byte at a time, never quite silent.
    auto trickling = [](PeerConn& c) {
        c.Send("+OK ready\r\n");
        for (const char* answer : {"-ERR\r\n", "+OK\r\n", "+OK\r\n"}) {
            c.ReadLine();
            c.Send(answer);
        }
        c.ReadLine();
        c.Trickle("+OK\r\n1 a\r\n.\r\n", 300);
    };
    for (const auto& [script, stage] :
         {std::pair{FakePeer::Script(stalling), FastPop3Stage::Delete},
          {FakePeer::Script(trickling), FastPop3Stage::Listing}}) {
        FakePeer peer(script);
        FASTPOP3_SESSION acc = Account(peer.port());
        acc.timeoutSec = 1;
        FASTPOP3_RESULT r;
        Stopwatch sw;
        EXPECT_EQ(FastPOP3_Delete(acc, {"a"}, &r), ERR_TIMEOUT);
        EXPECT_LT(sw.ElapsedMs(), 3000);
        EXPECT_EQ(r.stage, stage);
        EXPECT_TRUE(r.deleted.empty());
    }
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
    EXPECT_TRUE(FastPOP3_Boxes(Account(0), r).empty()) << "the user asked for it";
}

// A server listing PIPELINING gets the DELEs together, in listing order, and
// they count only once QUIT is confirmed: one that hangs up inside the
// window has deleted nothing.
TEST(FastPop3, DelesGoOutTogetherWherePipeliningIsListed) {
    const Dialogue dialogue = {{"CAPA", "+OK\r\nUIDL\r\nPIPELINING\r\n.\r\n"},
                               kUser,
                               kPass,
                               {"UIDL", "+OK\r\n1 a\r\n2 b\r\n3 c\r\n4 d\r\n.\r\n"},
                               {"DELE 1", "+OK\r\n"},
                               {"DELE 2", "-ERR locked\r\n"},
                               {"DELE 4", "+OK\r\n"},
                               {"QUIT", "+OK\r\n"}};
    for (const bool cut : {false, true}) {
        SCOPED_TRACE(cut ? "hangs up inside the window" : "whole session");
        std::vector<std::string> sent;
        int early = 0;
        FakePeer peer([&](PeerConn& c) {
            c.Send("+OK ready\r\n");
            for (const auto& [expect, answer] : dialogue) {
                const std::string line = c.ReadLine();
                if (line.empty()) return;
                sent.push_back(line.substr(0, line.size() - 2));
                if (c.Buffered() > 0) ++early;
                if (cut && expect == "DELE 2") return;
                c.Send(answer);
            }
            c.WaitClosed();
        });
        FASTPOP3_RESULT r;
        const uint32_t rc = FastPOP3_Delete(Account(peer.port()), {"a", "b", "d"}, &r);
        peer.Join();
        if (cut) {
            EXPECT_EQ(rc, ERR_OPERATION);
            EXPECT_EQ(r.stage, FastPop3Stage::Delete);
            EXPECT_TRUE(r.deleted.empty());
            continue;
        }
        ASSERT_EQ(rc, 0u) << r.errorText;
        EXPECT_EQ(r.deleted, (std::vector<std::string>{"a", "d"}));
        ASSERT_EQ(r.refused.size(), 1u);
        EXPECT_EQ(r.refused[0].number, "2");
        EXPECT_GT(early, 0);
        std::vector<std::string> expected;
        for (const auto& d : dialogue)
            expected.push_back(d.first);
        EXPECT_EQ(sent, expected);
    }
}

TEST(FastPop3, LeavesTheCheckSessionAlone) {
    // A fast delete must not disturb a check that runs at the same time.
    Pop3_ResetCheckState();
    Pop3_Abort(ERR_CANCELLED); // the check's abort does not reach this session
    FASTPOP3_RESULT r;
    EXPECT_EQ(Delete({{"UIDL", "+OK\r\n.\r\n"}, {"QUIT", "+OK\r\n"}}, {"a"}, &r), 0u);
    EXPECT_EQ(CheckState.load(), ERR_CANCELLED);
    EXPECT_EQ(Pop3Socket, SOCK_INVALID);
    Pop3_ResetCheckState();
}

} // namespace
