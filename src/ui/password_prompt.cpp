// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/password_prompt.h"

#include "common/status.h"
#include "ui/qtext.h"

#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QTimer>
#include <QVBoxLayout>

namespace {

QPointer<QDialog> g_prompt;

QLabel* value(const std::string& text, const char* name, QWidget* parent) {
    auto* l = new QLabel(QText_From(text), parent);
    l->setObjectName(QLatin1String(name));
    l->setTextFormat(Qt::PlainText); // names from the store are not markup
    l->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    return l;
}

} // namespace

uint32_t PasswordPrompt_Ask(QWidget* owner, const std::string& accountName,
                            const std::string& login, std::string* password) {
    if (!password) return ERR_NOT_READY;
    QDialog box(owner);
    box.setObjectName(QStringLiteral("passwordPrompt"));
    box.setWindowTitle(
        QCoreApplication::translate("PasswordPrompt", "Inboxwarden Password Prompt"));
    auto* form = new QFormLayout;
    auto* account = value(accountName, "account", &box);
    auto* loginName = value(login, "login", &box);
    auto* accountLabel =
        new QLabel(QCoreApplication::translate("PasswordPrompt", "Account:"), &box);
    auto* loginLabel = new QLabel(QCoreApplication::translate("PasswordPrompt", "Login:"), &box);
    accountLabel->setBuddy(account);
    loginLabel->setBuddy(loginName);
    account->setAccessibleName(QCoreApplication::translate("PasswordPrompt", "Account"));
    loginName->setAccessibleName(QCoreApplication::translate("PasswordPrompt", "Login"));
    form->addRow(accountLabel, account);
    form->addRow(loginLabel, loginName);
    auto* field = new QLineEdit(&box);
    field->setObjectName(QStringLiteral("password"));
    field->setEchoMode(QLineEdit::Password);
    field->setInputMethodHints(Qt::ImhHiddenText | Qt::ImhSensitiveData | Qt::ImhNoPredictiveText |
                               Qt::ImhNoAutoUppercase);
    field->setAccessibleName(QCoreApplication::translate("PasswordPrompt", "Password"));
    auto* fieldLabel =
        new QLabel(QCoreApplication::translate("PasswordPrompt", "&Enter Your Password:"), &box);
    fieldLabel->setBuddy(field);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &box);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &box, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &box, &QDialog::reject);
    auto* layout = new QVBoxLayout(&box);
    layout->addLayout(form);
    layout->addWidget(fieldLabel);
    layout->addWidget(field);
    layout->addWidget(buttons);
    box.setMinimumWidth(340);
    field->setFocus();

    // The check that asks may have been started by a timer while the user
    // works in another program: the prompt must not hide behind it. Once
    // exec has shown it: a box shown before exec is not modal.
    QTimer::singleShot(0, &box, [&box] {
        box.raise();
        box.activateWindow();
    });
    QPointer<QDialog> previous = g_prompt;
    g_prompt = &box;
    const int answer = box.exec();
    g_prompt = previous;
    if (answer != QDialog::Accepted) return ERR_CANCELLED;
    const QString typed = field->text();
    field->clear();
    if (typed.isEmpty()) return ERR_NOT_READY;
    *password = typed.toStdString();
    return 0;
}

QWidget* PasswordPrompt_Window() {
    return g_prompt;
}
