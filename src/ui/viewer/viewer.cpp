// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/viewer/viewer.h"

#include "common/translate.h"
#include "platform/log.h"
#include "platform/user_message.h"
#include "settings/msgbox.h"
#include "ui/viewer/viewer_window.h"

#include <QPointer>

#include <vector>

namespace {

VIEWER_HOST g_host;
std::vector<QPointer<ViewerWindow>> g_viewers;

void forgetClosed() {
    std::erase_if(g_viewers, [](const QPointer<ViewerWindow>& w) { return w.isNull(); });
}

} // namespace

void Viewer_SetHost(VIEWER_HOST host) {
    g_host = std::move(host);
}

void Viewer_SetWindows(APP_WINDOWS* windows) {
    g_host.windows = windows;
}

std::vector<ViewerWindow*> Viewer_Windows() {
    forgetClosed();
    std::vector<ViewerWindow*> out;
    for (const QPointer<ViewerWindow>& w : g_viewers)
        out.push_back(w.data());
    return out;
}

QWidget* Viewer_Open(const std::string& accountName, std::string text, const MSG_RECORD* record) {
    // Only logged: each viewer keeps its own account and message id.
    DebugLog_Write("Viewer: AccountName:%s MessageID:%s\n",
                   accountName.empty() ? "NOTPASSED" : accountName.c_str(),
                   record ? record->MsgId() : "NOTPASSED");
    auto model = std::make_unique<ViewerModel>();
    if (!model->Open(accountName, text, record)) {
        UserMsg_Show(IW_N_("Inboxwarden", "Error"), IW_N_("Inboxwarden", "No memory."),
                     UM_OK | UM_ICONERROR);
        return nullptr;
    }
    const bool eml = model->HasEmlAttachment();
    auto* w = new ViewerWindow(std::move(model), g_host);
    forgetClosed();
    g_viewers.emplace_back(w);
    w->show();
    w->raise();
    w->activateWindow();
    if (eml) w->ShowNotice(ViewerModel::EmlNotice());
    return w;
}

void Viewer_CloseAll() {
    forgetClosed();
    for (const QPointer<ViewerWindow>& w : std::vector<QPointer<ViewerWindow>>(g_viewers))
        if (w) w->close();
    g_viewers.clear();
}
