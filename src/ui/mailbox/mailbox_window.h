// SPDX-License-Identifier: GPL-3.0-or-later
// The MailBox window: every account as a node of a tree and, for the
// selected one, the messages still on its server as rows of a list. The
// rules live in MailBoxModel (mailbox_model.h); this widget shows what the
// model holds, hands it the user's commands and the program's messages, and
// shows the boxes the model asks for, with the window as their parent.
//
// There is at most one MailBox window, non-modal and top-level. UI thread
// only, except MailBox_IsOpen.
#pragma once

#include "ui/mailbox/mailbox_model.h"

#include <QMainWindow>
#include <QPointer>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

class APP_WINDOWS;
class FindBox;
class MailBoxRows;
class QAction;
class QCheckBox;
class QDialog;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QSplitter;
class QToolBar;
class QTreeView;
class QTreeWidget;
struct ACCOUNT;

// What the window needs from the program around it. Empty members do
// nothing (tests leave out what they do not look at).
struct MAILBOX_HOST {
    // The windows of later parts of the program (viewer, compose, ...).
    APP_WINDOWS* windows = nullptr;
    // The tray's commands the window offers too: settings 40001, profiles
    // 40041, automatic checking 40002, exit 40005, about 40010, help 40013.
    std::function<void(int command)> trayCommand;
    // Starts the account's mail client (null: the global one); false when
    // it did not start (the box has been shown).
    std::function<bool(ACCOUNT* account)> launchMailClient;
    // Recounts the tray's icon and tooltip.
    std::function<void()> trayRefresh;
    // Stops the tray's new-mail blink (the user looks at the mail now).
    std::function<void()> stopBlink;
    // Whether a compose window is open.
    std::function<bool()> composeOpen;
};

class MailBoxWindow final : public QMainWindow {
  public:
    explicit MailBoxWindow(MAILBOX_HOST host);
    ~MailBoxWindow() override;

    // Carries out a command of the menus, the toolbar or a shortcut.
    void Command(int command);

    // ---- Messages from the program ------------------------------------
    // The engine checked `account` / recounted its box; it waits meanwhile.
    void AccountChecked(uint32_t result, ACCOUNT* account);
    void Refresh(ACCOUNT* account);
    // The tray's 40085 (automatic checking switched), 41001 (flash), 41002
    // (a check of one account from outside). The last two bring the window
    // to the front, back from minimised too, unless a compose window is open.
    void TrayCommand(int command);
    // The settings or the accounts changed.
    void SettingsChanged();
    // A message viewer marked message `id` of `account` for deletion / changed
    // the account's box (a status, a message deleted at once).
    void MessageMarked(ACCOUNT* account, std::string_view id);
    void CountsChanged(ACCOUNT* account);
    // Closes without a question and without keeping the layout (shutdown).
    void CloseNow();

    // ---- For tests and screenshots ------------------------------------
    MailBoxModel& Model() { return model_; }
    QTreeWidget* Tree() const { return tree_; }
    QTreeView* List() const { return list_; }
    QAction* Action(int command) const;
    QDialog* FindBox() const;
    QDialog* LinesBox() const { return linesBox_; }
    QLabel* StatusLabel(int line) const; // 0 status, 1 error, 2 size

  protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // Building (mailbox_window.cpp).
    void buildActions();
    void buildMenus();
    void buildToolBar();
    void buildCentre();
    void restoreLayout();
    QAction* addCommand(int command, const QString& text, const QKeySequence& key = {});
    void applyButtonSize();

    // Showing the model.
    void apply(const MAILBOX_OUTCOME& outcome, bool deferNotice = false);
    void sync();
    void syncTree();
    void syncSelection();
    void syncTexts();
    void syncActions();
    void takeSelection();
    void onTreeSelection();
    int nodeOf(const class QTreeWidgetItem* item) const;

    // Commands (mailbox_window_commands.cpp).
    int ask(const MAILBOX_NOTICE& notice);
    void checkCurrent(bool fromDoubleClick);
    void checkAll(bool includedOnly);
    void deleteNow();
    void find(bool forward);
    void showFindBox();
    void openLater(int command);
    void addFilter();
    void openMessage(unsigned flags);
    void returnError();
    void systemInfo();
    std::optional<MAILBOX_LINES> askLines(int32_t lines);
    void closeKeeping(bool keepLayout);
    void listMenu(const QPoint& at);
    void treeMenu(const QPoint& at);

    MAILBOX_HOST host_;
    MailBoxModel model_;
    MailBoxRows* rows_ = nullptr;
    QTreeWidget* tree_ = nullptr;
    QTreeView* list_ = nullptr;
    QSplitter* splitter_ = nullptr;
    QToolBar* toolBar_ = nullptr;
    QLabel* logo_ = nullptr;
    QLabel* statusLine_ = nullptr;
    QLabel* errorLine_ = nullptr;
    QLabel* sizeLine_ = nullptr;
    QPushButton* checkButton_ = nullptr;
    QPushButton* closeButton_ = nullptr;
    QMenu* messageMenu_ = nullptr;
    QMenu* mailBoxMenu_ = nullptr;
    QMenu* listMenu_ = nullptr;
    ::FindBox* findBox_ = nullptr;
    QDialog* linesBox_ = nullptr; // the line-count question while it is open
    std::string lastFind_;
    bool lastMatchCase_ = false;
    bool syncing_ = false; // the view is being set from the model
    bool asking_ = false;  // a close question is open
    bool keepLayout_ = false;
    bool closeNow_ = false;
};

// Opens the MailBox window, or brings the open one to the front (41001),
// restoring it when minimised. Returns the window.
MailBoxWindow* MailBox_Open(const MAILBOX_HOST& host);
// The open window, or null.
MailBoxWindow* MailBox_Window();
// Whether the window is open; any thread.
bool MailBox_IsOpen();
