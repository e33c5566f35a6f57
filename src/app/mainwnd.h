// SPDX-License-Identifier: GPL-3.0-or-later
// The hidden main window: a QObject on the UI thread that owns the tray
// icon, the tray menu, every timer and the program's window messages. It is
// what the engine and the scheduler see as ENGINE_UI and ENGINE_TIMERS: a
// "post" from the worker is a queued call, a "send" a queued call the worker
// waits for with a limit, and once UnblockWorker(true) is in force a send
// returns at once.
#pragma once

#include "engine/engine_ui.h"
#include "ui/app_windows.h"

#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <string>

class DesktopNotifier;
class NetworkWatch;
class QAction;
class QDBusConnection;
class QMenu;
class QTimer;
struct NEWMAIL_ACTIONS;

// Window messages (numbers fixed; a second copy and other windows use them).
enum : int {
    WM_SHOW_MAILBOXES = 1125,
    WM_NEWMAIL_POPUP = 1126,
    WM_APP_SHUTDOWN = 1127,
    WM_SETTINGS_CHANGED = 1128,
    WM_FILTER_SHOW_MSG = 1130,
    WM_CHECK_CMD = 1131,
    WM_LOAD_MESSAGES = 1134,
    WM_LOAD_MESSAGES_FAST = 1135,
};

class MainWnd final : public QObject, public ENGINE_UI, public ENGINE_TIMERS {
  public:
    explicit MainWnd(APP_WINDOWS* windows);
    ~MainWnd() override;

    static MainWnd* Instance();

    // A window message by number: handled now on the UI thread, queued from
    // any other thread ("post").
    void Post(int msg, intptr_t wparam = 0, intptr_t lparam = 0);
    void HandleMessage(int msg, intptr_t wparam, intptr_t lparam);

    // Called for shutdown requests (close, WM_APP_SHUTDOWN, Exit, a signal).
    void SetShutdownHandler(std::function<void()> fn) { shutdown_ = std::move(fn); }

    // ---- Tray ------------------------------------------------------------
    void AddTrayIcon(int icon, const std::string& tip);
    void RemoveTrayIcon();
    void ShowIcon(int icon);
    void SetTip(const std::string& tip);
    std::string Tip() const { return tip_; }
    int IconShown() const { return iconShown_; }
    int UpdateSummary(int* checkedNew, int* checkedNotified, int* others);
    void MenuRefresh();
    void DestroyMenu();
    void Command(int id);
    // Opens the tray menu at the cursor (right button, or a second copy).
    void PopupMenu();
    QMenu* Menu() const { return menu_; }
    QAction* MenuAction(int id) const;
    bool Loaded() const { return loaded_; }
    bool QuitWithoutSaving() const { return quitWithoutSaving_; }
    // Whether the tray icon is visible in a tray (false: the status window
    // stands in for it).
    bool TrayVisible() const;
    // Re-creates the tray icon, e.g. when a tray host appeared.
    void RecreateTrayIcon();

    // ---- ENGINE_UI -----------------------------------------------------
    void UnblockWorker(bool on) override;
    bool IsSettingsDialogOpen() override { return settingsOpen_; }
    void BringSettingsDialogToFront() override;
    bool IsMailBoxOpen() override;
    bool IsComposeOpen() override {
        return composeOpen_ || (windows_ && windows_->IsOpen(APP_WINDOW::Compose));
    }
    bool NetworkUsable() override;
    void ProgressStart() override;
    void ProgressSetAccount(std::string_view accountName) override;
    void ProgressSetStatus(std::string_view accountName, std::string_view text) override;
    void ProgressClose() override;
    int ProgressDownload(std::shared_ptr<CHECK_COMPLETION> completion) override;
    void SetCancelCheckEnabled(bool enabled) override;
    void SetCheckAnimation(bool on) override;
    void SetNewMailBlink(bool on) override;
    void TrayUpdateSummary() override;
    void AccountChecked(uint32_t result, ACCOUNT* account) override;
    void MailBoxRefresh(ACCOUNT* account) override;
    void ShowMailBoxes() override;
    void NewMailPopup(int count) override;
    bool FilterShowMessage(ACCOUNT* account, std::string_view id, std::string_view text) override;
    uint32_t AskPassword(const ACCOUNT& account, std::string* password) override;
    void PlaySound(std::string_view file, bool sync) override;
    bool LaunchMailClient(ACCOUNT* account) override;
    void RequestShutdown() override;
    // Carried to the bus interface (bus_service.cpp).
    void AccountDone(std::string_view accountName, uint32_t result) override;
    void RunEnded(bool cancelled) override;

    // ---- ENGINE_TIMERS ---------------------------------------------------
    bool SetTimer(int id, int64_t firstMs, int64_t periodMs) override;
    void KillTimer(int id) override;
    DATETIME Now() override;
    bool TimerRunning(int id) const;
    // A click on the tray icon, as the tray reports it.
    void OnTrayActivated(QSystemTrayIcon::ActivationReason reason);

    // The network or the machine came back: catch up on missed checks.
    void Wake(const char* why);

    // A message box on the UI thread, from any thread; while the worker is
    // unblocked (shutdown) a box from it gets its default answer at once.
    int ShowBox(std::string_view caption, std::string_view text, unsigned flags);
    void SetComposeOpen(bool open) { composeOpen_ = open; }

    // The new-mail popup's buttons.
    void PopupMailClient();
    void PopupIgnore();
    // The bus whose notification service announces new mail (the session
    // bus unless set).
    void SetNotificationBus(const QDBusConnection& bus);
    // What says whether there is a network (none: it counts as present).
    void SetNetworkWatch(const NetworkWatch* network) { network_ = network; }
    DesktopNotifier* Notifier() const { return notifier_.get(); }

  private:
    bool onUiThread() const;
    // Runs fn on the UI thread and waits at most timeoutMs for it; false
    // when it did not run in time or the worker is unblocked.
    bool sendAndWait(std::function<void()> fn, int timeoutMs);
    void onTimer(int id);
    void buildMenu();
    void setTrayIcon(int icon);
    void openWindow(APP_WINDOW w);
    void waitForIdleCheck();
    void checkCmd();
    void loadMessages(bool fast);
    void requestShutdown();
    void releaseSoundLater(int tries = 0);
    void updateStatusWindow();
    void announceNewMail(int count);
    void notificationAction(const QString& key);
    // What a double click on the tray icon does.
    void runDefaultCommand();

    APP_WINDOWS* windows_;
    QPointer<QSystemTrayIcon> tray_;
    std::unique_ptr<DesktopNotifier> notifier_;
    const NetworkWatch* network_ = nullptr;
    QMenu* menu_ = nullptr;
    QMenu* checkMenu_ = nullptr;
    QAction* checkSeparator_ = nullptr;
    std::map<int, QTimer*> timers_;
    std::function<void()> shutdown_;
    std::string tip_;
    int iconShown_ = 0;
    int blinkFrame_ = 122;
    int animFrame_ = 120;
    bool loaded_ = false;
    bool quitWithoutSaving_ = false;
    bool shutdownPending_ = false; // asked while the settings dialog was open
    bool aboutOpen_ = false;
    bool cancelEnabled_ = false;
    bool trayWanted_ = false;
    bool statusSaid_ = false;
    std::atomic<bool> unblocked_{false};
    std::atomic<bool> settingsOpen_{false};
    std::atomic<bool> composeOpen_{false};
};

// Installs the windows the main window opens (before App_Initialize).
void MainWnd_SetWindows(APP_WINDOWS* windows);
APP_WINDOWS* MainWnd_Windows();
// What the new-mail popup's buttons (and the notification's actions) do.
NEWMAIL_ACTIONS MainWnd_NewMailActions();
