#include "platform/user_message.h"
#include "platform/log.h"

#include <cstdio>
#include <mutex>
#include <string>

namespace {

std::mutex g_mu;
UserMsgHandler g_handler;

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
    return h ? h(caption, text, flags) : defaultHandler(caption, text, flags);
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
