// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/fastpop3.h"

#include "common/grow_buffer.h"
#include "common/status.h"
#include "common/text.h"
#include "common/translate.h"
#include "net/pop3.h"
#include "platform/log.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string_view>
#include <unordered_map>

namespace {

// What the message box stores of an id; a longer listing id is compared as
// the box would hold it.
constexpr size_t kIdMax = 128;
// Message numbers beyond this many digits are not numbers any server uses.
constexpr size_t kNumberMax = 10;
// Refused deletions listed one by one in a box before "and N more".
constexpr size_t kBoxLinesMax = 20;

struct Session {
    const FASTPOP3_SESSION& cfg;
    FASTPOP3_RESULT& out;
    const SockAbort* abort;
    SockProgress progress;
    void* context;
    int sock = SOCK_INVALID;
    GrowBuffer buf{POP3_BUFFER_LIMIT};
    uint32_t caps = 0;
    // Set once the DELEs go out in windows (the server lists PIPELINING).
    Pop3Pipeline* pipe = nullptr;

    ~Session() { Sock_Close(&sock); }

    void report(const char* text) const {
        if (progress) progress(text, context);
    }

    // A transport failure: the session is over and nothing is deleted.
    uint32_t fail(FastPop3Stage stage, uint32_t sockError) {
        Sock_Close(&sock);
        out.stage = stage;
        out.sockError = sockError;
        out.errorText = Sock_ErrorText(sockError);
        out.status = sockError == SOCKERR_INTR || (abort && abort->Triggered()) ? ERR_CANCELLED
                     : sockError == SOCKERR_TIMEDOUT                            ? ERR_TIMEOUT
                                                                                : ERR_OPERATION;
        return out.status;
    }
    // The server refused: the session is closed without QUIT.
    uint32_t refuse(FastPop3Stage stage, std::string words) {
        Sock_Close(&sock);
        out.stage = stage;
        out.sockError = 0;
        out.errorText = std::move(words);
        out.status = abort && abort->Triggered() ? ERR_CANCELLED : ERR_OPERATION;
        return out.status;
    }

    // Sends a command: true for "+OK"; false with the server's first line in
    // *words, or with the socket error in *err (0 when the server answered).
    bool command(const char* word, const char* argument, int mode, std::string* words,
                 uint32_t* err) {
        *err = pipe ? pipe->Command(word, argument, mode, &buf)
                    : Pop3_SendCMD(sock, word, argument, mode, &buf, cfg.timeoutSec, abort);
        if (*err != 0) return false;
        const char* text = nullptr;
        const bool ok = Pop3_ParseResponse(buf.Data(), &text) == 1;
        if (!ok) words->assign(text, std::strcspn(text, "\r\n"));
        return ok;
    }
};

uint32_t run(Session& s, const std::vector<std::string>& ids) {
    const FASTPOP3_SESSION& c = s.cfg;
    FASTPOP3_RESULT& out = s.out;

    std::string tlsText;
    if (const uint32_t rc =
            Pop3_ConnectSecure(&s.sock, c.server.c_str(), c.port, c.timeoutSec, c.proxyHost.c_str(),
                               c.proxyParam, {c.security, c.certPolicy, c.certPin}, &s.buf,
                               s.progress, s.context, &tlsText, s.abort)) {
        // A server without the STLS the account requires refused, as a
        // "-ERR" greeting does.
        if (rc == POP3_STLS_UNAVAILABLE) return s.refuse(FastPop3Stage::Connect, tlsText);
        s.fail(FastPop3Stage::Connect, rc);
        // The certificate's reason and fingerprint.
        if (!tlsText.empty()) out.errorText = tlsText;
        return out.status;
    }
    const char* text = nullptr;
    if (Pop3_ParseResponse(s.buf.Data(), &text) != 1)
        return s.refuse(FastPop3Stage::Connect, std::string(text, std::strcspn(text, "\r\n")));
    const std::string greeting(s.buf.Data(), std::strcspn(s.buf.Data(), "\r\n"));
    // Asked again after STLS: what was listed in clear may be forged.
    if (const uint32_t rc = Pop3_Capa(s.sock, &s.buf, c.timeoutSec, &s.caps, s.abort);
        rc != 0 && rc != ERR_REFUSED)
        return s.fail(FastPop3Stage::Connect, rc);

    s.report("Authorizing");
    std::string why;
    if (const uint32_t rc = Pop3_Login(s.sock, &s.buf, c.timeoutSec, c.authType, greeting, c.login,
                                       c.password, &why, s.abort)) {
        const uint32_t status = s.refuse(FastPop3Stage::Login, why);
        if (rc == ERR_TIMEOUT && status == ERR_OPERATION) {
            out.status = ERR_TIMEOUT;
            out.sockError = SOCKERR_TIMEDOUT;
        }
        return out.status;
    }

    std::string words;
    uint32_t err = 0;
    if (!s.command("UIDL", nullptr, POP3_MULTI_LINE, &words, &err)) {
        if (err) return s.fail(FastPop3Stage::Listing, err);
        out.uidlReply = words;
        return s.refuse(FastPop3Stage::Listing, words);
    }
    std::vector<FASTPOP3_MATCH> matches;
    if (!FastPOP3_MatchListing(s.buf.Data(), ids, &matches))
        return s.refuse(FastPop3Stage::Listing, IW_N_("Inboxwarden", "Message list incomplete"));

    s.report(IW_N_("Inboxwarden", "Deleting messages"));
    std::vector<std::string> accepted;
    std::optional<Pop3Pipeline> pipe;
    if (s.caps & POP3_CAPA_PIPELINING) {
        pipe.emplace(&s.sock, c.timeoutSec, s.abort);
        for (const FASTPOP3_MATCH& m : matches)
            if (m.lines == 1) pipe->Plan("DELE", m.number.c_str(), POP3_SINGLE_LINE);
        s.pipe = &*pipe;
    }
    for (const FASTPOP3_MATCH& m : matches) {
        ++out.found;
        if (m.lines > 1) {
            // Two messages would answer to it once cut: deleting either might
            // remove the one the user did not choose.
            ++out.ambiguous;
            continue;
        }
        if (s.command("DELE", m.number.c_str(), POP3_SINGLE_LINE, &words, &err))
            accepted.push_back(m.id);
        else if (err)
            return s.fail(FastPop3Stage::Delete, err);
        else
            out.refused.push_back({m.number, m.id, words});
    }

    s.report("Disconnecting");
    // The server deletes only once it has answered QUIT (UPDATE state).
    if (!s.command("QUIT", nullptr, POP3_SINGLE_LINE, &words, &err))
        return err ? s.fail(FastPop3Stage::Quit, err) : s.refuse(FastPop3Stage::Quit, words);
    Sock_Close(&s.sock);
    out.stage = FastPop3Stage::Done;
    out.deleted = std::move(accepted);
    out.status = 0;
    return 0;
}

std::string socketErrorText(const char* prefix, uint32_t code) {
    return std::string(prefix) + ": " + Sock_ErrorText(code) + " (" + std::to_string(code) + ")";
}

std::string badCommand(const char* word, const std::string& reply) {
    return "Bad " + std::string(word) + " command \r\nResponse: " + reply + "\n";
}

} // namespace

bool FastPOP3_MatchListing(std::string_view all, const std::vector<std::string>& ids,
                           std::vector<FASTPOP3_MATCH>* matches) {
    matches->clear();
    // Requested id -> its place in matches (-1 while not seen): one hash
    // look-up per listing line, whatever the number of ids.
    std::unordered_map<std::string_view, int> wanted;
    wanted.reserve(ids.size());
    for (const std::string& id : ids)
        wanted.try_emplace(id, -1);
    size_t pos = all.find('\n');
    while (pos != std::string_view::npos) {
        const size_t start = pos + 1;
        pos = all.find('\n', start);
        if (pos == std::string_view::npos) return false; // no complete line left
        std::string_view line = all.substr(start, pos - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line == ".") return true;
        const size_t sp = line.find(' ');
        const std::string_view number = line.substr(0, sp);
        if (sp == std::string_view::npos || number.empty() || number.size() > kNumberMax ||
            number.find_first_not_of("0123456789") != std::string_view::npos ||
            sp + 1 >= line.size()) {
            Log_Write(LOG_POP3, "FastPOP3: listing line skipped: \"%.*s\"\n",
                      static_cast<int>(std::min<size_t>(line.size(), 256)), line.data());
            continue;
        }
        const auto it = wanted.find(Text_CutUtf8(line.substr(sp + 1), kIdMax));
        if (it == wanted.end()) continue;
        if (it->second < 0) {
            it->second = static_cast<int>(matches->size());
            matches->push_back({std::string(number), std::string(it->first), 0});
        }
        ++(*matches)[static_cast<size_t>(it->second)].lines;
    }
    return false;
}

uint32_t FastPOP3_Delete(const FASTPOP3_SESSION& session, const std::vector<std::string>& ids,
                         FASTPOP3_RESULT* result, const SockAbort* abort, SockProgress progress,
                         void* context) {
    FASTPOP3_RESULT ignored;
    FASTPOP3_RESULT& out = result ? *result : ignored;
    out = FASTPOP3_RESULT{};
    if (ids.empty()) return out.status = ERR_BADARG;
    Log_Write(LOG_POP3, "FastPOP3: deleting %zu message(s) on \"%s\":%u\n", ids.size(),
              session.server.c_str(), session.port);
    Session s{session, out, abort, progress, context};
    const uint32_t rc = run(s, ids);
    Log_Write(LOG_POP3, "FastPOP3: 0x%X, %zu deleted, %zu refused, %d found\n", rc,
              out.deleted.size(), out.refused.size(), out.found);
    return rc;
}

std::vector<FASTPOP3_BOX> FastPOP3_Boxes(const FASTPOP3_SESSION& session,
                                         const FASTPOP3_RESULT& r) {
    std::vector<FASTPOP3_BOX> boxes;
    if (r.status == ERR_CANCELLED || r.status == ERR_BADARG) return boxes;
    const bool transport = r.sockError != 0;
    switch (r.status == 0 ? FastPop3Stage::Done : r.stage) {
    case FastPop3Stage::Connect:
        // A refused certificate's text names the reason and the fingerprint.
        if (!transport || r.sockError == SOCKERR_TLS || r.sockError == SOCKERR_TLS_CERT)
            boxes.push_back(
                {IW_N_("Inboxwarden", "FastPOP3 Error"), "connect to server: " + r.errorText});
        else if (r.sockError == SOCKERR_HOST_NOT_FOUND || r.sockError == SOCKERR_TRY_AGAIN ||
                 r.sockError == SOCKERR_NO_DATA || r.sockError == SOCKERR_FAULT)
            boxes.push_back({IW_N_("Inboxwarden", "FastPOP3 Error"),
                             socketErrorText("lookup address", r.sockError)});
        else
            boxes.push_back({IW_N_("Inboxwarden", "FastPOP3 Error"),
                             socketErrorText("connect to server", r.sockError)});
        return boxes;
    case FastPop3Stage::Login:
        boxes.push_back({IW_N_("Inboxwarden", "SendCmd Error"),
                         badCommand(session.authType == 1 ? "APOP" : "USER/PASS", r.errorText)});
        return boxes;
    case FastPop3Stage::Listing:
        if (transport)
            boxes.push_back({IW_N_("Inboxwarden", "RecvData Error"),
                             "Socket Error: " + std::to_string(r.sockError)});
        else
            boxes.push_back({IW_N_("Inboxwarden", "UIDL Error"),
                             "Looks like a bad response to UIDL command:\r\n" + r.errorText});
        return boxes;
    case FastPop3Stage::Delete:
        boxes.push_back({IW_N_("Inboxwarden", "RecvData Error"),
                         "Socket Error: " + std::to_string(r.sockError)});
        return boxes;
    case FastPop3Stage::Quit:
        if (transport)
            boxes.push_back({IW_N_("Inboxwarden", "RecvData Error"),
                             "Socket Error: " + std::to_string(r.sockError)});
        else
            boxes.push_back(
                {IW_N_("Inboxwarden", "SendCmd Error"), badCommand("QUIT", r.errorText)});
        return boxes;
    case FastPop3Stage::Done:
        break;
    }
    if (r.found == 0) {
        boxes.push_back({IW_N_("Inboxwarden", "Message Deleted"),
                         IW_N_("Inboxwarden", "Message is already gone.")});
        return boxes;
    }
    if (!r.refused.empty())
        boxes.push_back(
            {IW_N_("Inboxwarden", "SendCmd Error"), badCommand("DELE", r.refused[0].reply)});
    if (!r.refused.empty() || r.ambiguous > 0) {
        std::string text = "Failed to delete message - \r\n\r\n";
        for (size_t i = 0; i < r.refused.size() && i < kBoxLinesMax; ++i)
            text += "Msg Num: " + r.refused[i].number + "\r\n";
        if (r.refused.size() > kBoxLinesMax)
            text += "and " + std::to_string(r.refused.size() - kBoxLinesMax) + " more\r\n";
        if (r.ambiguous > 0)
            text += std::to_string(r.ambiguous) +
                    " id(s) name several messages on the server and were left alone\r\n";
        boxes.push_back({IW_N_("Inboxwarden", "Fast Delete Failed"), text});
    }
    return boxes;
}
