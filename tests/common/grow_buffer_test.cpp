#include "common/grow_buffer.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

void fill(GrowBuffer& b) {
    for (size_t i = 0; i < b.Capacity(); ++i)
        b.Data()[i] = static_cast<char>(i * 7 + 3);
}

bool filled(const GrowBuffer& b, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (b.Data()[i] != static_cast<char>(i * 7 + 3)) return false;
    return true;
}

TEST(GrowBuffer, ReleaseAndMoveLeaveAnEmptyUsableBuffer) {
    GrowBuffer a(40000);
    ASSERT_TRUE(a.Reserve(20000));
    fill(a);
    GrowBuffer b(std::move(a));
    EXPECT_EQ(a.Data(), nullptr);
    EXPECT_EQ(a.Capacity(), 0u);
    EXPECT_TRUE(a.Reserve(10));
    GrowBuffer c;
    c = std::move(b);
    EXPECT_EQ(c.Limit(), 40000u);
    EXPECT_TRUE(filled(c, 20000));
    c.Release();
    EXPECT_EQ(c.Data(), nullptr);
    EXPECT_EQ(c.Capacity(), 0u);
    EXPECT_TRUE(c.Reserve(1));
}

} // namespace
