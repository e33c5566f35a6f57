// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/settings_commands.h"
#include "cli/bus_client.h"
#include "cli/output.h"
#include "cli/session.h"
#include "cli/terminal.h"

#include "common/status.h"
#include "common/text.h"
#include "net/socket.h"
#include "platform/user_message.h"
#include "settings/account.h"
#include "settings/globaldata.h"
#include "settings/msgbox.h"
#include "settings/profile.h"
#include "settings/settings.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iostream>
#include <map>
#include <string>

namespace {

bool parseInt(std::string_view s, int32_t* out) {
    int64_t v = 0;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (r.ec != std::errc() || r.ptr != s.data() + s.size() || v < INT32_MIN || v > UINT32_MAX)
        return false;
    *out = static_cast<int32_t>(v);
    return true;
}

bool parseByte(std::string_view s, uint8_t* out) {
    int32_t v;
    if (!parseInt(s, &v) || v < 0 || v > 255) return false;
    *out = static_cast<uint8_t>(v);
    return true;
}

using Setter = std::function<bool(ACCOUNT&, std::string_view)>;

Setter text(std::string ACCOUNT::*f) {
    return [f](ACCOUNT& a, std::string_view v) {
        (a.*f).assign(v);
        return true;
    };
}
Setter number(int32_t ACCOUNT::*f) {
    return [f](ACCOUNT& a, std::string_view v) { return parseInt(v, &(a.*f)); };
}
Setter byte(uint8_t ACCOUNT::*f) {
    return [f](ACCOUNT& a, std::string_view v) { return parseByte(v, &(a.*f)); };
}
// A number from first to last.
Setter choice(int32_t ACCOUNT::*f, int32_t first, int32_t last) {
    return [f, first, last](ACCOUNT& a, std::string_view v) {
        int32_t n;
        if (!parseInt(v, &n) || n < first || n > last) return false;
        a.*f = n;
        return true;
    };
}
// A certificate fingerprint: 64 hex digits (colons allowed, as tools print
// them), stored in lower case; empty clears it.
Setter pin(std::string ACCOUNT::*f) {
    return [f](ACCOUNT& a, std::string_view v) {
        std::string hex;
        for (const char c : v) {
            if (c == ':') continue;
            hex += c >= 'A' && c <= 'F' ? static_cast<char>(c - 'A' + 'a') : c;
        }
        if (!hex.empty() && !Sock_IsValidPin(hex)) return false;
        a.*f = hex;
        return true;
    };
}

// Every stored field but the passwords, which come from standard input.
const std::map<std::string, Setter>& setters() {
    static const std::map<std::string, Setter> m = {
        {"fullusername", text(&ACCOUNT::FullUserName)},
        {"email", text(&ACCOUNT::Email)},
        {"replyadr", text(&ACCOUNT::ReplyAdr)},
        {"signature", text(&ACCOUNT::Signature)},
        {"autoapplysig", byte(&ACCOUNT::AutoApplySig)},
        {"chkserver", text(&ACCOUNT::ChkServer)},
        {"chkport", number(&ACCOUNT::ChkPort)},
        {"chktmout", number(&ACCOUNT::ChkTmout)},
        {"chklogin", text(&ACCOUNT::ChkLogin)},
        {"chkauthtype", number(&ACCOUNT::ChkAuthType)},
        {"chkpswdtype", number(&ACCOUNT::ChkPswdType)},
        {"sendserver", text(&ACCOUNT::SendServer)},
        {"sendport", number(&ACCOUNT::SendPort)},
        {"sendtmout", number(&ACCOUNT::SendTmout)},
        {"sendlogin", text(&ACCOUNT::SendLogin)},
        {"sendsecured", byte(&ACCOUNT::SendSecured)},
        {"sendauthtype", number(&ACCOUNT::SendAuthType)},
        {"sendpswdtype", number(&ACCOUNT::SendPswdType)},
        {"dontcleanoldmsgs", byte(&ACCOUNT::DontCleanOldMsgs)},
        {"checkit", byte(&ACCOUNT::CheckIt)},
        {"useschedule", byte(&ACCOUNT::UseSchedule)},
        {"chktime", number(&ACCOUNT::ChkTime)},
        {"mailclnt", text(&ACCOUNT::MailClnt)},
        {"newmailsnd", text(&ACCOUNT::NewMailSnd)},
        {"downloaddir", text(&ACCOUNT::DownloadDir)},
        {"pendingdeletes", number(&ACCOUNT::PendingDeletes)},
        {"chksecurity", choice(&ACCOUNT::ChkSecurity, 0, 2)},
        {"chkcertpolicy", choice(&ACCOUNT::ChkCertPolicy, 0, 1)},
        {"chkcertpin", pin(&ACCOUNT::ChkCertPin)},
        {"sendsecurity", choice(&ACCOUNT::SendSecurity, 0, 2)},
        {"sendcertpolicy", choice(&ACCOUNT::SendCertPolicy, 0, 1)},
        {"sendcertpin", pin(&ACCOUNT::SendCertPin)},
        {"chkpswdstore", choice(&ACCOUNT::ChkPswdStore, 0, 1)},
        {"sendpswdstore", choice(&ACCOUNT::SendPswdStore, 0, 1)},
        {"laststat",
         [](ACCOUNT& a, std::string_view v) {
             const std::string_view cut = Text_CutUtf8(v, sizeof a.LastSTAT - 1);
             std::memcpy(a.LastSTAT, cut.data(), cut.size());
             a.LastSTAT[cut.size()] = '\0';
             return true;
         }},
        {"schedule",
         [](ACCOUNT& a, std::string_view v) {
             // 25 masks, comma-separated, decimal or 0x-hex; missing ones are 0.
             std::array<uint16_t, 25> s{};
             size_t i = 0;
             while (!v.empty()) {
                 if (i == s.size()) return false;
                 const size_t comma = v.find(',');
                 std::string_view item = Text_TrimBlanks(v.substr(0, comma));
                 int base = 10;
                 if (item.size() > 2 && item[0] == '0' && (item[1] == 'x' || item[1] == 'X')) {
                     item.remove_prefix(2);
                     base = 16;
                 }
                 unsigned m = 0;
                 const auto r = std::from_chars(item.data(), item.data() + item.size(), m, base);
                 if (r.ec != std::errc() || r.ptr != item.data() + item.size() || m > 0xFFF)
                     return false;
                 s[i++] = static_cast<uint16_t>(m);
                 v = comma == std::string_view::npos ? std::string_view() : v.substr(comma + 1);
             }
             a.Schedule = s;
             return true;
         }},
    };
    return m;
}

std::string readLine() {
    std::string line;
    std::getline(std::cin, line);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

// A port left at the default of the old security follows the new one; a
// port the user chose (or sets in the same command) stays.
void followSecurity(ACCOUNT& a, const ACCOUNT& before, bool chkPortGiven, bool sendPortGiven) {
    if (!chkPortGiven && a.ChkSecurity != before.ChkSecurity &&
        a.ChkPort == Account_DefaultChkPort(before.ChkSecurity))
        a.ChkPort = Account_DefaultChkPort(a.ChkSecurity);
    if (!sendPortGiven && a.SendSecurity != before.SendSecurity &&
        a.SendPort == Account_DefaultSendPort(before.SendSecurity))
        a.SendPort = Account_DefaultSendPort(a.SendSecurity);
}

// FIELD=VALUE arguments and the passwords applied to an account.
int applyFields(ACCOUNT& a, const CLI_ACCOUNT_ARGS& args) {
    ACCOUNT before;
    before.ChkSecurity = a.ChkSecurity;
    before.SendSecurity = a.SendSecurity;
    if (args.chkPasswordStdin) a.ChkPswd = readLine();
    if (args.sendPasswordStdin) a.SendPswd = readLine();
    bool chkPortGiven = false;
    bool sendPortGiven = false;
    for (const std::string& arg : args.fields) {
        const size_t eq = arg.find('=');
        if (eq == std::string::npos) {
            std::fprintf(stderr,
                         "inboxwarden-cli: '%s' is not FIELD=VALUE; see 'inboxwarden-cli account "
                         "--help' for the fields\n",
                         Cli_Printable(arg).c_str());
            return 2;
        }
        const std::string shown = Cli_Printable(std::string_view(arg).substr(0, eq));
        const std::string field = Text_FoldAscii(std::string_view(arg).substr(0, eq));
        if (field == "chkpswd" || field == "sendpswd") {
            std::fprintf(stderr, "inboxwarden-cli: passwords are read from standard input "
                                 "(--chk-password-stdin, --send-password-stdin), never from the "
                                 "command line\n");
            return 2;
        }
        const auto it = setters().find(field);
        if (it == setters().end()) {
            std::fprintf(stderr,
                         "inboxwarden-cli: there is no account field '%s'; see 'inboxwarden-cli "
                         "account --help' for the fields\n",
                         shown.c_str());
            return 2;
        }
        if (!it->second(a, std::string_view(arg).substr(eq + 1))) {
            std::fprintf(stderr,
                         "inboxwarden-cli: '%s' is not a value %s takes; see 'inboxwarden-cli "
                         "account --help'\n",
                         Cli_Printable(std::string_view(arg).substr(eq + 1)).c_str(),
                         shown.c_str());
            return 2;
        }
        chkPortGiven = chkPortGiven || field == "chkport";
        sendPortGiven = sendPortGiven || field == "sendport";
    }
    followSecurity(a, before, chkPortGiven, sendPortGiven);
    return 0;
}

// Texts from old stores may not be UTF-8; JSON output must be.
std::string utf8(const char* s) {
    return Text_IsValidUtf8(s) ? std::string(s) : Profile_FromCp1252(s);
}

} // namespace

bool Cli_ProfileSwitch(const char* arg, std::string* value) {
    const std::string_view a = arg;
    for (std::string_view sw : {std::string_view("--profile:"), std::string_view("/profile:")}) {
        if (a.size() >= sw.size() && Text_EqualsNoCase(a.substr(0, sw.size()), sw)) {
            *value = std::string(Text_TrimBlanks(a.substr(sw.size())));
            return true;
        }
    }
    return false;
}

std::string Cli_AccountFieldsHelp() {
    return "Fields are the stored account values (ChkServer, ChkPort, ChkLogin, ChkPswdType,\n"
           "SendServer, CheckIt, ChkTime, Schedule=m0,m1,...,m24, ...), names in any case.\n"
           "Passwords are read one line each from standard input, POP3 first.\n"
           "ChkSecurity/SendSecurity: 0 none, 1 STLS/STARTTLS required, 2 TLS from the\n"
           "start (ports follow: 995, 587, 465, unless set). ChkCertPolicy/SendCertPolicy:\n"
           "0 verify, 1 accept only the certificate whose SHA-256 is ChkCertPin/SendCertPin.\n"
           "ChkPswdStore/SendPswdStore: 0 the password is kept in the store, 1 in the\n"
           "desktop keyring only.";
}

int Cli_Accounts(const std::string& profile) {
    if (CliBus_ProgramRuns()) return CliBus_Accounts(profile);
    CliSession s(profile);
    if (!s.ok()) return 1;
    std::vector<CLI_ACCOUNT_LINE> lines;
    for (int i = 0; i < Account_GetCount(); ++i) {
        const ACCOUNT* a = Account_Get(nullptr, i);
        lines.push_back({a->Name, a->ChkServer, a->ChkLogin, a->ChkPort});
    }
    Cli_PrintAccounts(lines);
    return 0;
}

int Cli_Options(const std::string& profile, const std::vector<std::string>* assignments) {
    CliSession s(profile);
    if (!s.ok()) return 1;
    if (!assignments) {
        for (const auto& [name, value] : GlobalData_ListOptions())
            std::printf("%s=%s\n", name.c_str(), value.c_str());
        return 0;
    }
    for (const std::string& arg : *assignments) {
        const size_t eq = arg.find('=');
        const uint32_t rc = eq == std::string::npos
                                ? ERR_BADARG
                                : GlobalData_SetOptionText(std::string_view(arg).substr(0, eq),
                                                           std::string_view(arg).substr(eq + 1));
        if (rc != 0) {
            std::fprintf(stderr,
                         "inboxwarden-cli: '%s': %s; 'inboxwarden-cli options' lists them\n",
                         Cli_Printable(arg).c_str(),
                         eq == std::string::npos ? "expected NAME=VALUE"
                         : rc == ERR_NOT_FOUND   ? "there is no such option"
                                                 : "not a value this option takes");
            return 2;
        }
    }
    if (const uint32_t rc = GlobalData_Save(); rc != 0) {
        Cli_Failed("the options could not be stored", rc);
        return 1;
    }
    s.changed();
    return 0;
}

int Cli_Account(const std::string& profile, const CLI_ACCOUNT_ARGS& args) {
    const std::string& verb = args.verb;
    // Said before the store is opened, in the command's words.
    const std::string& newName = verb == "rename" ? args.newName : args.name;
    if (verb == "add" || verb == "rename") {
        if (const char* problem = Account_NameProblem(newName)) {
            std::fprintf(stderr, "inboxwarden-cli: cannot %s '%s': %s\n", verb.c_str(),
                         Cli_Printable(newName).c_str(), problem);
            return 2;
        }
    }
    CliSession s(profile);
    if (!s.ok()) return 1;
    uint32_t rc = 0;
    if (verb == "add" || verb == "set") {
        ACCOUNT* a;
        if (verb == "add") {
            a = Account_Add(args.name, &rc);
            if (!a) {
                Cli_Failed("cannot add '" + Cli_Printable(args.name) + "'", rc);
                return 1;
            }
        } else if (!(a = Cli_FindAccount(args.name))) {
            return 1;
        }
        if (const int u = applyFields(*a, args); u) {
            if (verb == "add") {
                std::string why;
                Account_Delete(a, &why);
                if (!why.empty()) UserMsg_Show("Reg_DeleteBranch", why, UM_OK | UM_ICONERROR);
            }
            return u;
        }
        std::string keyringProblem;
        rc = Account_Save(a, -1, &keyringProblem);
        if (rc == 0 && !keyringProblem.empty()) {
            // This process ends now: a password only it holds is lost.
            s.changed();
            std::fprintf(stderr,
                         "inboxwarden-cli: the desktop keyring could not take the password of "
                         "'%s'; the account is saved without it\n",
                         Cli_Printable(a->Name).c_str());
            return 1;
        }
    } else if (verb == "rename") {
        ACCOUNT* a = Cli_FindAccount(args.name);
        if (!a) return 1;
        // The records move with the account only when they are in the store.
        NOTICES notices;
        rc = Settings_ImportMessages(&notices);
        UserMsg_ShowNotices(notices);
        std::string why;
        if (rc == 0) rc = Account_Rename(a, args.newName, &why);
        if (!why.empty()) UserMsg_Show("Account_Rename", why, UM_OK | UM_ICONERROR);
        if (rc == 1) rc = 0;
    } else {
        ACCOUNT* a = Cli_FindAccount(args.name);
        if (!a) return 1;
        std::string why;
        rc = Account_Delete(a, &why);
        if (!why.empty()) UserMsg_Show("Reg_DeleteBranch", why, UM_OK | UM_ICONERROR);
    }
    if (rc != 0) {
        Cli_Failed("cannot " + verb + " '" + Cli_Printable(args.name) + "'", rc);
        return 1;
    }
    s.changed();
    return 0;
}

int Cli_Box(const std::string& profile, const std::string& name, bool json) {
    if (CliBus_ProgramRuns()) return CliBus_Box(profile, name, json);
    CliSession s(profile);
    if (!s.ok()) return 1;
    ACCOUNT* a = Cli_FindAccount(name);
    if (!a) return 1;
    // Shown as loaded, left as stored: a kept tree goes back to the profile
    // as it is, and the next start must still announce what is new.
    NOTICES notices;
    Settings_LoadMessages(false, &notices, true);
    UserMsg_ShowNotices(notices);
    MSGBOX* box = a->hMsgBox;
    std::vector<CLI_BOX_ROW> rows;
    rows.reserve(MsgBox_GetCount(box));
    for (int i = 0; i < MsgBox_GetCount(box); ++i) {
        const MSG_RECORD* r = MsgBox_GetMsg(box, i);
        rows.push_back({r->MsgId().c_str(), utf8(r->From()), utf8(r->ReplyTo()), utf8(r->To()),
                        utf8(r->Subject()), utf8(r->SizeText()), r->Size, r->HasAttach, r->Status,
                        DateTime_Text(r->Date)});
    }
    Cli_PrintBox(rows, json);
    return 0;
}

int Cli_Profile(const std::string& profile, const std::string& verb, const std::string& file,
                bool withPasswords) {
    CliSession s(profile);
    if (!s.ok()) return 1;
    const std::string active = Settings_ActivePath();
    if (verb == "export") {
        Settings_SetExportPath(file);
        if (Settings_ExportToFile(0, nullptr, withPasswords) != 1) {
            std::fprintf(stderr, "inboxwarden-cli: cannot write '%s': %s\n",
                         Cli_Printable(file).c_str(), Cli_LastSystemError().c_str());
            return 1;
        }
        return 0;
    }
    // Import: the file replaces the whole configuration of the active profile.
    NOTICES notices;
    Settings_Abort(&notices);
    uint32_t rc = Profile_ImportSettings(file, PROFILE_MAGIC, PROFILE_ROOT_NAME, REG_ROOT_PATH,
                                         nullptr, &notices);
    if (rc == 0) rc = Profile_ImportMessages(file, &notices);
    UserMsg_ShowNotices(notices);
    if (rc != 0) {
        std::fprintf(stderr, "inboxwarden-cli: cannot import '%s': %s; nothing changed\n",
                     Cli_Printable(file).c_str(), Cli_ProfileProblem(rc).c_str());
        notices.clear();
        Settings_Initialize(active, 0, &notices); // the profile itself is untouched
        UserMsg_ShowNotices(notices);
        return 1;
    }
    notices.clear();
    const uint32_t started = Settings_FastInitialize(active, 0, &notices);
    UserMsg_ShowNotices(notices);
    if (started != 0) return 1;
    s.changed();
    return 0;
}
