// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/help.h"

#include "platform/paths.h"
#include "platform/user_message.h"
#include "ui/qtext.h"
#include "ui/windows.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QUrl>
#include <QVBoxLayout>

#include <unistd.h>

namespace {

// Where Debian and its derivatives keep the licence texts.
constexpr const char* kSystemGpl3 = "/usr/share/common-licenses/GPL-3";

struct PageOf {
    const char* name; // objectName of the top-level window
    const char* page;
};
constexpr PageOf kPages[] = {
    {"mailBoxWindow", "mailbox.html"},
    {"findBox", "mailbox.html"},
    {"viewer", "viewer.html"},
    {"composeWindow", "compose.html"},
    {"addressBook", "compose.html"},
    {"settingsDialog", "settings.html"},
    {"incomingAdvanced", "settings.html"},
    {"outgoingAdvanced", "settings.html"},
    {"scheduleDialog", "settings.html"},
    {"filterEditor", "filters.html"},
    {"profilesDialog", "profiles.html"},
    {"savedFoldersWindow", "saved-messages.html"},
    {"savedListWindow", "saved-messages.html"},
    {"statusWindow", "tray.html"},
};

bool isFile(const std::string& path) {
    return access(path.c_str(), R_OK) == 0;
}

class F1Filter : public QObject {
  public:
    using QObject::QObject;

  protected:
    // Windows with an F1 command of their own take the key as a shortcut
    // before it is delivered as a key press, so only the others get here.
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress || !watched->isWidgetType()) return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() != Qt::Key_F1 || key->modifiers() != Qt::NoModifier) return false;
        QWidget* window = static_cast<QWidget*>(watched)->window();
        Help_Open(Help_PageFor(window), window);
        return true;
    }
};

} // namespace

std::string Help_DataDir(const std::string& programDir) {
    std::string candidates[] = {
        programDir + "inboxwarden-data",
#ifdef IW_DATA_DIR_FROM_BIN
        programDir + IW_DATA_DIR_FROM_BIN,
#endif
#ifdef IW_DATA_DIR_ABSOLUTE
        IW_DATA_DIR_ABSOLUTE,
#endif
    };
    for (const std::string& dir : candidates)
        if (isFile(dir + "/manual/index.html")) return dir;
    return std::string();
}

QString Help_PageFor(const QWidget* window) {
    if (window) window = window->window();
    if (!window) return QStringLiteral("index.html");
    const QString object = window->objectName();
    for (const PageOf& p : kPages)
        if (object == QLatin1String(p.name)) return QLatin1String(p.page);
    // A box opened by a window (a question, a sub-dialog without a page of
    // its own) is about that window.
    if (const QWidget* parent = window->parentWidget()) return Help_PageFor(parent);
    return QStringLiteral("index.html");
}

bool Help_Open(const QString& page, QWidget* owner) {
    const std::string dir = Help_DataDir(Paths_ProgramDir());
    UiBoxOwner boxes(owner);
    if (dir.empty()) {
        UserMsg_Show("Inboxwarden Help",
                     "The manual is not installed with this copy of Inboxwarden.\n\n"
                     "Reinstall the program, or read the manual in its sources (docs/manual).",
                     UM_OK | UM_ICONINFO);
        return false;
    }
    QString file = QText_From(dir + "/manual/") + page;
    if (!QFileInfo::exists(file)) file = QText_From(dir + "/manual/index.html");
    if (QDesktopServices::openUrl(QUrl::fromLocalFile(file))) return true;
    UserMsg_Show("Inboxwarden Help",
                 "No program to show web pages is set up on this desktop. The manual is at\n" +
                     file.toStdString(),
                 UM_OK | UM_ICONINFO);
    return false;
}

bool Help_ShowLicence(QWidget* owner) {
    const std::string dir = Help_DataDir(Paths_ProgramDir());
    QFile file(QText_From(dir.empty() || !isFile(dir + "/LICENSE") ? std::string(kSystemGpl3)
                                                                   : dir + "/LICENSE"));
    // The GPL is some 35 KB; a cap keeps a wrong file from filling the box.
    if (!file.open(QIODevice::ReadOnly) || file.size() > (1 << 20)) return false;
    const QString text = QString::fromUtf8(file.readAll());

    QDialog box(owner);
    box.setObjectName(QStringLiteral("licenceBox"));
    box.setWindowTitle(QStringLiteral("Inboxwarden License"));
    auto* view = new QPlainTextEdit(text, &box);
    view->setObjectName(QStringLiteral("licenceText"));
    view->setReadOnly(true);
    view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    view->setAccessibleName(QStringLiteral("License"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &box);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &box, &QDialog::reject);
    auto* layout = new QVBoxLayout(&box);
    layout->addWidget(view);
    layout->addWidget(buttons);
    const int columns = view->fontMetrics().horizontalAdvance(QLatin1Char('M')) * 84;
    box.resize(columns, columns * 3 / 4);
    box.exec();
    return true;
}

void Help_InstallKey() {
    static F1Filter* filter = nullptr;
    if (filter || !qApp) return;
    filter = new F1Filter(qApp);
    qApp->installEventFilter(filter);
}
