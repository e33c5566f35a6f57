// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/engine_headless.h"

#include "common/status.h"
#include "engine/dialup.h"
#include "settings/account.h"

std::vector<HEADLESS_RESULT> HEADLESS_UI::Results() {
    std::lock_guard lock(mu_);
    return results_;
}

int HEADLESS_UI::ProgressDownload(std::shared_ptr<CHECK_COMPLETION> completion) {
    std::unique_lock lock(completion->lock);
    completion->changed.wait(lock, [&] { return completion->done; });
    return 1;
}

void HEADLESS_UI::AccountChecked(uint32_t result, ACCOUNT* account) {
    std::lock_guard lock(mu_);
    results_.push_back({account->Name, result});
}

uint32_t HEADLESS_UI::AskPassword(const ACCOUNT& account, std::string* password) {
    return askPassword_ ? askPassword_(account, password) : ERR_NOT_READY;
}

bool HEADLESS_UI::NetworkUsable() {
    return DialUp_ConnectionUsable(true);
}
