// SPDX-License-Identifier: GPL-3.0-or-later
// The account check against a scripted server, for what a real server will
// not do: no UIDL, no TOP, -ERR at each step, broken listings, stalls,
// disconnects, unconfirmed QUIT.
#include "../support/fake_pop3.h"
#include "../support/temp_env.h"
#include "check_harness.h"
#include "common/status.h"
#include "message/filter.h"
#include "settings/msgbox_reg.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <thread>

namespace {

using iwtest::BoxIds;
using iwtest::Find;
using iwtest::RunCheck;

using iwtest::FakeMsg;
using iwtest::FakeServer;

class FakeCheck : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(RegStore_Open(iwtest::MakeTempDir("acc") + "/registry.db"), REGSTORE_OK);
        Reg_SetMsgRootKey(nullptr);
        iwtest::UseServer(acc_, "Fake", 0, "user", "pw", 5);
        Pop3Acc_SetHooks({});
    }
    void TearDown() override {
        MsgBox_Destroy(&acc_.hMsgBox);
        Pop3Acc_SetHooks({});
    }
    // One check against the server; the peer serves one connection.
    iwtest::CheckOutcome check(FakeServer& s, uint32_t flags = CHECK_TIMED,
                               const CHECK_SETTINGS& settings = {}) {
        iwtest::FakePeer peer([&](iwtest::PeerConn& c) { s.Serve(c); });
        acc_.ChkPort = peer.port();
        auto out = RunCheck(acc_, flags, settings);
        peer.Join();
        return out;
    }
    ACCOUNT acc_;
};

TEST_F(FakeCheck, WithoutUidlMessageIdsAreTheIds) {
    FakeServer s;
    s.uidl = false;
    iwtest::FakeMessage a = FakeMsg(1), b = FakeMsg(2), c = FakeMsg(3);
    b.header = "Subject: no id one\r\n";
    c.header = "Subject: no id two\r\n";
    s.msgs = {a, b, c};
    auto out = check(s);
    ASSERT_EQ(out.rc, 0u) << out.error;
    // Two messages without Message-ID share the id " ": the second is not listed.
    EXPECT_EQ(BoxIds(acc_), (std::vector<std::string>{"<m1@example.invalid>", " "}));

    // Marked for deletion, the shared id is never deleted: it could be the wrong message.
    MsgBox_SetStatus(acc_.hMsgBox, Find(acc_, " "), -1, MSG_TO_DELETE, &acc_);
    std::vector<std::string> seen;
    s.seen = &seen;
    out = check(s);
    ASSERT_EQ(out.rc, 0u) << out.error;
    for (const auto& cmd : seen)
        EXPECT_NE(cmd.rfind("DELE", 0), 0u) << cmd;
    EXPECT_NE(std::string(acc_.StatusText).find("not deleted"), std::string::npos);
}

// Ids that differ only in case, are not UTF-8 or hold a CR, a quote or a
// backslash stay exact in the box (msgbox_test), the store (registry_test),
// the profile (profile_test) and fast delete (fastpop3_test); the command
// line names them by their bytes (cli settings_test).

TEST_F(FakeCheck, AServerWithoutTopStillListsItsNewMail) {
    FakeServer s;
    s.top = false;
    s.msgs = {FakeMsg(1), FakeMsg(2)};
    auto out = check(s);
    ASSERT_EQ(out.rc, 0u) << out.error;
    EXPECT_EQ(BoxIds(acc_), (std::vector<std::string>{"u1", "u2"}));
    EXPECT_STREQ(Find(acc_, "u2")->Subject(), "Message 2");
}

TEST_F(FakeCheck, ErrAtEachStepFailsWithTheServersWords) {
    for (const char* step : {"greeting", "USER", "PASS", "STAT", "UIDL+LIST"}) {
        SCOPED_TRACE(step);
        FakeServer s;
        s.msgs = {FakeMsg(1)};
        const std::string why = std::string("-ERR no ") + step + "\r\n";
        if (std::string(step) == "greeting")
            s.greeting = why;
        else if (std::string(step) == "UIDL+LIST")
            s.errOn = {{"UIDL", why}, {"LIST", why}};
        else
            s.errOn[step] = why;
        auto out = check(s);
        EXPECT_EQ(out.rc, ERR_OPERATION);
        EXPECT_EQ(out.error, std::string("no ") + step);
    }
    // APOP refused has its own words; a greeting without a timestamp refuses
    // APOP instead of sending the password in clear.
    acc_.ChkAuthType = 1;
    FakeServer s;
    s.errOn["APOP"] = "-ERR nope\r\n";
    EXPECT_EQ(check(s).error,
              "Login using APOP failed. Either password is wrong or server doesn't support APOP");
    FakeServer noStamp;
    noStamp.greeting = "+OK ready <unclosed\r\n";
    std::vector<std::string> seen;
    noStamp.seen = &seen;
    EXPECT_EQ(check(noStamp).error, "APOP authorization is not supported by the server");
    for (const auto& cmd : seen)
        EXPECT_NE(cmd.rfind("PASS", 0), 0u);
}

// Only a "+OK" answer is a message: a refusal and a vanished message each
// have their own result and words, and both sessions still end with QUIT.
TEST_F(FakeCheck, FetchOneTellsARefusalFromAVanishedMessage) {
    for (const char* cmd : {"RETR", "TOP"}) {
        SCOPED_TRACE(cmd);
        FakeServer s;
        s.msgs = {FakeMsg(1)};
        s.errOn[cmd] = "-ERR message locked\r\n";
        std::vector<std::string> seen;
        s.seen = &seen;
        iwtest::FakePeer peer([&](iwtest::PeerConn& c) { s.Serve(c); });
        acc_.ChkPort = peer.port();
        GrowBuffer result;
        const uint32_t flags = CHECK_FETCH_ONE | CHECK_FETCH_NO_SAVE |
                               (std::string(cmd) == "TOP" ? CHECK_FETCH_TOP : 0);
        EXPECT_EQ(iwtest::FetchOne(acc_, s.msgs[0].uidl, &result, flags), ERR_REFUSED);
        peer.Join();
        char why[96];
        Pop3_GetLastError(why, sizeof why);
        EXPECT_STREQ(why, "message locked");
        EXPECT_EQ(seen.back(), "QUIT");
    }
    FakeServer s;
    s.msgs = {FakeMsg(1)};
    std::vector<std::string> seen;
    s.seen = &seen;
    iwtest::FakePeer peer([&](iwtest::PeerConn& c) { s.Serve(c); });
    acc_.ChkPort = peer.port();
    GrowBuffer result;
    EXPECT_EQ(iwtest::FetchOne(acc_, "gone-id", &result), ERR_NOT_FOUND);
    peer.Join();
    EXPECT_EQ(seen.back(), "QUIT");
}

TEST_F(FakeCheck, ListingLinesAndSizesKeepTheirRules) {
    FakeServer s;
    s.msgs = {FakeMsg(1), FakeMsg(2), FakeMsg(3), FakeMsg(4)};
    // An id is cut to 128 bytes on a character boundary and keeps its
    // spaces; a line may end in a bare LF or carry no id at all.
    const std::string longId = std::string(127, 'a') + "\xC3\xA9" + "zz";
    s.listing = "1 " + longId + "\r\n2 two words\n3\r\n4 u4\r\n.\r\n";
    // The first line of a number gives its size; digits end at the first
    // other character; "04" is not 4, whose size is then asked alone.
    s.sizeListing =
        "2 200\r\n1 100 octets\r\n2 999\r\n04 400\r\n3  7\r\n123456789012345678901 5\r\n.\r\n";
    std::vector<std::string> seen;
    s.seen = &seen;
    auto out = check(s);
    ASSERT_EQ(out.rc, 0u) << out.error;
    EXPECT_EQ(BoxIds(acc_),
              (std::vector<std::string>{std::string(127, 'a'), "two words", "", "u4"}));
    EXPECT_EQ(Find(acc_, std::string(127, 'a'))->Size, 100);
    EXPECT_EQ(Find(acc_, "two words")->Size, 200);
    EXPECT_EQ(Find(acc_, "")->Size, 0);
    EXPECT_STREQ(Find(acc_, "")->SizeText(), "");
    EXPECT_EQ(Find(acc_, "u4")->Size, static_cast<int32_t>(s.full(s.msgs[3]).size()));
    EXPECT_EQ(std::count(seen.begin(), seen.end(), "LIST 4"), 1);

    // Numbers are matched as text, even where the listing does not count
    // 1, 2, 3...
    MsgBox_Destroy(&acc_.hMsgBox);
    s.listing = "2 b\r\n01 a\r\n2 c\r\n.\r\n";
    s.sizeListing = "1 100\r\n2 200\r\n01 150\r\n.\r\n";
    s.msgs.pop_back();
    ASSERT_EQ(check(s).rc, 0u);
    EXPECT_EQ(BoxIds(acc_), (std::vector<std::string>{"b", "a", "c"}));
    EXPECT_EQ(Find(acc_, "a")->Size, 150);
    EXPECT_EQ(Find(acc_, "c")->Size, 200);

    // Without UIDL the LIST listing gives the sizes, its first line of a
    // number winning. Lines past the count of STAT, or one not starting
    // with a digit, end it early: the records it did not reach stay.
    const std::string lastStat = acc_.LastSTAT;
    s.uidl = false;
    s.sizeListing.clear();
    s.listing = "1 100\r\n2 0\r\n1 300\r\n3 50\r\n.\r\n";
    out = check(s);
    EXPECT_EQ(out.error, "Message list incomplete");
    EXPECT_EQ(BoxIds(acc_), (std::vector<std::string>{"b", "a", "c", "<m1@example.invalid>",
                                                      "<m2@example.invalid>"}));
    EXPECT_EQ(Find(acc_, "<m1@example.invalid>")->Size, 100);
    EXPECT_STREQ(Find(acc_, "<m2@example.invalid>")->SizeText(), "0");
    s.listing = "1 100\r\n#garbage\r\n3 50\r\n.\r\n";
    EXPECT_EQ(check(s).error, "Message list incomplete");
    EXPECT_EQ(BoxIds(acc_).size(), 5u);
    EXPECT_EQ(acc_.LastSTAT, lastStat);
}

TEST_F(FakeCheck, AHangUpAfterAHugeListingLosesNothing) {
    // The box of earlier checks: the first ids of the listing, one of them
    // marked for deletion, and one the listing never reaches.
    constexpr int kListed = 100000, kKnown = 300;
    for (int i = 1; i <= kKnown + 1; ++i) {
        MSG_RECORD r = MsgRecord_Empty();
        r.SetText(MSGF_ID, i > kKnown ? "unlisted" : "id-" + std::to_string(i));
        r.Status = i == 7 ? MSG_TO_DELETE : MSG_OLD;
        ASSERT_EQ(MsgBox_AddMsg(&acc_.hMsgBox, &r, &acc_, 1), 0u);
    }
    std::strcpy(acc_.LastSTAT, "+OK 1 1\r\n");
    std::string uidl, sizes;
    for (int i = 1; i <= kListed; ++i) {
        uidl += std::to_string(i) + " id-" + std::to_string(i) + "\r\n";
        sizes += std::to_string(i) + " 1000\r\n";
    }
    // Cut inside the listing, after it (at the whole-maildrop LIST), and
    // after that LIST (at the DELE of the marked message).
    const std::string cut = uidl.substr(0, uidl.size() / 2);
    for (const auto& [listing, closeAfter] :
         {std::pair{cut, "UIDL"}, std::pair{uidl + ".\r\n", "UIDL"},
          std::pair{uidl + ".\r\n", "LIST"}}) {
        SCOPED_TRACE(closeAfter);
        FakeServer s;
        s.statReply = "+OK " + std::to_string(kListed) + " 100000000\r\n";
        s.listing = listing;
        s.sizeListing = sizes + ".\r\n";
        s.closeAfter = closeAfter;
        const auto out = check(s);
        EXPECT_EQ(out.rc, ERR_OPERATION);
        EXPECT_EQ(MsgBox_GetCount(acc_.hMsgBox), kKnown + 1);
        EXPECT_EQ(Find(acc_, "id-7")->Status, MSG_TO_DELETE);
        EXPECT_NE(Find(acc_, "unlisted"), nullptr);
        EXPECT_STREQ(acc_.LastSTAT, "+OK 1 1\r\n");
    }
}

TEST_F(FakeCheck, AStatWithoutCountDropsNothing) {
    FakeServer s;
    s.msgs = {FakeMsg(1), FakeMsg(2), FakeMsg(3)};
    ASSERT_EQ(check(s).rc, 0u);
    // Read as 0 messages, these would have emptied the box.
    for (const char* stat : {"+OK abc\r\n", "+OK\r\n", "+OK -1 0\r\n", "+OK 99999999999 1\r\n"}) {
        SCOPED_TRACE(stat);
        FakeServer garbled;
        garbled.msgs = s.msgs;
        garbled.errOn["STAT"] = stat;
        const auto out = check(garbled);
        EXPECT_EQ(out.rc, ERR_OPERATION);
        EXPECT_EQ(out.error + "\r\n", stat);
        EXPECT_EQ(BoxIds(acc_).size(), 3u);
    }
    EXPECT_EQ(check(s).rc, 0u);
    EXPECT_EQ(Find(acc_, "u1")->Status, MSG_NOTIFIED); // not new again
}

TEST_F(FakeCheck, DeletionsCountOnlyWhenQuitIsConfirmed) {
    FakeServer s;
    s.msgs = {FakeMsg(1), FakeMsg(2)};
    ASSERT_EQ(check(s).rc, 0u);
    MsgBox_SetStatus(acc_.hMsgBox, Find(acc_, "u1"), -1, MSG_TO_DELETE, &acc_);
    // Refused or unanswered, the server kept its maildrop; a refused DELE
    // leaves that one: each time the mark stays for the next check.
    const struct {
        const char* what;
        std::function<void(FakeServer&)> knob;
        uint32_t rc;
    } failures[] = {
        {"QUIT refused", [](FakeServer& f) { f.quitReply = "-ERR could not remove\r\n"; },
         ERR_OPERATION},
        {"hang-up at QUIT", [](FakeServer& f) { f.closeOnQuit = true; }, ERR_OPERATION},
        {"DELE refused", [](FakeServer& f) { f.errOn["DELE"] = "-ERR locked\r\n"; }, 0},
    };
    for (const auto& f : failures) {
        SCOPED_TRACE(f.what);
        FakeServer failing;
        failing.msgs = s.msgs;
        f.knob(failing);
        EXPECT_EQ(check(failing).rc, f.rc);
        ASSERT_NE(Find(acc_, "u1"), nullptr);
        EXPECT_EQ(Find(acc_, "u1")->Status, MSG_TO_DELETE);
    }

    FakeServer ok;
    ok.msgs = s.msgs;
    ASSERT_EQ(check(ok).rc, 0u);
    EXPECT_EQ(ok.deleted, 1);
    EXPECT_EQ(BoxIds(acc_), std::vector<std::string>{"u2"});

    // STAT 0: no listing at all, and the box empties.
    FakeServer empty;
    std::vector<std::string> seen;
    empty.seen = &seen;
    ASSERT_EQ(check(empty).rc, 0u);
    EXPECT_EQ(seen,
              (std::vector<std::string>{"CAPA", "USER user", "PASS pw", "STAT", "STAT", "QUIT"}));
    EXPECT_EQ(MsgBox_GetCount(acc_.hMsgBox), 0);
}

// Only a connection or greeting that does not come in time is a time-out
// (CheckResult 2); a server that stops answering later fails the command
// (CheckResult 3), and the box keeps what the walk did not reach.
TEST_F(FakeCheck, SilenceOrTrickleTimesOut) {
    FakeServer s;
    s.msgs = {FakeMsg(1), FakeMsg(2)};
    ASSERT_EQ(check(s).rc, 0u);
    acc_.ChkTmout = 1;
    for (const bool trickle : {false, true}) {
        SCOPED_TRACE(trickle ? "greeting a byte every 800 ms" : "no greeting");
        iwtest::FakePeer peer([trickle](iwtest::PeerConn& c) {
            if (trickle)
                c.Trickle("+OK a greeting that takes its time\r\n", 800);
            else
                c.WaitClosed(5000);
        });
        acc_.ChkPort = peer.port();
        iwtest::Stopwatch sw;
        const auto out = RunCheck(acc_);
        EXPECT_EQ(out.rc, ERR_TIMEOUT);
        EXPECT_EQ(acc_.CheckResult, 2);
        EXPECT_LT(sw.ElapsedMs(), 3000); // the rule allows two time-outs
        peer.Join();
    }
    const struct {
        const char* word;
        bool uidl;
    } silences[] = {{"PASS", true}, {"UIDL", true}, {"LIST", false}, {"TOP", false}};
    for (const auto& k : silences) {
        SCOPED_TRACE(k.word);
        FakeServer silent;
        silent.msgs = {FakeMsg(1), FakeMsg(2), FakeMsg(3)};
        silent.uidl = k.uidl;
        silent.silentOn = k.word;
        const auto out = check(silent);
        EXPECT_EQ(out.rc, ERR_OPERATION);
        EXPECT_EQ(out.error, "Connection timed out");
        EXPECT_EQ(acc_.CheckResult, 3);
        EXPECT_EQ(BoxIds(acc_), (std::vector<std::string>{"u1", "u2"}));
    }
}

// Servers that answer CAPA with "-ERR", list no PIPELINING, or list it and
// answer in small pieces: the same commands in the same order, and only the
// last gets them before the previous one was answered.
TEST_F(FakeCheck, PipeliningChangesWhenCommandsGoNotWhichOrInWhatOrder) {
    const struct {
        const char* what;
        std::string capa;
        size_t chunk;
    } servers[] = {{"CAPA refused", "", 0},
                   {"no PIPELINING", "TOP\r\nUIDL\r\nUSER\r\n", 0},
                   {"PIPELINING, answers in pieces", "TOP\r\nUIDL\r\nPIPELINING\r\n", 5}};
    // Recorded from the check before PIPELINING was used: new messages
    // around a known one marked for deletion, one without a listed size.
    const std::vector<std::string> dialogue = {
        "CAPA",    "USER user", "PASS pw", "STAT",    "UIDL",    "LIST", "TOP 1 0", "DELE 2",
        "TOP 3 0", "LIST 3",    "TOP 5 0", "TOP 6 0", "TOP 7 0", "STAT", "QUIT"};
    for (const auto& k : servers) {
        SCOPED_TRACE(k.what);
        MsgBox_Destroy(&acc_.hMsgBox);
        FakeServer s;
        s.capa = k.capa;
        s.msgs = {FakeMsg(2), FakeMsg(4)};
        ASSERT_EQ(check(s).rc, 0u);
        MsgBox_SetStatus(acc_.hMsgBox, Find(acc_, "u2"), -1, MSG_TO_DELETE, &acc_);

        s.chunk = k.chunk;
        s.msgs = {FakeMsg(1), FakeMsg(2), FakeMsg(3), FakeMsg(4),
                  FakeMsg(5), FakeMsg(6), FakeMsg(7)};
        s.sizeListing = "1 10\r\n2 20\r\n4 40\r\n5 50\r\n6 60\r\n7 70\r\n.\r\n";
        std::vector<std::string> seen;
        s.seen = &seen;
        s.pipelined = 0;
        const auto out = check(s);
        ASSERT_EQ(out.rc, 0u) << out.error;
        EXPECT_EQ(seen, dialogue);
        EXPECT_EQ(s.pipelined > 0, k.chunk > 0);
        EXPECT_EQ(s.deleted, 1);
        EXPECT_EQ(BoxIds(acc_), (std::vector<std::string>{"u4", "u1", "u3", "u5", "u6", "u7"}));
        EXPECT_STREQ(Find(acc_, "u7")->Subject(), "Message 7");
        EXPECT_EQ(Find(acc_, "u3")->Size, static_cast<int32_t>(s.full(s.msgs[2]).size()));
    }
}

// A server that hangs up inside a window ends the check as it ends the one
// that sends a command at a time: the same words, the records read so far
// kept. One that goes quiet there is still cancelled or skipped at once.
TEST_F(FakeCheck, AWindowCutShortFailsTheAccountLikeABrokenReply) {
    std::vector<std::string> results;
    for (const std::string capa : {"UIDL\r\n", "UIDL\r\nPIPELINING\r\n"}) {
        SCOPED_TRACE(capa);
        MsgBox_Destroy(&acc_.hMsgBox);
        FakeServer s;
        s.capa = capa;
        for (int i = 1; i <= 6; ++i)
            s.msgs.push_back(FakeMsg(i));
        s.closeAfter = "TOP 2 0";
        const auto out = check(s);
        EXPECT_EQ(out.rc, ERR_OPERATION);
        results.push_back(out.error);
        EXPECT_EQ(BoxIds(acc_), (std::vector<std::string>{"u1", "u2"}));
        EXPECT_EQ(acc_.CheckResult, 3);
    }
    EXPECT_EQ(results[0], results[1]);

    FakeServer silent;
    silent.capa = "PIPELINING\r\n";
    for (int i = 1; i <= 6; ++i)
        silent.msgs.push_back(FakeMsg(i));
    silent.silentOn = "TOP 3";
    acc_.ChkTmout = 60;
    for (const uint32_t code : {ERR_SKIPPED, ERR_CANCELLED}) {
        MsgBox_Destroy(&acc_.hMsgBox);
        iwtest::FakePeer peer([&](iwtest::PeerConn& c) { silent.Serve(c); });
        acc_.ChkPort = peer.port();
        std::thread late([&] {
            while (!silent.silenced)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            Pop3_Abort(code);
        });
        iwtest::Stopwatch sw;
        EXPECT_EQ(RunCheck(acc_).rc, code);
        late.join();
        EXPECT_LT(sw.ElapsedMs(), 1500);
        silent.silenced = false;
        peer.Join();
    }
}

// A cancel or skip during a reply is the POP3 session's test (within a
// second) and the TLS check's and the engine's (through the whole check).

TEST_F(FakeCheck, UnchangedServerShortcut) {
    FakeServer s;
    s.msgs = {FakeMsg(1), FakeMsg(2)};
    ASSERT_EQ(check(s).rc, 0u);
    ASSERT_EQ(check(s).rc, 0u); // LastSTAT now matches and the last result is 0
    std::vector<std::string> seen;
    s.seen = &seen;
    EXPECT_EQ(check(s, CHECK_TIMED | CHECK_STOP_IF_UNCHANGED).rc, CHECK_UNCHANGED);
    // Only CAPA, the login and STAT, then QUIT so the maildrop is free again.
    EXPECT_EQ(seen, (std::vector<std::string>{"CAPA", "USER user", "PASS pw", "STAT", "QUIT"}));
    EXPECT_EQ(BoxIds(acc_).size(), 2u);

    // Never for a box of fewer than two, nor with deletions pending.
    FakeServer one;
    one.msgs = {FakeMsg(1)};
    MsgBox_Destroy(&acc_.hMsgBox);
    ASSERT_EQ(check(one).rc, 0u);
    ASSERT_EQ(check(one).rc, 0u);
    EXPECT_EQ(check(one, CHECK_TIMED | CHECK_STOP_IF_UNCHANGED).rc, 0u);
}

// Filter actions, with the test build of the plug-in: each message carries
// the action it gets in an "X-Test-Action:" line.
class FilterCheck : public FakeCheck {
  protected:
    void SetUp() override {
        FakeCheck::SetUp();
        Filter_Unload();
        setenv("INBOXWARDEN_PLUGIN_DIR", IW_TEST_FILTER_DIR, 1);
        ASSERT_EQ(Filter_Open(acc_.Name, nullptr, &acc_.FilterHandle), 0u);
    }
    void TearDown() override {
        Filter_Close(&acc_.FilterHandle);
        Filter_Unload();
        FakeCheck::TearDown();
    }
};

// The save actions, and a save that fails, are the real-server tests'
// (savedmsg_real_test); here the actions that need no file.
TEST_F(FilterCheck, DeleteQuietAndBounceBits) {
    // With PIPELINING too: the filter sees each header in listing order, and
    // its DELE goes out after the reads already in flight.
    for (const char* capa : {"", "PIPELINING\r\n"}) {
        SCOPED_TRACE(capa);
        MsgBox_Destroy(&acc_.hMsgBox);
        int bounced = 0;
        POP3ACC_HOOKS h;
        h.bounce = [&](ACCOUNT*, std::string_view) { return ++bounced, 0u; };
        Pop3Acc_SetHooks(h);

        FakeServer s;
        s.capa = capa;
        s.msgs = {FakeMsg(1, "X-Test-Action: 0x01\r\n"), FakeMsg(2, "X-Test-Action: 0x40\r\n"),
                  FakeMsg(3, "X-Test-Action: 0x20\r\n"), FakeMsg(4)};
        const auto out = check(s);
        ASSERT_EQ(out.rc, 0u) << out.error;
        // 0x01 deletes unlisted; 0x40 is quiet; 0x20 bounces.
        EXPECT_EQ(BoxIds(acc_), (std::vector<std::string>{"u2", "u3", "u4"}));
        EXPECT_EQ(s.deleted, 1);
        EXPECT_EQ(Find(acc_, "u2")->Status, MSG_QUIET);
        EXPECT_EQ(bounced, 1);
    }
}

} // namespace
