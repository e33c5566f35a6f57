// inboxwarden-cli check saves what the filter asks to keep, into the folder
// of the profile's download root, as the tray program does.
#include "../support/temp_env.h"
#include "support/real_peers.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

class CliSave : public iwtest::RealPeersTest {
  protected:
    int run(const std::string& args, const std::string& input = "") {
        return iwtest::RunCli(IW_CLI, profile_, args, input, dir_, &out_);
    }
    std::string dir_, profile_, out_;
};

TEST_F(CliSave, CheckWritesTheFilesTheFilterKeeps) {
    dir_ = iwtest::MakeTempDir("clisave");
    setenv("INBOXWARDEN_REGISTRY", (dir_ + "/registry.db").c_str(), 1);
    setenv("INBOXWARDEN_PLUGIN_DIR", IW_TEST_FILTER_DIR, 1);
    profile_ = dir_ + "/P.iwpf";
    const auto& user = peers().user();
    ASSERT_EQ(
        run("account add Alpha ChkServer=127.0.0.1 ChkPort=" + std::to_string(peers().pop3_port()) +
                " ChkLogin=" + user.name + " ChkTmout=10 --chk-password-stdin",
            user.password + "\n"),
        0)
        << iwtest::ReadFile(dir_ + "/err");

    // The download root is a global option; a bad one changes nothing.
    const std::string down = dir_ + "/down";
    EXPECT_EQ(run("options set DwnRtDir=" + down + " NoSuchOption=1"), 2);
    EXPECT_EQ(run("options set NewMailVisual=7"), 2);
    EXPECT_EQ(run("options set AttachCheck=yes"), 2);
    ASSERT_EQ(run("options"), 0);
    EXPECT_NE(out_.find("\nDwnRtDir=\n"), std::string::npos) << out_;
    ASSERT_EQ(run("options set dwnrtdir=" + down + " 'Check On Start=0'"), 0)
        << iwtest::ReadFile(dir_ + "/err");
    ASSERT_EQ(run("options"), 0);
    EXPECT_NE(out_.find("\nDwnRtDir=" + down + "\n"), std::string::npos) << out_;
    EXPECT_NE(out_.find("ProxySocksParam=0x05000438\n"), std::string::npos) << out_;

    peers().SeedMessages(user.name, {"X-Test-Action: 0x11\r\nSubject: keep me\r\n\r\nkept\r\n",
                                     "Subject: plain\r\n\r\nnot kept\r\n"});
    ASSERT_EQ(run("check Alpha"), 0) << iwtest::ReadFile(dir_ + "/err");
    const std::string file =
        down + "/Alpha/000000-000000-keep me-" + iwtest::SeededUidl(1) + ".eml";
    EXPECT_EQ(iwtest::ReadFile(file), "X-Test-Action: 0x11\r\nSubject: keep me\r\n\r\nkept\r\n")
        << iwtest::ReadFile(dir_ + "/err");
    std::error_code ec;
    EXPECT_EQ(std::distance(fs::directory_iterator(down + "/Alpha", ec), fs::directory_iterator()),
              1);
}

} // namespace
