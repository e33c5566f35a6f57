// The font of message texts and lists, kept in the RFont setting as
// "%d %d %d %d >%s": height in pixels (negative: the character height),
// weight, italic flag, character set and face name.
#pragma once

#include <QFont>

#include <optional>
#include <string>

// The setting's font; nullopt when it is unset or unreadable.
std::optional<QFont> SettingFont_Read();

// The setting's text for `font`.
std::string SettingFont_Text(const QFont& font);
