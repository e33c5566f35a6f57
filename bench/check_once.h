// SPDX-License-Identifier: GPL-3.0-or-later
// One account check the way the worker runs it (reset, begin, check, end),
// for the benchmarks that time or weigh a check.
#pragma once

#include "engine/pop3acc.h"
#include "net/pop3.h"
#include "settings/msgbox.h"

#include <cstdint>

inline uint32_t Bench_CheckOnce(ACCOUNT& acc) {
    Pop3_ResetCheckState();
    acc.PendingDeletes = MsgBox_BeginCheck(acc.hMsgBox, 0, &acc);
    CheckRequest req;
    req.flags = CHECK_TIMED;
    req.account = &acc;
    const uint32_t rc = Pop3Acc_Check(&req, nullptr, nullptr);
    MsgBox_EndCheck(acc.hMsgBox, static_cast<int>(rc), &acc);
    return rc;
}
