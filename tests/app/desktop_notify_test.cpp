// SPDX-License-Identifier: GPL-3.0-or-later
// New mail announced through a desktop notification service: the texts a
// notification carries, and the main window against a real service on a
// private session bus (tests/app/notify_server.py, and the desktop's own
// daemon on a virtual screen): what it shows, what each action does, that
// a second announcement replaces the first, and the dialog where no
// service can take it.
#include "../support/process.h"
#include "../support/temp_env.h"
#include "app/desktop_notify.h"
#include "app/mainwnd.h"
#include "app/tray.h"
#include "desktop.h"
#include "engine/mailcheck.h"
#include "platform/user_message.h"
#include "settings/account.h"
#include "settings/globaldata.h"
#include "settings/msgbox.h"
#include "settings/msgbox_reg.h"
#include "settings/reg.h"
#include "ui/mailbox/mailbox_window.h"
#include "ui/newmail_popup.h"
#include "ui/windows.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QWidget>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

constexpr const char* kPython = "/usr/bin/python3"; // the one python3-dbus is installed for
constexpr const char* kNotifyd = "/usr/lib/x86_64-linux-gnu/xfce4/notifyd/xfce4-notifyd";

NEW_MAIL_NEWS news(int count, std::vector<NEW_MAIL_ITEM> items, QStringList accounts = {"Work"}) {
    return {count, std::move(accounts), std::move(items)};
}

TEST(NewMailNotificationText, SummaryAndBodyKeepHostileHeadersPlainText) {
    EXPECT_EQ(DesktopNotify_Summary(news(2, {}, {"Work", "Home"})),
              "2 new message(s) in Work, Home");
    EXPECT_EQ(DesktopNotify_Summary(news(9, {}, {"A", "B", "C", "D"})),
              QString("9 new message(s) in A, B, C, ") + QChar(0x2026));
    EXPECT_EQ(DesktopNotify_Summary(news(1, {}, {})), "1 new message(s)");

    EXPECT_EQ(DesktopNotify_Sender("\"Berg, Anna\" <anna@example.org>"), "Berg, Anna");
    EXPECT_EQ(DesktopNotify_Sender("<anna@example.org>"), "anna@example.org");
    EXPECT_EQ(DesktopNotify_Sender("Anna\r\n\tBerg <a@b>"), "Anna Berg") << "a folded header";

    const NEW_MAIL_NEWS n = news(5, {{"Shop <s@x>", "<b>50% off</b> & \"more\""},
                                     {"", ""},
                                     {"Long <l@x>", QString(200, QChar(0x00e9))}});
    const QStringList markup = DesktopNotify_Body(n, true).split('\n');
    ASSERT_EQ(markup.size(), 4);
    EXPECT_EQ(markup[0], "<b>Shop</b>: &lt;b&gt;50% off&lt;/b&gt; &amp; &quot;more&quot;");
    EXPECT_EQ(markup[1], "<b>(unknown sender)</b>: (no subject)");
    EXPECT_EQ(markup[2].size(), QString("<b>Long</b>: ").size() + 80) << "cut";
    EXPECT_TRUE(markup[2].endsWith(QChar(0x2026)));
    EXPECT_EQ(markup[3], "and 2 more");
    EXPECT_TRUE(DesktopNotify_Body(n, false).startsWith("Shop: <b>50% off</b> & \"more\"\n"))
        << "a service without markup shows the text as it is";

    // The choice between the dialog and a notification.
    const NOTIFY_SERVER plain = DesktopNotify_Server({"body"});
    EXPECT_TRUE(DesktopNotify_Use(true, false, plain, false));
    EXPECT_FALSE(DesktopNotify_Use(true, false, plain, true)) << "Remind Later is needed";
    EXPECT_FALSE(DesktopNotify_Use(true, true, DesktopNotify_Server({"actions"}), true))
        << "the open dialog is updated";
}

bool dialogShown() {
    return NewMail_Window() && NewMail_Window()->isVisible();
}

template <typename F> bool spinUntil(F done, std::chrono::milliseconds limit = 20s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

void stop(pid_t& pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    if (iwtest::WaitExitWithin(pid, 10s) == -1000) iwtest::KillAndReap(pid);
    pid = -1;
}

// The main window on a real store with two accounts holding new mail, and
// a session bus of its own.
class NotificationOnBus : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!iwtest::OnPath("dbus-daemon")) GTEST_SKIP() << "needs dbus-daemon";
        // Services the bus starts leave their parent: as their subreaper
        // this process can end them.
        ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
        dir_ = iwtest::MakeTempDir("notify");
        ASSERT_EQ(RegStore_Open(dir_ + "/registry.db"), REGSTORE_OK);
        ASSERT_EQ(Reg_OpenRoot(&root_, REG_ROOT_PATH), 0u);
        Reg_SetMsgRootKey(root_);
        ASSERT_EQ(GlobalData_Load(root_), 0u);
        ASSERT_EQ(Account_Initialize(root_), 0u);
        addAccount("Work", {{"\"Berg, Anna\" <anna@example.org>", "Figures <Q3> & plans"},
                            {"Ben <ben@example.org>", "Lunch"}});
        addAccount("Home", {{"shop@example.com", "Your order"}});
        UserMsg_SetHandler([this](std::string_view, std::string_view text, unsigned) {
            boxes_.emplace_back(text);
            return UM_IDOK;
        });

        // A bus that starts no service on demand: the desktop's daemon
        // would otherwise come up for the first call wherever there is a
        // display.
        bus_ = std::make_unique<iwtest::PrivateBus>(dir_);
        address_ = bus_->address;
        ASSERT_FALSE(address_.empty()) << "no session bus";
        conn_ = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(QString::fromStdString(address_), "notify-test"));
        ASSERT_TRUE(conn_->isConnected());

        wnd_ = std::make_unique<MainWnd>(&windows_);
        ASSERT_EQ(MailCheck_Init(wnd_.get(), wnd_.get()), 0u);
        wnd_->HandleMessage(WM_LOAD_MESSAGES_FAST, 0, 0);
        wnd_->SetNotificationBus(*conn_);
        NewMail_SetActions(MainWnd_NewMailActions());
    }

    void TearDown() override {
        windows_.CloseAll();
        if (wnd_) MailCheck_Stop();
        Queue_Clear();
        wnd_.reset();
        stop(server_);
        stop(notifyd_);
        if (conn_) QDBusConnection::disconnectFromBus("notify-test");
        bus_.reset();
        while (waitpid(-1, nullptr, WNOHANG) > 0) {
        }
        Account_FreeAll();
        GlobalData_Free(0);
        Reg_SetMsgRootKey(nullptr);
        if (root_) Reg_Close(root_);
        UserMsg_SetHandler(nullptr);
        NewMail_SetActions({});
    }

    void addAccount(const char* name, std::vector<std::pair<const char*, const char*>> mail) {
        uint32_t st = 0;
        ACCOUNT* a = Account_Add(name, &st);
        ASSERT_NE(a, nullptr);
        int n = 0;
        for (auto& [from, subject] : mail) {
            MSG_RECORD r = MsgRecord_Empty();
            r.SetText(MSGF_ID, std::string(name) + std::to_string(++n));
            r.SetText(MSGF_FROM, from);
            r.SetText(MSGF_SUBJECT, subject);
            ASSERT_EQ(MsgBox_AddMsg(&a->hMsgBox, &r, a, 1), 0u);
        }
        MsgBox_Recount(a->hMsgBox, a);
    }

    bool serviceUp() {
        return conn_->interface()->isServiceRegistered("org.freedesktop.Notifications");
    }

    void startServer(const std::string& caps = "actions,body,body-markup") {
        stop(server_);
        server_ = iwtest::Spawn({kPython, IW_NOTIFY_SERVER, caps},
                                {{"DBUS_SESSION_BUS_ADDRESS", address_}}, {.err = 2});
        ASSERT_TRUE(spinUntil([&] { return serviceUp(); })) << "no notification service";
    }

    QDBusMessage control(const char* method) {
        return QDBusMessage::createMethodCall("org.freedesktop.Notifications",
                                              "/org/freedesktop/Notifications",
                                              "org.inboxwarden.TestNotifications", method);
    }

    QJsonArray calls() {
        QDBusReply<QString> r = conn_->call(control("Calls"), QDBus::Block, 5000);
        return QJsonDocument::fromJson(r.value().toUtf8()).array();
    }

    // Announces `count` as a finished check does; the Notify call it made.
    QJsonObject announce(int count) {
        const qsizetype before = calls().size();
        wnd_->HandleMessage(WM_NEWMAIL_POPUP, 0, count);
        QJsonArray all;
        EXPECT_TRUE(spinUntil([&] { return (all = calls()).size() > before; }))
            << "no notification";
        EXPECT_TRUE(spinUntil([&] { return wnd_->Notifier()->Shown() != 0; }));
        EXPECT_FALSE(dialogShown()) << "no dialog beside it";
        return all.isEmpty() ? QJsonObject() : all.last().toObject();
    }

    // The user chooses an action on the open notification.
    void choose(const QJsonObject& shown, const char* key) {
        conn_->call(control("Invoke") << uint(shown["id"].toInt()) << QString(key), QDBus::Block,
                    5000);
    }

    int32_t newAndNotified() {
        int32_t n = 0;
        for (const char* name : {"Work", "Home"}) {
            const MSGBOX_COUNTS* c = MsgBox_GetCounts(Account_Get(name, -1)->hMsgBox);
            n += c->New + c->Notified;
        }
        return n;
    }

    std::string dir_, address_;
    REGKEY* root_ = nullptr;
    std::unique_ptr<iwtest::PrivateBus> bus_;
    pid_t server_ = -1, notifyd_ = -1;
    std::unique_ptr<QDBusConnection> conn_;
    UiWindows windows_;
    std::unique_ptr<MainWnd> wnd_;
    std::vector<std::string> boxes_;
};

TEST_F(NotificationOnBus, ShowsTheNewsAndASecondAnnouncementReplacesIt) {
    startServer();
    const QJsonObject first = announce(3);
    EXPECT_EQ(first["summary"].toString(), "3 new message(s) in Home, Work");
    EXPECT_EQ(first["body"].toString(), "<b>shop@example.com</b>: Your order\n"
                                        "<b>Ben</b>: Lunch\n"
                                        "<b>Berg, Anna</b>: Figures &lt;Q3&gt; &amp; plans");
    EXPECT_EQ(first["app"].toString(), "Inboxwarden");
    EXPECT_EQ(first["icon"].toString(), "inboxwarden");
    EXPECT_EQ(first["replaces"].toInt(), 0);
    const QJsonObject hints = first["hints"].toObject();
    EXPECT_EQ(hints["category"].toString(), "email.arrived");
    EXPECT_EQ(hints["desktop-entry"].toString(), "inboxwarden");
    QStringList actions;
    for (const auto& a : first["actions"].toArray())
        actions << a.toString();
    EXPECT_EQ(actions,
              QStringList({"default", "Open", "result-window", "Result Window", "mail-client",
                           "Mail Client", "ignore", "Ignore", "remind-later", "Remind Later"}));

    const QJsonObject second = announce(4);
    EXPECT_EQ(second["replaces"].toInt(), first["id"].toInt());
    EXPECT_EQ(second["id"].toInt(), first["id"].toInt()) << "replaced, not stacked";
    EXPECT_TRUE(second["summary"].toString().startsWith("4 new"));

    // Dismissed by the user: the next news is a notification of its own.
    conn_->call(control("Dismiss") << uint(second["id"].toInt()), QDBus::Block, 5000);
    ASSERT_TRUE(spinUntil([&] { return wnd_->Notifier()->Shown() == 0; }));
    EXPECT_EQ(announce(4)["replaces"].toInt(), 0);

    // A finished announcement (shutdown, count 0) takes it back.
    wnd_->HandleMessage(WM_NEWMAIL_POPUP, 0, 0);
    EXPECT_EQ(wnd_->Notifier()->Shown(), 0u);
}

TEST_F(NotificationOnBus, EachActionDoesWhatItsButtonDoes) {
    startServer();
    // No mail client set: the desktop's default one, through xdg-email.
    const std::string bin = dir_ + "/bin", started = dir_ + "/client-started";
    std::filesystem::create_directories(bin);
    iwtest::WriteFile(bin + "/xdg-email", "#!/bin/sh\necho \"$@\" > " + started + "\n");
    std::filesystem::permissions(bin + "/xdg-email", std::filesystem::perms::owner_all);
    const std::string path = std::getenv("PATH");
    setenv("PATH", (bin + ":" + path).c_str(), 1);
    choose(announce(3), "mail-client");
    EXPECT_TRUE(spinUntil([&] { return iwtest::ReadFile(started) == "mailto:\n"; }))
        << "the mail client ran";
    setenv("PATH", path.c_str(), 1);

    choose(announce(3), "remind-later");
    EXPECT_TRUE(spinUntil([] { return MailCheck_GetRemindLater() == 1; }));

    GlobalData_SetParam(GD_DEFMENU, CMD_ENABLE); // the double-click action toggles checking
    const int64_t enabled = GlobalData_GetNumber(GD_ENABLED);
    choose(announce(3), "default");
    EXPECT_TRUE(spinUntil([&] { return GlobalData_GetNumber(GD_ENABLED) != enabled; }));

    choose(announce(3), "result-window");
    EXPECT_TRUE(spinUntil([] { return MailBox_Window() != nullptr; })) << "the MailBox opened";
    windows_.CloseAll();

    ASSERT_EQ(newAndNotified(), 3);
    choose(announce(3), "ignore");
    EXPECT_TRUE(spinUntil([&] { return newAndNotified() == 0; })) << "every box looked at";
    EXPECT_TRUE(boxes_.empty()) << boxes_.front();
}

TEST_F(NotificationOnBus, WithoutTheServiceOrItsActionsTheDialogAppears) {
    // No service on the bus.
    wnd_->HandleMessage(WM_NEWMAIL_POPUP, 0, 3);
    EXPECT_TRUE(spinUntil(dialogShown));
    NewMail_Popup(0);

    // A service without actions while "Notify only once" needs them.
    startServer("body");
    GlobalData_GetRecord()->NotifyOnlyOnce = 1;
    wnd_->HandleMessage(WM_NEWMAIL_POPUP, 0, 3);
    EXPECT_TRUE(spinUntil(dialogShown));
    NewMail_Popup(0);
    // Without that option it is announced, as plain text and without them.
    GlobalData_GetRecord()->NotifyOnlyOnce = 0;
    const QJsonObject plain = announce(3);
    EXPECT_TRUE(plain["actions"].toArray().isEmpty());
    EXPECT_TRUE(plain["body"].toString().endsWith("Ben: Lunch\nBerg, Anna: Figures <Q3> & plans"));

    // The option off: the dialog, though the service runs.
    GlobalData_GetRecord()->DesktopNotify = 0;
    const qsizetype before = calls().size();
    wnd_->HandleMessage(WM_NEWMAIL_POPUP, 0, 3);
    EXPECT_TRUE(dialogShown());
    EXPECT_EQ(calls().size(), before);
}

// The desktop's own daemon shows it on a screen (IW_SCREENSHOT=FILE keeps
// the screen for the documentation).
TEST_F(NotificationOnBus, TheDesktopDaemonShowsIt) {
    if (access(kNotifyd, X_OK) != 0 || !iwtest::OnPath("Xvfb") || !iwtest::OnPath("xdotool"))
        GTEST_SKIP() << "needs xfce4-notifyd, Xvfb and xdotool";
    iwtest::Xvfb x("800x300x24");
    ASSERT_GE(x.display, 0) << "no X server";
    // The program's icon, as an installed program has it.
    const std::string icons = dir_ + "/share/icons/hicolor/48x48/apps";
    std::filesystem::create_directories(icons);
    std::filesystem::copy_file(IW_ICON, icons + "/inboxwarden.png");
    notifyd_ = iwtest::Spawn({kNotifyd}, {{"DISPLAY", x.name()},
                                          {"DBUS_SESSION_BUS_ADDRESS", address_},
                                          {"XDG_DATA_DIRS", dir_ + "/share:/usr/share"}});
    ASSERT_TRUE(spinUntil([&] { return serviceUp(); })) << "no notification daemon";
    wnd_->HandleMessage(WM_NEWMAIL_POPUP, 0, 3);
    ASSERT_TRUE(spinUntil([&] { return wnd_->Notifier()->Shown() != 0; }));
    EXPECT_FALSE(dialogShown());
    std::string found;
    EXPECT_TRUE(spinUntil([&] {
        return iwtest::RunCollect({"xdotool", "search", "--onlyvisible", "--name", "."}, &found,
                                  {{"DISPLAY", x.name()}}) == 0;
    })) << "no window on the screen";
    if (const char* shot = std::getenv("IW_SCREENSHOT")) {
        std::this_thread::sleep_for(1s); // its fade-in
        iwtest::RunCollect({"import", "-window", "root", shot}, &found, {{"DISPLAY", x.name()}});
    }
}

} // namespace
