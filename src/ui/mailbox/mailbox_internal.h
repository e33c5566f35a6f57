// SPDX-License-Identifier: GPL-3.0-or-later
// What the MailBox model's source files share: how they keep away from the
// check worker, and a few texts.
#pragma once

#include "common/translate.h"
#include "engine/mailcheck.h"
#include "platform/registry.h"
#include "platform/user_message.h"
#include "settings/account.h"
#include "settings/globaldata.h"
#include "ui/mailbox/mailbox_model.h"

#include <optional>

namespace mailbox {

inline constexpr const char* kProgram = "Inboxwarden";

inline MAILBOX_NOTICE BusyNotice() {
    return {"Error", IW_N_("Inboxwarden", "MailBox is busy."), UM_OK | UM_ICONERROR};
}

// A global setting by number; nullopt when it is not set (or not loaded).
inline std::optional<int64_t> Param(int number) {
    intptr_t v = 0;
    if (GlobalData_GetParam(number, &v) != 0) return std::nullopt;
    return static_cast<int64_t>(v);
}

// Holds the check queue's lock for a scope. While it is held the worker can
// move neither to another account nor to the recount of every box that ends
// its run, so what BoxBusy() answered stays true for the scope. Never held
// across an event loop: the worker takes the lock between accounts.
class QueueHold {
  public:
    QueueHold() : ok_(Queue_Lock()) {}
    ~QueueHold() {
        if (ok_) Queue_Unlock();
    }
    QueueHold(const QueueHold&) = delete;
    QueueHold& operator=(const QueueHold&) = delete;
    bool ok() const { return ok_; }

  private:
    bool ok_;
};

// Whether the worker may touch account `index`'s box (inside a QueueHold):
// it is queued or being checked, or a run is on that checks no account right
// now, which is starting or walking every box at its end.
inline bool BoxBusy(const QueueHold& hold, int index) {
    if (!hold.ok() || MailCheck_IsBusy(index)) return true;
    if (!MailCheck_IsRunning()) return false;
    for (int i = 0; i < Account_GetCount(); ++i)
        if (MailCheck_IsBusy(i)) return false;
    return true;
}

// The worker is inside the account's check (inside a QueueHold): its box
// must not even be read.
inline bool BeingChecked(const QueueHold& hold, int index) {
    return !hold.ok() || (MailCheck_IsBusy(index) && !Queue_Contains(index));
}

inline int AccountIndex(const ACCOUNT* account) {
    int index = -1;
    return account && Account_IndexOf(account, &index) == 0 ? index : -1;
}

// One pass that changes many records: the store writes commit together.
// Writes that failed are taken once afterwards (afterRowChanges).
struct BulkWrite {
    RegStoreBatch batch;
};

} // namespace mailbox

// The selected account when a command may change its box.
struct MailBoxModel::Target {
    ACCOUNT* account;
    MSGBOX* box;
};
