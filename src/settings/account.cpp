#include "settings/account.h"

void Account_SetDefaults(ACCOUNT* account) {
    if (!account) return;
    ACCOUNT fresh;
    fresh.Name = std::move(account->Name);
    fresh.FilterHandle = account->FilterHandle;
    fresh.hMsgBox = account->hMsgBox;
    fresh.TimerBase = account->TimerBase;
    fresh.LastCheck = account->LastCheck;
    fresh.TimerState = account->TimerState;
    fresh.CheckResult = account->CheckResult;
    std::copy(std::begin(account->StatusText), std::end(account->StatusText),
              std::begin(fresh.StatusText));
    fresh.RememberedChkPswd = std::move(account->RememberedChkPswd);
    *account = std::move(fresh);
}

const char* SmtpAuthTypeName(int32_t value) {
    switch (value) {
    case 0:
        return "PLAIN";
    case 1:
        return "LOGIN";
    case 2:
        return "CRAM_MD5";
    default:
        return "Unknown SMTP authorization type";
    }
}
