// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/grow_buffer.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

GrowBuffer::~GrowBuffer() {
    std::free(m_data);
}

GrowBuffer::GrowBuffer(GrowBuffer&& other) noexcept
    : m_data(std::exchange(other.m_data, nullptr)), m_capacity(std::exchange(other.m_capacity, 0)),
      m_limit(other.m_limit) {}

GrowBuffer& GrowBuffer::operator=(GrowBuffer&& other) noexcept {
    if (this != &other) {
        std::free(m_data);
        m_data = std::exchange(other.m_data, nullptr);
        m_capacity = std::exchange(other.m_capacity, 0);
        m_limit = other.m_limit;
    }
    return *this;
}

bool GrowBuffer::Reserve(size_t min_capacity) {
    if (min_capacity <= m_capacity) return true;
    if (min_capacity > m_limit) return false;
    // Overflow-safe doubling: the limit caps the result anyway.
    const size_t doubled = m_capacity > m_limit / 2 ? m_limit : m_capacity * 2;
    const size_t stepped = m_limit < kMinGrowth || m_capacity > m_limit - kMinGrowth
                               ? m_limit
                               : m_capacity + kMinGrowth;
    const size_t target = std::min(m_limit, std::max({min_capacity, doubled, stepped}));
    // realloc copies the old contents and leaves the old block alone on failure.
    void* grown = std::realloc(m_data, target);
    if (!grown) return false;
    m_data = static_cast<char*>(grown);
    m_capacity = target;
    return true;
}

void GrowBuffer::Release() {
    std::free(m_data);
    m_data = nullptr;
    m_capacity = 0;
}
