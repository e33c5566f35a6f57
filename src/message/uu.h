// SPDX-License-Identifier: GPL-3.0-or-later
// Uuencode decoding (the body lines between "begin" and "end").
#pragma once

#include "platform/files.h"

#include <cstdint>
#include <string>
#include <string_view>

// Decodes `text` into *out (replacing its contents). Each line starts with
// its byte count (character - 32, mod 64); a count of 0 (space or "`") ends
// the data. Characters a short line lacks count as spaces, and the next line
// is found at the line feed, so a damaged line never reads beyond `text`.
// Returns 0, or ERR_NOMEM.
uint32_t Uu_Decode(std::string_view text, std::string* out);

// The same, writing into an open file. Returns 0, or ERR_CREATE.
uint32_t Uu_DecodeToFile(std::string_view text, FILES_WRITER* file);
