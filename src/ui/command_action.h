// SPDX-License-Identifier: GPL-3.0-or-later
// A window's command as an action: its number is the action's data and
// object name, its tooltip is its menu text without mnemonic and key, and it
// is added to the window, so its shortcut works with the menus hidden too.
#pragma once

#include <QKeySequence>
#include <QString>

#include <functional>

class QAction;
class QWidget;

QAction* UiCommand_Add(QWidget* window, int command, const QString& text, const QKeySequence& key,
                       std::function<void(int command)> run);

// The window's action of `command`, or null.
QAction* UiCommand_Find(const QWidget* window, int command);
