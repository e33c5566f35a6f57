// SPDX-License-Identifier: GPL-3.0-or-later
// Text from the engine's side (UTF-8 in std::string) for the windows.
#pragma once

#include "common/translate.h"

#include <QCoreApplication>
#include <QString>

#include <string>
#include <string_view>

inline QString QText_From(std::string_view s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

// The tooltip of a command: its menu text without mnemonic, shortcut and
// trailing dots.
inline QString QText_Tip(QString menuText) {
    menuText = menuText.section(QLatin1Char('\t'), 0, 0);
    menuText.remove(QLatin1Char('&'));
    if (menuText.endsWith(QStringLiteral("..."))) menuText.chop(3);
    return menuText.trimmed();
}

// A whole text of a layer below the windows (marked there with IW_N_, see
// common/translate.h) as it is shown: its translation, or the text.
inline QString QText_Shown(std::string_view s) {
    const std::string source(s);
    return QCoreApplication::translate(IW_TR_CONTEXT, source.c_str());
}
