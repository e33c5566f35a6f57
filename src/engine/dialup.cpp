// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/dialup.h"

#include "common/translate.h"
#include "net/ras.h"
#include "platform/log.h"
#include "settings/globaldata.h"

#include <atomic>
#include <string>

namespace {

struct OPTIONS {
    int mode = 0;
    bool autoHangUp = false;
    bool keepIfNew = false;
    std::string entry;
};

OPTIONS options() {
    OPTIONS o;
    if (const DIALUP_DATA* d = DialUp_GetRecord()) {
        o.mode = d->UseAutoDial;
        o.autoHangUp = d->UseAutoHangUp != 0;
        o.keepIfNew = d->DontHangUpIfNew != 0;
        o.entry = d->Entry;
    }
    return o;
}

std::atomic<bool> g_saidUnavailable{false};

} // namespace

void DialUp_OnCheckStart(
    const std::function<void(std::string_view entry, std::string_view text)>& status,
    const SockAbort* abort) {
    const OPTIONS o = options();
    if (o.mode != 1 || o.entry.empty()) return;
    if (status) status(o.entry, IW_N_("Inboxwarden", "Dialing..."));
    int error = 0;
    if (!Ras_Dial(o.entry, &error, abort))
        DebugLog_Write("DialUp: \"%s\" not connected: %s (%d)\n", o.entry.c_str(),
                       Ras_ErrorText(error), error);
}

void DialUp_OnCheckEnd(bool newMail) {
    const OPTIONS o = options();
    if (o.mode != 1 || !o.autoHangUp) return;
    if (o.keepIfNew && newMail)
        Ras_Forget();
    else
        Ras_HangUp();
}

int DialUp_RequiresConnection() {
    return options().mode == 2 ? 1 : 0;
}

bool DialUp_ConnectionUsable(bool networkPresent) {
    const OPTIONS o = options();
    if (o.mode != 2) return networkPresent;
    if (!Ras_Load()) {
        if (!g_saidUnavailable.exchange(true))
            DebugLog_Write("DialUp: NetworkManager is not available; checking whenever the "
                           "network is present\n");
        return networkPresent;
    }
    return Ras_IsConnected(o.entry) != 0;
}
