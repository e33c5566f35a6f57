// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/compose/compose_window.h"

#include "common/status.h"
#include "engine/mailsend.h"
#include "platform/files.h"
#include "platform/user_message.h"
#include "settings/account.h"
#include "settings/globaldata.h"
#include "ui/addressbook/addressbook.h"
#include "ui/addressbook/addressbook_picker.h"
#include "ui/addressbook/addressbook_picker_model.h"
#include "ui/app_windows.h"
#include "ui/print.h"
#include "ui/qtext.h"
#include "ui/windows.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QCompleter>
#include <QCoreApplication>
#include <QDate>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTime>
#include <QVBoxLayout>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <iterator>

namespace {

APP_WINDOWS* g_windows = nullptr;
std::atomic<int> g_count{0};
std::vector<QPointer<ComposeWindow>> g_open;

// Where the window stood when it was last closed (Comp_X .. Comp_S).
constexpr int kCompX = GD_GEOMETRY_FIRST + 16;

std::string longDate(const DATETIME& d) {
    const QLocale l = QLocale::system();
    const QDate date(d.wYear, d.wMonth, d.wDay);
    const QTime time(d.wHour, d.wMinute, d.wSecond);
    return (l.toString(date, QLocale::LongFormat) + QLatin1Char(' ') +
            l.toString(time, QLocale::ShortFormat))
        .toStdString();
}

COMPOSE_ENV env() {
    COMPOSE_ENV e;
    e.replyPrepend = GlobalData_GetText(GD_REPLYPREPEND);
    e.globalSignature = GlobalData_GetText(GD_SIGNATURE);
    e.formatDate = longDate;
    return e;
}

bool confirmOn(int number) {
    intptr_t v = 0;
    // A setting that cannot be read asks, as the safer choice.
    return GlobalData_GetParam(number, &v) != 0 || v != 0;
}

QLineEdit* lineEdit(QWidget* parent, const char* name) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(QString::fromLatin1(name));
    return e;
}

// Where the address being typed starts: after the last separator.
qsizetype lastAddressStart(const QString& text) {
    return std::max(text.lastIndexOf(QLatin1Char(',')), text.lastIndexOf(QLatin1Char(';'))) + 1;
}

// The address book's entries ("Name <address>"), one per address.
QStringList addressEntries() {
    QStringList out;
    for (const ADDRESSBOOK_CONTACT& c : AddressBook_Load(AddressBook_Files()).contacts)
        for (const std::string& e : c.emails)
            out << QText_From(AddressPickerModel::Entry(c.name, e));
    return out;
}

// Offers the address book's entries for the address being typed in a
// recipient field; the addresses before it stay as they are.
void offerAddresses(QLineEdit* field, const QStringList& entries) {
    if (entries.isEmpty()) return;
    auto* completer = new QCompleter(entries, field);
    completer->setObjectName(QStringLiteral("addressCompleter"));
    completer->setCaseSensitivity(Qt::CaseInsensitive);
    completer->setFilterMode(Qt::MatchContains);
    completer->setWidget(field);
    QObject::connect(field, &QLineEdit::textEdited, completer, [completer](const QString& text) {
        const QString typed = text.mid(lastAddressStart(text)).trimmed();
        if (typed.isEmpty()) {
            completer->popup()->hide();
            return;
        }
        completer->setCompletionPrefix(typed);
        completer->complete();
    });
    QObject::connect(completer, qOverload<const QString&>(&QCompleter::activated), field,
                     [field](const QString& entry) {
                         const QString text = field->text();
                         const qsizetype start = lastAddressStart(text);
                         field->setText(text.left(start) + (start > 0 ? " " : "") + entry);
                     });
}

} // namespace

void Compose_SetWindows(APP_WINDOWS* windows) {
    g_windows = windows;
}

ComposeWindow::ComposeWindow(const COMPOSE_SOURCE& source) {
    ++g_count;
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("composeWindow"));
    setWindowTitle(QCoreApplication::translate("Compose", "Inboxwarden - Send Mail"));
    model_.Open(source, env());
    build();
    showModel();
    if (GlobalData_GetNumber(GD_SAVTXTWNDPOS)) {
        intptr_t r[5] = {};
        bool all = true;
        for (int i = 0; i < 5; ++i)
            all = all && GlobalData_GetParam(kCompX + i, &r[i]) == 0;
        if (all && r[2] > 0 && r[3] > 0) {
            setGeometry(static_cast<int>(r[0]), static_cast<int>(r[1]), static_cast<int>(r[2]),
                        static_cast<int>(r[3]));
            if (r[4]) setWindowState(Qt::WindowMaximized);
        }
    }
    to_->setFocus();
}

ComposeWindow::~ComposeWindow() {
    --g_count;
}

int Compose_Count() {
    return g_count.load();
}

void ComposeWindow::build() {
    auto* central = new QWidget(this);
    auto* grid = new QGridLayout;
    int row = 0;
    auto labelled = [&](const QString& label, QWidget* field) {
        auto* l = new QLabel(label, central);
        l->setBuddy(field);
        grid->addWidget(l, row, 0);
        grid->addWidget(field, row, 1);
        ++row;
    };
    account_ = new QComboBox(central);
    account_->setObjectName(QStringLiteral("account"));
    account_->setAccessibleName(QCoreApplication::translate("Compose", "Send From"));
    labelled(QCoreApplication::translate("Compose", "Send Fro&m:"), account_);
    name_ = lineEdit(central, "name");
    labelled(QCoreApplication::translate("Compose", "&Name:"), name_);
    address_ = lineEdit(central, "address");
    labelled(QCoreApplication::translate("Compose", "E-mail a&ddress:"), address_);
    server_ = lineEdit(central, "server");
    labelled(QCoreApplication::translate("Compose", "Ser&ver:"), server_);
    auto recipient = [&](const QString& label, const char* name, QLineEdit** edit) {
        auto* b = new QPushButton(label, central);
        b->setObjectName(QString::fromLatin1(name) + QStringLiteral("Book"));
        b->setToolTip(QCoreApplication::translate("Compose", "Address Book"));
        *edit = lineEdit(central, name);
        (*edit)->setAccessibleName(QString(label).remove(QLatin1Char('&')));
        connect(b, &QPushButton::clicked, this, [this] { pickAddresses(); });
        grid->addWidget(b, row, 0);
        grid->addWidget(*edit, row, 1);
        ++row;
    };
    recipient(QCoreApplication::translate("Compose", "&To"), "to", &to_);
    recipient(QCoreApplication::translate("Compose", "&CC"), "cc", &cc_);
    recipient(QCoreApplication::translate("Compose", "&BCC"), "bcc", &bcc_);
    const QStringList entries = addressEntries();
    for (QLineEdit* e : {to_, cc_, bcc_})
        offerAddresses(e, entries);
    subject_ = lineEdit(central, "subject");
    labelled(QCoreApplication::translate("Compose", "S&ubject"), subject_);
    // The two fields a message cannot go without stand out.
    for (QLineEdit* e : {to_, subject_}) {
        QPalette p = e->palette();
        p.setColor(QPalette::Base, QColor(255, 164, 119));
        p.setColor(QPalette::Text, Qt::black);
        e->setPalette(p);
    }
    text_ = new QPlainTextEdit(central);
    text_->setObjectName(QStringLiteral("text"));
    text_->setAccessibleName(QCoreApplication::translate("Compose", "Message text"));
    text_->installEventFilter(this);
    bcc_->installEventFilter(this);
    attachLabel_ = new QLabel(QCoreApplication::translate("Compose", "Attac&hments :"), central);
    attachments_ = new QListWidget(central);
    attachments_->setObjectName(QStringLiteral("attachments"));
    attachments_->setAccessibleName(QCoreApplication::translate("Compose", "Attachments"));
    attachments_->setMaximumHeight(90);
    attachments_->installEventFilter(this);
    attachLabel_->setBuddy(attachments_);

    auto* attach = new QPushButton(QCoreApplication::translate("Compose", "&Attach"), central);
    send_ = new QPushButton(QCoreApplication::translate("Compose", "&Send"), central);
    send_->setObjectName(QStringLiteral("send"));
    auto* closeButton = new QPushButton(QCoreApplication::translate("Compose", "C&lose"), central);
    connect(attach, &QPushButton::clicked, this, [this] { AttachFile(std::string()); });
    connect(send_, &QPushButton::clicked, this, [this] { Send(); });
    connect(closeButton, &QPushButton::clicked, this, &QWidget::close);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(attach);
    buttons->addStretch(1);
    buttons->addWidget(send_);
    buttons->addWidget(closeButton);

    auto* layout = new QVBoxLayout(central);
    layout->addLayout(grid);
    layout->addWidget(text_, 1);
    layout->addWidget(attachLabel_);
    layout->addWidget(attachments_);
    layout->addLayout(buttons);
    setCentralWidget(central);

    // Enter in a one-line field moves on, as in a form.
    for (QLineEdit* e : {name_, address_, server_, to_, cc_, bcc_, subject_})
        connect(e, &QLineEdit::returnPressed, this, [this] { focusNextChild(); });
    connect(account_, &QComboBox::activated, this, [this] {
        pullFields();
        model_.SelectAccount(account_->currentText().toStdString());
        showModel();
    });

    auto add = [this](QMenu* menu, const QString& text, auto fn, QKeySequence key = {}) {
        QAction* a = menu->addAction(text);
        if (!key.isEmpty()) a->setShortcut(key);
        connect(a, &QAction::triggered, this, fn);
        return a;
    };
    QMenu* file = menuBar()->addMenu(QCoreApplication::translate("Compose", "&File"));
    QAction* sendAction = add(
        file, QCoreApplication::translate("Compose", "Send"), [this] { Send(); },
        QKeySequence(Qt::CTRL | Qt::Key_Return));
    sendAction->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)});
    add(
        file, QCoreApplication::translate("Compose", "&Open"), [this] { OpenFile(std::string()); },
        QKeySequence(Qt::CTRL | Qt::Key_O));
    add(
        file, QCoreApplication::translate("Compose", "&Save As..."), [this] { SaveAs(); },
        QKeySequence(Qt::CTRL | Qt::Key_S));
    file->addSeparator();
    auto open = [this](APP_WINDOW w) {
        if (!g_windows) return;
        UiBoxOwner owner(this);
        g_windows->Open(w);
    };
    add(file, QCoreApplication::translate("Compose", "Se&ttings..."),
        [open] { open(APP_WINDOW::Settings); });
    add(file, QCoreApplication::translate("Compose", "&Profiles..."),
        [open] { open(APP_WINDOW::Profiles); });
    add(file, QCoreApplication::translate("Compose", "&Print"), [this] {
        pullFields();
        const std::string heading = model_.PrintHeading();
        Print_WindowText(&heading, text_);
    });
    file->addSeparator();
    add(file, QCoreApplication::translate("Compose", "&Close"), [this] { close(); });
    QMenu* edit = menuBar()->addMenu(QCoreApplication::translate("Compose", "&Edit"));
    add(edit, QCoreApplication::translate("Compose", "&Copy"), [] {
        if (auto* e = qobject_cast<QLineEdit*>(QApplication::focusWidget())) e->copy();
        if (auto* t = qobject_cast<QPlainTextEdit*>(QApplication::focusWidget())) t->copy();
    });
    add(edit, QCoreApplication::translate("Compose", "Select &All"), [] {
        if (auto* e = qobject_cast<QLineEdit*>(QApplication::focusWidget())) e->selectAll();
        if (auto* t = qobject_cast<QPlainTextEdit*>(QApplication::focusWidget())) t->selectAll();
    });
    edit->addSeparator();
    appendSig_ = add(edit, QCoreApplication::translate("Compose", "Append &Signature"),
                     [this] { AppendSignature(); });
    add(edit, QCoreApplication::translate("Compose", "&Attach File"),
        [this] { AttachFile(std::string()); });
    QMenu* help = menuBar()->addMenu(QCoreApplication::translate("Compose", "&Help"));
    add(help, QCoreApplication::translate("Compose", "&Contents"),
        [open] { open(APP_WINDOW::Help); });
    add(help, QCoreApplication::translate("Compose", "&Sending Message"),
        [open] { open(APP_WINDOW::Help); });
    add(help, QCoreApplication::translate("Compose", "&About Inboxwarden"),
        [open] { open(APP_WINDOW::About); });
    RefillAccounts();
    resize(640, 560);
}

QLineEdit* ComposeWindow::Field(const char* name) const {
    return findChild<QLineEdit*>(QString::fromLatin1(name));
}

void ComposeWindow::RefillAccounts() {
    const QString current = account_->currentText();
    const std::string chosen = model_.Fields().account;
    account_->clear();
    for (const std::string& n : ComposeModel::AccountNames())
        account_->addItem(QText_From(n));
    int at = account_->findText(QText_From(chosen), Qt::MatchFixedString);
    if (at < 0) at = account_->findText(current, Qt::MatchFixedString);
    if (at >= 0) account_->setCurrentIndex(at);
}

void ComposeWindow::showModel() {
    const COMPOSE_FIELDS& f = model_.Fields();
    const int at = account_->findText(QText_From(f.account), Qt::MatchFixedString);
    if (at >= 0) account_->setCurrentIndex(at);
    name_->setText(QText_From(f.senderName));
    address_->setText(QText_From(f.senderAddress));
    server_->setText(QText_From(f.server));
    to_->setText(QText_From(f.to));
    cc_->setText(QText_From(f.cc));
    bcc_->setText(QText_From(f.bcc));
    subject_->setText(QText_From(f.subject));
    if (text_->toPlainText() != QText_From(f.text)) {
        text_->setPlainText(QText_From(f.text));
        text_->document()->setModified(false);
    }
    appendSig_->setEnabled(!model_.Signature().empty());
    showAttachments();
}

void ComposeWindow::pullFields() {
    COMPOSE_FIELDS f;
    f.account = account_->currentText().toStdString();
    f.senderName = name_->text().toStdString();
    f.senderAddress = address_->text().toStdString();
    f.server = server_->text().trimmed().toStdString();
    f.to = to_->text().toStdString();
    f.cc = cc_->text().toStdString();
    f.bcc = bcc_->text().toStdString();
    f.subject = subject_->text().toStdString();
    f.text = text_->toPlainText().toStdString();
    model_.SetFields(std::move(f));
}

void ComposeWindow::showAttachments() {
    attachments_->clear();
    for (const std::string& n : model_.AttachmentNames())
        attachments_->addItem(QText_From(n));
    const bool any = attachments_->count() > 0;
    attachments_->setVisible(any);
    attachLabel_->setVisible(any);
}

int ComposeWindow::ask(const std::string& text, unsigned flags) {
    UiBoxOwner owner(this);
    return UserMsg_Show((flags & 0xF0) == UM_ICONERROR ? IW_N_("Inboxwarden", "Error")
                                                       : "Inboxwarden",
                        text, flags);
}

void ComposeWindow::Send() {
    pullFields();
    if (confirmOn(GD_CONFIRMMSGSEND) &&
        ask(IW_N_("Inboxwarden", "Send message?"), UM_YESNO | UM_ICONQUESTION) != UM_IDYES)
        return;
    if (model_.Sent() &&
        ask(IW_N_("Inboxwarden", "The message was already sent.\nWould you like to send it again?"),
            UM_YESNO | UM_ICONQUESTION) != UM_IDYES)
        return;
    SendJob job;
    std::string error;
    if (model_.BuildJob(&job, &error) != 0) {
        ask(error, UM_OK | UM_ICONERROR);
        return;
    }
    ACCOUNT* account = Account_Get(model_.Fields().account.c_str(), -1);
    const std::string accountName = model_.Fields().account;
    // With SendSecured 2 the outgoing server takes the incoming login.
    const std::string login = !account                    ? std::string()
                              : account->SendSecured == 2 ? account->ChkLogin
                                                          : account->SendLogin;
    const auto prompt = [this, &accountName, &login](std::string* password) -> uint32_t {
        if (!g_windows) return ERR_CANCELLED;
        UiBoxOwner owner(this);
        return g_windows->AskPassword(accountName, login, password);
    };
    if (Compose_SendLogin(account, prompt, &job) != 0) return;
    MailSend_UseMessage(&job, model_.Message());
    const uint32_t rc = MailSend_Send(this, &job);
    if (rc == 0) {
        send_->setText(QCoreApplication::translate("Compose", "Send Again"));
        model_.SetSent();
        ask(IW_N_("Inboxwarden", "Message has been sent successfully."), UM_OK | UM_ICONINFO);
        return;
    }
    // A password typed for the run may be the reason: the next send asks again.
    if (account && account->SendSecured == 1 && Account_PasswordType(account, true) == 1)
        account->RememberedSendPswd.clear();
    ask(job.errorText[0] ? std::string(job.errorText) : std::string("The message was not sent."),
        UM_OK | UM_ICONERROR);
}

bool ComposeWindow::SaveAs() {
    pullFields();
    std::string path = saveAsPath;
    if (path.empty()) {
        const QString chosen =
            QFileDialog::getSaveFileName(this, QCoreApplication::translate("Compose", "Save As"),
                                         QText_From(model_.ProposedFileName()));
        if (chosen.isEmpty()) return false;
        path = chosen.toStdString();
    }
    // Through a temporary file: a failed write leaves the old file whole.
    if (Files_WriteWhole(path, model_.DraftText()) != 0) {
        ask("Can't save the file:\r\n" + path, UM_OK | UM_ICONERROR);
        return false;
    }
    text_->document()->setModified(false);
    return true;
}

void ComposeWindow::OpenFile(const std::string& given) {
    std::string path = given;
    if (path.empty()) {
        const QString chosen =
            QFileDialog::getOpenFileName(this, QCoreApplication::translate("Compose", "Open file"));
        if (chosen.isEmpty()) return;
        path = chosen.toStdString();
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        ask("Can't read the file:\r\n" + path, UM_OK | UM_ICONERROR);
        return;
    }
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    pullFields();
    model_.OpenFile(text);
    showModel();
    text_->document()->setModified(false);
}

void ComposeWindow::AttachFile(const std::string& given) {
    std::string path = given;
    if (path.empty()) {
        const QString chosen =
            QFileDialog::getOpenFileName(this, QCoreApplication::translate("Compose", "Open file"));
        if (chosen.isEmpty()) return;
        path = chosen.toStdString();
    }
    std::string error;
    if (model_.Attach(path, &error) != 0) ask(error, UM_OK | UM_ICONERROR);
    showAttachments();
}

void ComposeWindow::AppendSignature() {
    pullFields();
    model_.AppendSignature();
    text_->setPlainText(QText_From(model_.Fields().text));
    text_->document()->setModified(true);
}

void ComposeWindow::pickAddresses() {
    pullFields();
    ADDRESS_LINES lines{model_.Fields().to, model_.Fields().cc, model_.Fields().bcc};
    if (!AddressBook_Pick(this, &lines)) return;
    to_->setText(QText_From(lines.to));
    cc_->setText(QText_From(lines.cc));
    bcc_->setText(QText_From(lines.bcc));
}

bool ComposeWindow::eventFilter(QObject* o, QEvent* e) {
    if (o == text_ && e->type() == QEvent::KeyPress) {
        auto* k = static_cast<QKeyEvent*>(e);
        if (k->key() == Qt::Key_Tab && k->modifiers() == Qt::ControlModifier) {
            focusNextChild();
            return true;
        }
        if (k->key() == Qt::Key_Tab && k->modifiers() == Qt::NoModifier) {
            text_->insertPlainText(QStringLiteral("        "));
            return true;
        }
    }
    if (o == bcc_ && e->type() == QEvent::MouseButtonDblClick) {
        const QString me = address_->text().trimmed();
        const QString bcc = bcc_->text();
        if (!me.isEmpty()) {
            if (bcc.trimmed().isEmpty())
                bcc_->setText(me);
            else if (!bcc.contains(me, Qt::CaseInsensitive))
                bcc_->setText(me + QLatin1Char(',') + bcc);
        }
        return true;
    }
    if (o == attachments_ && e->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(e)->key() == Qt::Key_Delete && attachments_->currentRow() >= 0) {
        model_.RemoveAttachment(static_cast<size_t>(attachments_->currentRow()));
        showAttachments();
        return true;
    }
    return QMainWindow::eventFilter(o, e);
}

void ComposeWindow::closeEvent(QCloseEvent* e) {
    if (!text_->toPlainText().isEmpty() && text_->document()->isModified() &&
        confirmOn(GD_CONFIRMREPLYSAVE)) {
        const int answer = ask(IW_N_("Inboxwarden", "Do you want to save this message?"),
                               UM_YESNOCANCEL | UM_ICONQUESTION);
        if (answer == UM_IDCANCEL || (answer == UM_IDYES && !SaveAs())) {
            e->ignore();
            return;
        }
    }
    const QRect r = normalGeometry();
    const intptr_t values[5] = {r.x(), r.y(), r.width(), r.height(), isMaximized() ? 1 : 0};
    for (int i = 0; i < 5; ++i)
        GlobalData_SetParam(kCompX + i, values[i]);
    e->accept();
}

ComposeWindow* Compose_Open(const COMPOSE_SOURCE& source) {
    auto* w = new ComposeWindow(source);
    std::erase_if(g_open, [](const QPointer<ComposeWindow>& p) { return p.isNull(); });
    g_open.emplace_back(w);
    w->show();
    w->raise();
    w->activateWindow();
    return w;
}

std::vector<ComposeWindow*> Compose_Windows() {
    std::vector<ComposeWindow*> out;
    for (const QPointer<ComposeWindow>& w : g_open)
        if (w) out.push_back(w);
    return out;
}

void Compose_SettingsChanged() {
    for (ComposeWindow* w : Compose_Windows())
        w->RefillAccounts();
}
