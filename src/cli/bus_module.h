// SPDX-License-Identifier: GPL-3.0-or-later
// Between the command line and libiwclibus.so, its bus module: the only part
// of the command line that needs Qt (QtCore and QtDBus), loaded only when the
// program holds the store, so that every other command starts without
// relocating Qt. Both are built together from one tree; the version guards
// against a module of another build found in the plug-in folder, and goes up
// whenever anything below or a type it passes changes.
#pragma once

#include "cli/output.h"

#include <cstdint>
#include <string>
#include <vector>

inline constexpr uint32_t CLIBUS_VERSION = 1;
inline constexpr const char* CLIBUS_FILE = "libiwclibus.so";
inline constexpr const char* CLIBUS_ENTRY = "IwCliBus_Module";

// Whom the calls ask: the program must run on `registry` (this store) and,
// when `profile` is not "", on that profile.
struct CLIBUS_TARGET {
    std::string registry;
    std::string profile;
};

// Each returns false with what went wrong in *error (raw: the caller makes it
// printable; "" when the program's reply was malformed), true with the
// program's answer.
struct CLIBUS_MODULE {
    uint32_t version; // first, wherever the rest moves
    bool (*accounts)(const CLIBUS_TARGET& target, std::vector<CLI_ACCOUNT_LINE>* out,
                     std::string* error);
    bool (*box)(const CLIBUS_TARGET& target, const std::string& account,
                std::vector<CLI_BOX_ROW>* out, std::string* error);
    // The queued accounts, in the order they were checked, once all of them
    // are done.
    bool (*check)(const CLIBUS_TARGET& target, const std::string& what,
                  std::vector<CLI_CHECKED>* out, std::string* error);
    bool (*erase)(const CLIBUS_TARGET& target, const std::string& account,
                  const std::vector<std::string>& ids, std::vector<std::string>* deleted,
                  std::vector<std::string>* notes, std::string* error);
    bool (*mark)(const CLIBUS_TARGET& target, const std::string& account,
                 const std::vector<std::string>& ids, const std::string& state,
                 std::vector<std::string>* missing, std::string* error);
};

using CLIBUS_ENTRY_FN = const CLIBUS_MODULE* (*)();
