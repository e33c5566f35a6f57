// SPDX-License-Identifier: GPL-3.0-or-later
// The settings dialog: the accounts and the global settings on five pages
// (Accounts, Filters, Connection, Auto Update, Common). A top-level window
// that is not application-modal, so that the tray stays usable and can
// bring it to the front. Its rules live in settings_model.h.
//
// UI thread only. The caller has stopped the check worker and the account
// timers before it opens (saving renames, deletes and rewrites accounts).
#pragma once

#include "ui/settings/settings_model.h"

#include <QDialog>

#include <functional>
#include <vector>

class QTabWidget;
class QMenu;

// A tray command the Common page offers for the double and single click.
struct SETTINGS_MENU_ITEM {
    std::string text; // as the tray menu shows it
    int command = 0;
};

class SettingsDialog final : public QDialog {
  public:
    enum Page { PAGE_ACCOUNTS, PAGE_FILTERS, PAGE_CONNECTION, PAGE_UPDATE, PAGE_COMMON };

    // `menuItems`: the tray's commands for the click choices.
    explicit SettingsDialog(std::vector<SETTINGS_MENU_ITEM> menuItems = {},
                            QWidget* parent = nullptr);
    ~SettingsDialog() override;

    QTabWidget* Tabs() const { return tabs_; }
    void ShowPage(Page page);

    // OK: every page applied in tab order (the first that fails keeps the
    // dialog open), the global and dial-up settings written. true when closed.
    bool Ok();
    // Cancel (also closing the window): the account in the editor is
    // offered for saving first; Cancel there keeps the dialog open.
    bool Cancel();
    // Closes without applying or asking anything (shutdown).
    void Discard();
    // Whether another profile was activated from the dialog.
    bool ProfileSwitched() const { return profileSwitched_; }

    // The accounts page's editor, for the tray's tests and screenshots.
    void SelectAccount(int row);
    int CurrentAccountRow() const;

  protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

  private:
    bool applyAll(bool ok);
    void profiles();

    QTabWidget* tabs_ = nullptr;
    class AccountsPage* accounts_ = nullptr;
    class FiltersPage* filters_ = nullptr;
    class ConnectionPage* connection_ = nullptr;
    class UpdatePage* update_ = nullptr;
    class CommonPage* common_ = nullptr;
    bool profileSwitched_ = false;
    bool closing_ = false;
};

// Runs the dialog until it closes; returns true after OK. `owner` parents
// the dialog's boxes only (the dialog itself is top-level).
bool SettingsDialog_Run(QWidget* owner, std::vector<SETTINGS_MENU_ITEM> menuItems = {});
// The open dialog, or null.
SettingsDialog* SettingsDialog_Current();
// What the Auto Update page's "Uninstall Inboxwarden" button runs: true when
// the removal goes on (the dialog then closes). Unset, the button says that
// this build cannot remove itself.
void SettingsDialog_SetUninstaller(std::function<bool()> uninstall);
std::function<bool()> SettingsDialog_Uninstaller();
