// SPDX-License-Identifier: GPL-3.0-or-later
// Quoted-printable decoding (RFC 2045 §6.7).
#pragma once

#include "platform/files.h"

#include <cstdint>
#include <string>
#include <string_view>

// Decodes `text` into *out (replacing its contents), stopping at the end or
// at a NUL. "=" CR LF is a soft line break and vanishes; "=" and two hex
// digits (either case) give that byte; any other "=" is kept with what
// follows it. With `underscoreIsSpace` (the Q encoding of RFC 2047 §4.2) "_"
// gives a space. Never fails on bad input. Returns 0, or ERR_NOMEM.
uint32_t Qp_Decode(std::string_view text, std::string* out, bool underscoreIsSpace = false);

// The same, writing into an open file. Returns 0, or ERR_CREATE.
uint32_t Qp_DecodeToFile(std::string_view text, FILES_WRITER* file);
