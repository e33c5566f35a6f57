// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/keyed_array.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <random>
#include <string>
#include <vector>

namespace {

struct Obj {
    explicit Obj(int v) : value(v) { ++live; }
    ~Obj() { --live; }
    int value;
    static inline int live = 0;
};

std::unique_ptr<Obj> obj(int v) {
    return std::make_unique<Obj>(v);
}

std::vector<int> valuesOf(const KeyedArray<Obj>& a) {
    std::vector<int> out;
    for (int i = 0; i < a.Count(); ++i)
        out.push_back(a.At(i)->value);
    return out;
}

// Sets a locale for one test and puts the previous one back.
class LocaleGuard {
  public:
    explicit LocaleGuard(const char* name) : m_old(std::setlocale(LC_ALL, nullptr)) {
        m_ok = std::setlocale(LC_ALL, name) != nullptr;
    }
    ~LocaleGuard() { std::setlocale(LC_ALL, m_old.c_str()); }
    bool ok() const { return m_ok; }

  private:
    std::string m_old;
    bool m_ok;
};

TEST(KeyedArray, UniqueKeysOnAddAndRename) {
    struct Case {
        std::optional<std::string_view> key;
        uint32_t status;
    };
    const Case adds[] = {
        {"Work", 0},          {"WORK", ERR_EXISTS},
        {"", ERR_EMPTY_NAME}, {std::nullopt, ERR_EMPTY_NAME},
        {"Wörk", 0},          {"WÖrk", 0}, // only ASCII letters fold
        {"wöRK", ERR_EXISTS},
    };
    KeyedArray<Obj> a(true, 10);
    for (const auto& c : adds) {
        SCOPED_TRACE(std::string(c.key.value_or("(none)")));
        auto o = obj(a.Count());
        int index = -7;
        EXPECT_EQ(a.Add(c.key, std::move(o), &index), c.status);
        // A refused object stays with the caller and the index is untouched.
        EXPECT_EQ(o == nullptr, c.status == 0);
        EXPECT_EQ(index, c.status == 0 ? a.Count() - 1 : -7);
    }
    EXPECT_EQ(Obj::live, 3);
    EXPECT_EQ(a.Add("x", nullptr), ERR_BADARG);

    const Case renames[] = {{"work", 0}, // its own name in another case
                            {"wÖRK", ERR_EXISTS},
                            {"", ERR_EMPTY_NAME},
                            {std::nullopt, ERR_EMPTY_NAME},
                            {"Archive", 0}};
    for (const auto& c : renames)
        EXPECT_EQ(a.SetKey(0, c.key), c.status);
    EXPECT_EQ(a.SetKey(3, "Other"), ERR_BADARG);
    EXPECT_EQ(a.KeyAt(0), std::optional<std::string_view>("Archive"));
    EXPECT_EQ(a.FindKey("work"), -1);
    EXPECT_EQ(a.Add("Work", obj(9)), 0u); // the old name is free again
}

// Deleting, detaching and erasing in order are the model test's below.
TEST(KeyedArray, ItemsOwnTheirObjects) {
    {
        KeyedArray<Obj> a(false);
        for (int i = 0; i < 5; ++i)
            ASSERT_EQ(a.Add(std::nullopt, obj(i)), 0u);
        EXPECT_EQ(a.FindKey(""), -1); // an item without a key is not an empty key
        EXPECT_EQ(a.Delete(5), ERR_BADARG);
        EXPECT_EQ(a.Delete(-1), ERR_BADARG);
        EXPECT_EQ(a.Detach(5), nullptr);
        const std::unique_ptr<Obj> taken = a.Detach(0);
        a.Clear();
        EXPECT_EQ(Obj::live, 1); // the detached one lives on with us
        ASSERT_EQ(a.Add(std::nullopt, obj(7)), 0u);
    }
    EXPECT_EQ(Obj::live, 0); // the destructor freed the rest
}

TEST(KeyedArray, SortIgnoresCaseUnkeyedFirstTiesInOrder) {
    {
        LocaleGuard c("C");
        KeyedArray<Obj> a(false);
        const std::pair<std::optional<std::string_view>, int> items[] = {
            {std::nullopt, 1}, {"beta", 2},  {"Alpha", 3}, {std::nullopt, 4},
            {"alpha", 5},      {"Gamma", 6}, {"", 7},      {"_x", 8}};
        for (const auto& [key, value] : items)
            ASSERT_EQ(a.Add(key, obj(value)), 0u);
        ASSERT_EQ(a.SortByKey(), 0u);
        // '_' sorts before letters once they are lower-cased.
        EXPECT_EQ(valuesOf(a), (std::vector<int>{1, 4, 7, 8, 3, 5, 2, 6}));
    }
    LocaleGuard utf8("C.UTF-8");
    if (!utf8.ok()) GTEST_SKIP() << "no C.UTF-8 locale";
    KeyedArray<Obj> a(false);
    // Lower-cased, Ö (U+00D6) becomes ö (U+00F6) and sorts after é (U+00E9);
    // compared as written it would sort before it. A bad byte stands for the
    // character of its number (0xFF is ÿ, the last of them here).
    const char* keys[] = {"Ölig", "Zebra", "éclair", "apple", "ÉCLAIR", "\xFF\xC3"};
    for (int i = 0; i < 6; ++i)
        ASSERT_EQ(a.Add(keys[i], obj(i)), 0u);
    ASSERT_EQ(a.SortByKey(), 0u);
    EXPECT_EQ(valuesOf(a), (std::vector<int>{3, 1, 2, 4, 0, 5}));
    using namespace std::string_literals;
    EXPECT_EQ(KeyedArray_CollationKey("a\0B"s), KeyedArray_CollationKey("ab"));
}

// Random changes checked against a plain model after every step, with enough
// lookups per step to go through both the scanning and the indexed path.
TEST(KeyedArray, LookupsMatchAModelThroughEveryChange) {
    LocaleGuard c("C");
    const std::vector<std::string> pool = {"a", "B", "c", "Dd", "dD", "e", "F", "gg", "H", "i"};
    std::mt19937 rng(1234);
    const auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
    const auto anyKey = [&](size_t noneOneIn) {
        return pick(noneOneIn) == 0 ? std::nullopt
                                    : std::optional<std::string>(pool[pick(pool.size())]);
    };
    struct ModelItem {
        std::optional<std::string> key;
        Obj* object;
    };
    std::vector<ModelItem> model;
    std::vector<std::unique_ptr<Obj>> detached; // kept alive so no address is reused
    KeyedArray<Obj> a(false);
    int next = 0;

    for (int step = 0; step < 3000; ++step) {
        const size_t op = pick(20);
        const size_t i = model.empty() ? 0 : pick(model.size());
        if (op < 8 || model.empty()) {
            auto key = anyKey(6);
            auto o = obj(next++);
            model.push_back({key, o.get()});
            ASSERT_EQ(a.Add(key, std::move(o)), 0u);
        } else if (op < 10) {
            ASSERT_EQ(a.Delete(static_cast<int>(i)), 0u);
            model.erase(model.begin() + static_cast<std::ptrdiff_t>(i));
        } else if (op < 12) {
            detached.push_back(a.Detach(static_cast<int>(i)));
            ASSERT_EQ(detached.back().get(), model[i].object);
            model.erase(model.begin() + static_cast<std::ptrdiff_t>(i));
        } else if (op < 14) {
            model[i].key = anyKey(4);
            ASSERT_EQ(a.SetKey(static_cast<int>(i), model[i].key), 0u);
        } else if (op == 14) {
            ASSERT_EQ(a.SortByKey(), 0u);
            std::stable_sort(model.begin(), model.end(), [](const auto& x, const auto& y) {
                if (x.key.has_value() != y.key.has_value()) return !x.key.has_value();
                return x.key && Text_CompareNoCase(*x.key, *y.key) < 0;
            });
        } else if (op == 15) {
            const int mod = 3 + static_cast<int>(pick(5));
            const auto drop = [&](const Obj& o) { return o.value % mod == 0; };
            std::erase_if(model, [&](const ModelItem& m) { return drop(*m.object); });
            a.EraseIf(drop);
        }

        ASSERT_EQ(a.Count(), static_cast<int>(model.size()));
        for (size_t k = 0; k < model.size(); ++k)
            ASSERT_EQ(a.At(static_cast<int>(k)), model[k].object);
        for (const auto& key : pool) {
            int want = -1;
            for (size_t k = 0; k < model.size() && want < 0; ++k)
                if (model[k].key && Text_EqualsNoCase(*model[k].key, key))
                    want = static_cast<int>(k);
            ASSERT_EQ(a.FindKey(Text_FoldAscii(key)), want) << "step " << step << " key " << key;
        }
        for (size_t k = 0; k < 8 && !model.empty(); ++k) {
            const size_t at = pick(model.size());
            ASSERT_EQ(a.FindObject(model[at].object), static_cast<int>(at)) << "step " << step;
        }
        if (!detached.empty()) {
            ASSERT_EQ(a.FindObject(detached[pick(detached.size())].get()), -1);
        }
    }
}

} // namespace
