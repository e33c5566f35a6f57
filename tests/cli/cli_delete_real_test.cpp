// inboxwarden-cli delete end to end: the built program against a private
// Dovecot, on its own store and profile.
#include "../support/temp_env.h"
#include "support/real_peers.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

class CliDelete : public iwtest::RealPeersTest {
  protected:
    void SetUp() override {
        RealPeersTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        server_ = peers().StartPop3();
        dir_ = iwtest::MakeTempDir("clidelete");
        setenv("INBOXWARDEN_REGISTRY", (dir_ + "/registry.db").c_str(), 1);
        profile_ = dir_ + "/P.iwpf";
    }
    int run(const std::string& args, const std::string& input = "") {
        return iwtest::RunCli(IW_CLI, profile_, args, input, dir_, &out_);
    }
    std::string err() { return iwtest::ReadFile(dir_ + "/err"); }
    std::unique_ptr<iwtest::PrivatePop3> server_;
    std::string dir_, profile_, out_;
};

TEST_F(CliDelete, DeletesNamedIdsWithAPromptedPasswordAndKeepsTheRest) {
    ASSERT_EQ(run("account add Alpha ChkServer=127.0.0.1 ChkPort=" +
                  std::to_string(server_->port()) + " ChkLogin=test ChkTmout=10 ChkPswdType=2"),
              0)
        << err();
    server_->SeedMaildir("test", 3);
    ASSERT_EQ(run("check Alpha --password-stdin", "secret\n"), 0) << out_ << err();

    using iwtest::SeededUidl;
    ASSERT_EQ(run("delete Alpha " + SeededUidl(1) + " " + SeededUidl(3) + " --password-stdin",
                  "secret\n"),
              0)
        << err();
    EXPECT_EQ(out_, SeededUidl(1) + "\n" + SeededUidl(3) + "\n");
    ASSERT_EQ(run("box Alpha --json"), 0);
    const auto box = nlohmann::json::parse(out_);
    ASSERT_EQ(box.size(), 1u) << out_;
    EXPECT_NE(box.dump().find(SeededUidl(2)), std::string::npos) << out_;

    // Gone already: nothing deleted, the user is told, the status says so.
    EXPECT_EQ(run("delete Alpha " + SeededUidl(1) + " --password-stdin", "secret\n"), 1);
    EXPECT_EQ(out_, "");
    EXPECT_NE(err().find("inboxwarden-cli: Message is already gone."), std::string::npos) << err();

    // No password: nothing is sent.
    EXPECT_EQ(run("delete Alpha " + SeededUidl(2) + " --password-stdin", ""), 1);
    EXPECT_NE(err().find("no password"), std::string::npos) << err();

    EXPECT_EQ(run("delete Alpha"), 2);
    EXPECT_EQ(run("delete Nobody x"), 1);
}

} // namespace
