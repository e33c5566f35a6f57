// SPDX-License-Identifier: GPL-3.0-or-later
// The incoming and outgoing "Advanced" dialogs and the time-table editor.
#include "net/socket.h"
#include "platform/user_message.h"
#include "ui/qtext.h"
#include "ui/settings/settings_pages.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

QComboBox* combo(QWidget* parent, const char* name, const QStringList& items, int current) {
    auto* c = new QComboBox(parent);
    c->setObjectName(QString::fromLatin1(name));
    c->addItems(items);
    c->setCurrentIndex(std::clamp(current, 0, int(items.size()) - 1));
    return c;
}

QLineEdit* number(QWidget* parent, const char* name, int32_t value) {
    auto* e = new QLineEdit(QString::number(value), parent);
    e->setObjectName(QString::fromLatin1(name));
    e->setMaxLength(10);
    e->setMaximumWidth(90);
    return e;
}

// The security part both servers share: the TLS choice, how the
// certificate is accepted, the pin, and the certificate the last attempt
// refused, which the user can take as the pin.
struct SecurityBox {
    QComboBox* security;
    QComboBox* policy;
    QLineEdit* pin;

    SecurityBox(QWidget* parent, QGridLayout* grid, int row, const char* prefix,
                const QString& startTls, int32_t sec, int32_t pol, const std::string& pinText,
                const std::string& refused) {
        const auto name = [prefix](const char* n) { return QByteArray(prefix) + n; };
        security = combo(
            parent, name("Security"),
            {QCoreApplication::translate("Settings", "None"), startTls, QStringLiteral("TLS")},
            sec);
        policy =
            combo(parent, name("CertPolicy"),
                  {QCoreApplication::translate("Settings", "Verify with the system's authorities"),
                   QCoreApplication::translate("Settings", "Accept only the pinned certificate")},
                  pol);
        pin = new QLineEdit(QText_From(pinText), parent);
        pin->setObjectName(QString::fromLatin1(name("CertPin")));
        pin->setMaxLength(64);
        pin->setPlaceholderText(
            QCoreApplication::translate("Settings", "SHA-256 fingerprint, 64 hex digits"));
        grid->addWidget(
            SettingsLabel(QCoreApplication::translate("Settings", "Connection &security:"),
                          security, parent),
            row, 0);
        grid->addWidget(security, row, 1);
        grid->addWidget(
            SettingsLabel(QCoreApplication::translate("Settings", "Certi&ficate:"), policy, parent),
            row + 1, 0);
        grid->addWidget(policy, row + 1, 1);
        grid->addWidget(
            SettingsLabel(QCoreApplication::translate("Settings", "Pi&nned fingerprint:"), pin,
                          parent),
            row + 2, 0);
        grid->addWidget(pin, row + 2, 1);
        auto* refusedLabel = new QLabel(parent);
        refusedLabel->setObjectName(QString::fromLatin1(name("Refused")));
        refusedLabel->setWordWrap(true);
        refusedLabel->setTextInteractionFlags(Qt::TextSelectableByMouse |
                                              Qt::TextSelectableByKeyboard);
        auto* take = new QPushButton(
            QCoreApplication::translate("Settings", "Pin t&his certificate"), parent);
        take->setObjectName(QString::fromLatin1(name("TakePin")));
        if (refused.empty()) {
            refusedLabel->setText(
                QCoreApplication::translate("Settings", "No certificate was refused."));
            take->setEnabled(false);
        } else {
            refusedLabel->setText(
                QCoreApplication::translate("Settings", "Last refused certificate: SHA-256 ") +
                QText_From(refused));
        }
        grid->addWidget(refusedLabel, row + 3, 0, 1, 2);
        grid->addWidget(take, row + 4, 1, Qt::AlignLeft);
        QObject::connect(take, &QPushButton::clicked, parent,
                         [this, refusedText = QText_From(refused)] {
                             pin->setText(refusedText);
                             policy->setCurrentIndex(ACCOUNT_CERT_PINNED);
                         });
        const auto enable = [this] {
            const bool tls = security->currentIndex() != ACCOUNT_SECURITY_NONE;
            policy->setEnabled(tls);
            pin->setEnabled(tls && policy->currentIndex() == ACCOUNT_CERT_PINNED);
        };
        QObject::connect(security, &QComboBox::currentIndexChanged, parent, enable);
        QObject::connect(policy, &QComboBox::currentIndexChanged, parent, enable);
        enable();
    }

    // A pinned policy needs a fingerprint as stored.
    bool valid(QWidget* owner) const {
        if (security->currentIndex() == ACCOUNT_SECURITY_NONE ||
            policy->currentIndex() != ACCOUNT_CERT_PINNED ||
            Sock_IsValidPin(pin->text().trimmed().toStdString()))
            return true;
        (void)owner;
        SettingsBox({"Inboxwarden", "The pinned fingerprint must be 64 hexadecimal digits."},
                    UM_OK | UM_ICONWARNING);
        return false;
    }
    std::string pinText() const { return pin->text().trimmed().toLower().toStdString(); }
};

// Reads a number field, or says it is not one.
bool readNumber(const QLineEdit* e, int32_t* value) {
    if (Settings_ParseUnsigned(e->text().toStdString(), value)) return true;
    SettingsBox(kSettingsBadNumber, UM_OK | UM_ICONERROR);
    return false;
}

// A port left at one of its security's defaults follows the security choice.
void portFollowsSecurity(QComboBox* security, QLineEdit* port, int32_t (*defaultPort)(int32_t)) {
    QObject::connect(security, &QComboBox::currentIndexChanged, port, [port, defaultPort](int s) {
        int32_t p = 0;
        if (!Settings_ParseUnsigned(port->text().toStdString(), &p)) return;
        for (int32_t k : {ACCOUNT_SECURITY_NONE, ACCOUNT_SECURITY_STARTTLS, ACCOUNT_SECURITY_TLS})
            if (p == defaultPort(k)) {
                port->setText(QString::number(defaultPort(s)));
                return;
            }
    });
}

QDialogButtonBox* okCancel(QDialog* d) {
    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, d);
    QObject::connect(box, &QDialogButtonBox::rejected, d, &QDialog::reject);
    return box;
}

class EntryList final : public QListWidget {
  public:
    using QListWidget::QListWidget;

  protected:
    // Delete removes the entry; the one that took its place is selected.
    void keyPressEvent(QKeyEvent* e) override {
        if (e->key() == Qt::Key_Delete && currentRow() >= 0) {
            const int row = currentRow();
            delete takeItem(row);
            if (count() > 0) setCurrentRow(std::min(row, count() - 1));
            return;
        }
        QListWidget::keyPressEvent(e);
    }
};

} // namespace

bool AdvancedIncoming_Edit(QWidget* owner, ACCOUNT_FORM* form, const std::string& refusedPin) {
    QDialog d(owner);
    d.setObjectName(QStringLiteral("incomingAdvanced"));
    d.setWindowTitle(QCoreApplication::translate("Settings", "Incoming mail server"));
    auto* grid = new QGridLayout;
    QLineEdit* port = number(&d, "chkPort", form->chkPort);
    QLineEdit* timeout = number(&d, "chkTmout", form->chkTmout);
    QComboBox* auth =
        combo(&d, "chkAuthType",
              {QCoreApplication::translate("Settings", "Clear text"), QStringLiteral("APOP")},
              form->chkAuthType);
    grid->addWidget(
        SettingsLabel(QCoreApplication::translate("Settings", "Server &port number:"), port, &d), 0,
        0);
    grid->addWidget(port, 0, 1);
    grid->addWidget(
        SettingsLabel(QCoreApplication::translate("Settings", "Server &timeouts (seconds):"),
                      timeout, &d),
        1, 0);
    grid->addWidget(timeout, 1, 1);
    grid->addWidget(
        SettingsLabel(QCoreApplication::translate("Settings", "&Authorization method"), auth, &d),
        2, 0);
    grid->addWidget(auth, 2, 1);
    SecurityBox sec(&d, grid, 3, "chk", QCoreApplication::translate("Settings", "STARTTLS (STLS)"),
                    form->chkSecurity, form->chkCertPolicy, form->chkCertPin, refusedPin);
    portFollowsSecurity(sec.security, port, Account_DefaultChkPort);
    QDialogButtonBox* box = okCancel(&d);
    QObject::connect(box, &QDialogButtonBox::accepted, &d, [&] {
        int32_t p = 0, t = 0;
        if (!readNumber(port, &p) || !readNumber(timeout, &t) || !sec.valid(&d)) return;
        d.accept();
    });
    auto* layout = new QVBoxLayout(&d);
    layout->addLayout(grid);
    layout->addWidget(box);
    if (d.exec() != QDialog::Accepted) return false;
    Settings_ParseUnsigned(port->text().toStdString(), &form->chkPort);
    Settings_ParseUnsigned(timeout->text().toStdString(), &form->chkTmout);
    form->chkAuthType = auth->currentIndex();
    form->chkSecurity = sec.security->currentIndex();
    form->chkCertPolicy = sec.policy->currentIndex();
    form->chkCertPin = sec.pinText();
    return true;
}

bool AdvancedOutgoing_Edit(QWidget* owner, ACCOUNT_FORM* form, const std::string& refusedPin) {
    QDialog d(owner);
    d.setObjectName(QStringLiteral("outgoingAdvanced"));
    d.setWindowTitle(QCoreApplication::translate("Settings", "Outgoing mail server"));
    auto* grid = new QGridLayout;
    QLineEdit* port = number(&d, "sendPort", form->sendPort);
    QLineEdit* timeout = number(&d, "sendTmout", form->sendTmout);
    grid->addWidget(
        SettingsLabel(QCoreApplication::translate("Settings", "Server &port number:"), port, &d), 0,
        0);
    grid->addWidget(port, 0, 1);
    grid->addWidget(
        SettingsLabel(QCoreApplication::translate("Settings", "Server &timeouts (seconds):"),
                      timeout, &d),
        1, 0);
    grid->addWidget(timeout, 1, 1);

    auto* authBox = new QGroupBox(
        QCoreApplication::translate("Settings", "Server &requires authorization"), &d);
    authBox->setObjectName(QStringLiteral("sendSecured"));
    authBox->setCheckable(true);
    authBox->setChecked(form->sendSecured != 0);
    auto* same =
        new QRadioButton(QCoreApplication::translate(
                             "Settings", "&Use the same user/password as incomming mail server"),
                         authBox);
    same->setObjectName(QStringLiteral("sendSame"));
    auto* own =
        new QRadioButton(QCoreApplication::translate("Settings", "&Log on using:"), authBox);
    own->setObjectName(QStringLiteral("sendOwn"));
    (form->sendSecured == 1 ? own : same)->setChecked(true);
    auto* login = new QLineEdit(QText_From(form->sendLogin), authBox);
    login->setObjectName(QStringLiteral("sendLogin"));
    auto* password = new QLineEdit(authBox);
    password->setObjectName(QStringLiteral("sendPswd"));
    password->setEchoMode(QLineEdit::Password);
    password->setPlaceholderText(QString::fromLatin1(SETTINGS_PASSWORD_HIDDEN));
    PASSWORD_FIELD typed = form->sendPswd;
    QObject::connect(password, &QLineEdit::textEdited, &d, [&typed](const QString& t) {
        typed = {true, t.toStdString()};
    });
    QComboBox* kind = combo(authBox, "sendPswdType",
                            {QCoreApplication::translate("Settings", "Save"),
                             QCoreApplication::translate("Settings", "Ask Once"),
                             QCoreApplication::translate("Settings", "Ask Each Time")},
                            form->sendPswdType);
    kind->setAccessibleName(QCoreApplication::translate("Settings", "Password kind"));
    auto* keyring = new QCheckBox(
        QCoreApplication::translate("Settings", "Keep the password in the desktop &keyring"),
        authBox);
    keyring->setObjectName(QStringLiteral("sendPswdStore"));
    keyring->setAccessibleName(QCoreApplication::translate(
        "Settings", "Keep the outgoing password in the desktop keyring"));
    keyring->setChecked(form->sendPswdInKeyring);
    QComboBox* method =
        combo(authBox, "sendAuthType",
              {QStringLiteral("PLAIN"), QStringLiteral("LOGIN"), QStringLiteral("CRAM-MD5")},
              form->sendAuthType);
    auto* authGrid = new QGridLayout(authBox);
    authGrid->addWidget(same, 0, 0, 1, 3);
    authGrid->addWidget(own, 1, 0, 1, 3);
    authGrid->addWidget(
        SettingsLabel(QCoreApplication::translate("Settings", "Lo&gin name:"), login, authBox), 2,
        0);
    authGrid->addWidget(login, 2, 1, 1, 2);
    authGrid->addWidget(
        SettingsLabel(QCoreApplication::translate("Settings", "Pass&word:"), password, authBox), 3,
        0);
    authGrid->addWidget(password, 3, 1);
    authGrid->addWidget(kind, 3, 2);
    authGrid->addWidget(keyring, 4, 1, 1, 2);
    authGrid->addWidget(
        SettingsLabel(QCoreApplication::translate("Settings", "Authorization &method"), method,
                      authBox),
        5, 0);
    authGrid->addWidget(method, 5, 1, 1, 2);
    const auto enable = [own, login, password, kind, keyring, authBox] {
        const bool mine = authBox->isChecked() && own->isChecked();
        login->setEnabled(mine);
        kind->setEnabled(mine);
        password->setEnabled(mine && kind->currentIndex() == 0);
        keyring->setEnabled(mine && kind->currentIndex() == 0);
    };
    QObject::connect(own, &QRadioButton::toggled, &d, enable);
    QObject::connect(authBox, &QGroupBox::toggled, &d, enable);
    QObject::connect(kind, &QComboBox::currentIndexChanged, &d, enable);
    enable();

    auto* secGrid = new QGridLayout;
    SecurityBox sec(&d, secGrid, 0, "send", QStringLiteral("STARTTLS"), form->sendSecurity,
                    form->sendCertPolicy, form->sendCertPin, refusedPin);
    portFollowsSecurity(sec.security, port, Account_DefaultSendPort);
    QDialogButtonBox* box = okCancel(&d);
    QObject::connect(box, &QDialogButtonBox::accepted, &d, [&] {
        int32_t p = 0, t = 0;
        if (!readNumber(port, &p) || !readNumber(timeout, &t) || !sec.valid(&d)) return;
        d.accept();
    });
    auto* layout = new QVBoxLayout(&d);
    layout->addLayout(grid);
    layout->addWidget(authBox);
    layout->addLayout(secGrid);
    layout->addWidget(box);
    if (d.exec() != QDialog::Accepted) return false;
    Settings_ParseUnsigned(port->text().toStdString(), &form->sendPort);
    Settings_ParseUnsigned(timeout->text().toStdString(), &form->sendTmout);
    form->sendSecured = !authBox->isChecked() ? 0 : own->isChecked() ? 1 : 2;
    form->sendLogin = login->text().toStdString();
    form->sendPswd = typed;
    form->sendPswdType = kind->currentIndex();
    form->sendPswdInKeyring = keyring->isChecked();
    form->sendAuthType = method->currentIndex();
    form->sendSecurity = sec.security->currentIndex();
    form->sendCertPolicy = sec.policy->currentIndex();
    form->sendCertPin = sec.pinText();
    return true;
}

bool Schedule_Edit(QWidget* owner, std::array<uint16_t, 25>* schedule) {
    QDialog d(owner);
    d.setObjectName(QStringLiteral("scheduleDialog"));
    d.setWindowTitle(QCoreApplication::translate("Settings", "Schedule"));
    auto* hourBox = new QGroupBox(QCoreApplication::translate("Settings", "Hour Schedule"), &d);
    auto* hourGrid = new QGridLayout(hourBox);
    QCheckBox* minutes[12];
    const auto showMask = [&minutes, schedule] {
        for (int i = 0; i < 12; ++i)
            minutes[i]->setChecked(((*schedule)[0] >> i) & 1);
    };
    for (int i = 0; i < 12; ++i) {
        minutes[i] = new QCheckBox(QCoreApplication::translate("Settings", "%1 minutes").arg(i * 5),
                                   hourBox);
        minutes[i]->setObjectName(QStringLiteral("minute%1").arg(i * 5));
        hourGrid->addWidget(minutes[i], i / 4, i % 4);
    }
    showMask();
    auto* all = new QPushButton(QCoreApplication::translate("Settings", "&Select All"), hourBox);
    auto* none = new QPushButton(QCoreApplication::translate("Settings", "C&lear All"), hourBox);
    hourGrid->addWidget(all, 3, 0);
    hourGrid->addWidget(none, 3, 1);
    // As the buttons say, at once: Cancel does not bring the mask back.
    QObject::connect(all, &QPushButton::clicked, &d, [schedule, showMask] {
        (*schedule)[0] = 4095;
        showMask();
    });
    QObject::connect(none, &QPushButton::clicked, &d, [schedule, showMask] {
        (*schedule)[0] = 0;
        showMask();
    });

    auto* dayBox = new QGroupBox(QCoreApplication::translate("Settings", "Day Schedule"), &d);
    auto* hour = new QComboBox(dayBox);
    hour->setObjectName(QStringLiteral("hour"));
    for (int h = 0; h < 24; ++h)
        hour->addItem(QStringLiteral("%1").arg(h, 2, 10, QLatin1Char('0')));
    auto* minute = new QComboBox(dayBox);
    minute->setObjectName(QStringLiteral("minute"));
    for (int m = 0; m < 60; m += 5)
        minute->addItem(QStringLiteral("%1").arg(m, 2, 10, QLatin1Char('0')));
    auto* add = new QPushButton(QCoreApplication::translate("Settings", "&Add"), dayBox);
    auto* entries = new EntryList(dayBox);
    entries->setObjectName(QStringLiteral("entries"));
    for (const std::string& e : Schedule_Entries(*schedule))
        entries->addItem(QText_From(e));
    QObject::connect(add, &QPushButton::clicked, &d, [hour, minute, entries] {
        const QString text = hour->currentText() + QLatin1Char(':') + minute->currentText();
        if (entries->findItems(text, Qt::MatchExactly).isEmpty()) entries->addItem(text);
    });
    auto* dayGrid = new QGridLayout(dayBox);
    dayGrid->addWidget(
        SettingsLabel(QCoreApplication::translate("Settings", "H&our:"), hour, dayBox), 0, 0);
    dayGrid->addWidget(hour, 0, 1);
    dayGrid->addWidget(
        SettingsLabel(QCoreApplication::translate("Settings", "&Minute:"), minute, dayBox), 0, 2);
    dayGrid->addWidget(minute, 0, 3);
    dayGrid->addWidget(add, 0, 4);
    dayGrid->addWidget(
        SettingsLabel(QCoreApplication::translate("Settings", "&Entries (Delete removes one):"),
                      entries, dayBox),
        1, 0, 1, 5);
    dayGrid->addWidget(entries, 2, 0, 1, 5);

    QDialogButtonBox* box = okCancel(&d);
    QObject::connect(box, &QDialogButtonBox::accepted, &d, &QDialog::accept);
    auto* layout = new QVBoxLayout(&d);
    layout->addWidget(hourBox);
    layout->addWidget(dayBox);
    layout->addWidget(box);
    if (d.exec() != QDialog::Accepted) return false;
    uint16_t mask = 0;
    for (int i = 0; i < 12; ++i)
        if (minutes[i]->isChecked()) mask |= uint16_t(1u << i);
    (*schedule)[0] = mask;
    std::vector<std::string> list;
    for (int i = 0; i < entries->count(); ++i)
        list.push_back(entries->item(i)->text().toStdString());
    Schedule_SetEntries(schedule, list);
    return true;
}
