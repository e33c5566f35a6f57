// SPDX-License-Identifier: GPL-3.0-or-later
// winmail.dat attachments (TNEF): the names of the files packed inside one,
// and those files unpacked into a folder.
//
// The stream is read from memory through a bounded cursor: every count and
// length in it is checked against the bytes that are really there and
// against a limit per allocation, in 64-bit arithmetic. Problems go to the
// debug log; the first one of a decoding is handed back for the caller to
// show (one box per decoding, whatever the stream holds). The decoder knows
// nothing of accounts or messages.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Largest block the stream may make the decoder allocate (one attribute's
// data, one value, one table). A larger size abandons the decoding.
inline constexpr uint64_t TNEF_ALLOC_LIMIT = 10'000'000;

// Result of a decoding that stopped early without being abandoned: the data
// is not TNEF, or an attribute has a level other than 1 and 2 (the record
// being assembled then is dropped).
inline constexpr uint32_t TNEF_NOT_TNEF = 1;

// One packed file.
struct TNEF_NAME {
    std::string display; // the name the stream gives (UTF-8), "tnef-tmp" when it has none
    std::string disk;    // the single path component TNEF_dir writes it under
};

enum class TNEF_MODE { List, Write };

// The first problem a decoding met, as the caller shows it: a warning box
// with this caption and text. Both are empty when there was none.
struct TNEF_PROBLEM {
    std::string caption;
    std::string text;
};

// Unpacks every packed file into the existing folder `outDir`, replacing a
// file of the same name; each file appears whole or not at all. When
// `names` is given, the name of every file written is appended to it. Returns
// 0 when the stream was read to its end (trailing garbage of 1 to 7 bytes is
// forgiven), TNEF_NOT_TNEF, ERR_OPERATION when the decoding was abandoned
// (the file cannot be read, it ends inside an item, a size is over
// TNEF_ALLOC_LIMIT, a UTF-16 text cannot be converted) or ERR_CREATE when a
// file cannot be created or written. Files written before a failure stay.
uint32_t TNEF_dir(const std::string& path, const std::string& outDir,
                  std::vector<TNEF_NAME>* names = nullptr, TNEF_PROBLEM* problem = nullptr);

// Appends the names of the packed files, in stream order, to `names`;
// writes nothing. Same results as TNEF_dir (never ERR_CREATE); names found
// before a failure stay in the list.
uint32_t TNEF_list(const std::string& path, std::vector<TNEF_NAME>* names,
                   TNEF_PROBLEM* problem = nullptr);

// The decoder behind both: `data` is the whole stream. In Write mode the
// files go to `outDir`; in List mode `outDir` is not used. `names` may be
// null, and so may `problem`.
uint32_t TNEF_Parse(std::span<const uint8_t> data, TNEF_MODE mode, const std::string& outDir,
                    std::vector<TNEF_NAME>* names, TNEF_PROBLEM* problem = nullptr);

// The on-disk name of a packed file named `name` (the `display` of its
// TNEF_NAME) at 1-based position `index` in its stream: control bytes and
// \ / : * ? " < > | % escaped as %XX, then Files_SafeName.
std::string TNEF_DiskName(std::string_view name, unsigned index);
