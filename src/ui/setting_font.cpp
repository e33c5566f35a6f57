// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/setting_font.h"

#include "settings/globaldata.h"
#include "ui/qtext.h"
#include "ui/settings/settings_model.h"

#include <algorithm>
#include <cstdlib>

std::optional<QFont> SettingFont_Read() {
    SETTINGS_FONT s;
    if (!Settings_ParseFont(GlobalData_GetText(GD_RFONT), &s)) return std::nullopt;
    QFont f(QText_From(s.face));
    // A profile from elsewhere may hold any number: the size stays readable.
    if (s.height != 0)
        f.setPixelSize(static_cast<int>(std::clamp<long long>(std::llabs(s.height), 4, 144)));
    if (s.weight > 0) f.setWeight(s.weight >= 600 ? QFont::Bold : QFont::Normal);
    f.setItalic(s.italic != 0);
    return f;
}
