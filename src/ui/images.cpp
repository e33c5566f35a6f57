// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/images.h"

#include <QHash>
#include <QString>

#include <algorithm>
#include <span>

namespace {

// A list of 50,000 rows asks for an icon on every paint; building a QIcon
// from its files each time would decode the PNGs again, so each is built once
// while windows show them. Never destroyed: pixmaps must not outlive the
// application object.
QHash<QString, QIcon>* g_cache = nullptr;

QIcon _icon(const char* kind, int id, int size, std::span<const int> known) {
    if (std::find(known.begin(), known.end(), id) == known.end()) return {};
    if (!g_cache) g_cache = new QHash<QString, QIcon>;
    const QString key = QStringLiteral("%1-%2").arg(QLatin1String(kind)).arg(id);
    auto it = g_cache->find(key);
    if (it != g_cache->end()) return *it;
    QIcon icon;
    for (int s : {size, 2 * size})
        icon.addFile(QStringLiteral(":/icons/mailbox/%1-%2.png").arg(key).arg(s), QSize(s, s));
    return *g_cache->insert(key, icon);
}

} // namespace

QIcon Images_Status(int image) {
    return _icon("status", image, IMAGES_LIST_SIZE, IMAGES_STATUS);
}

QIcon Images_Tree(int image) {
    return _icon("tree", image, IMAGES_LIST_SIZE, IMAGES_TREE);
}

QIcon Images_Tool(int command) {
    return _icon("tool", command, IMAGES_TOOL_SIZE, IMAGES_TOOLBAR);
}

void Images_ReleaseCache() {
    if (g_cache) g_cache->clear();
}
