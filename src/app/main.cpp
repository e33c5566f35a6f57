// SPDX-License-Identifier: GPL-3.0-or-later
// The tray program's executable: the window layer is wired into the core's
// main window here, the one place that sees both.
#include "app/app.h"
#include "app/mainwnd.h"
#include "app/tray.h"
#include "engine/mailcheck.h"
#include "ui/newmail_popup.h"
#include "ui/progress.h"
#include "ui/windows.h"

int main(int argc, char** argv) {
    UiWindows windows;
    MainWnd_SetWindows(&windows);
    UI_APP_HOOKS hooks;
    hooks.trayCommand = [](int command) { Tray_Command(command); };
    hooks.launchMailClient = [](ACCOUNT* account) { return MailClient_Launch(account) != 0; };
    hooks.trayRefresh = [] { Tray_UpdateSummary(nullptr, nullptr, nullptr); };
    hooks.stopBlink = [] {
        if (MainWnd* w = MainWnd::Instance()) w->SetNewMailBlink(false);
    };
    hooks.composeOpen = [] {
        MainWnd* w = MainWnd::Instance();
        return w && w->IsComposeOpen();
    };
    hooks.smtpServer = [] { return App_SmtpServer(); };
    hooks.trayMenu = []() -> QMenu* {
        MainWnd* w = MainWnd::Instance();
        return w ? w->Menu() : nullptr;
    };
    windows.SetAppHooks(std::move(hooks));
    Progress_SetAbortHandler([](uint32_t code) { MailCheck_Abort(code); });
    NewMail_SetActions(MainWnd_NewMailActions());
    return App_Main(argc, argv);
}
