// inboxwarden-cli check saves what the filter asks to keep, into the folder
// of the profile's download root, as the tray program does.
#include "../support/temp_env.h"
#include "support/real_peers.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

class CliSave : public iwtest::RealPeersTest {
  protected:
    int run(const std::string& args, const std::string& input = "") {
        const std::string cmd = "printf '" + input + "' | '" + IW_CLI + "' --profile:" + profile_ +
                                " " + args + " >/dev/null 2>" + dir_ + "/err";
        const int status = std::system(cmd.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string dir_, profile_;
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
            user.password + "\\n"),
        0)
        << iwtest::ReadFile(dir_ + "/err");

    // The download root is a global value of the profile.
    const std::string down = dir_ + "/down";
    std::string profile = iwtest::ReadFile(profile_);
    const std::string root = "[HKEY_CURRENT_USER\\Software\\Corvale\\Inboxwarden]\r\n";
    const size_t at = profile.find(root);
    ASSERT_NE(at, std::string::npos) << profile;
    profile.insert(at + root.size(), "\"DwnRtDir\"=\"" + down + "\"\r\n");
    FILE* f = std::fopen(profile_.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(profile.data(), 1, profile.size(), f);
    std::fclose(f);

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
