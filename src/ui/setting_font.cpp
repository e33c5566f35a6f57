#include "ui/setting_font.h"

#include "settings/globaldata.h"
#include "ui/qtext.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

std::optional<QFont> SettingFont_Read() {
    const std::string text = GlobalData_GetText(GD_RFONT);
    int height = 0, weight = 0, italic = 0, charset = 0, used = 0;
    if (text.empty() ||
        std::sscanf(text.c_str(), "%d %d %d %d >%n", &height, &weight, &italic, &charset, &used) <
            4 ||
        used <= 0)
        return std::nullopt;
    const std::string face = text.substr(static_cast<size_t>(used));
    if (face.empty()) return std::nullopt;
    QFont f(QText_From(face));
    // A profile from elsewhere may hold any number: the size stays readable.
    if (height != 0)
        f.setPixelSize(static_cast<int>(std::clamp<long long>(std::llabs(height), 4, 144)));
    if (weight > 0) f.setWeight(weight >= 600 ? QFont::Bold : QFont::Normal);
    f.setItalic(italic != 0);
    return f;
}

std::string SettingFont_Text(const QFont& font) {
    const int pixels = font.pixelSize() > 0
                           ? font.pixelSize()
                           : static_cast<int>(font.pointSizeF() * 96.0 / 72.0 + 0.5);
    const int weight = font.weight() >= QFont::Bold ? 700 : 400;
    return std::to_string(-pixels) + " " + std::to_string(weight) + " " +
           (font.italic() ? "1" : "0") + " 0 >" + font.family().toStdString();
}
