// SPDX-License-Identifier: GPL-3.0-or-later
// The compose window on the offscreen platform: the send progress box and
// its completion, the account list after a settings change, the fields a
// user reaches by keyboard.
#include "compose_support.h"

#include <QApplication>
#include <QComboBox>
#include <QCompleter>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <chrono>
#include <filesystem>
#include <thread>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A loopback port nobody listens on.
int closedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

class ComposeWindowTest : public ::testing::Test, protected iwtest::WindowHarness {
  protected:
    void SetUp() override {
        Start();
        Compose_SetWindows(&windows_);
        MailSend_SetUi(SendProgress_Hooks());
        GlobalData_SetParam(GD_CONFIRMMSGSEND, 0);
        GlobalData_SetParam(GD_CONFIRMREPLYSAVE, 0);
    }
    void TearDown() override {
        for (ComposeWindow* w : Compose_Windows())
            w->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        MailSend_SetUi({});
        Compose_SetWindows(nullptr);
        Stop();
    }
    iwtest::PromptWindows windows_;
};

TEST_F(ComposeWindowTest, ARefusedConnectionClosesTheSendBoxAtOnce) {
    ACCOUNT* acc = account("Work", {});
    acc->Email = "me@work.example";
    acc->SendServer = "127.0.0.1";
    acc->SendPort = closedPort();
    ComposeWindow* w = Compose_Open(COMPOSE_SOURCE{"Work", "", COMPOSE_KIND::New, false});
    iwtest::Fill(w, "you@there.example", "Hello", "text");
    // A box left waiting for a close that came before it existed would
    // hold Send() until this rescue.
    bool stuck = false;
    QTimer rescue;
    rescue.setSingleShot(true);
    QObject::connect(&rescue, &QTimer::timeout, [&] {
        stuck = true;
        if (QWidget* box = Progress_Window()) box->close();
    });
    rescue.start(20000);
    // The box comes up late, after the send has failed: it must end at once.
    MAILSEND_UI late = SendProgress_Hooks();
    late.run = [run = late.run](void* owner, const char* text,
                                std::shared_ptr<CHECK_COMPLETION> completion) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return run(owner, text, std::move(completion));
    };
    MailSend_SetUi(late);
    for (int i = 0; i < 3; ++i) {
        boxes_.clear();
        w->Send();
        EXPECT_FALSE(stuck);
        ASSERT_EQ(boxes_.size(), 1u);
        EXPECT_EQ(boxes_[0].rfind("Error: ", 0), 0u) << boxes_[0];
    }
    EXPECT_EQ(Progress_Window(), nullptr);
    EXPECT_EQ(w->SendButton()->text().toStdString(), "&Send");
}

// Typing part of a name in a recipient field offers the address book's
// entries for it; taking one keeps the addresses typed before it.
TEST_F(ComposeWindowTest, RecipientFieldsOfferTheAddressBook) {
    const std::string dir = iwtest::SandboxDir() + "/data/inboxwarden";
    std::filesystem::create_directories(dir);
    iwtest::WriteFile(dir + "/contacts.vcf",
                      "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ada Moreau\r\nEMAIL:ada@work.example\r\n"
                      "END:VCARD\r\nBEGIN:VCARD\r\nVERSION:3.0\r\nFN:Berg\\, Jonas\r\n"
                      "EMAIL:jonas@work.example\r\nEND:VCARD\r\n");
    account("Work", {});
    ComposeWindow* w = Compose_Open(COMPOSE_SOURCE{"Work", "", COMPOSE_KIND::New, false});
    QLineEdit* cc = w->Field("cc");
    auto* completer = cc->findChild<QCompleter*>(QStringLiteral("addressCompleter"));
    ASSERT_NE(completer, nullptr);
    cc->setText(QStringLiteral("x@y.example, "));
    QTest::keyClicks(cc, QStringLiteral("jon"));
    ASSERT_EQ(completer->completionCount(), 1);
    EXPECT_EQ(completer->currentCompletion().toStdString(), "\"Berg, Jonas\" <jonas@work.example>");
    emit completer->activated(completer->currentCompletion());
    EXPECT_EQ(cc->text().toStdString(), "x@y.example, \"Berg, Jonas\" <jonas@work.example>");
    std::filesystem::remove(dir + "/contacts.vcf");
}

TEST_F(ComposeWindowTest, AccountListFollowsTheSettingsAndFieldsAreNamedForKeyboards) {
    ACCOUNT* acc = account("Work", {});
    acc->FullUserName = "Wendy";
    ComposeWindow* w = Compose_Open(COMPOSE_SOURCE{"Work", "", COMPOSE_KIND::New, false});
    auto* combo = w->findChild<QComboBox*>(QStringLiteral("account"));
    ASSERT_NE(combo, nullptr);
    EXPECT_EQ(combo->count(), 1);
    ACCOUNT* home = account("Home", {});
    home->FullUserName = "Hannah";
    Compose_SettingsChanged();
    EXPECT_EQ(combo->count(), 2);
    EXPECT_EQ(combo->currentText().toStdString(), "Work");
    combo->setCurrentIndex(combo->findText(QStringLiteral("Home")));
    emit combo->activated(combo->currentIndex());
    EXPECT_EQ(w->Field("name")->text().toStdString(), "Hannah");

    // Every edit has a label buddy or a name a screen reader speaks.
    for (QWidget* f : w->findChildren<QWidget*>()) {
        if (!qobject_cast<QLineEdit*>(f) && !qobject_cast<QPlainTextEdit*>(f) &&
            !qobject_cast<QComboBox*>(f))
            continue;
        bool named = !f->accessibleName().isEmpty();
        for (QLabel* l : w->findChildren<QLabel*>())
            named = named || l->buddy() == f;
        EXPECT_TRUE(named) << f->objectName().toStdString();
    }

    // Tab in the text indents; a double click in BCC puts the sender there.
    w->Field("address")->setText(QStringLiteral("me@home.example"));
    w->Field("bcc")->setText(QStringLiteral("x@y.example"));
    QTest::mouseDClick(w->Field("bcc"), Qt::LeftButton);
    EXPECT_EQ(w->Field("bcc")->text().toStdString(), "me@home.example,x@y.example");
    w->TextField()->setFocus();
    QTest::keyClick(w->TextField(), Qt::Key_Tab);
    EXPECT_TRUE(w->TextField()->toPlainText().startsWith(QStringLiteral("        ")));
    // Ctrl+Enter sends from the text; an account without a server refuses.
    w->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w));
    w->TextField()->setFocus();
    QTest::keyClick(w->TextField(), Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(boxes_, std::vector<std::string>{"Error: Send server name is empty."});
}

} // namespace
