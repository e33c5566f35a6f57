// SPDX-License-Identifier: GPL-3.0-or-later
// KeyedArray: a growable array of items, each an optional owned key text and
// an owned object. It backs the account table, the records inside a message
// box and the saved-folder table.
//
// Keys compare ignoring ASCII letter case only (the same rule as store key
// names, see common/text.h), so two keys that the store would treat as one
// are one here too. Lookups by key and by object are backed by hash indexes
// so that a loop of lookups over a table of 100,000 items stays linear.
//
// Not thread-safe: lookups update the internal indexes, so a table shared
// between threads needs the same lock for lookups as for changes.
#pragma once

#include "common/status.h"
#include "common/text.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

// The sort key of a table key under the current locale: the UTF-8 text is
// decoded (a byte that is not part of a well-formed sequence stands for the
// character of the same number), each character lower-cased with towlower()
// and the result transformed with wcsxfrm(), so that comparing two results
// with wcscmp() orders like wcscoll() on the lower-cased texts. Depends on
// LC_CTYPE and LC_COLLATE of the calling thread. May throw std::bad_alloc.
std::wstring KeyedArray_CollationKey(std::string_view key);

template <typename T> class KeyedArray {
  public:
    // unique_keys: every item must have a non-empty key, unique ignoring ASCII
    // case. initial_capacity: the room reserved at once (0 reserves nothing).
    explicit KeyedArray(bool unique_keys, int initial_capacity = 0) : m_unique(unique_keys) {
        if (initial_capacity > 0) {
            m_items.reserve(static_cast<size_t>(initial_capacity));
            m_capacity = initial_capacity;
        }
    }

    KeyedArray(const KeyedArray&) = delete;
    KeyedArray& operator=(const KeyedArray&) = delete;

    // Appends an item. On success the array owns the object (the caller's
    // pointer is emptied) and *index, when given, receives its position.
    // On failure the object stays with the caller and *index is untouched.
    //   0               added
    //   ERR_BADARG      object is null
    //   ERR_EMPTY_NAME  unique table and key is missing or empty
    //   ERR_EXISTS      unique table and an item has this key ignoring ASCII case
    //   ERR_NOMEM       out of memory; the array is unchanged
    uint32_t Add(std::optional<std::string_view> key, std::unique_ptr<T>&& object,
                 int* index = nullptr) {
        if (!object) return ERR_BADARG;
        if (m_unique) {
            if (!key || key->empty()) return ERR_EMPTY_NAME;
            if (FindKey(*key) >= 0) return ERR_EXISTS;
        }
        const int at = Count();
        Item item;
        try {
            if (at == m_capacity && !grow()) return ERR_NOMEM;
            if (key) item.key = std::make_unique<std::string>(*key);
        } catch (const std::bad_alloc&) {
            return ERR_NOMEM;
        }
        try {
            if (m_keyIndexValid && item.key) m_keyIndex.try_emplace(Text_FoldAscii(*item.key), at);
            if (m_objectIndexValid) m_objectIndex.emplace(object.get(), at);
        } catch (const std::bad_alloc&) {
            invalidateIndexes(); // they are only a shortcut; scans still find everything
        }
        item.object = std::move(object);
        m_items.push_back(std::move(item)); // cannot allocate: grow() made the room
        if (index) *index = at;
        return 0;
    }

    int Count() const { return static_cast<int>(m_items.size()); }

    // The number of items the array holds before it must grow.
    int Capacity() const { return m_capacity; }

    // The object at index i, or null when i is out of range. The array keeps
    // ownership; the pointer stays valid until the item is deleted, detached,
    // the array cleared or destroyed (moving items around does not change it).
    T* At(int i) { return inRange(i) ? m_items[static_cast<size_t>(i)].object.get() : nullptr; }
    const T* At(int i) const {
        return inRange(i) ? m_items[static_cast<size_t>(i)].object.get() : nullptr;
    }

    // The key at index i, or nullopt when the item has no key or i is out of
    // range. The view is valid until the item's key changes or it goes away.
    std::optional<std::string_view> KeyAt(int i) const {
        if (!inRange(i) || !m_items[static_cast<size_t>(i)].key) return std::nullopt;
        return std::string_view(*m_items[static_cast<size_t>(i)].key);
    }

    // Index of the first item whose key equals key ignoring ASCII case, or -1.
    // Items without a key never match.
    int FindKey(std::string_view key) {
        if (!m_keyIndexValid && !useIndexAfterScans(m_keyScans)) return scanKey(key);
        try {
            if (!m_keyIndexValid) rebuildKeyIndex();
            const auto it = m_keyIndex.find(Text_FoldAscii(key));
            return it == m_keyIndex.end() ? -1 : it->second;
        } catch (const std::bad_alloc&) {
            m_keyIndexValid = false;
            m_keyIndex.clear();
            return scanKey(key);
        }
    }

    // Index of the item that owns exactly this object (by address), or -1.
    int FindObject(const T* object) {
        if (!object) return -1;
        if (!m_objectIndexValid && !useIndexAfterScans(m_objectScans)) return scanObject(object);
        try {
            if (!m_objectIndexValid) rebuildObjectIndex();
            const auto it = m_objectIndex.find(object);
            return it == m_objectIndex.end() ? -1 : it->second;
        } catch (const std::bad_alloc&) {
            m_objectIndexValid = false;
            m_objectIndex.clear();
            return scanObject(object);
        }
    }

    // Frees the key and the object at index i; later items move down by one.
    //   0 deleted; ERR_BADARG i out of range (nothing changed)
    uint32_t Delete(int i) {
        if (!inRange(i)) return ERR_BADARG;
        m_items.erase(m_items.begin() + i);
        invalidateIndexes();
        return 0;
    }

    // Removes the item at index i and hands its object to the caller (its key
    // is freed); later items move down by one. Null when i is out of range.
    std::unique_ptr<T> Detach(int i) {
        if (!inRange(i)) return nullptr;
        std::unique_ptr<T> object = std::move(m_items[static_cast<size_t>(i)].object);
        m_items.erase(m_items.begin() + i);
        invalidateIndexes();
        return object;
    }

    // Replaces the key of item i (nullopt removes it). In a unique table the
    // new key may differ from the item's own only in letter case.
    //   0               changed
    //   ERR_BADARG      i out of range
    //   ERR_EMPTY_NAME  unique table and key is missing or empty
    //   ERR_EXISTS      unique table and another item has this key
    //   ERR_NOMEM       out of memory; the key is unchanged
    uint32_t SetKey(int i, std::optional<std::string_view> key) {
        if (!inRange(i)) return ERR_BADARG;
        if (m_unique) {
            if (!key || key->empty()) return ERR_EMPTY_NAME;
            const int other = FindKey(*key);
            if (other >= 0 && other != i) return ERR_EXISTS;
        }
        try {
            std::unique_ptr<std::string> copy;
            if (key) copy = std::make_unique<std::string>(*key);
            m_items[static_cast<size_t>(i)].key = std::move(copy);
        } catch (const std::bad_alloc&) {
            return ERR_NOMEM;
        }
        m_keyIndexValid = false;
        m_keyIndex.clear();
        m_keyScans = 0;
        return 0;
    }

    // Orders the items by KeyedArray_CollationKey of their keys (the current
    // locale's collation, ignoring case); items without a key come first.
    // Items whose keys collate equal keep their relative order.
    //   0 sorted; ERR_NOMEM out of memory (order unchanged)
    uint32_t SortByKey() {
        try {
            struct SortEntry {
                bool hasKey;
                std::wstring collation;
                size_t from;
            };
            std::vector<SortEntry> entries;
            entries.reserve(m_items.size());
            for (size_t i = 0; i < m_items.size(); ++i) {
                const auto& k = m_items[i].key;
                entries.push_back({k != nullptr, k ? KeyedArray_CollationKey(*k) : L"", i});
            }
            std::stable_sort(entries.begin(), entries.end(),
                             [](const SortEntry& a, const SortEntry& b) {
                                 if (a.hasKey != b.hasKey) return !a.hasKey;
                                 return a.collation < b.collation;
                             });
            std::vector<Item> sorted;
            sorted.reserve(m_items.capacity());
            for (const auto& e : entries)
                sorted.push_back(std::move(m_items[e.from]));
            m_items = std::move(sorted);
        } catch (const std::bad_alloc&) {
            return ERR_NOMEM;
        }
        invalidateIndexes();
        return 0;
    }

    // Removes, in one stable pass, every item whose object `pred` (called
    // with T& in index order, once per item) returns true for; the others
    // keep their order. Returns the number removed. Linear, where deleting
    // one item at a time would be quadratic.
    template <typename Pred> int EraseIf(Pred&& pred) {
        const auto end = std::remove_if(m_items.begin(), m_items.end(),
                                        [&](Item& item) { return pred(*item.object); });
        const int removed = static_cast<int>(m_items.end() - end);
        if (removed > 0) {
            m_items.erase(end, m_items.end());
            invalidateIndexes();
        }
        return removed;
    }

    // Frees every key and object. The capacity stays.
    void Clear() {
        m_items.clear();
        invalidateIndexes();
    }

  private:
    // The key on the heap: most items of the largest tables (message
    // records) have none, and an empty optional string would cost them
    // 40 bytes each.
    struct Item {
        std::unique_ptr<std::string> key;
        std::unique_ptr<T> object;
    };

    // After a change that shifts indexes, the first few lookups scan instead
    // of rebuilding a whole index: a loop that alternates a lookup with a
    // delete would otherwise rebuild the index on every turn.
    static constexpr int kScansBeforeIndex = 4;

    bool inRange(int i) const { return i >= 0 && i < Count(); }

    bool useIndexAfterScans(int& scans) { return ++scans > kScansBeforeIndex; }

    bool grow() {
        const int next = m_capacity > INT_MAX / 2 ? INT_MAX : std::max(5, m_capacity * 2);
        if (next <= m_capacity) return false;
        m_items.reserve(static_cast<size_t>(next));
        m_capacity = next;
        return true;
    }

    int scanKey(std::string_view key) const {
        for (int i = 0; i < Count(); ++i) {
            const auto& k = m_items[static_cast<size_t>(i)].key;
            if (k && Text_EqualsNoCase(*k, key)) return i;
        }
        return -1;
    }

    int scanObject(const T* object) const {
        for (int i = 0; i < Count(); ++i)
            if (m_items[static_cast<size_t>(i)].object.get() == object) return i;
        return -1;
    }

    void rebuildKeyIndex() {
        m_keyIndex.clear();
        m_keyIndex.reserve(m_items.size());
        for (int i = 0; i < Count(); ++i) {
            const auto& k = m_items[static_cast<size_t>(i)].key;
            if (k) m_keyIndex.try_emplace(Text_FoldAscii(*k), i);
        }
        m_keyIndexValid = true;
    }

    void rebuildObjectIndex() {
        m_objectIndex.clear();
        m_objectIndex.reserve(m_items.size());
        for (int i = 0; i < Count(); ++i)
            m_objectIndex.emplace(m_items[static_cast<size_t>(i)].object.get(), i);
        m_objectIndexValid = true;
    }

    void invalidateIndexes() {
        m_keyIndexValid = false;
        m_objectIndexValid = false;
        m_keyIndex.clear();
        m_objectIndex.clear();
        m_keyScans = 0;
        m_objectScans = 0;
    }

    std::vector<Item> m_items;
    int m_capacity = 0;
    bool m_unique;

    // Folded key -> index of the first item with it; object -> its index.
    // Built on demand (a table nobody searches never pays for them), then
    // kept up to date by Add and dropped by changes that move items.
    std::unordered_map<std::string, int> m_keyIndex;
    std::unordered_map<const T*, int> m_objectIndex;
    bool m_keyIndexValid = false;
    bool m_objectIndexValid = false;
    int m_keyScans = 0;
    int m_objectScans = 0;
};
