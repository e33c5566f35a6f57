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

TEST(GrowBuffer, GrowsGeometricallyUpToTheLimitKeepingContents) {
    struct Step {
        size_t ask;
        bool ok;
        size_t capacity;
    };
    // Steps of at least 16384, doubling, capped by the limit of 300000.
    const Step steps[] = {
        {0, true, 0},           {1, true, 16384},        {16384, true, 16384},
        {16385, true, 32768},   {100000, true, 100000},  {100001, true, 200000},
        {200001, true, 300000}, {300001, false, 300000}, {300000, true, 300000},
    };
    GrowBuffer b(300000);
    EXPECT_EQ(b.Data(), nullptr);
    size_t written = 0;
    for (const auto& s : steps) {
        const char* before = b.Data();
        EXPECT_EQ(b.Reserve(s.ask), s.ok) << s.ask;
        EXPECT_EQ(b.Capacity(), s.capacity) << s.ask;
        EXPECT_TRUE(s.ok || b.Data() == before) << s.ask;
        EXPECT_TRUE(filled(b, written)) << s.ask;
        fill(b);
        written = b.Capacity();
    }

    GrowBuffer small(100); // a limit below one growth step
    EXPECT_TRUE(small.Reserve(10));
    EXPECT_EQ(small.Capacity(), 100u);

    GrowBuffer plain;
    EXPECT_EQ(plain.Limit(), GrowBuffer::kDefaultLimit);
    EXPECT_FALSE(plain.Reserve(GrowBuffer::kDefaultLimit + 1));
    ASSERT_TRUE(plain.Reserve(50000));
    fill(plain);
    plain.SetLimit(1000); // does not shrink, only refuses more
    EXPECT_TRUE(plain.Reserve(50000));
    EXPECT_FALSE(plain.Reserve(50001));
    EXPECT_TRUE(filled(plain, 50000));
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
