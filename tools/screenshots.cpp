// SPDX-License-Identifier: GPL-3.0-or-later
// Renders the program's windows into PNGs for docs/screenshots: the check
// progress window, the download box, the new-mail popup, the tray menu, the
// no-tray status window, the tray icon states and the MailBox window's
// images on a light and a dark panel, and the MailBox window (its list, the
// Find box, the delete box, a dark theme), the saved messages windows and the
// message viewer (a message with attachments and a winmail.dat, and its
// source), the filter rule editor, the address book picker, the password
// prompt, the about box, the profiles dialog and the settings dialog (every
// page, the Advanced dialogs and the time-table editor). Runs on a private
// temporary store, a temporary folder of saved messages and a contacts file
// of its own.
//   INBOXWARDEN_REGISTRY=/tmp/x.db build/dev/tools/screenshots docs/screenshots
#include "app/mainwnd.h"
#include "app/tray.h"
#include "engine/mailcheck.h"
#include "message/base64.h"
#include "message/savedfile.h"
#include "settings/account.h"
#include "settings/globaldata.h"
#include "settings/msgbox.h"
#include "settings/msgbox_reg.h"
#include "settings/profiles.h"
#include "settings/reg.h"
#include "settings/settings.h"
#include "ui/about_box.h"
#include "ui/addressbook/addressbook_picker.h"
#include "ui/compose/compose_window.h"
#include "ui/filter/filter_editor_dialog.h"
#include "ui/images.h"
#include "ui/mailbox/mailbox_window.h"
#include "ui/newmail_popup.h"
#include "ui/password_prompt.h"
#include "ui/profiles/profiles_dialog.h"
#include "ui/progress.h"
#include "ui/savedmsgs/savedmsgs_dialogs.h"
#include "ui/settings/settings_dialog.h"
#include "ui/viewer/viewer.h"
#include "ui/viewer/viewer_window.h"
#include "ui/windows.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QStyleFactory>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

QString g_dir;

void save(QWidget* w, const char* name) {
    QApplication::processEvents();
    w->grab().save(g_dir + "/" + name);
    std::printf("%s/%s\n", qPrintable(g_dir), name);
}

void iconSheet() {
    const int ids[] = {120, 121, 122, 123, 124, 125, 126};
    QImage out(7 * 96, 2 * 56, QImage::Format_RGB32);
    QPainter p(&out);
    p.fillRect(0, 0, out.width(), 56, QColor(0xEE, 0xEE, 0xEE));
    p.fillRect(0, 56, out.width(), 56, QColor(0x24, 0x24, 0x2A));
    for (int row = 0; row < 2; ++row)
        for (int i = 0; i < 7; ++i) {
            int x = i * 96 + 8;
            for (int s : {16, 22, 32}) {
                p.drawImage(x, row * 56 + (56 - s) / 2,
                            QImage(QStringLiteral(":/icons/tray-%1-%2.png").arg(ids[i]).arg(s)));
                x += s + 6;
            }
        }
    p.end();
    out.scaled(out.size() * 2, Qt::IgnoreAspectRatio, Qt::FastTransformation)
        .save(g_dir + "/tray-icons.png");
}

// Every MailBox image through the accessor, at 1x and as a scaled screen
// draws it, on a light and on a dark panel, each with its number.
void imageSheet() {
    struct Row {
        const char* title;
        QIcon (*icon)(int);
        const int* ids;
        size_t count;
        int size;
    };
    const Row rows[] = {
        {"list", Images_Status, IMAGES_STATUS, std::size(IMAGES_STATUS), IMAGES_LIST_SIZE},
        {"tree", Images_Tree, IMAGES_TREE, std::size(IMAGES_TREE), IMAGES_LIST_SIZE},
        {"toolbar", Images_Tool, IMAGES_TOOLBAR, std::size(IMAGES_TOOLBAR), IMAGES_TOOL_SIZE},
    };
    const int cell = 64, label = 70, panelH = 290;
    QImage out(label + 14 * cell + 16, 2 * panelH, QImage::Format_RGB32);
    QPainter p(&out);
    QFont small = p.font();
    small.setPixelSize(10);
    p.setFont(small);
    for (int panel = 0; panel < 2; ++panel) {
        const bool dark = panel == 1;
        const int top = panel * panelH;
        p.fillRect(0, top, out.width(), panelH,
                   dark ? QColor(0x24, 0x24, 0x2A) : QColor(0xF2, 0xF2, 0xF2));
        p.setPen(dark ? QColor(0xDD, 0xDD, 0xDD) : QColor(0x33, 0x33, 0x33));
        int y = top + 12;
        for (const Row& r : rows)
            for (double dpr : {1.0, 2.0}) {
                const int px = int(r.size * dpr);
                p.drawText(QRect(8, y, label, px), Qt::AlignVCenter,
                           QStringLiteral("%1 %2x").arg(r.title).arg(dpr));
                for (size_t i = 0; i < r.count; ++i) {
                    const int x = label + int(i) * cell + (cell - px) / 2;
                    QPixmap pm = r.icon(r.ids[i]).pixmap(QSize(r.size, r.size), dpr);
                    pm.setDevicePixelRatio(1);
                    p.drawPixmap(x, y, pm);
                    if (dpr == 2.0)
                        p.drawText(QRect(label + int(i) * cell, y + px, cell, 16), Qt::AlignCenter,
                                   QString::number(r.ids[i]));
                }
                y += px + (dpr == 2.0 ? 22 : 8);
            }
    }
    p.end();
    out.save(g_dir + "/mailbox-images.png");
}

struct Msg {
    const char* from;
    const char* subject;
    int32_t status;
    int32_t size;
    DATETIME date;
    bool attach = false;
};

DATETIME at(uint16_t d, uint16_t h, uint16_t m) {
    return DATETIME{2025, 3, 0, d, h, m, 0, 0};
}

void fill(ACCOUNT* acc, const char* to, std::initializer_list<Msg> msgs) {
    int n = 0;
    for (const Msg& m : msgs) {
        MSG_RECORD r = MsgRecord_Empty();
        r.SetText(MSGF_ID, acc->Name + "-" + std::to_string(++n));
        r.SetText(MSGF_FROM, m.from);
        r.SetText(MSGF_TO, to);
        r.SetText(MSGF_SUBJECT, m.subject);
        r.SetText(MSGF_SIZETEXT, MsgRecord_SizeKB(m.size));
        r.Size = m.size;
        r.Date = m.date;
        r.Status = m.status;
        r.HasAttach = m.attach ? 1 : 0;
        MsgBox_AddMsg(&acc->hMsgBox, &r, acc, 1);
    }
    MsgBox_Recount(acc->hMsgBox, acc);
}

// Three accounts in three states: mail of every status, a failed check,
// only old mail.
void mailboxes() {
    ACCOUNT* work = Account_Get("Work Mail", -1);
    fill(work, "me@work.example",
         {{"Ada Moreau <ada@work.example>", "Quarterly report, final figures", MSG_NEW, 48200,
           at(14, 9, 12), true},
          {"Build robot <ci@work.example>", "Nightly build 1482 passed", MSG_NOTIFIED, 3100,
           at(14, 6, 2)},
          {"Jonas Berg <jonas@work.example>", "Re: Lunch on Friday?", MSG_UNREAD, 2400,
           at(13, 17, 45)},
          {"Priya Nair <priya@partner.example>", "Contract draft v3", MSG_TO_DELETE, 512000,
           at(13, 11, 30), true},
          {"Facilities <office@work.example>", "Fire drill next Tuesday", MSG_OLD, 1800,
           at(12, 8, 15)},
          {"Newsletter <news@vendor.example>", "Spring offers inside", MSG_DELETED, 96400,
           at(11, 20, 5)},
          {"Liu Wei <liu@work.example>", "Slides for the review", MSG_QUIET, 1250000,
           at(10, 15, 40), true},
          {"Ada Moreau <ada@work.example>", "Agenda for Monday", MSG_OLD, 2900, at(10, 9, 0)}});
    work->CheckResult = CR_OK;
    work->LastCheck = at(14, 9, 30);
    ACCOUNT* home = Account_Get("Home", -1);
    fill(home, "me@home.example",
         {{"Mum", "Photos from the weekend", MSG_UNREAD, 2400000, at(12, 19, 3), true}});
    home->CheckResult = CR_FAILED;
    std::strcpy(home->StatusText, "Connect: Connection refused (10061)");
    ACCOUNT* lists = Account_Get("Lists", -1);
    fill(lists, "lists@home.example",
         {{"dev-announce", "[ANN] Release 4.2", MSG_OLD, 5600, at(9, 12, 0)},
          {"dev-announce", "[ANN] Release 4.1.3", MSG_OLD, 4100, at(2, 12, 0)}});
    lists->CheckResult = CR_OK;
    lists->LastCheck = at(14, 8, 0);
}

// Selects an account the way a click in the tree does.
void selectAccount(MailBoxWindow* w, const char* name) {
    QTreeWidgetItem* root = w->Tree()->topLevelItem(0);
    for (int i = 0; i < root->childCount(); ++i)
        if (root->child(i)->data(0, Qt::UserRole).toString() == QLatin1String(name))
            w->Tree()->setCurrentItem(root->child(i));
}

void mailboxShots(UiWindows& windows) {
    GlobalData_GetRecord()->AttachCheck = 1;
    GlobalData_SetParam(GD_BUTTONSIZE, 2);
    GlobalData_SetParam(GD_LOGOSIZE, 2);
    windows.Open(APP_WINDOW::MailBox);
    MailBoxWindow* w = MailBox_Window();
    w->resize(980, 520);
    selectAccount(w, "Work Mail");
    w->List()->setFocus();
    save(w, "mailbox.png");

    w->Command(MBC_FIND);
    w->FindBox()->findChild<QLineEdit*>(QStringLiteral("findText"))->setText(QStringLiteral("ada"));
    w->FindBox()->findChild<QPushButton*>(QStringLiteral("findNext"))->click();
    QApplication::processEvents();
    // The Find box is a window of its own: shown beside the MailBox.
    QImage shot(w->width() + w->FindBox()->width() + 16, w->height(), QImage::Format_ARGB32);
    shot.fill(QColor(0xd8, 0xd9, 0xdc));
    {
        QPainter p(&shot);
        p.drawPixmap(0, 0, w->grab());
        p.drawPixmap(w->width() + 16, 40, w->FindBox()->grab());
    }
    shot.save(g_dir + "/mailbox-find.png");
    std::printf("%s/mailbox-find.png\n", qPrintable(g_dir));
    w->FindBox()->close();

    bool done = false;
    QTimer::singleShot(300, [&] {
        save(DeleteProgress_Window(), "mailbox-delete-now.png");
        done = true;
    });
    DeleteProgress_Run(
        w, "Work Mail", [&] { return done; }, [] { return std::string("Deleting messages"); },
        [] {});
    w->CloseNow();
    QApplication::processEvents();

    // The same window in a dark theme.
    const QPalette light = QApplication::palette();
    QStyle* style = QStyleFactory::create(QStringLiteral("Fusion"));
    QApplication::setStyle(style);
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(0x2b, 0x2d, 0x31));
    dark.setColor(QPalette::WindowText, QColor(0xe6, 0xe6, 0xe6));
    dark.setColor(QPalette::Base, QColor(0x1e, 0x1f, 0x22));
    dark.setColor(QPalette::AlternateBase, QColor(0x26, 0x28, 0x2b));
    dark.setColor(QPalette::Text, QColor(0xe6, 0xe6, 0xe6));
    dark.setColor(QPalette::Button, QColor(0x35, 0x37, 0x3b));
    dark.setColor(QPalette::ButtonText, QColor(0xe6, 0xe6, 0xe6));
    dark.setColor(QPalette::Highlight, QColor(0x3d, 0x6f, 0xb4));
    dark.setColor(QPalette::HighlightedText, Qt::white);
    dark.setColor(QPalette::ToolTipBase, QColor(0x35, 0x37, 0x3b));
    dark.setColor(QPalette::ToolTipText, QColor(0xe6, 0xe6, 0xe6));
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        dark.setColor(QPalette::Disabled, role, QColor(0x7a, 0x7d, 0x82));
    QApplication::setPalette(dark);
    windows.Open(APP_WINDOW::MailBox);
    w = MailBox_Window();
    w->resize(980, 520);
    selectAccount(w, "Work Mail");
    w->List()->setFocus();
    save(w, "mailbox-dark.png");
    w->CloseNow();
    QApplication::setPalette(light);
}

struct Saved {
    const char* account;
    const char* subject;
    DATETIME date;
    int lines; // of body text: the size of the file
    bool partial = false;
};

// Saved messages as the viewer and the filters leave them: several
// accounts, full and partial saves, a message without a date.
void savedFolders(const std::string& root) {
    const Saved saved[] = {
        {"Work Mail", "Quarterly report, final figures", at(14, 9, 12), 900},
        {"Work Mail", "Quarterly report, final figures", at(14, 9, 12), 20, true},
        {"Work Mail", "Contract draft v3", at(13, 11, 30), 6000},
        {"Work Mail", "Re: Lunch on Friday?", at(13, 17, 45), 40},
        {"Work Mail", "Slides for the review", at(10, 15, 40), 20, true},
        {"Work Mail", "Minutes", DateTime_Missing(), 25},
        {"Work Mail", "Agenda for Monday", at(10, 9, 0), 60},
        {"Home", "Photos from the weekend", at(12, 19, 3), 30000},
        {"Home", "Recipe", at(8, 18, 20), 70},
        {"Lists", "[ANN] Release 4.2", at(9, 12, 0), 110},
        {"Lists", "[ANN] Release 4.1.3", at(2, 12, 0), 95, true},
    };
    int n = 0;
    for (const Saved& m : saved) {
        const std::string dir = root + "/" + m.account;
        std::filesystem::create_directories(dir);
        std::ofstream f(
            dir + "/" +
            SavedFile_Name(m.date, m.subject, "msg" + std::to_string(++n) + "-7f3a9c", m.partial));
        f << "Subject: " << m.subject << "\r\n\r\n";
        for (int i = 0; i < m.lines; ++i)
            f << "A line of the message body, as it was sent.\r\n";
    }
}

void savedMessagesShots() {
    QTemporaryDir tmp(QDir::tempPath() + QStringLiteral("/inboxwarden-XXXXXX"));
    const std::string root = tmp.path().toStdString() + "/Saved Messages";
    savedFolders(root);
    GlobalData_GetRecord()->DwnRtDir = root;
    GlobalData_GetRecord()->SpamRtDir = tmp.path().toStdString() + "/Quarantine";

    SavedFoldersWindow folders(nullptr);
    folders.show();
    QTreeWidgetItem* top = folders.Tree()->topLevelItem(0);
    for (int i = 0; i < top->childCount(); ++i)
        if (top->child(i)->text(0).startsWith(QStringLiteral("Work Mail")))
            folders.Tree()->setCurrentItem(top->child(i));
    folders.activateWindow();
    folders.Tree()->setFocus();
    save(&folders, "saved-messages.png");

    SavedListWindow list(folders.Model().FolderIndex(folders.Model().FindItem("Work Mail")),
                         &folders);
    list.show();
    list.List()->setCurrentIndex(list.List()->model()->index(2, 0));
    list.activateWindow();
    list.List()->setFocus();
    save(&list, "saved-messages-list.png");
    list.close();
    folders.close();
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void composeShots(const std::string& text);

// A message with an HTML and a plain part, a PDF and a winmail.dat packing
// two files, as the viewer shows it and as its source.
void viewerShots() {
    const std::string tnef = readFile(IW_SOURCE_DIR "/tests/message/data/tnef/two-files.tnef");
    const std::string text =
        "Received: from mx.work.example; Fri, 14 Mar 2025 09:12:40 +0100\r\n"
        "From: Ada Moreau <ada@work.example>\r\n"
        "To: Team <team@work.example>, \"Berg, Jonas\" <jonas@work.example>, "
        "Priya Nair <priya@partner.example>\r\n"
        "Cc: Liu Wei <liu@work.example>\r\n"
        "Subject: Quarterly report, final figures\r\n"
        "Date: Fri, 14 Mar 2025 09:12:33 +0100\r\n"
        "MIME-Version: 1.0\r\n"
        "Content-Type: multipart/mixed; boundary=\"b1\"\r\n\r\n"
        "--b1\r\nContent-Type: multipart/alternative; boundary=\"b2\"\r\n\r\n"
        "--b2\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n"
        "Hello all,\r\n\r\nthe final figures for the quarter are attached; the slides "
        "from the review\r\nare in the packed attachment. The dashboard is at\r\n"
        "https://reports.work.example/q3 as usual.\r\n\r\n"
        "Questions to me or to mailto:finance@work.example before Friday, please.\r\n\r\n"
        "Regards,\r\nAda\r\n"
        "--b2\r\nContent-Type: text/html; charset=utf-8\r\n\r\n"
        "<p>Hello all,</p><p>the final figures are attached.</p>\r\n--b2--\r\n"
        "--b1\r\nContent-Type: application/pdf; name=\"Q3-figures.pdf\"\r\n"
        "Content-Disposition: attachment; filename=\"Q3-figures.pdf\"\r\n"
        "Content-Transfer-Encoding: base64\r\n\r\n" +
        Base64_Encode("%PDF-1.4 figures") +
        "\r\n--b1\r\nContent-Type: application/ms-tnef; name=\"winmail.dat\"\r\n"
        "Content-Disposition: attachment; filename=\"winmail.dat\"\r\n"
        "Content-Transfer-Encoding: base64\r\n\r\n" +
        Base64_Encode(tnef) + "\r\n--b1--\r\n";
    ACCOUNT* work = Account_Get("Work Mail", -1);
    const MSG_RECORD* record = MsgBox_GetMsg(work->hMsgBox, 0);
    auto* w = static_cast<ViewerWindow*>(Viewer_Open("Work Mail", text, record));
    if (!w) return;
    w->setGeometry(60, 60, 820, 620);
    save(w, "viewer.png");
    w->Command(VC_SHOW_SOURCE);
    save(w, "viewer-source.png");
    w->close();
    QApplication::processEvents();
    composeShots(text);
}

// The built-in filter rule editor with rules of every kind, the second one
// selected.
void filterEditorShot() {
    FILTER_MODEL model;
    auto add = [&model](const char* field, FILTER_MATCH m, const char* pattern, uint32_t actions) {
        FILTER_RULE r;
        r.field = field;
        r.match = m;
        r.pattern = pattern;
        r.actions = actions;
        model.Add(r);
    };
    add("From", FILTER_MATCH::Equals, "boss@example.org", 0);
    add("From", FILTER_MATCH::Contains, "@deals.example", IWF_ACT_DELETE | IWF_ACT_SPAM);
    add("Subject", FILTER_MATCH::StartsWith, "[invoice]", IWF_ACT_SAVE);
    add("List-Id", FILTER_MATCH::Contains, "news.lists.example", IWF_ACT_QUIET);
    add("", FILTER_MATCH::Regex, "^X-Spam-Flag: *YES$", IWF_ACT_DELETE | IWF_ACT_SPAM);
    FilterEditorDialog dialog(nullptr, QStringLiteral("Filter Rules - Work Mail"), std::move(model),
                              nullptr, 1);
    dialog.show();
    save(&dialog, "filter-editor.png");
}

// The password prompt and the about box, shot once their loops run.
void promptShots() {
    QTimer::singleShot(300, [] {
        QWidget* w = PasswordPrompt_Window();
        save(w, "password-prompt.png");
        w->close();
    });
    std::string password;
    PasswordPrompt_Ask(nullptr, "Work Mail", "ada.moreau", &password);
    QTimer::singleShot(300, [] {
        QWidget* w = AboutBox_Window();
        save(w, "about.png");
        w->close();
    });
    AboutBox_Run(nullptr);
}

// The profiles dialog on a folder of four profiles, one of them running and
// the default. Last: it starts settings of its own on the running one.
void profilesShots() {
    QTemporaryDir tmp(QDir::tempPath() + QStringLiteral("/inboxwarden-XXXXXX"));
    const std::string dir = tmp.path().toStdString();
    for (const char* name : {"Home", "Travel", "Work", "Work1"})
        std::ofstream(Profiles_Path(dir, name)) << "<INBOXWARDEN6>\r\n\r\n";
    Account_FreeAll();
    GlobalData_Free(0);
    Reg_SetMsgRootKey(nullptr);
    Settings_SetVendorText("InboxwardenDefProfile", Profiles_Path(dir, "Home"));
    GlobalData_SetManageLogon(true);
    if (Settings_Initialize(Profiles_Path(dir, "Home"), 0) != 0) return;
    QTimer::singleShot(300, [] {
        QWidget* w = ProfilesDialog_Window();
        auto* list = w->findChild<QTreeWidget*>(QStringLiteral("profiles"));
        list->setCurrentItem(list->topLevelItem(2));
        list->setFocus();
        save(w, "profiles.png");
        w->close();
    });
    ProfilesDialog_Run(nullptr);
    Settings_Abort();
}

// The picker over a few contacts, some already in the To and Cc lists.
void addressBookShot() {
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
    QDir().mkpath(data.path() + "/inboxwarden");
    std::ofstream(data.path().toStdString() + "/inboxwarden/contacts.vcf")
        << "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ada Moreau\r\nEMAIL:ada@work.example\r\n"
           "EMAIL:ada.moreau@home.example\r\nEND:VCARD\r\n"
           "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Berg\\, Jonas\r\nEMAIL:jonas@work.example\r\n"
           "END:VCARD\r\n"
           "BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=ISO-8859-1;ENCODING=QUOTED-PRINTABLE:"
           "M=FCller;J=FCrgen;;;\r\nEMAIL;INTERNET:juergen@partner.example\r\nEND:VCARD\r\n"
           "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Liu Wei\r\nEMAIL:liu@work.example\r\nEND:VCARD\r\n"
           "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Priya Nair\r\nEMAIL:priya@partner.example\r\n"
           "END:VCARD\r\n";
    QTimer::singleShot(300, [] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (!dialog) return;
        auto* tree = dialog->findChild<QTreeWidget*>(QStringLiteral("contacts"));
        tree->expandAll();
        tree->setCurrentItem(tree->topLevelItem(0));
        dialog->findChild<QPushButton*>(QStringLiteral("addTo"))->click();
        tree->setCurrentItem(tree->topLevelItem(0)->child(1));
        tree->setFocus();
        save(dialog, "address-book.png");
        static_cast<QDialog*>(dialog)->reject();
    });
    ADDRESS_LINES lines{"Team <team@work.example>", "\"Berg, Jonas\" <jonas@work.example>", ""};
    AddressBook_Pick(nullptr, &lines);
    qunsetenv("XDG_DATA_HOME");
}

// A reply to that message (quoted under the reply header, signed), its
// forward with both attachments, and the box a send runs behind.
void composeShots(const std::string& text) {
    ACCOUNT* work = Account_Get("Work Mail", -1);
    work->FullUserName = "Jonas Berg";
    work->Email = "jonas@work.example";
    work->SendServer = "smtp.work.example";
    work->Signature = "-- \r\nJonas Berg, Finance";
    work->AutoApplySig = 1;
    GlobalData_SetOptionText("ReplyPrepend", "On %DATE%, %SENDER% wrote:");
    ComposeWindow* reply =
        Compose_Open(COMPOSE_SOURCE{"Work Mail", text, COMPOSE_KIND::Reply, false});
    reply->setGeometry(60, 60, 720, 600);
    reply->Field("cc")->setText(reply->Field("cc")->text() +
                                QStringLiteral(", Team <team@work.example>"));
    save(reply, "compose-reply.png");
    ComposeWindow* forward =
        Compose_Open(COMPOSE_SOURCE{"Work Mail", text, COMPOSE_KIND::Forward, false});
    forward->setGeometry(60, 60, 720, 600);
    forward->Field("to")->setText(QStringLiteral("Priya Nair <priya@partner.example>"));
    save(forward, "compose-forward.png");

    auto completion = std::make_shared<CHECK_COMPLETION>();
    QTimer::singleShot(300, [&] {
        SendProgress_SetStatus("Sending message data...");
        QTimer::singleShot(200, [&] {
            save(Progress_Window(), "send-progress.png");
            completion->Finish(0, true);
        });
    });
    SendProgress_Run(forward, "smtp.work.example", completion, nullptr);
    GlobalData_SetParam(GD_CONFIRMREPLYSAVE, 0);
    reply->close();
    forward->close();
    QApplication::processEvents();
}

// The settings dialog on the sample accounts: each page, then the modal
// dialogs its buttons open, shot once they show.
void settingsShots(QMenu* trayMenu) {
    ACCOUNT* work = Account_Get("Work Mail", -1);
    work->FullUserName = "Ada Example";
    work->Email = "ada@work.example";
    work->ChkServer = "pop.work.example";
    work->ChkLogin = "ada";
    work->ChkPswd = "secret";
    work->SendServer = "smtp.work.example";
    work->ChkSecurity = ACCOUNT_SECURITY_TLS;
    work->ChkPort = 995;
    work->Signature = "Ada Example\nWork Mail Ltd.";
    work->UseSchedule = 1;
    work->Schedule[0] = 0x0001;
    work->Schedule[9] = 0x0041;
    std::snprintf(work->StatusText, sizeof work->StatusText, "Pin mismatch, SHA-256 %s",
                  "3f9a0c6e1b7d24e8a5c1f0b9d8e7a6c5b4a39281706f5e4d3c2b1a0f9e8d7c6b");
    std::vector<SETTINGS_MENU_ITEM> items;
    for (QAction* a : trayMenu->actions())
        if (!a->isSeparator() && !a->menu() && a->data().toInt() > 0)
            items.push_back(
                {a->text().section(QLatin1Char('\t'), 0, 0).toStdString(), a->data().toInt()});
    GlobalData_GetRecord()->RemoteInstaller =
        "/srv/share/inboxwarden/inboxwarden-" IW_VERSION "-installer.run";
    SettingsDialog d(items);
    d.resize(900, 640);
    d.show();
    d.SelectAccount(2); // Work Mail
    // The Filters page shows only with the plug-in loaded; shown here all the same.
    d.Tabs()->setTabVisible(SettingsDialog::PAGE_FILTERS, true);
    const char* names[] = {"settings-accounts.png", "settings-filters.png",
                           "settings-connection.png", "settings-update.png", "settings-common.png"};
    for (int page = 0; page < d.Tabs()->count(); ++page) {
        if (!d.Tabs()->isTabVisible(page)) continue;
        d.ShowPage(SettingsDialog::Page(page));
        save(&d, names[page]);
    }
    d.ShowPage(SettingsDialog::PAGE_ACCOUNTS);
    const auto shootModal = [](const char* button, const char* name, QWidget* from) {
        QTimer::singleShot(300, [name] {
            if (QWidget* m = QApplication::activeModalWidget()) {
                save(m, name);
                static_cast<QDialog*>(m)->reject();
            }
        });
        from->findChild<QPushButton*>(QString::fromLatin1(button))->click();
    };
    shootModal("chkAdvanced", "settings-incoming-advanced.png", &d);
    shootModal("sendAdvanced", "settings-outgoing-advanced.png", &d);
    shootModal("schedule", "settings-schedule.png", &d);
    d.hide();
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QIcon appIcon;
    for (int size : {32, 48, 64, 128, 256})
        appIcon.addFile(QStringLiteral(":/icons/inboxwarden-%1.png").arg(size), QSize(size, size));
    QApplication::setWindowIcon(appIcon);
    g_dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    iconSheet();
    imageSheet();

    REGKEY* root = nullptr;
    Reg_OpenRoot(&root, REG_ROOT_PATH);
    Reg_SetMsgRootKey(root);
    GlobalData_Load(root);
    Account_Initialize(root);
    for (const char* n : {"Home", "Work Mail", "Lists"}) {
        uint32_t st = 0;
        if (ACCOUNT* a = Account_Add(n, &st)) a->CheckIt = std::string(n) != "Lists";
    }
    GlobalData_SetParam(GD_DEFMENU, CMD_SHOW_MAILBOXES);
    UiWindows windows;
    MainWnd wnd(&windows);
    MailCheck_Init(&wnd, &wnd);
    wnd.HandleMessage(WM_LOAD_MESSAGES_FAST, 0, 0);
    wnd.MenuAction(CMD_CANCEL_CHECK)->setEnabled(true);
    wnd.Menu()->popup(QPoint(40, 40));
    save(wnd.Menu(), "tray-menu.png");
    wnd.Menu()->hide();

    Progress_Start(true);
    Progress_SetAccount("Work Mail");
    Progress_SetStatus("Receiving headers of new messages (12 of 40)...");
    save(Progress_Window(), "progress-window.png");
    Progress_Close();

    auto completion = std::make_shared<CHECK_COMPLETION>();
    QTimer::singleShot(300, [&] {
        Progress_SetAccount("Home");
        Progress_SetStatus("Downloading message (48.2KB)...");
        QTimer::singleShot(200, [&] {
            save(Progress_Window(), "download-box.png");
            completion->Finish(0, true);
        });
    });
    Progress_StartMessage(nullptr, completion);

    NewMail_Popup(3);
    save(NewMail_Window(), "newmail-popup.png");
    NewMail_Popup(0);

    windows.StatusWindow(APP_WINDOWS::STATUS_RAISE, ICON_NEWMAIL,
                         "Inboxwarden: 3 new, 5 unread and 12 old messages", wnd.Menu());
    save(UiWindows_StatusWindow(), "status-window.png");

    mailboxes();
    mailboxShots(windows);
    savedMessagesShots();
    viewerShots();
    filterEditorShot();
    addressBookShot();
    promptShots();
    settingsShots(wnd.Menu());
    MailCheck_Stop();
    profilesShots();
    return 0;
}
