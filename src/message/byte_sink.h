// SPDX-License-Identifier: GPL-3.0-or-later
// Where a decoder puts its bytes: a string in memory, or a file being
// written through FILES_WRITER in large blocks. Internal to message/.
#pragma once

#include "common/status.h"
#include "platform/files.h"

#include <cstddef>
#include <new>
#include <string>

namespace iwmsg {

class StringSink {
  public:
    explicit StringSink(std::string* out) : out_(out) {}
    void put(const char* p, size_t n) { out_->append(p, n); }
    void put(char c) { out_->push_back(c); }

  private:
    std::string* out_;
};

class FileSink {
  public:
    explicit FileSink(FILES_WRITER* w) : w_(w) { buf_.reserve(kBlock); }
    ~FileSink() { flush(); }
    void put(const char* p, size_t n) {
        buf_.append(p, n);
        if (buf_.size() >= kBlock) flush();
    }
    void put(char c) {
        buf_.push_back(c);
        if (buf_.size() >= kBlock) flush();
    }
    // Returns the first write failure (0 when every write succeeded).
    uint32_t flush() {
        if (!buf_.empty()) {
            if (const uint32_t rc = Files_Write(w_, buf_.data(), buf_.size()); rc && !status_)
                status_ = rc;
            buf_.clear();
        }
        return status_;
    }

  private:
    static constexpr size_t kBlock = 1 << 16;
    FILES_WRITER* w_;
    std::string buf_;
    uint32_t status_ = 0;
};

// Runs decode(sink) into *out, emptied first with room for `expected` bytes:
// 0, or ERR_NOMEM with *out empty.
template <class Decode>
uint32_t DecodeToString(std::string* out, size_t expected, Decode&& decode) {
    try {
        out->clear();
        out->reserve(expected);
        StringSink sink(out);
        decode(sink);
        return 0;
    } catch (const std::bad_alloc&) {
        out->clear();
        return ERR_NOMEM;
    }
}

// Runs decode(sink) into the file: 0, or the first write failure.
template <class Decode> uint32_t DecodeToFile(FILES_WRITER* file, Decode&& decode) {
    FileSink sink(file);
    decode(sink);
    return sink.flush();
}

} // namespace iwmsg
