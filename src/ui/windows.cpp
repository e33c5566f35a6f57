// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/windows.h"

#include "common/status.h"
#include "engine/mailsend.h"
#include "message/savedfile.h"
#include "platform/log.h"
#include "platform/user_message.h"
#include "settings/settings.h"
#include "ui/about_box.h"
#include "ui/compose/compose_window.h"
#include "ui/help.h"
#include "ui/mailbox/mailbox_window.h"
#include "ui/newmail_popup.h"
#include "ui/password_prompt.h"
#include "ui/profiles/profiles_dialog.h"
#include "ui/progress.h"
#include "ui/qtext.h"
#include "ui/savedmsgs/savedmsgs_window.h"
#include "ui/settings/settings_dialog.h"
#include "ui/viewer/viewer.h"

#include <QApplication>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>

#include <atomic>

namespace {

const char* _title(APP_WINDOW w) {
    switch (w) {
    case APP_WINDOW::MailBox:
        return "The MailBox window";
    case APP_WINDOW::Settings:
        return "The settings dialog";
    case APP_WINDOW::Profiles:
        return "The profiles dialog";
    case APP_WINDOW::Compose:
        return "The compose window";
    case APP_WINDOW::About:
        return "The about box";
    case APP_WINDOW::Help:
        return "The help";
    case APP_WINDOW::Viewer:
        return "The message viewer";
    case APP_WINDOW::Bounce:
        return "Returning a message to its sender";
    case APP_WINDOW::Filter:
        return "The filter dialog";
    case APP_WINDOW::SavedMessages:
        return "The saved messages window";
    case APP_WINDOW::SystemInfo:
        return "The system information";
    }
    return "This window";
}

// Stands in for the tray icon: without it a tray program would run with no
// way to reach it.
class StatusPanel : public QWidget {
  public:
    StatusPanel() {
        setWindowTitle(QStringLiteral("Inboxwarden"));
        setObjectName(QStringLiteral("statusWindow"));
        icon_ = new QLabel(this);
        tip_ = new QLabel(this);
        tip_->setTextFormat(Qt::PlainText);
        tip_->setObjectName(QStringLiteral("tip"));
        auto* note = new QLabel(
            QCoreApplication::translate(
                "Windows", "No system tray was found on this desktop, so Inboxwarden shows "
                           "its state here. Closing this window keeps it running; start "
                           "Inboxwarden again to bring it back."),
            this);
        note->setWordWrap(true);
        QFont small = note->font();
        small.setPointSizeF(small.pointSizeF() * 0.9);
        note->setFont(small);
        menuButton_ = new QPushButton(QCoreApplication::translate("Windows", "&Menu"), this);
        auto* top = new QHBoxLayout;
        top->addWidget(icon_);
        top->addWidget(tip_, 1);
        top->addWidget(menuButton_);
        auto* layout = new QVBoxLayout(this);
        layout->addLayout(top);
        layout->addWidget(note);
        setMinimumWidth(420);
    }
    void Update(int icon, const std::string& tip, QMenu* menu) {
        icon_->setPixmap(QIcon(QStringLiteral(":/icons/tray-%1-32.png").arg(icon)).pixmap(32, 32));
        tip_->setText(QText_From(tip));
        menuButton_->setMenu(menu);
        menuButton_->setEnabled(menu != nullptr);
    }

  private:
    QLabel* icon_;
    QLabel* tip_;
    QPushButton* menuButton_;
};

QPointer<StatusPanel> g_status;
bool g_statusShownOnce = false;
QPointer<QWidget> g_boxOwner;
std::atomic<bool> g_settingsOpen{false}; // IsOpen may be asked from any thread

} // namespace

UiWindows::UiWindows() {
    Help_InstallKey();
    AboutBox_SetLicenceViewer(Help_ShowLicence);
    Viewer_SetWindows(this);
    Compose_SetWindows(this);
    MailSend_SetUi(SendProgress_Hooks());
}
UiWindows::~UiWindows() {
    MailSend_SetUi({});
    Compose_SetWindows(nullptr);
    Viewer_SetWindows(nullptr);
    delete g_status;
}

UiBoxOwner::UiBoxOwner(QWidget* owner) : previous_(g_boxOwner) {
    g_boxOwner = owner;
}

UiBoxOwner::~UiBoxOwner() {
    g_boxOwner = previous_;
}

bool UiWindows::Has(APP_WINDOW w) {
    return w == APP_WINDOW::MailBox || w == APP_WINDOW::SavedMessages || w == APP_WINDOW::About ||
           w == APP_WINDOW::Settings || w == APP_WINDOW::Profiles || w == APP_WINDOW::Compose ||
           w == APP_WINDOW::Help;
}

// The tray's commands, for the Common page's click choices.
std::vector<SETTINGS_MENU_ITEM> UiWindows::trayCommands() const {
    std::vector<SETTINGS_MENU_ITEM> out;
    QMenu* menu = hooks_.trayMenu ? hooks_.trayMenu() : nullptr;
    if (!menu) return out;
    for (QAction* a : menu->actions())
        if (!a->isSeparator() && !a->menu() && a->data().toInt() > 0)
            out.push_back(
                {a->text().section(QLatin1Char('\t'), 0, 0).toStdString(), a->data().toInt()});
    return out;
}

// After OK the profile file is written at once: it is the true store, and
// a crash before shutdown must not lose what the user just saved.
void UiWindows::runSettings() {
    g_settingsOpen = true;
    const bool ok = SettingsDialog_Run(g_boxOwner, trayCommands());
    g_settingsOpen = false;
    if (!ok) return;
    NOTICES notices;
    if (!Settings_ExportToFile(0, &notices))
        DebugLog_Write("Settings: the profile was not written after OK\n");
    UserMsg_ShowNotices(notices);
}

void UiWindows::Open(APP_WINDOW w) {
    if (w == APP_WINDOW::MailBox) {
        MAILBOX_HOST host;
        host.windows = this;
        host.trayCommand = hooks_.trayCommand;
        host.launchMailClient = hooks_.launchMailClient;
        host.trayRefresh = hooks_.trayRefresh;
        host.stopBlink = hooks_.stopBlink;
        host.composeOpen = hooks_.composeOpen;
        MailBox_Open(host);
        return;
    }
    if (w == APP_WINDOW::SavedMessages) {
        SavedMessages_Open(g_boxOwner);
        return;
    }
    if (w == APP_WINDOW::About) {
        AboutBox_Run(g_boxOwner);
        return;
    }
    if (w == APP_WINDOW::Settings) {
        runSettings();
        return;
    }
    if (w == APP_WINDOW::Profiles) {
        ProfilesDialog_Run(g_boxOwner);
        return;
    }
    if (w == APP_WINDOW::Compose) {
        OpenCompose(COMPOSE_REQUEST{});
        return;
    }
    if (w == APP_WINDOW::Help) {
        // The page of the window that asked (its UiBoxOwner); the tray's
        // Help has none and opens the contents.
        Help_Open(Help_PageFor(g_boxOwner), g_boxOwner);
        return;
    }
    MessageBox("Inboxwarden", std::string(_title(w)) + " is not available in this version.",
               UM_OK | UM_ICONINFO);
}

bool UiWindows::IsOpen(APP_WINDOW w) {
    if (w == APP_WINDOW::Compose) return Compose_Count() > 0;
    if (w == APP_WINDOW::Settings) return g_settingsOpen;
    return w == APP_WINDOW::MailBox && MailBox_IsOpen();
}

void UiWindows::MailBoxAccountChecked(uint32_t result, ACCOUNT* account) {
    if (MailBoxWindow* m = MailBox_Window()) m->AccountChecked(result, account);
}

void UiWindows::MailBoxRefresh(ACCOUNT* account) {
    if (MailBoxWindow* m = MailBox_Window()) m->Refresh(account);
}

void UiWindows::MailBoxCommand(int command) {
    if (MailBoxWindow* m = MailBox_Window()) m->TrayCommand(command);
}

void UiWindows::SettingsChanged() {
    UiWindows_SettingsChanged();
}

void UiWindows_SettingsChanged() {
    if (MailBoxWindow* m = MailBox_Window()) m->SettingsChanged();
    Compose_SettingsChanged();
}

void UiWindows::OpenCompose(const COMPOSE_REQUEST& request) {
    Compose_SetSmtpServer(hooks_.smtpServer ? hooks_.smtpServer() : std::string());
    COMPOSE_SOURCE source;
    source.account = request.account;
    source.messageText = request.messageText;
    source.preferHtml = request.preferHtml;
    source.kind = request.messageText.empty() ? COMPOSE_KIND::New
                  : request.forward           ? COMPOSE_KIND::Forward
                                              : COMPOSE_KIND::Reply;
    Compose_Open(source);
}

void UiWindows::ProgressStart(bool hideAllowed) {
    Progress_Start(hideAllowed);
}
void UiWindows::ProgressSetAccount(const std::string& text) {
    Progress_SetAccount(text);
}
void UiWindows::ProgressSetStatus(const std::string& text) {
    Progress_SetStatus(text);
}
void UiWindows::ProgressClose() {
    Progress_Close();
}
int UiWindows::ProgressDownload(std::shared_ptr<CHECK_COMPLETION> completion) {
    return Progress_StartMessage(g_boxOwner, std::move(completion));
}
bool UiWindows::ShowMessage(const std::string& accountName, std::string_view text) {
    return Viewer_Open(accountName, SavedFile_MessageText(text), nullptr) != nullptr;
}

void UiWindows::CloseAll() {
    // Shutdown asks nothing: marked messages stay marked for the next start.
    if (MailBoxWindow* m = MailBox_Window()) m->CloseNow();
    Viewer_CloseAll();
    Progress_Close();
    NewMailPopup(0);
    // A modal dialog ends its own loop when closed; one that refuses, or
    // stays modal once hidden, must not keep this loop spinning.
    for (int i = 0; i < 32; ++i) {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->close()) break;
    }
    // Edits of the settings dialog are dropped, as a Cancel drops them.
    if (SettingsDialog* d = SettingsDialog_Current()) d->Discard();
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && w != UiWindows_StatusWindow() && !qobject_cast<QMenu*>(w)) w->close();
}

int UiWindows::MessageBox(const std::string& caption, const std::string& text, unsigned flags) {
    QMessageBox box(g_boxOwner);
    box.setWindowTitle(QText_From(caption));
    QString t = QText_From(text);
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    box.setText(t);
    switch (flags & 0xF0) {
    case UM_ICONERROR:
        box.setIcon(QMessageBox::Critical);
        break;
    case UM_ICONQUESTION:
        box.setIcon(QMessageBox::Question);
        break;
    case UM_ICONWARNING:
        box.setIcon(QMessageBox::Warning);
        break;
    case UM_ICONINFO:
        box.setIcon(QMessageBox::Information);
        break;
    default:
        break;
    }
    switch (flags & 0x0F) {
    case UM_OKCANCEL:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        break;
    case UM_YESNOCANCEL:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        break;
    case UM_YESNO:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        break;
    default:
        box.setStandardButtons(QMessageBox::Ok);
    }
    switch (box.exec()) {
    case QMessageBox::Ok:
        return UM_IDOK;
    case QMessageBox::Yes:
        return UM_IDYES;
    case QMessageBox::No:
        return UM_IDNO;
    case QMessageBox::Cancel:
        return UM_IDCANCEL;
    default:
        return UserMsg_DefaultAnswer(flags);
    }
}

void UiWindows::NewMailPopup(int count) {
    NewMail_Popup(count);
}

uint32_t UiWindows::AskPassword(const std::string& accountName, const std::string& login,
                                std::string* password) {
    return PasswordPrompt_Ask(g_boxOwner, accountName, login, password);
}

void UiWindows::StatusWindow(StatusMode mode, int icon, const std::string& tip, QMenu* menu) {
    if (mode == STATUS_HIDE) {
        if (g_status) {
            if (!menu) g_status->Update(icon, tip, nullptr);
            g_status->hide();
        }
        return;
    }
    if (!g_status) g_status = new StatusPanel;
    g_status->Update(icon, tip, menu);
    // Shown once on its own; afterwards only when the user asks (a second start).
    if (!g_statusShownOnce || mode == STATUS_RAISE) {
        g_statusShownOnce = true;
        g_status->show();
        g_status->raise();
        g_status->activateWindow();
    }
}

QWidget* UiWindows_StatusWindow() {
    return g_status;
}
