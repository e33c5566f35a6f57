// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/settings/settings_model.h"
#include "platform/installer_date.h"

#include "common/status.h"
#include "common/translate.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>

namespace {

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front())))
        s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
        s.remove_suffix(1);
    return s;
}

SETTINGS_MESSAGE said(const char* text) {
    return {"Inboxwarden", text};
}

// Copies the editor into the record; passwords only when edited.
void copyInto(const ACCOUNT_FORM& f, ACCOUNT* a) {
    int32_t minutes = a->ChkTime;
    Settings_ParseUnsigned(f.chkTime, &minutes);
    a->CheckIt = f.checkIt;
    a->UseSchedule = f.useSchedule;
    a->Schedule = f.schedule;
    a->ChkTime = minutes;
    a->FullUserName = f.fullUserName;
    a->Email = f.email;
    a->ReplyAdr = f.replyAdr;
    a->ChkServer = f.chkServer;
    a->ChkLogin = f.chkLogin;
    if (f.chkPswd.edited) a->ChkPswd = f.chkPswd.text;
    a->ChkPswdType = f.chkPswdType;
    a->ChkPswdStore = f.chkPswdInKeyring ? ACCOUNT_PSWD_IN_KEYRING : ACCOUNT_PSWD_IN_STORE;
    // A password that is asked for is not kept.
    if (a->ChkPswdType == 2) a->ChkPswd.clear();
    a->DontCleanOldMsgs = f.dontCleanOldMsgs;
    a->SendServer = f.sendServer;
    a->AutoApplySig = f.autoApplySig;
    a->Signature = f.signature;
    a->MailClnt = f.mailClnt;
    a->NewMailSnd = f.newMailSnd;
    a->ChkPort = f.chkPort;
    a->ChkTmout = f.chkTmout;
    a->ChkAuthType = f.chkAuthType;
    a->ChkSecurity = f.chkSecurity;
    a->ChkCertPolicy = f.chkCertPolicy;
    a->ChkCertPin = f.chkCertPin;
    a->SendPort = f.sendPort;
    a->SendTmout = f.sendTmout;
    a->SendSecured = f.sendSecured;
    a->SendAuthType = f.sendAuthType;
    a->SendPswdType = f.sendPswdType;
    a->SendPswdStore = f.sendPswdInKeyring ? ACCOUNT_PSWD_IN_KEYRING : ACCOUNT_PSWD_IN_STORE;
    if (f.sendSecured == 1) {
        a->SendLogin = f.sendLogin;
        if (f.sendPswd.edited) a->SendPswd = f.sendPswd.text;
        if (a->SendPswdType == 2) a->SendPswd.clear();
    } else {
        a->SendLogin.clear();
        a->SendPswd.clear();
    }
    a->SendSecurity = f.sendSecurity;
    a->SendCertPolicy = f.sendCertPolicy;
    a->SendCertPin = f.sendCertPin;
    // The filter's variables follow the login and address.
    if (a->FilterHandle && Account_FilterOps())
        Account_FilterOps()->AssignVars(a->FilterHandle, a->ChkLogin.c_str(), a->Email.c_str());
}

} // namespace

bool Settings_ParseUnsigned(std::string_view text, int32_t* value) {
    text = trimmed(text);
    if (text.empty()) return false;
    uint32_t v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || v > INT32_MAX) return false;
    *value = static_cast<int32_t>(v);
    return true;
}

ACCOUNT_FORM AccountForm_FromAccount(const ACCOUNT* account) {
    ACCOUNT defaults;
    Account_SetDefaults(&defaults);
    const ACCOUNT& a = account ? *account : defaults;
    ACCOUNT_FORM f;
    f.name = account ? a.Name : "";
    f.checkIt = a.CheckIt != 0;
    f.useSchedule = a.UseSchedule != 0;
    f.schedule = a.Schedule;
    f.chkTime = std::to_string(a.ChkTime);
    f.fullUserName = a.FullUserName;
    f.email = a.Email;
    f.replyAdr = a.ReplyAdr;
    f.chkServer = a.ChkServer;
    f.chkLogin = a.ChkLogin;
    f.chkPswdType = a.ChkPswdType;
    f.chkPswdInKeyring = a.ChkPswdStore == ACCOUNT_PSWD_IN_KEYRING;
    f.dontCleanOldMsgs = a.DontCleanOldMsgs != 0;
    f.sendServer = a.SendServer;
    f.autoApplySig = a.AutoApplySig != 0;
    f.signature = a.Signature;
    f.mailClnt = a.MailClnt;
    f.newMailSnd = a.NewMailSnd;
    f.chkPort = a.ChkPort;
    f.chkTmout = a.ChkTmout;
    f.chkAuthType = a.ChkAuthType;
    f.chkSecurity = a.ChkSecurity;
    f.chkCertPolicy = a.ChkCertPolicy;
    f.chkCertPin = a.ChkCertPin;
    f.sendPort = a.SendPort;
    f.sendTmout = a.SendTmout;
    f.sendSecured = a.SendSecured;
    f.sendLogin = a.SendLogin;
    f.sendPswdType = a.SendPswdType;
    f.sendPswdInKeyring = a.SendPswdStore == ACCOUNT_PSWD_IN_KEYRING;
    f.sendAuthType = a.SendAuthType;
    f.sendSecurity = a.SendSecurity;
    f.sendCertPolicy = a.SendCertPolicy;
    f.sendCertPin = a.SendCertPin;
    return f;
}

bool AccountForm_Differs(const ACCOUNT_FORM& form, const ACCOUNT* account) {
    ACCOUNT_FORM stored = AccountForm_FromAccount(account);
    ACCOUNT_FORM shown = form;
    // Blanks around a name rename nothing; a typed password equal to the
    // stored one changes nothing either.
    shown.name = std::string(trimmed(shown.name));
    int32_t minutes = 0;
    if (Settings_ParseUnsigned(shown.chkTime, &minutes)) shown.chkTime = std::to_string(minutes);
    const auto same = [](const PASSWORD_FIELD& p, const std::string& s) {
        return !p.edited || p.text == s;
    };
    if (!same(shown.chkPswd, account ? account->ChkPswd : "")) return true;
    if (!same(shown.sendPswd, account ? account->SendPswd : "")) return true;
    shown.chkPswd = stored.chkPswd;
    shown.sendPswd = stored.sendPswd;
    return !(shown == stored);
}

uint32_t AccountForm_Save(ACCOUNT_FORM* form, ACCOUNT** account, SETTINGS_MESSAGE* message) {
    const std::string name(trimmed(form->name));
    if (name.empty()) {
        *message = said(IW_N_("Inboxwarden", "Empty account name."));
        return ERR_BADARG;
    }
    if (Account_NameProblem(name)) {
        *message = said(IW_N_("Inboxwarden", "Invalid account name."));
        return ERR_BADARG;
    }
    if (ACCOUNT* same = Account_Get(name.c_str(), -1); same && same != *account) {
        *message = said(IW_N_("Inboxwarden", "Account exist."));
        return ERR_BADARG;
    }
    // The table's names are unique ignoring case: a change of case alone
    // cannot be stored as a rename.
    if (*account && name != (*account)->Name && Account_Get(name.c_str(), -1) == *account) {
        *message = said(IW_N_("Inboxwarden", "Account exist."));
        return ERR_BADARG;
    }
    int32_t minutes = 0;
    if (!Settings_ParseUnsigned(form->chkTime, &minutes)) {
        *message = kSettingsBadNumber;
        return ERR_BADARG;
    }
    if (form->checkIt && form->useSchedule && !Schedule_Any(form->schedule)) {
        *message = said(IW_N_("Inboxwarden", "No Schedule!"));
        return ERR_BADARG;
    }

    ACCOUNT* a = *account;
    if (!a) {
        uint32_t status = 0;
        a = Account_Add(name, &status);
        if (!a) {
            *message = status == ERR_NOMEM ? said(IW_N_("Inboxwarden", "No memory."))
                                           : said(IW_N_("Inboxwarden", "Account exist."));
            return status == ERR_NOMEM ? ERR_NOMEM : ERR_BADARG;
        }
    } else if (name != a->Name) {
        std::string error;
        const uint32_t rc = Account_Rename(a, name, &error);
        if (rc == ERR_EXISTS) {
            *message = said(IW_N_("Inboxwarden", "Account exist."));
            return ERR_BADARG;
        }
        if (rc != 0 && rc != 1) {
            *message = {"Account_Rename", error.empty()
                                              ? IW_N_("Inboxwarden", "The account was not renamed.")
                                              : error};
            return ERR_OPERATION;
        }
    }
    copyInto(*form, a);
    *account = a;
    form->name = name;
    form->chkTime = std::to_string(a->ChkTime);
    form->chkPswd = {};
    form->sendPswd = {};
    if (!(*form == AccountForm_FromAccount(a))) *form = AccountForm_FromAccount(a);
    std::string keyringProblem;
    if (const uint32_t rc = Account_Save(a, -1, &keyringProblem); rc != 0) {
        char text[96];
        std::snprintf(text, sizeof text, "The account \"%.40s\" was not saved (0x%x).",
                      a->Name.c_str(), rc);
        *message = {"Account_Save", text};
        return ERR_OPERATION;
    }
    if (!keyringProblem.empty()) *message = said(keyringProblem.c_str());
    return 0;
}

std::string AccountForm_SaveQuestion(std::string_view name) {
    return "Do you want save account \"" + std::string(name) + "\"?";
}
std::string AccountForm_DeleteQuestion(std::string_view name) {
    return "Do you want delete account \"" + std::string(name) + "\"?";
}

std::string Settings_RefusedFingerprint(std::string_view statusText) {
    const size_t at = statusText.rfind("SHA-256 ");
    if (at == std::string_view::npos) return {};
    std::string_view hex = statusText.substr(at + 8);
    if (hex.size() < 64) return {};
    hex = hex.substr(0, 64);
    if (!std::all_of(hex.begin(), hex.end(),
                     [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }))
        return {};
    std::string out(hex);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](char c) { return char(std::tolower(static_cast<unsigned char>(c))); });
    return out;
}

// ---- Time table -------------------------------------------------------------------

std::vector<std::string> Schedule_Entries(const std::array<uint16_t, 25>& schedule) {
    std::vector<std::string> out;
    for (int hour = 0; hour < 24; ++hour)
        for (int slot = 0; slot < 12; ++slot)
            if (schedule[size_t(hour) + 1] & (1u << slot)) {
                char text[8];
                std::snprintf(text, sizeof text, "%02d:%02d", hour, slot * 5);
                out.emplace_back(text);
            }
    return out;
}

void Schedule_SetEntries(std::array<uint16_t, 25>* schedule,
                         const std::vector<std::string>& entries) {
    for (size_t i = 1; i < schedule->size(); ++i)
        (*schedule)[i] = 0;
    for (const std::string& e : entries) {
        int hour = -1, minute = -1, used = 0;
        if (std::sscanf(e.c_str(), "%2d:%2d%n", &hour, &minute, &used) != 2 ||
            used != int(e.size()) || hour < 0 || hour > 23 || minute < 0 || minute > 55 ||
            minute % 5 != 0)
            continue;
        (*schedule)[size_t(hour) + 1] |= uint16_t(1u << (minute / 5));
    }
}

bool Schedule_Any(const std::array<uint16_t, 25>& schedule) {
    return std::any_of(schedule.begin(), schedule.end(),
                       [](uint16_t m) { return (m & 0x0FFF) != 0; });
}

// ---- Common page --------------------------------------------------------------

COMMON_FORM CommonForm_FromGlobal(const GLOBAL_DATA* gd, int32_t defMenu, int32_t snglClickMenu) {
    const GLOBAL_DATA defaults;
    const GLOBAL_DATA& g = gd ? *gd : defaults;
    COMMON_FORM f;
    f.checkOnStart = std::clamp<int32_t>(g.CheckOnStart, 0, 2);
    f.startOnLogon = g.StartOnLogon;
    f.showProgressWindow = g.ShowProgressWindow;
    f.sndSync = g.SndSync;
    f.notifyOnlyOnce = g.NotifyOnlyOnce;
    f.newMailVisual = g.NewMailVisual >= NMV_SHOW_MAILBOXES && g.NewMailVisual <= NMV_LAST
                          ? g.NewMailVisual
                          : NMV_POPUP;
    f.desktopNotify = g.DesktopNotify;
    f.nLinesDwnLoad = std::to_string(g.NLinesDwnLoad);
    f.askNLines = g.AskNLines;
    f.confirmMsgDel = g.ConfirmMsgDel;
    f.confirmMsgSend = g.ConfirmMsgSend;
    f.confirmReplySave = g.ConfirmReplySave;
    f.wholeMsg = g.WholeMsg;
    f.showHdr = g.ShowHdr;
    f.savTxtWndPos = g.SavTxtWndPos;
    f.attachCheck = g.AttachCheck;
    f.optimizeStartup = g.OptimizeStartup;
    f.replyPrepend = g.ReplyPrepend.empty() ? SETTINGS_REPLY_PREPEND_DEFAULT : g.ReplyPrepend;
    f.signature = g.Signature;
    f.mailReader = g.MailReader;
    f.newMailSound = g.NewMailSound;
    f.dwnRtDir = g.DwnRtDir;
    f.spamRtDir = g.SpamRtDir;
    f.rFont = g.RFont;
    f.defMenu = defMenu;
    f.snglClickMenu = snglClickMenu;
    return f;
}

uint32_t CommonForm_Apply(const COMMON_FORM& f, GLOBAL_DATA* g, SETTINGS_MESSAGE* message) {
    int32_t lines = 0;
    if (!Settings_ParseUnsigned(f.nLinesDwnLoad, &lines)) {
        *message = kSettingsBadNumber;
        return ERR_BADARG;
    }
    g->CheckOnStart = uint8_t(std::clamp<int32_t>(f.checkOnStart, 0, 2));
    g->StartOnLogon = f.startOnLogon;
    g->ShowProgressWindow = f.showProgressWindow;
    g->SndSync = f.sndSync;
    g->NotifyOnlyOnce = f.notifyOnlyOnce;
    g->NewMailVisual = f.newMailVisual >= NMV_SHOW_MAILBOXES && f.newMailVisual <= NMV_LAST
                           ? f.newMailVisual
                           : NMV_POPUP;
    g->DesktopNotify = f.desktopNotify;
    g->NLinesDwnLoad = lines;
    g->AskNLines = f.askNLines;
    g->ConfirmMsgDel = f.confirmMsgDel;
    g->ConfirmMsgSend = f.confirmMsgSend;
    g->ConfirmReplySave = f.confirmReplySave;
    g->WholeMsg = f.wholeMsg;
    g->ShowHdr = f.showHdr;
    g->SavTxtWndPos = f.savTxtWndPos;
    g->AttachCheck = f.attachCheck;
    g->OptimizeStartup = f.optimizeStartup;
    g->ReplyPrepend = f.replyPrepend;
    g->Signature = f.signature;
    g->MailReader = f.mailReader;
    g->NewMailSound = f.newMailSound;
    g->DwnRtDir = f.dwnRtDir;
    g->SpamRtDir = f.spamRtDir;
    g->RFont = f.rFont;
    return 0;
}

std::string Settings_FormatFont(const SETTINGS_FONT& font) {
    char text[GD_RFONT_SIZE];
    std::snprintf(text, sizeof text, "%d %d %d %d >%s", font.height, font.weight, font.italic,
                  font.charset, font.face.c_str());
    return text;
}

bool Settings_ParseFont(std::string_view text, SETTINGS_FONT* font) {
    const std::string s(text);
    int used = 0;
    SETTINGS_FONT f;
    if (std::sscanf(s.c_str(), "%d %d %d %d >%n", &f.height, &f.weight, &f.italic, &f.charset,
                    &used) < 4 ||
        used <= 0 || size_t(used) >= s.size())
        return false;
    f.face = s.substr(size_t(used));
    *font = f;
    return true;
}

// ---- Connection page ----------------------------------------------------------

CONNECTION_FORM ConnectionForm_From(const DIALUP_DATA* d, const GLOBAL_DATA* g,
                                    bool dialUpAvailable) {
    CONNECTION_FORM f;
    if (d) {
        f.dialMode = d->UseAutoDial <= 2 ? d->UseAutoDial : 0;
        if (!dialUpAvailable && f.dialMode == 1) f.dialMode = 0;
        f.entry = d->Entry;
        f.hangUp = d->UseAutoHangUp;
        f.dontHangUpIfNew = d->DontHangUpIfNew;
    }
    if (g) {
        f.proxyServer = g->ProxySocksServer;
        f.proxyPort = std::to_string(g->ProxySocksParam & 0x00FFFFFF);
        f.socksVersion = (g->ProxySocksParam >> 24) == 0x04 ? 4 : 5;
    }
    return f;
}

uint32_t ConnectionForm_Apply(const CONNECTION_FORM& f, DIALUP_DATA* d, GLOBAL_DATA* g,
                              SETTINGS_MESSAGE* message) {
    if (f.dialMode == 1 && trimmed(f.entry).empty()) {
        *message = said(IW_N_("Inboxwarden", "Not valid Dial-UP entry"));
        return ERR_BADARG;
    }
    int32_t port = 0;
    if (!Settings_ParseUnsigned(f.proxyPort, &port) || port > 0x00FFFFFF) {
        *message = kSettingsBadNumber;
        return ERR_BADARG;
    }
    if (d) {
        d->UseAutoDial = uint8_t(std::clamp<int32_t>(f.dialMode, 0, 2));
        d->Entry = std::string(trimmed(f.entry));
        d->UseAutoHangUp = f.hangUp;
        d->DontHangUpIfNew = f.dontHangUpIfNew;
    }
    g->ProxySocksServer = std::string(trimmed(f.proxyServer));
    g->ProxySocksParam = (uint32_t(f.socksVersion == 4 ? 0x04 : 0x05) << 24) | uint32_t(port);
    return 0;
}

// ---- Auto Update page -----------------------------------------------------------

UPDATE_FORM UpdateForm_FromGlobal() {
    UPDATE_FORM f;
    f.installer = GlobalData_GetText(GD_REMOTEINSTALLER);
    f.disable = GlobalData_GetNumber(GD_REMOTEINSTALLERENABLE) != 1;
    f.createGroup = GlobalData_GetNumber(GD_REMOTEINSTALLERGROUP) != 0;
    f.createIcon = GlobalData_GetNumber(GD_REMOTEINSTALLERICON) != 0;
    return f;
}

uint32_t UpdateForm_Apply(const UPDATE_FORM& f, GLOBAL_DATA* g) {
    g->RemoteInstaller = f.installer;
    uint32_t rc = GlobalData_SetParam(GD_REMOTEINSTALLERENABLE, f.disable ? 0 : 1);
    if (const uint32_t r = GlobalData_SetParam(GD_REMOTEINSTALLERGROUP, f.createGroup); r) rc = r;
    if (const uint32_t r = GlobalData_SetParam(GD_REMOTEINSTALLERICON, f.createIcon); r) rc = r;
    return rc;
}

uint32_t UpdateForm_Verify(const std::string& path, DATETIME* date) {
    const uint32_t rc = InstallerDate_Read(path, date);
    if (rc == 0) GlobalData_SetParam(GD_REMOTEINSTALLER, reinterpret_cast<intptr_t>(path.c_str()));
    return rc;
}
