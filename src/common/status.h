// SPDX-License-Identifier: GPL-3.0-or-later
// Status codes shared by every module: 0 is success, the values below are
// failures. Several modules add small positive results of their own, which
// they document where they are declared.
#pragma once

#include <cstdint>

// One code per line with its meaning beside it, wider than the column limit.
// clang-format off
inline constexpr uint32_t ERR_FAILED = 0xF0000000;     // a platform call failed
inline constexpr uint32_t ERR_NOMEM = 0xF0000001;      // out of memory
inline constexpr uint32_t ERR_NOT_READY = 0xF0000002;  // table, key, handle, entry point, window or password missing
inline constexpr uint32_t ERR_BADARG = 0xF0000003;     // bad argument or index; dialog validation failed
inline constexpr uint32_t ERR_NOT_FOUND = 0xF0000006;  // no such item
inline constexpr uint32_t ERR_EMPTY_NAME = 0xF0000007; // empty name where a unique name is required
inline constexpr uint32_t ERR_EXISTS = 0xF0000008;     // name exists already; a check is already running
inline constexpr uint32_t ERR_CANCELLED = 0xF0000009;  // cancelled by the user
inline constexpr uint32_t ERR_SKIPPED = 0xF000000A;    // current account skipped by the user
inline constexpr uint32_t ERR_ENCODING = 0xF000000B;   // a transfer encoding cannot be decoded
inline constexpr uint32_t ERR_CREATE = 0xF000000C;     // a file or folder cannot be created or written
inline constexpr uint32_t ERR_TIMEOUT = 0xF000000D;    // a connection timed out
inline constexpr uint32_t ERR_OPERATION = 0xF000F000;  // an operation failed; its text travels beside the code
inline constexpr uint32_t ERR_REFUSED = 0xF000F001;    // the POP3 server answered "-ERR" where tolerated
// clang-format on

// A short English name for a status code ("ERR_NOT_FOUND"), or "OK" for 0 and
// "unknown status" for anything else; for logs and command-line output.
const char* Status_Name(uint32_t code);
