// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/user_message.h"
#include "platform/log.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>

namespace {

std::mutex g_mu;
UserMsgHandler g_handler;
std::atomic<bool> g_ending{false};

int defaultHandler(std::string_view caption, std::string_view text, unsigned flags) {
    std::string line = "Message box \"";
    line.append(caption).append("\": ").append(text).append("\n");
    DebugLog_WriteText(line);
    std::fwrite(line.data(), 1, line.size(), stderr);
    return UserMsg_DefaultAnswer(flags);
}

} // namespace

UserMsgHandler UserMsg_SetHandler(UserMsgHandler handler) {
    std::lock_guard lock(g_mu);
    UserMsgHandler old = std::move(g_handler);
    g_handler = std::move(handler);
    return old;
}

int UserMsg_Show(std::string_view caption, std::string_view text, unsigned flags) {
    UserMsgHandler h;
    {
        std::lock_guard lock(g_mu);
        h = g_handler;
    }
    return h && !g_ending ? h(caption, text, flags) : defaultHandler(caption, text, flags);
}

void UserMsg_ShowNotices(const NOTICES& notices) {
    for (const NOTICE& n : notices)
        UserMsg_Show(n.caption, n.text,
                     UM_OK | (n.kind == NOTICE_INFO      ? UM_ICONINFO
                              : n.kind == NOTICE_WARNING ? UM_ICONWARNING
                                                         : UM_ICONERROR));
}

void UserMsg_SetEnding() {
    g_ending = true;
}

bool UserMsg_IsEnding() {
    return g_ending;
}

int UserMsg_DefaultAnswer(unsigned flags) {
    switch (flags & 0x0F) {
    case UM_OKCANCEL:
    case UM_YESNOCANCEL:
        return UM_IDCANCEL;
    case UM_YESNO:
        return UM_IDNO;
    default:
        return UM_IDOK;
    }
}
