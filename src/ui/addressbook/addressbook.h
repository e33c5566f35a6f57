// SPDX-License-Identifier: GPL-3.0-or-later
// The address book: the contacts of the user's vCard files, the default one
// under the data folder and those named in the AddressBookFiles setting,
// and the report of what was read for "System Info". No widget: the picker
// and the MailBox window show what this gives.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

inline constexpr const char* ADDRESSBOOK_DEFAULT_NAME = "contacts.vcf";
inline constexpr size_t ADDRESSBOOK_MAX_FILES = 32; // files read; more are reported, not read

struct ADDRESSBOOK_CONTACT {
    std::string name;                // may be empty
    std::vector<std::string> emails; // at least one
};

// What became of one file.
struct ADDRESSBOOK_SOURCE {
    std::string path;
    bool isDefault = false;    // the file under the data folder
    uint32_t result = 0;       // VCard_LoadFile's result; ERR_BADARG: path refused
    std::string error;         // why it could not be read
    size_t contacts = 0;       // cards with an address taken from it
    size_t withoutAddress = 0; // cards without one, left out
    std::vector<std::string> warnings;
};

struct ADDRESSBOOK {
    std::vector<ADDRESSBOOK_CONTACT> contacts; // sorted by name, ignoring case
    std::vector<ADDRESSBOOK_SOURCE> sources;   // in the order read
};

// The default file ($XDG_DATA_HOME/inboxwarden/contacts.vcf) and then the
// paths of the AddressBookFiles setting (split at ';', trimmed, empty ones
// and repeats left out, "~/" meaning the home folder).
std::vector<std::string> AddressBook_Files();

// Reads the files; the first of them is taken as the default file, whose
// absence is no error (the user has no contacts yet). Paths that are not
// absolute are refused (a tray program has no working folder to speak of).
ADDRESSBOOK AddressBook_Load(const std::vector<std::string>& files);

// The "System Info" report on a loaded book, lines ended by CR LF.
std::string AddressBook_Report(const ADDRESSBOOK& book);

// Whether a source counts as a file that could not be read.
bool AddressBook_Failed(const ADDRESSBOOK_SOURCE& source);
