// The harness's reading of the peers' environment file. How the servers
// themselves behave is checked by every real-peer test, through the
// program's own clients.
#include "support/real_peers.h"
#include "support/temp_env.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
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

TEST(PeersEnvFile, MissingServersSkipUnlessRequiredAndDeadServersFail) {
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
    {
        std::ofstream(dir + "/na.env") << "IW_PEERS_UNAVAILABLE='/usr/sbin/dovecot is not "
                                          "installed'\n";
        ScopedEnv env("IW_PEERS_ENV", (dir + "/na.env").c_str());
        EXPECT_FALSE(iwtest::RealPeers::Open(&why, &fatal));
        EXPECT_FALSE(fatal);
        EXPECT_NE(why.find("/usr/sbin/dovecot is not installed"), std::string::npos) << why;
    }
    {
        std::ofstream(dir + "/dead.env")
            << "IW_PEERS_WORKDIR=" << dir << "\nIW_PEERS_SCRIPTS=" << dir
            << "\nIW_POP3_PORT=1\nIW_SOCKS_PORT=2\nIW_SMTP_PORT=3\nIW_DOVECOT_PID=2147483600\n"
               "IW_SOCKS_PID=2147483601\nIW_SMTP_PID=2147483602\nIW_PEERS_USERS='test:secret'\n";
        ScopedEnv env("IW_PEERS_ENV", (dir + "/dead.env").c_str());
        EXPECT_FALSE(iwtest::RealPeers::Open(&why, &fatal));
        EXPECT_TRUE(fatal);
        EXPECT_NE(why.find("dovecot (pid 2147483600"), std::string::npos) << why;
    }
}

} // namespace
