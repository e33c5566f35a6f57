// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/find_box.h"

#include "ui/qtext.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

FindBox::FindBox(QWidget* owner, const std::string& text, bool matchCase,
                 std::function<void(bool forward)> find)
    : QDialog(owner) {
    setObjectName(QStringLiteral("findBox"));
    setWindowTitle(QCoreApplication::translate("FindBox", "Find"));
    auto* label = new QLabel(QCoreApplication::translate("FindBox", "Find &what:"), this);
    text_ = new QLineEdit(this);
    text_->setObjectName(QStringLiteral("findText"));
    label->setBuddy(text_);
    matchCase_ = new QCheckBox(QCoreApplication::translate("FindBox", "Match &case"), this);
    matchCase_->setObjectName(QStringLiteral("matchCase"));
    auto* next = new QPushButton(QCoreApplication::translate("FindBox", "Find &Next"), this);
    next->setObjectName(QStringLiteral("findNext"));
    next->setDefault(true);
    auto* prev = new QPushButton(QCoreApplication::translate("FindBox", "Find &Previous"), this);
    prev->setObjectName(QStringLiteral("findPrev"));
    auto* done = new QPushButton(QCoreApplication::translate("FindBox", "Close"), this);
    auto* grid = new QGridLayout(this);
    grid->addWidget(label, 0, 0);
    grid->addWidget(text_, 0, 1);
    grid->addWidget(matchCase_, 1, 1);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(next);
    buttons->addWidget(prev);
    buttons->addWidget(done);
    buttons->addStretch();
    grid->addLayout(buttons, 0, 2, 3, 1);
    grid->setColumnMinimumWidth(1, 220);
    connect(next, &QPushButton::clicked, this, [find] { find(true); });
    connect(prev, &QPushButton::clicked, this, [find] { find(false); });
    connect(done, &QPushButton::clicked, this, &QDialog::close);
    const auto grey = [next, prev](const QString& t) {
        next->setEnabled(!t.isEmpty());
        prev->setEnabled(!t.isEmpty());
    };
    connect(text_, &QLineEdit::textChanged, this, grey);
    text_->setText(QText_From(text));
    matchCase_->setChecked(matchCase);
    grey(text_->text());
}

std::string FindBox::Text() const {
    return text_->text().toStdString();
}

bool FindBox::MatchCase() const {
    return matchCase_->isChecked();
}

void FindBox::Present() {
    show();
    raise();
    activateWindow();
    text_->setFocus();
    text_->selectAll();
}
