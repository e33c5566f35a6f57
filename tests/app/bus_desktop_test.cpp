// SPDX-License-Identifier: GPL-3.0-or-later
// The running program on a private session bus, under Xvfb, against the real
// POP3 server: a check asked for with busctl, the counters and the message
// list the bus gives against `inboxwarden-cli box --json`, the command line
// going through the program while it runs (check, box, accounts, delete,
// mark), and `mark` on the store when it does not.
#include "../support/process.h"
#include "../support/real_peers.h"
#include "../support/temp_env.h"
#include "desktop.h"
#include "settings/msgbox.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <memory>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;
using iwtest::KillAndReap;
using iwtest::WaitExitWithin;
using json = nlohmann::json;

const std::string kAccount = "Work Mail";

using iwtest::Connectable;
using iwtest::PollFor;

std::string debugLog() {
    return iwtest::ProgramDebugLog();
}

void stop(pid_t& pid) {
    iwtest::StopChild(pid, 60s);
}

std::vector<std::string> message(int i, const std::string& subject) {
    return {"From: Bob <bob@example.invalid>\nTo: ann@example.invalid\nSubject: " + subject +
            "\nDate: Tue, 0" + std::to_string(i) + " Jan 2024 08:15:00 +0000\nMessage-ID: <m" +
            std::to_string(i) + "@example.invalid>\n\nHello " + std::to_string(i) + "\n"};
}

// `box --json` rows keyed by MsgIdHex.
std::map<std::string, json> byId(const json& rows) {
    std::map<std::string, json> out;
    for (const json& r : rows)
        out[r["MsgIdHex"].get<std::string>()] = r;
    return out;
}

std::string hex(const json& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (const json& b : bytes) {
        const int v = b.get<int>();
        out += digits[v >> 4];
        out += digits[v & 15];
    }
    return out;
}

class BusOnDesktop : public iwtest::RealPeersTest {
  protected:
    void SetUp() override {
        RealPeersTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        std::string missing;
        for (const char* tool : {"Xvfb", "dbus-daemon", "busctl", "gdbus"})
            if (!iwtest::OnPath(tool)) missing += std::string(" ") + tool;
        if (!missing.empty()) {
            if (std::getenv("IW_REQUIRE_PEERS")) FAIL() << "needs" << missing;
            GTEST_SKIP() << "needs" << missing;
        }
        x_ = std::make_unique<iwtest::Xvfb>("800x600x24");
        ASSERT_GE(x_->display, 0) << "no X server";
        const std::string bus = iwtest::SandboxDir() + "/runtime/bus";
        address_ = "unix:path=" + bus;
        bus_ = iwtest::Spawn({"dbus-daemon", "--session", "--nofork", "--address=" + address_});
        ASSERT_TRUE(PollFor([&] { return Connectable(bus); }, 20s)) << "no session bus";
        env_ = {{"DISPLAY", x_->name()},
                {"DBUS_SESSION_BUS_ADDRESS", address_},
                {"QT_QPA_PLATFORM", "xcb"},
                {"LC_ALL", "C.UTF-8"},
                {"INBOXWARDEN_NO_BOXES", ""}};
    }

    void TearDown() override {
        stop(monitor_);
        stop(program_);
        stop(bus_);
        x_.reset();
    }

    // Runs argv within a minute: exit status, standard output (and error
    // with `errToo`) in *out.
    int run(const std::vector<std::string>& argv, std::string* out, bool errToo = false,
            const std::string& in = "/dev/null") {
        const std::string file = iwtest::SandboxDir() + "/run.out";
        const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const pid_t pid = iwtest::Spawn(argv, env_, {.in = in, .out = fd, .err = errToo ? fd : 2});
        close(fd);
        const int rc = WaitExitWithin(pid, 60s);
        if (rc == -1000) {
            KillAndReap(pid);
            ADD_FAILURE() << argv[0] << " did not end within a minute";
        }
        if (out) *out = iwtest::ReadFile(file);
        return rc;
    }

    int cli(std::vector<std::string> args, std::string* out, bool errToo = false,
            const std::string& in = "/dev/null") {
        args.insert(args.begin(), IW_CLI);
        return run(args, out, errToo, in);
    }

    json cliJson(const std::vector<std::string>& args) {
        std::string out;
        EXPECT_EQ(cli(args, &out), 0) << out;
        const json j = json::parse(out, nullptr, false);
        EXPECT_FALSE(j.is_discarded()) << out;
        return j;
    }

    // A method of the program through busctl: its reply's "data" as JSON.
    json call(const std::string& method, const std::vector<std::string>& args = {},
              int* rc = nullptr, std::string* error = nullptr) {
        std::vector<std::string> argv = {"busctl",
                                         "--address=" + address_,
                                         "--json=short",
                                         "--timeout=60",
                                         "call",
                                         "org.inboxwarden.Inboxwarden",
                                         "/org/inboxwarden/Inboxwarden",
                                         "org.inboxwarden.Inboxwarden",
                                         method};
        argv.insert(argv.end(), args.begin(), args.end());
        std::string out;
        const int status = run(argv, &out, error != nullptr);
        if (rc) *rc = status;
        if (error) *error = out;
        if (status != 0) {
            if (!rc) ADD_FAILURE() << method << ": " << out;
            return json();
        }
        const json j = json::parse(out, nullptr, false);
        return j.is_discarded() ? json() : j["data"];
    }

    // GetAccounts' entry for an account, as name -> value.
    json account(const std::string& name = kAccount) {
        const json all = call("GetAccounts");
        for (const json& a : all.is_array() ? all[0] : json::array())
            if (a["Name"]["data"] == name) return a;
        ADD_FAILURE() << "no " << name << " on the bus";
        return json::object();
    }

    void addAccount(const std::string& name = kAccount, int port = -1) {
        const iwtest::Credentials& user = peers().user();
        const std::string file = iwtest::SandboxDir() + "/password";
        iwtest::WriteFile(file, user.password + "\n");
        ASSERT_EQ(chmod(file.c_str(), 0600), 0);
        std::string out;
        ASSERT_EQ(cli({"account", "add", name, "ChkServer=127.0.0.1",
                       "ChkPort=" + std::to_string(port < 0 ? peers().pop3_port() : port),
                       "ChkLogin=" + user.name, "--chk-password-stdin"},
                      &out, true, file),
                  0)
            << out;
    }

    void startProgram() {
        ::unlink((iwtest::SandboxDir() + "/state/inboxwarden/debug_info.txt").c_str());
        program_ = iwtest::Spawn({IW_PROGRAM}, env_, {.out = 1, .err = 2});
        ASSERT_TRUE(PollFor(
            [] {
                const std::string log = debugLog();
                return log.find("End of Account_GetMessages") != std::string::npos &&
                       log.find("Bus: org.inboxwarden.Inboxwarden registered") != std::string::npos;
            },
            60s))
            << debugLog();
    }

    void quitProgram() {
        kill(program_, SIGTERM);
        EXPECT_EQ(WaitExitWithin(program_, 60s), 0) << debugLog();
        KillAndReap(program_);
        program_ = -1;
    }

    // Waits until no check of the account is queued or running.
    bool checkEnded(const std::string& name = kAccount) {
        return PollFor([&] { return account(name)["Checking"]["data"] == false; }, 60s);
    }

    std::unique_ptr<iwtest::Xvfb> x_;
    std::string address_;
    pid_t bus_ = -1, program_ = -1, monitor_ = -1;
    iwtest::Env env_;
};

TEST_F(BusOnDesktop, ChecksListsAndMarksThroughTheBusAndTheCommandLineGoesThroughIt) {
    const iwtest::Credentials& user = peers().user();
    std::vector<std::string> seeded;
    for (int i = 1; i <= 3; ++i) {
        const auto m = message(i, "Note " + std::to_string(i));
        seeded.insert(seeded.end(), m.begin(), m.end());
    }
    peers().SeedMessages(user.name, seeded);
    addAccount();
    ASSERT_FALSE(HasFatalFailure());
    std::string out;

    startProgram();
    ASSERT_FALSE(HasFatalFailure());
    // The signals, as an applet would see them.
    const std::string signals = iwtest::SandboxDir() + "/signals";
    const int fd = open(signals.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    monitor_ =
        iwtest::Spawn({"gdbus", "monitor", "--session", "--dest", "org.inboxwarden.Inboxwarden"},
                      env_, {.out = fd});
    close(fd);
    std::this_thread::sleep_for(500ms); // gdbus subscribes before it says anything

    // A check asked for on the bus reaches the real server.
    EXPECT_EQ(call("Check", {"s", kAccount}), json::parse(R"([["Work Mail"]])"));
    ASSERT_TRUE(checkEnded()) << debugLog();
    const json acc = account();
    EXPECT_EQ(acc["LastResult"]["data"], "OK");
    EXPECT_EQ(acc["CheckResult"]["data"], 0) << "CR_OK";
    EXPECT_EQ(acc["New"]["data"], 3);
    EXPECT_TRUE(PollFor(
        [&] {
            const std::string s = iwtest::ReadFile(signals);
            return s.find("CheckEnded (['Work Mail'], false)") != std::string::npos &&
                   s.find("NewMail (['Work Mail'], 3)") != std::string::npos;
        },
        10s))
        << iwtest::ReadFile(signals);

    // The list on the bus is the one `box --json` prints, ids as bytes.
    const json reply = call("ListMessages", {"s", kAccount});
    const json listed = reply.is_array() ? reply[0] : json::array();
    const auto boxed = byId(cliJson({"box", kAccount, "--json"}));
    ASSERT_EQ(listed.size(), 3u);
    ASSERT_EQ(boxed.size(), 3u);
    std::map<int, int> statuses;
    for (const json& m : listed) {
        const std::string id = hex(m["MsgId"]["data"]);
        ASSERT_TRUE(boxed.count(id)) << id;
        const json& b = boxed.at(id);
        for (const char* field :
             {"From", "ReplyTo", "To", "Subject", "SizeText", "Size", "HasAttach", "Status"})
            EXPECT_EQ(m[field]["data"], b[field]) << field;
        EXPECT_EQ(m["Date"]["data"], b["Date"]);
        ++statuses[b["Status"].get<int>()];
    }
    EXPECT_EQ(statuses[MSG_NEW], acc["New"]["data"].get<int>());

    // The command line goes through the program while it runs.
    ASSERT_EQ(cli({"accounts"}, &out), 0) << out;
    EXPECT_EQ(out, kAccount + "\t127.0.0.1:" + std::to_string(peers().pop3_port()) + "\t" +
                       user.name + "\n");
    const json checked = cliJson({"check", kAccount, "--json"})["accounts"];
    ASSERT_EQ(checked.size(), 1u) << checked.dump();
    EXPECT_EQ(checked[0]["name"], kAccount);
    EXPECT_EQ(checked[0]["result"], "UNCHANGED") << "the server is as it was";
    EXPECT_EQ(checked[0]["CheckResult"], 0);
    const json now = account();
    for (const char* c : {"New", "Notified", "Unread", "Old", "Quiet", "Size"}) {
        std::string lower = c;
        lower[0] = char(std::tolower(lower[0]));
        EXPECT_EQ(checked[0]["counts"][lower], now[c]["data"]) << c;
    }

    std::vector<std::string> ids, hexIds; // in the order of their bytes
    for (const auto& [id, row] : boxed) {
        hexIds.push_back(id);
        ids.push_back(row["MsgId"].get<std::string>());
    }
    ASSERT_EQ(cli({"mark", kAccount, ids[0], ids[1], "read"}, &out, true), 0) << out;
    EXPECT_EQ(cli({"mark", kAccount, "no-such-id", "unread"}, &out, true), 1);
    EXPECT_NE(out.find("holds no message 'no-such-id'"), std::string::npos) << out;
    EXPECT_EQ(cli({"mark", kAccount, ids[2], "sideways"}, &out, true), 2) << out;
    std::map<std::string, int> status;
    for (const json& r : cliJson({"box", kAccount, "--json"}))
        status[r["MsgId"].get<std::string>()] = r["Status"].get<int>();
    EXPECT_EQ(status[ids[0]], MSG_OLD);
    EXPECT_EQ(status[ids[1]], MSG_OLD);
    EXPECT_EQ(account()["Old"]["data"], 2);

    // Delete now, through the program: the server confirms, the box follows.
    ASSERT_EQ(cli({"delete", kAccount, ids[1]}, &out), 0) << out;
    EXPECT_EQ(out, ids[1] + "\n");
    EXPECT_EQ(cliJson({"box", kAccount, "--json"}).size(), 2u);
    // Errors come as the bus's errors, with their words.
    std::string error;
    int rc = 0;
    call("Mark", {"saays", "Nobody", "1", "1", "120", "read"}, &rc, &error);
    EXPECT_NE(rc, 0);
    EXPECT_NE(error.find("there is no account 'Nobody'"), std::string::npos) << error;
    EXPECT_NE(cli({"box", "Nobody"}, &out, true), 0);
    EXPECT_NE(out.find("there is no account 'Nobody'"), std::string::npos) << out;
    // Settings stay the program's.
    EXPECT_EQ(cli({"options", "set", "AskNLines=0"}, &out, true), 1);
    EXPECT_NE(out.find("Inboxwarden is running on this store"), std::string::npos) << out;

    // The windows open on request.
    call("ShowMailBox");
    EXPECT_TRUE(
        PollFor([&] { return iwtest::WindowShown(x_->name(), "MailBox: " + kAccount); }, 30s))
        << debugLog();

    // What the program kept is what the store path prints once it has quit.
    const json running = cliJson({"box", kAccount, "--json"});
    quitProgram();
    const json stored = cliJson({"box", kAccount, "--json"});
    EXPECT_EQ(byId(stored).size(), 2u);
    for (const auto& [id, row] : byId(running)) {
        ASSERT_TRUE(byId(stored).count(id)) << id;
        json a = row, b = byId(stored).at(id);
        a.erase("Status");
        b.erase("Status");
        EXPECT_EQ(a, b);
    }

    // `mark` on the store itself.
    ASSERT_EQ(cli({"mark", kAccount, ids[0], "unread"}, &out, true), 0) << out;
    ASSERT_EQ(cli({"mark", "--hex", kAccount, hexIds[2], "delete"}, &out, true), 0) << out;
    EXPECT_EQ(cli({"mark", kAccount, ids[1], "read"}, &out, true), 1) << "deleted";
    std::map<std::string, int> after;
    for (const json& r : cliJson({"box", kAccount, "--json"}))
        after[r["MsgIdHex"].get<std::string>()] = r["Status"].get<int>();
    EXPECT_EQ(after,
              (std::map<std::string, int>{{hexIds[0], MSG_UNREAD}, {hexIds[2], MSG_TO_DELETE}}));
}

// A box whose check runs is the worker's: the bus refuses to change it, as
// the MailBox window does, until Cancel has ended the check.
TEST_F(BusOnDesktop, ABoxBeingCheckedIsRefusedUntilCancelEndsTheCheck) {
    // A server that takes the connection and never greets.
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len), 0);
    addAccount("Slow", ntohs(a.sin_port));
    ASSERT_FALSE(HasFatalFailure());
    startProgram();
    ASSERT_FALSE(HasFatalFailure());

    EXPECT_EQ(call("Check", {"s", "Slow"}), json::parse(R"([["Slow"]])"));
    EXPECT_EQ(account("Slow")["Checking"]["data"], true);
    std::string error, out;
    int rc = 0;
    call("Mark", {"saays", "Slow", "1", "1", "120", "read"}, &rc, &error);
    EXPECT_NE(rc, 0);
    EXPECT_NE(error.find("is being checked"), std::string::npos) << error;
    EXPECT_EQ(cli({"mark", "Slow", "x", "unread"}, &out, true), 1);
    EXPECT_NE(out.find("is being checked"), std::string::npos) << out;

    call("Cancel");
    ASSERT_TRUE(checkEnded("Slow")) << debugLog();
    EXPECT_EQ(account("Slow")["LastResult"]["data"], "ERR_CANCELLED");
    EXPECT_EQ(cli({"mark", "Slow", "x", "unread"}, &out, true), 1) << "free again, no such id";
    EXPECT_NE(out.find("holds no message 'x'"), std::string::npos) << out;
    close(listener);
}

} // namespace
