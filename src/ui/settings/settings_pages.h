// SPDX-License-Identifier: GPL-3.0-or-later
// The pages of the settings dialog and its smaller dialogs. Each page fills
// itself from the records when built and has an apply(ok) that answers 0
// (taken over), ERR_BADARG (validation failed: stay open) or ERR_CANCELLED
// (the user cancelled a question).
#pragma once

#include "ui/settings/settings_dialog.h"

#include <QDialog>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;

// Shows a box through the program's handler (tests answer it); the
// dialog's boxes are owned by the dialog.
int SettingsBox(const SETTINGS_MESSAGE& message, unsigned flags);

// A label that names `buddy` for the keyboard and for screen readers.
QLabel* SettingsLabel(const QString& text, QWidget* buddy, QWidget* parent);

class AccountsPage final : public QWidget {
  public:
    explicit AccountsPage(QWidget* parent);
    uint32_t Apply(bool ok);
    void Select(int row);
    int CurrentRow() const;

  private:
    ACCOUNT_FORM readForm() const;
    void showForm(const ACCOUNT_FORM& form);
    void fillList(const ACCOUNT* select);
    // The unsaved-changes test: true when the editor may be left.
    bool leaveEditor();
    bool save();
    void rowChanged(int row);
    void newAccount(bool copy);
    void deleteAccount();
    void advancedIncoming();
    void advancedOutgoing();
    void schedule();
    void updateEnabled();
    void editFilter(bool global);

    QListWidget* list_;
    QPushButton *new_, *copy_, *delete_, *save_;
    QLineEdit* name_;
    QCheckBox *checkIt_, *useSchedule_;
    QPushButton* schedule_;
    QLineEdit* chkTime_;
    QLineEdit *fullName_, *email_, *reply_;
    QLineEdit *chkServer_, *chkLogin_, *chkPswd_;
    QComboBox* chkPswdType_;
    QCheckBox* chkKeyring_;
    QCheckBox* dontClean_;
    QLineEdit* sendServer_;
    QCheckBox* autoSig_;
    QPlainTextEdit* signature_;
    QLineEdit *mailClnt_, *sound_;
    QPushButton *filters_, *globalFilters_;

    // Values the controls do not hold (schedule, Advanced, passwords).
    ACCOUNT_FORM form_;
    ACCOUNT* current_ = nullptr; // null while a new account is edited
    bool newPending_ = false;
    int shownRow_ = -1;
};

class FiltersPage final : public QWidget {
  public:
    explicit FiltersPage(QWidget* parent);
    uint32_t Apply(bool ok);
    void Refresh();

  private:
    QListWidget* list_;
    QLineEdit* file_;
};

class ConnectionPage final : public QWidget {
  public:
    explicit ConnectionPage(QWidget* parent);
    uint32_t Apply(bool ok);

  private:
    CONNECTION_FORM read() const;
    QRadioButton* mode_[3];
    QLineEdit* entry_;
    QCheckBox *hangUp_, *dontHangUp_;
    QLineEdit *proxy_, *port_;
    QRadioButton *socks5_, *socks4_;
};

class UpdatePage final : public QWidget {
  public:
    explicit UpdatePage(QWidget* parent);
    uint32_t Apply(bool ok);

  private:
    QLineEdit* installer_;
    QCheckBox *disable_, *group_, *icon_;
};

class CommonPage final : public QWidget {
  public:
    CommonPage(std::vector<SETTINGS_MENU_ITEM> menuItems, QWidget* parent);
    uint32_t Apply(bool ok);

  private:
    COMMON_FORM read() const;
    void chooseCommand(bool single);
    void chooseFont();
    void showCommands();

    std::vector<SETTINGS_MENU_ITEM> menuItems_;
    COMMON_FORM form_;
    QCheckBox* checkOnStart_;
    QRadioButton *includedOnly_, *allAccounts_;
    QCheckBox *logon_, *progress_, *sndSync_, *once_;
    QRadioButton* visual_[4];
    QCheckBox* desktopNotify_;
    QLineEdit* lines_;
    QCheckBox *askLines_, *confirmDel_, *confirmSend_, *confirmSave_, *whole_, *showHdr_;
    QCheckBox *savePos_, *attach_, *optimize_;
    QLineEdit *prepend_, *reader_, *sound_, *dwnDir_, *spamDir_;
    QPlainTextEdit* signature_;
    QLabel* font_;
    QLineEdit *dblClick_, *sglClick_;
};

// "Incoming mail server" / "Outgoing mail server": edit the Advanced part of
// `form` in place on OK; Cancel leaves it untouched. `refusedPin` is the
// fingerprint of the certificate the last check refused ("" for none).
bool AdvancedIncoming_Edit(QWidget* owner, ACCOUNT_FORM* form, const std::string& refusedPin);
bool AdvancedOutgoing_Edit(QWidget* owner, ACCOUNT_FORM* form, const std::string& refusedPin);

// The "Schedule" time-table editor: edits the 25 masks in place on OK
// ("Select All" and "Clear All" change mask 0 at once, as they say).
bool Schedule_Edit(QWidget* owner, std::array<uint16_t, 25>* schedule);

// Picks a file for a "..." button: the title and the extension it offers.
bool SettingsPickFile(QWidget* owner, const QString& title, const QString& extension,
                      QLineEdit* field);
