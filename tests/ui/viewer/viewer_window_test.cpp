// SPDX-License-Identifier: GPL-3.0-or-later
// The viewer window as a user drives it on the offscreen platform: what
// its toolbar and menus offer, links clicked in the text, the Find box,
// attachments opened and saved, and where the window is kept on close.
// The rules themselves are the view model's tests.
#include "../../support/process.h"
#include "../mailbox/window_harness.h"
#include "ui/print.h"
#include "ui/qtext.h"
#include "ui/viewer/viewer.h"
#include "ui/viewer/viewer_window.h"
#include "ui/windows.h"
#include "viewer_support.h"

#include <QAction>
#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPrinter>
#include <QPushButton>
#include <QTextBlock>
#include <QTextBrowser>
#include <QToolBar>
#include <QUrl>

namespace {

using iwtest::MakeMessage;

class ViewerWindowTest : public ::testing::Test, protected iwtest::WindowHarness {
  protected:
    void SetUp() override {
        Start();
        ASSERT_EQ(GlobalData_SetOptionText("ShowHdr", "0"), 0u);
        VIEWER_HOST host;
        host.windows = &later_;
        host.openUrl = [this](const QUrl& u) {
            urls_.push_back(u);
            return true;
        };
        Viewer_SetHost(host);
    }
    void TearDown() override {
        Viewer_CloseAll();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        Viewer_SetHost({});
        Stop();
    }
    ViewerWindow* view(const std::string& text, const std::string& account = "",
                       const char* id = nullptr) {
        MSG_RECORD r = MsgRecord_Empty();
        if (id) r.SetText(MSGF_ID, id);
        auto* w = static_cast<ViewerWindow*>(Viewer_Open(account, text, id ? &r : nullptr));
        EXPECT_TRUE(w && QTest::qWaitForWindowExposed(w));
        w->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(w));
        return w;
    }
    static QString selected(ViewerWindow* w) { return w->TextField()->textCursor().selectedText(); }
    static int selectionStart(ViewerWindow* w) {
        return w->TextField()->textCursor().selectionStart();
    }
    // A click in the text on the character at `pos`.
    static void clickAt(ViewerWindow* w, int pos) {
        QTextCursor c(w->TextField()->document());
        c.setPosition(pos + 1);
        const QPoint p = w->TextField()->cursorRect(c).center() - QPoint(2, 0);
        QTest::mouseClick(w->TextField()->viewport(), Qt::LeftButton, {}, p);
    }

    std::vector<QUrl> urls_;
};

TEST_F(ViewerWindowTest, ToolbarMenusAndTextFollowTheMessage) {
    const std::string tnef =
        iwtest::ReadFile(std::string(IW_SOURCE_DIR) + "/tests/message/data/tnef/two-files.tnef");
    ViewerWindow* w =
        view(MakeMessage("Quarterly", "plain words", {{"winmail.dat", tnef}}, "<p>html words</p>"));
    EXPECT_EQ(w->parentWidget(), nullptr);
    EXPECT_TRUE(w->isWindow());
    EXPECT_FALSE(w->isModal());
    EXPECT_EQ(w->windowTitle(), "Message preview: Quarterly");
    EXPECT_EQ(w->HeaderValue(0)->text(), "Alice <alice@example.org>");
    EXPECT_EQ(w->HeaderValue(4)->text(), "Quarterly");

    QStringList order;
    for (QAction* a : w->ToolBar()->actions()) {
        order << (a->isSeparator() ? QStringLiteral("|") : a->objectName().mid(3));
        if (!a->isSeparator()) {
            EXPECT_FALSE(a->toolTip().isEmpty());
            EXPECT_FALSE(a->toolTip().contains(QLatin1Char('&')));
        }
    }
    EXPECT_EQ(order.join(QLatin1Char(' ')),
              "40012 40042 | 40035 40040 | 40016 40015 | 40028 40046 | 40051 40052 40053");
    EXPECT_TRUE(w->Action(VC_BROWSER)->isVisible());

    EXPECT_EQ(w->TextField()->toPlainText(), "plain words");
    w->Action(VC_SHOW_SOURCE)->trigger();
    EXPECT_TRUE(w->TextField()->toPlainText().startsWith("From: Alice"));

    // The attachment and its packed files; a "+" row opens its own file.
    QListWidget* list = w->Attachments();
    ASSERT_EQ(list->count(), 3);
    EXPECT_EQ(list->item(0)->text(), "winmail.dat");
    EXPECT_TRUE(list->item(1)->text().startsWith('+'));
    list->setCurrentRow(1);
    QTest::keyClick(list, Qt::Key_Return);
    ASSERT_EQ(urls_.size(), 1u);
    EXPECT_TRUE(urls_[0].isLocalFile());
    EXPECT_TRUE(urls_[0].toLocalFile().startsWith(QText_From(w->Model().Folder()) + "/"));
    // A plain message offers neither HTML command.
    ViewerWindow* plain = view(MakeMessage("Plain", "text"));
    EXPECT_FALSE(plain->Action(VC_BROWSER)->isVisible());
    bool htmlInMenu = false;
    for (QAction* menu : plain->menuBar()->actions())
        for (QAction* a : menu->menu()->actions())
            htmlInMenu |= a == plain->Action(VC_SHOW_HTML) || a == plain->Action(VC_BROWSER);
    EXPECT_FALSE(htmlInMenu);
    EXPECT_FALSE(plain->Attachments()->isVisible());
    EXPECT_EQ(Viewer_Windows().size(), 2u);

    // A filter's request shows the server's answer as the message itself.
    UiWindows windows;
    ASSERT_TRUE(windows.ShowMessage(
        "acc", "+OK 40 octets\r\nSubject: Shown\r\n\r\n..dotted\r\nlast\r\n.\r\n"));
    ASSERT_EQ(Viewer_Windows().size(), 3u);
    const auto* shown = static_cast<ViewerWindow*>(Viewer_Windows().back());
    EXPECT_EQ(shown->windowTitle(), "Message preview: Shown");
    EXPECT_EQ(shown->TextField()->toPlainText(), ".dotted\nlast\n");
}

TEST_F(ViewerWindowTest, OnlyWebAndMailLinksReachTheDesktop) {
    const std::string text = "a file:///tmp/x.desktop b evil-app://run c https://example.org/ "
                             "d mailto:bob@example.org e smb://host/share f";
    ViewerWindow* w = view(MakeMessage("Links", text));
    const QString shown = w->TextField()->toPlainText();
    ASSERT_EQ(shown.toStdString(), text);
    for (const char* link : {"file:", "evil-app:", "https:", "mailto:", "smb:"})
        clickAt(w, static_cast<int>(shown.indexOf(QLatin1String(link))) + 3);
    ASSERT_EQ(urls_.size(), 2u);
    EXPECT_EQ(urls_[0].toString(), "https://example.org/");
    EXPECT_EQ(urls_[1].toString(), "mailto:bob@example.org");
}

TEST_F(ViewerWindowTest, FindBoxWrapsBothWaysAndRemembersTheText) {
    ViewerWindow* w = view(MakeMessage("Find", "alpha beta Alpha gamma alpha"));
    QTest::keyClick(w, Qt::Key_F3, Qt::ControlModifier);
    QDialog* box = w->FindBox();
    ASSERT_TRUE(box && box->isVisible());
    QTest::keyClicks(w->FindBox()->findChild<QLineEdit*>("findText"), "alpha");
    auto* prev = box->findChild<QPushButton*>("findPrev");
    auto* next = box->findChild<QPushButton*>("findNext");
    // From the top, Find Previous wraps to the last one, then walks back.
    QTest::mouseClick(prev, Qt::LeftButton);
    EXPECT_EQ(selectionStart(w), 23);
    QTest::mouseClick(prev, Qt::LeftButton);
    EXPECT_EQ(selectionStart(w), 11);
    EXPECT_EQ(selected(w), "Alpha");
    QTest::mouseClick(prev, Qt::LeftButton);
    EXPECT_EQ(selectionStart(w), 0);
    QTest::mouseClick(prev, Qt::LeftButton);
    EXPECT_EQ(selectionStart(w), 23);
    // Forward past the end starts again at the top; Match case skips "Alpha".
    QTest::mouseClick(next, Qt::LeftButton);
    EXPECT_EQ(selectionStart(w), 0);
    box->findChild<QCheckBox*>("matchCase")->setChecked(true);
    QTest::mouseClick(next, Qt::LeftButton);
    EXPECT_EQ(selectionStart(w), 23);
    EXPECT_EQ(GlobalData_GetText(GD_LASTTXTSEARCH), "alpha");

    w->FindBox()->findChild<QLineEdit*>("findText")->setText("delta");
    QTest::mouseClick(next, Qt::LeftButton);
    EXPECT_EQ(boxes_, std::vector<std::string>{"Inboxwarden: Can't find \"delta\"."});
    // Esc closes the box first, then the viewer.
    w->activateWindow();
    QTest::keyClick(w, Qt::Key_Escape);
    EXPECT_FALSE(box->isVisible());
    EXPECT_TRUE(w->isVisible());
    // A new viewer starts from the latest text.
    ViewerWindow* other = view(MakeMessage("Find", "x delta"));
    QTest::keyClick(other, Qt::Key_F3);
    EXPECT_EQ(selected(other), "delta");
}

// Print puts the header lines the viewer shows above the text it shows.
TEST_F(ViewerWindowTest, PrintPutsTheHeaderLinesAboveTheText) {
    ViewerWindow* w = view(MakeMessage("Quarterly", "plain words"));
    const std::string pdf = iwtest::MakeTempDir("vprint") + "/out.pdf";
    PrintPrinterSource old = Print_SetPrinterSource([&](QWidget*, bool, bool*) {
        auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(QString::fromStdString(pdf));
        return printer;
    });
    w->Action(VC_PRINT)->trigger();
    Print_SetPrinterSource(std::move(old));
    std::string text;
    ASSERT_EQ(iwtest::RunCollect({"pdftotext", "-layout", pdf, "-"}, &text), 0);
    const size_t from = text.find("From :"), subject = text.find("Subject :"),
                 body = text.find("plain words");
    EXPECT_NE(text.find("Alice <alice@example.org>"), std::string::npos) << text;
    EXPECT_LT(from, subject);
    EXPECT_LT(subject, body);
    EXPECT_NE(body, std::string::npos) << text;
}

TEST_F(ViewerWindowTest, ReplyHandsTheMessageOverAndDeleteClosesTheViewer) {
    ACCOUNT* acc = account("acc", {{"m1", MSG_UNREAD}, {"m2", MSG_UNREAD}});
    const std::string text = MakeMessage("Re", "t");
    QPointer<ViewerWindow> replied(view(text, "acc", "m1"));
    QTest::keyClick(replied, Qt::Key_W, Qt::ControlModifier);
    ASSERT_EQ(later_.composed.size(), 1u);
    EXPECT_EQ(later_.composed[0].account, "acc");
    EXPECT_TRUE(later_.composed[0].forward);
    EXPECT_NE(later_.composed[0].messageText.find("Subject: Re"), std::string::npos);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(replied.isNull());

    ViewerWindow* w = view(MakeMessage("Re", "t"), "acc", "m2");
    QPointer<ViewerWindow> alive(w);
    w->Action(VC_DELETE)->trigger();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(alive.isNull());
    EXPECT_EQ(status(acc, "m2"), MSG_TO_DELETE);
    EXPECT_EQ(status(acc, "m1"), MSG_UNREAD);
    EXPECT_TRUE(boxes_.empty());
}

TEST_F(ViewerWindowTest, ClosingAMaximisedViewerKeepsTheNormalRectangle) {
    ViewerWindow* w = view(MakeMessage("Place", "t"));
    w->setGeometry(40, 50, 500, 400);
    const QRect normal = w->geometry();
    w->showMaximized();
    QTest::qWait(20);
    ASSERT_TRUE(w->isMaximized());
    w->close();
    const auto p = ViewerModel::SavedPlacement();
    ASSERT_TRUE(p);
    EXPECT_TRUE(p->maximised);
    EXPECT_EQ(QRect(p->x, p->y, p->width, p->height), normal);

    // The next viewer opens there, maximised.
    ViewerWindow* again = view(MakeMessage("Place", "t"));
    EXPECT_TRUE(again->isMaximized());
    again->showNormal();
    QTest::qWait(20);
    EXPECT_EQ(again->geometry().size(), normal.size());
}

} // namespace
