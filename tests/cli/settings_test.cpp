// SPDX-License-Identifier: GPL-3.0-or-later
// inboxwarden-cli's settings commands, run as a user runs them: a separate
// process on the store and profile files.
#include "../support/temp_env.h"
#include "platform/instance.h"
#include "platform/registry.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <regex>
#include <string>

namespace {

class CliSettings : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = iwtest::MakeTempDir("cli");
        setenv("INBOXWARDEN_REGISTRY", (dir_ + "/registry.db").c_str(), 1);
        profile_ = dir_ + "/P.iwpf";
    }
    // Runs the CLI with `args` on the test's profile; returns the exit
    // status, stdout in out_.
    int run(const std::string& args, const std::string& input = "") {
        return iwtest::RunCli(IW_CLI, profile_, args, input, dir_, &out_);
    }
    std::string err() const { return iwtest::ReadFile(dir_ + "/err"); }
    std::string dir_, profile_, out_;
};

TEST_F(CliSettings, AccountsLifecycle) {
    ASSERT_EQ(run("account add Home ChkServer=pop.example.org ChkLogin=me ChkPort=995 "
                  "Schedule=0x1,2 --chk-password-stdin",
                  "s3cret\n"),
              0);
    EXPECT_EQ(iwtest::ReadFile(profile_).find("s3cret"), std::string::npos); // stored scrambled
    EXPECT_NE(iwtest::ReadFile(profile_).find("\"ChkPswd\"=hex:"), std::string::npos);
    ASSERT_EQ(run("accounts"), 0);
    EXPECT_EQ(out_, "Home\tpop.example.org:995\tme\n");
    EXPECT_EQ(run("account set Home ChkPswd=visible"), 2); // never from the command line
    EXPECT_EQ(run("account set Home NoSuchField=1"), 2);
    EXPECT_EQ(run("account set Home ChkPort=abc"), 2);
    EXPECT_EQ(run("account add ../evil"), 2); // refused before the store is opened
    EXPECT_EQ(run("account add home"), 1);
    ASSERT_EQ(run("account rename Home Work"), 0);
    ASSERT_EQ(run("accounts"), 0);
    EXPECT_EQ(out_, "Work\tpop.example.org:995\tme\n");
    ASSERT_EQ(run("account delete Work"), 0);
    ASSERT_EQ(run("accounts"), 0);
    EXPECT_EQ(out_, "");
    EXPECT_EQ(run("account delete Work"), 1);
}

// What the settings layer reports reaches the terminal: a profile it cannot
// read is left alone, and the user learns where the change went instead.
TEST_F(CliSettings, AnUnreadableProfileIsLeftAndTheUserToldWhere) {
    iwtest::WriteFile(profile_, "REGEDIT4\r\n\r\n");
    ASSERT_EQ(run("account add Home"), 0) << err();
    EXPECT_EQ(iwtest::ReadFile(profile_), "REGEDIT4\r\n\r\n");
    EXPECT_NE(err().find("wrong format"), std::string::npos) << err();
    EXPECT_NE(err().find("could not be read at start, so it was left as it is. The settings "
                         "were saved to \"" +
                         profile_ + "-RECOVERY-"),
              std::string::npos)
        << err();
}

TEST_F(CliSettings, BoxJsonAndProfileImport) {
    const std::string src = dir_ + "/src.iwpf";
    iwtest::WriteFile(
        src,
        "<INBOXWARDEN6>\r\n\r\n"
        "[HKEY_CURRENT_USER\\Software\\Corvale\\Inboxwarden\\Work]\r\n"
        "\"ChkServer\"=\"pop\"\r\n\r\n"
        "[HKEY_CURRENT_USER\\Software\\Corvale\\Inboxwarden\\Work\\MsgBox]\r\n"
        "\"7\"=\";Fm=;\\\"A\\\" <a@b>;Rt=;;To=;x;Sj=;Caf\xc3\xa9;Sz=;2048;DS=; 2010 10 4 21 14 "
        "5 9 0 ;A=;1;En=;\"\r\n"
        "\"8\"=\";Fm=;;Rt=;;To=;;Sj=;;Sz=;0;DS=; 65535 0 0 0 0 0 0 2 ;A=;0;En=;\"\r\n");
    ASSERT_EQ(run("profile import " + src), 0);
    ASSERT_EQ(run("box Work --json"), 0);
    const auto j = nlohmann::json::parse(out_);
    ASSERT_EQ(j.size(), 2u);
    EXPECT_EQ(j[0]["MsgIdHex"], "37");
    EXPECT_EQ(j[0]["From"], "\"A\" <a@b>");
    EXPECT_EQ(j[0]["Subject"], "Caf\u00e9");
    EXPECT_EQ(j[0]["Date"], "2010-10-21 14:05:09");
    EXPECT_EQ(j[0]["Status"], 1); // stored as new: unread once loaded
    EXPECT_TRUE(j[1]["Date"].is_null());

    // Listing the box changed nothing: the next listing still sees "new".
    EXPECT_NE(iwtest::ReadFile(profile_).find(" 0 ;A=;1;En=;"), std::string::npos);

    EXPECT_EQ(run("profile import " + dir_ + "/missing.iwpf"), 1);
    ASSERT_EQ(run("accounts"), 0);
    EXPECT_EQ(out_.substr(0, 5), "Work\t"); // a failed import changes nothing
}

// The message sections of a profile: "<account>" -> id -> stored value.
using Records = std::map<std::string, std::map<std::string, std::string>>;

Records recordsOf(const std::string& profileText) {
    static const std::regex kBox(
        R"(^\[HKEY_CURRENT_USER\\Software\\Corvale\\Inboxwarden\\(.+)\\MsgBox\]$)");
    Records out;
    std::map<std::string, std::string>* box = nullptr;
    size_t pos = 0;
    while (pos < profileText.size()) {
        size_t eol = profileText.find("\r\n", pos);
        if (eol == std::string::npos) eol = profileText.size();
        const std::string line = profileText.substr(pos, eol - pos);
        pos = eol + 2;
        std::smatch m;
        if (line.rfind('[', 0) == 0)
            box = std::regex_match(line, m, kBox) ? &out[m[1]] : nullptr;
        else if (box && line.rfind('"', 0) == 0)
            (*box)[line.substr(1, line.find("\"=\"") - 1)] = line.substr(line.find("\"=\"") + 2);
    }
    return out;
}

// Three accounts with a record of every status each, some with texts that
// need escaping.
std::string profileWithRecords() {
    std::string p = "<INBOXWARDEN6>\r\n\r\n";
    for (const std::string account : {"Work", "Home", "Old Mail"}) {
        const std::string key = "[HKEY_CURRENT_USER\\Software\\Corvale\\Inboxwarden\\" + account;
        p += key + "]\r\n\"ChkServer\"=\"127.0.0.1\"\r\n\"ChkPort\"=dword:00000001\r\n"
                   "\"ChkTmout\"=dword:00000001\r\n\r\n";
        p += key + "\\MsgBox]\r\n";
        for (int status = 0; status <= 10; ++status) {
            const std::string n = std::to_string(status);
            p += "\"" + account.substr(0, 1) + "-" + n + "\"=\";Fm=;Sender " + n + " <s" + n +
                 "@example.org>;Rt=;;To=;me@example.org;Sj=;Caf\xc3\xa9 \\\"" + n + "\\\";Sz=;" +
                 std::to_string(1000 + status) + ";DS=; 2024 3 " + std::to_string(status % 7) +
                 " 4 5 6 7 " + n + " ;A=;" + std::to_string(status % 2) + ";En=;\"\r\n";
        }
        p += "\r\n";
    }
    return p;
}

// The stored status of a record value, replaced.
std::string withStatus(const std::string& value, int status) {
    static const std::regex kStatus(R"((;DS=;(?: -?\d+){7}) -?\d+ ;A=;)");
    return std::regex_replace(value, kStatus, "$1 " + std::to_string(status) + " ;A=;");
}

// Every command that saves keeps every record it was not meant to change,
// whether the settings come from the profile or from the store's kept tree.
TEST_F(CliSettings, SavesKeepEveryRecordTheyDidNotChange) {
    const std::string original = profileWithRecords();
    const Records before = recordsOf(original);
    ASSERT_EQ(before.size(), 3u);
    ASSERT_EQ(before.at("Home").size(), 11u);

    // Statuses as the boxes load them (new becomes unread, ...): what a
    // command that loads and saves the boxes leaves behind.
    std::map<std::string, int> loaded;
    auto loadedRecords = [&](Records r) {
        for (auto& [account, box] : r)
            for (auto& [id, value] : box)
                value = withStatus(value, loaded.at(id));
        return r;
    };

    struct Case {
        std::string command;
        int rc;
        std::function<Records(Records)> expected;
    };
    const std::string exported = dir_ + "/exported.iwpf";
    const Case cases[] = {
        {"account set Work ChkTime=5", 0, [](Records r) { return r; }},
        {"account add New ChkServer=pop.example.org", 0, [](Records r) { return r; }},
        {"account rename Work Job", 0,
         [](Records r) {
             r["Job"] = r.at("Work");
             r.erase("Work");
             return r;
         }},
        {"account delete Home", 0,
         [](Records r) {
             r.erase("Home");
             return r;
         }},
        {"options set DwnRtDir=/tmp", 0, [](Records r) { return r; }},
        {"account set Work ChkPort=abc", 2, [](Records r) { return r; }},
        {"box Home --json", 0, [](Records r) { return r; }},
        {"accounts", 0, [](Records r) { return r; }},
        {"profile export " + exported, 0, [](Records r) { return r; }},
        // A check that fails (nothing listens on port 1) keeps the boxes it loaded.
        {"check Home --json", 1, loadedRecords},
        {"delete Old\\ Mail O-1", 1,
         [&](Records r) {
             r = loadedRecords(r);
             r["Old Mail"]["O-1"] = withStatus(r["Old Mail"]["O-1"], 3); // marked, kept
             return r;
         }},
        {"delete --hex Work 572d37", 1, // "W-7", named by its bytes
         [&](Records r) {
             r = loadedRecords(r);
             r["Work"]["W-7"] = withStatus(r["Work"]["W-7"], 3);
             return r;
         }},
    };

    for (const bool keptTree : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.command + (keptTree ? " (kept tree)" : " (profile)"));
            // A store of its own for each case.
            static int n = 0;
            const std::string store = dir_ + "/store-" + std::to_string(++n) + ".db";
            setenv("INBOXWARDEN_REGISTRY", store.c_str(), 1);
            iwtest::WriteFile(profile_, original);
            if (loaded.empty()) {
                for (const char* account : {"Work", "Home", "Old\\ Mail"}) {
                    ASSERT_EQ(run(std::string("box ") + account + " --json"), 0);
                    for (const auto& r : nlohmann::json::parse(out_))
                        loaded[r["MsgId"].get<std::string>()] = r["Status"].get<int>();
                }
                ASSERT_EQ(loaded.size(), 33u);
            }
            if (keptTree) {
                ASSERT_EQ(RegStore_Open(store), 0u);
                HREGKEY vendor;
                ASSERT_EQ(RegStore_CreateKey(HREGKEY_USER, "Software\\Corvale", &vendor), 0u);
                ASSERT_EQ(RegStore_SetValue(vendor, "OptimizeStartup", REGTYPE_BINARY, "\x01"), 0u);
                ASSERT_EQ(RegStore_Open(dir_ + "/unused.db"), 0u); // let go of the case's store
                // A saving command leaves the tree in the store for the next one.
                ASSERT_EQ(run("profile import " + profile_), 0);
            }
            EXPECT_EQ(run(c.command), c.rc) << iwtest::ReadFile(dir_ + "/err") << out_;
            EXPECT_EQ(recordsOf(iwtest::ReadFile(profile_)), c.expected(before));
            // The store holds what the profile holds (the next start may use either).
            if (keptTree) {
                ASSERT_EQ(run("profile export " + dir_ + "/store.iwpf"), 0);
                EXPECT_EQ(recordsOf(iwtest::ReadFile(dir_ + "/store.iwpf")), c.expected(before));
            }
        }
    }
    EXPECT_EQ(recordsOf(iwtest::ReadFile(exported)), before);
}

// Control bytes from mail never reach the terminal as they are; --json keeps
// the exact texts.
TEST_F(CliSettings, DecodeEscapesControlBytesFromMail) {
    const std::string file = dir_ + "/m.eml";
    iwtest::WriteFile(
        file, "From: a@b\r\nSubject: =?utf-8?q?red=1B[31m_bell=07_c1=C2=9B?=\r\n"
              "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=B\r\n\r\n"
              "--B\r\nContent-Type: text/plain\r\n\r\nline one\x1b]0;title\x07\r\nline two\r\n"
              "--B\r\nContent-Type: application/octet-stream\r\nContent-Disposition: "
              "attachment; filename=\"x\x1b[2J\x07y.txt\"\r\n\r\nabc\r\n--B--\r\n");
    ASSERT_EQ(run("decode " + file), 0);
    EXPECT_EQ(out_.find('\x1b'), std::string::npos) << out_;
    EXPECT_EQ(out_.find('\x07'), std::string::npos);
    EXPECT_EQ(out_.find("\xc2\x9b"), std::string::npos);
    EXPECT_NE(out_.find("Subject: red\\x1b[31m bell\\x07 c1\\xc2\\x9b\n"), std::string::npos);
    EXPECT_NE(out_.find(" x\\x1b[2J\\x07y.txt\n"), std::string::npos);
    EXPECT_NE(out_.find("line one\\x1b]0;title\\x07\r\nline two"), std::string::npos);
    ASSERT_EQ(run("decode " + file + " --json"), 0);
    const auto j = nlohmann::json::parse(out_);
    EXPECT_EQ(j["attachments"][0]["name"], "x\x1b[2J\x07y.txt");
    EXPECT_EQ(j["record"]["Subject"], "red\x1b[31m bell\x07 c1\xc2\x9b");
}

// --help on standard output; a usage error is one line on standard error
// with exit status 2; both option spellings work. Every command's --help is
// the option library's; one nested command stands for them.
TEST_F(CliSettings, UsageHelpAndOptionSpellings) {
    EXPECT_EQ(run("account add -h"), 0);
    EXPECT_NE(out_.find("Usage: inboxwarden-cli"), std::string::npos);
    EXPECT_EQ(err(), "");
    for (const char* wrong : {"", "bogus", "box A B", "check A --nope"}) {
        SCOPED_TRACE(wrong);
        EXPECT_EQ(run(wrong), 2);
        EXPECT_EQ(out_, "");
        EXPECT_EQ(err().rfind("inboxwarden-cli: ", 0), 0u) << err();
        EXPECT_EQ(err().find('\n'), err().size() - 1) << err();
    }
    // Errors say what is wrong in words: no internal code, no window title.
    for (const char* refused : {"account add Work\\\\Sub", "account set Nobody ChkTime=1"}) {
        SCOPED_TRACE(refused);
        EXPECT_NE(run(refused), 0);
        EXPECT_EQ(err().find("ERR_"), std::string::npos) << err();
        EXPECT_EQ(err().find("Message box"), std::string::npos) << err();
        EXPECT_EQ(err().find('\n'), err().size() - 1) << err();
    }
    EXPECT_EQ(run("account add " + std::string(300, 'a')), 2);
    EXPECT_NE(err().find("at most 255 bytes"), std::string::npos);

    ASSERT_EQ(run("account add A --chk-password-stdin ChkServer=pop.example.org", "pw\n"), 0);
    const std::string other = dir_ + "/other.iwpf";
    ASSERT_EQ(run("--profile=" + other + " account add B"), 0);
    ASSERT_EQ(run("--profile " + other + " accounts"), 0);
    EXPECT_EQ(out_, "B\t:110\t\n");
    ASSERT_EQ(run("accounts"), 0);
    EXPECT_EQ(out_, "A\tpop.example.org:110\t\n");
}

TEST_F(CliSettings, RefusedWhileTheProgramRuns) {
    ASSERT_EQ(Instance_Acquire(), INSTANCE_ACQUIRED);
    EXPECT_EQ(run("accounts"), 1);
    Instance_Release();
    EXPECT_EQ(run("accounts"), 0);
}

// The store is only the working copy: whatever the damage, the profile
// rebuilds it, and the damaged file is kept for a closer look.
TEST_F(CliSettings, ADamagedStoreIsSetAsideAndRebuiltFromTheProfile) {
    ASSERT_EQ(run("account add Work ChkServer=pop.example.org ChkLogin=me ChkPort=995"), 0);
    const std::string store = dir_ + "/registry.db";
    // Commands leave their writes in the log: a close that checkpoints puts
    // them into the file, where the damage below goes.
    const auto checkpoint = [&] {
        ASSERT_EQ(RegStore_Open(store), REGSTORE_OK);
        ASSERT_EQ(RegStore_Open(dir_ + "/other.db"), REGSTORE_OK);
        ASSERT_TRUE(iwtest::ReadFile(store + "-wal").empty());
    };
    checkpoint();
    const std::string good = iwtest::ReadFile(store);
    ASSERT_GE(good.size(), 8192u);
    const struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"truncated", good.substr(0, 5000)},
        {"header zeroed", std::string(100, '\0') + good.substr(100)},
        {"a page overwritten",
         good.substr(0, 4096) + std::string(4096, '\xA5') + good.substr(8192)},
    };
    size_t setAside = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        checkpoint();
        iwtest::WriteFile(store, c.bytes);
        ASSERT_EQ(run("accounts"), 0) << err();
        EXPECT_EQ(out_, "Work\tpop.example.org:995\tme\n");
        EXPECT_NE(err().find("was damaged. It was kept as \"" + store + "-damaged-"),
                  std::string::npos)
            << err();
        size_t files = 0;
        for (const auto& e : std::filesystem::directory_iterator(dir_))
            files += e.path().filename().string().starts_with("registry.db-damaged-");
        EXPECT_EQ(files, ++setAside);
        ASSERT_EQ(run("accounts"), 0);
        EXPECT_EQ(err(), "") << "said once";
    }
}

// On a full disk whatever only reads keeps working, on a copy of the store in
// memory; a write fails naming its cause and its file, and nothing stored
// changes.
TEST_F(CliSettings, AFullDiskKeepsReadingAndAFailedWriteSaysWhy) {
    const std::string disk = iwtest::MakeTempDir("disk");
    iwtest::SmallDisk small(disk, 256 * 1024);
    if (!small.ok()) {
        if (std::getenv("IW_REQUIRE_PEERS")) FAIL() << small.why();
        GTEST_SKIP() << small.why();
    }
    setenv("INBOXWARDEN_REGISTRY", (disk + "/registry.db").c_str(), 1);
    profile_ = disk + "/P.iwpf";
    iwtest::WriteFile(dir_ + "/src.iwpf",
                      "<INBOXWARDEN6>\r\n\r\n"
                      "[HKEY_CURRENT_USER\\Software\\Corvale\\Inboxwarden\\Work]\r\n"
                      "\"ChkServer\"=\"pop\"\r\n\r\n"
                      "[HKEY_CURRENT_USER\\Software\\Corvale\\Inboxwarden\\Work\\"
                      "MsgBox]\r\n"
                      "\"7\"=\";Fm=;a@b;Rt=;;To=;;Sj=;Hello;Sz=;10;DS=; 65535 0 0 0 "
                      "0 0 0 2 ;A=;0;En=;\"\r\n");
    ASSERT_EQ(run("profile import " + dir_ + "/src.iwpf"), 0);
    small.Fill();
    const std::string store = iwtest::ReadFile(disk + "/registry.db");
    const std::string profile = iwtest::ReadFile(profile_);

    ASSERT_EQ(run("accounts"), 0) << err();
    EXPECT_EQ(out_.substr(0, 9), "Work\tpop:");
    EXPECT_NE(err().find("No space left on device for the settings store"), std::string::npos);
    ASSERT_EQ(run("box Work"), 0) << err();
    EXPECT_NE(out_.find("7\t2\t"), std::string::npos) << out_;

    EXPECT_EQ(run("account add Home"), 1);
    EXPECT_NE(err().find("could not be saved to \"" + profile_ + "\": No space left on device"),
              std::string::npos)
        << err();
    EXPECT_TRUE(iwtest::ReadFile(disk + "/registry.db") == store);
    EXPECT_EQ(iwtest::ReadFile(profile_), profile);
}

} // namespace
