// SPDX-License-Identifier: GPL-3.0-or-later
// GrowBuffer: a block owned by the caller that a receiver grows while it reads
// (POP3 and SMTP answers, fetched messages). The limit bounds what one answer
// may take; a receiver that is refused more room reports "No buffer space
// available" (10055) rather than growing without end.
#pragma once

#include <cstddef>

class GrowBuffer {
  public:
    static constexpr size_t kDefaultLimit = size_t{64} << 20;
    // The least a growth adds, so that a receiver reading small pieces does
    // not reallocate for each one.
    static constexpr size_t kMinGrowth = 16384;

    explicit GrowBuffer(size_t limit = kDefaultLimit) : m_limit(limit) {}
    ~GrowBuffer();

    GrowBuffer(const GrowBuffer&) = delete;
    GrowBuffer& operator=(const GrowBuffer&) = delete;
    GrowBuffer(GrowBuffer&& other) noexcept;
    GrowBuffer& operator=(GrowBuffer&& other) noexcept;

    // The block (null while the capacity is 0). Growing may move it: a pointer
    // taken before Reserve() is stale after a Reserve() that returned true.
    char* Data() { return m_data; }
    const char* Data() const { return m_data; }
    size_t Capacity() const { return m_capacity; }

    size_t Limit() const { return m_limit; }
    // A lower limit does not shrink the block; it only refuses later growth.
    void SetLimit(size_t limit) { m_limit = limit; }

    // Makes the capacity at least min_capacity, keeping the contents. Grows to
    // the largest of min_capacity, twice the capacity and the capacity plus
    // kMinGrowth, but never beyond the limit.
    //   true   the capacity is now >= min_capacity
    //   false  min_capacity is over the limit, or out of memory; the block and
    //          its contents are unchanged
    bool Reserve(size_t min_capacity);

    // Frees the block; the capacity is 0 again.
    void Release();

  private:
    char* m_data = nullptr;
    size_t m_capacity = 0;
    size_t m_limit;
};
