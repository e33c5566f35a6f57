// SPDX-License-Identifier: GPL-3.0-or-later
// Base64 (RFC 2045 §6.8) in both directions.
#pragma once

#include "platform/files.h"

#include <cstdint>
#include <string>
#include <string_view>

// Encodes `data` in lines of 76 characters joined by CR LF, with no line
// break after the last one.
std::string Base64_Encode(std::string_view data);

// Decodes `text` into *out (replacing its contents). Never fails on bad
// input: CR and LF are skipped, any other character outside the alphabet
// counts as 0, a group of four gives three bytes less one per "=" in it (never
// fewer than none), and a short last group gives the bytes its characters
// hold. Returns 0, or ERR_NOMEM.
uint32_t Base64_Decode(std::string_view text, std::string* out);

// The same, writing into an open file. Returns 0, or ERR_CREATE when a write
// failed.
uint32_t Base64_DecodeToFile(std::string_view text, FILES_WRITER* file);
