// SPDX-License-Identifier: GPL-3.0-or-later
// The font of message texts and lists, kept in the RFont setting (its text
// form is the settings dialog's, Settings_ParseFont).
#pragma once

#include <QFont>

#include <optional>

// The setting's font; nullopt when it is unset or unreadable.
std::optional<QFont> SettingFont_Read();
