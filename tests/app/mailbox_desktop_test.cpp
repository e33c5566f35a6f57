// SPDX-License-Identifier: GPL-3.0-or-later
// The MailBox window of the real program, on a virtual desktop with a tray
// and against the real POP3 server, used as a person who reads the screen
// with a screen reader would: the rows are read through the accessibility
// bus (AT-SPI, tests/app/mailbox_atspi.py) and every command comes from the
// keyboard. A check with new mail opens the window, its rows are the ones
// the store holds, and "Delete Selected Messages Now!" takes exactly the
// chosen messages off the server and out of the list.
#include "../support/process.h"
#include "../support/real_peers.h"
#include "../support/temp_env.h"
#include "desktop.h"
#include "message/base64.h"
#include "settings/msgbox.h"

#include <QDateTime>
#include <QLocale>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;
using iwtest::Env;
using iwtest::KillAndReap;
using iwtest::WaitExitWithin;

const std::string kAccount = "Work Mail";
const std::string kTitle = "MailBox: " + kAccount;
constexpr const char* kPython = "/usr/bin/python3"; // the one python3-pyatspi is installed for
constexpr const char* kBusLauncher = "/usr/libexec/at-spi-bus-launcher";

std::string debugLog() {
    return iwtest::ProgramDebugLog();
}

// The server's messages: each date differs (the list sorts by date) and
// two are in other zones, one has no date at all, one is larger (its
// attachment is not seen by a check that fetches headers only), and one has
// an encoded name and subject.
std::vector<std::string> serverMessages() {
    auto message = [](int i, const std::string& from, const std::string& subject,
                      const std::string& date, const std::string& rest = "") {
        return "From: " + from + "\nTo: Ann <ann@example.invalid>\nSubject: " + subject + "\n" +
               (date.empty() ? "" : "Date: " + date + "\n") + "Message-ID: <m" + std::to_string(i) +
               "@example.invalid>\n" +
               (rest.empty() ? "Content-Type: text/plain\n\nHello " + std::to_string(i) + "\n"
                             : rest);
    };
    const std::string attachment = "MIME-Version: 1.0\n"
                                   "Content-Type: multipart/mixed; boundary=\"b1\"\n\n"
                                   "--b1\nContent-Type: text/plain\n\nThe figures.\n"
                                   "--b1\nContent-Type: application/octet-stream\n"
                                   "Content-Disposition: attachment; filename=\"q3.bin\"\n"
                                   "Content-Transfer-Encoding: base64\n\n" +
                                   std::string(70, 'A') + "\n" + "--b1--\n";
    std::string big = attachment;
    for (int i = 0; i < 60; ++i)
        big.insert(big.rfind("--b1--"), std::string(76, 'Q') + "\n");
    return {
        message(1, "Bob <bob@example.invalid>", "Lunch on Friday",
                "Tue, 02 Jan 2024 08:15:00 +0000"),
        message(2, "=?UTF-8?B?Wm/DqyBNw7xsbGVy?= <zoe@example.invalid>",
                "=?UTF-8?Q?Gr=C3=BC=C3=9Fe_aus_K=C3=B6ln?=", "Wed, 03 Jan 2024 09:30:00 +0100"),
        message(3, "carol@example.invalid", "Quarterly figures", "Thu, 04 Jan 2024 17:45:10 +0000",
                big),
        message(4, "Dave <dave@example.invalid>", "No date on this one", ""),
        message(5, "Erin <erin@example.invalid>", "Tickets", "Fri, 05 Jan 2024 23:59:59 -0500"),
    };
}

// One row of the list, as shown or as the store says it is to be shown.
struct Row {
    std::string from, to, subject, size, date, status;
    bool attach = false;
    auto operator<=>(const Row&) const = default;
};

void PrintTo(const Row& r, std::ostream* os) {
    *os << "{" << r.from << " | " << r.to << " | " << r.subject << " | " << r.size << " | "
        << r.date << " | " << r.status << (r.attach ? " | attachment" : "") << "}";
}

std::vector<Row> sorted(std::vector<Row> rows) {
    std::sort(rows.begin(), rows.end());
    return rows;
}

std::vector<Row> withoutStatus(std::vector<Row> rows) {
    for (Row& r : rows)
        r.status.clear();
    return rows;
}

// What the screen reader read: the rows in list order, and which are selected.
struct Shown {
    std::vector<Row> rows;
    std::vector<int> selected;
};

Shown parseShown(const std::string& text) {
    Shown shown;
    if (text.empty()) return shown; // the helper has said why
    const auto j = nlohmann::json::parse(text, nullptr, false);
    if (j.is_discarded()) {
        ADD_FAILURE() << "not JSON: " << text;
        return shown;
    }
    // The header says which column is which; its sort mark is not part of
    // the name a reader gives the column.
    std::vector<std::string> names;
    for (const auto& h : j["headers"]) {
        std::string n = h.get<std::string>();
        while (!n.empty() && (n.back() == ' ' || n.back() == '<' || n.back() == '>'))
            n.pop_back();
        names.push_back(n);
    }
    EXPECT_EQ(names,
              (std::vector<std::string>{"Attachment", "From", "To", "Subject", "Size", "Date"}));
    if (names.size() != 6) return shown;
    for (const auto& cells : j["rows"]) {
        auto text = [&](int c) { return cells[c]["text"].get<std::string>(); };
        auto description = [&](int c) { return cells[c]["description"].get<std::string>(); };
        shown.rows.push_back(Row{text(1), text(2), text(3), text(4), text(5), description(1),
                                 description(0) == "Has attachments"});
    }
    shown.selected = j["selected"].get<std::vector<int>>();
    return shown;
}

// The word a screen reader says for a stored status.
std::string statusWord(int status) {
    switch (status) {
    case MSG_NEW:
        return "New";
    case MSG_UNREAD:
        return "Unread";
    case MSG_OLD:
        return "Read";
    default:
        return "status " + std::to_string(status);
    }
}

// The date column of a stored date in the C locale the program runs in.
std::string dateText(const nlohmann::json& date) {
    if (date.is_null()) return "<invalid date>";
    const QDateTime d = QDateTime::fromString(QString::fromStdString(date.get<std::string>()),
                                              QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    const QLocale c = QLocale::c();
    return (c.toString(d.date(), QLocale::ShortFormat) + ' ' +
            c.toString(d.time(), QLocale::ShortFormat))
        .toStdString();
}

// The account's records as `inboxwarden-cli box --json` prints them.
struct Stored {
    std::vector<Row> rows;
    std::vector<std::string> ids; // the same order
};

Stored parseStored(const std::string& text) {
    Stored stored;
    const auto j = nlohmann::json::parse(text, nullptr, false);
    if (j.is_discarded() || !j.is_array()) {
        ADD_FAILURE() << "not a JSON array: " << text;
        return stored;
    }
    for (const auto& r : j) {
        auto text = [&](const char* name) { return r[name].get<std::string>(); };
        stored.rows.push_back(Row{text("From"), text("To"), text("Subject"), text("SizeText"),
                                  dateText(r["Date"]), statusWord(r["Status"].get<int>()),
                                  r["HasAttach"].get<int>() != 0});
        stored.ids.push_back(text("MsgId"));
    }
    return stored;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        if (!l.empty()) out.push_back(l);
    std::sort(out.begin(), out.end());
    return out;
}

// The children of this process (the daemons the buses start come back to it
// when their parent leaves them, see SetUp).
std::vector<pid_t> children() {
    std::vector<pid_t> out;
    DIR* proc = opendir("/proc");
    if (!proc) return out;
    const std::string me = std::to_string(getpid());
    while (const dirent* e = readdir(proc)) {
        const pid_t pid = std::atoi(e->d_name);
        if (pid <= 0) continue;
        const std::string stat = iwtest::ReadFile("/proc/" + std::string(e->d_name) + "/stat");
        // pid (comm) state ppid ...: comm may hold blanks and brackets.
        const size_t close = stat.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream rest(stat.substr(close + 1));
        std::string state, ppid;
        rest >> state >> ppid;
        if (ppid == me) out.push_back(pid);
    }
    closedir(proc);
    return out;
}

void stop(pid_t& pid, std::chrono::milliseconds grace = 10s) {
    iwtest::StopChild(pid, grace);
}

class MailBoxOnDesktop : public iwtest::RealPeersTest {
  protected:
    void SetUp() override {
        RealPeersTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        std::string missing;
        for (const char* tool : {"Xvfb", "trayer", "xdotool", "dbus-daemon"})
            if (!iwtest::OnPath(tool)) missing += std::string(" ") + tool;
        if (access(kBusLauncher, X_OK) != 0) missing += " at-spi2-core";
        if (run({kPython, "-c", "import pyatspi"}, 30s) != 0) missing += " python3-pyatspi";
        if (!missing.empty()) {
            if (std::getenv("IW_REQUIRE_PEERS")) FAIL() << "needs" << missing;
            GTEST_SKIP() << "needs" << missing;
        }
        // The bus daemons start services that leave their parent; as the
        // subreaper of its descendants this process gets them back and can
        // end them in TearDown.
        ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
        startDesktop();
    }

    void TearDown() override {
        stop(program_, 60s);
        stop(tray_);
        stop(launcher_); // and its accessibility bus
        stop(bus_);
        for (int round = 0; round < 2; ++round)
            for (pid_t pid : children())
                stop(pid, 5s);
        x_.reset();
        while (waitpid(-1, nullptr, WNOHANG) > 0) {
        }
    }

    // An X server with a tray, a session bus of its own and the
    // accessibility bus a screen reader reads the windows from.
    void startDesktop() {
        x_ = std::make_unique<iwtest::Xvfb>("1024x768x24");
        ASSERT_GE(x_->display, 0) << "no X server";
        const std::string bus = iwtest::SandboxDir() + "/runtime/bus";
        bus_ =
            iwtest::Spawn({"dbus-daemon", "--session", "--nofork", "--address=unix:path=" + bus});
        ASSERT_TRUE(iwtest::PollFor([&] { return iwtest::Connectable(bus); }, 20s))
            << "no session bus";
        env_ = {{"DISPLAY", x_->name()},    {"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + bus},
                {"QT_QPA_PLATFORM", "xcb"}, {"QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1"},
                {"LC_ALL", "C.UTF-8"},      {"INBOXWARDEN_NO_BOXES", ""}};
        tray_ = iwtest::Spawn({"trayer", "--edge", "top", "--align", "right", "--widthtype",
                               "pixel", "--width", "64", "--height", "24"},
                              env_);
        ASSERT_TRUE(iwtest::PollFor([&] { return iwtest::WindowShown(x_->name(), "panel"); }, 20s))
            << "no tray";
        launcher_ = iwtest::Spawn({kBusLauncher, "--launch-immediately"}, env_);
        // Its bus is a socket in the runtime folder.
        const auto a11yBusUp = [] {
            std::error_code ec;
            for (const auto& e :
                 std::filesystem::directory_iterator(iwtest::SandboxDir() + "/runtime/at-spi", ec))
                if (iwtest::Connectable(e.path())) return true;
            return false;
        };
        ASSERT_TRUE(iwtest::PollFor(a11yBusUp, 20s)) << "no accessibility bus";
    }

    // Runs argv to its end within `limit` (killed after it): its exit status,
    // standard output in *out.
    int run(const std::vector<std::string>& argv, std::chrono::milliseconds limit,
            std::string* out = nullptr, const std::string& in = "/dev/null") {
        const std::string file = iwtest::SandboxDir() + "/run.out";
        const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const pid_t pid = iwtest::Spawn(argv, env_, {.in = in, .out = fd, .err = 2});
        close(fd);
        int rc = WaitExitWithin(pid, limit);
        if (rc == -1000) {
            KillAndReap(pid);
            ADD_FAILURE() << argv[0] << " " << (argv.size() > 1 ? argv[1] : "")
                          << " did not end within its limit";
        }
        if (out) *out = iwtest::ReadFile(file);
        return rc;
    }

    // Runs the AT-SPI helper; false, with a failure that says why, when it
    // did not do what it was asked in time.
    bool atspi(std::vector<std::string> args, std::string* out = nullptr, const Env& extra = {}) {
        args.insert(args.begin(), {kPython, IW_ATSPI_SCRIPT});
        const Env saved = env_;
        env_.insert(env_.end(), extra.begin(), extra.end());
        std::string said;
        const int rc = run(args, 60s, &said);
        env_ = saved;
        if (out) *out = said;
        if (rc != 0)
            ADD_FAILURE() << args[2] << " " << args[3] << ": " << said << "\n" << debugLog();
        return rc == 0;
    }

    // The list of the window, once it is as asked (see mailbox_atspi.py).
    bool shown(std::vector<std::string> ask, Shown* rows) {
        ask.insert(ask.begin(), {"rows", kTitle});
        std::string out;
        if (!atspi(ask, &out)) return false;
        *rows = parseShown(out);
        return true;
    }

    int cli(const std::vector<std::string>& args, std::string* out,
            const std::string& in = "/dev/null") {
        std::vector<std::string> argv = {IW_CLI};
        argv.insert(argv.end(), args.begin(), args.end());
        return run(argv, 60s, out, in);
    }

    // Adds kAccount on this test's POP3 login with the command line; the
    // password goes in `copies` times (one a line) through a private file.
    void addAccount(const std::vector<std::string>& more = {}, int copies = 1) {
        const iwtest::Credentials& user = peers().user();
        const std::string file = iwtest::SandboxDir() + "/password";
        std::string lines;
        for (int i = 0; i < copies; ++i)
            lines += user.password + "\n";
        iwtest::WriteFile(file, lines);
        ASSERT_EQ(chmod(file.c_str(), 0600), 0);
        std::vector<std::string> args = {"account",
                                         "add",
                                         kAccount,
                                         "ChkServer=127.0.0.1",
                                         "ChkPort=" + std::to_string(peers().pop3_port()),
                                         "ChkLogin=" + user.name,
                                         "--chk-password-stdin"};
        args.insert(args.end(), more.begin(), more.end());
        std::string out;
        ASSERT_EQ(cli(args, &out, file), 0) << out;
    }

    // The program, as a user starts it; the log is new for each start.
    void startProgram() {
        ::unlink((iwtest::SandboxDir() + "/state/inboxwarden/debug_info.txt").c_str());
        program_ = iwtest::Spawn({IW_PROGRAM}, env_, {.out = 1, .err = 2});
        ASSERT_TRUE(iwtest::PollFor(
            [] { return debugLog().find("End of Account_GetMessages") != std::string::npos; }, 60s))
            << debugLog();
    }

    // Ends it as a session's end does.
    void quitProgram() {
        kill(program_, SIGTERM);
        EXPECT_EQ(WaitExitWithin(program_, 60s), 0) << debugLog();
        KillAndReap(program_);
        program_ = -1;
    }

    bool windowShown(const std::string& title) {
        return iwtest::PollFor([&] { return iwtest::WindowShown(x_->name(), title); }, 60s);
    }

    Stored box() {
        std::string out;
        EXPECT_EQ(cli({"box", kAccount, "--json"}, &out), 0) << out;
        return parseStored(out);
    }

    std::vector<std::string> serverIds() {
        const iwtest::Credentials& user = peers().user();
        std::string out;
        atspi({"uidl", std::to_string(peers().pop3_port()), user.name}, &out,
              {{"IW_POP3_PASSWORD", user.password}});
        return lines(out);
    }

    std::unique_ptr<iwtest::Xvfb> x_;
    pid_t bus_ = -1, launcher_ = -1, tray_ = -1, program_ = -1;
    Env env_;
};

TEST_F(MailBoxOnDesktop, NewMailOpensItWithTheStoredRowsAndDeleteNowTakesTheChosenOnes) {
    const iwtest::Credentials& user = peers().user();
    peers().SeedMessages(user.name, serverMessages());
    addAccount();
    ASSERT_FALSE(HasFatalFailure());
    std::string out;

    // A check with new mail opens the window: NewMailVisual is 1 by default.
    startProgram();
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(run({IW_PROGRAM, "/check:" + kAccount}, 30s), 1) << "handed over";
    ASSERT_TRUE(windowShown(kTitle)) << debugLog();
    EXPECT_EQ(debugLog().find("no system tray"), std::string::npos) << "the icon is in the tray";
    Shown first;
    ASSERT_TRUE(shown({"--count", "5"}, &first));
    for (const Row& r : first.rows)
        EXPECT_EQ(r.status, "New") << r.subject;
    // For the documentation: IW_SCREENSHOT=FILE keeps the screen as it is now.
    if (const char* shot = std::getenv("IW_SCREENSHOT"))
        run({"import", "-window", "root", shot}, 30s);
    // While it runs, the command line reads the box through it.
    EXPECT_EQ(sorted(withoutStatus(box().rows)), sorted(withoutStatus(first.rows)));

    // The same rows as the store holds. The CLI shows records as the next
    // start loads them: what was new in this run is unread then.
    quitProgram();
    const Stored stored = box();
    EXPECT_EQ(sorted(withoutStatus(first.rows)), sorted(withoutStatus(stored.rows)));

    // Started again, the window comes from the tray's menu (a second start
    // pops the menu up) and shows the same rows, unread now.
    startProgram();
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(atspi({"menu", "Show MailBoxes", "Down", "run", IW_PROGRAM}));
    ASSERT_TRUE(windowShown(kTitle)) << debugLog();
    Shown before;
    ASSERT_TRUE(shown({"--count", "5"}, &before));
    EXPECT_EQ(sorted(before.rows), sorted(stored.rows));

    // The second and third rows, selected and deleted from the keyboard:
    // the list's context menu key, then up to the command.
    ASSERT_TRUE(atspi({"keys", kTitle, "Home", "Down", "shift+Down"}));
    Shown chosen;
    ASSERT_TRUE(shown({"--count", "5", "--selected", "1,2"}, &chosen));
    ASSERT_EQ(chosen.rows, before.rows);
    std::vector<std::string> kept;
    for (size_t i = 0; i < stored.rows.size(); ++i)
        if (stored.rows[i] != before.rows[1] && stored.rows[i] != before.rows[2])
            kept.push_back(stored.ids[i]);
    ASSERT_EQ(kept.size(), 3u) << "each row is one stored record";
    std::sort(kept.begin(), kept.end());
    ASSERT_TRUE(atspi({"menu", "Delete Selected Messages Now!", "Up", "key", "Menu"}));

    Shown after;
    ASSERT_TRUE(shown({"--count", "3"}, &after));
    EXPECT_EQ(after.rows, (std::vector<Row>{before.rows[0], before.rows[3], before.rows[4]}));
    EXPECT_EQ(serverIds(), kept) << "exactly the two left the server";
    EXPECT_EQ(debugLog().find("Message box"), std::string::npos) << "no box: " << debugLog();

    // The store agrees with the list and the server.
    quitProgram();
    const Stored last = box();
    EXPECT_EQ(sorted(last.rows), sorted(after.rows));
    std::vector<std::string> ids = last.ids;
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(ids, kept);
}

// A message opened from the MailBox shows its attachment, which saves byte
// for byte; opened again, it comes from the copy the first download saved,
// so the server sends it only once.
TEST_F(MailBoxOnDesktop, AnOpenedMessageSavesItsAttachmentAndOpensAgainFromItsCopy) {
    const iwtest::Credentials& user = peers().user();
    std::string bytes;
    for (int i = 0; i < 2048; ++i)
        bytes += static_cast<char>((i * 7 + i / 256) & 0xFF);
    std::string encoded = Base64_Encode(bytes);
    for (size_t at = 76; at < encoded.size(); at += 77)
        encoded.insert(at, "\n");
    peers().SeedMessages(
        user.name,
        {"From: Bob <bob@example.invalid>\nTo: ann@example.invalid\nSubject: Lunch\n"
         "Date: Tue, 02 Jan 2024 08:15:00 +0000\n\nSee you.\n",
         "From: Carol <carol@example.invalid>\nTo: ann@example.invalid\n"
         "Subject: The figures\nDate: Wed, 03 Jan 2024 08:15:00 +0000\nMIME-Version: 1.0\n"
         "Content-Type: multipart/mixed; boundary=\"b1\"\n\n--b1\nContent-Type: text/plain\n\n"
         "Attached.\n.A line that starts with a dot.\n--b1\n"
         "Content-Type: application/octet-stream\n"
         "Content-Disposition: attachment; filename=\"q3.bin\"\n"
         "Content-Transfer-Encoding: base64\n\n" +
             encoded + "\n--b1--\n"});
    addAccount();
    ASSERT_FALSE(HasFatalFailure());
    const std::string saved = iwtest::SandboxDir() + "/saved";
    std::string out;
    ASSERT_EQ(cli({"options", "set", "DwnRtDir=" + saved, "AskNLines=0"}, &out), 0) << out;

    startProgram();
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(run({IW_PROGRAM, "/check:" + kAccount}, 30s), 1) << "handed over";
    ASSERT_TRUE(windowShown(kTitle)) << debugLog();
    Shown rows;
    ASSERT_TRUE(shown({"--count", "2"}, &rows));
    const int figures = rows.rows[0].subject == "The figures" ? 0 : 1;
    ASSERT_EQ(rows.rows[figures].subject, "The figures");
    const auto openFigures = [&] {
        std::vector<std::string> keys = {"keys", kTitle, "Home"};
        if (figures == 1) keys.push_back("Down");
        keys.push_back("Return");
        return atspi(keys) && windowShown("Message preview: The figures");
    };
    // The server and its logins are shared with earlier tests: only this
    // test's login counts, from what it had before.
    const auto retrievedSoFar = [&] {
        int n = 0;
        std::istringstream log(peers().pop3().Log());
        for (std::string line; std::getline(log, line);)
            if (line.find("pop3(" + user.name + ")") != std::string::npos &&
                line.find("retr=1/") != std::string::npos)
                ++n;
        return n;
    };
    const int before = retrievedSoFar();
    const auto retrieved = [&] { return retrievedSoFar() - before; };
    ASSERT_TRUE(openFigures()) << debugLog();
    // The server logs a session when it has ended, a moment after the viewer opened.
    EXPECT_TRUE(iwtest::PollFor([&] { return retrieved() == 1; }, 10s)) << peers().pop3().Log();
    if (const char* shot = std::getenv("IW_SCREENSHOT"))
        run({"import", "-window", "root", shot}, 30s);

    // The attachment, saved from its list with the keyboard.
    const std::string copy = iwtest::SandboxDir() + "/q3-copy.bin";
    ASSERT_TRUE(atspi({"focus", "Message preview: The figures", "Attachments", "alt+a"}));
    ASSERT_TRUE(atspi({"menu", "Save", "Down", "key", "Menu"}));
    ASSERT_TRUE(atspi({"focus", "Save As", "File name:", "alt+n"}));
    ASSERT_EQ(run({"xdotool", "key", "ctrl+a"}, 30s), 0);
    ASSERT_EQ(run({"xdotool", "type", "--delay", "20", copy}, 30s), 0);
    ASSERT_EQ(run({"xdotool", "key", "Return"}, 30s), 0);
    ASSERT_TRUE(
        iwtest::PollFor([&] { return iwtest::ReadFile(copy).size() == bytes.size(); }, 30s));
    EXPECT_TRUE(iwtest::ReadFile(copy) == bytes) << "the saved attachment differs";

    // Closed and opened again: the saved copy, no second RETR.
    // (Without a window manager the keyboard stays with the closed dialog.)
    run({"xdotool", "search", "--name", "^Message preview: The figures$", "windowfocus"}, 30s);
    ASSERT_EQ(run({"xdotool", "key", "Escape"}, 30s), 0);
    ASSERT_TRUE(iwtest::PollFor(
        [&] { return !iwtest::WindowShown(x_->name(), "Message preview: The figures"); }, 30s));
    ASSERT_TRUE(openFigures()) << debugLog();
    quitProgram(); // every session it had is logged by now
    EXPECT_EQ(retrieved(), 1) << peers().pop3().Log();
}

// A reply from the MailBox: Ctrl+R fetches the message without a viewer, the
// compose window opens on it with the sender and the quoted text, and
// Ctrl+Enter sends it through the real SMTP server with the account's login.
TEST_F(MailBoxOnDesktop, AReplyFromTheMailBoxReachesTheSmtpServerQuoted) {
    const iwtest::Credentials& user = peers().user();
    peers().SeedMessages(user.name,
                         {"From: Bob <bob@example.invalid>\nTo: ann@example.invalid\n"
                          "Cc: carl@example.invalid\nSubject: Lunch\n"
                          "Date: Tue, 02 Jan 2024 08:15:00 +0000\n\nSee you at noon.\nBob\n"});
    addAccount({"SendServer=127.0.0.1", "SendPort=" + std::to_string(peers().smtp_port()),
                "SendSecured=1", "SendLogin=" + user.name, "Email=ann@example.invalid",
                "FullUserName=Ann", "--send-password-stdin"},
               2);
    ASSERT_FALSE(HasFatalFailure());
    std::string out;
    ASSERT_EQ(
        cli({"options", "set", "ConfirmMsgSend=0", "AskNLines=0", "ReplyPrepend=%SENDER% wrote:"},
            &out),
        0)
        << out;

    startProgram();
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(run({IW_PROGRAM, "/check:" + kAccount}, 30s), 1) << "handed over";
    ASSERT_TRUE(windowShown(kTitle)) << debugLog();
    Shown rows;
    ASSERT_TRUE(shown({"--count", "1"}, &rows));
    ASSERT_TRUE(atspi({"keys", kTitle, "Home", "ctrl+r"}));
    const std::string compose = "Inboxwarden - Send Mail";
    ASSERT_TRUE(windowShown(compose)) << debugLog();
    ASSERT_TRUE(atspi({"focus", compose, "Subject", "alt+u"}));
    ASSERT_EQ(run({"xdotool", "key", "ctrl+Return"}, 30s), 0);
    ASSERT_TRUE(iwtest::PollFor([&] { return !peers().SmtpReceived().empty(); }, 60s))
        << debugLog();

    const iwtest::SmtpMessage sent = peers().SmtpReceived()[0];
    EXPECT_EQ(sent.auth_login, user.name);
    EXPECT_EQ(sent.mail_from, "ann@example.invalid");
    EXPECT_EQ(sent.rcpt_tos,
              (std::vector<std::string>{"bob@example.invalid", "carl@example.invalid"}));
    const std::string eml = iwtest::SandboxDir() + "/reply.eml";
    {
        const int fd = open(eml.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(write(fd, sent.eml.data(), sent.eml.size()), ssize_t(sent.eml.size()));
        close(fd);
    }
    ASSERT_EQ(run({kPython, "-c",
                   "import email, email.policy, sys\n"
                   "m = email.message_from_bytes(open(sys.argv[1], 'rb').read(), "
                   "policy=email.policy.default)\n"
                   "print(m['From'], m['To'], m['Cc'], m['Subject'], sep='|')\n"
                   "print(m.get_body(('plain',)).get_content().replace('\\r\\n', '\\n'), end='')",
                   eml},
                  30s, &out),
              0)
        << out;
    EXPECT_EQ(out, "Ann <ann@example.invalid>|Bob <bob@example.invalid>|carl@example.invalid|"
                   "RE: Lunch\nBob <bob@example.invalid> wrote:\n> See you at noon.\n> Bob\n> \n");
    quitProgram();
}

// An account set up in the settings dialog from the keyboard alone, on a
// desktop without a tray (the status window stands in for the icon and
// shows the tooltip's text): saved, written to the profile, checked from
// the menu, and its messages counted.
TEST_F(MailBoxOnDesktop, AnAccountAddedInTheSettingsDialogIsCheckedFromTheMenu) {
    stop(tray_);
    const iwtest::Credentials& user = peers().user();
    peers().SeedMessages(user.name, {serverMessages()[0], serverMessages()[1]});
    startProgram();
    ASSERT_FALSE(HasFatalFailure());
    // The status window's "Menu" button, from the keyboard, once the
    // window has it.
    const auto fromMenu = [&](const std::string& item) {
        // The window may still look focused to AT-SPI after another one
        // closed (no window manager): the keyboard is sent to it again.
        return atspi({"focus", "Inboxwarden", "Menu", "Tab"}) &&
               atspi({"menu", item, "Down", "window", "Inboxwarden", "alt+m"});
    };
    ASSERT_TRUE(windowShown("Inboxwarden")) << debugLog();
    ASSERT_TRUE(fromMenu("Settings..."));
    const std::string settings = "Settings: Inboxwarden";
    ASSERT_TRUE(windowShown(settings)) << debugLog();

    const auto typeInto = [&](const std::string& window, const char* name, const char* key,
                              const std::string& text) {
        ASSERT_TRUE(atspi({"focus", window, name, key}));
        ASSERT_EQ(run({"xdotool", "key", "ctrl+a"}, 30s), 0);
        ASSERT_EQ(run({"xdotool", "type", "--delay", "20", text}, 30s), 0);
    };
    ASSERT_TRUE(atspi({"focus", settings, "Account name", "alt+n"})); // New
    ASSERT_EQ(run({"xdotool", "type", "--delay", "20", kAccount}, 30s), 0);
    typeInto(settings, "Incoming server", "alt+v", "127.0.0.1");
    typeInto(settings, "Login name", "alt+l", user.name);
    typeInto(settings, "Password", "alt+w", user.password);
    ASSERT_EQ(run({"xdotool", "key", "alt+c"}, 30s), 0); // the incoming server's Advanced
    ASSERT_TRUE(windowShown("Incoming mail server"));
    typeInto("Incoming mail server", "Server port number", "alt+p",
             std::to_string(peers().pop3_port()));
    ASSERT_EQ(run({"xdotool", "key", "Return"}, 30s), 0);
    ASSERT_TRUE(iwtest::PollFor(
        [&] { return !iwtest::WindowShown(x_->name(), "Incoming mail server"); }, 30s));
    // Without a window manager the closed dialog took the keyboard along.
    ASSERT_TRUE(atspi({"focus", settings, "Account name", "alt+t"}));
    ASSERT_EQ(run({"xdotool", "key", "alt+s"}, 30s), 0); // Save
    // OK is the default button: Return from a field.
    ASSERT_TRUE(atspi({"focus", settings, "Account name", "alt+t"}));
    ASSERT_EQ(run({"xdotool", "key", "Return"}, 30s), 0);
    ASSERT_TRUE(iwtest::PollFor([&] { return !iwtest::WindowShown(x_->name(), settings); }, 30s))
        << debugLog();
    const std::string profile =
        iwtest::ReadFile(iwtest::SandboxDir() + "/data/inboxwarden/profiles/Inboxwarden.iwpf");
    EXPECT_NE(profile.find(kAccount), std::string::npos) << "OK writes the profile";

    ASSERT_TRUE(fromMenu("Check MailBoxes > " + kAccount));
    std::string tip;
    ASSERT_TRUE(atspi({"label", "Inboxwarden", "^Inboxwarden: 2 new, "}, &tip)) << debugLog();
    EXPECT_EQ(tip, "Inboxwarden: 2 new, 0 unread and 0 old messages\n");
    quitProgram();
    std::string out;
    EXPECT_EQ(cli({"box", kAccount, "--json"}, &out), 0);
    EXPECT_EQ(parseStored(out).rows.size(), 2u);
}

} // namespace
