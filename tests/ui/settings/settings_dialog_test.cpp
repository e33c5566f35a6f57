// SPDX-License-Identifier: GPL-3.0-or-later
// The settings dialog as a user drives it, on a real store: the questions
// on leaving an edited account, the password field, the buttons, the
// Advanced and Schedule dialogs, and OK and Cancel on the global pages.
// The rules themselves are the model's tests.
#include "../../support/memory_keyring.h"
#include "../../support/temp_env.h"
#include "common/status.h"
#include "platform/keyring.h"
#include "platform/registry.h"
#include "platform/user_message.h"
#include "settings/account.h"
#include "settings/globaldata.h"
#include "settings/msgbox_reg.h"
#include "settings/reg.h"
#include "ui/settings/settings_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <deque>
#include <functional>

namespace {

class SettingsDialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(RegStore_Open(iwtest::MakeTempDir("settingsdlg") + "/registry.db"), REGSTORE_OK);
        ASSERT_EQ(Reg_OpenRoot(&root_, REG_ROOT_PATH), 0u);
        Reg_SetMsgRootKey(root_);
        ASSERT_EQ(GlobalData_Load(root_), 0u);
        ASSERT_EQ(DialUp_Load(root_), 0u);
        ASSERT_EQ(Account_Initialize(root_), 0u);
        for (const char* n : {"Alpha", "Beta"}) {
            ACCOUNT* a = Account_Add(n, nullptr);
            a->ChkServer = std::string("pop.") + n;
            a->ChkPswd = std::string("pw-") + n;
            ASSERT_EQ(Account_Save(a, -1), 0u);
        }
        UserMsg_SetHandler([this](std::string_view cap, std::string_view text, unsigned) -> int {
            boxes_.push_back(std::string(cap) + ": " + std::string(text));
            if (answers_.empty()) return UM_IDOK;
            const int a = answers_.front();
            answers_.pop_front();
            return a;
        });
    }
    void TearDown() override {
        dialog_.reset();
        Account_FreeAll();
        DialUp_Free();
        GlobalData_Free(0);
        Reg_SetMsgRootKey(nullptr);
        Reg_Close(root_);
        UserMsg_SetHandler(nullptr);
    }
    SettingsDialog* open() {
        dialog_ = std::make_unique<SettingsDialog>();
        dialog_->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(dialog_.get()));
        return dialog_.get();
    }
    template <class T> T* find(const char* name) const {
        T* w = dialog_->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QLineEdit* field(const char* name) const { return find<QLineEdit>(name); }
    void click(const char* name) { QTest::mouseClick(find<QPushButton>(name), Qt::LeftButton); }
    // Drives the next modal dialog (Advanced, Schedule) once it shows.
    static void whenModal(std::function<void(QWidget*)> fn) {
        QTimer::singleShot(0, [fn] {
            QWidget* modal = QApplication::activeModalWidget();
            ASSERT_NE(modal, nullptr);
            fn(modal);
        });
    }
    // The record as the next start loads it.
    ACCOUNT* reloaded(const char* name) {
        Account_FreeAll();
        EXPECT_EQ(Account_Initialize(root_), 0u);
        return Account_Get(name, -1);
    }

    REGKEY* root_ = nullptr;
    std::unique_ptr<SettingsDialog> dialog_;
    std::vector<std::string> boxes_;
    std::deque<int> answers_;
};

TEST_F(SettingsDialogTest, TopLevelAndNotModal) {
    open();
    EXPECT_EQ(dialog_->windowTitle(), "Settings");
    EXPECT_FALSE(dialog_->isModal());
    EXPECT_EQ(dialog_->windowModality(), Qt::NonModal);
    EXPECT_TRUE(dialog_->isWindow());
    QStringList tabs;
    for (int i = 0; i < dialog_->Tabs()->count(); ++i)
        tabs << dialog_->Tabs()->tabText(i);
    EXPECT_EQ(tabs.join(','), "Accounts,Filters,Connection,Auto Update,Common");
    // Every field a label names is named for screen readers too.
    EXPECT_EQ(field("chkServer")->accessibleName(), "Incoming server");
    EXPECT_EQ(field("accountName")->accessibleName(), "Account name");
}

TEST_F(SettingsDialogTest, LeavingAnEditedAccountAsksAndCancelKeepsTheEdits) {
    open();
    EXPECT_EQ(field("accountName")->text(), "Alpha");
    field("chkServer")->setText("pop.changed");

    answers_ = {UM_IDCANCEL};
    dialog_->SelectAccount(1);
    EXPECT_EQ(boxes_, std::vector<std::string>{"Inboxwarden: Do you want save account \"Alpha\"?"});
    EXPECT_EQ(dialog_->CurrentAccountRow(), 0);
    EXPECT_EQ(field("chkServer")->text(), "pop.changed");

    answers_ = {UM_IDNO};
    dialog_->SelectAccount(1);
    EXPECT_EQ(field("accountName")->text(), "Beta");
    EXPECT_EQ(Account_Get("Alpha", -1)->ChkServer, "pop.Alpha") << "No discards";

    // Unchanged: no question.
    boxes_.clear();
    dialog_->SelectAccount(0);
    EXPECT_TRUE(boxes_.empty());

    field("chkServer")->setText("pop.saved");
    answers_ = {UM_IDYES};
    dialog_->SelectAccount(1);
    EXPECT_EQ(dialog_->CurrentAccountRow(), 1);
    EXPECT_EQ(reloaded("Alpha")->ChkServer, "pop.saved");
}

TEST_F(SettingsDialogTest, ClosingAsksAndCancelKeepsTheDialogOpen) {
    open();
    field("email")->setText("a@example.org");
    answers_ = {UM_IDCANCEL};
    EXPECT_FALSE(dialog_->Cancel());
    EXPECT_TRUE(dialog_->isVisible());
    answers_ = {UM_IDCANCEL};
    dialog_->close();
    EXPECT_TRUE(dialog_->isVisible());
    answers_ = {UM_IDNO};
    EXPECT_TRUE(dialog_->Cancel());
    EXPECT_FALSE(dialog_->isVisible());
    EXPECT_EQ(Account_Get("Alpha", -1)->Email, "");
}

TEST_F(SettingsDialogTest, PasswordFieldIsEmptyAndOnlyTypingChangesIt) {
    open();
    QLineEdit* pw = field("chkPswd");
    EXPECT_EQ(pw->text(), "");
    EXPECT_EQ(pw->placeholderText(), "The password is not shown");
    EXPECT_EQ(pw->echoMode(), QLineEdit::Password);

    // Typing into the field never mixes with the placeholder.
    pw->setFocus();
    QTest::keyClicks(pw, "abc");
    QTest::keyClick(pw, Qt::Key_Backspace);
    QTest::keyClick(pw, Qt::Key_Backspace);
    QTest::keyClick(pw, Qt::Key_Backspace);
    click("save");
    EXPECT_EQ(reloaded("Alpha")->ChkPswd, "") << "edited to empty: an empty password";
    EXPECT_EQ(Account_Get("Beta", -1)->ChkPswd, "pw-Beta");

    dialog_.reset();
    open();
    dialog_->SelectAccount(1);
    field("fullUserName")->setText("Bea");
    click("save");
    EXPECT_EQ(reloaded("Beta")->ChkPswd, "pw-Beta") << "untouched: unchanged";

    // "Ask Each Time" keeps no password and the field cannot be typed in.
    dialog_.reset();
    open();
    dialog_->SelectAccount(1);
    find<QComboBox>("chkPswdType")->setCurrentIndex(2);
    EXPECT_FALSE(field("chkPswd")->isEnabled());
    click("save");
    EXPECT_EQ(reloaded("Beta")->ChkPswd, "");
}

TEST_F(SettingsDialogTest, NewCopyDeleteAndSaveWithTheirMessages) {
    open();
    click("new");
    EXPECT_EQ(find<QListWidget>("accountList")->count(), 3);
    EXPECT_EQ(field("accountName")->text(), "");
    click("new"); // nothing while a new account is edited
    EXPECT_EQ(find<QListWidget>("accountList")->count(), 3);
    click("save");
    field("accountName")->setText("Gamma");
    find<QCheckBox>("useSchedule")->setChecked(true);
    click("save");
    EXPECT_EQ(boxes_, (std::vector<std::string>{"Inboxwarden: Empty account name.",
                                                "Inboxwarden: No Schedule!"}));
    EXPECT_EQ(Account_GetCount(), 2) << "nothing stored";
    find<QCheckBox>("useSchedule")->setChecked(false);
    click("save");
    ASSERT_EQ(Account_GetCount(), 3);

    // A copy takes the values (the password too, unseen) but not the name.
    dialog_->SelectAccount(0);
    click("copy");
    EXPECT_EQ(field("accountName")->text(), "");
    EXPECT_EQ(field("chkServer")->text(), "pop.Alpha");
    // Leaving it unsaved with No: it disappears.
    answers_ = {UM_IDNO};
    dialog_->SelectAccount(1);
    EXPECT_EQ(find<QListWidget>("accountList")->count(), 3);
    dialog_->SelectAccount(0);
    click("copy");
    field("accountName")->setText("Alpha copy");
    click("save");
    ACCOUNT* copy = reloaded("Alpha copy");
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->ChkServer, "pop.Alpha");
    EXPECT_EQ(copy->ChkPswd, "pw-Alpha");

    // Delete asks; the selection stays at the same place.
    dialog_.reset();
    open();
    dialog_->SelectAccount(1); // "Alpha copy"
    boxes_.clear();
    answers_ = {UM_IDNO};
    click("delete");
    EXPECT_EQ(Account_GetCount(), 4) << "No keeps it";
    answers_ = {UM_IDYES};
    QTest::keyClick(find<QListWidget>("accountList"), Qt::Key_Delete);
    EXPECT_EQ(boxes_, (std::vector<std::string>{
                          "Inboxwarden: Do you want delete account \"Alpha copy\"?",
                          "Inboxwarden: Do you want delete account \"Alpha copy\"?"}));
    EXPECT_EQ(Account_GetCount(), 3);
    EXPECT_EQ(field("accountName")->text(), "Beta");
}

// The keyring choice beside each password: ticked, the password leaves the
// store for the keyring; a password that is asked for offers no choice.
TEST_F(SettingsDialogTest, KeyringChoiceMovesThePasswordIntoTheKeyring) {
    iwtest::MemoryKeyring keyring;
    Keyring_SetBackend(&keyring);
    open();
    QCheckBox* in = find<QCheckBox>("chkPswdStore");
    EXPECT_TRUE(in->text().contains('&'));
    EXPECT_FALSE(in->accessibleName().isEmpty());
    EXPECT_FALSE(in->isChecked());
    in->setChecked(true);
    whenModal([](QWidget* d) {
        d->findChild<QGroupBox*>("sendSecured")->setChecked(true);
        d->findChild<QRadioButton*>("sendOwn")->setChecked(true);
        d->findChild<QLineEdit*>("sendLogin")->setText("out");
        auto* box = d->findChild<QCheckBox*>("sendPswdStore");
        EXPECT_TRUE(box->text().contains('&'));
        EXPECT_FALSE(box->accessibleName().isEmpty());
        d->findChild<QComboBox*>("sendPswdType")->setCurrentIndex(1);
        EXPECT_FALSE(box->isEnabled()) << "Ask Once keeps no password";
        d->findChild<QComboBox*>("sendPswdType")->setCurrentIndex(0);
        box->setChecked(true);
        QTest::keyClicks(d->findChild<QLineEdit*>("sendPswd"), "smtp-pw");
        static_cast<QDialog*>(d)->accept();
    });
    click("sendAdvanced");
    click("save");
    ACCOUNT* a = reloaded("Alpha");
    EXPECT_EQ(a->ChkPswdStore, ACCOUNT_PSWD_IN_KEYRING);
    EXPECT_EQ(a->SendPswdStore, ACCOUNT_PSWD_IN_KEYRING);
    EXPECT_EQ(a->ChkPswd, "") << "not in the store";
    EXPECT_EQ(a->SendPswd, "");
    std::string pw;
    EXPECT_EQ(Keyring_Lookup({"Alpha", "pop.Alpha", "", KEYRING_PROTOCOL::POP3}, &pw), 0u);
    EXPECT_EQ(pw, "pw-Alpha");
    EXPECT_EQ(Keyring_Lookup({"Alpha", "", "out", KEYRING_PROTOCOL::SMTP}, &pw), 0u);
    EXPECT_EQ(pw, "smtp-pw");

    dialog_.reset();
    open();
    EXPECT_TRUE(find<QCheckBox>("chkPswdStore")->isChecked());
    find<QComboBox>("chkPswdType")->setCurrentIndex(2);
    EXPECT_FALSE(find<QCheckBox>("chkPswdStore")->isEnabled());
    Keyring_SetBackend(nullptr);
}

TEST_F(SettingsDialogTest, AdvancedDialogsEditOnOkOnlyAndPinTheRefusedCertificate) {
    ACCOUNT* alpha = Account_Get("Alpha", -1);
    const std::string fp(64, 'c');
    std::snprintf(alpha->StatusText, sizeof alpha->StatusText, "Pin mismatch, SHA-256 %s",
                  fp.c_str());
    open();
    whenModal([](QWidget* d) {
        d->findChild<QComboBox*>("chkSecurity")->setCurrentIndex(ACCOUNT_SECURITY_TLS);
        d->findChild<QLineEdit*>("chkTmout")->setText("77");
        QTest::mouseClick(d->findChild<QPushButton*>("chkTakePin"), Qt::LeftButton);
        EXPECT_EQ(d->findChild<QLineEdit*>("chkPort")->text(), "995");
        static_cast<QDialog*>(d)->accept();
    });
    click("chkAdvanced");
    whenModal([](QWidget* d) {
        d->findChild<QLineEdit*>("sendPort")->setText("1");
        static_cast<QDialog*>(d)->reject();
    });
    click("sendAdvanced");
    whenModal([](QWidget* d) {
        d->findChild<QGroupBox*>("sendSecured")->setChecked(true);
        d->findChild<QRadioButton*>("sendOwn")->setChecked(true);
        d->findChild<QLineEdit*>("sendLogin")->setText("out");
        d->findChild<QComboBox*>("sendAuthType")->setCurrentIndex(2);
        // A bad number keeps the dialog open with its message.
        d->findChild<QLineEdit*>("sendTmout")->setText("x");
        QTest::keyClick(d, Qt::Key_Return);
        EXPECT_TRUE(d->isVisible());
        d->findChild<QLineEdit*>("sendTmout")->setText("40");
        QTest::keyClick(d, Qt::Key_Return);
    });
    click("sendAdvanced");
    click("save");
    ACCOUNT* a = reloaded("Alpha");
    EXPECT_EQ(a->ChkSecurity, ACCOUNT_SECURITY_TLS);
    EXPECT_EQ(a->ChkPort, 995);
    EXPECT_EQ(a->ChkTmout, 77);
    EXPECT_EQ(a->ChkCertPolicy, ACCOUNT_CERT_PINNED);
    EXPECT_EQ(a->ChkCertPin, fp);
    EXPECT_EQ(a->SendPort, 25) << "Cancel leaves the record untouched";
    EXPECT_EQ(a->SendSecured, 1);
    EXPECT_EQ(a->SendLogin, "out");
    EXPECT_EQ(a->SendAuthType, 2);
    EXPECT_EQ(a->SendTmout, 40);
    EXPECT_EQ(boxes_, std::vector<std::string>{"Error: GetInt -- Not correct value"});
}

TEST_F(SettingsDialogTest, ScheduleEditorBuildsTheMasks) {
    open();
    find<QCheckBox>("useSchedule")->setChecked(true);
    EXPECT_FALSE(field("chkTime")->isEnabled());
    whenModal([](QWidget* d) {
        QTest::mouseClick(d->findChild<QCheckBox*>("minute15"), Qt::LeftButton);
        d->findChild<QComboBox*>("hour")->setCurrentIndex(9);
        d->findChild<QComboBox*>("minute")->setCurrentIndex(6);
        for (QPushButton* b : d->findChildren<QPushButton*>())
            if (b->text() == "&Add") {
                QTest::mouseClick(b, Qt::LeftButton);
                QTest::mouseClick(b, Qt::LeftButton); // listed once
            }
        EXPECT_EQ(d->findChild<QListWidget*>("entries")->count(), 1);
        static_cast<QDialog*>(d)->accept();
    });
    click("schedule");
    click("save");
    ACCOUNT* a = reloaded("Alpha");
    EXPECT_EQ(a->UseSchedule, 1);
    EXPECT_EQ(a->Schedule[0], 1u << 3);
    EXPECT_EQ(a->Schedule[10], 1u << 6);
}

// The Common page: every control reaches its value on OK, nothing on Cancel.
TEST_F(SettingsDialogTest, CommonPageStoresEveryControlOnOk) {
    GlobalData_GetRecord()->NewMailVisual = 0;
    open();
    EXPECT_TRUE(find<QRadioButton>("newMailVisual2")->isChecked()) << "0 shows as 2";
    EXPECT_FALSE(find<QCheckBox>("startOnLogon")->isEnabled()) << "the entry is not managed";
    struct Flag {
        const char* control;
        uint8_t GLOBAL_DATA::*value;
    };
    const Flag flags[] = {
        {"startOnLogon", &GLOBAL_DATA::StartOnLogon},
        {"showProgressWindow", &GLOBAL_DATA::ShowProgressWindow},
        {"sndSync", &GLOBAL_DATA::SndSync},
        {"notifyOnlyOnce", &GLOBAL_DATA::NotifyOnlyOnce},
        {"desktopNotify", &GLOBAL_DATA::DesktopNotify},
        {"askNLines", &GLOBAL_DATA::AskNLines},
        {"confirmMsgDel", &GLOBAL_DATA::ConfirmMsgDel},
        {"confirmMsgSend", &GLOBAL_DATA::ConfirmMsgSend},
        {"confirmReplySave", &GLOBAL_DATA::ConfirmReplySave},
        {"wholeMsg", &GLOBAL_DATA::WholeMsg},
        {"showHdr", &GLOBAL_DATA::ShowHdr},
        {"savTxtWndPos", &GLOBAL_DATA::SavTxtWndPos},
        {"attachCheck", &GLOBAL_DATA::AttachCheck},
        {"optimizeStartup", &GLOBAL_DATA::OptimizeStartup},
    };
    const GLOBAL_DATA before = *GlobalData_GetRecord();
    for (const Flag& f : flags)
        find<QCheckBox>(f.control)->toggle();
    struct Text {
        const char* control;
        std::string GLOBAL_DATA::*value;
    };
    const Text texts[] = {
        {"replyPrepend", &GLOBAL_DATA::ReplyPrepend}, {"mailReader", &GLOBAL_DATA::MailReader},
        {"newMailSound", &GLOBAL_DATA::NewMailSound}, {"dwnRtDir", &GLOBAL_DATA::DwnRtDir},
        {"spamRtDir", &GLOBAL_DATA::SpamRtDir},
    };
    for (const Text& t : texts)
        field(t.control)->setText(QStringLiteral("/x/") + t.control);
    find<QCheckBox>("checkOnStart")->setChecked(true);
    find<QRadioButton>("checkAll")->setChecked(true);
    field("nLinesDwnLoad")->setText("33");
    field("proxyPort")->setText("1081");
    find<QRadioButton>("socks4")->setChecked(true);

    // A bad number on the Common page keeps everything as it was.
    field("nLinesDwnLoad")->setText("3x");
    EXPECT_FALSE(dialog_->Ok());
    EXPECT_EQ(dialog_->Tabs()->currentIndex(), SettingsDialog::PAGE_COMMON);
    EXPECT_EQ(GlobalData_GetRecord()->ProxySocksParam, before.ProxySocksParam);
    field("nLinesDwnLoad")->setText("33");
    ASSERT_TRUE(dialog_->Ok());

    ASSERT_EQ(GlobalData_Reload(), 0u);
    const GLOBAL_DATA& g = *GlobalData_GetRecord();
    for (const Flag& f : flags)
        EXPECT_EQ(g.*f.value, !(before.*f.value)) << f.control;
    for (const Text& t : texts)
        EXPECT_EQ(g.*t.value, std::string("/x/") + t.control) << t.control;
    EXPECT_EQ(g.CheckOnStart, 2);
    EXPECT_EQ(g.NewMailVisual, NMV_POPUP) << "saved as 2";
    EXPECT_EQ(g.NLinesDwnLoad, 33);
    EXPECT_EQ(g.ProxySocksParam, 0x04000439u);

    // Cancel drops the pages' edits.
    open();
    find<QCheckBox>("wholeMsg")->toggle();
    ASSERT_TRUE(dialog_->Cancel());
    EXPECT_EQ(GlobalData_GetRecord()->WholeMsg, g.WholeMsg);
}

#ifdef IW_DISTRO_BUILD
// The package manager updates and removes a packaged program: the page says
// so and offers neither.
TEST_F(SettingsDialogTest, ADistributionBuildLeavesUpdateAndRemovalToThePackageManager) {
    open();
    dialog_->ShowPage(SettingsDialog::PAGE_UPDATE);
    EXPECT_NE(dialog_->findChild<QLabel*>(QStringLiteral("distroNote")), nullptr);
    for (const char* name : {"verify", "uninstall"}) {
        auto* button = dialog_->findChild<QPushButton*>(QString::fromLatin1(name));
        EXPECT_TRUE(button && !button->isEnabled()) << name;
    }
}
#else
TEST_F(SettingsDialogTest, VerifyReadsTheInstallerDateAndUninstallHandsOver) {
    open();
    dialog_->ShowPage(SettingsDialog::PAGE_UPDATE);
    const std::string dir = iwtest::MakeTempDir("verify");
    iwtest::WriteFile(dir + "/three.run", "#!/bin/sh\n# inboxwarden-release: 2026 12 08\n");
    iwtest::WriteFile(dir + "/good.run", "#!/bin/sh\n# inboxwarden-release: 2026 12 08 0\n");
    for (const char* bad : {"/three.run", "/none.run"}) {
        field("remoteInstaller")->setText(QString::fromStdString(dir + bad));
        click("verify");
        EXPECT_EQ(boxes_.back(), "Error: No Existing Inboxwarden Installation File") << bad;
    }
    EXPECT_EQ(GlobalData_GetText(GD_REMOTEINSTALLER), "");
    field("remoteInstaller")->setText(QString::fromStdString(dir + "/good.run"));
    click("verify");
    EXPECT_EQ(boxes_.back().rfind("Settings: Inboxwarden Installation package released on ", 0), 0u)
        << boxes_.back();
    EXPECT_NE(boxes_.back().find("2026"), std::string::npos) << boxes_.back();
    EXPECT_EQ(GlobalData_GetText(GD_REMOTEINSTALLER), dir + "/good.run");

    int asked = 0;
    bool goOn = false;
    SettingsDialog_SetUninstaller([&] {
        ++asked;
        return goOn;
    });
    click("uninstall");
    EXPECT_TRUE(dialog_->isVisible()) << "a removal that does not go on keeps the dialog";
    goOn = true;
    click("uninstall");
    EXPECT_EQ(asked, 2);
    EXPECT_FALSE(dialog_->isVisible());
    SettingsDialog_SetUninstaller(nullptr);
}
#endif

} // namespace
