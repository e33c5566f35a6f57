// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/images.h"

#include <QImage>
#include <QPixmap>

#include <gtest/gtest.h>
#include <span>
#include <vector>

namespace {

// Every image of a set loads at 1x and 2x with something drawn, and no two
// of the set look alike at either scale.
void checkSet(const char* set, QIcon (*get)(int), std::span<const int> ids, int size) {
    for (double dpr : {1.0, 2.0}) {
        const int px = int(size * dpr);
        std::vector<QImage> seen;
        for (int id : ids) {
            SCOPED_TRACE(testing::Message() << set << " " << id << " at " << dpr << "x");
            const QIcon icon = get(id);
            ASSERT_EQ(icon.availableSizes(), (QList<QSize>{{size, size}, {2 * size, 2 * size}}));
            const QImage img = icon.pixmap(QSize(size, size), dpr)
                                   .toImage()
                                   .convertToFormat(QImage::Format_ARGB32);
            ASSERT_EQ(img.size(), QSize(px, px));
            int opaque = 0;
            for (int y = 0; y < px; ++y)
                for (int x = 0; x < px; ++x)
                    opaque += qAlpha(img.pixel(x, y)) == 255;
            EXPECT_GT(opaque, px * px / 10);
            for (size_t i = 0; i < seen.size(); ++i)
                EXPECT_NE(img, seen[i]) << "looks like " << ids[i];
            seen.push_back(img);
        }
    }
}

TEST(Images, EverySetLoadsAtBothScalesAndNoTwoImagesLookAlike) {
    checkSet("list", Images_Status, IMAGES_STATUS, IMAGES_LIST_SIZE);
    checkSet("tree", Images_Tree, IMAGES_TREE, IMAGES_LIST_SIZE);
    checkSet("toolbar", Images_Tool, IMAGES_TOOLBAR, IMAGES_TOOL_SIZE);
    // Numbers without an image: the strip's gap, the tree-only root, a menu-only command.
    EXPECT_TRUE(Images_Status(3).isNull());
    EXPECT_TRUE(Images_Status(TREE_ROOT).isNull());
    EXPECT_TRUE(Images_Tool(40018).isNull());
}

} // namespace
