// SPDX-License-Identifier: GPL-3.0-or-later
// Runs account checks the way the mail-check engine brackets them, for the
// account-check tests against fake and real servers.
#pragma once

#include "common/status.h"
#include "engine/pop3acc.h"
#include "net/pop3.h"
#include "settings/account.h"
#include "settings/msgbox.h"

#include <string>
#include <vector>

namespace iwtest {

struct CheckOutcome {
    uint32_t rc = 0;
    std::string error; // Pop3_GetLastError
};

// BeginCheck, Pop3Acc_Check, RollbackCheck on "unchanged", EndCheck; the
// account's CheckResult follows the result as the engine sets it.
inline CheckOutcome RunCheck(ACCOUNT& acc, uint32_t flags = CHECK_TIMED,
                             const CHECK_SETTINGS& settings = {}) {
    Pop3_ResetCheckState();
    acc.PendingDeletes = MsgBox_BeginCheck(acc.hMsgBox, acc.DontCleanOldMsgs, &acc);
    CheckRequest req;
    req.flags = flags;
    req.account = &acc;
    req.settings = settings;
    CheckOutcome out;
    out.rc = Pop3Acc_Check(&req, nullptr, nullptr);
    if (out.rc == CHECK_UNCHANGED) MsgBox_RollbackCheck(acc.hMsgBox);
    MsgBox_EndCheck(acc.hMsgBox, static_cast<int>(out.rc), &acc);
    acc.CheckResult = Pop3Acc_CheckResult(out.rc);
    char text[96];
    Pop3_GetLastError(text, sizeof text);
    out.error = text;
    return out;
}

// Fetches one message by its id into *result, as the viewer asks for it.
inline uint32_t FetchOne(ACCOUNT& acc, const std::string& id, GrowBuffer* result,
                         uint32_t flags = CHECK_FETCH_ONE | CHECK_FETCH_NO_SAVE) {
    CheckRequest req;
    req.flags = flags;
    req.account = &acc;
    req.targetId = id;
    req.result = result;
    Pop3_ResetCheckState();
    return Pop3Acc_Check(&req, nullptr, nullptr);
}

// Points the account at a POP3 server on loopback.
inline void UseServer(ACCOUNT& acc, const std::string& name, uint16_t port,
                      const std::string& login, const std::string& password, int timeout = 10) {
    acc.Name = name;
    acc.ChkServer = "127.0.0.1";
    acc.ChkPort = port;
    acc.ChkLogin = login;
    acc.ChkPswd = password;
    acc.ChkTmout = timeout;
}

inline std::vector<std::string> BoxIds(ACCOUNT& acc) {
    std::vector<std::string> ids;
    for (int i = 0; i < MsgBox_GetCount(acc.hMsgBox); ++i)
        ids.push_back(MsgBox_GetMsg(acc.hMsgBox, i)->MsgId().c_str());
    return ids;
}

inline MSG_RECORD* Find(ACCOUNT& acc, const std::string& id) {
    int index;
    return MsgBox_FindMsg(acc.hMsgBox, id.c_str(), &index);
}

} // namespace iwtest
