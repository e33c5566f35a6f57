// SPDX-License-Identifier: GPL-3.0-or-later
// Passwords in the desktop keyring, end to end: the built command-line
// program against a real Secret Service (GNOME's keyring daemon on a private
// session bus, in the sandbox's home) and a private Dovecot.
#include "../support/temp_env.h"
#include "settings/reg.h"
#include "support/real_peers.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

namespace {

constexpr const char* kPassword = "Kr-only-7f3a";

bool onPath(const char* program) {
    std::string out;
    return iwtest::RunShell(std::string("command -v ") + program, &out) == 0;
}

// A session bus of its own (no service activation: only what the test
// starts is there) with an unlocked keyring daemon on it, stopped by pid.
class KeyringSession {
  public:
    explicit KeyringSession(const std::string& dir) : dir_(dir) {
        const std::string conf = dir + "/bus.conf";
        iwtest::WriteFile(conf, "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus "
                                "Configuration 1.0//EN\" "
                                "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">"
                                "<busconfig><type>session</type><listen>unix:path=" +
                                    dir +
                                    "/bus</listen><policy context=\"default\">"
                                    "<allow send_destination=\"*\"/><allow receive_sender=\"*\"/>"
                                    "<allow own=\"*\"/>"
                                    "</policy></busconfig>");
        bus_ = iwtest::Spawn({"dbus-daemon", "--nofork", "--config-file=" + conf});
        address_ = "unix:path=" + dir + "/bus";
        setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
        if (!waitFor([&] { return std::filesystem::exists(dir + "/bus"); })) return;
        iwtest::WriteFile(dir + "/unlock", "keyring-test-password");
        iwtest::SpawnIo io;
        io.in = dir + "/unlock";
        keyring_ = iwtest::Spawn(
            {"gnome-keyring-daemon", "--foreground", "--unlock", "--components=secrets"},
            {{"XDG_DATA_HOME", dir + "/data"}}, io);
        ready_ = waitFor([] {
            std::string out;
            iwtest::RunCollect({"dbus-send", "--session", "--print-reply", "--reply-timeout=2000",
                                "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                                "org.freedesktop.DBus.NameHasOwner",
                                "string:org.freedesktop.secrets"},
                               &out);
            return out.find("boolean true") != std::string::npos;
        });
    }
    ~KeyringSession() {
        for (pid_t pid : {keyring_, bus_})
            if (pid > 0) {
                kill(pid, SIGTERM);
                iwtest::WaitExit(pid);
            }
        unsetenv("DBUS_SESSION_BUS_ADDRESS");
    }
    bool ready() const { return ready_; }
    // What the keyring holds for one login ("" for nothing).
    static std::string Lookup(const std::string& account, const char* protocol = "POP3") {
        std::string out;
        iwtest::RunCollect({"secret-tool", "lookup", "program", "inboxwarden", "account", account,
                            "protocol", protocol},
                           &out);
        return out;
    }
    // Every entry of the program, as secret-tool lists them.
    static std::string All() {
        std::string out;
        iwtest::RunCollect({"secret-tool", "search", "--all", "program", "inboxwarden"}, &out, {},
                           true);
        return out;
    }
    // Locks the keyring: its service then asks for the password to unlock it.
    static void Lock() {
        std::string out;
        iwtest::RunCollect({"dbus-send", "--session", "--print-reply", "--reply-timeout=2000",
                            "--dest=org.freedesktop.secrets", "/org/freedesktop/secrets",
                            "org.freedesktop.Secret.Service.Lock",
                            "array:objpath:/org/freedesktop/secrets/collection/login"},
                           &out);
    }
    // The bus goes away for the commands that follow: no service at all.
    void Leave() {
        setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + dir_ + "/nobus").c_str(), 1);
    }

  private:
    template <typename F> static bool waitFor(F&& ready) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!ready()) {
            if (std::chrono::steady_clock::now() > until) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }
    std::string dir_, address_;
    pid_t bus_ = -1, keyring_ = -1;
    bool ready_ = false;
};

class CliKeyring : public iwtest::RealPeersTest {
  protected:
    void SetUp() override {
        RealPeersTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        for (const char* p : {"dbus-daemon", "gnome-keyring-daemon", "secret-tool", "dbus-send"})
            if (!onPath(p)) GTEST_SKIP() << p << " is not installed";
        iwtest::Pop3Options opt;
        opt.users = std::string("u1:") + kPassword;
        server_ = peers().StartPop3(opt);
        dir_ = iwtest::MakeTempDir("clikeyring");
        store_ = dir_ + "/registry.db";
        setenv("INBOXWARDEN_REGISTRY", store_.c_str(), 1);
        profile_ = dir_ + "/P.iwpf";
        session_ = std::make_unique<KeyringSession>(dir_);
        ASSERT_TRUE(session_->ready()) << "the keyring daemon did not come up";
    }
    void TearDown() override { session_.reset(); }
    int run(const std::string& args, const std::string& input = "") {
        return iwtest::RunCli(IW_CLI, profile_, args, input, dir_, &out_);
    }
    std::string err() { return iwtest::ReadFile(dir_ + "/err"); }
    void addAccount(const std::string& name) {
        ASSERT_EQ(run("account add " + name +
                          " ChkServer=127.0.0.1 ChkPort=" + std::to_string(server_->port()) +
                          " ChkLogin=u1 ChkTmout=10 ChkPswdStore=1 --chk-password-stdin",
                      std::string(kPassword) + "\n"),
                  0)
            << err();
    }
    // Whether a file holds the password in clear or scrambled (raw or as
    // the profile's hex bytes).
    static bool holdsPassword(const std::string& file) {
        const std::string bytes = iwtest::ReadFile(file);
        const std::string scrambled = Reg_ScramblePassword(kPassword);
        std::string hex;
        for (unsigned char c : scrambled) {
            static constexpr char kHex[] = "0123456789abcdef";
            if (!hex.empty()) hex += ',';
            hex += kHex[c >> 4];
            hex += kHex[c & 15];
        }
        return bytes.find(kPassword) != std::string::npos ||
               bytes.find(scrambled) != std::string::npos || bytes.find(hex) != std::string::npos;
    }
    void expectNoTrace() {
        for (const std::string& f : {store_, store_ + "-wal", profile_})
            EXPECT_FALSE(holdsPassword(f)) << f;
        EXPECT_EQ(iwtest::ReadFile(profile_).find("\"ChkPswd\""), std::string::npos);
    }
    std::unique_ptr<iwtest::PrivatePop3> server_;
    std::unique_ptr<KeyringSession> session_;
    std::string dir_, store_, profile_, out_;
};

TEST_F(CliKeyring, PasswordOnlyInTheKeyringChecksAgainstDovecot) {
    addAccount("Alpha");
    EXPECT_EQ(KeyringSession::Lookup("Alpha"), kPassword);
    EXPECT_NE(KeyringSession::All().find("server = 127.0.0.1"), std::string::npos)
        << KeyringSession::All();
    expectNoTrace();

    server_->SeedMaildir("u1", 2);
    // No password on standard input and no terminal: only the keyring has it.
    ASSERT_EQ(run("check Alpha --json"), 0) << out_ << err();
    const auto j = nlohmann::json::parse(out_);
    EXPECT_EQ(j["accounts"][0]["result"], "OK") << out_;
    EXPECT_EQ(j["accounts"][0]["counts"]["new"], 2);
    expectNoTrace();

    // A copy for another machine carries the password only when asked to.
    const std::string copy = dir_ + "/copy.iwpf";
    ASSERT_EQ(run("profile export " + copy), 0) << err();
    EXPECT_FALSE(holdsPassword(copy));
    ASSERT_EQ(run("profile export --with-passwords " + copy), 0) << err();
    EXPECT_TRUE(holdsPassword(copy));
    expectNoTrace();
}

TEST_F(CliKeyring, RenameAndDeleteMoveAndRemoveTheEntry) {
    addAccount("Alpha");
    ASSERT_EQ(run("account rename Alpha Beta"), 0) << err();
    EXPECT_EQ(KeyringSession::Lookup("Alpha"), "");
    EXPECT_EQ(KeyringSession::Lookup("Beta"), kPassword);
    server_->SeedMaildir("u1", 1);
    ASSERT_EQ(run("check Beta --json"), 0) << out_ << err();

    ASSERT_EQ(run("account delete Beta"), 0) << err();
    EXPECT_EQ(KeyringSession::Lookup("Beta"), "");
    EXPECT_EQ(KeyringSession::All().find("inboxwarden"), std::string::npos)
        << KeyringSession::All();
}

// A locked keyring whose unlock prompt cannot be shown (no prompter here),
// and no keyring service at all: the login is asked once, never sent empty.
TEST_F(CliKeyring, NoServiceAsksOnceAndNeverSendsAnEmptyPassword) {
    addAccount("Alpha");
    server_->SeedMaildir("u1", 1);
    const auto loginless = [](const std::string& log) {
        size_t n = 0;
        for (size_t at = 0; (at = log.find("no auth attempts", at)) != std::string::npos; ++at)
            ++n;
        return n;
    };
    const size_t before = loginless(server_->Log());
    KeyringSession::Lock();
    ASSERT_EQ(run("check Alpha --json"), 1) << out_;
    EXPECT_EQ(nlohmann::json::parse(out_)["accounts"][0]["result"], "ERR_NOT_READY") << out_;
    session_->Leave();

    ASSERT_EQ(run("check Alpha --json"), 1) << out_;
    auto j = nlohmann::json::parse(out_);
    EXPECT_EQ(j["accounts"][0]["result"], "ERR_NOT_READY") << out_;
    EXPECT_NE(err().find("no terminal to ask the password"), std::string::npos) << err();
    const std::string log = server_->Log();
    EXPECT_EQ(loginless(log), before + 2) << log;
    EXPECT_EQ(log.find("auth failed"), std::string::npos) << log;

    ASSERT_EQ(run("check Alpha --json --password-stdin", std::string(kPassword) + "\n"), 0)
        << out_ << err();
    j = nlohmann::json::parse(out_);
    EXPECT_EQ(j["accounts"][0]["result"], "OK") << out_;
    EXPECT_EQ(j["accounts"][0]["StatusText"], "Desktop keyring unavailable: password asked once");
    EXPECT_EQ(j["accounts"][0]["counts"]["new"], 1);
    expectNoTrace();
}

} // namespace
