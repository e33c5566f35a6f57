// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/output.h"

#include "cli/terminal.h"
#include "common/text.h"
#include "settings/profile.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>

namespace {

// An id that is not UTF-8 is shown read as Windows-1252 (MsgIdHex is exact).
std::string utf8(const std::string& s) {
    return Text_IsValidUtf8(s) ? s : Profile_FromCp1252(s);
}

} // namespace

void Cli_PrintAccounts(const std::vector<CLI_ACCOUNT_LINE>& accounts) {
    for (const CLI_ACCOUNT_LINE& a : accounts)
        std::printf("%s\t%s:%d\t%s\n", a.name.c_str(), a.server.c_str(), a.port, a.login.c_str());
}

void Cli_PrintChecked(const std::vector<CLI_CHECKED>& accounts, bool json) {
    nlohmann::json list = nlohmann::json::array();
    for (const CLI_CHECKED& a : accounts) {
        if (json) {
            list.push_back({{"name", a.name},
                            {"result", a.result},
                            {"CheckResult", a.checkResult},
                            {"StatusText", a.statusText},
                            {"counts",
                             {{"new", a.newCount},
                              {"notified", a.notified},
                              {"unread", a.unread},
                              {"old", a.old},
                              {"quiet", a.quiet},
                              {"size", a.size}}}});
        } else {
            std::printf("%s\t%s\tCheckResult %d\t%s\tnew %d, notified %d, unread %d, old %d, "
                        "quiet %d, size %lld\n",
                        Cli_Printable(a.name).c_str(), a.result.c_str(), a.checkResult,
                        Cli_Printable(a.statusText).c_str(), a.newCount, a.notified, a.unread,
                        a.old, a.quiet, static_cast<long long>(a.size));
        }
    }
    if (json)
        std::printf("%s\n", nlohmann::json{{"accounts", list}}
                                .dump(2, ' ', false, nlohmann::json::error_handler_t::replace)
                                .c_str());
}

void Cli_PrintBox(const std::vector<CLI_BOX_ROW>& rows, bool json) {
    nlohmann::json out = nlohmann::json::array();
    for (const CLI_BOX_ROW& r : rows) {
        if (!json) {
            std::printf("%s\t%d\t%s\t%s\t%s\t%s\n", Cli_Printable(r.id).c_str(), r.status,
                        r.sizeText.c_str(), r.date.empty() ? "-" : r.date.c_str(),
                        Cli_Printable(r.from).c_str(), Cli_Printable(r.subject).c_str());
            continue;
        }
        out.push_back({{"MsgId", utf8(r.id)},
                       {"MsgIdHex", Text_ToHex(r.id)},
                       {"From", r.from},
                       {"ReplyTo", r.replyTo},
                       {"To", r.to},
                       {"Subject", r.subject},
                       {"SizeText", r.sizeText},
                       {"Size", r.size},
                       {"HasAttach", r.hasAttach},
                       {"Date", r.date.empty() ? nlohmann::json(nullptr) : nlohmann::json(r.date)},
                       {"Status", r.status}});
    }
    if (json)
        std::printf("%s\n",
                    out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
}

bool Cli_IdsFromArgs(const std::vector<std::string>& args, bool hex,
                     std::vector<std::string>* bytes) {
    for (const std::string& id : args) {
        std::string b = id;
        if (hex && !Text_FromHex(id, &b)) {
            std::fprintf(stderr,
                         "inboxwarden-cli: '%s' is not an id in hex (pairs of hex digits, as "
                         "MsgIdHex of 'box --json')\n",
                         Cli_Printable(id).c_str());
            return false;
        }
        bytes->push_back(std::move(b));
    }
    return true;
}

std::string Cli_IdAsGiven(const std::vector<std::string>& args, bool hex,
                          const std::string& bytes) {
    for (const std::string& id : args) {
        std::string b = id;
        if (hex && !Text_FromHex(id, &b)) continue;
        if (b == bytes) return id;
    }
    return bytes;
}

int Cli_PrintDeleted(const std::vector<std::string>& args, bool hex,
                     const std::vector<std::string>& deleted,
                     const std::vector<std::string>& notes) {
    for (const std::string& id : deleted)
        std::printf("%s\n", Cli_IdAsGiven(args, hex, id).c_str());
    for (std::string text : notes) {
        std::erase(text, '\r');
        while (!text.empty() && text.back() == '\n')
            text.pop_back();
        std::replace(text.begin(), text.end(), '\n', ' ');
        std::fprintf(stderr, "inboxwarden-cli: %s\n", Cli_Printable(text).c_str());
    }
    // An id named twice on the command line counts once.
    std::vector<std::string> wanted;
    if (!Cli_IdsFromArgs(args, hex, &wanted)) return 1;
    std::sort(wanted.begin(), wanted.end());
    wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());
    return deleted.size() == wanted.size() ? 0 : 1;
}

int Cli_PrintMarked(const std::string& account, const std::vector<std::string>& args, bool hex,
                    const std::vector<std::string>& missing) {
    for (const std::string& id : missing)
        std::fprintf(stderr, "inboxwarden-cli: the box of %s holds no message '%s'\n",
                     Cli_Printable(account).c_str(),
                     Cli_Printable(Cli_IdAsGiven(args, hex, id)).c_str());
    return missing.empty() ? 0 : 1;
}
