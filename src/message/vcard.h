// SPDX-License-Identifier: GPL-3.0-or-later
// vCard files (RFC 6350, and the older 3.0 of RFC 2426 and 2.1 forms): the
// names and e-mail addresses of the contacts they hold, for the address book.
//
// What is read: folded lines (a line break followed by a blank or a tab),
// CR LF, LF or CR line ends, property groups ("item1.EMAIL"), FN, N and every
// EMAIL of a card; quoted-printable values with their soft line breaks (2.1
// writes them unfolded, ending a line in "="), base64 values, the CHARSET
// parameter (anything else is UTF-8, invalid bytes read as Windows-1252) and
// the backslash escapes of 3.0 and 4.0. Everything else of a card (photos,
// nested AGENT cards, unknown properties) is skipped.
//
// The input is hostile: the work is linear in its size, and the limits below
// bound memory. A parser that had to forgive something says so in `warnings`
// (bounded); a file that holds no card at all, or too much, is a failure with
// a text that names the cause.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

inline constexpr size_t VCARD_MAX_FILE = 16u << 20; // bytes read from one file
inline constexpr size_t VCARD_MAX_LINE = 1u << 20;  // one unfolded property line
inline constexpr size_t VCARD_MAX_CARDS = 100000;   // cards kept from one file
inline constexpr size_t VCARD_MAX_EMAILS = 64;      // addresses kept per card
inline constexpr size_t VCARD_MAX_WARNINGS = 16;    // warnings kept per file

struct VCARD_CONTACT {
    std::string name;                // FN, else the N parts, else ""; UTF-8
    std::vector<std::string> emails; // in file order, trimmed, never empty texts
};

struct VCARD_FILE {
    std::vector<VCARD_CONTACT> contacts; // every card, with or without an address
    std::vector<std::string> warnings;   // what was forgiven, with line numbers
};

// Parses the text of one vCard file into *out (replaced).
//   0              parsed (an empty text or one of blank lines gives no card)
//   ERR_BADARG     null out
//   ERR_OPERATION  no "BEGIN:VCARD" in a text that is not blank, or the text
//                  is larger than VCARD_MAX_FILE; *error says which
// *out holds what was read even on ERR_OPERATION.
uint32_t VCard_Parse(std::string_view text, VCARD_FILE* out, std::string* error);

// Reads the file at `path` (at most VCARD_MAX_FILE bytes) and parses it.
//   0              read and parsed
//   ERR_NOT_FOUND  the file does not exist
//   ERR_FAILED     it cannot be opened or read (a folder, no permission);
//                  *error holds the system's reason
//   ERR_OPERATION  as VCard_Parse, or the file is too large (not read)
uint32_t VCard_LoadFile(const std::string& path, VCARD_FILE* out, std::string* error);
