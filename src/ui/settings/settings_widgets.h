// SPDX-License-Identifier: GPL-3.0-or-later
// Small pieces the settings pages build their forms from.
#pragma once

#include <QLineEdit>

#include <string>

inline std::string SettingsText(const QLineEdit* e) {
    return e->text().toStdString();
}

// A one-line field with an object name (tests find it by that name).
inline QLineEdit* SettingsLine(QWidget* parent, const char* name, int maxLength = 260) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(QString::fromLatin1(name));
    e->setMaxLength(maxLength);
    return e;
}
