// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/command_action.h"

#include "ui/qtext.h"

#include <QAction>
#include <QWidget>

QAction* UiCommand_Add(QWidget* window, int command, const QString& text, const QKeySequence& key,
                       std::function<void(int command)> run) {
    auto* a = new QAction(text, window);
    a->setObjectName(QStringLiteral("cmd%1").arg(command));
    a->setData(command);
    a->setToolTip(QText_Tip(text));
    if (!key.isEmpty()) {
        a->setShortcut(key);
        a->setShortcutContext(Qt::WindowShortcut);
    }
    QObject::connect(a, &QAction::triggered, window,
                     [run = std::move(run), command] { run(command); });
    window->addAction(a);
    return a;
}

QAction* UiCommand_Find(const QWidget* window, int command) {
    return window->findChild<QAction*>(QStringLiteral("cmd%1").arg(command),
                                       Qt::FindDirectChildrenOnly);
}
