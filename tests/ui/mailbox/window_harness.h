// SPDX-License-Identifier: GPL-3.0-or-later
// What the MailBox window tests share: a real store with accounts and
// boxes, the window opened as the program opens it, and the list as a user
// sees it.
#pragma once

#include "../../support/temp_env.h"
#include "engine/mailcheck.h"
#include "engine/pop3acc.h"
#include "platform/registry.h"
#include "platform/user_message.h"
#include "settings/account.h"
#include "settings/globaldata.h"
#include "settings/msgbox.h"
#include "settings/msgbox_reg.h"
#include "settings/reg.h"
#include "ui/app_windows.h"
#include "ui/mailbox/mailbox_window.h"

#include <QLocale>
#include <QTest>
#include <QTreeView>

#include <gtest/gtest.h>

#include <algorithm>

namespace iwtest {

struct Msg {
    const char* id;
    int32_t status = MSG_OLD;
    const char* from = "";
    uint16_t day = 1; // of March 2025: the list's default order
};

// The later windows, as the window interface sees them asked for.
class LaterWindows : public APP_WINDOWS {
  public:
    std::vector<APP_WINDOW> opened;
    bool Has(APP_WINDOW) override { return false; }
    void Open(APP_WINDOW w) override { opened.push_back(w); }
    bool IsOpen(APP_WINDOW) override { return false; }
    void MailBoxAccountChecked(uint32_t, ACCOUNT*) override {}
    void MailBoxRefresh(ACCOUNT*) override {}
    void MailBoxCommand(int) override {}
    void SettingsChanged() override {}
    void ProgressStart(bool) override {}
    void ProgressSetAccount(const std::string&) override {}
    void ProgressSetStatus(const std::string&) override {}
    void ProgressClose() override {}
    int ProgressDownload(std::shared_ptr<CHECK_COMPLETION>) override { return 1; }
    void CloseAll() override {}
    int MessageBox(const std::string&, const std::string&, unsigned) override { return UM_IDOK; }
    bool ShowMessage(const std::string&, std::string_view) override { return false; }
    std::vector<COMPOSE_REQUEST> composed;
    void OpenCompose(const COMPOSE_REQUEST& r) override { composed.push_back(r); }
    void NewMailPopup(int) override {}
    uint32_t AskPassword(const std::string&, const std::string&, std::string*) override {
        return ERR_CANCELLED;
    }
    void StatusWindow(StatusMode, int, const std::string&, QMenu*) override {}
};

class WindowHarness {
  protected:
    void Start() {
        QLocale::setDefault(QLocale::c());
        ASSERT_EQ(RegStore_Open(MakeTempDir("mbwindow") + "/registry.db"), REGSTORE_OK);
        ASSERT_EQ(Reg_OpenRoot(&root_, REG_ROOT_PATH), 0u);
        Reg_SetMsgRootKey(root_);
        ASSERT_EQ(GlobalData_Load(root_), 0u);
        UserMsg_SetHandler([this](std::string_view cap, std::string_view text, unsigned) {
            boxes_.push_back(std::string(cap) + ": " + std::string(text));
            return answer_;
        });
    }
    void Stop() {
        if (MailBoxWindow* w = MailBox_Window()) w->CloseNow();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        Queue_Clear();
        Queue_Pop();
        Account_FreeAll();
        GlobalData_Free(0);
        Reg_SetMsgRootKey(nullptr);
        Reg_Close(root_);
        UserMsg_SetHandler(nullptr);
        Pop3Acc_SetHooks({});
    }

    ACCOUNT* account(const char* name, std::initializer_list<Msg> msgs) {
        ACCOUNT* acc = Account_Add(name, nullptr);
        HREGKEY key;
        EXPECT_EQ(RegStore_CreateKey(root_->key, name, &key), REGSTORE_OK);
        add(acc, msgs);
        return acc;
    }
    // Records as a check leaves them in the box.
    static void add(ACCOUNT* acc, std::initializer_list<Msg> msgs) {
        for (const Msg& m : msgs) {
            MSG_RECORD r = MsgRecord_Empty();
            r.SetText(MSGF_ID, m.id);
            r.SetText(MSGF_FROM, m.from);
            r.SetText(MSGF_SUBJECT, std::string("About ") + m.id);
            r.SetText(MSGF_SIZETEXT, MsgRecord_SizeKB(1000));
            r.Size = 1000;
            r.Date = DATETIME{2025, 3, 0, m.day, 12, 0, 0, 0};
            r.Status = m.status;
            EXPECT_EQ(MsgBox_AddMsg(&acc->hMsgBox, &r, acc, 1), 0u);
        }
        MsgBox_Recount(acc->hMsgBox, acc);
    }
    MailBoxWindow* open() {
        MAILBOX_HOST host;
        host.windows = &later_;
        host.trayCommand = [this](int c) { trayCommands_.push_back(c); };
        w_ = MailBox_Open(host);
        EXPECT_TRUE(QTest::qWaitForWindowExposed(w_));
        activate();
        return w_;
    }
    // Shortcuts reach the window that is active.
    void activate() {
        w_->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(w_));
    }
    // The ids of the rows, top to bottom, as the list shows them.
    std::string shown() const {
        std::string out;
        QAbstractItemModel* m = w_->List()->model();
        for (int r = 0; r < m->rowCount(); ++r)
            out += (r ? "," : "") + m->data(m->index(r, MBCOL_SUBJECT)).toString().toStdString();
        return out;
    }
    std::vector<int> selectedRows() const {
        std::vector<int> out;
        for (const QModelIndex& i : w_->List()->selectionModel()->selectedRows())
            out.push_back(i.row());
        std::sort(out.begin(), out.end());
        return out;
    }
    // A click on row `row`, with Ctrl to add it to the selection.
    void click(int row, Qt::KeyboardModifiers mods = {}) {
        QTreeView* list = w_->List();
        const QRect r = list->visualRect(list->model()->index(row, MBCOL_SUBJECT));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, mods, r.center());
    }
    static int32_t status(ACCOUNT* acc, const char* id) {
        const MSG_RECORD* r = MsgBox_FindMsg(acc->hMsgBox, id, nullptr);
        return r ? r->Status : -1;
    }

    REGKEY* root_ = nullptr;
    std::vector<std::string> boxes_;
    int answer_ = UM_IDOK;
    LaterWindows later_;
    std::vector<int> trayCommands_;
    MailBoxWindow* w_ = nullptr;
};

} // namespace iwtest
