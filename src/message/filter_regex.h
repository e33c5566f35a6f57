// SPDX-License-Identifier: GPL-3.0-or-later
// The regular expressions of filter rules: a small matcher that runs in time
// proportional to text length x pattern size, with no backtracking and no
// recursion over the text, so a hostile pattern or header cannot stall the
// check worker or overflow its stack (std::regex does both).
//
// Syntax (a subset of POSIX extended / ECMAScript): literals; "."; bracket
// classes "[a-z]", "[^...]"; escapes \d \D \w \W \s \S, \t \n \r, and "\"
// before any punctuation; groups "( )" (non-capturing "(?: )" too);
// alternation "|"; quantifiers "*", "+", "?", "{n}", "{n,}", "{n,m}" (their
// lazy forms "*?" etc. are accepted and match the same texts); anchors "^"
// and "$", which also match at line starts and ends inside a text. Back
// references and look-around are refused. Letter case folds ASCII only.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Longest pattern accepted, in bytes, and the largest compiled program
// (counted repetitions are expanded). Together with the text caps of the
// rules they bound the work of one match.
inline constexpr size_t FREGEX_MAX_PATTERN = 512;
inline constexpr size_t FREGEX_MAX_PROGRAM = 2048;

struct FREGEX_INST {
    enum Op : uint8_t { Byte, Any, Class, Split, Jump, LineStart, LineEnd, Match } op;
    uint8_t byte = 0;      // Byte
    uint32_t x = 0, y = 0; // Split: both targets; Jump: x; Class: index into classes
};

struct FREGEX {
    std::vector<FREGEX_INST> prog;
    std::vector<std::vector<bool>> classes; // 256 entries each
    bool icase = false;
};

// Compiles `pattern`. true, or false with the reason in *error (for the
// user: "unbalanced parenthesis at 4").
bool FRegex_Compile(std::string_view pattern, bool matchCase, FREGEX* out, std::string* error);

// true when the expression matches somewhere in `text`.
bool FRegex_Search(const FREGEX& re, std::string_view text);
