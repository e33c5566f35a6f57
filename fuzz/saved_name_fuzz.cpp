// SPDX-License-Identifier: GPL-3.0-or-later
// File names found in a saved-message folder, and the subject and id texts
// of mail that the writer turns into names.
#include "message/savedfile.h"

#include <cstdlib>
#include <string>

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string in(reinterpret_cast<const char*>(data), size);

    // Any name that is read as a saved file gives back exactly that name.
    SAVEDFILE_INFO info;
    if (SavedFile_ParseName(in, &info))
        check(SavedFile_RecordName(info.date, info.subject, info.id, info.partial) == in);

    // Any subject and id give one path component that reads back as a saved file.
    if (size < 8) return 0;
    DATETIME d{};
    d.wYear = static_cast<uint16_t>(data[0] | data[1] << 8);
    d.wMonth = data[2];
    d.wDay = data[3];
    d.wHour = data[4];
    d.wMinute = data[5];
    d.wSecond = data[6];
    const bool partial = data[7] & 1;
    const std::string rest = in.substr(8);
    const size_t half = rest.size() / 2;
    const std::string subject = rest.substr(0, half), id = rest.substr(half);
    for (const std::string& name :
         {SavedFile_Name(d, subject, id, partial), SavedFile_RecordName(d, subject, id, partial)}) {
        check(name.size() <= 255 && name.find('/') == std::string::npos);
        check(SavedFile_ParseName(name, &info) && info.partial == partial);
        check(SavedFile_RecordName(info.date, info.subject, info.id, info.partial) == name);
    }
    return 0;
}
