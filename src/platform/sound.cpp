// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/sound.h"

#include "platform/log.h"

#include <canberra.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <set>
#include <sys/stat.h>

namespace {

std::mutex g_lock;
ca_context* g_ctx = nullptr;
uint32_t g_nextId = 1;
std::set<uint32_t> g_waited; // ids of sounds someone waits for
// Sounds started and not ended. Counted apart from g_lock: libcanberra may
// report an end from its own thread while a caller holds g_lock.
std::atomic<int> g_playing{0};

ca_context* _context() {
    if (!g_ctx && ca_context_create(&g_ctx) != CA_SUCCESS) g_ctx = nullptr;
    return g_ctx;
}

struct Done {
    std::mutex m;
    std::condition_variable cv;
    bool finished = false;
};

void _finished(ca_context*, uint32_t, int, void* userdata) {
    g_playing.fetch_sub(1);
    auto* d = static_cast<Done*>(userdata);
    if (!d) return;
    std::lock_guard<std::mutex> g(d->m);
    d->finished = true;
    d->cv.notify_all();
}

} // namespace

void Sound_Beep() {
    std::lock_guard<std::mutex> g(g_lock);
    ca_context* c = _context();
    int rc = c ? ca_context_play(c, g_nextId++, CA_PROP_EVENT_ID, "bell-window-system",
                                 CA_PROP_EVENT_DESCRIPTION, "Inboxwarden", nullptr)
               : CA_ERROR_NOTAVAILABLE;
    if (rc != CA_SUCCESS && c)
        rc = ca_context_play(c, g_nextId++, CA_PROP_EVENT_ID, "bell", nullptr);
    if (rc != CA_SUCCESS)
        DebugLog_Write("Sound: default beep not available (%s)\n", ca_strerror(rc));
}

namespace {

// Plays what `describe` puts into the property list, waiting for its end
// with `wait`; a failure gives the default beep.
int _play(const std::function<void(ca_proplist*)>& describe, bool wait, const std::string& what) {
    // A synchronous sound that never reports its end keeps its record alive
    // (leaked) rather than let a late callback write into freed memory.
    auto* done = wait ? new Done : nullptr;
    uint32_t id = 0;
    int rc;
    {
        std::lock_guard<std::mutex> g(g_lock);
        ca_context* c = _context();
        if (!c) {
            rc = CA_ERROR_NOTAVAILABLE;
        } else {
            ca_proplist* p = nullptr;
            ca_proplist_create(&p);
            describe(p);
            ca_proplist_sets(p, CA_PROP_EVENT_DESCRIPTION, "New mail");
            id = g_nextId++;
            g_playing.fetch_add(1);
            rc = ca_context_play_full(c, id, p, _finished, done);
            if (rc != CA_SUCCESS) g_playing.fetch_sub(1);
            ca_proplist_destroy(p);
            if (rc == CA_SUCCESS && wait) g_waited.insert(id);
        }
    }
    if (rc != CA_SUCCESS) {
        delete done;
        DebugLog_Write("Sound: cannot play %s (%s)\n", what.c_str(), ca_strerror(rc));
        Sound_Beep();
        return rc;
    }
    if (done) {
        std::unique_lock<std::mutex> g(done->m);
        if (!done->cv.wait_for(g, std::chrono::seconds(30), [&] { return done->finished; })) {
            g.unlock();
            {
                std::lock_guard<std::mutex> cg(g_lock);
                if (g_ctx) ca_context_cancel(g_ctx, id);
            }
            g.lock();
            done->cv.wait_for(g, std::chrono::seconds(2), [&] { return done->finished; });
        }
        const bool finished = done->finished;
        g.unlock();
        if (finished) delete done;
        std::lock_guard<std::mutex> cg(g_lock);
        g_waited.erase(id);
    }
    return 0;
}

} // namespace

int Sound_PlayFile(const std::string& path, bool wait) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        DebugLog_Write("Sound: cannot play \"%s\": no such file\n", path.c_str());
        Sound_Beep();
        return ENOENT;
    }
    return _play([&](ca_proplist* p) { ca_proplist_sets(p, CA_PROP_MEDIA_FILENAME, path.c_str()); },
                 wait, "\"" + path + "\"");
}

int Sound_PlayNewMail(bool wait) {
    return _play([](ca_proplist* p) { ca_proplist_sets(p, CA_PROP_EVENT_ID, "message-new-email"); },
                 wait, "the sound theme's new-mail event");
}

void Sound_CancelAll() {
    std::lock_guard<std::mutex> g(g_lock);
    // A cancelled sound reports its end through its callback, which wakes
    // the waiter.
    if (g_ctx)
        for (const uint32_t id : g_waited)
            ca_context_cancel(g_ctx, id);
}

bool Sound_ReleaseIfIdle() {
    std::lock_guard<std::mutex> g(g_lock);
    if (!g_ctx) return true;
    if (g_playing.load() > 0 || !g_waited.empty()) return false;
    ca_context_destroy(g_ctx);
    g_ctx = nullptr;
    return true;
}
