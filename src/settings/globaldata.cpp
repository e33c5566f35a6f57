// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/globaldata.h"
#include "common/status.h"
#include "common/text.h"
#include "platform/autostart.h"
#include "platform/log.h"
#include "platform/paths.h"

#include <atomic>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

struct Option {
    int number;
    const char* name;
    uint32_t type;
};

// Stored options held in the record, in parameter order.
constexpr Option kOptions[] = {
    {GD_PROXYSOCKSSERVER, "ProxySocksServer", REG_T_STR},
    {GD_PROXYSOCKSPARAM, "ProxySocksParam", REG_T_DWORD},
    {GD_CHECKONSTART, "Check On Start", REG_T_BOOL},
    {GD_NEWMAILVISUAL, "NewMailVisual", REG_T_DWORD},
    {GD_NOTIFYONLYONCE, "NotifyOnlyOnce", REG_T_BOOL},
    {GD_NEWMAILSOUND, "NewMailSound", REG_T_STR},
    {GD_MAILREADER, "MailReader", REG_T_STR},
    {GD_REPLYPREPEND, "ReplyPrepend", REG_T_STR},
    {GD_SIGNATURE, "Signature", REG_T_STR},
    {GD_DWNRTDIR, "DwnRtDir", REG_T_STR},
    {GD_SPAMRTDIR, "SpamRtDir", REG_T_STR},
    {GD_ATTACHCHECK, "AttachCheck", REG_T_BOOL},
    {GD_SAVTXTWNDPOS, "SavTxtWndPos", REG_T_BOOL},
    {GD_WHOLEMSG, "WholeMsg", REG_T_BOOL},
    {GD_SHOWHDR, "ShowHdr", REG_T_BOOL},
    {GD_ASKNLINES, "AskNLines", REG_T_BOOL},
    {GD_CONFIRMMSGDEL, "ConfirmMsgDel", REG_T_BOOL},
    {GD_CONFIRMREPLYSAVE, "ConfirmReplySave", REG_T_BOOL},
    {GD_CONFIRMMSGSEND, "ConfirmMsgSend", REG_T_BOOL},
    {GD_NLINESDWNLOAD, "NLinesDwnLoad", REG_T_DWORD},
    {GD_RFONT, "RFont", REG_T_STRBUF},
    {GD_STARTONLOGON, "StartOnLogon", REG_T_BOOL},
    {GD_SHOWPROGRESSWINDOW, "ShowProgressWindow", REG_T_BOOL},
    {GD_SNDSYNC, "SndSync", REG_T_BOOL},
    {GD_GLBFILTERFILE, "GlbFilterFile", REG_T_STR},
    {GD_REMOTEINSTALLER, "RemoteInstaller", REG_T_STR},
    {GD_BUTTONSIZE, "ButtonSize", REG_T_DWORD},
    {GD_LOGOSIZE, "LogoSize", REG_T_DWORD},
    {GD_OPTIMIZESTARTUP, "OptimizeStartup", REG_T_BOOL},
    {GD_ADDRESSBOOKFILES, "AddressBookFiles", REG_T_STR},
    {GD_DESKTOPNOTIFY, "DesktopNotify", REG_T_BOOL},
};

constexpr const char* kGeometryNames[] = {
    "MsgDlgSliderPos", "MsgDlgFromWidth", "MsgDlgToWidth", "MsgDlgSubjWidth", "MsgDlgSizeWidth",
    "MsgDlgDateWidth", "MsgDlg_X",        "MsgDlg_Y",      "MsgDlg_Width",    "MsgDlg_Height",
    "MsgDlgSort",      "Txt_X",           "Txt_Y",         "Txt_W",           "Txt_H",
    "Txt_S",           "Comp_X",          "Comp_Y",        "Comp_W",          "Comp_H",
    "Comp_S"};
static_assert(std::size(kGeometryNames) == GD_GEOMETRY_LAST - GD_GEOMETRY_FIRST + 1);

struct Direct {
    int number;
    const char* name;
};
constexpr Direct kDirect[] = {
    {GD_ENABLED, "Enabled"},
    {GD_DEFMENU, "DefMenu"},
    {GD_SNGLCLICKMENU, "SnglClickMenu"},
    {GD_LASTTXTSEARCH, "LastTxtSearch"},
    {GD_REMOTEINSTALLERENABLE, "RemoteInstallerEnable"},
    {GD_REMOTEINSTALLERICON, "RemoteInstallerIcon"},
    {GD_REMOTEINSTALLERGROUP, "RemoteInstallerGroup"},
};

std::unique_ptr<GLOBAL_DATA> g_data;
// The remind-later flag: set by the popup on the UI thread, read and cleared
// by the mail-check worker, and never stored.
std::atomic<uint8_t> g_runtime8{0};
REGKEY* g_root = nullptr;
bool g_manageLogon = false;

std::unique_ptr<DIALUP_DATA> g_dialup;
REGKEY* g_dialRoot = nullptr;

void* field(GLOBAL_DATA& d, int number) {
    switch (number) {
    case GD_PROXYSOCKSSERVER:
        return &d.ProxySocksServer;
    case GD_PROXYSOCKSPARAM:
        return &d.ProxySocksParam;
    case GD_CHECKONSTART:
        return &d.CheckOnStart;
    case GD_NEWMAILVISUAL:
        return &d.NewMailVisual;
    case GD_NOTIFYONLYONCE:
        return &d.NotifyOnlyOnce;
    case GD_NEWMAILSOUND:
        return &d.NewMailSound;
    case GD_MAILREADER:
        return &d.MailReader;
    case GD_REPLYPREPEND:
        return &d.ReplyPrepend;
    case GD_SIGNATURE:
        return &d.Signature;
    case GD_DWNRTDIR:
        return &d.DwnRtDir;
    case GD_SPAMRTDIR:
        return &d.SpamRtDir;
    case GD_ATTACHCHECK:
        return &d.AttachCheck;
    case GD_SAVTXTWNDPOS:
        return &d.SavTxtWndPos;
    case GD_WHOLEMSG:
        return &d.WholeMsg;
    case GD_SHOWHDR:
        return &d.ShowHdr;
    case GD_ASKNLINES:
        return &d.AskNLines;
    case GD_CONFIRMMSGDEL:
        return &d.ConfirmMsgDel;
    case GD_CONFIRMREPLYSAVE:
        return &d.ConfirmReplySave;
    case GD_CONFIRMMSGSEND:
        return &d.ConfirmMsgSend;
    case GD_NLINESDWNLOAD:
        return &d.NLinesDwnLoad;
    case GD_RFONT:
        return &d.RFont;
    case GD_STARTONLOGON:
        return &d.StartOnLogon;
    case GD_SHOWPROGRESSWINDOW:
        return &d.ShowProgressWindow;
    case GD_SNDSYNC:
        return &d.SndSync;
    case GD_GLBFILTERFILE:
        return &d.GlbFilterFile;
    case GD_REMOTEINSTALLER:
        return &d.RemoteInstaller;
    case GD_BUTTONSIZE:
        return &d.ButtonSize;
    case GD_LOGOSIZE:
        return &d.LogoSize;
    case GD_OPTIMIZESTARTUP:
        return &d.OptimizeStartup;
    case GD_ADDRESSBOOKFILES:
        return &d.AddressBookFiles;
    case GD_DESKTOPNOTIFY:
        return &d.DesktopNotify;
    default:
        return nullptr;
    }
}

uint32_t setDword(const char* name, uint32_t v) {
    return Reg_SetValue(g_root, HREGKEY_NONE, name, &v, sizeof v, REG_T_DWORD);
}

uint32_t setBool(const char* name, uint8_t v) {
    return Reg_SetValue(g_root, HREGKEY_NONE, name, &v, 1, REG_T_BOOL);
}

void openGlobalFilter(GLOBAL_DATA& d) {
    const ACCOUNT_FILTER_OPS* ops = Account_FilterOps();
    if (!ops || d.GlbFilter) return;
    ops->Open(ACCOUNT_RESERVED_NAME, d.GlbFilterFile.c_str(), &d.GlbFilter);
}

void closeGlobalFilter(GLOBAL_DATA& d) {
    const ACCOUNT_FILTER_OPS* ops = Account_FilterOps();
    if (ops && d.GlbFilter) ops->Close(&d.GlbFilter);
    d.GlbFilter = nullptr;
}

const char* text(intptr_t v) {
    return v ? reinterpret_cast<const char*>(v) : "";
}

} // namespace

int32_t GlobalData_IntervalMs(int32_t minutes) {
    const int64_t m = minutes <= 1 ? 10 : minutes;
    const int64_t ms = m * 60000;
    return ms > INT_MAX ? INT_MAX : static_cast<int32_t>(ms);
}

uint32_t GlobalData_Load(REGKEY* root) {
    if (!root) return ERR_BADARG;
    if (g_data) closeGlobalFilter(*g_data);
    g_runtime8.store(0);
    auto d = std::make_unique<GLOBAL_DATA>();
    for (const Option& o : kOptions) {
        void* f = field(*d, o.number);
        if (o.type == REG_T_STRBUF) {
            char buf[GD_RFONT_SIZE];
            uint32_t len = sizeof buf;
            if (Reg_GetValue(root, HREGKEY_NONE, o.name, buf, &len, REG_T_STRBUF) == 0)
                d->RFont = buf;
        } else {
            Reg_GetValue(root, HREGKEY_NONE, o.name, f, nullptr, o.type);
        }
    }
    for (size_t i = 0; i < std::size(kGeometryNames); ++i) {
        int32_t v = GD_UNSET;
        if (Reg_GetValue(root, HREGKEY_NONE, kGeometryNames[i], &v, nullptr, REG_T_DWORD) != 0)
            v = GD_UNSET;
        d->Geometry[i] = v;
    }
    if (d->NewMailVisual < NMV_NONE || d->NewMailVisual > NMV_LAST) d->NewMailVisual = NMV_POPUP;
    if (d->ButtonSize != 1 && d->ButtonSize != 2) d->ButtonSize = 1;
    if (d->LogoSize != 1 && d->LogoSize != 2) d->LogoSize = 1;
    g_root = root;
    g_data = std::move(d);
    openGlobalFilter(*g_data);
    return 0;
}

uint32_t GlobalData_Save() {
    if (!g_data || !g_root) return ERR_NOT_READY;
    GLOBAL_DATA& d = *g_data;
    uint32_t result = 0;
    RegStoreBatch batch;
    for (const Option& o : kOptions) {
        const void* f = field(d, o.number);
        uint32_t rc = 0;
        switch (o.type) {
        case REG_T_STR:
        case REG_T_STRBUF:
            rc = Reg_SetValue(g_root, HREGKEY_NONE, o.name,
                              static_cast<const std::string*>(f)->c_str(), 0, REG_T_STR);
            break;
        case REG_T_DWORD:
            rc = Reg_SetValue(g_root, HREGKEY_NONE, o.name, f, 4, REG_T_DWORD);
            break;
        case REG_T_BOOL:
            rc = Reg_SetValue(g_root, HREGKEY_NONE, o.name, f, 1, REG_T_BOOL);
            break;
        }
        if (rc && !result) result = rc;
    }
    // Window geometry is saved too, or "remember window positions" could
    // never remember anything; unset values are left out.
    for (size_t i = 0; i < std::size(kGeometryNames); ++i) {
        if (d.Geometry[i] == GD_UNSET) continue;
        const uint32_t rc =
            Reg_SetValue(g_root, HREGKEY_NONE, kGeometryNames[i], &d.Geometry[i], 4, REG_T_DWORD);
        if (rc && !result) result = rc;
    }
    if (const uint32_t rc = batch.Commit(); rc && !result) result = ERR_OPERATION;
    if (g_manageLogon) {
        if (const int err = Autostart_Set(d.StartOnLogon != 0, Paths_ExeFile()); err)
            DebugLog_Write("GlobalData_Save: logon entry not updated (%d)\n", err);
    }
    return result ? ERR_OPERATION : 0;
}

uint32_t GlobalData_Free(int save) {
    if (!g_data) return 0;
    closeGlobalFilter(*g_data);
    const uint32_t rc = save ? GlobalData_Save() : 0;
    g_data.reset();
    return rc;
}

uint32_t GlobalData_Reload() {
    if (!g_data) return ERR_NOT_READY;
    REGKEY* root = g_root;
    GlobalData_Free(1);
    return GlobalData_Load(root);
}

GLOBAL_DATA* GlobalData_GetRecord() {
    return g_data.get();
}

int GlobalData_IsLoaded() {
    return g_data ? 1 : 0;
}

void GlobalData_SetManageLogon(bool manage) {
    g_manageLogon = manage;
}

bool GlobalData_ManagesLogon() {
    return g_manageLogon;
}

uint32_t GlobalData_GetParam(int number, intptr_t* value) {
    if (!value) return ERR_BADARG;
    *value = 0;
    if (number == GD_RUNTIME8) {
        *value = static_cast<int8_t>(g_runtime8.load());
        return 0;
    }
    if (!g_data) return ERR_NOT_READY;
    GLOBAL_DATA& d = *g_data;
    for (const Direct& dr : kDirect) {
        if (dr.number != number) continue;
        if (number == GD_LASTTXTSEARCH) {
            d.LastTxtSearchCache.clear();
            const uint32_t rc = Reg_GetValue(g_root, HREGKEY_NONE, dr.name, &d.LastTxtSearchCache,
                                             nullptr, REG_T_STR);
            *value = reinterpret_cast<intptr_t>(d.LastTxtSearchCache.c_str());
            return rc == ERR_NOT_FOUND ? 0 : rc;
        }
        if (number >= GD_REMOTEINSTALLERENABLE) {
            uint8_t b = number == GD_REMOTEINSTALLERENABLE ? 0 : 1;
            const uint32_t rc =
                Reg_GetValue(g_root, HREGKEY_NONE, dr.name, &b, nullptr, REG_T_BOOL);
            *value = static_cast<int8_t>(b);
            return rc;
        }
        int32_t v = number == GD_ENABLED ? 1 : 0;
        const uint32_t rc = Reg_GetValue(g_root, HREGKEY_NONE, dr.name, &v, nullptr, REG_T_DWORD);
        *value = v;
        return rc;
    }
    if (number >= GD_GEOMETRY_FIRST && number <= GD_GEOMETRY_LAST) {
        const int32_t v = d.Geometry[static_cast<size_t>(number - GD_GEOMETRY_FIRST)];
        if (v == GD_UNSET) return ERR_BADARG;
        *value = v;
        return 0;
    }
    if (number == GD_GLBFILTER) {
        openGlobalFilter(d);
        *value = reinterpret_cast<intptr_t>(d.GlbFilter);
        return 0;
    }
    for (const Option& o : kOptions) {
        if (o.number != number) continue;
        const void* f = field(d, number);
        switch (o.type) {
        case REG_T_STR:
        case REG_T_STRBUF:
            *value = reinterpret_cast<intptr_t>(static_cast<const std::string*>(f)->c_str());
            break;
        case REG_T_DWORD:
            *value = *static_cast<const int32_t*>(f);
            break;
        case REG_T_BOOL:
            *value = static_cast<int8_t>(*static_cast<const uint8_t*>(f));
            break;
        }
        return 0;
    }
    return ERR_BADARG;
}

std::string GlobalData_GetText(int number) {
    intptr_t v = 0;
    if (GlobalData_GetParam(number, &v) != 0 || v == 0) return {};
    return reinterpret_cast<const char*>(v);
}

int64_t GlobalData_GetNumber(int number) {
    intptr_t v = 0;
    GlobalData_GetParam(number, &v);
    return v;
}

FILTER_HANDLE GlobalData_GetFilter() {
    intptr_t v = 0;
    GlobalData_GetParam(GD_GLBFILTER, &v);
    return reinterpret_cast<FILTER_HANDLE>(v);
}

std::optional<GLOBAL_PROXY> GlobalData_GetProxy() {
    intptr_t param = 0;
    if (GlobalData_GetParam(GD_PROXYSOCKSPARAM, &param) != 0) return std::nullopt;
    return GLOBAL_PROXY{GlobalData_GetText(GD_PROXYSOCKSSERVER), static_cast<uint32_t>(param)};
}

uint32_t GlobalData_SetParam(int number, intptr_t value) {
    if (number == GD_RUNTIME8) {
        g_runtime8.store(static_cast<uint8_t>(value));
        return 0;
    }
    if (!g_data || !g_root) {
        DebugLog_WriteText("GlobalData_SetParam: registry key IS NULL\n");
        return ERR_NOT_READY;
    }
    GLOBAL_DATA& d = *g_data;
    switch (number) {
    case GD_ENABLED:
    case GD_DEFMENU:
    case GD_SNGLCLICKMENU:
        return setDword(kDirect[number].name, static_cast<uint32_t>(value));
    case GD_REMOTEINSTALLERENABLE:
        return setBool("RemoteInstallerEnable", static_cast<uint8_t>(value));
    case GD_REMOTEINSTALLERICON:
        return setBool("RemoteInstallerIcon", static_cast<uint8_t>(value));
    case GD_REMOTEINSTALLERGROUP:
        return setBool("RemoteInstallerGroup", static_cast<uint8_t>(value));
    case GD_SHOWPROGRESSWINDOW:
        d.ShowProgressWindow = static_cast<uint8_t>(value);
        return setBool("ShowProgressWindow", d.ShowProgressWindow);
    case GD_BUTTONSIZE:
        d.ButtonSize = static_cast<int32_t>(value);
        return setDword("ButtonSize", static_cast<uint32_t>(d.ButtonSize));
    case GD_LOGOSIZE:
        d.LogoSize = static_cast<int32_t>(value);
        return setDword("LogoSize", static_cast<uint32_t>(d.LogoSize));
    case GD_LASTTXTSEARCH:
        return Reg_SetValue(g_root, HREGKEY_NONE, "LastTxtSearch", text(value), 0, REG_T_STR);
    case GD_PROXYSOCKSSERVER:
        d.ProxySocksServer = text(value);
        return 0;
    case GD_PROXYSOCKSPARAM:
        d.ProxySocksParam = static_cast<uint32_t>(value);
        return 0;
    case GD_GLBFILTERFILE:
        if (d.GlbFilterFile != text(value)) {
            d.GlbFilterFile = text(value);
            closeGlobalFilter(d);
            openGlobalFilter(d);
        }
        return 0;
    case GD_REMOTEINSTALLER:
        if (d.RemoteInstaller != text(value)) d.RemoteInstaller = text(value);
        return 0;
    case GD_ADDRESSBOOKFILES:
        d.AddressBookFiles = text(value);
        return 0;
    case GD_GLBFILTER:
        d.GlbFilter = reinterpret_cast<FILTER_HANDLE>(value);
        return 0;
    default:
        if (number >= GD_GEOMETRY_FIRST && number <= GD_GEOMETRY_LAST) {
            d.Geometry[static_cast<size_t>(number - GD_GEOMETRY_FIRST)] =
                static_cast<int32_t>(value);
            return 0;
        }
        return ERR_BADARG;
    }
}

uint32_t DialUp_Load(REGKEY* root) {
    if (!root) return ERR_BADARG;
    auto d = std::make_unique<DIALUP_DATA>();
    Reg_GetValue(root, HREGKEY_NONE, "UseAutoDial", &d->UseAutoDial, nullptr, REG_T_BOOL);
    Reg_GetValue(root, HREGKEY_NONE, "UseAutoHangUp", &d->UseAutoHangUp, nullptr, REG_T_BOOL);
    Reg_GetValue(root, HREGKEY_NONE, "DontHangUpIfNew", &d->DontHangUpIfNew, nullptr, REG_T_BOOL);
    Reg_GetValue(root, HREGKEY_NONE, "DialUP Entry", &d->Entry, nullptr, REG_T_STR);
    g_dialRoot = root;
    g_dialup = std::move(d);
    return 0;
}

uint32_t DialUp_Save() {
    if (!g_dialup || !g_dialRoot) return ERR_NOT_READY;
    const DIALUP_DATA& d = *g_dialup;
    if (d.UseAutoDial == 1 && d.Entry.empty()) return ERR_BADARG;
    uint32_t rc = 0;
    RegStoreBatch batch;
    rc |= Reg_SetValue(g_dialRoot, HREGKEY_NONE, "UseAutoDial", &d.UseAutoDial, 1, REG_T_BOOL);
    rc |= Reg_SetValue(g_dialRoot, HREGKEY_NONE, "UseAutoHangUp", &d.UseAutoHangUp, 1, REG_T_BOOL);
    rc |= Reg_SetValue(g_dialRoot, HREGKEY_NONE, "DontHangUpIfNew", &d.DontHangUpIfNew, 1,
                       REG_T_BOOL);
    if (!d.Entry.empty())
        rc |= Reg_SetValue(g_dialRoot, HREGKEY_NONE, "DialUP Entry", d.Entry.c_str(), 0, REG_T_STR);
    if (batch.Commit() != REGSTORE_OK) rc = ERR_OPERATION;
    return rc ? ERR_OPERATION : 0;
}

void DialUp_Free() {
    g_dialup.reset();
    g_dialRoot = nullptr;
}

DIALUP_DATA* DialUp_GetRecord() {
    return g_dialup.get();
}

std::vector<std::pair<std::string, std::string>> GlobalData_ListOptions() {
    std::vector<std::pair<std::string, std::string>> out;
    if (!g_data) return out;
    GLOBAL_DATA& d = *g_data;
    for (const Option& o : kOptions) {
        const void* f = field(d, o.number);
        switch (o.type) {
        case REG_T_STR:
        case REG_T_STRBUF:
            out.emplace_back(o.name, *static_cast<const std::string*>(f));
            break;
        case REG_T_DWORD:
            if (o.number == GD_PROXYSOCKSPARAM) {
                // Port in the low 16 bits, SOCKS version in the top byte.
                char hex[16];
                std::snprintf(hex, sizeof hex, "0x%08x", d.ProxySocksParam);
                out.emplace_back(o.name, hex);
            } else {
                out.emplace_back(o.name, std::to_string(*static_cast<const int32_t*>(f)));
            }
            break;
        case REG_T_BOOL:
            out.emplace_back(o.name, std::to_string(*static_cast<const uint8_t*>(f)));
            break;
        }
    }
    return out;
}

uint32_t GlobalData_SetOptionText(std::string_view name, std::string_view value) {
    if (!g_data) return ERR_NOT_READY;
    const Option* option = nullptr;
    for (const Option& o : kOptions)
        if (Text_EqualsNoCase(name, o.name)) option = &o;
    if (!option) return ERR_NOT_FOUND;
    void* f = field(*g_data, option->number);
    if (option->type == REG_T_STR || option->type == REG_T_STRBUF) {
        for (unsigned char c : value)
            if (c < 0x20 || c == 0x7F) return ERR_BADARG;
        if (option->type == REG_T_STRBUF && value.size() >= GD_RFONT_SIZE) return ERR_BADARG;
        *static_cast<std::string*>(f) = std::string(value);
        return 0;
    }
    int64_t v = 0;
    const bool hex = value.size() > 2 && value[0] == '0' && (value[1] == 'x' || value[1] == 'X');
    const std::string_view digits = hex ? value.substr(2) : value;
    const auto r = std::from_chars(digits.data(), digits.data() + digits.size(), v, hex ? 16 : 10);
    if (digits.empty() || r.ec != std::errc() || r.ptr != digits.data() + digits.size())
        return ERR_BADARG;
    if (option->type == REG_T_BOOL) {
        if (v != 0 && v != 1) return ERR_BADARG;
        *static_cast<uint8_t*>(f) = static_cast<uint8_t>(v);
        return 0;
    }
    if (v < INT32_MIN || v > UINT32_MAX) return ERR_BADARG;
    if (option->number == GD_NEWMAILVISUAL && (v < NMV_NONE || v > NMV_LAST)) return ERR_BADARG;
    if ((option->number == GD_BUTTONSIZE || option->number == GD_LOGOSIZE) && v != 1 && v != 2)
        return ERR_BADARG;
    *static_cast<int32_t*>(f) = static_cast<int32_t>(static_cast<uint32_t>(v));
    return 0;
}
