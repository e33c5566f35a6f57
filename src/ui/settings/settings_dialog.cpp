// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/settings/settings_dialog.h"

#include "common/status.h"
#include "platform/user_message.h"
#include "settings/settings.h"
#include "ui/profiles/profiles_dialog.h"
#include "ui/qtext.h"
#include "ui/settings/settings_pages.h"
#include "ui/windows.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

QPointer<SettingsDialog> g_current;

} // namespace

int SettingsBox(const SETTINGS_MESSAGE& message, unsigned flags) {
    return UserMsg_Show(message.caption, message.text, flags);
}

QLabel* SettingsLabel(const QString& text, QWidget* buddy, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setBuddy(buddy);
    QString name = text;
    name.remove(QLatin1Char('&'));
    if (name.endsWith(QLatin1Char(':'))) name.chop(1);
    buddy->setAccessibleName(name);
    return label;
}

bool SettingsPickFile(QWidget* owner, const QString& title, const QString& extension,
                      QLineEdit* field) {
    const QString filter =
        QCoreApplication::translate("Settings", "*.%1 (*.%1);;All files (*)").arg(extension);
    const QString path = QFileDialog::getOpenFileName(owner, title, field->text(), filter);
    if (path.isEmpty()) return false;
    field->setText(path);
    return true;
}

SettingsDialog::SettingsDialog(std::vector<SETTINGS_MENU_ITEM> menuItems, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("settingsDialog"));
    QString title = QCoreApplication::translate("Settings", "Settings");
    if (!Settings_ActivePath().empty())
        title +=
            QStringLiteral(": ") + QFileInfo(QText_From(Settings_ActivePath())).completeBaseName();
    setWindowTitle(title);
    setWindowModality(Qt::NonModal);
    tabs_ = new QTabWidget(this);
    tabs_->setObjectName(QStringLiteral("tabs"));
    accounts_ = new AccountsPage(tabs_);
    filters_ = new FiltersPage(tabs_);
    connection_ = new ConnectionPage(tabs_);
    update_ = new UpdatePage(tabs_);
    common_ = new CommonPage(std::move(menuItems), tabs_);
    tabs_->addTab(accounts_, QCoreApplication::translate("Settings", "Accounts"));
    tabs_->addTab(filters_, QCoreApplication::translate("Settings", "Filters"));
    tabs_->addTab(connection_, QCoreApplication::translate("Settings", "Connection"));
    tabs_->addTab(update_, QCoreApplication::translate("Settings", "Auto Update"));
    tabs_->addTab(common_, QCoreApplication::translate("Settings", "Common"));
    // Filters exist only with the plug-in.
    tabs_->setTabVisible(PAGE_FILTERS, Account_FilterOps() != nullptr);
    connect(tabs_, &QTabWidget::currentChanged, this, [this](int page) {
        if (page == PAGE_FILTERS) filters_->Refresh();
    });

    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    auto* profilesButton = box->addButton(QCoreApplication::translate("Settings", "&Profiles..."),
                                          QDialogButtonBox::ActionRole);
    profilesButton->setObjectName(QStringLiteral("profiles"));
    box->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("ok"));
    box->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cancel"));
    connect(box, &QDialogButtonBox::accepted, this, [this] { Ok(); });
    connect(box, &QDialogButtonBox::rejected, this, [this] { Cancel(); });
    connect(profilesButton, &QPushButton::clicked, this, &SettingsDialog::profiles);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs_);
    layout->addWidget(box);
}

SettingsDialog::~SettingsDialog() = default;

void SettingsDialog::ShowPage(Page page) {
    tabs_->setCurrentIndex(page);
}

void SettingsDialog::SelectAccount(int row) {
    accounts_->Select(row);
}

int SettingsDialog::CurrentAccountRow() const {
    return accounts_->CurrentRow();
}

bool SettingsDialog::applyAll(bool ok) {
    UiBoxOwner owner(this);
    if (accounts_->Apply(ok) != 0) {
        ShowPage(PAGE_ACCOUNTS);
        return false;
    }
    if (!ok) return true;
    // The global pages edit the record only once each has validated: a
    // page that fails leaves the records as they were.
    GLOBAL_DATA* g = GlobalData_GetRecord();
    const GLOBAL_DATA before = g ? *g : GLOBAL_DATA{};
    const DIALUP_DATA dialBefore = DialUp_GetRecord() ? *DialUp_GetRecord() : DIALUP_DATA{};
    const std::pair<Page, std::function<uint32_t()>> pages[] = {
        {PAGE_FILTERS, [this] { return filters_->Apply(true); }},
        {PAGE_CONNECTION, [this] { return connection_->Apply(true); }},
        {PAGE_UPDATE, [this] { return update_->Apply(true); }},
        {PAGE_COMMON, [this] { return common_->Apply(true); }},
    };
    for (const auto& page : pages) {
        if (page.second() != 0) {
            if (g) {
                // The global filter may have been reopened meanwhile.
                const FILTER_HANDLE filter = g->GlbFilter;
                const std::string filterFile = g->GlbFilterFile;
                *g = before;
                g->GlbFilter = filter;
                g->GlbFilterFile = filterFile;
            }
            if (DIALUP_DATA* d = DialUp_GetRecord()) *d = dialBefore;
            ShowPage(page.first);
            return false;
        }
    }
    if (GlobalData_Save() != 0)
        SettingsBox(
            {"GlobalData_Save", IW_N_("Inboxwarden", "Some settings could not be written.")},
            UM_OK | UM_ICONERROR);
    DialUp_Save();
    return true;
}

bool SettingsDialog::Ok() {
    if (!applyAll(true)) return false;
    closing_ = true;
    accept();
    return true;
}

bool SettingsDialog::Cancel() {
    if (!applyAll(false)) return false;
    closing_ = true;
    QDialog::reject();
    return true;
}

void SettingsDialog::Discard() {
    closing_ = true;
    QDialog::reject();
}

void SettingsDialog::reject() {
    Cancel();
}

void SettingsDialog::closeEvent(QCloseEvent* event) {
    if (closing_ || Cancel()) {
        event->accept();
        return;
    }
    event->ignore();
}

void SettingsDialog::profiles() {
    UiBoxOwner owner(this);
    while (!applyAll(true)) {
        const int answer = SettingsBox(
            {"Inboxwarden", IW_N_("Inboxwarden", "Do you want save settings?")}, UM_YESNOCANCEL);
        if (answer == UM_IDYES) continue;
        if (answer != UM_IDNO) return;
        applyAll(false);
        break;
    }
    if (!ProfilesDialog_Run(this)) return;
    // The account table was replaced: nothing here may touch it again.
    profileSwitched_ = true;
    closing_ = true;
    accept();
}

namespace {
std::function<bool()> g_uninstaller;
}

void SettingsDialog_SetUninstaller(std::function<bool()> uninstall) {
    g_uninstaller = std::move(uninstall);
}

std::function<bool()> SettingsDialog_Uninstaller() {
    return g_uninstaller;
}

SettingsDialog* SettingsDialog_Current() {
    return g_current;
}

bool SettingsDialog_Run(QWidget* owner, std::vector<SETTINGS_MENU_ITEM> menuItems) {
    UiBoxOwner outer(owner);
    auto* dialog = new SettingsDialog(std::move(menuItems));
    // Its questions and messages come up in front of it.
    UiBoxOwner boxes(dialog);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    g_current = dialog;
    QEventLoop loop;
    bool ok = false;
    QObject::connect(dialog, &QDialog::finished, &loop, [&](int result) {
        ok = result == QDialog::Accepted;
        loop.quit();
    });
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
    loop.exec();
    return ok;
}
