// SPDX-License-Identifier: GPL-3.0-or-later
// The Filters, Connection, Auto Update and Common pages.
#include "ui/settings/settings_pages.h"
#include "common/status.h"
#include "message/filter.h"
#include "net/ras.h"
#include "platform/sound.h"
#include "platform/user_message.h"
#include "ui/filter/filter_editor.h"
#include "ui/qtext.h"
#include "ui/settings/settings_widgets.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDate>
#include <QFileDialog>
#include <QFontDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QVBoxLayout>

#include <cmath>

namespace {

bool _distroBuild() {
#ifdef IW_DISTRO_BUILD
    return true;
#else
    return false;
#endif
}

QCheckBox* check(QWidget* parent, const QString& text, const char* name, bool on) {
    auto* c = new QCheckBox(text, parent);
    c->setObjectName(QString::fromLatin1(name));
    c->setChecked(on);
    return c;
}

// A row of the Filters page: the global filter (row 0) or an account's.
FILTER_HANDLE filterOfRow(int row, uint32_t* rc) {
    *rc = 0;
    if (row == 0) return GlobalData_GetFilter();
    ACCOUNT* a = Account_Get(nullptr, row - 1);
    if (!a) return nullptr;
    if (!a->FilterHandle && Account_FilterOps()) {
        *rc = Account_FilterOps()->Open(a->Name, nullptr, &a->FilterHandle);
        if (a->FilterHandle)
            Account_FilterOps()->AssignVars(a->FilterHandle, a->ChkLogin.c_str(), a->Email.c_str());
    }
    if (!a->FilterHandle && *rc == 0) *rc = ERR_NOT_READY;
    return a->FilterHandle;
}

std::string rowName(int row) {
    if (row == 0) return "Global Filter";
    ACCOUNT* a = Account_Get(nullptr, row - 1);
    return a ? a->Name : "";
}

void filterFailed(uint32_t rc) {
    char text[64];
    std::snprintf(text, sizeof text, "Failed to initialize a filter (%d).", int(rc));
    SettingsBox({"Inboxwarden", text}, UM_OK | UM_ICONERROR);
}

} // namespace

// ---- Filters -----------------------------------------------------------------

FiltersPage::FiltersPage(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("filtersPage"));
    auto* source = new QListWidget(this);
    source->setObjectName(QStringLiteral("filterSource"));
    list_ = new QListWidget(this);
    list_->setObjectName(QStringLiteral("filterDestination"));
    auto* copyTo = new QPushButton(QCoreApplication::translate("Settings", "Cop&y To >>"), this);
    auto* appendTo =
        new QPushButton(QCoreApplication::translate("Settings", "&Append To >>"), this);
    auto* empty = new QPushButton(QCoreApplication::translate("Settings", "E&mpty"), this);
    auto* import = new QPushButton(QCoreApplication::translate("Settings", "&Import"), this);
    auto* exportButton = new QPushButton(QCoreApplication::translate("Settings", "E&xport"), this);
    auto* edit = new QPushButton(QCoreApplication::translate("Settings", "&Edit"), this);
    file_ = SettingsLine(this, "glbFilterFile");
    file_->setText(QText_From(GlobalData_GetText(GD_GLBFILTERFILE)));
    auto* apply = new QPushButton(QCoreApplication::translate("Settings", "App&ly"), this);
    auto* middle = new QVBoxLayout;
    middle->addStretch(1);
    for (QPushButton* b : {copyTo, appendTo, empty, import, exportButton, edit})
        middle->addWidget(b);
    middle->addStretch(1);
    auto* lists = new QGridLayout;
    lists->addWidget(
        SettingsLabel(QCoreApplication::translate("Settings", "&Source:"), source, this), 0, 0);
    lists->addWidget(
        SettingsLabel(QCoreApplication::translate("Settings", "&Destination:"), list_, this), 0, 2);
    lists->addWidget(source, 1, 0);
    lists->addLayout(middle, 1, 1);
    lists->addWidget(list_, 1, 2);
    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(SettingsLabel(
        QCoreApplication::translate("Settings", "&Global filter file:"), file_, this));
    fileRow->addWidget(file_, 1);
    fileRow->addWidget(apply);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(lists, 1);
    layout->addLayout(fileRow);

    // Both lists are filled alike; the source list is found by name.
    const auto selected = [](QListWidget* l) {
        return l->currentItem() && l->currentItem()->isSelected() ? l->currentRow() : -1;
    };
    const auto transfer = [this, source, selected](bool append) {
        const int from = selected(source), to = selected(list_);
        if (from < 0 || to < 0) {
            SettingsBox({"Inboxwarden", "Please select source and destination."}, UM_OK);
            return;
        }
        if (from == to) {
            SettingsBox({"Inboxwarden", "Can't copy to self."}, UM_OK);
            return;
        }
        uint32_t rc = 0;
        FILTER_HANDLE src = filterOfRow(from, &rc);
        if (!src) return filterFailed(rc);
        FILTER_HANDLE dst = filterOfRow(to, &rc);
        if (!dst) return filterFailed(rc);
        if (Filter_IsEmpty(src)) {
            SettingsBox({"Inboxwarden", "Source should not be empty."}, UM_OK);
            return;
        }
        if (!Filter_IsEmpty(dst) &&
            SettingsBox({"Inboxwarden", "This operation cannot be undone.\nAre you sure you "
                                        "want to overwrite filter '" +
                                            rowName(to) + "'?\n"},
                        UM_YESNO | UM_ICONQUESTION) != UM_IDYES)
            return;
        if (rc = Filter_Copy(dst, src, append ? 1 : 0); rc != 0) filterFailed(rc);
        Refresh();
    };
    connect(copyTo, &QPushButton::clicked, this, [transfer] { transfer(false); });
    connect(appendTo, &QPushButton::clicked, this, [transfer] { transfer(true); });
    connect(empty, &QPushButton::clicked, this, [this, selected] {
        const int to = selected(list_);
        if (to < 0) return;
        if (SettingsBox({"Inboxwarden", "This operation cannot be undone.\nAre you sure you want "
                                        "to empty filter '" +
                                            rowName(to) + "'?\n"},
                        UM_YESNO | UM_ICONQUESTION) != UM_IDYES)
            return;
        uint32_t rc = 0;
        if (FILTER_HANDLE h = filterOfRow(to, &rc)) rc = Filter_DeleteAll(h);
        if (rc != 0) filterFailed(rc);
        Refresh();
    });
    connect(import, &QPushButton::clicked, this, [this, selected] {
        const int to = selected(list_);
        if (to < 0) return;
        const QString path = QFileDialog::getOpenFileName(
            this, QCoreApplication::translate("Settings", "Import"), QString(),
            QCoreApplication::translate("Settings", "Filters (*.iwfl);;All files (*)"));
        if (path.isEmpty()) return;
        uint32_t rc = 0;
        if (FILTER_HANDLE h = filterOfRow(to, &rc))
            rc = Filter_Import(h, path.toStdString().c_str());
        if (rc != 0) filterFailed(rc);
        Refresh();
    });
    connect(exportButton, &QPushButton::clicked, this, [this, source, selected] {
        const int from = selected(source);
        if (from < 0) return;
        QString path = QFileDialog::getSaveFileName(
            this, QCoreApplication::translate("Settings", "Export"), QString(),
            QCoreApplication::translate("Settings", "Filters (*.iwfl);;All files (*)"));
        if (path.isEmpty()) return;
        if (!path.endsWith(QStringLiteral(".iwfl"))) path += QStringLiteral(".iwfl");
        uint32_t rc = 0;
        FILTER_HANDLE h = filterOfRow(from, &rc);
        if (!h) return filterFailed(rc);
        if (rc = Filter_Export(h, path.toStdString().c_str()); rc != 0) {
            char code[32];
            std::snprintf(code, sizeof code, " (%d).", int(rc));
            SettingsBox({"Inboxwarden", "Failed to create \"" + path.toStdString() + "\"" + code},
                        UM_OK | UM_ICONERROR);
        }
    });
    connect(edit, &QPushButton::clicked, this, [this, selected] {
        const int row = selected(list_);
        if (row < 0) return;
        FilterEditor_Open(window(), row == 0 ? std::string() : rowName(row));
        Refresh();
    });
    connect(apply, &QPushButton::clicked, this, [this] {
        const std::string path = SettingsText(file_);
        GlobalData_SetParam(GD_GLBFILTERFILE, reinterpret_cast<intptr_t>(path.c_str()));
        Refresh();
    });
    source->setProperty("iwSource", true);
    Refresh();
}

void FiltersPage::Refresh() {
    const QIcon mark = style()->standardIcon(QStyle::SP_DialogApplyButton);
    for (QListWidget* l : findChildren<QListWidget*>()) {
        const int keep = l->currentRow();
        l->clear();
        for (int row = 0; row <= Account_GetCount(); ++row) {
            FILTER_HANDLE h =
                row == 0 ? GlobalData_GetFilter() : Account_Get(nullptr, row - 1)->FilterHandle;
            auto* item = new QListWidgetItem(QText_From(rowName(row)), l);
            const bool filled = h && !Filter_IsEmpty(h);
            if (filled) item->setIcon(mark);
            item->setData(Qt::AccessibleDescriptionRole,
                          filled ? QCoreApplication::translate("Settings", "has rules")
                                 : QCoreApplication::translate("Settings", "empty"));
        }
        if (keep >= 0 && keep < l->count()) l->setCurrentRow(keep);
    }
}

uint32_t FiltersPage::Apply(bool) {
    return 0; // every action above is stored when it is taken
}

// ---- Connection ------------------------------------------------------------------

ConnectionPage::ConnectionPage(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("connectionPage"));
    const bool dialUp = Ras_Load() == 1;
    const CONNECTION_FORM f =
        ConnectionForm_From(DialUp_GetRecord(), GlobalData_GetRecord(), dialUp);
    auto* dial = new QGroupBox(QCoreApplication::translate("Settings", "Dial-Up"), this);
    const char* texts[] = {
        QT_TRANSLATE_NOOP("Settings", "Do&n't Use Dial-Up"),
        QT_TRANSLATE_NOOP("Settings", "&Auto dial"),
        QT_TRANSLATE_NOOP("Settings", "Check mail only if there is a dial-up &connection")};
    auto* dialBox = new QVBoxLayout(dial);
    for (int i = 0; i < 3; ++i) {
        mode_[i] = new QRadioButton(QCoreApplication::translate("Settings", texts[i]), dial);
        mode_[i]->setObjectName(QStringLiteral("dialMode%1").arg(i));
        mode_[i]->setChecked(f.dialMode == i);
        // Without the dial-up service neither dial-up mode can work.
        if (i > 0) mode_[i]->setEnabled(dialUp);
        dialBox->addWidget(mode_[i]);
    }
    entry_ = SettingsLine(dial, "dialEntry");
    entry_->setText(QText_From(f.entry));
    dialBox->addWidget(SettingsLabel(
        QCoreApplication::translate("Settings", "If not connected, use next Dial-Up conn&ection:"),
        entry_, dial));
    dialBox->addWidget(entry_);
    hangUp_ =
        check(dial, QCoreApplication::translate("Settings", "&Hang up when finished checking"),
              "hangUp", f.hangUp);
    dontHangUp_ =
        check(dial, QCoreApplication::translate("Settings", "Don't hang up if there is ne&w mail"),
              "dontHangUpIfNew", f.dontHangUpIfNew);
    dialBox->addWidget(hangUp_);
    dialBox->addWidget(dontHangUp_);

    auto* proxy = new QGroupBox(QCoreApplication::translate("Settings", "SOCKS proxy"), this);
    proxy_ = SettingsLine(proxy, "proxyServer");
    proxy_->setText(QText_From(f.proxyServer));
    port_ = SettingsLine(proxy, "proxyPort", 8);
    port_->setText(QText_From(f.proxyPort));
    socks5_ = new QRadioButton(QCoreApplication::translate("Settings", "SOCKS &5"), proxy);
    socks5_->setObjectName(QStringLiteral("socks5"));
    socks4_ = new QRadioButton(QCoreApplication::translate("Settings", "SOCKS &4"), proxy);
    socks4_->setObjectName(QStringLiteral("socks4"));
    (f.socksVersion == 4 ? socks4_ : socks5_)->setChecked(true);
    auto* proxyBox = new QGridLayout(proxy);
    proxyBox->addWidget(
        SettingsLabel(QCoreApplication::translate("Settings", "Pro&xy address"), proxy_, proxy), 0,
        0);
    proxyBox->addWidget(proxy_, 0, 1);
    proxyBox->addWidget(
        SettingsLabel(QCoreApplication::translate("Settings", "Server p&ort number:"), port_,
                      proxy),
        1, 0);
    port_->setMaximumWidth(100);
    proxyBox->addWidget(port_, 1, 1, Qt::AlignLeft);
    auto* versions = new QHBoxLayout;
    versions->addWidget(socks5_);
    versions->addWidget(socks4_);
    versions->addStretch(1);
    proxyBox->addLayout(versions, 2, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(dial);
    layout->addWidget(proxy);
    layout->addStretch(1);
}

CONNECTION_FORM ConnectionPage::read() const {
    CONNECTION_FORM f;
    for (int i = 0; i < 3; ++i)
        if (mode_[i]->isChecked()) f.dialMode = i;
    f.entry = SettingsText(entry_);
    f.hangUp = hangUp_->isChecked();
    f.dontHangUpIfNew = dontHangUp_->isChecked();
    f.proxyServer = SettingsText(proxy_);
    f.proxyPort = SettingsText(port_);
    f.socksVersion = socks4_->isChecked() ? 4 : 5;
    return f;
}

uint32_t ConnectionPage::Apply(bool ok) {
    if (!ok || !GlobalData_GetRecord()) return 0;
    SETTINGS_MESSAGE message;
    const uint32_t rc =
        ConnectionForm_Apply(read(), DialUp_GetRecord(), GlobalData_GetRecord(), &message);
    if (rc != 0) SettingsBox(message, UM_OK | UM_ICONWARNING);
    return rc;
}

// ---- Auto Update -------------------------------------------------------------------

UpdatePage::UpdatePage(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("updatePage"));
    const UPDATE_FORM f = UpdateForm_FromGlobal();
    installer_ = SettingsLine(this, "remoteInstaller");
    installer_->setText(QText_From(f.installer));
    auto* pick = new QPushButton(QStringLiteral("..."), this);
    pick->setAccessibleName(QCoreApplication::translate("Settings", "Choose the installer"));
    pick->setMaximumWidth(32);
    auto* verify = new QPushButton(QCoreApplication::translate("Settings", "&Verify"), this);
    verify->setObjectName(QStringLiteral("verify"));
    disable_ = check(this, QCoreApplication::translate("Settings", "&Disable Auto-updates"),
                     "disableUpdates", f.disable);
    group_ = check(this, QCoreApplication::translate("Settings", "Create Inboxwarden &Group"),
                   "createGroup", f.createGroup);
    icon_ = check(this, QCoreApplication::translate("Settings", "Create Desktop &Icon"),
                  "createIcon", f.createIcon);
    auto* uninstall =
        new QPushButton(QCoreApplication::translate("Settings", "&Uninstall Inboxwarden"), this);
    uninstall->setObjectName(QStringLiteral("uninstall"));
    auto* row = new QHBoxLayout;
    row->addWidget(installer_, 1);
    row->addWidget(pick);
    row->addWidget(verify);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(SettingsLabel(QCoreApplication::translate("Settings", "Installation &file:"),
                                    installer_, this));
    layout->addLayout(row);
    layout->addWidget(disable_);
    layout->addWidget(group_);
    layout->addWidget(icon_);
    layout->addStretch(1);
    layout->addWidget(uninstall, 0, Qt::AlignLeft);
    connect(pick, &QPushButton::clicked, this, [this] {
        SettingsPickFile(this, QCoreApplication::translate("Settings", "Installer"),
                         QStringLiteral("run"), installer_);
    });
    connect(verify, &QPushButton::clicked, this, [this] {
        DATETIME d{};
        if (UpdateForm_Verify(SettingsText(installer_), &d) != 0) {
            SettingsBox({"Error", "No Existing Inboxwarden Installation File"},
                        UM_OK | UM_ICONERROR);
            return;
        }
        const QDate date(d.wYear, d.wMonth, d.wDay);
        const QString shown = date.isValid() ? QLocale().toString(date, QLocale::LongFormat)
                                             : QStringLiteral("%1-%2-%3")
                                                   .arg(d.wYear)
                                                   .arg(d.wMonth, 2, 10, QLatin1Char('0'))
                                                   .arg(d.wDay, 2, 10, QLatin1Char('0'));
        SettingsBox({"Settings",
                     "Inboxwarden Installation package released on " + shown.toStdString() + "."},
                    UM_OK | UM_ICONINFO);
    });
    connect(uninstall, &QPushButton::clicked, this, [this] {
        const auto uninstaller = SettingsDialog_Uninstaller();
        if (!uninstaller) {
            SettingsBox({"Inboxwarden Uninstallation",
                         "This build of Inboxwarden cannot uninstall itself; use the package "
                         "manager that installed it."},
                        UM_OK | UM_ICONINFO);
            return;
        }
        if (!uninstaller()) return;
        if (auto* d = dynamic_cast<SettingsDialog*>(window()))
            d->Discard();
        else
            window()->close();
    });
    if (_distroBuild()) {
        // The package manager updates and removes this build.
        for (QWidget* w : std::initializer_list<QWidget*>{installer_, pick, verify, disable_,
                                                          group_, icon_, uninstall})
            w->setEnabled(false);
        auto* note = new QLabel(QCoreApplication::translate(
                                    "Settings", "This copy of Inboxwarden is updated and removed "
                                                "by the package manager that installed it."),
                                this);
        note->setObjectName(QStringLiteral("distroNote"));
        note->setWordWrap(true);
        layout->insertWidget(0, note);
    }
}

uint32_t UpdatePage::Apply(bool ok) {
    if (!ok || !GlobalData_GetRecord()) return 0;
    UPDATE_FORM f;
    f.installer = SettingsText(installer_);
    f.disable = disable_->isChecked();
    f.createGroup = group_->isChecked();
    f.createIcon = icon_->isChecked();
    UpdateForm_Apply(f, GlobalData_GetRecord());
    return 0;
}

// ---- Common -------------------------------------------------------------------------

CommonPage::CommonPage(std::vector<SETTINGS_MENU_ITEM> menuItems, QWidget* parent)
    : QWidget(parent), menuItems_(std::move(menuItems)) {
    setObjectName(QStringLiteral("commonPage"));
    form_ = CommonForm_FromGlobal(GlobalData_GetRecord(), int32_t(GlobalData_GetNumber(GD_DEFMENU)),
                                  int32_t(GlobalData_GetNumber(GD_SNGLCLICKMENU)));
    const COMMON_FORM& f = form_;
    checkOnStart_ = check(this, QCoreApplication::translate("Settings", "Check mail on &start"),
                          "checkOnStart", f.checkOnStart != 0);
    includedOnly_ =
        new QRadioButton(QCoreApplication::translate("Settings", "Included accounts only"), this);
    includedOnly_->setObjectName(QStringLiteral("checkIncluded"));
    allAccounts_ = new QRadioButton(QCoreApplication::translate("Settings", "All accounts"), this);
    allAccounts_->setObjectName(QStringLiteral("checkAll"));
    (f.checkOnStart == 2 ? allAccounts_ : includedOnly_)->setChecked(true);
    const auto startChoices = [this](bool on) {
        includedOnly_->setEnabled(on);
        allAccounts_->setEnabled(on);
    };
    startChoices(f.checkOnStart != 0);
    connect(checkOnStart_, &QCheckBox::toggled, this, startChoices);
    logon_ = check(this, QCoreApplication::translate("Settings", "Start on &Windows logon"),
                   "startOnLogon", f.startOnLogon);
    // Only a run that keeps the start-up entry in step can promise it.
    logon_->setEnabled(GlobalData_ManagesLogon());
    progress_ = check(this, QCoreApplication::translate("Settings", "Show check mail prog&ress"),
                      "showProgressWindow", f.showProgressWindow);
    sndSync_ =
        check(this, QCoreApplication::translate("Settings", "&Play all sounds synchronously"),
              "sndSync", f.sndSync);
    once_ = check(this, QCoreApplication::translate("Settings", "&Notify only once"),
                  "notifyOnlyOnce", f.notifyOnlyOnce);

    auto* visual =
        new QGroupBox(QCoreApplication::translate("Settings", "New mail notification"), this);
    const char* visuals[] = {QT_TRANSLATE_NOOP("Settings", "&Result window"),
                             QT_TRANSLATE_NOOP("Settings", "N&otification message"),
                             QT_TRANSLATE_NOOP("Settings", "Open E-&Mail Client"),
                             QT_TRANSLATE_NOOP("Settings", "&Flashing icon")};
    auto* visualBox = new QVBoxLayout(visual);
    for (int i = 0; i < 4; ++i) {
        visual_[i] = new QRadioButton(QCoreApplication::translate("Settings", visuals[i]), visual);
        visual_[i]->setObjectName(QStringLiteral("newMailVisual%1").arg(i + 1));
        visual_[i]->setChecked(f.newMailVisual == i + 1);
        visualBox->addWidget(visual_[i]);
        if (i + 1 != NMV_POPUP) continue;
        desktopNotify_ = check(visual,
                               QCoreApplication::translate(
                                   "Settings", "As desktop notification (where a service e&xists)"),
                               "desktopNotify", f.desktopNotify);
        desktopNotify_->setAccessibleName(QCoreApplication::translate(
            "Settings", "Show the notification message as a desktop notification"));
        desktopNotify_->setEnabled(f.newMailVisual == NMV_POPUP);
        connect(visual_[i], &QRadioButton::toggled, desktopNotify_, &QCheckBox::setEnabled);
        auto* indented = new QHBoxLayout;
        indented->addSpacing(20);
        indented->addWidget(desktopNotify_);
        visualBox->addLayout(indented);
    }

    lines_ = SettingsLine(this, "nLinesDwnLoad", 10);
    lines_->setText(QText_From(f.nLinesDwnLoad));
    lines_->setMaximumWidth(70);
    askLines_ =
        check(this, QCoreApplication::translate("Settings", "Ask number &lines to download"),
              "askNLines", f.askNLines);
    confirmDel_ = check(this, QCoreApplication::translate("Settings", "Confirm message &deletion"),
                        "confirmMsgDel", f.confirmMsgDel);
    confirmSend_ = check(this, QCoreApplication::translate("Settings", "Confirm message s&end"),
                         "confirmMsgSend", f.confirmMsgSend);
    confirmSave_ =
        check(this, QCoreApplication::translate("Settings", "Confirm sa&ve of composed messages"),
              "confirmReplySave", f.confirmReplySave);
    whole_ = check(this, QCoreApplication::translate("Settings", "&Always download whole message"),
                   "wholeMsg", f.wholeMsg);
    showHdr_ = check(this, QCoreApplication::translate("Settings", "Show message so&urce"),
                     "showHdr", f.showHdr);
    savePos_ = check(this, QCoreApplication::translate("Settings", "Save windows position"),
                     "savTxtWndPos", f.savTxtWndPos);
    attach_ =
        check(this, QCoreApplication::translate("Settings", "Check for Attachments (May be Slow)"),
              "attachCheck", f.attachCheck);
    optimize_ = check(this, QCoreApplication::translate("Settings", "Optimi&ze Startup"),
                      "optimizeStartup", f.optimizeStartup);

    prepend_ = SettingsLine(this, "replyPrepend");
    prepend_->setText(QText_From(f.replyPrepend));
    signature_ = new QPlainTextEdit(QText_From(f.signature), this);
    signature_->setObjectName(QStringLiteral("commonSignature"));
    signature_->setTabChangesFocus(true);
    signature_->setFixedHeight(48);
    reader_ = SettingsLine(this, "mailReader");
    reader_->setText(QText_From(f.mailReader));
    sound_ = SettingsLine(this, "newMailSound");
    sound_->setText(QText_From(f.newMailSound));
    dwnDir_ = SettingsLine(this, "dwnRtDir");
    dwnDir_->setText(QText_From(f.dwnRtDir));
    spamDir_ = SettingsLine(this, "spamRtDir");
    spamDir_->setText(QText_From(f.spamRtDir));
    font_ = new QLabel(this);
    font_->setObjectName(QStringLiteral("fontSample"));
    auto* fontButton = new QPushButton(QCoreApplication::translate("Settings", "Fon&t..."), this);
    fontButton->setObjectName(QStringLiteral("font"));
    dblClick_ = SettingsLine(this, "defMenu");
    dblClick_->setReadOnly(true);
    sglClick_ = SettingsLine(this, "snglClickMenu");
    sglClick_->setReadOnly(true);
    auto* dblButton = new QPushButton(QStringLiteral("..."), this);
    dblButton->setAccessibleName(
        QCoreApplication::translate("Settings", "Choose the double-click action"));
    auto* sglButton = new QPushButton(QStringLiteral("..."), this);
    sglButton->setAccessibleName(
        QCoreApplication::translate("Settings", "Choose the single-click action"));
    auto* pickReader = new QPushButton(QStringLiteral("..."), this);
    pickReader->setAccessibleName(
        QCoreApplication::translate("Settings", "Choose the default e-mail client"));
    auto* pickSound = new QPushButton(QStringLiteral("..."), this);
    pickSound->setAccessibleName(QCoreApplication::translate("Settings", "Choose the sound"));
    auto* play = new QPushButton(QCoreApplication::translate("Settings", "Play"), this);
    play->setObjectName(QStringLiteral("commonPlay"));
    auto* pickDwn = new QPushButton(QStringLiteral("..."), this);
    pickDwn->setAccessibleName(
        QCoreApplication::translate("Settings", "Choose the saved messages folder"));
    auto* pickSpam = new QPushButton(QStringLiteral("..."), this);
    pickSpam->setAccessibleName(
        QCoreApplication::translate("Settings", "Choose the quarantine folder"));
    for (QPushButton* b : {dblButton, sglButton, pickReader, pickSound, pickDwn, pickSpam})
        b->setMaximumWidth(32);

    auto* flags = new QGridLayout;
    int r = 0;
    flags->addWidget(checkOnStart_, r, 0);
    flags->addWidget(includedOnly_, r, 1);
    flags->addWidget(allAccounts_, r++, 2);
    flags->addWidget(logon_, r, 0);
    flags->addWidget(progress_, r, 1);
    flags->addWidget(sndSync_, r++, 2);
    flags->addWidget(once_, r, 0);
    flags->addWidget(askLines_, r, 1);
    flags->addWidget(confirmDel_, r++, 2);
    flags->addWidget(confirmSend_, r, 0);
    flags->addWidget(confirmSave_, r, 1);
    flags->addWidget(whole_, r++, 2);
    flags->addWidget(showHdr_, r, 0);
    flags->addWidget(savePos_, r, 1);
    flags->addWidget(attach_, r++, 2);
    flags->addWidget(optimize_, r++, 0);

    auto* texts = new QGridLayout;
    r = 0;
    const auto row = [&](const QString& label, QWidget* field, QWidget* b1 = nullptr,
                         QWidget* b2 = nullptr) {
        texts->addWidget(SettingsLabel(label, field, this), r, 0);
        texts->addWidget(field, r, 1);
        if (b1) texts->addWidget(b1, r, 2);
        if (b2) texts->addWidget(b2, r, 3);
        ++r;
    };
    row(QCoreApplication::translate("Settings", "Default number of l&ines to download"), lines_);
    row(QCoreApplication::translate("Settings", "Prepend reply wit&h:"), prepend_);
    row(QCoreApplication::translate("Settings", "Default si&gnature:"), signature_);
    row(QCoreApplication::translate("Settings", "Default E-Mail &Client:"), reader_, pickReader);
    row(QCoreApplication::translate("Settings", "Sound notification:"), sound_, pickSound, play);
    row(QCoreApplication::translate("Settings", "Saved Messages Director&y:"), dwnDir_, pickDwn);
    row(QCoreApplication::translate("Settings", "&Quarantine Directory:"), spamDir_, pickSpam);
    row(QCoreApplication::translate("Settings", "Dou&ble-click action"), dblClick_, dblButton);
    row(QCoreApplication::translate("Settings", "Single-clic&k action"), sglClick_, sglButton);
    texts->addWidget(
        SettingsLabel(QCoreApplication::translate("Settings", "Font:"), fontButton, this), r, 0);
    texts->addWidget(font_, r, 1);
    texts->addWidget(fontButton, r, 2, 1, 2);

    auto* top = new QHBoxLayout;
    top->addLayout(flags, 1);
    top->addWidget(visual);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(texts);
    layout->addStretch(1);

    connect(dblButton, &QPushButton::clicked, this, [this] { chooseCommand(false); });
    connect(sglButton, &QPushButton::clicked, this, [this] { chooseCommand(true); });
    connect(fontButton, &QPushButton::clicked, this, &CommonPage::chooseFont);
    connect(pickReader, &QPushButton::clicked, this, [this] {
        SettingsPickFile(this, QCoreApplication::translate("Settings", "Mail client"),
                         QStringLiteral("exe"), reader_);
    });
    connect(pickSound, &QPushButton::clicked, this, [this] {
        SettingsPickFile(this, QCoreApplication::translate("Settings", "New Mail Sound"),
                         QStringLiteral("wav"), sound_);
    });
    connect(play, &QPushButton::clicked, this, [this] {
        const std::string file = SettingsText(sound_);
        // What a check plays when no file is chosen.
        if (file.empty())
            Sound_PlayNewMail(false);
        else
            Sound_PlayFile(file, false);
    });
    const auto pickDir = [this](QLineEdit* field) {
        const QString dir = QFileDialog::getExistingDirectory(this, QString(), field->text());
        if (!dir.isEmpty()) field->setText(dir);
    };
    connect(pickDwn, &QPushButton::clicked, this, [pickDir, this] { pickDir(dwnDir_); });
    connect(pickSpam, &QPushButton::clicked, this, [pickDir, this] { pickDir(spamDir_); });
    showCommands();
}

void CommonPage::showCommands() {
    const auto name = [this](int32_t command, bool single) {
        if (single && command == 0)
            return QCoreApplication::translate("Settings", "No single click action");
        for (const SETTINGS_MENU_ITEM& i : menuItems_)
            if (i.command == command) return QText_From(i.text).remove(QLatin1Char('&'));
        return command == 0 ? QString() : QString::number(command);
    };
    dblClick_->setText(name(form_.defMenu, false));
    sglClick_->setText(name(form_.snglClickMenu, true));
    SETTINGS_FONT font;
    font_->setText(Settings_ParseFont(form_.rFont, &font)
                       ? QCoreApplication::translate("Settings", "%1, %2 px%3%4")
                             .arg(QText_From(font.face))
                             .arg(std::abs(font.height))
                             .arg(font.weight >= 600
                                      ? QCoreApplication::translate("Settings", ", bold")
                                      : QString())
                             .arg(font.italic ? QCoreApplication::translate("Settings", ", italic")
                                              : QString())
                       : QCoreApplication::translate("Settings", "(default)"));
}

void CommonPage::chooseCommand(bool single) {
    QMenu menu(this);
    if (single)
        menu.addAction(QCoreApplication::translate("Settings", "No single click action"))
            ->setData(0);
    for (const SETTINGS_MENU_ITEM& i : menuItems_)
        menu.addAction(QText_From(i.text))->setData(i.command);
    QWidget* field = single ? sglClick_ : dblClick_;
    QAction* chosen = menu.exec(field->mapToGlobal(QPoint(0, field->height())));
    if (!chosen) return;
    (single ? form_.snglClickMenu : form_.defMenu) = chosen->data().toInt();
    showCommands();
}

void CommonPage::chooseFont() {
    SETTINGS_FONT current;
    QFont start = font();
    if (Settings_ParseFont(form_.rFont, &current)) {
        start = QFont(QText_From(current.face));
        if (current.height != 0) start.setPixelSize(std::abs(current.height));
        start.setBold(current.weight >= 600);
        start.setItalic(current.italic != 0);
    }
    bool ok = false;
    const QFont chosen =
        QFontDialog::getFont(&ok, start, this, QCoreApplication::translate("Settings", "Font"));
    if (!ok) return;
    SETTINGS_FONT f;
    // Heights are kept in pixels, negative for the character height.
    const int pixels = chosen.pixelSize() > 0
                           ? chosen.pixelSize()
                           : int(std::lround(chosen.pointSizeF() * logicalDpiY() / 72.0));
    f.height = -pixels;
    f.weight = chosen.bold() ? 700 : 400;
    f.italic = chosen.italic() ? 1 : 0;
    f.face = chosen.family().toStdString();
    form_.rFont = Settings_FormatFont(f);
    showCommands();
}

COMMON_FORM CommonPage::read() const {
    COMMON_FORM f = form_;
    f.checkOnStart = !checkOnStart_->isChecked() ? 0 : allAccounts_->isChecked() ? 2 : 1;
    f.startOnLogon = logon_->isChecked();
    f.showProgressWindow = progress_->isChecked();
    f.sndSync = sndSync_->isChecked();
    f.notifyOnlyOnce = once_->isChecked();
    for (int i = 0; i < 4; ++i)
        if (visual_[i]->isChecked()) f.newMailVisual = i + 1;
    f.desktopNotify = desktopNotify_->isChecked();
    f.nLinesDwnLoad = SettingsText(lines_);
    f.askNLines = askLines_->isChecked();
    f.confirmMsgDel = confirmDel_->isChecked();
    f.confirmMsgSend = confirmSend_->isChecked();
    f.confirmReplySave = confirmSave_->isChecked();
    f.wholeMsg = whole_->isChecked();
    f.showHdr = showHdr_->isChecked();
    f.savTxtWndPos = savePos_->isChecked();
    f.attachCheck = attach_->isChecked();
    f.optimizeStartup = optimize_->isChecked();
    f.replyPrepend = SettingsText(prepend_);
    f.signature = signature_->toPlainText().toStdString();
    f.mailReader = SettingsText(reader_);
    f.newMailSound = SettingsText(sound_);
    f.dwnRtDir = SettingsText(dwnDir_);
    f.spamRtDir = SettingsText(spamDir_);
    return f;
}

uint32_t CommonPage::Apply(bool ok) {
    if (!ok || !GlobalData_GetRecord()) return 0;
    const COMMON_FORM f = read();
    SETTINGS_MESSAGE message;
    if (CommonForm_Apply(f, GlobalData_GetRecord(), &message) != 0) {
        SettingsBox(message, UM_OK | UM_ICONERROR);
        return ERR_BADARG;
    }
    GlobalData_SetParam(GD_DEFMENU, f.defMenu);
    GlobalData_SetParam(GD_SNGLCLICKMENU, f.snglClickMenu);
    return 0;
}
