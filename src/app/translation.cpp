// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/translation.h"

#include "common/translate.h"

#include <QCoreApplication>
#include <QLocale>
#include <QTranslator>

#include <mutex>
#include <unordered_map>

namespace {

// The printf conversions of a format in order ("%s", "%d", "%.*s"); "%%" is none.
std::string conversions(std::string_view f) {
    std::string out;
    for (size_t i = 0; i < f.size(); ++i) {
        if (f[i] != '%') continue;
        if (i + 1 < f.size() && f[i + 1] == '%') {
            ++i;
            continue;
        }
        size_t j = i + 1;
        while (j < f.size() &&
               std::string_view("-+ #0123456789.*hlLqjzt'").find(f[j]) != std::string_view::npos)
            ++j;
        out.append(f.substr(i, std::min(j + 1, f.size()) - i)).push_back('|');
        i = j;
    }
    return out;
}

} // namespace

const char* Translation_Lookup(const char* context, const char* text) {
    // The engine keeps the pointers it gets: each translation is made once and
    // stays put (the map's nodes do not move) for the life of the process.
    static std::mutex mu;
    static std::unordered_map<std::string, std::string> done;
    std::string key = std::string(context) + '\x04' + text;
    std::lock_guard lock(mu);
    auto it = done.find(key);
    if (it == done.end()) {
        std::string t = QCoreApplication::translate(context, text).toStdString();
        if (conversions(t) != conversions(text)) t = text;
        it = done.emplace(std::move(key), std::move(t)).first;
    }
    return it->second.c_str();
}

std::string Translation_Shown(std::string_view text) {
    const std::string source(text);
    return QCoreApplication::translate(IW_TR_CONTEXT, source.c_str()).toStdString();
}

void Translation_Install(QCoreApplication* app) {
    auto* catalogue = new QTranslator(app);
    const QString dir = QCoreApplication::applicationDirPath();
    for (const QString& d : {dir, dir + QStringLiteral("/../share/inboxwarden/translations")}) {
        if (catalogue->load(QLocale(), QStringLiteral("inboxwarden"), QStringLiteral("_"), d)) {
            QCoreApplication::installTranslator(catalogue);
            break;
        }
    }
    Iw_SetTranslator(&Translation_Lookup);
}
