// SPDX-License-Identifier: GPL-3.0-or-later
// The profiles dialog, the password prompt and the about box as the user
// meets them: shown on the offscreen platform and driven with keys.
#include "../../support/process.h"
#include "../../support/temp_env.h"
#include "common/status.h"
#include "platform/log.h"
#include "platform/user_message.h"
#include "settings/account.h"
#include "settings/globaldata.h"
#include "settings/profiles.h"
#include "settings/settings.h"
#include "ui/about_box.h"
#include "ui/mailbox/mailbox_window.h"
#include "ui/password_prompt.h"
#include "ui/profiles/profiles_dialog.h"
#include "ui/windows.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

namespace {

namespace fs = std::filesystem;

// Runs `step` once the event loop of the box or dialog about to open runs
// and its window is active; a step that failed half-way does not leave the
// test waiting on a box nobody closes.
void whenShown(std::function<void()> step) {
    QTimer::singleShot(0, [step = std::move(step)] {
        if (QWidget* w = QApplication::activeModalWidget()) {
            EXPECT_TRUE(QTest::qWaitForWindowActive(w));
        }
        step();
        QTimer::singleShot(5000, [] {
            if (QWidget* w = QApplication::activeModalWidget()) w->close();
        });
    });
}

void type(const QString& text) {
    QTest::keyClicks(QApplication::focusWidget(), text);
}

void key(Qt::Key k, Qt::KeyboardModifiers mods = {}) {
    QWidget* target = QApplication::focusWidget();
    if (!target) target = QApplication::activeWindow();
    QTest::keyClick(target, k, mods);
}

TEST(PasswordPrompt, ReturnsWhatWasTypedAndLogsNothingOfIt) {
    const std::string dir = iwtest::MakeTempDir("prompt");
    ASSERT_EQ(DebugLog_Open(dir), 0);
    UiWindows windows;

    struct Case {
        const char* typed;
        Qt::Key end;
        uint32_t rc;
    } const cases[] = {
        {"s3cret p@ss word", Qt::Key_Return, 0},
        {"typed then cancelled", Qt::Key_Escape, ERR_CANCELLED},
        {"", Qt::Key_Return, ERR_NOT_READY}, // OK on an empty field: no password
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        whenShown([&c] {
            QWidget* box = PasswordPrompt_Window();
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(box->windowTitle(), "Inboxwarden Password Prompt");
            EXPECT_EQ(box->findChild<QLabel*>("account")->text(), "Work <b>Mail</b>");
            EXPECT_EQ(box->findChild<QLabel*>("login")->text(), "me@example.org");
            auto* field = qobject_cast<QLineEdit*>(QApplication::focusWidget());
            ASSERT_NE(field, nullptr); // the field has the focus
            EXPECT_EQ(field->echoMode(), QLineEdit::Password);
            bool labelled = false;
            for (QLabel* l : box->findChildren<QLabel*>())
                labelled |= l->buddy() == field && l->text() == "&Enter Your Password:";
            EXPECT_TRUE(labelled);
            type(QString::fromUtf8(c.typed));
            key(c.end);
        });
        std::string password = "unchanged";
        EXPECT_EQ(windows.AskPassword("Work <b>Mail</b>", "me@example.org", &password), c.rc);
        EXPECT_EQ(password, c.rc == 0 ? std::string(c.typed) : "unchanged");
        EXPECT_EQ(PasswordPrompt_Window(), nullptr);
    }
    // No out pointer: nothing is shown.
    EXPECT_EQ(PasswordPrompt_Ask(nullptr, "Work", "me", nullptr), ERR_NOT_READY);

    DebugLog_Close();
    const std::string log = iwtest::ReadFile(dir + "/debug_info.txt");
    EXPECT_FALSE(log.empty());
    EXPECT_EQ(log.find("s3cret"), std::string::npos);
    EXPECT_EQ(log.find("typed then"), std::string::npos);
}

TEST(AboutBox, ShowsTheVersionTheProgramPrintsAndTheLicence) {
    // "inboxwarden 0.1.0\n" from the program itself.
    std::string printed;
    ASSERT_EQ(iwtest::RunCollect({IW_PROGRAM, "--version"}, &printed), 0);
    ASSERT_EQ(printed.rfind("inboxwarden ", 0), 0u) << printed;
    const std::string version = printed.substr(12, printed.find('\n') - 12);
    const std::string line = AboutBox_VersionLine();
    EXPECT_EQ(line.substr(0, line.find('\n')), "Inboxwarden " + version);
    // The date of the sources, as the build takes it: "(YYYY-MM-DD)".
    EXPECT_TRUE(QString::fromStdString(line.substr(line.find('\n') + 1))
                    .contains(QRegularExpression("^\\(20\\d\\d-[01]\\d-[0-3]\\d\\)$")))
        << line;

    std::vector<std::string> boxes;
    UserMsg_SetHandler([&](std::string_view, std::string_view text, unsigned) {
        boxes.emplace_back(text);
        return UM_IDOK;
    });
    UiWindows windows;
    EXPECT_TRUE(windows.Has(APP_WINDOW::About));
    QString licenceText;
    whenShown([&licenceText] {
        QWidget* box = AboutBox_Window();
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->windowTitle(), "About Inboxwarden");
        EXPECT_EQ(box->findChild<QLabel*>("version")->text().toStdString(), AboutBox_VersionLine());
        EXPECT_TRUE(box->findChild<QLabel*>("licence")->text().contains("GPL-3.0-or-later"));
        auto* licence = box->findChild<QPushButton*>("licenceButton");
        EXPECT_EQ(licence->text(), "&License");
        // The installed text (here the system's copy of the GPL).
        QTimer::singleShot(0, [&licenceText] {
            QWidget* shown = QApplication::activeModalWidget();
            if (auto* t = shown ? shown->findChild<QPlainTextEdit*>("licenceText") : nullptr)
                licenceText = t->toPlainText();
            if (shown) shown->close();
        });
        licence->click();
        QTest::keyClick(box, Qt::Key_Return);
    });
    windows.Open(APP_WINDOW::About);
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(licenceText.contains("GNU GENERAL PUBLIC LICENSE"));

    UserMsg_SetHandler(nullptr);
}

class ProfilesDialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = iwtest::MakeTempDir("profdlg");
        ASSERT_EQ(RegStore_Open(dir_ + "/registry.db"), REGSTORE_OK);
        GlobalData_SetManageLogon(true);
        for (const char* name : {"Other", "Main"}) {
            ASSERT_EQ(Settings_Initialize(Profiles_Path(dir_, name), 0), 0u);
            ASSERT_EQ(Account_Save(Account_Add(std::string("In ") + name, nullptr), -1), 0u);
            ASSERT_EQ(Settings_Shutdown(false), 0u);
        }
        ASSERT_EQ(Settings_Initialize(Profiles_Path(dir_, "Main"), 2), 0u);
        UserMsg_SetHandler([this](std::string_view, std::string_view text, unsigned) {
            boxes_.emplace_back(text);
            return answer_;
        });
    }
    void TearDown() override {
        if (MailBoxWindow* m = MailBox_Window()) m->CloseNow();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        UserMsg_SetHandler(nullptr);
        Settings_Abort();
        GlobalData_SetManageLogon(false);
    }
    static QTreeWidget* list() {
        return ProfilesDialog_Window()->findChild<QTreeWidget*>("profiles");
    }
    static QStringList names() {
        QStringList out;
        for (int i = 0; i < list()->topLevelItemCount(); ++i)
            out << list()->topLevelItem(i)->text(0) + "=" + list()->topLevelItem(i)->text(1);
        return out;
    }
    // The account names the MailBox window's tree shows.
    static QStringList tree() {
        QStringList out;
        QTreeWidgetItem* root = MailBox_Window()->Tree()->topLevelItem(0);
        for (int i = 0; root && i < root->childCount(); ++i)
            out << root->child(i)->data(0, Qt::UserRole).toString();
        return out;
    }

    std::string dir_;
    std::vector<std::string> boxes_;
    int answer_ = UM_IDNO;
};

// Everything by keyboard: a window that leaves the others usable, the
// rename typed into the list, Delete asking first, Activate switching and
// the MailBox window showing the new accounts afterwards.
TEST_F(ProfilesDialogTest, RunByKeyboard) {
    UiWindows windows;
    windows.Open(APP_WINDOW::MailBox);
    ASSERT_EQ(tree(), QStringList{"In Main"});
    bool second = true, openWhenBack = true;
    whenShown([&] {
        QWidget* d = ProfilesDialog_Window();
        ASSERT_NE(d, nullptr);
        EXPECT_TRUE(QTest::qWaitForWindowActive(d));
        EXPECT_EQ(d->windowModality(), Qt::NonModal);
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
        // A second command while it is open brings it to the front and
        // returns once it has closed.
        QTimer::singleShot(0, [&] {
            second = ProfilesDialog_Run(nullptr);
            openWhenBack = ProfilesDialog_Window() && ProfilesDialog_Window()->isVisible();
        });
        EXPECT_EQ(names(), (QStringList{"Main=active", "Other="}));
        for (QPushButton* b : d->findChildren<QPushButton*>())
            if (b->text() != "Close" && b->text() != "...") {
                EXPECT_TRUE(b->text().contains('&')) << b->text().toStdString();
            }
        // Each label names what it stands for.
        for (QLabel* l : d->findChildren<QLabel*>())
            EXPECT_NE(l->buddy(), nullptr) << l->text().toStdString();
        EXPECT_FALSE(d->findChild<QPushButton*>("chooseFolder")->accessibleName().isEmpty());

        list()->setFocus();
        key(Qt::Key_Down); // Other
        key(Qt::Key_F2);
        type("Travel");
        key(Qt::Key_Return);
        QTimer::singleShot(0, [this] {
            // The rename is made once the editor has closed.
            EXPECT_TRUE(
                QTest::qWaitFor([this] { return fs::exists(Profiles_Path(dir_, "Travel")); }));
            EXPECT_FALSE(fs::exists(Profiles_Path(dir_, "Other")));
            EXPECT_EQ(names(), (QStringList{"Main=active", "Travel="}));
            key(Qt::Key_Delete); // answered No
            EXPECT_EQ(boxes_.size(), 1u);
            EXPECT_TRUE(fs::exists(Profiles_Path(dir_, "Travel")));
            key(Qt::Key_A, Qt::AltModifier);
        });
    });
    EXPECT_TRUE(ProfilesDialog_Run(nullptr));
    EXPECT_FALSE(second);
    EXPECT_FALSE(openWhenBack);
    EXPECT_EQ(ProfilesDialog_Window(), nullptr);
    EXPECT_EQ(Settings_ActivePath(), Profiles_Path(dir_, "Travel"));
    EXPECT_NE(Account_Get("In Other", -1), nullptr);
    EXPECT_EQ(tree(), QStringList{"In Other"});
}

} // namespace
