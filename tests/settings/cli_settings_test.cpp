// inboxwarden-cli's settings commands, run as a user runs them: a separate
// process on the store and profile files.
#include "../support/temp_env.h"
#include "platform/instance.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
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
    static void writeFile(const std::string& path, const std::string& bytes) {
        FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_TRUE(f);
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
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
    EXPECT_EQ(run("account add ../evil"), 1);
    EXPECT_EQ(run("account add home"), 1);
    ASSERT_EQ(run("account rename Home Work"), 0);
    ASSERT_EQ(run("accounts"), 0);
    EXPECT_EQ(out_, "Work\tpop.example.org:995\tme\n");
    ASSERT_EQ(run("account delete Work"), 0);
    ASSERT_EQ(run("accounts"), 0);
    EXPECT_EQ(out_, "");
    EXPECT_EQ(run("account delete Work"), 1);
}

TEST_F(CliSettings, BoxJsonAndProfileImportExport) {
    const std::string src = dir_ + "/src.iwpf";
    FILE* f = std::fopen(src.c_str(), "wb");
    std::fputs(
        "<INBOXWARDEN6>\r\n\r\n"
        "[HKEY_CURRENT_USER\\Software\\Corvale\\Inboxwarden\\Work]\r\n"
        "\"ChkServer\"=\"pop\"\r\n\r\n"
        "[HKEY_CURRENT_USER\\Software\\Corvale\\Inboxwarden\\Work\\MsgBox]\r\n"
        "\"7\"=\";Fm=;\\\"A\\\" <a@b>;Rt=;;To=;x;Sj=;Caf\xc3\xa9;Sz=;2048;DS=; 2010 10 4 21 14 "
        "5 9 0 ;A=;1;En=;\"\r\n"
        "\"8\"=\";Fm=;;Rt=;;To=;;Sj=;;Sz=;0;DS=; 65535 0 0 0 0 0 0 2 ;A=;0;En=;\"\r\n",
        f);
    std::fclose(f);
    ASSERT_EQ(run("profile import " + src), 0);
    ASSERT_EQ(run("box Work --json"), 0);
    const auto j = nlohmann::json::parse(out_);
    ASSERT_EQ(j.size(), 2u);
    EXPECT_EQ(j[0]["MsgId"], "7");
    EXPECT_EQ(j[0]["From"], "\"A\" <a@b>");
    EXPECT_EQ(j[0]["Subject"], "Caf\u00e9");
    EXPECT_EQ(j[0]["SizeText"], "2.0KB");
    EXPECT_EQ(j[0]["Size"], 2048);
    EXPECT_EQ(j[0]["HasAttach"], 1);
    EXPECT_EQ(j[0]["Date"], "2010-10-21 14:05:09");
    EXPECT_EQ(j[0]["Status"], 1); // stored as new: unread once loaded
    EXPECT_TRUE(j[1]["Date"].is_null());
    EXPECT_EQ(j[1]["Status"], 2);

    // Listing the box changed nothing: the next listing still sees "new".
    EXPECT_NE(iwtest::ReadFile(profile_).find(" 0 ;A=;1;En=;"), std::string::npos);

    const std::string out = dir_ + "/out.iwpf";
    ASSERT_EQ(run("profile export " + out), 0);
    EXPECT_EQ(iwtest::ReadFile(out), iwtest::ReadFile(profile_));
    EXPECT_EQ(run("profile import " + dir_ + "/missing.iwpf"), 1);
    ASSERT_EQ(run("accounts"), 0);
    EXPECT_EQ(out_.substr(0, 5), "Work\t"); // a failed import changes nothing
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
        writeFile(store, c.bytes);
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
    writeFile(dir_ + "/src.iwpf", "<INBOXWARDEN6>\r\n\r\n"
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
