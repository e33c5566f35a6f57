// SPDX-License-Identifier: GPL-3.0-or-later
#include "../support/temp_env.h"
#include "settings/profile.h"
#include "settings/reg.h"

#include <gtest/gtest.h>

#include <fstream>
#include <vector>

namespace {

const std::string kRoot = REG_ROOT_PATH;

class ProfileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = iwtest::MakeTempDir("prof");
        ASSERT_EQ(RegStore_Open(dir_ + "/registry.db"), REGSTORE_OK);
    }

    HREGKEY key(const std::string& path) {
        HREGKEY k = HREGKEY_NONE;
        EXPECT_EQ(RegStore_CreateKey(HREGKEY_USER, path, &k), REGSTORE_OK);
        return k;
    }
    void setSz(const std::string& path, const std::string& name, const std::string& text) {
        ASSERT_EQ(RegStore_SetValue(key(path), name, REGTYPE_SZ,
                                    std::string_view(text.c_str(), text.size() + 1)),
                  REGSTORE_OK);
    }
    std::string sz(const std::string& path, const std::string& name) {
        HREGKEY k;
        std::string d;
        if (RegStore_OpenKey(HREGKEY_USER, path, &k) || RegStore_QueryValue(k, name, nullptr, &d))
            return "<absent>";
        return d.substr(0, d.find('\0'));
    }
    std::string raw(const std::string& path, const std::string& name) {
        HREGKEY k;
        std::string d;
        if (RegStore_OpenKey(HREGKEY_USER, path, &k) || RegStore_QueryValue(k, name, nullptr, &d))
            return "<absent>";
        return d;
    }
    std::string write(const std::string& name, const std::string& text) {
        const std::string path = dir_ + "/" + name;
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    uint32_t importBoth(const std::string& file) {
        const uint32_t rc =
            Profile_ImportSettings(file, PROFILE_MAGIC, PROFILE_ROOT_NAME, kRoot, nullptr);
        if (rc) return rc;
        return Profile_ImportMessages(file);
    }
    std::string dir_;
};

TEST_F(ProfileTest, ExportWritesTheDocumentedText) {
    setSz(kRoot, "DwnRtDir", "C:\\notes\\a \"b\"");
    setSz(kRoot, "Signature", "one\r\ntwo\nthree\rfour");
    const uint32_t port = 1080;
    RegStore_SetValue(key(kRoot), "ProxySocksParam", REGTYPE_DWORD,
                      std::string_view(reinterpret_cast<const char*>(&port), 4));
    RegStore_SetValue(key(kRoot), "Bytes", REGTYPE_BINARY, "\x01\xab");
    RegStore_SetValue(key(kRoot), "Empty", REGTYPE_BINARY, "");
    setSz(kRoot + "\\Work", "ChkServer", "pop");
    setSz(kRoot + "\\Work\\MsgBox", "u1", ";Fm=;a;En=;");
    const std::string file = dir_ + "/out.iwpf";
    ASSERT_EQ(Reg_ExportKey(PROFILE_ROOT_NAME, kRoot, true, PROFILE_MAGIC, file), 0u);
    EXPECT_EQ(iwtest::ReadFile(file),
              "<INBOXWARDEN6>\r\n\r\n"
              "[HKEY_CURRENT_USER\\Software\\Corvale\\Inboxwarden]\r\n"
              "\"DwnRtDir\"=\"C:\\\\notes\\\\a \\\"b\\\"\"\r\n"
              "\"Signature\"=\"one\\ntwo\\nthree\\nfour\"\r\n"
              "\"ProxySocksParam\"=dword:00000438\r\n"
              "\"Bytes\"=hex:01,ab\r\n"
              "\"Empty\"=hex:\r\n"
              "\r\n"
              "[HKEY_CURRENT_USER\\Software\\Corvale\\Inboxwarden\\Work]\r\n"
              "\"ChkServer\"=\"pop\"\r\n"
              "\r\n"
              "[HKEY_CURRENT_USER\\Software\\Corvale\\Inboxwarden\\Work\\MsgBox]\r\n"
              "\"u1\"=\";Fm=;a;En=;\"\r\n"
              "\r\n");
    EXPECT_EQ(Reg_ExportKey("HKEY_NOWHERE", kRoot, true, PROFILE_MAGIC, file), PROFILE_E_BAD_ROOT);
    EXPECT_EQ(Reg_ExportKey(PROFILE_ROOT_NAME, "No\\Such", true, PROFILE_MAGIC, file),
              PROFILE_E_NO_KEY);

    RegStore_DeleteTree(HREGKEY_USER, "Software");
    ASSERT_EQ(importBoth(file), 0u);
    EXPECT_EQ(sz(kRoot, "DwnRtDir"), "C:\\notes\\a \"b\"");
    EXPECT_EQ(sz(kRoot, "Signature"), "one\r\ntwo\r\nthree\r\nfour");
    EXPECT_EQ(raw(kRoot, "ProxySocksParam"), std::string("\x38\x04\0\0", 4));
    EXPECT_EQ(raw(kRoot, "Bytes"), "\x01\xab");
    EXPECT_EQ(raw(kRoot, "Empty"), "");
    EXPECT_EQ(sz(kRoot + "\\Work\\MsgBox", "u1"), ";Fm=;a;En=;");
}

TEST_F(ProfileTest, EachImportAppliesOnlyItsSections) {
    const std::string file =
        write("p.iwpf", "<INBOXWARDEN6>\r\n\r\n"
                        "[HKEY_CURRENT_USER\\Software\\Corvale\\Inboxwarden\\Work]\r\n"
                        "\"A\"=\"1\"\r\n\r\n"
                        "[HKEY_CURRENT_USER\\Software\\Corvale\\Inboxwarden\\Work\\MsgBox]\r\n"
                        "\"m\"=\"v\"\r\n\r\n"
                        "[HKEY_CURRENT_USER\\Software\\Corvale\\Inboxwarden\\FooMsgBox]\r\n"
                        "\"B\"=\"2\"\r\n");
    ASSERT_EQ(Profile_ImportSettings(file, PROFILE_MAGIC, PROFILE_ROOT_NAME, kRoot, nullptr), 0u);
    EXPECT_EQ(sz(kRoot + "\\Work", "A"), "1");
    EXPECT_EQ(sz(kRoot + "\\FooMsgBox", "B"), "2"); // an account whose name ends in MsgBox
    EXPECT_EQ(sz(kRoot + "\\Work\\MsgBox", "m"), "<absent>");
    setSz(kRoot + "\\Work", "A", "changed");
    ASSERT_EQ(Profile_ImportMessages(), 0u);
    EXPECT_EQ(sz(kRoot + "\\Work\\MsgBox", "m"), "v");
    EXPECT_EQ(sz(kRoot + "\\Work", "A"), "changed");
}

// A shared or edited profile cannot reach the vendor values or any other
// part of the store.
TEST_F(ProfileTest, SectionsOutsideTheProgramsKeyAreSkipped) {
    const std::string file =
        write("evil.iwpf", "<INBOXWARDEN6>\r\n\r\n"
                           "[HKEY_CURRENT_USER\\Software\\Corvale]\r\n"
                           "\"OptimizeStartup\"=hex:01\r\n\r\n"
                           "[HKEY_CURRENT_USER\\Software\\Corvale\\InboxwardenX]\r\n"
                           "\"A\"=\"1\"\r\n\r\n"
                           "[HKEY_LOCAL_MACHINE\\Software\\Corvale\\Inboxwarden]\r\n"
                           "\"B\"=\"1\"\r\n\r\n"
                           "[hkey_current_user\\SOFTWARE\\corvale\\inboxwarden\\Home]\r\n"
                           "\"C\"=\"1\"\r\n");
    ASSERT_EQ(importBoth(file), 0u);
    EXPECT_EQ(raw("Software\\Corvale", "OptimizeStartup"), "<absent>");
    EXPECT_EQ(sz("Software\\Corvale\\InboxwardenX", "A"), "<absent>");
    EXPECT_EQ(sz(kRoot, "B"), "<absent>");
    EXPECT_EQ(sz(kRoot + "\\Home", "C"), "1");
}

TEST_F(ProfileTest, FirstLineRules) {
    struct Case {
        const char* text;
        uint32_t result;
    } cases[] = {
        {"<INBOXWARDEN6>\r\n\r\n", 0},
        {"<INBOXWARDEN6>\n[HKEY_CURRENT_USER\\Software\\Corvale\\Inboxwarden]\n\"X\"=\"lf\"\n", 0},
        {"\xEF\xBB\xBF<INBOXWARDEN6>\r\n", 0},
        {"REGEDIT4\r\n\r\n", PROFILE_E_FORMAT},
        {"<INBOXWARDEN5>\r\n", PROFILE_E_FORMAT},
        {" <INBOXWARDEN6>\r\n", PROFILE_E_FORMAT},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Profile_ImportSettings(write("f.iwpf", c.text), PROFILE_MAGIC, PROFILE_ROOT_NAME,
                                         kRoot, nullptr),
                  c.result)
            << c.text;
    }
    EXPECT_EQ(sz(kRoot, "X"), "lf");
    EXPECT_EQ(Profile_ImportSettings(dir_ + "/missing.iwpf", PROFILE_MAGIC, PROFILE_ROOT_NAME,
                                     kRoot, nullptr),
              PROFILE_E_OPEN);
    int64_t size = -1;
    EXPECT_EQ(
        Profile_ImportSettings(write("e.iwpf", ""), PROFILE_MAGIC, PROFILE_ROOT_NAME, kRoot, &size),
        0u);
    EXPECT_EQ(size, 0);
}

TEST_F(ProfileTest, LongLinesOldCodePagesAndOddLines) {
    const std::string sig(5000, 'x');
    setSz(kRoot, "Signature", sig + "\"\\");
    const std::string file = dir_ + "/long.iwpf";
    ASSERT_EQ(Reg_ExportKey(PROFILE_ROOT_NAME, kRoot, true, PROFILE_MAGIC, file), 0u);
    RegStore_DeleteTree(HREGKEY_USER, kRoot);
    ASSERT_EQ(importBoth(file), 0u);
    EXPECT_EQ(sz(kRoot, "Signature"), sig + "\"\\");

    const std::string old = write(
        "old.iwpf", "<INBOXWARDEN6>\r\n\r\n[HKEY_CURRENT_USER\\Software\\Corvale\\Inboxwarden]\r\n"
                    "\"FullUserName\"=\"J\xfcrgen \x80 \x93q\x94\"\r\n"
                    "\"Z\"=\"a\x1a\"\r\n"
                    "; a comment\r\n"
                    "\"NoEquals\"\r\n"
                    "\"Bad\"=dword:xyz\r\n"
                    "\"Half\"=hex:0\r\n"
                    "\"Open\"=\"no end\r\n" +
                        std::string(2 << 20, 'y') + "\r\n\"After\"=\"ok\"\r\n");
    ASSERT_EQ(Profile_ImportSettings(old, PROFILE_MAGIC, PROFILE_ROOT_NAME, kRoot, nullptr), 0u);
    EXPECT_EQ(sz(kRoot, "FullUserName"), "J\u00fcrgen \u20ac \u201cq\u201d");
    EXPECT_EQ(sz(kRoot, "Z"), "a");
    EXPECT_EQ(sz(kRoot, "Bad"), "<absent>");
    EXPECT_EQ(raw(kRoot, "Half"), ""); // no complete byte pair
    EXPECT_EQ(sz(kRoot, "Open"), "<absent>");
    EXPECT_EQ(sz(kRoot, "After"), "ok");
}

// Message ids are the server's bytes: every one comes back from the profile
// exactly, and none collapses into another.
TEST_F(ProfileTest, ValueNamesKeepEveryByte) {
    const std::string box = kRoot + "\\Work\\MsgBox";
    const std::vector<std::string> ids = {"CaseId", "caseid",  "\xff\xfe\xfd", "a\rb",
                                          "l\nf",   "q\"b\\s", "J\xc3\xb6rg",  "z\x1a"};
    for (const std::string& id : ids)
        setSz(box, id, ";Fm=;" + id.substr(0, 1) + ";En=;");
    const std::string file = dir_ + "/ids.iwpf";
    ASSERT_EQ(Reg_ExportKey(PROFILE_ROOT_NAME, kRoot, true, PROFILE_MAGIC, file), 0u);
    const std::string text = iwtest::ReadFile(file);
    EXPECT_NE(text.find("\"\\xff\\xfe\\xfd\"=\";Fm=;\xff;En=;\""), std::string::npos) << text;
    EXPECT_NE(text.find("\"a\\x0db\"="), std::string::npos);

    RegStore_DeleteTree(HREGKEY_USER, "Software");
    ASSERT_EQ(importBoth(file), 0u);
    std::vector<std::string> names;
    RegStore_ForEachValue(key(box), [&](std::string_view n, uint32_t, std::string_view) {
        names.emplace_back(n);
        return true;
    });
    EXPECT_EQ(names, ids);
    EXPECT_EQ(sz(box, "\xff\xfe\xfd"), ";Fm=;\xc3\xbf;En=;"); // the text is read as Windows-1252

    // Older files hold no \xHH in names: a name keeps its bytes, \n is CR LF.
    RegStore_DeleteTree(HREGKEY_USER, "Software");
    ASSERT_EQ(importBoth(write("old.iwpf", "<INBOXWARDEN6>\r\n\r\n[HKEY_CURRENT_USER\\" + kRoot +
                                               "\\Work]\r\n\r\n[HKEY_CURRENT_USER\\" + box +
                                               "]\r\n\"J\xfcrgen\"=\"\xe9t\xe9\"\r\n"
                                               "\"a\\nb\"=\"x\"\r\n\"c:\\\\x41\"=\"y\"\r\n")),
              0u);
    EXPECT_EQ(sz(box, "J\xfcrgen"), "\xc3\xa9t\xc3\xa9");
    EXPECT_EQ(sz(box, "a\r\nb"), "x");
    EXPECT_EQ(sz(box, "c:\\x41"), "y");
}

// An export that cannot put its file in place says so (a kill half-way is
// the settings test's: the old file stays whole).
TEST_F(ProfileTest, AnExportThatCannotWriteItsFileFails) {
    setSz(kRoot, "A", "1");
    EXPECT_EQ(
        Reg_ExportKey(PROFILE_ROOT_NAME, kRoot, true, PROFILE_MAGIC, dir_ + "/no/such/dir/x.iwpf"),
        PROFILE_E_CREATE);
    // A folder where the file should be: the rename cannot replace it.
    const std::string clash = iwtest::MakeTempDir("clash");
    EXPECT_EQ(Reg_ExportKey(PROFILE_ROOT_NAME, kRoot, true, PROFILE_MAGIC, clash),
              PROFILE_E_CREATE);
}

} // namespace
