// The account check against a scripted server, for what a real server will
// not do: no UIDL, no TOP, -ERR at each step, broken listings, stalls,
// disconnects, unconfirmed QUIT, and cancel or skip during a slow reply.
#include "../support/fake_peer.h"
#include "../support/temp_env.h"
#include "check_harness.h"
#include "common/status.h"
#include "message/filter.h"
#include "settings/msgbox_reg.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <thread>

namespace {

using iwtest::BoxIds;
using iwtest::Find;
using iwtest::RunCheck;

struct FakeMessage {
    std::string uidl;
    std::string header; // CRLF lines, without the empty line
    std::string body = "Hello.\r\n";
};

// A POP3 server that answers from a table of messages. Knobs change one
// answer at a time so each test shows one fault.
struct FakeServer {
    std::vector<FakeMessage> msgs;
    bool uidl = true;
    bool top = true;
    std::string greeting = "+OK ready <1.2@fake>\r\n";
    std::map<std::string, std::string> errOn; // command word -> "-ERR ..." line
    std::string listing;                      // replaces the UIDL/LIST listing when set
    std::string sizeListing;                  // replaces the LIST listing when set
    std::string statReply;                    // replaces the STAT answer when set
    std::string closeAfter;                   // the command word after whose answer it hangs up
    std::string quitReply = "+OK bye\r\n";
    bool closeOnQuit = false;
    int stallOnRetr = 0;                      // seconds to wait before answering RETR
    std::string silentOn;                     // command word never answered
    std::vector<std::string>* seen = nullptr; // commands received, in order
    std::atomic<int> deleted{0};

    std::string full(const FakeMessage& m) const { return m.header + "\r\n" + m.body; }

    void Serve(iwtest::PeerConn& c) {
        c.Send(greeting);
        std::set<int> dele;
        for (;;) {
            std::string line = c.ReadLine();
            if (line.empty()) return;
            line.resize(line.size() - 2);
            if (seen) seen->push_back(line);
            const std::string word = line.substr(0, line.find(' '));
            const int arg = std::atoi(line.c_str() + std::min(line.size(), word.size() + 1));
            if (word == silentOn) {
                c.WaitClosed(5000);
                return;
            }
            if (auto it = errOn.find(word); it != errOn.end()) {
                c.Send(it->second);
                continue;
            }
            if (word == "USER" || word == "PASS" || word == "APOP" || word == "NOOP") {
                c.Send("+OK\r\n");
            } else if (word == "STAT") {
                size_t total = 0;
                for (auto& m : msgs)
                    total += full(m).size();
                c.Send(!statReply.empty() ? statReply
                                          : "+OK " + std::to_string(msgs.size()) + " " +
                                                std::to_string(total) + "\r\n");
            } else if (word == "UIDL" && uidl) {
                std::string out = "+OK\r\n";
                for (size_t i = 0; i < msgs.size(); ++i)
                    out += std::to_string(i + 1) + " " + msgs[i].uidl + "\r\n";
                c.Send(listing.empty() ? out + ".\r\n" : "+OK\r\n" + listing);
            } else if (word == "LIST" && line.size() > 4) {
                c.Send("+OK " + std::to_string(arg) + " " +
                       std::to_string(full(msgs[arg - 1]).size()) + "\r\n");
            } else if (word == "LIST") {
                std::string out = "+OK\r\n";
                for (size_t i = 0; i < msgs.size(); ++i)
                    out +=
                        std::to_string(i + 1) + " " + std::to_string(full(msgs[i]).size()) + "\r\n";
                c.Send(!sizeListing.empty() ? "+OK\r\n" + sizeListing
                       : listing.empty()    ? out + ".\r\n"
                                            : "+OK\r\n" + listing);
            } else if (word == "TOP" && top) {
                c.Send("+OK\r\n" + msgs[arg - 1].header + "\r\n\r\n.\r\n");
            } else if (word == "RETR") {
                if (stallOnRetr && c.WaitClosed(stallOnRetr * 1000)) return;
                c.Send("+OK\r\n" + full(msgs[arg - 1]) + ".\r\n");
            } else if (word == "DELE") {
                dele.insert(arg);
                c.Send("+OK marked\r\n");
            } else if (word == "QUIT") {
                if (closeOnQuit) return;
                if (quitReply.rfind("+OK", 0) == 0) deleted = static_cast<int>(dele.size());
                c.Send(quitReply);
                return;
            } else {
                c.Send("-ERR unknown command\r\n");
            }
            if (word == closeAfter) return;
        }
    }
};

FakeMessage msg(int i, const std::string& extra = "") {
    FakeMessage m;
    m.uidl = "u" + std::to_string(i);
    m.header = "From: Sender " + std::to_string(i) + " <s" + std::to_string(i) +
               "@example.invalid>\r\nSubject: Message " + std::to_string(i) + "\r\nMessage-ID: <m" +
               std::to_string(i) + "@example.invalid>\r\n" + extra;
    return m;
}

class FakeCheck : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(RegStore_Open(iwtest::MakeTempDir("acc") + "/registry.db"), REGSTORE_OK);
        Reg_SetMsgRootKey(nullptr);
        acc_.Name = "Fake";
        acc_.ChkServer = "127.0.0.1";
        acc_.ChkLogin = "user";
        acc_.ChkPswd = "pw";
        acc_.ChkTmout = 5;
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
    FakeMessage a = msg(1), b = msg(2), c = msg(3);
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

// Ids are the server's bytes: ids that differ only in case, that are not
// UTF-8 or hold a lone CR, a quote or a backslash each stay one message of
// their own through the store and the profile, run after run of the CLI,
// and `box --json` names every one so that `delete` reaches it.
TEST_F(FakeCheck, IdsStayExactAcrossRunsOfTheCli) {
    const std::vector<std::string> ids = {"CaseId", "caseid", "a\rb", "\xff\xfe\xfd", "q\"b\\s"};
    FakeServer s;
    for (size_t i = 0; i < ids.size(); ++i) {
        s.msgs.push_back(msg(static_cast<int>(i) + 1));
        s.msgs.back().uidl = ids[i];
    }
    std::vector<std::string> sessions[5]; // commands of each connection
    int n = 0;
    iwtest::FakePeer peer(
        [&](iwtest::PeerConn& c) {
            s.seen = &sessions[n];
            s.errOn.clear();
            if (n++ == 2) s.errOn["DELE"] = "-ERR busy\r\n"; // the first delete is refused
            s.Serve(c);
        },
        5);
    const std::string dir = iwtest::MakeTempDir("cliids");
    setenv("INBOXWARDEN_REGISTRY", (dir + "/registry.db").c_str(), 1);
    std::string out;
    const auto run = [&](const std::string& args, const std::string& input = "") {
        return iwtest::RunCli(IW_CLI, dir + "/P.iwpf", args, input, dir, &out);
    };
    const auto newCount = [&] {
        return nlohmann::json::parse(out)["accounts"][0]["counts"]["new"];
    };
    ASSERT_EQ(run("account add Fake ChkServer=127.0.0.1 ChkLogin=user ChkTmout=5 ChkPort=" +
                      std::to_string(peer.port()) + " --chk-password-stdin",
                  "pw\n"),
              0);
    ASSERT_EQ(run("check Fake --json"), 0) << iwtest::ReadFile(dir + "/err");
    EXPECT_EQ(newCount(), 5);
    ASSERT_EQ(run("check Fake --json"), 0);
    EXPECT_EQ(newCount(), 0) << "every id was known again";

    ASSERT_EQ(run("box Fake --json"), 0);
    std::set<std::string> listed;
    for (const auto& r : nlohmann::json::parse(out))
        listed.insert(r.value("MsgIdHex", std::string()));
    EXPECT_EQ(listed, (std::set<std::string>{"436173654964", "636173656964", "610d62", "fffefd",
                                             "7122625c73"}));

    // The refused delete leaves its mark on "caseid" alone: the next check
    // deletes message 2 and not "CaseId".
    EXPECT_EQ(run("delete Fake caseid"), 1);
    ASSERT_EQ(run("check Fake --json"), 0);
    EXPECT_EQ(run("delete Fake --hex fffefd"), 0) << iwtest::ReadFile(dir + "/err");
    EXPECT_EQ(out, "fffefd\n");
    peer.Join();
    const auto deles = [&](int session) {
        std::vector<std::string> d;
        for (const std::string& cmd : sessions[session])
            if (cmd.rfind("DELE", 0) == 0) d.push_back(cmd);
        return d;
    };
    EXPECT_EQ(deles(3), std::vector<std::string>{"DELE 2"});
    EXPECT_EQ(deles(4), std::vector<std::string>{"DELE 4"});
}

TEST_F(FakeCheck, AServerWithoutTopStillListsItsNewMail) {
    FakeServer s;
    s.top = false;
    s.msgs = {msg(1), msg(2)};
    auto out = check(s);
    ASSERT_EQ(out.rc, 0u) << out.error;
    EXPECT_EQ(BoxIds(acc_), (std::vector<std::string>{"u1", "u2"}));
    EXPECT_STREQ(Find(acc_, "u2")->Subject, "Message 2");
}

TEST_F(FakeCheck, ErrAtEachStepFailsWithTheServersWords) {
    for (const char* step : {"greeting", "USER", "PASS", "STAT", "UIDL+LIST"}) {
        SCOPED_TRACE(step);
        FakeServer s;
        s.msgs = {msg(1)};
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

TEST_F(FakeCheck, ListingLinesAndSizesKeepTheirRules) {
    FakeServer s;
    s.msgs = {msg(1), msg(2), msg(3), msg(4)};
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
    EXPECT_STREQ(Find(acc_, "")->SizeText, "");
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
    EXPECT_STREQ(Find(acc_, "<m2@example.invalid>")->SizeText, "0");
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
        MsgRecord_SetText(r.MsgId, i > kKnown ? "unlisted" : "id-" + std::to_string(i));
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
    s.msgs = {msg(1), msg(2), msg(3)};
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
    s.msgs = {msg(1), msg(2)};
    ASSERT_EQ(check(s).rc, 0u);
    MsgBox_SetStatus(acc_.hMsgBox, Find(acc_, "u1"), -1, MSG_TO_DELETE, &acc_);

    FakeServer refusing;
    refusing.msgs = s.msgs;
    refusing.quitReply = "-ERR could not remove\r\n";
    auto out = check(refusing);
    EXPECT_EQ(out.rc, ERR_OPERATION);
    ASSERT_NE(Find(acc_, "u1"), nullptr); // still marked, retried next time
    EXPECT_EQ(Find(acc_, "u1")->Status, MSG_TO_DELETE);

    FakeServer hangsUp;
    hangsUp.msgs = s.msgs;
    hangsUp.closeOnQuit = true;
    EXPECT_NE(check(hangsUp).rc, 0u);
    EXPECT_EQ(Find(acc_, "u1")->Status, MSG_TO_DELETE);

    FakeServer refusingDele;
    refusingDele.msgs = s.msgs;
    refusingDele.errOn["DELE"] = "-ERR locked\r\n";
    ASSERT_EQ(check(refusingDele).rc, 0u);
    EXPECT_EQ(Find(acc_, "u1")->Status, MSG_TO_DELETE); // retried at the next check

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
    EXPECT_EQ(seen, (std::vector<std::string>{"USER user", "PASS pw", "STAT", "STAT", "QUIT"}));
    EXPECT_EQ(MsgBox_GetCount(acc_.hMsgBox), 0);
}

// Only a connection or greeting that does not come in time is a time-out
// (CheckResult 2); a server that stops answering later fails the command
// (CheckResult 3), and the box keeps what the walk did not reach.
TEST_F(FakeCheck, SilenceOrTrickleTimesOut) {
    FakeServer s;
    s.msgs = {msg(1), msg(2)};
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
        silent.msgs = {msg(1), msg(2), msg(3)};
        silent.uidl = k.uidl;
        silent.silentOn = k.word;
        const auto out = check(silent);
        EXPECT_EQ(out.rc, ERR_OPERATION);
        EXPECT_EQ(out.error, "Connection timed out");
        EXPECT_EQ(acc_.CheckResult, 3);
        EXPECT_EQ(BoxIds(acc_), (std::vector<std::string>{"u1", "u2"}));
    }
}

TEST_F(FakeCheck, CancelAndSkipFromAnotherThreadEndASlowReply) {
    for (uint32_t code : {ERR_SKIPPED, ERR_CANCELLED}) {
        SCOPED_TRACE(code);
        FakeServer s;
        s.msgs = {msg(1)};
        s.stallOnRetr = 4;
        CHECK_SETTINGS whole;
        whole.AttachCheck = true;
        iwtest::FakePeer peer([&](iwtest::PeerConn& c) { s.Serve(c); });
        acc_.ChkPort = peer.port();
        std::thread aborter([code] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            Pop3_Abort(code);
        });
        iwtest::Stopwatch sw;
        const auto out = RunCheck(acc_, CHECK_TIMED, whole);
        aborter.join();
        EXPECT_EQ(out.rc, code);
        EXPECT_EQ(out.error, "Operation canceled");
        EXPECT_LT(sw.ElapsedMs(), 1500);
        EXPECT_EQ(MsgBox_GetCount(acc_.hMsgBox), 0);
        peer.Join();
    }
    // The next worker run starts clean: a cancel does not stick.
    FakeServer s;
    s.msgs = {msg(1)};
    EXPECT_EQ(check(s).rc, 0u);
}

TEST_F(FakeCheck, UnchangedServerShortcut) {
    FakeServer s;
    s.msgs = {msg(1), msg(2)};
    ASSERT_EQ(check(s).rc, 0u);
    ASSERT_EQ(check(s).rc, 0u); // LastSTAT now matches and the last result is 0
    std::vector<std::string> seen;
    s.seen = &seen;
    EXPECT_EQ(check(s, CHECK_TIMED | CHECK_STOP_IF_UNCHANGED).rc, CHECK_UNCHANGED);
    // Only the login and STAT, then QUIT so the maildrop is free again.
    EXPECT_EQ(seen, (std::vector<std::string>{"USER user", "PASS pw", "STAT", "QUIT"}));
    EXPECT_EQ(BoxIds(acc_).size(), 2u);

    // Never for a box of fewer than two, nor with deletions pending.
    FakeServer one;
    one.msgs = {msg(1)};
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

TEST_F(FilterCheck, ActionBits) {
    std::vector<std::pair<std::string, int>> saved; // id, root setting
    bool saveWorks = true;
    POP3ACC_HOOKS h;
    h.saveMessage = [&](std::string_view text, ACCOUNT*, const char* id, int root, bool, bool) {
        EXPECT_NE(text.find("Hello."), std::string_view::npos) << "the whole message is saved";
        if (!saveWorks) return ERR_CREATE;
        saved.emplace_back(id, root);
        return 0u;
    };
    int bounced = 0;
    h.bounce = [&](ACCOUNT*, std::string_view) { return ++bounced, 0u; };
    Pop3Acc_SetHooks(h);

    FakeServer s;
    s.msgs = {msg(1, "X-Test-Action: 0x01\r\n"), msg(2, "X-Test-Action: 0x03\r\n"),
              msg(3, "X-Test-Action: 0x81\r\n"), msg(4, "X-Test-Action: 0x40\r\n"),
              msg(5, "X-Test-Action: 0x20\r\n"), msg(6)};
    auto out = check(s);
    ASSERT_EQ(out.rc, 0u) << out.error;
    // 0x01 deletes unlisted; 0x03 saves, lists, deletes; 0x81 saves to the
    // quarantine and deletes unlisted; 0x40 is quiet; 0x20 bounces.
    EXPECT_EQ(BoxIds(acc_), (std::vector<std::string>{"u2", "u4", "u5", "u6"}));
    EXPECT_EQ(saved, (std::vector<std::pair<std::string, int>>{{"u2", 13}, {"u3", 14}}));
    EXPECT_EQ(s.deleted, 3);
    EXPECT_EQ(Find(acc_, "u4")->Status, MSG_QUIET);
    EXPECT_EQ(bounced, 1);

    // A failed save never deletes the only copy; with 0x10 it cancels every
    // action and says so.
    MsgBox_Destroy(&acc_.hMsgBox);
    saveWorks = false;
    FakeServer f;
    f.msgs = {msg(1, "X-Test-Action: 0x03\r\n"), msg(2, "X-Test-Action: 0x11\r\n")};
    out = check(f);
    ASSERT_EQ(out.rc, 0u) << out.error;
    EXPECT_EQ(BoxIds(acc_), (std::vector<std::string>{"u1", "u2"}));
    EXPECT_EQ(f.deleted, 0);
    EXPECT_STREQ(acc_.StatusText, "Filter: message save operation failed.");
}

} // namespace
