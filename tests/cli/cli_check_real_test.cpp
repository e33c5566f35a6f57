// SPDX-License-Identifier: GPL-3.0-or-later
// inboxwarden-cli check end to end: the built program, run as a user runs it,
// against a private Dovecot, on its own store and profile.
#include "../support/temp_env.h"
#include "support/real_peers.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

class CliCheck : public iwtest::RealPeersTest {
  protected:
    void SetUp() override {
        RealPeersTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        iwtest::Pop3Options opt;
        opt.users = "u1:secret u2:secret";
        server_ = peers().StartPop3(opt);
        dir_ = iwtest::MakeTempDir("clicheck");
        setenv("INBOXWARDEN_REGISTRY", (dir_ + "/registry.db").c_str(), 1);
        profile_ = dir_ + "/P.iwpf";
    }
    int run(const std::string& args, const std::string& input = "") {
        return iwtest::RunCli(IW_CLI, profile_, args, input, dir_, &out_);
    }
    void addAccount(const std::string& name, const std::string& login, int port,
                    const std::string& extra = "") {
        ASSERT_EQ(run("account add " + name +
                          " ChkServer=127.0.0.1 ChkPort=" + std::to_string(port) +
                          " ChkLogin=" + login + " ChkTmout=10 " + extra + " --chk-password-stdin",
                      "secret\n"),
                  0)
            << iwtest::ReadFile(dir_ + "/err");
    }
    std::unique_ptr<iwtest::PrivatePop3> server_;
    std::string dir_, profile_, out_;
};

TEST_F(CliCheck, AllWithJsonThenUnchanged) {
    addAccount("Alpha", "u1", server_->port());
    addAccount("Beta", "u2", server_->port(), "ChkPswdType=2");
    server_->SeedMaildir("u1", 3);
    server_->SeedMaildir("u2", 2);

    ASSERT_EQ(run("check All --json --password-stdin", "secret\n"), 0)
        << out_ << iwtest::ReadFile(dir_ + "/err");
    const auto j = nlohmann::json::parse(out_);
    ASSERT_EQ(j["accounts"].size(), 2u) << out_;
    const auto& a = j["accounts"][0];
    EXPECT_EQ(a["name"], "Alpha");
    EXPECT_EQ(a["result"], "OK");
    EXPECT_EQ(a["CheckResult"], 0);
    EXPECT_EQ(a["counts"]["new"], 3);
    const auto& b = j["accounts"][1];
    EXPECT_EQ(b["name"], "Beta");
    EXPECT_EQ(b["counts"]["new"], 2) << "password read from standard input";

    // The records reached the profile.
    ASSERT_EQ(run("box Alpha --json"), 0);
    EXPECT_EQ(nlohmann::json::parse(out_).size(), 3u);

    // A password that cannot be had fails that account only.
    ASSERT_EQ(run("check All --json --password-stdin", ""), 1);
    const auto k = nlohmann::json::parse(out_);
    EXPECT_EQ(k["accounts"][0]["CheckResult"], 0);
    EXPECT_EQ(k["accounts"][0]["counts"]["new"], 0) << "announced mail is not new again";
    EXPECT_EQ(k["accounts"][1]["result"], "ERR_NOT_READY");
    EXPECT_EQ(k["accounts"][1]["CheckResult"], 3);
}

// Checks that find the boxes as the server has them rewrite nothing: the
// profile stays as it is, with the tree rebuilt at each start or kept.
TEST_F(CliCheck, SteadyChecksLeaveTheProfileAlone) {
    addAccount("Alpha", "u1", server_->port());
    addAccount("Beta", "u2", server_->port());
    server_->SeedMaildir("u1", 4);
    server_->SeedMaildir("u2", 3);
    const auto check = [&] {
        ASSERT_EQ(run("check All"), 0) << out_ << iwtest::ReadFile(dir_ + "/err");
    };
    check(); // new mail
    check(); // announced mail becomes unread: a change
    for (const char* optimize : {"0", "1"}) {
        ASSERT_EQ(run(std::string("options set OptimizeStartup=") + optimize), 0);
        check(); // the option reaches the store's vendor value
        const std::string before = iwtest::ReadFile(profile_);
        const auto stamp = std::filesystem::last_write_time(profile_);
        check();
        check();
        EXPECT_EQ(std::filesystem::last_write_time(profile_), stamp) << optimize;
        EXPECT_TRUE(iwtest::ReadFile(profile_) == before);
    }
    server_->SeedMaildir("u2", 1, {.names = "late-"}); // the others are gone
    check();
    ASSERT_EQ(run("box Beta --json"), 0);
    const auto box = nlohmann::json::parse(out_);
    ASSERT_EQ(box.size(), 1u) << out_;
    EXPECT_EQ(box[0]["MsgId"], "late-000001") << "the change reaches the profile";
}

// The shipped filter plug-in, found beside the program with no variable
// pointing at it, applies rules that came with the profile.
TEST_F(CliCheck, ShippedFilterRulesFromTheProfile) {
    unsetenv("INBOXWARDEN_PLUGIN_DIR");
    addAccount("Alpha", "u1", server_->port());
    auto msg = [](const std::string& from, const std::string& subject) {
        return "From: " + from +
               "\r\nDate: Thu, 21 Oct 2010 14:05:09 +0000\r\nSubject: " + subject +
               "\r\n\r\nbody\r\n";
    };
    server_->SeedMessages("u1",
                          {msg("x@spam.example", "buy"), msg("a@shop.example", "[Invoice] 7"),
                           msg("news@lists.example", "weekly"), msg("me@home.example", "hi")});
    // As the profile file keeps them: the rule file as one text value.
    const std::string root = "[HKEY_CURRENT_USER\\Software\\Corvale\\Inboxwarden";
    std::string profile = iwtest::ReadFile(profile_);
    profile += root + "]\r\n\"DwnRtDir\"=\"" + dir_ + "/down\"\r\n\r\n" + root +
               "\\Alpha]\r\n\"FilterRules\"=\"Inboxwarden filter rules 1\\n"
               "From\tcontains\tnocase\tdelete\t@spam.example\\n"
               "Subject\tstarts\tnocase\tsave\t[invoice]\\n"
               "From\tregex\tnocase\tquiet\t^news@\\\\w+\\\\.example$\\n\"\r\n\r\n";
    iwtest::WriteFile(profile_, profile);

    ASSERT_EQ(run("check Alpha --json --password-stdin", "secret\n"), 0)
        << out_ << iwtest::ReadFile(dir_ + "/err");
    ASSERT_EQ(run("box Alpha --json"), 0);
    const auto box = nlohmann::json::parse(out_);
    ASSERT_EQ(box.size(), 3u) << out_;
    EXPECT_EQ(box[0]["Subject"], "[Invoice] 7");
    EXPECT_EQ(box[1]["Subject"], "weekly");
    EXPECT_EQ(box[1]["Status"], 7) << "quiet";
    EXPECT_NE(box[2]["Status"], 7);
    EXPECT_EQ(iwtest::ReadFile(dir_ + "/down/Alpha/101021-140509-[Invoice] 7-" +
                               iwtest::SeededUidl(2) + ".eml"),
              msg("a@shop.example", "[Invoice] 7"));
    size_t onServer = 0;
    for (const char* sub : {"/cur", "/new"})
        for (const auto& e : std::filesystem::directory_iterator(server_->Maildir("u1") + sub))
            onServer += e.is_regular_file();
    EXPECT_EQ(onServer, 3u) << "the spam is deleted on the server";
}

} // namespace
