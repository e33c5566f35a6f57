// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/app.h"

#include "app/bus_service.h"
#include "app/cmdline.h"
#include "app/handover.h"
#include "app/mainwnd.h"
#include "app/network_watch.h"
#include "app/translation.h"
#include "app/tray.h"
#include "app/update.h"
#include "build_date.h"
#include "common/leak_check.h"
#include "common/status.h"
#include "common/translate.h"
#include "crash/crash.h"
#include "engine/mailcheck.h"
#include "engine/mailsend.h"
#include "engine/schedule.h"
#include "engine/wakeup.h"
#include "message/filter.h"
#include "platform/instance.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/selfremove.h"
#include "platform/sound.h"
#include "platform/user_message.h"
#include "settings/account.h"
#include "settings/globaldata.h"
#include "settings/miscutil.h"
#include "settings/msgbox.h"
#include "settings/msgbox_reg.h"
#include "settings/reg.h"
#include "settings/settings.h"
#include "ui/images.h"
#include "ui/settings/settings_dialog.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QDialog>
#include <QFileDialog>
#include <QIcon>
#include <QPixmapCache>
#include <QSocketNotifier>
#include <QSystemTrayIcon>
#include <QThread>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <malloc.h>
#include <memory>
#include <optional>
#include <unistd.h>

namespace {

const ACCOUNT_FILTER_OPS kFilterOps{Filter_Open, Filter_Close, Filter_AssignVars,
                                    Filter_ChangePath};

std::unique_ptr<MainWnd> g_wnd;
bool g_shutdownDone = false;
bool g_saved = false;
bool g_inMainLoop = false;
bool g_uninstalling = false; // "/uninstall" runs: its boxes have no main window
int g_sigPipe[2] = {-1, -1};

constexpr int kHandoverMs = 10000;
constexpr int kShutdownWaitMs = 90000;

// ---- Signals: only a byte into a pipe inside the handler -----------------------

// Ends every box and dialog that runs an event loop of its own.
void _closeModal() {
    for (int i = 0; i < 32; ++i) {
        QWidget* w = QApplication::activePopupWidget();
        if (!w) w = QApplication::activeModalWidget();
        if (!w) return;
        auto* d = qobject_cast<QDialog*>(w);
        if (d) d->reject();
        // A dialog whose Cancel only cancels its operation stays open: end it.
        if (d && d->isVisible()) d->done(QDialog::Rejected);
        if (!d) w->close();
    }
}

// The shutdown frees what the code under a box's event loop still uses: it
// runs once that loop has returned (or, should one never return, after half a
// second all the same).
void _shutdownUnnested(int tries) {
    if (QThread::currentThread()->loopLevel() > 1 && tries < 50) {
        _closeModal();
        QTimer::singleShot(10, [tries] { _shutdownUnnested(tries + 1); });
        return;
    }
    if (g_wnd) g_wnd->Post(WM_APP_SHUTDOWN);
}

// A signal ends the program within a second, whatever is open: nobody is
// asked anything any more, and the settings are saved as far as they can be.
// Before the main loop runs, App_Main ends the program once the start returns.
void _stopOnSignal() {
    UserMsg_SetEnding();
    _closeModal();
    if (g_inMainLoop) _shutdownUnnested(0);
}

void _onSignal(int sig) {
    const int saved = errno;
    const unsigned char b = static_cast<unsigned char>(sig);
    if (g_sigPipe[1] >= 0) {
        [[maybe_unused]] const ssize_t n = ::write(g_sigPipe[1], &b, 1);
    }
    errno = saved;
}

void _installSignals(QObject* owner) {
    if (::pipe2(g_sigPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        DebugLog_Write("MAIN: no signal pipe (%s)\n", std::strerror(errno));
        return;
    }
    auto* n = new QSocketNotifier(g_sigPipe[0], QSocketNotifier::Read, owner);
    QObject::connect(n, &QSocketNotifier::activated, owner, [] {
        unsigned char b = 0;
        while (::read(g_sigPipe[0], &b, 1) == 1) {
            DebugLog_Write("MAIN: signal %d: shutting down\n", int(b));
            _stopOnSignal();
        }
    });
    struct sigaction sa {};
    sa.sa_handler = _onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        sigaction(sig, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

// ---- Wake-ups ------------------------------------------------------------------------

void _watchWakeUps(QObject* owner) {
    auto* network = new NetworkWatch(QDBusConnection::systemBus(), owner);
    if (g_wnd) g_wnd->SetNetworkWatch(network);
    auto wake = std::make_shared<WakeDetector>(WakeDetector::Read());
    auto* t = new QTimer(owner);
    QObject::connect(t, &QTimer::timeout, owner, [wake] {
        if (wake->Resumed(WakeDetector::Read()) && g_wnd) g_wnd->Wake("resumed from suspend");
    });
    t->start(10000);
    QObject::connect(network, &NetworkWatch::Changed, owner, [wake](NETWORK_STATE state) {
        if (wake->NetworkChanged(state == NETWORK_STATE::Online) && g_wnd)
            g_wnd->Wake("network is back");
    });
}

// ---- Memory after the windows ---------------------------------------------------------

// The tray program lives for days with no window open: what the MailBox, a
// viewer or the settings dialog drew and allocated goes back to the system
// once the last of them is gone, instead of staying resident until exit.
void _releaseMemoryAfterWindows(QObject* owner) {
    auto* later = new QTimer(owner);
    later->setSingleShot(true);
    later->setInterval(2000); // after the windows' deferred deletes
    QObject::connect(later, &QTimer::timeout, owner, [] {
        // As lastWindowClosed counts them: an XEmbed tray icon is a visible
        // top-level widget too, but no window of the user's.
        for (const QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible() && w->testAttribute(Qt::WA_QuitOnClose)) return;
        QPixmapCache::clear();
        Images_ReleaseCache();
        Sound_ReleaseIfIdle(); // the settings let the user hear sounds
        malloc_trim(0);
    });
    QObject::connect(qApp, &QGuiApplication::lastWindowClosed, later, qOverload<>(&QTimer::start));
}

// ---- A tray that appears later -------------------------------------------------------

void _watchTray(QObject* owner) {
    auto* w = new QDBusServiceWatcher(QStringLiteral("org.kde.StatusNotifierWatcher"),
                                      QDBusConnection::sessionBus(),
                                      QDBusServiceWatcher::WatchForRegistration, owner);
    QObject::connect(w, &QDBusServiceWatcher::serviceRegistered, owner, [] {
        if (g_wnd) QTimer::singleShot(500, g_wnd.get(), [] { g_wnd->RecreateTrayIcon(); });
    });
    // An XEmbed tray announces itself on X only; look now and then while none is there.
    auto* poll = new QTimer(owner);
    auto hadTray = std::make_shared<bool>(QSystemTrayIcon::isSystemTrayAvailable());
    QObject::connect(poll, &QTimer::timeout, owner, [hadTray] {
        const bool now = QSystemTrayIcon::isSystemTrayAvailable();
        if (now && !*hadTray && g_wnd) g_wnd->RecreateTrayIcon();
        *hadTray = now;
    });
    poll->start(5000);
}

void _onHandover(const std::string& request) {
    if (!g_wnd) return;
    if (request == "check")
        g_wnd->Post(WM_CHECK_CMD);
    else if (request == "shutdown")
        g_wnd->Post(WM_APP_SHUTDOWN);
    else if (request == "menu")
        g_wnd->PopupMenu();
}

// A box from any thread is shown on the UI thread (the worker waits for the answer).
void _installMessageHandler() {
    UserMsg_SetHandler([](std::string_view caption, std::string_view text, unsigned flags) {
        DebugLog_Write("Message box \"%.*s\": %.*s\n", int(caption.size()), caption.data(),
                       int(text.size()), text.data());
        // Tests of the whole program: "yes" answers every question with Yes.
        if (const char* no = std::getenv("INBOXWARDEN_NO_BOXES")) {
            std::fprintf(stderr, "inboxwarden: %.*s: %.*s\n", int(caption.size()), caption.data(),
                         int(text.size()), text.data());
            const unsigned buttons = flags & 0x0F;
            if (std::strcmp(no, "yes") == 0 && (buttons == UM_YESNO || buttons == UM_YESNOCANCEL))
                return int(UM_IDYES);
            return UserMsg_DefaultAnswer(flags);
        }
        if (QCoreApplication::closingDown() || UserMsg_IsEnding())
            return UserMsg_DefaultAnswer(flags);
        // "/uninstall" asks without a main window; any other box without
        // one (the last notices after the window is gone) is logged only.
        if (!g_wnd) {
            APP_WINDOWS* w = g_uninstalling ? MainWnd_Windows() : nullptr;
            return w ? w->MessageBox(Translation_Shown(caption), Translation_Shown(text), flags)
                     : UserMsg_DefaultAnswer(flags);
        }
        return g_wnd->ShowBox(Translation_Shown(caption), Translation_Shown(text), flags);
    });
}

// The windows go before the accounts they show; the MailBox window's boxes
// count as looked at.
void _closeWindows(MainWnd* w) {
    if (w && w->IsMailBoxOpen()) {
        DebugLog_Write("App_Shutdown: marking every box as looked at\n");
        for (int i = 0, n = Account_GetCount(); i < n; ++i) {
            ACCOUNT* a = Account_Get(nullptr, i);
            if (a && a->hMsgBox) MsgBox_SetAllStatus(a->hMsgBox, MSG_LOOKED_AT, 1, a);
        }
        NOTICES failed;
        Reg_TakeWriteFailureNotice(&failed);
        UserMsg_ShowNotices(failed);
    }
    if (APP_WINDOWS* win = MainWnd_Windows()) win->CloseAll();
}

// "/uninstall": the question and the removal, with nothing of the program
// loaded (a running copy has been asked to end first).
int _uninstall(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Inboxwarden"));
    g_uninstalling = true;
    _installMessageHandler();
    const std::string exe = Paths_ExeFile();
    if (Update_UninstallAsk(true, exe)) {
        UPDATE_REMOVE_HOOKS hooks;
        hooks.exePath = exe;
        hooks.pump = [] { QCoreApplication::processEvents(); };
        Update_UninstallRun(hooks);
    }
    Instance_Release();
    return 0;
}

// The settings dialog's button: the removal runs once the dialog's own loop
// has ended, as the shutdown it ends in does.
void _uninstallUnnested(int tries) {
    if (QThread::currentThread()->loopLevel() > 1 && tries < 50) {
        _closeModal();
        QTimer::singleShot(10, [tries] { _uninstallUnnested(tries + 1); });
        return;
    }
    UPDATE_REMOVE_HOOKS hooks;
    hooks.exePath = Paths_ExeFile();
    hooks.stop = [] {
        Timers_Shutdown();
        MailCheck_Stop();
        MailSend_Shutdown();
        _closeWindows(g_wnd.get());
        NOTICES notices;
        Settings_Shutdown(true, &notices);
        UserMsg_ShowNotices(notices);
    };
    hooks.pump = [] { QCoreApplication::processEvents(); };
    hooks.shutdown = [] {
        if (g_wnd) g_wnd->Post(WM_APP_SHUTDOWN);
    };
    Update_UninstallRun(hooks);
}

} // namespace

bool App_ShutdownSaved() {
    return g_saved;
}

int App_Initialize(const std::string& profile, int recovery, const std::string& logfile) {
    if (!logfile.empty()) Log_Open(logfile.c_str(), LOG_ALL);
    Log_Write(LOG_APP, "Initializing...\n* settings...\n");
    Log_Write(LOG_APP, "* file version date: %d.%d.%d\n", IW_BUILD_YEAR, IW_BUILD_MONTH,
              IW_BUILD_DAY);

    g_wnd = std::make_unique<MainWnd>(MainWnd_Windows());
    g_wnd->SetShutdownHandler([] { App_Shutdown(); });
    Log_Write(LOG_APP, "* main window ok.\n");
    g_wnd->AddTrayIcon(ICON_OFF, "Inboxwarden");

    Account_SetFilterOps(&kFilterOps);
    Settings_SetAsker([](const std::string& caption, const std::string& text) {
        const int answer = UserMsg_Show(caption, text, UM_YESNOCANCEL | UM_ICONQUESTION);
        return answer == UM_IDYES  ? SETTINGS_YES
               : answer == UM_IDNO ? SETTINGS_NO
                                   : SETTINGS_CANCEL;
    });
    // A save that failed at shutdown offers another file before the tree
    // is kept as the only copy.
    Settings_SetExportPicker([](std::string* path) {
        if (std::getenv("INBOXWARDEN_NO_BOXES") || QCoreApplication::closingDown()) return false;
        const QString chosen = QFileDialog::getSaveFileName(
            nullptr, QCoreApplication::translate("App", "Export Settings"),
            QString::fromStdString(*path),
            QCoreApplication::translate("App", "Inboxwarden profiles (*.iwpf);;All files (*)"));
        if (chosen.isEmpty()) return false;
        *path = chosen.toStdString();
        return true;
    });
    SETTINGS_START start;
    const uint32_t rc = Settings_Start(profile, recovery, &start);
    UserMsg_ShowNotices(start.notices);
    if (rc != 0) {
        DebugLog_Write("Settings_Start failed (0x%x)\n", rc);
        if (rc != ERR_CANCELLED && rc != ERR_NOT_READY) {
            char text[64];
            std::snprintf(text, sizeof text,
                          Iw_Translate("App", "Failed to initialize settings (0x%x)."), rc);
            UserMsg_Show("Inboxwarden", text, UM_OK | UM_ICONERROR);
        }
        return 0;
    }
    GlobalData_SetManageLogon(!start.explicitProfile);
    Log_Write(LOG_APP, "* settings ok.\n");
    if (!start.storeNotice.empty()) {
        std::fprintf(stderr, "inboxwarden: %s\n", start.storeNotice.c_str());
        // Once the program runs: the box must not hold the start up.
        QTimer::singleShot(0, [notice = start.storeNotice] {
            UserMsg_Show(IW_N_("Inboxwarden", "Inboxwarden settings store"), notice,
                         UM_OK | UM_ICONWARNING);
        });
    }

    UPDATE_START_HOOKS update;
    update.stateDir = Paths_StateDir();
    update.closeProfile = [] {
        NOTICES notices;
        Settings_Shutdown(true, &notices);
        UserMsg_ShowNotices(notices);
    };
    update.launch = [](const std::vector<std::string>& argv) {
        // The installer starts the new program, which must find the lock free.
        Instance_Release();
        const int err = Process_SpawnDetached(argv);
        if (err != 0) Instance_Acquire();
        return err;
    };
    update.reinitSettings = [&] {
        SETTINGS_START again;
        const uint32_t r = Settings_Start(profile, recovery, &again);
        UserMsg_ShowNotices(again.notices);
        if (r == 0) start = again;
        return r;
    };
    switch (Update_CheckOnStart(Update_ReleaseDate(), update)) {
    case UpdateStart::Exit:
        Log_Close();
        DebugLog_Close();
        std::_Exit(0);
    case UpdateStart::Failed:
        return 0;
    case UpdateStart::Continue:
        break;
    }

    if (MailCheck_Init(g_wnd.get(), g_wnd.get()) != 0) {
        UserMsg_Show("Inboxwarden", IW_N_("Inboxwarden", "Failed to initialise mail subsystem."),
                     UM_OK | UM_ICONERROR);
        return 0;
    }
    Log_Write(LOG_APP, "* mailsystem ok.\n");

    g_wnd->MenuRefresh();
    g_wnd->UpdateSummary(nullptr, nullptr, nullptr);
    Log_Write(LOG_APP, "* initialization is done.\n=========================\n\n");
    g_wnd->Post(start.fast ? WM_LOAD_MESSAGES_FAST : WM_LOAD_MESSAGES);
    return 1;
}

void App_Shutdown() {
    if (g_shutdownDone) return;
    g_shutdownDone = true;
    DebugLog_Write("App_Shutdown\n");
    MainWnd* w = g_wnd.get();
    if (w) w->SetTip(QCoreApplication::translate("App", "Shutting Down").toStdString());
    // Callers find no program from here on, and no call reaches the boxes
    // while they are saved.
    if (BusService* bus = BusService_Instance()) bus->Stop();

    // The worker must be gone before the store, a box or an account is
    // touched: it may be writing a box right now, inside a store transaction
    // that a write from this thread would wait for.
    if (w) w->SetTip(QCoreApplication::translate("App", "Shutting Down MailCheck").toStdString());
    DebugLog_Write("App_Shutdown: MailCheck_Stop\n");
    MailCheck_Stop();
    // Quiet bounces a check started still use the settings: stop them first.
    MailSend_Shutdown();
    if (GLOBAL_DATA* gd = GlobalData_GetRecord()) {
        std::string why;
        if (MiscUtil_SaveOptimizeFlag(gd->OptimizeStartup, &why) != 0)
            UserMsg_Show("MiscUtil_SaveOptimizeFlag", why, UM_OK | UM_ICONERROR);
    }

    _closeWindows(w);
    if (w) w->DestroyMenu();
    Timers_Shutdown();
    if (w) w->ShowIcon(ICON_OFF);

    if (Settings_IsInitialized()) {
        if (w && w->QuitWithoutSaving()) {
            DebugLog_Write("App_Shutdown: Settings_Abort\n");
            NOTICES notices;
            Settings_Abort(&notices);
            UserMsg_ShowNotices(notices);
            g_saved = true;
        } else {
            const std::string profile = Settings_ActivePath();
            NOTICES notices;
            const uint32_t rc = Settings_Shutdown(true, &notices);
            UserMsg_ShowNotices(notices);
            g_saved = rc == 0;
            DebugLog_Write("App_Shutdown: Settings_Shutdown returned 0x%x\n", rc);
            if (!g_saved)
                UserMsg_Show("Inboxwarden", Settings_SaveFailureText(profile),
                             UM_OK | UM_ICONERROR);
        }
    } else {
        g_saved = true;
    }
    if (w) w->RemoveTrayIcon();
    QCoreApplication::quit();
}

namespace {
std::string g_smtpServer;
} // namespace

const std::string& App_SmtpServer() {
    return g_smtpServer;
}

int App_Main(int argc, char** argv) {
    const CMDLINE cl = CmdLine_Parse(argc, argv);
    g_smtpServer = cl.smtp;
    if (cl.help) {
        std::fputs(CmdLine_Usage("inboxwarden").c_str(), stdout);
        return 0;
    }
    if (cl.version) {
        std::printf("inboxwarden %s\n", IW_VERSION);
        return 0;
    }
    if (cl.delorig) return SelfRemove_DelOrig(cl.delorigArgs);

    // No copy has ever run on this store: none runs now, and the removal
    // leaves no lock file behind.
    if (cl.uninstall && ::access(Instance_LockPath().c_str(), F_OK) != 0)
        return _uninstall(argc, argv);
    // The lock decides first: a copy that only hands over must not touch
    // the running copy's debug log.
    int lockErr = 0;
    const int lock = Instance_Acquire(&lockErr);
    if (lock == INSTANCE_HELD) {
        QCoreApplication app(argc, argv);
        if (cl.uninstall) {
            if (!Handover_Send("shutdown", kHandoverMs) && !Instance_WaitReleased(0)) {
                std::fprintf(stderr, "inboxwarden: the running copy did not answer\n");
                return 1;
            }
            if (!Instance_WaitReleased(kShutdownWaitMs)) {
                std::fprintf(stderr, "inboxwarden: the running copy did not end in time\n");
                return 1;
            }
            return _uninstall(argc, argv);
        }
        if (cl.hasCheck) {
            HREGKEY root = HREGKEY_NONE;
            if (RegStore_OpenKey(HREGKEY_USER, REG_ROOT_PATH, &root) == REGSTORE_OK)
                RegStore_SetValue(root, "CheckCmd", REGTYPE_SZ,
                                  std::string_view(cl.check.c_str(), cl.check.size() + 1));
            Handover_Send("check", kHandoverMs);
        } else {
            Handover_Send("menu", kHandoverMs);
        }
        return 1;
    }
    if (cl.uninstall) return _uninstall(argc, argv);
    if (lock == INSTANCE_ERROR)
        std::fprintf(stderr, "inboxwarden: cannot lock %s (%s); starting anyway\n",
                     Instance_LockPath().c_str(), std::strerror(lockErr));

    DebugLog_Open();
    const std::string crashMarker = Paths_StateDir() + "/crashed";
    std::string crashed;
    const bool crashedBefore = Crash_TakeMarker(crashMarker, &crashed);
    Crash_Install(DebugLog_Fd(), crashMarker);
    if (cl.profile.empty() && !cl.defprofile.empty())
        Settings_SetVendorText("InboxwardenDefProfile", cl.defprofile);

    auto pause = std::make_optional<LeakCheckPause>();
    QApplication app(argc, argv);
    // Qt makes its D-Bus thread at the first use of a bus, here or in the
    // application's accessibility bridge.
    (void)QDBusConnection::sessionBus();
    pause.reset();
    QApplication::setApplicationName(QStringLiteral("Inboxwarden"));
    QApplication::setDesktopFileName(QStringLiteral("inboxwarden"));
    QApplication::setQuitOnLastWindowClosed(false);
    QIcon appIcon;
    for (int s : {32, 48, 64, 128})
        appIcon.addFile(QStringLiteral(":/icons/inboxwarden-%1.png").arg(s), QSize(s, s));
    QApplication::setWindowIcon(appIcon);
    Translation_Install(&app);
    _installMessageHandler();
    _installSignals(&app);
    SettingsDialog_SetUninstaller([] {
        if (!Update_UninstallAsk(false, Paths_ExeFile())) return false;
        QTimer::singleShot(0, [] { _uninstallUnnested(0); });
        return true;
    });
    if (crashedBefore) {
        // The report went into the log that this start has just rotated.
        const std::string bak = Paths_StateDir() + "/Debug_info_BAK.txt";
        DebugLog_Write("MAIN: the previous run ended by a fault (%s)\n", crashed.c_str());
        QTimer::singleShot(0, [crashed, bak] {
            UserMsg_Show(IW_N_("Inboxwarden", "Inboxwarden Abort"),
                         "Something went wrong in Inboxwarden...\r\n\r\nException: " + crashed +
                             "\r\n\r\nThe stack dump was written to " + bak + ".",
                         UM_OK | UM_ICONWARNING);
        });
    }

    if (!App_Initialize(cl.profile, cl.recovery, cl.logfile)) {
        App_Shutdown();
        g_wnd.reset();
        Log_Close();
        DebugLog_Close();
        Instance_Release();
        return -1;
    }
    NOTICES notices;
    Settings_SetCleanShutdown(0, &notices);
    UserMsg_ShowNotices(notices);
    Handover_Listen(_onHandover);
    // On the bus only as the copy that holds the store; without a bus the
    // program runs as ever.
    auto bus = std::make_unique<BusService>(g_wnd.get());
    bus->Start();
    _watchWakeUps(&app);
    _watchTray(&app);
    _releaseMemoryAfterWindows(&app);

    // A signal during the start (a box of the start may have been open)
    // ends the program here.
    g_inMainLoop = true;
    if (!UserMsg_IsEnding()) app.exec();
    App_Shutdown(); // the loop may have ended some other way (a session end)
    Handover_Close();
    if (g_saved) {
        NOTICES last;
        Settings_SetCleanShutdown(1, &last);
        UserMsg_ShowNotices(last); // the window is gone: logged and on stderr
    } else
        DebugLog_Write("MAIN: the settings were not saved; CleanShutdown stays 0\n");
    bus.reset();
    g_wnd.reset();
    Log_Close();
    DebugLog_Write("\nNormal end of program \n");
    DebugLog_Close();
    Instance_Release();
    return 0;
}
