// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/about_box.h"

#include "build_date.h"
#include "platform/user_message.h"
#include "ui/qtext.h"
#include "ui/windows.h"

#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include <cstdio>

namespace {

QPointer<QDialog> g_about;
AboutLicenceFn g_licence;

void showLicence(QWidget* owner) {
    if (g_licence && g_licence(owner)) return;
    UiBoxOwner boxes(owner);
    UserMsg_Show(IW_N_("Inboxwarden", "About Inboxwarden"),
                 IW_N_("Inboxwarden",
                       "This build of Inboxwarden does not have the licence text.\n\n"
                       "Inboxwarden is free software under the GNU General Public License, "
                       "version 3 or later (GPL-3.0-or-later)."),
                 UM_OK | UM_ICONINFO);
}

} // namespace

std::string AboutBox_VersionLine() {
    char date[16];
    std::snprintf(date, sizeof date, "%04d-%02d-%02d", IW_BUILD_YEAR, IW_BUILD_MONTH, IW_BUILD_DAY);
    return std::string("Inboxwarden ") + IW_VERSION + "\n(" + date + ")";
}

void AboutBox_SetLicenceViewer(AboutLicenceFn fn) {
    g_licence = std::move(fn);
}

void AboutBox_Run(QWidget* owner) {
    QDialog box(owner);
    box.setObjectName(QStringLiteral("aboutBox"));
    box.setWindowTitle(QCoreApplication::translate("AboutBox", "About Inboxwarden"));

    auto* icon = new QLabel(&box);
    icon->setPixmap(QIcon(QStringLiteral(":/icons/inboxwarden-64.png")).pixmap(64, 64));
    icon->setAccessibleName(QStringLiteral("Inboxwarden"));
    auto* version = new QLabel(QText_From(AboutBox_VersionLine()), &box);
    version->setObjectName(QStringLiteral("version"));
    version->setTextFormat(Qt::PlainText);
    version->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    QFont big = version->font();
    big.setPointSizeF(big.pointSizeF() * 1.2);
    big.setBold(true);
    version->setFont(big);
    auto* what = new QLabel(
        QCoreApplication::translate(
            "AboutBox", "A POP3 mail checker for the notification area.\n\n"
                        "Inboxwarden is free software: you can redistribute it and/or modify "
                        "it under the terms of the GNU General Public License, version 3 or "
                        "(at your option) any later version (GPL-3.0-or-later). It comes with "
                        "no warranty, to the extent permitted by law."),
        &box);
    what->setObjectName(QStringLiteral("licence"));
    what->setTextFormat(Qt::PlainText);
    what->setWordWrap(true);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &box);
    auto* licence = buttons->addButton(QCoreApplication::translate("AboutBox", "&License"),
                                       QDialogButtonBox::HelpRole);
    licence->setObjectName(QStringLiteral("licenceButton"));
    QObject::connect(buttons, &QDialogButtonBox::accepted, &box, &QDialog::accept);
    QObject::connect(licence, &QPushButton::clicked, &box, [&box] { showLicence(&box); });
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);

    auto* text = new QVBoxLayout;
    text->addWidget(version);
    text->addWidget(what);
    auto* top = new QHBoxLayout;
    top->addWidget(icon, 0, Qt::AlignTop);
    top->addLayout(text, 1);
    auto* layout = new QVBoxLayout(&box);
    layout->addLayout(top);
    layout->addWidget(buttons);
    box.setMinimumWidth(420);

    QPointer<QDialog> previous = g_about;
    g_about = &box;
    box.exec();
    g_about = previous;
}

QWidget* AboutBox_Window() {
    return g_about;
}
