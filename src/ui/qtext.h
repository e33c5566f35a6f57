// Text from the engine's side (UTF-8 in std::string) for the windows.
#pragma once

#include <QString>

#include <string_view>

inline QString QText_From(std::string_view s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}
