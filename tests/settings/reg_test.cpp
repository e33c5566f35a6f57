// SPDX-License-Identifier: GPL-3.0-or-later
#include "../support/temp_env.h"
#include "common/status.h"
#include "settings/reg.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

class Reg : public ::testing::Test {
  protected:
    void SetUp() override {
        path_ = iwtest::MakeTempDir("reg") + "/registry.db";
        ASSERT_EQ(RegStore_Open(path_), REGSTORE_OK);
        ASSERT_EQ(Reg_OpenRoot(&root_, REG_ROOT_PATH), 0u);
    }
    void TearDown() override { Reg_Close(root_); }
    std::string path_;
    REGKEY* root_ = nullptr;
};

TEST_F(Reg, EmptyTextDeletesAndTheDefaultStays) {
    for (uint32_t type : {REG_T_STRBUF, REG_T_STR, REG_T_PSWD}) {
        SCOPED_TRACE(type);
        ASSERT_EQ(Reg_SetValue(root_, HREGKEY_NONE, "Val", "something", 0, type), 0u);
        ASSERT_EQ(Reg_SetValue(root_, HREGKEY_NONE, "Val", "", 0, type), 0u);
        std::string s = "preset";
        char buf[16] = "preset";
        uint32_t len = sizeof buf;
        void* field = type == REG_T_STRBUF ? static_cast<void*>(buf) : &s;
        EXPECT_EQ(Reg_GetValue(root_, HREGKEY_NONE, "Val", field, &len, type), ERR_NOT_FOUND);
        EXPECT_EQ(s, "preset");
        EXPECT_STREQ(buf, "preset");
    }
    // A null field deletes too, and deleting what is absent is no failure.
    uint32_t n = 7;
    ASSERT_EQ(Reg_SetValue(root_, HREGKEY_NONE, "Num", &n, 4, REG_T_DWORD), 0u);
    EXPECT_EQ(Reg_SetValue(root_, HREGKEY_NONE, "Num", nullptr, 0, REG_T_DWORD), 0u);
    EXPECT_EQ(Reg_SetValue(root_, HREGKEY_NONE, "Num", nullptr, 0, REG_T_DWORD), 0u);
    EXPECT_EQ(Reg_GetValue(root_, HREGKEY_NONE, "Num", &n, nullptr, REG_T_DWORD), ERR_NOT_FOUND);
    EXPECT_EQ(n, 7u);
}

TEST_F(Reg, StringBufferReadsCutAndCount) {
    const std::string hundred(100, 'x');
    ASSERT_EQ(Reg_SetValue(root_, HREGKEY_NONE, "Long", hundred.c_str(), 0, REG_T_STRBUF), 0u);
    char buf[74];
    std::memset(buf, '#', sizeof buf);
    uint32_t len = sizeof buf;
    ASSERT_EQ(Reg_GetValue(root_, HREGKEY_NONE, "Long", buf, &len, REG_T_STRBUF), 0u);
    EXPECT_EQ(std::strlen(buf), 73u);
    EXPECT_EQ(len, 74u);

    // Never half a character: 72 letters and an "é" do not fit in 74 bytes
    // with the NUL, so the "é" goes whole.
    const std::string font = std::string(72, 'f') + "\u00e9";
    ASSERT_EQ(Reg_SetValue(root_, HREGKEY_NONE, "RFont", font.c_str(), 0, REG_T_STRBUF), 0u);
    len = sizeof buf;
    ASSERT_EQ(Reg_GetValue(root_, HREGKEY_NONE, "RFont", buf, &len, REG_T_STRBUF), 0u);
    EXPECT_EQ(std::string(buf), std::string(72, 'f'));
    EXPECT_EQ(len, 73u);

    // A stored length of 0 (as a profile's `"RFont"=hex:` gives) is the
    // empty text, not a write before the buffer.
    HREGKEY k = root_->key;
    ASSERT_EQ(RegStore_SetValue(k, "RFont", REGTYPE_BINARY, ""), REGSTORE_OK);
    char small[4] = "abc";
    len = sizeof small;
    ASSERT_EQ(Reg_GetValue(root_, HREGKEY_NONE, "RFont", small, &len, REG_T_STRBUF), 0u);
    EXPECT_STREQ(small, "");
    EXPECT_EQ(len, 0u);

    // The length is required: without it the field is emptied and refused.
    std::strcpy(small, "abc");
    EXPECT_EQ(Reg_GetValue(root_, HREGKEY_NONE, "Long", small, nullptr, REG_T_STRBUF), ERR_BADARG);
    EXPECT_STREQ(small, "");

    // A text stored without its NUL still reads whole.
    std::string s;
    ASSERT_EQ(RegStore_SetValue(k, "NoNul", REGTYPE_SZ, "abc"), REGSTORE_OK);
    ASSERT_EQ(Reg_GetValue(root_, HREGKEY_NONE, "NoNul", &s, nullptr, REG_T_STR), 0u);
    EXPECT_EQ(s, "abc");
}

TEST_F(Reg, NumberAndFlagReadRules) {
    const HREGKEY k = root_->key;
    RegStore_SetValue(k, "Block1", REGTYPE_BINARY, "\xC8");
    RegStore_SetValue(k, "Dword", REGTYPE_DWORD, std::string("\x01\x02\x03\x04", 4));
    RegStore_SetValue(k, "Text", REGTYPE_SZ, std::string("12\0", 3));
    RegStore_SetValue(k, "Short", REGTYPE_DWORD, "\x05");

    uint32_t v = 0xDEADBEEF;
    ASSERT_EQ(Reg_GetValue(root_, HREGKEY_NONE, "Block1", &v, nullptr, REG_T_DWORD), 0u);
    EXPECT_EQ(v, 200u); // a 1-byte block is zero-extended
    ASSERT_EQ(Reg_GetValue(root_, HREGKEY_NONE, "Dword", &v, nullptr, REG_T_DWORD), 0u);
    EXPECT_EQ(v, 0x04030201u);
    v = 99;
    ASSERT_EQ(Reg_GetValue(root_, HREGKEY_NONE, "Text", &v, nullptr, REG_T_DWORD), 0u);
    EXPECT_EQ(v, 99u); // another stored type leaves the field as it was
    ASSERT_EQ(Reg_GetValue(root_, HREGKEY_NONE, "Short", &v, nullptr, REG_T_DWORD), 0u);
    EXPECT_EQ(v, 5u); // a damaged short number reads padded, not past its end

    const uint8_t flag = 1;
    ASSERT_EQ(Reg_SetValue(root_, HREGKEY_NONE, "CleanShutdown", &flag, 0, REG_T_BOOL), 0u);
    uint32_t type = 0;
    std::string data;
    ASSERT_EQ(RegStore_QueryValue(k, "CleanShutdown", &type, &data), REGSTORE_OK);
    EXPECT_EQ(type, REGTYPE_BINARY);
    EXPECT_EQ(data, "\x01");

    const uint8_t blob[6] = {0, 1, 2, 0, 4, 5};
    ASSERT_EQ(Reg_SetValue(root_, HREGKEY_NONE, "Blob", blob, sizeof blob, REG_T_BINARY), 0u);
    uint8_t out[4] = {};
    uint32_t len = sizeof out;
    ASSERT_EQ(Reg_GetValue(root_, HREGKEY_NONE, "Blob", out, &len, REG_T_BINARY), 0u);
    EXPECT_EQ(len, 4u);
    EXPECT_EQ(std::memcmp(out, blob, 4), 0);
    EXPECT_EQ(Reg_GetValue(root_, HREGKEY_NONE, "Blob", out, nullptr, REG_T_BINARY), ERR_BADARG);
}

TEST_F(Reg, FailedWritesAreReportedNotSwallowed) {
    HREGKEY acc = HREGKEY_NONE;
    ASSERT_EQ(Reg_OpenSubKey(root_, "Doomed", &acc), 0u);
    ASSERT_EQ(Reg_DeleteKey(root_, "Doomed"), 0u);
    const uint32_t v = 1;
    EXPECT_EQ(Reg_SetValue(root_, acc, "ChkPort", &v, 4, REG_T_DWORD), ERR_OPERATION);
    EXPECT_EQ(Reg_SetValue(root_, acc, "Password", "pw", 0, REG_T_PSWD), ERR_OPERATION);
}

TEST_F(Reg, PasswordScrambling) {
    // The exact stored bytes: profiles and stores written earlier rely on them.
    EXPECT_EQ(Reg_ScramblePassword("ab"), std::string("\x16\x14\x26\x24", 4));
    EXPECT_EQ(Reg_ScramblePassword("\xE9"), std::string("\xFE\x94", 2));
    std::string sixteenth(16, 'A');
    const std::string s = Reg_ScramblePassword(sixteenth);
    EXPECT_EQ(static_cast<unsigned char>(s[30]), 0x04); // position 15: nibble (15 + 1) % 16 = 0
    EXPECT_EQ(static_cast<unsigned char>(s[31]), 0x15); // (15 + 65) >> 4 = 5

    // The inverse and damaged stored bytes are the password fuzz target's.

    ASSERT_EQ(Reg_SetValue(root_, HREGKEY_NONE, "Password", "s3cr\xc3\xa9t-hunter2", 0, REG_T_PSWD),
              0u);
    std::string back;
    uint32_t len = 0;
    ASSERT_EQ(Reg_GetValue(root_, HREGKEY_NONE, "PASSWORD", &back, &len, REG_T_PSWD), 0u);
    EXPECT_EQ(back, "s3cr\xc3\xa9t-hunter2");
    EXPECT_EQ(len, back.size());
    RegStore_Flush(root_->key);
    EXPECT_EQ((iwtest::ReadFile(path_) + iwtest::ReadFile(path_ + "-wal")).find("hunter2"),
              std::string::npos);
}

TEST_F(Reg, KeysEnumerateAndDeleteAsBranches) {
    for (const char* name : {"work", "Home", "ALPHA"}) {
        HREGKEY k;
        ASSERT_EQ(Reg_OpenSubKey(root_, name, &k), 0u);
        HREGKEY box;
        ASSERT_EQ(RegStore_CreateKey(k, "MsgBox", &box), REGSTORE_OK);
        RegStore_SetValue(box, "id", REGTYPE_SZ, "x");
        Reg_CloseSubKey(root_, k);
    }
    uint32_t n = 0, maxLen = 0;
    ASSERT_EQ(Reg_QueryInfo(root_, &n, &maxLen), 0u);
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(maxLen, 5u);
    std::string name;
    std::vector<std::string> names;
    for (uint32_t i = 0; Reg_EnumKey(root_, i, &name) == 0; ++i)
        names.push_back(name);
    EXPECT_EQ(names, (std::vector<std::string>{"ALPHA", "Home", "work"}));
    EXPECT_EQ(Reg_EnumKey(root_, 3, &name), ERR_OPERATION);

    EXPECT_EQ(Reg_DeleteKey(root_, "HOME"), 0u);
    EXPECT_EQ(Reg_Exists(0, 0, std::string(REG_ROOT_PATH) + "\\home"), 0u);
    EXPECT_EQ(Reg_Exists(0, 0, std::string(REG_ROOT_PATH) + "\\WORK\\msgbox"), 1u);
    // Deleting what does not exist is success and has nothing to tell.
    std::string why;
    EXPECT_EQ(Reg_DeleteBranch(root_->key, "Home", &why), 0u);
    EXPECT_EQ(Reg_DeleteBranch(root_->key, "No\\Such\\Branch", &why), 0u);
    EXPECT_EQ(why, "");
}

} // namespace
