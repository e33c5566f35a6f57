// SPDX-License-Identifier: GPL-3.0-or-later
// The harness's reading of the peers' environment file. How the servers
// themselves behave is checked by every real-peer test, through the
// program's own clients.
#include "support/real_peers.h"
#include "support/temp_env.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

namespace {

class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    ~ScopedEnv() { old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_); }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

// Under IW_REQUIRE_PEERS=1 (scripts/test) every failure to open the servers
// fails the test instead of skipping it; without it, missing servers skip.
TEST(PeersEnvFile, MissingServersSkipUnlessRequired) {
    const std::string dir = iwtest::MakeTempDir("env");
    std::string why;
    bool fatal = false;
    ScopedEnv require("IW_REQUIRE_PEERS", nullptr);
    {
        ScopedEnv env("IW_PEERS_ENV", (dir + "/absent.env").c_str());
        EXPECT_FALSE(iwtest::RealPeers::Open(&why, &fatal));
        EXPECT_FALSE(fatal);
        EXPECT_NE(why.find("absent.env"), std::string::npos) << why;

        ScopedEnv required("IW_REQUIRE_PEERS", "1");
        EXPECT_FALSE(iwtest::RealPeers::Open(&why, &fatal));
        EXPECT_TRUE(fatal);
    }
}

} // namespace
