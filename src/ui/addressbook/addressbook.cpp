// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/addressbook/addressbook.h"

#include "common/status.h"
#include "common/text.h"
#include "message/vcard.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "settings/globaldata.h"

#include <algorithm>
#include <cstdlib>

namespace {

std::string expandHome(std::string_view path) {
    if (path.starts_with("~/")) {
        const char* home = std::getenv("HOME");
        if (home && *home) return std::string(home) + std::string(path.substr(1));
    }
    return std::string(path);
}

} // namespace

std::vector<std::string> AddressBook_Files() {
    std::vector<std::string> files{Paths_DataDir() + "/" + ADDRESSBOOK_DEFAULT_NAME};
    const std::string setting = GlobalData_GetText(GD_ADDRESSBOOKFILES);
    size_t start = 0;
    while (start <= setting.size()) {
        size_t end = setting.find(';', start);
        if (end == std::string::npos) end = setting.size();
        const std::string path =
            expandHome(Text_TrimBlanks(std::string_view(setting).substr(start, end - start)));
        if (!path.empty() && std::find(files.begin(), files.end(), path) == files.end())
            files.push_back(path);
        start = end + 1;
    }
    return files;
}

bool AddressBook_Failed(const ADDRESSBOOK_SOURCE& s) {
    return s.result != 0 && !(s.isDefault && s.result == ERR_NOT_FOUND);
}

ADDRESSBOOK AddressBook_Load(const std::vector<std::string>& files) {
    ADDRESSBOOK book;
    for (size_t i = 0; i < files.size(); ++i) {
        ADDRESSBOOK_SOURCE s;
        s.path = files[i];
        s.isDefault = i == 0;
        if (i >= ADDRESSBOOK_MAX_FILES) {
            s.result = ERR_BADARG;
            s.error = "Not read: only the first 32 files are read.";
        } else if (!s.path.starts_with('/')) {
            s.result = ERR_BADARG;
            s.error = "Not an absolute path.";
        } else {
            VCARD_FILE f;
            s.result = VCard_LoadFile(s.path, &f, &s.error);
            s.warnings = std::move(f.warnings);
            for (VCARD_CONTACT& c : f.contacts) {
                if (c.emails.empty()) {
                    ++s.withoutAddress;
                    continue;
                }
                ++s.contacts;
                book.contacts.push_back({std::move(c.name), std::move(c.emails)});
            }
        }
        if (AddressBook_Failed(s))
            DebugLog_Write("AddressBook: \"%s\" not read: %s\n", s.path.c_str(), s.error.c_str());
        book.sources.push_back(std::move(s));
    }
    std::stable_sort(book.contacts.begin(), book.contacts.end(),
                     [](const ADDRESSBOOK_CONTACT& a, const ADDRESSBOOK_CONTACT& b) {
                         return Text_CompareNoCase(a.name.empty() ? a.emails[0] : a.name,
                                                   b.name.empty() ? b.emails[0] : b.name) < 0;
                     });
    return book;
}

std::string AddressBook_Report(const ADDRESSBOOK& book) {
    std::string r = "Address Book: \r\n\r\n";
    size_t failed = 0;
    for (const ADDRESSBOOK_SOURCE& s : book.sources) {
        r += s.isDefault ? "Default address book file - \r\n  "
                         : "File named in AddressBookFiles - \r\n  ";
        r += s.path + "\r\n";
        if (s.isDefault && s.result == ERR_NOT_FOUND) {
            r += "Not there yet: no contacts of its own.\r\n\r\n";
            continue;
        }
        if (AddressBook_Failed(s)) {
            ++failed;
            r += "Could not be read: " + s.error + "\r\n\r\n";
            continue;
        }
        r += "Read " + std::to_string(s.contacts) + (s.contacts == 1 ? " contact" : " contacts") +
             " with an e-mail address";
        if (s.withoutAddress)
            r += " (" + std::to_string(s.withoutAddress) + " without one left out)";
        r += ".\r\n";
        if (!s.warnings.empty()) {
            r += "Forgiven: \r\n";
            for (const std::string& w : s.warnings)
                r += "    " + w + "\r\n";
        }
        r += "\r\n";
    }
    r += "Contacts in the address book: " + std::to_string(book.contacts.size()) + "\r\n";
    if (failed) r += "Files that could not be read: " + std::to_string(failed) + "\r\n";
    return r;
}
