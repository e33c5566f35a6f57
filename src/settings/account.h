// The account record: one POP3 mailbox with its outgoing server, user
// information, check timing and message box. Stored fields are named like
// their values under the account's key of the settings tree; runtime fields
// are never stored.
#pragma once

#include "common/datetime.h"

#include <array>
#include <cstdint>
#include <string>

struct MSGBOX;
using MSGBOX_HANDLE = MSGBOX*;
struct FILTER;
using FILTER_HANDLE = FILTER*;

inline constexpr int ACCOUNT_LASTSTAT_SIZE = 64;
inline constexpr int ACCOUNT_STATUSTEXT_SIZE = 96;

struct ACCOUNT {
    // The account's name: its key in the account table and in the settings
    // tree. Kept here as well so that a record can name its own store key.
    std::string Name;

    // ---- Stored fields, in record order ------------------------------------
    std::string FullUserName;
    std::string Email;
    std::string ReplyAdr;
    std::string Signature;
    uint8_t AutoApplySig = 0;
    std::string ChkServer;
    int32_t ChkPort = 110;
    int32_t ChkTmout = 30; // seconds
    std::string ChkLogin;
    std::string ChkPswd;     // only while ChkPswdType is 0
    int32_t ChkAuthType = 0; // 1 = APOP, otherwise USER/PASS
    int32_t ChkPswdType = 0; // 0 saved, 1 asked once per run, 2 asked at every check
    std::string SendServer;
    int32_t SendPort = 25;
    int32_t SendTmout = 30;
    std::string SendLogin;
    std::string SendPswd;
    uint8_t SendSecured = 0;
    int32_t SendAuthType = 0;
    int32_t SendPswdType = 0;
    uint8_t DontCleanOldMsgs = 0;
    uint8_t CheckIt = 1;
    uint8_t UseSchedule = 0;
    int32_t ChkTime = 10; // minutes
    std::array<uint16_t, 25> Schedule{};
    std::string MailClnt;
    std::string NewMailSnd;
    std::string DownloadDir;
    char LastSTAT[ACCOUNT_LASTSTAT_SIZE] = {};
    int32_t PendingDeletes = 0;

    // ---- Runtime fields ----------------------------------------------------
    FILTER_HANDLE FilterHandle = nullptr;
    MSGBOX_HANDLE hMsgBox = nullptr;
    DATETIME TimerBase = DateTime_Missing();
    DATETIME LastCheck = DateTime_Missing();
    int32_t TimerState = 555;
    int32_t CheckResult = 1; // 0 success, 1 no check yet or skipped, 2 time-out, 3 error
    char StatusText[ACCOUNT_STATUSTEXT_SIZE] = {};
    // The POP3 password typed at a prompt, kept for the rest of the run when
    // ChkPswdType is 1. Never stored.
    std::string RememberedChkPswd;
};

// Clears the stored part of a record and sets the defaults of a new account.
void Account_SetDefaults(ACCOUNT* account);

// "PLAIN", "LOGIN", "CRAM_MD5", or "Unknown SMTP authorization type".
const char* SmtpAuthTypeName(int32_t value);
