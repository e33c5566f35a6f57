// inboxwarden-cli check end to end: the built program, run as a user runs it,
// against a private Dovecot, on its own store and profile.
#include "../support/temp_env.h"
#include "support/real_peers.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
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

} // namespace
