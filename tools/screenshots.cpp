// Renders the program's windows into PNGs for docs/screenshots: the check
// progress window, the download box, the new-mail popup, the tray menu, the
// no-tray status window, the tray icon states and the MailBox window's
// images on a light and a dark panel. Runs on a private temporary store.
//   INBOXWARDEN_REGISTRY=/tmp/x.db build/dev/tools/screenshots docs/screenshots
#include "app/mainwnd.h"
#include "app/tray.h"
#include "engine/mailcheck.h"
#include "settings/account.h"
#include "settings/globaldata.h"
#include "settings/msgbox_reg.h"
#include "settings/reg.h"
#include "ui/images.h"
#include "ui/newmail_popup.h"
#include "ui/progress.h"
#include "ui/windows.h"

#include <QApplication>
#include <QMenu>
#include <QPainter>
#include <QTimer>

#include <cstdio>

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

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
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
    MailCheck_Stop();
    return 0;
}
