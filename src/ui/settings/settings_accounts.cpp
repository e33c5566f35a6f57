// SPDX-License-Identifier: GPL-3.0-or-later
// The Accounts page: the account list and the editor of one account.
#include "common/status.h"
#include "platform/sound.h"
#include "platform/user_message.h"
#include "ui/filter/filter_editor.h"
#include "ui/qtext.h"
#include "ui/settings/settings_pages.h"
#include "ui/settings/settings_widgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace {

QComboBox* passwordKinds(QWidget* parent, const char* name) {
    auto* c = new QComboBox(parent);
    c->setObjectName(QString::fromLatin1(name));
    c->addItems({QCoreApplication::translate("Settings", "Save"),
                 QCoreApplication::translate("Settings", "Ask Once"),
                 QCoreApplication::translate("Settings", "Ask Each Time")});
    return c;
}

// The Delete key in the list deletes, as the button does.
class AccountList final : public QListWidget {
  public:
    using QListWidget::QListWidget;
    std::function<void()> onDelete;

  protected:
    void keyPressEvent(QKeyEvent* e) override {
        if (e->key() == Qt::Key_Delete && onDelete) {
            onDelete();
            return;
        }
        QListWidget::keyPressEvent(e);
    }
};

} // namespace

AccountsPage::AccountsPage(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("accountsPage"));
    auto* list = new AccountList(this);
    list->onDelete = [this] { deleteAccount(); };
    list_ = list;
    list_->setObjectName(QStringLiteral("accountList"));
    list_->setAccessibleName(QCoreApplication::translate("Settings", "Accounts"));
    new_ = new QPushButton(QCoreApplication::translate("Settings", "&New"), this);
    copy_ = new QPushButton(QCoreApplication::translate("Settings", "Cop&y"), this);
    delete_ = new QPushButton(QCoreApplication::translate("Settings", "&Delete"), this);
    save_ = new QPushButton(QCoreApplication::translate("Settings", "&Save"), this);
    for (auto [b, n] :
         {std::pair{new_, "new"}, {copy_, "copy"}, {delete_, "delete"}, {save_, "save"}})
        b->setObjectName(QString::fromLatin1(n));
    auto* left = new QVBoxLayout;
    left->addWidget(
        SettingsLabel(QCoreApplication::translate("Settings", "Accounts:"), list_, this));
    left->addWidget(list_, 1);
    auto* buttons = new QGridLayout;
    buttons->addWidget(new_, 0, 0);
    buttons->addWidget(copy_, 0, 1);
    buttons->addWidget(delete_, 1, 0);
    buttons->addWidget(save_, 1, 1);
    left->addLayout(buttons);

    // The account and when it is checked.
    name_ = SettingsLine(this, "accountName");
    checkIt_ =
        new QCheckBox(QCoreApplication::translate("Settings", "&Include in Auto Check"), this);
    checkIt_->setObjectName(QStringLiteral("checkIt"));
    useSchedule_ = new QCheckBox(QCoreApplication::translate("Settings", "&Use schedule"), this);
    useSchedule_->setObjectName(QStringLiteral("useSchedule"));
    schedule_ = new QPushButton(QCoreApplication::translate("Settings", "Sc&hedule..."), this);
    schedule_->setObjectName(QStringLiteral("schedule"));
    chkTime_ = SettingsLine(this, "chkTime", 10);
    chkTime_->setMaximumWidth(70);
    auto* top = new QGridLayout;
    top->addWidget(
        SettingsLabel(QCoreApplication::translate("Settings", "Accoun&t name:"), name_, this), 0,
        0);
    top->addWidget(name_, 0, 1, 1, 4);
    top->addWidget(checkIt_, 1, 0, 1, 2);
    top->addWidget(useSchedule_, 1, 2);
    top->addWidget(schedule_, 1, 3, 1, 2);
    top->addWidget(
        SettingsLabel(QCoreApplication::translate("Settings", "Auto Check &Every"), chkTime_, this),
        2, 0);
    top->addWidget(chkTime_, 2, 1);
    top->addWidget(new QLabel(QCoreApplication::translate("Settings", "min."), this), 2, 2);

    auto* user = new QGroupBox(QCoreApplication::translate("Settings", "User information"), this);
    fullName_ = SettingsLine(user, "fullUserName");
    email_ = SettingsLine(user, "email");
    reply_ = SettingsLine(user, "replyAdr");
    auto* userForm = new QFormLayout(user);
    userForm->addRow(
        SettingsLabel(QCoreApplication::translate("Settings", "N&ame:"), fullName_, user),
        fullName_);
    userForm->addRow(
        SettingsLabel(QCoreApplication::translate("Settings", "E-&mail address:"), email_, user),
        email_);
    userForm->addRow(
        SettingsLabel(QCoreApplication::translate("Settings", "&Reply address:"), reply_, user),
        reply_);

    auto* in = new QGroupBox(QCoreApplication::translate("Settings", "Incoming mail (POP3)"), this);
    chkServer_ = SettingsLine(in, "chkServer");
    chkLogin_ = SettingsLine(in, "chkLogin");
    chkPswd_ = SettingsLine(in, "chkPswd");
    chkPswd_->setEchoMode(QLineEdit::Password);
    chkPswdType_ = passwordKinds(in, "chkPswdType");
    chkPswdType_->setAccessibleName(QCoreApplication::translate("Settings", "Password kind"));
    chkKeyring_ = new QCheckBox(
        QCoreApplication::translate("Settings", "Keep the password in the desktop &keyring"), in);
    chkKeyring_->setObjectName(QStringLiteral("chkPswdStore"));
    chkKeyring_->setAccessibleName(QCoreApplication::translate(
        "Settings", "Keep the incoming password in the desktop keyring"));
    dontClean_ = new QCheckBox(
        QCoreApplication::translate("Settings", "Show e&xternally removed messages"), in);
    dontClean_->setObjectName(QStringLiteral("dontCleanOldMsgs"));
    auto* inAdvanced = new QPushButton(QCoreApplication::translate("Settings", "Advan&ced..."), in);
    inAdvanced->setObjectName(QStringLiteral("chkAdvanced"));
    inAdvanced->setAccessibleName(
        QCoreApplication::translate("Settings", "Incoming server advanced settings"));
    auto* inForm = new QGridLayout(in);
    inForm->addWidget(
        SettingsLabel(QCoreApplication::translate("Settings", "Ser&ver:"), chkServer_, in), 0, 0);
    // Two fields are labelled "Server": a screen reader tells them apart.
    chkServer_->setAccessibleName(QCoreApplication::translate("Settings", "Incoming server"));
    inForm->addWidget(chkServer_, 0, 1, 1, 2);
    inForm->addWidget(
        SettingsLabel(QCoreApplication::translate("Settings", "&Login name:"), chkLogin_, in), 1,
        0);
    inForm->addWidget(chkLogin_, 1, 1, 1, 2);
    inForm->addWidget(
        SettingsLabel(QCoreApplication::translate("Settings", "Pass&word:"), chkPswd_, in), 2, 0);
    inForm->addWidget(chkPswd_, 2, 1);
    inForm->addWidget(chkPswdType_, 2, 2);
    inForm->addWidget(chkKeyring_, 3, 1, 1, 2);
    inForm->addWidget(dontClean_, 4, 0, 1, 2);
    inForm->addWidget(inAdvanced, 4, 2);

    auto* out =
        new QGroupBox(QCoreApplication::translate("Settings", "Outgoing mail (SMTP)"), this);
    sendServer_ = SettingsLine(out, "sendServer");
    auto* outAdvanced =
        new QPushButton(QCoreApplication::translate("Settings", "Advanced..."), out);
    outAdvanced->setObjectName(QStringLiteral("sendAdvanced"));
    outAdvanced->setAccessibleName(
        QCoreApplication::translate("Settings", "Outgoing server advanced settings"));
    auto* outForm = new QHBoxLayout(out);
    outForm->addWidget(
        SettingsLabel(QCoreApplication::translate("Settings", "Server:"), sendServer_, out));
    sendServer_->setAccessibleName(QCoreApplication::translate("Settings", "Outgoing server"));
    outForm->addWidget(sendServer_, 1);
    outForm->addWidget(outAdvanced);

    auto* sig = new QGroupBox(QCoreApplication::translate("Settings", "Signature"), this);
    autoSig_ = new QCheckBox(
        QCoreApplication::translate("Settings", "Auto apply to composed messages"), sig);
    autoSig_->setObjectName(QStringLiteral("autoApplySig"));
    signature_ = new QPlainTextEdit(sig);
    signature_->setObjectName(QStringLiteral("signature"));
    signature_->setAccessibleName(QCoreApplication::translate("Settings", "Signature text"));
    signature_->setTabChangesFocus(true);
    signature_->setFixedHeight(54);
    auto* sigBox = new QVBoxLayout(sig);
    sigBox->addWidget(autoSig_);
    sigBox->addWidget(signature_);

    mailClnt_ = SettingsLine(this, "mailClnt");
    sound_ = SettingsLine(this, "newMailSnd");
    auto* pickClient = new QPushButton(QStringLiteral("..."), this);
    pickClient->setAccessibleName(
        QCoreApplication::translate("Settings", "Choose the e-mail client"));
    auto* pickSound = new QPushButton(QStringLiteral("..."), this);
    pickSound->setAccessibleName(QCoreApplication::translate("Settings", "Choose the sound"));
    auto* play = new QPushButton(QCoreApplication::translate("Settings", "Play"), this);
    play->setObjectName(QStringLiteral("play"));
    for (QPushButton* b : {pickClient, pickSound})
        b->setMaximumWidth(32);
    auto* files = new QGridLayout;
    files->addWidget(
        SettingsLabel(QCoreApplication::translate("Settings", "E-Mail Client:"), mailClnt_, this),
        0, 0);
    files->addWidget(mailClnt_, 0, 1);
    files->addWidget(pickClient, 0, 2);
    files->addWidget(SettingsLabel(QCoreApplication::translate("Settings", "S&ound notification:"),
                                   sound_, this),
                     1, 0);
    files->addWidget(sound_, 1, 1);
    files->addWidget(pickSound, 1, 2);
    files->addWidget(play, 1, 3);

    filters_ = new QPushButton(QCoreApplication::translate("Settings", "&Filters"), this);
    filters_->setObjectName(QStringLiteral("filters"));
    globalFilters_ =
        new QPushButton(QCoreApplication::translate("Settings", "&Global Filters"), this);
    globalFilters_->setObjectName(QStringLiteral("globalFilters"));
    auto* filterRow = new QHBoxLayout;
    filterRow->addStretch(1);
    filterRow->addWidget(filters_);
    filterRow->addWidget(globalFilters_);
    // Without the plug-in there are no filters to edit.
    filters_->setVisible(Account_FilterOps() != nullptr);
    globalFilters_->setVisible(Account_FilterOps() != nullptr);

    auto* right = new QVBoxLayout;
    right->addLayout(top);
    right->addWidget(user);
    right->addWidget(in);
    right->addWidget(out);
    right->addWidget(sig);
    right->addLayout(files);
    right->addLayout(filterRow);
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(left, 1);
    layout->addLayout(right, 3);

    connect(list_, &QListWidget::currentRowChanged, this, &AccountsPage::rowChanged);
    connect(new_, &QPushButton::clicked, this, [this] { newAccount(false); });
    connect(copy_, &QPushButton::clicked, this, [this] { newAccount(true); });
    connect(delete_, &QPushButton::clicked, this, &AccountsPage::deleteAccount);
    connect(save_, &QPushButton::clicked, this, [this] { save(); });
    connect(inAdvanced, &QPushButton::clicked, this, &AccountsPage::advancedIncoming);
    connect(outAdvanced, &QPushButton::clicked, this, &AccountsPage::advancedOutgoing);
    connect(schedule_, &QPushButton::clicked, this, &AccountsPage::schedule);
    connect(useSchedule_, &QCheckBox::toggled, this, &AccountsPage::updateEnabled);
    connect(chkPswdType_, &QComboBox::currentIndexChanged, this, &AccountsPage::updateEnabled);
    // Only a typed password replaces the stored one; the field starts empty.
    connect(chkPswd_, &QLineEdit::textEdited, this, [this](const QString& t) {
        form_.chkPswd = {true, t.toStdString()};
    });
    connect(pickClient, &QPushButton::clicked, this, [this] {
        SettingsPickFile(this, QCoreApplication::translate("Settings", "Mail client"),
                         QStringLiteral("exe"), mailClnt_);
    });
    connect(pickSound, &QPushButton::clicked, this, [this] {
        SettingsPickFile(this, QCoreApplication::translate("Settings", "New Mail Sound"),
                         QStringLiteral("wav"), sound_);
    });
    connect(play, &QPushButton::clicked, this,
            [this] { Sound_PlayFile(SettingsText(sound_), false); });
    connect(filters_, &QPushButton::clicked, this, [this] { editFilter(false); });
    connect(globalFilters_, &QPushButton::clicked, this, [this] { editFilter(true); });

    fillList(Account_GetCount() > 0 ? Account_Get(nullptr, 0) : nullptr);
}

void AccountsPage::fillList(const ACCOUNT* select) {
    const QSignalBlocker block(list_);
    list_->clear();
    int row = -1;
    for (int i = 0; i < Account_GetCount(); ++i) {
        ACCOUNT* a = Account_Get(nullptr, i);
        list_->addItem(QText_From(a->Name));
        if (a == select) row = i;
    }
    if (row < 0 && list_->count() > 0) row = 0;
    list_->setCurrentRow(row);
    shownRow_ = row;
    current_ = row >= 0 ? Account_Get(nullptr, row) : nullptr;
    newPending_ = false;
    showForm(AccountForm_FromAccount(current_));
}

void AccountsPage::showForm(const ACCOUNT_FORM& f) {
    form_ = f;
    name_->setText(QText_From(f.name));
    checkIt_->setChecked(f.checkIt);
    useSchedule_->setChecked(f.useSchedule);
    chkTime_->setText(QText_From(f.chkTime));
    fullName_->setText(QText_From(f.fullUserName));
    email_->setText(QText_From(f.email));
    reply_->setText(QText_From(f.replyAdr));
    chkServer_->setText(QText_From(f.chkServer));
    chkLogin_->setText(QText_From(f.chkLogin));
    chkPswd_->clear();
    chkPswd_->setPlaceholderText(
        current_ || f.chkPswd.edited ? QString::fromLatin1(SETTINGS_PASSWORD_HIDDEN) : QString());
    chkPswdType_->setCurrentIndex(std::clamp(f.chkPswdType, 0, 2));
    chkKeyring_->setChecked(f.chkPswdInKeyring);
    dontClean_->setChecked(f.dontCleanOldMsgs);
    sendServer_->setText(QText_From(f.sendServer));
    autoSig_->setChecked(f.autoApplySig);
    signature_->setPlainText(QText_From(f.signature));
    mailClnt_->setText(QText_From(f.mailClnt));
    sound_->setText(QText_From(f.newMailSnd));
    const bool any = current_ || newPending_;
    for (QWidget* w : std::initializer_list<QWidget*>{name_, chkServer_, save_, delete_, copy_})
        w->setEnabled(any);
    delete_->setEnabled(current_ != nullptr);
    copy_->setEnabled(current_ != nullptr);
    updateEnabled();
}

void AccountsPage::updateEnabled() {
    // While the time table decides, the interval means nothing.
    chkTime_->setEnabled(!useSchedule_->isChecked());
    // A password that is asked for is not kept.
    chkPswd_->setEnabled(chkPswdType_->currentIndex() == 0);
    chkKeyring_->setEnabled(chkPswdType_->currentIndex() == 0);
}

ACCOUNT_FORM AccountsPage::readForm() const {
    ACCOUNT_FORM f = form_;
    f.name = SettingsText(name_);
    f.checkIt = checkIt_->isChecked();
    f.useSchedule = useSchedule_->isChecked();
    f.chkTime = SettingsText(chkTime_);
    f.fullUserName = SettingsText(fullName_);
    f.email = SettingsText(email_);
    f.replyAdr = SettingsText(reply_);
    f.chkServer = SettingsText(chkServer_);
    f.chkLogin = SettingsText(chkLogin_);
    f.chkPswdType = chkPswdType_->currentIndex();
    f.chkPswdInKeyring = chkKeyring_->isChecked();
    f.dontCleanOldMsgs = dontClean_->isChecked();
    f.sendServer = SettingsText(sendServer_);
    f.autoApplySig = autoSig_->isChecked();
    f.signature = signature_->toPlainText().toStdString();
    f.mailClnt = SettingsText(mailClnt_);
    f.newMailSnd = SettingsText(sound_);
    return f;
}

bool AccountsPage::save() {
    ACCOUNT_FORM f = readForm();
    ACCOUNT* a = current_;
    SETTINGS_MESSAGE message;
    if (AccountForm_Save(&f, &a, &message) != 0) {
        SettingsBox(message, UM_OK | UM_ICONWARNING);
        return false;
    }
    if (!message.text.empty()) SettingsBox(message, UM_OK | UM_ICONWARNING);
    fillList(a);
    return true;
}

bool AccountsPage::leaveEditor() {
    if (!current_ && !newPending_) return true;
    const ACCOUNT_FORM f = readForm();
    if (!AccountForm_Differs(f, current_)) {
        if (newPending_) fillList(nullptr);
        return true;
    }
    const std::string name = current_ ? current_->Name : f.name;
    switch (SettingsBox({"Inboxwarden", AccountForm_SaveQuestion(name)},
                        UM_YESNOCANCEL | UM_ICONQUESTION)) {
    case UM_IDYES:
        return save();
    case UM_IDNO:
        // A new account that was never saved disappears.
        if (newPending_) {
            fillList(nullptr);
        } else {
            showForm(AccountForm_FromAccount(current_));
        }
        return true;
    default:
        return false;
    }
}

void AccountsPage::rowChanged(int row) {
    if (row == shownRow_) return;
    // A new account's row is the last; leaving it asks as any other.
    ACCOUNT* target = row >= 0 && row < Account_GetCount() ? Account_Get(nullptr, row) : nullptr;
    if (!leaveEditor()) {
        const QSignalBlocker block(list_);
        list_->setCurrentRow(shownRow_);
        return;
    }
    fillList(target);
}

void AccountsPage::newAccount(bool copy) {
    if (newPending_) return;
    ACCOUNT* source = current_;
    if (!leaveEditor()) return;
    // The test may have saved or reloaded the list: the source is found again.
    if (copy && source) {
        int index = -1;
        if (Account_IndexOf(source, &index) != 0) source = nullptr;
    }
    ACCOUNT_FORM f = AccountForm_FromAccount(copy ? source : nullptr);
    f.name.clear();
    if (copy && source) {
        // The copy keeps the passwords without showing them, from the
        // keyring too.
        Account_PasswordType(source, false);
        if (source->SendSecured == 1) Account_PasswordType(source, true);
        if (!source->ChkPswd.empty()) f.chkPswd = {true, source->ChkPswd};
        if (!source->SendPswd.empty()) f.sendPswd = {true, source->SendPswd};
    }
    {
        const QSignalBlocker block(list_);
        list_->addItem(QCoreApplication::translate("Settings", "<new account>"));
        shownRow_ = list_->count() - 1;
        list_->setCurrentRow(shownRow_);
    }
    current_ = nullptr;
    newPending_ = true;
    showForm(f);
    name_->setFocus();
}

void AccountsPage::deleteAccount() {
    if (!current_) return;
    if (SettingsBox({"Inboxwarden", AccountForm_DeleteQuestion(current_->Name)},
                    UM_YESNO | UM_ICONQUESTION) != UM_IDYES)
        return;
    const int row = shownRow_;
    std::string error;
    Account_Delete(current_, &error);
    current_ = nullptr;
    if (!error.empty()) SettingsBox({"Reg_DeleteBranch", error}, UM_OK | UM_ICONERROR);
    const int count = Account_GetCount();
    fillList(count > 0 ? Account_Get(nullptr, std::min(row, count - 1)) : nullptr);
}

void AccountsPage::advancedIncoming() {
    ACCOUNT_FORM f = readForm();
    if (AdvancedIncoming_Edit(this, &f,
                              current_ ? Settings_RefusedFingerprint(current_->StatusText) : ""))
        form_ = f;
}

void AccountsPage::advancedOutgoing() {
    ACCOUNT_FORM f = readForm();
    if (AdvancedOutgoing_Edit(this, &f, "")) form_ = f;
}

void AccountsPage::schedule() {
    Schedule_Edit(this, &form_.schedule);
}

void AccountsPage::editFilter(bool global) {
    if (!global && !current_) return;
    FilterEditor_Open(window(), global ? std::string() : current_->Name);
}

uint32_t AccountsPage::Apply(bool ok) {
    (void)ok;
    return leaveEditor() ? 0 : ERR_CANCELLED;
}

void AccountsPage::Select(int row) {
    list_->setCurrentRow(row);
}

int AccountsPage::CurrentRow() const {
    return list_->currentRow();
}
