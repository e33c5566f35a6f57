// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/newmail_popup.h"

#include <QCoreApplication>
#include <QDialog>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

NEWMAIL_ACTIONS g_actions;

class NewMailDialog : public QDialog {
  public:
    NewMailDialog() {
        setWindowTitle(QCoreApplication::translate("NewMailPopup", "New mail notification"));
        setWindowIcon(QIcon(QStringLiteral(":/icons/tray-122-32.png")));
        // Top-most so that it is seen over whatever the user works in.
        setWindowFlag(Qt::WindowStaysOnTopHint, true);
        setAttribute(Qt::WA_DeleteOnClose);

        auto* icon = new QLabel(this);
        icon->setPixmap(QIcon(QStringLiteral(":/icons/inboxwarden-48.png")).pixmap(48, 48));
        text_ = new QLabel(this);
        text_->setObjectName(QStringLiteral("text1718"));
        QFont f = text_->font();
        f.setPointSizeF(f.pointSizeF() * 1.15);
        text_->setFont(f);

        auto* top = new QHBoxLayout;
        top->addWidget(icon);
        top->addSpacing(8);
        top->addWidget(text_, 1);

        auto* result =
            button(QCoreApplication::translate("NewMailPopup", "&Result Window"), "result");
        auto* client =
            button(QCoreApplication::translate("NewMailPopup", "&Mail Client"), "mailClient");
        auto* ignore = button(QCoreApplication::translate("NewMailPopup", "&Ignore"), "ignore");
        auto* later =
            button(QCoreApplication::translate("NewMailPopup", "Remind &Later"), "remindLater");
        later->setDefault(true);
        later->setFocus();
        connect(result, &QPushButton::clicked, this, [this] { act(g_actions.resultWindow); });
        connect(client, &QPushButton::clicked, this, [this] { act(g_actions.mailClient); });
        connect(ignore, &QPushButton::clicked, this, [this] { act(g_actions.ignore); });
        connect(later, &QPushButton::clicked, this, [this] { act(g_actions.remindLater); });

        auto* buttons = new QHBoxLayout;
        for (QPushButton* b : {result, client, ignore, later})
            buttons->addWidget(b);
        auto* layout = new QVBoxLayout(this);
        layout->addLayout(top);
        layout->addSpacing(10);
        layout->addLayout(buttons);
    }

    void SetCount(int count) {
        text_->setText(
            QCoreApplication::translate("NewMailPopup", "You have %1 new message(s).").arg(count));
    }

  private:
    QPushButton* button(const QString& text, const char* name) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        return b;
    }
    // The popup goes first, so that an action that opens another window or
    // announces again starts from a clean slate.
    void act(const std::function<void()>& fn) {
        const std::function<void()> copy = fn;
        accept();
        if (copy) copy();
    }

    QLabel* text_;
};

QPointer<NewMailDialog> g_popup;

} // namespace

void NewMail_SetActions(NEWMAIL_ACTIONS actions) {
    g_actions = std::move(actions);
}

void NewMail_Popup(int count) {
    if (count <= 0) {
        if (g_popup) g_popup->accept();
        return;
    }
    if (!g_popup) {
        g_popup = new NewMailDialog;
        g_popup->SetCount(count);
        g_popup->adjustSize();
        g_popup->show();
        g_popup->raise();
        g_popup->activateWindow();
        return;
    }
    g_popup->SetCount(count);
}

const NEWMAIL_ACTIONS& NewMail_Actions() {
    return g_actions;
}

QWidget* NewMail_Window() {
    return g_popup;
}
