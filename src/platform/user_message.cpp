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

struct HeldBack {
    int depth = 0;
    bool have = false;
    std::string caption, text;
    unsigned flags = 0;
    int more = 0;
};
thread_local HeldBack t_batch;

int showNow(std::string_view caption, std::string_view text, unsigned flags);

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
    if (t_batch.depth > 0 && (flags & 0x0F) == UM_OK) {
        std::string line = "Message box held back \"";
        line.append(caption).append("\": ").append(text).append("\n");
        DebugLog_WriteText(line);
        if (!t_batch.have) {
            t_batch.have = true;
            t_batch.caption = caption;
            t_batch.text = text;
            t_batch.flags = flags;
        } else {
            ++t_batch.more;
        }
        return UM_IDOK;
    }
    return showNow(caption, text, flags);
}

void UserMsg_SetEnding() {
    g_ending = true;
}

bool UserMsg_IsEnding() {
    return g_ending;
}

UserMsgBatch::UserMsgBatch() {
    ++t_batch.depth;
}

UserMsgBatch::~UserMsgBatch() {
    if (--t_batch.depth > 0 || !t_batch.have) return;
    HeldBack held = std::move(t_batch);
    t_batch = HeldBack{};
    if (held.more > 0)
        DebugLog_Write("%d more message box(es) of the same operation were not shown\n", held.more);
    showNow(held.caption, held.text, held.flags);
}

void UserMsgBatch::DiscardHeld() {
    if (t_batch.depth == 0 || !t_batch.have) return;
    DebugLog_Write("%d message box(es) held back were dropped\n", t_batch.more + 1);
    const int depth = t_batch.depth;
    t_batch = HeldBack{};
    t_batch.depth = depth;
}

namespace {

int showNow(std::string_view caption, std::string_view text, unsigned flags) {
    UserMsgHandler h;
    {
        std::lock_guard lock(g_mu);
        h = g_handler;
    }
    return h && !g_ending ? h(caption, text, flags) : defaultHandler(caption, text, flags);
}

} // namespace

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
