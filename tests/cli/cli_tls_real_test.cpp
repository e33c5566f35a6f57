// SPDX-License-Identifier: GPL-3.0-or-later
// inboxwarden-cli with the account security values: `account set` takes and
// checks them (ports follow the choice), and `check` shows why a server's
// certificate was refused, with the fingerprint a user may then pin.
#include "../support/temp_env.h"
#include "support/real_peers.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

namespace {

using iwtest::TestPki;

class CliTls : public iwtest::RealPeersTest {
  protected:
    // Before the first run: the program finds the test CA through the
    // environment it inherits.
    static void SetUpTestSuite() { TestPki::Get(); }
    void SetUp() override {
        RealPeersTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        dir_ = iwtest::MakeTempDir("clitls");
        setenv("INBOXWARDEN_REGISTRY", (dir_ + "/registry.db").c_str(), 1);
        profile_ = dir_ + "/P.iwpf";
    }
    int run(const std::string& args, const std::string& input = "") {
        return iwtest::RunCli(IW_CLI, profile_, args, input, dir_, &out_);
    }
    std::string portOf(const std::string& name) {
        EXPECT_EQ(run("accounts"), 0);
        const size_t at = out_.find(name + "\t");
        if (at == std::string::npos) return "";
        const size_t colon = out_.find(':', at);
        return out_.substr(colon + 1, out_.find('\t', colon) - colon - 1);
    }
    std::string dir_, profile_, out_;
};

TEST_F(CliTls, SecurityFieldsAreCheckedAndPortsFollowOnlyTheirDefaults) {
    ASSERT_EQ(run("account add A ChkServer=pop.example ChkSecurity=2 SendSecurity=1"), 0)
        << iwtest::ReadFile(dir_ + "/err");
    EXPECT_EQ(portOf("A"), "995");
    ASSERT_EQ(run("account set A ChkSecurity=1"), 0);
    EXPECT_EQ(portOf("A"), "110");
    ASSERT_EQ(run("account set A ChkPort=1995 ChkSecurity=2"), 0);
    EXPECT_EQ(portOf("A"), "1995") << "a port the user set stays";
    ASSERT_EQ(run("account set A ChkSecurity=0"), 0);
    EXPECT_EQ(portOf("A"), "1995");

    for (const std::string& bad :
         std::vector<std::string>{"ChkSecurity=3", "SendSecurity=-1", "ChkCertPolicy=2",
                                  "ChkCertPin=abc", "SendCertPin=" + std::string(64, 'g')})
        EXPECT_EQ(run("account set A " + bad), 2) << bad;
}

// TLS is loaded only when an account needs it: without the library a TLS
// account fails and says why, and the others are checked as ever.
TEST_F(CliTls, WithoutTheTlsLibraryOnlyTheTlsAccountFailsAndSaysWhy) {
    iwtest::Pop3Options opt;
    opt.users = "tls:tlspw";
    opt.tls = true;
    opt.tls_cert = TestPki::Get().Cert("good");
    opt.tls_key = TestPki::Get().Key("good");
    const auto server = peers().StartPop3(opt);
    server->SeedMaildir("tls", 2);
    for (const auto& [name, port, security] :
         {std::tuple{"Plain", server->port(), 0}, std::tuple{"Secure", server->tls_port(), 2}})
        ASSERT_EQ(run("account add " + std::string(name) + " ChkServer=127.0.0.1 ChkPort=" +
                          std::to_string(port) + " ChkSecurity=" + std::to_string(security) +
                          " ChkLogin=tls --chk-password-stdin",
                      "tlspw\n"),
                  0)
            << iwtest::ReadFile(dir_ + "/err");
    // A file of that name that is no library: the loader finds it first.
    std::filesystem::create_directory(dir_ + "/nolib");
    iwtest::WriteFile(dir_ + "/nolib/libssl.so.3", "");
    setenv("LD_LIBRARY_PATH", (dir_ + "/nolib").c_str(), 1);
    const int rc = run("check All");
    unsetenv("LD_LIBRARY_PATH");
    EXPECT_EQ(rc, 1);
    EXPECT_NE(out_.find("Plain\tOK"), std::string::npos) << out_;
    EXPECT_NE(out_.find("Secure\t"), std::string::npos) << out_;
    EXPECT_NE(out_.find("TLS is not available"), std::string::npos) << out_;
    EXPECT_EQ(run("check Secure"), 0) << out_ << iwtest::ReadFile(dir_ + "/err");
}

} // namespace
