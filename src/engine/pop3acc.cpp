// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/pop3acc.h"
#include "common/status.h"
#include "common/text.h"
#include "common/translate.h"
#include "engine/savedmsg.h"
#include "message/filter.h"
#include "message/mime_decoder.h"
#include "message/msg_header.h"
#include "net/pop3.h"
#include "platform/log.h"
#include "platform/registry.h"
#include "settings/globaldata.h"
#include "settings/msgbox.h"
#include "settings/msgbox_reg.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <numeric>
#include <unordered_map>
#include <vector>

namespace {

constexpr size_t kStatLineMax = 63;
constexpr size_t kLoggedMessageMax = 64 * 1024;
constexpr const char* kSaveFailed = IW_N_("Inboxwarden", "Filter: message save operation failed.");

std::mutex g_hooksMu;
POP3ACC_HOOKS g_hooks;

POP3ACC_HOOKS hooks() {
    std::lock_guard lock(g_hooksMu);
    return g_hooks;
}

uint32_t askPassword(const POP3ACC_HOOKS& h, const ACCOUNT& account, std::string* password) {
    if (h.askPassword) return h.askPassword(account, password);
    DebugLog_Write("Pop3Acc_Check: no one to ask for the password of \"%s\"\n",
                   account.Name.c_str());
    return ERR_NOT_READY;
}

uint32_t saveMessage(const POP3ACC_HOOKS& h, std::string_view text, ACCOUNT* account,
                     const char* id, int root, bool partial = false) {
    if (h.saveMessage) return h.saveMessage(text, account, id, root, partial, true);
    return SavedMsg_SaveIfNeeded(text, account, id, root, partial, true);
}

// Where the password comes from: stored (in the store or the keyring),
// remembered from a prompt of this run, or asked now.
uint32_t getPassword(const POP3ACC_HOOKS& h, ACCOUNT* acc, std::string* password, bool* prompted) {
    *prompted = false;
    const int32_t type = Account_PasswordType(acc, false);
    if (type == 0) {
        *password = acc->ChkPswd;
        return 0;
    }
    if (type == 1 && !acc->RememberedChkPswd.empty()) {
        *password = acc->RememberedChkPswd;
        return 0;
    }
    const uint32_t rc = askPassword(h, *acc, password);
    if (rc == ERR_CANCELLED || rc == ERR_NOMEM) return rc;
    if (rc != 0 || password->empty()) return ERR_NOT_READY;
    *prompted = true;
    if (type == 1) acc->RememberedChkPswd = *password;
    return 0;
}

// The store writes of one check are grouped into transactions, committed at
// least every quarter second so that another process (a second copy handing
// over a command) is never kept waiting for a whole slow session.
class StoreBatch {
  public:
    void Tick() {
        if (std::chrono::steady_clock::now() - started_ > std::chrono::milliseconds(250)) {
            batch_.Restart();
            started_ = std::chrono::steady_clock::now();
        }
    }

  private:
    RegStoreBatch batch_;
    std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
};

// One line of the UIDL or LIST listing, as texts inside the listing.
struct ListingLine {
    const char* number;
    const char* id;
    const char* size; // the size digits the whole-maildrop LIST gave, or null
};

// The message count of a STAT answer (the text after "+OK "): its leading
// number (RFC 1939 §5). False when there is none or it does not fit.
bool statCount(std::string_view text, int* count) {
    const size_t start = std::min(text.find_first_not_of(' '), text.size());
    const char* first = text.data() + start;
    const char* last = text.data() + text.size();
    return std::from_chars(first, last, *count).ec == std::errc() && *count >= 0;
}

// Where the fields of one listing line start in the listing's text.
struct ListingRow {
    uint32_t number;
    uint32_t field; // the id (UIDL) or the size digits (LIST)
};

constexpr uint32_t kNoSize = UINT32_MAX;

// The server's first line of a text, for messages.
std::string firstLine(std::string_view text) {
    const size_t lf = text.find('\n');
    std::string_view line = text.substr(0, lf);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return std::string(line);
}

// Without UIDL: the header of every listed message, read before the walk,
// and how many listed messages carry each Message-ID.
struct HeaderIds {
    std::vector<std::string> headers;
    std::unordered_map<std::string, int> count;
};

class Check {
  public:
    Check(CheckRequest* req, SockProgress progress, void* ctx)
        : req_(*req), acc_(*req->account), progress_(progress), ctx_(ctx), hooks_(hooks()) {}

    uint32_t Run();

  private:
    void report(const char* text) {
        if (progress_) progress_(text, ctx_);
    }
    // "... %d of %d": the first, the last, and the others at most every
    // 40 ms. A line per message of a large box cost more than the walk
    // itself, and no progress window shows them that fast.
    void reportf(const char* fmt, int a, int b) {
        const auto now = std::chrono::steady_clock::now();
        if (a != 1 && a != b && now - lastReport_ < std::chrono::milliseconds(40)) return;
        lastReport_ = now;
        char text[96];
        std::snprintf(text, sizeof text, Iw_Translate(IW_TR_CONTEXT, fmt), a, b);
        report(text);
    }
    bool sessionOpen() const { return Pop3Socket != SOCK_INVALID; }
    uint32_t command(GrowBuffer* buf, const char* cmd, const char* arg, int mode, int failOnErr,
                     const char** text) {
        return Pop3_Command(acc_.ChkTmout, buf, cmd, arg, mode, failOnErr, text, pipe_.get());
    }
    void planAhead(int i, bool idsOnly);

    uint32_t connectAndLogin();
    uint32_t login(const std::string& greeting);
    bool readListing();
    ListingLine lineAt(size_t i) const;
    std::string_view number(size_t i) const { return listing_.Data() + rows_[i].number; }
    void indexNumbers();
    void giveSize(std::string_view number, uint32_t digits);
    uint32_t walk();
    uint32_t notListed() {
        fetchText_ = IW_N_("Inboxwarden", "The message is no longer on the server.");
        return ERR_NOT_FOUND;
    }
    uint32_t readMessageIds(HeaderIds* ids);
    uint32_t prepareSizes();
    uint32_t reconcileKnown(const ListingLine& line, MSG_RECORD* known, int index, HeaderIds& ids);
    uint32_t takeNew(const ListingLine& line, int i, int n, const HeaderIds& ids);
    uint32_t fetchNew(const ListingLine& line, int i, int n, std::string* text);
    uint32_t handleNew(const ListingLine& line, const std::string& text, bool whole);
    void bounce(const ListingLine& line, const std::string& text);
    uint32_t saveByFilter(const ListingLine& line, const std::string& text, bool whole,
                          uint32_t* action);
    bool show(const ListingLine& line, const std::string& text);
    uint32_t sizeDigits(const ListingLine& line, std::string* digits);
    uint32_t addNew(const ListingLine& line, const std::string& text, bool whole, uint32_t action,
                    bool shown);
    uint32_t deleteByFilter(const ListingLine& line, const std::string& text, uint32_t action);
    uint32_t fetchOne(const ListingLine& line);
    uint32_t readSizes();
    uint32_t closing(uint32_t walkResult);

    CheckRequest& req_;
    ACCOUNT& acc_;
    SockProgress progress_;
    void* ctx_;
    POP3ACC_HOOKS hooks_;
    std::string statLine_;
    std::chrono::steady_clock::time_point lastReport_{};
    int statCount_ = 0;         // the message count of STAT
    bool topRefused_ = false;   // the server answers TOP with -ERR: fetch new messages whole
    bool walkComplete_ = false; // the walk reached the listing's last line
    // Every listed message was in the box when the walk began: nothing is
    // read ahead, so the walk plans nothing (a record the walk drops makes
    // no line ahead new, unless the listing repeats its id: that line's
    // reads are then sent in turn).
    bool allKnown_ = false;
    std::string fetchText_; // fetch-one: why no message came (the check text)
    std::string incompleteText_;
    // The UIDL (or, without UIDL, LIST) answer, split where it was read: a
    // NUL ends each field and only the fields' offsets are kept, so that a
    // listing of a million lines costs its own bytes and 8 more a line
    // rather than strings per line. Freed with the check.
    GrowBuffer listing_{POP3_BUFFER_LIMIT};
    std::vector<ListingRow> rows_;
    bool uidl_ = true;
    // Without UIDL: the Message-IDs, each ended by a NUL, and where each
    // line's starts.
    std::string ids_;
    std::vector<size_t> idAt_;
    // Sizes from one LIST of the whole maildrop (one round trip instead of
    // one per new message): for each line, where its digits start in
    // *sizeText_, or kNoSize. Empty while none were read.
    GrowBuffer sizeList_{POP3_BUFFER_LIMIT};
    const GrowBuffer* sizeText_ = nullptr;
    std::vector<uint32_t> sizeAt_;
    // Listing lines in the order of their number texts, for giveSize when
    // the listing does not number them 1, 2, 3...
    bool numbersInOrder_ = true;
    std::vector<uint32_t> byNumber_;
    // With PIPELINING the walk's reads are planned this many lines ahead and
    // sent in windows; without it every command waits for its answer.
    static constexpr int kPlanAhead = 512;
    uint32_t caps_ = 0;
    std::unique_ptr<Pop3Pipeline> pipe_;
    int planned_ = 0; // listing lines whose commands are planned
};

uint32_t Check::connectAndLogin() {
    const CHECK_SETTINGS& s = req_.settings;
    const Pop3Security sec{acc_.ChkSecurity, acc_.ChkCertPolicy, acc_.ChkCertPin};
    std::string why;
    uint32_t rc =
        Pop3_ConnectSecure(&Pop3Socket, acc_.ChkServer.c_str(), static_cast<uint16_t>(acc_.ChkPort),
                           acc_.ChkTmout, s.ProxySocksServer.c_str(), s.ProxySocksParam, sec,
                           &Pop3SessionBuffer, progress_, ctx_, &why);
    if (rc != 0)
        return Pop3_SetError(why.c_str(), rc == SOCKERR_TIMEDOUT ? ERR_TIMEOUT : ERR_OPERATION);
    const std::string greeting = firstLine(Pop3SessionBuffer.Data());
    const char* text = nullptr;
    if (Pop3_ParseResponse(Pop3SessionBuffer.Data(), &text) != 1)
        return Pop3_SetError(firstLine(text).c_str(), ERR_OPERATION);
    // Asked again after STLS: what was listed in clear may be forged.
    rc = Pop3_Capa(Pop3Socket, &Pop3MessageBuffer, acc_.ChkTmout, &caps_);
    if (rc != 0 && rc != ERR_REFUSED) return Pop3_SetError(Pop3_ErrorText(rc), ERR_OPERATION);
    report("Authorizing");
    rc = login(greeting);
    if (rc == 0 && (caps_ & POP3_CAPA_PIPELINING))
        pipe_ = std::make_unique<Pop3Pipeline>(&Pop3Socket, acc_.ChkTmout);
    return rc;
}

// Plans the reads of the listing lines up to kPlanAhead past line i (from
// 0): the TOP of each one (idsOnly: the id reading's), and the LIST of a new
// one whose size no listing gave, in the order the walk sends them. A DELE is
// never sent ahead (the user may take the mark back meanwhile), so planning
// stops short of a marked message until the walk has reached it, which keeps
// the order on the wire. Whole messages are not read ahead either: kept while
// a filter's command waits, they could outgrow the buffers.
void Check::planAhead(int i, bool idsOnly) {
    if (!pipe_ || (allKnown_ && !idsOnly)) return;
    const int n = static_cast<int>(rows_.size());
    const int until = std::min(n, i + kPlanAhead);
    planned_ = std::max(planned_, i);
    // Topped up in batches, so the look-ups stay one per line.
    if (planned_ > i + kPlanAhead / 2) return;
    for (; planned_ < until; ++planned_) {
        const ListingLine line = lineAt(static_cast<size_t>(planned_));
        if (idsOnly) {
            if (topRefused_) return;
            pipe_->Plan("TOP", (std::string(line.number) + " 0").c_str(), POP3_MULTI_LINE);
            continue;
        }
        int index;
        if (const MSG_RECORD* known = MsgBox_FindMsg(acc_.hMsgBox, line.id, &index)) {
            if (known->Status == MSG_TO_DELETE && planned_ > i) return;
            continue;
        }
        if (req_.settings.AttachCheck || topRefused_) return;
        // Without UIDL the id reading has the header already.
        if (uidl_) pipe_->Plan("TOP", (std::string(line.number) + " 0").c_str(), POP3_MULTI_LINE);
        if (!line.size) pipe_->Plan("LIST", line.number, POP3_SINGLE_LINE);
    }
}

uint32_t Check::login(const std::string& greeting) {
    std::string password;
    bool prompted = false;
    const uint32_t prc = getPassword(hooks_, &acc_, &password, &prompted);
    if (prc == ERR_CANCELLED)
        return Pop3_SetError(IW_N_("Inboxwarden", "Operation canceled"), ERR_CANCELLED);
    if (prc == ERR_NOMEM) return Pop3_SetError(nullptr, ERR_NOMEM);
    if (prc != 0) return Pop3_SetError(IW_N_("Inboxwarden", "No password"), ERR_NOT_READY);

    std::string why;
    uint32_t rc = Pop3_Login(Pop3Socket, &Pop3SessionBuffer, acc_.ChkTmout, acc_.ChkAuthType,
                             greeting, acc_.ChkLogin, password, &why);
    if (rc != 0) {
        if (prompted) acc_.RememberedChkPswd.clear(); // ask again next time
        // Past the greeting a silence is the command's failure, not a
        // connection that timed out.
        rc = Pop3_SetError(why.c_str(), rc == ERR_TIMEOUT ? ERR_OPERATION : rc);
    } else if (prompted) {
        Account_KeepTypedPassword(&acc_, false, password);
    }
    return rc;
}

// Splits the listing in listing_ (from the line after "+OK") into rows_.
// Returns whether it ended with the "." line; lines past the count of STAT,
// or one that does not start with a digit, end it early.
bool Check::readListing() {
    char* const text = listing_.Data();
    const std::string_view all(text);
    const int n = statCount_;
    // Exactly the room needed: growing by doubling could hold twice as much.
    rows_.reserve(std::min<size_t>(std::count(all.begin(), all.end(), '\n'),
                                   static_cast<size_t>(std::max(n, 0))));
    size_t pos = all.find('\n');
    while (pos != std::string_view::npos && pos + 1 < all.size()) {
        ++pos;
        if (all[pos] == '.') return true;
        if (static_cast<int>(rows_.size()) >= n) break;
        if (all[pos] < '0' || all[pos] > '9') {
            const size_t eol = all.find('\n', pos);
            Log_Write(LOG_POP3, "POP3: Message list ended with invalid characters: \"%s\"\n",
                      std::string(all.substr(pos, std::min<size_t>(eol - pos, 256))).c_str());
            return false;
        }
        size_t eol = all.find('\n', pos);
        std::string_view line = all.substr(pos, eol == std::string_view::npos ? eol : eol - pos);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const size_t sp = line.find(' ');
        const std::string_view num = line.substr(0, sp);
        const std::string_view rest = sp == std::string_view::npos ? "" : line.substr(sp + 1);
        const std::string_view field =
            uidl_ ? Text_CutUtf8(rest, 128)
                  : rest.substr(0, std::min<size_t>(rest.find_first_not_of("0123456789"), 24));
        // Both ends lie inside the line or on the NUL after the text; a line
        // without a field gets the empty text after its number.
        const size_t fieldAt = sp == std::string_view::npos ? pos + num.size() : pos + sp + 1;
        text[pos + num.size()] = '\0';
        text[fieldAt + field.size()] = '\0';
        rows_.push_back({static_cast<uint32_t>(pos), static_cast<uint32_t>(fieldAt)});
        pos = eol;
    }
    return false;
}

ListingLine Check::lineAt(size_t i) const {
    const char* field = listing_.Data() + rows_[i].field;
    const char* id = uidl_ ? field : i < idAt_.size() ? ids_.c_str() + idAt_[i] : "";
    const char* size =
        i < sizeAt_.size() && sizeAt_[i] != kNoSize ? sizeText_->Data() + sizeAt_[i] : nullptr;
    return {listing_.Data() + rows_[i].number, id, size};
}

// Prepares giveSize: no line has a size yet.
void Check::indexNumbers() {
    sizeAt_.assign(rows_.size(), kNoSize);
    char digits[16];
    numbersInOrder_ = true;
    for (size_t i = 0; i < rows_.size() && numbersInOrder_; ++i) {
        const auto end = std::to_chars(digits, digits + sizeof digits, i + 1).ptr;
        numbersInOrder_ = number(i) == std::string_view(digits, end);
    }
    if (numbersInOrder_) return;
    byNumber_.resize(rows_.size());
    std::iota(byNumber_.begin(), byNumber_.end(), 0u);
    std::stable_sort(byNumber_.begin(), byNumber_.end(),
                     [this](uint32_t a, uint32_t b) { return number(a) < number(b); });
}

// Every listing line numbered `num` that has no size yet gets the digits at
// offset `digits` of *sizeText_: the first size given for a number stands.
void Check::giveSize(std::string_view num, uint32_t digits) {
    if (numbersInOrder_) {
        // Only the canonical spelling of 1..count can match.
        const char* const end = num.data() + num.size();
        size_t v = 0;
        const auto [stop, error] = std::from_chars(num.data(), end, v);
        if (num.empty() || num[0] == '0' || stop != end || error != std::errc() ||
            v > sizeAt_.size())
            return;
        if (sizeAt_[v - 1] == kNoSize) sizeAt_[v - 1] = digits;
        return;
    }
    auto it = std::lower_bound(byNumber_.begin(), byNumber_.end(), num,
                               [this](uint32_t a, std::string_view b) { return number(a) < b; });
    for (; it != byNumber_.end() && number(*it) == num; ++it)
        if (sizeAt_[*it] == kNoSize) sizeAt_[*it] = digits;
}

uint32_t Check::fetchNew(const ListingLine& line, int i, int n, std::string* text) {
    reportf(IW_N_("Inboxwarden", "Retrieving message %d of %d"), i, n);
    const bool whole = req_.settings.AttachCheck || topRefused_;
    const char* body = nullptr;
    uint32_t rc;
    if (whole) {
        rc = command(&Pop3MessageBuffer, "RETR", line.number, POP3_MULTI_LINE, 0, &body);
    } else {
        const std::string arg = std::string(line.number) + " 0";
        rc = command(&Pop3MessageBuffer, "TOP", arg.c_str(), POP3_MULTI_LINE, 0, &body);
        if (rc == ERR_REFUSED) {
            // A server without TOP still gets its new mail listed.
            Log_Write(LOG_POP3, "POP3: TOP refused; reading whole messages instead\n");
            topRefused_ = true;
            if (pipe_) pipe_->DropPlanned();
            rc = command(&Pop3MessageBuffer, "RETR", line.number, POP3_MULTI_LINE, 0, &body);
        }
    }
    if (rc == 0) text->assign(body);
    return rc;
}

void Check::bounce(const ListingLine& line, const std::string& text) {
    const uint32_t rc = hooks_.bounce ? hooks_.bounce(&acc_, text) : ERR_NOT_READY;
    if (rc != 0) DebugLog_Write("Pop3Acc_Check: message \"%s\" not bounced (0x%X)\n", line.id, rc);
}

// Saves the message as the filter's save bits say (the whole message, read
// now when only its header is at hand) and takes back the actions a failed
// save must not run. Anything but 0 ends the walk.
uint32_t Check::saveByFilter(const ListingLine& line, const std::string& text, bool whole,
                             uint32_t* action) {
    if (*action & IWF_ACT_IMPLIES_SAVE) *action |= IWF_ACT_SAVE;
    const bool spam =
        (*action & IWF_ACT_DELETE) && (*action & IWF_ACT_SPAM) && !(*action & IWF_ACT_SAVE_STRICT);
    const int root = spam ? GD_SPAMRTDIR : GD_DWNRTDIR;
    uint32_t rc = 0;
    std::string full = "+OK " + text;
    if (!whole) {
        // Only the header is at hand: the whole message is saved, whatever
        // the delete bit says, or a save-and-delete would lose its body.
        const char* body = nullptr;
        rc = command(&Pop3MessageBuffer, "RETR", line.number, POP3_MULTI_LINE, 0, &body);
        if (rc == 0)
            full = "+OK " + std::string(body);
        else if (rc != ERR_REFUSED)
            return rc; // the session is gone
    }
    if (rc == 0)
        rc = saveMessage(hooks_, full, &acc_, line.id, root);
    else
        rc = ERR_CREATE;
    if (rc != 0 && rc != 1 && rc != ERR_CREATE)
        return Pop3_SetError(IW_N_("Inboxwarden", "Saving a message failed"), rc);
    if ((rc == 1 || rc == ERR_CREATE) && (*action & IWF_ACT_SAVE_STRICT)) {
        MsgRecord_SetText(acc_.StatusText, kSaveFailed);
        DebugLog_Write("Pop3Acc_Check: %s\n", kSaveFailed);
        *action = 0;
    } else if (rc != 0 && (*action & IWF_ACT_DELETE)) {
        // The only copy would be gone: a message is deleted on the server
        // only once it is safely saved.
        DebugLog_Write("Pop3Acc_Check: message \"%s\" not saved, so not deleted\n", line.id);
        *action &= ~IWF_ACT_DELETE;
    }
    return 0;
}

bool Check::show(const ListingLine& line, const std::string& text) {
    DebugLog_Write("Pop3Acc_Check: Filter says we should display this message: %s \n", line.id);
    return hooks_.display && hooks_.display(&acc_, line.id, text);
}

// The size digits of a new message: from the whole-maildrop listing, or asked
// with a LIST of its own. Anything but 0 ends the walk (the session is closed).
uint32_t Check::sizeDigits(const ListingLine& line, std::string* digits) {
    if (line.size) {
        *digits = line.size;
        return 0;
    }
    const char* sizeReply = nullptr;
    const uint32_t rc =
        command(&Pop3MessageBuffer, "LIST", line.number, POP3_SINGLE_LINE, 1, &sizeReply);
    if (rc != 0) return rc;
    // "+OK number size": the second number, at most 24 digits.
    const char* p = sizeReply;
    while (*p >= '0' && *p <= '9')
        ++p;
    while (*p == ' ')
        ++p;
    while (*p >= '0' && *p <= '9' && digits->size() < 24)
        *digits += *p++;
    return 0;
}

// Adds a new message to the box: new, or quiet when the filter says so, or
// old when it was shown already.
uint32_t Check::addNew(const ListingLine& line, const std::string& text, bool whole,
                       uint32_t action, bool shown) {
    Log_Write(LOG_POP3, "POP3: add message as NEW: ID=%s.", line.id);
    DebugLog_WriteText("Pop3Acc_Check: Preparing to add new message\n");
    MSG_RECORD r = MsgRecord_Empty();
    MSG_FIELDS f;
    MimeMessagePtr parsed(whole ? MIME_Open(text.data(), text.size()) : nullptr);
    if (whole && !parsed) Log_Write(LOG_POP3, "POP3: ERROR: MIME_Open -- no memory!!!.\n");
    Msg_GetRecordFields(text, parsed.get(), &f);
    r.Date = f.Date;
    r.HasAttach = f.HasAttach;

    std::string digits;
    if (const uint32_t rc = sizeDigits(line, &digits); rc != 0) return rc;
    r.Size =
        static_cast<int32_t>(static_cast<uint32_t>(std::strtoull(digits.c_str(), nullptr, 10)));
    const std::string sizeText = r.Size != 0 ? MsgRecord_SizeKB(r.Size) : digits;
    r.SetTexts({line.id, f.From, f.ReplyTo, f.To, f.Subject, sizeText});

    if (action & IWF_ACT_QUIET) {
        r.Status = MSG_QUIET;
        Log_Write(LOG_POP3, "POP3: NEW message: filtered: notification is off for this message.");
    } else {
        r.Status = shown ? MSG_OLD : MSG_NEW;
    }
    if (const uint32_t arc = MsgBox_AddMsg(&acc_.hMsgBox, &r, &acc_, 1); arc != 0)
        return Pop3_SetError(IW_N_("Inboxwarden", "Cannot add the message to the message box"),
                             arc);
    return 0;
}

// A refused DELE leaves the message on the server; anything else ends the walk.
uint32_t Check::deleteByFilter(const ListingLine& line, const std::string& text, uint32_t action) {
    Log_Write(LOG_POP3,
              "POP3: Filter matched msg to be deleted:POP3: \tfltAct=0x%x; \nPOP3: deleted msg "
              "start--->\n%.*s\nPOP3: <---- deleted msg end\n",
              action, static_cast<int>(std::min(text.size(), kLoggedMessageMax)), text.c_str());
    const char* answer = nullptr;
    const uint32_t rc =
        command(&Pop3MessageBuffer, "DELE", line.number, POP3_SINGLE_LINE, 0, &answer);
    if (rc != 0) {
        Log_Write(LOG_POP3, "POP3: DELE command failed ret=%d, %s\n", static_cast<int>(rc),
                  answer ? answer : "");
        if (rc != ERR_REFUSED) return rc;
    }
    return 0;
}

// A message the box does not know yet, as the filter's actions say: bounce,
// save, show, add to the box, delete on the server.
uint32_t Check::handleNew(const ListingLine& line, const std::string& text, bool whole) {
    uint32_t action = Filter_GetMsgAction(acc_.FilterHandle, text.c_str());
    Log_Write(LOG_POP3, "POP3: Filter action: 0x%X.\n", action);

    if (action & IWF_ACT_BOUNCE) bounce(line, text);
    bool handledBySave = false;
    if (action & IWF_ACT_ANY_SAVE) {
        if (const uint32_t rc = saveByFilter(line, text, whole, &action); rc != 0) return rc;
        handledBySave = true;
    }
    const bool shown = (action & IWF_ACT_SHOW) && show(line, text);
    // A message deleted on the server stays listed only when it was saved,
    // and not as spam.
    const bool listed = !(action & IWF_ACT_DELETE) || (handledBySave && !(action & IWF_ACT_SPAM));
    if (listed) {
        if (const uint32_t rc = addNew(line, text, whole, action, shown); rc != 0) return rc;
    }
    if (action & IWF_ACT_DELETE) return deleteByFilter(line, text, action);
    return 0;
}

uint32_t Check::fetchOne(const ListingLine& line) {
    report(IW_N_("Inboxwarden", "Retrieving messages..."));
    GrowBuffer* out = req_.result ? req_.result : &Pop3MessageBuffer;
    const char* text = nullptr;
    uint32_t rc;
    if (req_.flags & CHECK_FETCH_TOP) {
        const std::string arg =
            std::string(line.number) + " " + std::to_string(std::max(0, req_.lines));
        rc = command(out, "TOP", arg.c_str(), POP3_MULTI_LINE, 0, &text);
    } else {
        rc = command(out, "RETR", line.number, POP3_MULTI_LINE, 0, &text);
    }
    // "-ERR" is no message: the caller must not take the server's words for
    // one. The session stays open for QUIT.
    if (rc == ERR_REFUSED) {
        fetchText_ = firstLine(text ? text : IW_N_("Inboxwarden", "UNKNOWN POP3 response"));
        return ERR_REFUSED;
    }
    if (rc != 0) return rc;
    if (!(req_.flags & CHECK_FETCH_NO_SAVE)) {
        // Only the first lines: saved as a partial copy, so that opening the
        // whole message later does not take it for the message.
        const uint32_t src = saveMessage(hooks_, out->Data(), &acc_, line.id, GD_DWNRTDIR,
                                         (req_.flags & CHECK_FETCH_TOP) != 0);
        if (src != 0 && src != 1)
            DebugLog_Write("Pop3Acc_Check: the fetched message was not saved (0x%X)\n", src);
    }
    return 0;
}

uint32_t Check::readSizes() {
    const char* text = nullptr;
    // Refused: the sizes are asked one message at a time instead.
    if (const uint32_t rc = command(&sizeList_, "LIST", nullptr, POP3_MULTI_LINE, 0, &text); rc)
        return rc;
    indexNumbers();
    sizeText_ = &sizeList_;
    // The digits stay where they are, ended by a NUL, and each listed
    // message keeps only their offset.
    char* const rows = sizeList_.Data();
    const std::string_view all(rows);
    size_t pos = all.find('\n');
    while (pos != std::string_view::npos && pos + 1 < all.size() && all[pos + 1] != '.') {
        const size_t start = pos + 1;
        pos = all.find('\n', start);
        std::string_view row = all.substr(start, pos == std::string_view::npos ? pos : pos - start);
        const size_t sp = row.find(' ');
        if (sp == std::string_view::npos) continue;
        size_t k = sp + 1;
        while (k < row.size() && row[k] >= '0' && row[k] <= '9' && k - sp <= 24)
            ++k;
        rows[start + k] = '\0';
        giveSize(row.substr(0, sp), static_cast<uint32_t>(start + sp + 1));
    }
    return 0;
}

// Without UIDL the ids are Message-IDs, read with one TOP each before the
// walk: a message marked for deletion may only be deleted by an id that no
// other listed message shares. ERR_REFUSED ends the walk early but cleanly.
uint32_t Check::readMessageIds(HeaderIds* ids) {
    const int n = static_cast<int>(rows_.size());
    ids->headers.resize(rows_.size());
    idAt_.reserve(rows_.size());
    planned_ = 0;
    for (int i = 0; i < n; ++i) {
        planAhead(i, true);
        const std::string arg = std::string(number(i)) + " 0";
        const char* text = nullptr;
        uint32_t rc = command(&Pop3MessageBuffer, "TOP", arg.c_str(), POP3_MULTI_LINE, 0, &text);
        if (rc == ERR_REFUSED) {
            if (!topRefused_ && pipe_) pipe_->DropPlanned();
            topRefused_ = true;
            rc = command(&Pop3MessageBuffer, "RETR", lineAt(i).number, POP3_MULTI_LINE, 0, &text);
        }
        if (rc != 0) {
            incompleteText_ = rc == ERR_REFUSED ? firstLine(text ? text : "") : "";
            return rc;
        }
        ids->headers[i] = text;
        MSG_FIELDS f;
        Msg_GetRecordFields(ids->headers[i], nullptr, &f);
        const std::string_view id = f.MsgId;
        idAt_.push_back(ids_.size());
        ids_.append(id).push_back('\0');
        ++ids->count[std::string(id)];
    }
    return 0;
}

// The sizes of the new messages, when there are any: from one LIST of the
// whole maildrop, or from the LIST that stood in for UIDL.
uint32_t Check::prepareSizes() {
    const int n = static_cast<int>(rows_.size());
    bool anyNew = false;
    for (int i = 0; i < n && !anyNew; ++i) {
        int index;
        anyNew = !MsgBox_FindMsg(acc_.hMsgBox, lineAt(i).id, &index);
    }
    allKnown_ = !anyNew;
    if (anyNew && uidl_) {
        if (const uint32_t rc = readSizes(); rc != 0 && rc != ERR_REFUSED) return rc;
    } else if (anyNew) {
        indexNumbers(); // LIST gave them
        sizeText_ = &listing_;
        for (int i = 0; i < n; ++i)
            giveSize(number(i), rows_[i].field);
    }
    byNumber_ = {};
    return 0;
}

// A listed message the box knows: deleted by the user (the record goes),
// marked for deletion (DELE; the record stays marked until QUIT confirms),
// or still there (confirmed).
uint32_t Check::reconcileKnown(const ListingLine& line, MSG_RECORD* known, int index,
                               HeaderIds& ids) {
    if (known->Status == MSG_DELETED) {
        Reg_UpdateMsgStatus(&acc_, known);
        MsgBox_DeleteMsg(acc_.hMsgBox, known, -1);
    } else if (known->Status == MSG_TO_DELETE) {
        if (!uidl_ && ids.count[line.id] > 1) {
            MsgRecord_SetText(acc_.StatusText,
                              IW_N_("Inboxwarden",
                                    "A message marked for deletion shares its id with another "
                                    "one and was not deleted."));
            MsgBox_KeepMarked(acc_.hMsgBox, known);
            return 0;
        }
        const char* answer = nullptr;
        const uint32_t rc =
            command(&Pop3MessageBuffer, "DELE", line.number, POP3_SINGLE_LINE, 0, &answer);
        // The record stays marked until the server confirms QUIT; the
        // end of a complete check then drops it.
        if (rc == ERR_REFUSED)
            MsgBox_KeepMarked(acc_.hMsgBox, known);
        else if (rc != 0)
            return rc;
    } else if (!acc_.DontCleanOldMsgs) {
        MsgBox_ConfirmMsg(acc_.hMsgBox, nullptr, index);
    }
    return 0;
}

// A listed message the box does not know: its header (or whole text) is read
// unless the id reading has it already, then the filter's actions run.
uint32_t Check::takeNew(const ListingLine& line, int i, int n, const HeaderIds& ids) {
    if (!uidl_ && !req_.settings.AttachCheck)
        return handleNew(line, ids.headers[static_cast<size_t>(i - 1)], topRefused_);
    std::string text;
    const uint32_t rc = fetchNew(line, i, n, &text);
    if (rc == ERR_REFUSED) return 0; // this message is skipped
    if (rc != 0) return rc;
    return handleNew(line, text, req_.settings.AttachCheck || topRefused_);
}

// Goes through the listing: a fetch-one request looks for its message only;
// a check reconciles every known message and takes in every new one.
// walkComplete_ says whether it reached the end.
uint32_t Check::walk() {
    const int n = static_cast<int>(rows_.size());
    const bool fetchMode = req_.flags & (CHECK_FETCH_ONE | CHECK_FETCH_TOP);

    HeaderIds ids;
    if (!uidl_) {
        if (const uint32_t rc = readMessageIds(&ids); rc != 0)
            return rc == ERR_REFUSED ? 0 : rc; // the walk ends here
    }
    if (!fetchMode) {
        if (const uint32_t rc = prepareSizes(); rc != 0) return rc;
    }

    StoreBatch batch;
    planned_ = 0;
    for (int i = 1; i <= n; ++i) {
        const ListingLine line = lineAt(static_cast<size_t>(i - 1));
        reportf(IW_N_("Inboxwarden", "Process message %d of %d"), i, n);
        batch.Tick();
        if (!fetchMode) planAhead(i - 1, false);
        if (fetchMode) {
            // The walk is left on purpose once found: nothing to reconcile.
            if (std::string_view(line.id).substr(0, 128) ==
                std::string_view(req_.targetId).substr(0, 128))
                return fetchOne(line);
            continue;
        }
        int index = -1;
        MSG_RECORD* known = MsgBox_FindMsg(acc_.hMsgBox, line.id, &index);
        const uint32_t rc =
            known ? reconcileKnown(line, known, index, ids) : takeNew(line, i, n, ids);
        if (rc != 0) return rc;
    }
    walkComplete_ = true;
    return fetchMode ? notListed() : 0;
}

uint32_t Check::closing(uint32_t walkResult) {
    const bool fetchMode = req_.flags & (CHECK_FETCH_ONE | CHECK_FETCH_TOP);
    if (pipe_) pipe_->DropPlanned();
    if (sessionOpen()) {
        const char* text = nullptr;
        if (command(&Pop3SessionBuffer, "STAT", nullptr, POP3_SINGLE_LINE, 0, &text) == 0) {
            // Only a walk that reconciled the whole listing may stand for the
            // server's state; otherwise the next check must look again.
            if (fetchMode)
                acc_.LastSTAT[0] = '\0';
            else if (walkComplete_)
                MsgRecord_SetTextN(
                    acc_.LastSTAT, sizeof acc_.LastSTAT,
                    std::string_view(Pop3SessionBuffer.Data()).substr(0, kStatLineMax));
        }
    }
    uint32_t rc = walkResult;
    if (sessionOpen() && CheckState.load() == 0) {
        report("Disconnecting");
        // Deletions take effect only when the server answers QUIT.
        rc = Pop3_QuitAndConfirm(acc_.ChkTmout, &Pop3SessionBuffer, pipe_.get());
        if (rc == 0) rc = walkResult;
    }
    Pop3_Quit(&Pop3Socket, 0);
    Pop3_ReleaseBuffers();

    const uint32_t state = CheckState.load();
    if (state == ERR_CANCELLED || state == ERR_SKIPPED) return state;
    // A fetch that found no message still ended its session properly.
    if (fetchMode && rc == walkResult && !fetchText_.empty())
        return Pop3_SetError(fetchText_.c_str(), rc);
    if (rc != 0) return rc;
    if (!fetchMode && !walkComplete_) {
        // Records the walk never reached must not be taken for messages gone
        // from the server.
        const std::string why = incompleteText_.empty()
                                    ? IW_N_("Inboxwarden", "Message list incomplete")
                                    : incompleteText_;
        return Pop3_SetError(why.c_str(), ERR_OPERATION);
    }
    // A cancel that arrives now still wins over the success.
    uint32_t seen = state;
    if (!CheckState.compare_exchange_strong(seen, 0)) return seen;
    return 0;
}

uint32_t Check::Run() {
    if (const uint32_t rc = Pop3_BeginCheck(); rc != 0) return rc;
    if (const uint32_t rc = connectAndLogin(); rc != 0) return rc;
    if (req_.boxNeeded) req_.boxNeeded();
    report(IW_N_("Inboxwarden", "Checking mail"));

    const char* text = nullptr;
    if (const uint32_t rc =
            command(&Pop3SessionBuffer, "STAT", nullptr, POP3_SINGLE_LINE, 1, &text);
        rc != 0)
        return rc;
    statLine_.assign(std::string_view(Pop3SessionBuffer.Data()).substr(0, kStatLineMax));
    if (!statCount(text, &statCount_)) {
        // Taken for 0, it would drop every record as gone from the server.
        return Pop3_SetError(firstLine(Pop3SessionBuffer.Data()).c_str(), ERR_OPERATION);
    }
    const int n = statCount_;

    const bool fetchMode = req_.flags & (CHECK_FETCH_ONE | CHECK_FETCH_TOP);
    if (!fetchMode && n == MsgBox_GetCount(acc_.hMsgBox) && n >= 2 && acc_.CheckResult == CR_OK &&
        statLine_ == acc_.LastSTAT && acc_.PendingDeletes == 0 &&
        (req_.flags & CHECK_STOP_IF_UNCHANGED)) {
        // Nothing was deleted in this session, so QUIT changes nothing on the
        // server; it frees the maildrop for the user's other mail programs.
        Pop3_Quit(&Pop3Socket, 1);
        uint32_t expected = 0;
        CheckState.compare_exchange_strong(expected, CHECK_UNCHANGED);
        const uint32_t state = CheckState.load();
        return state == CHECK_UNCHANGED ? CHECK_UNCHANGED : state;
    }

    uint32_t walkResult = 0;
    if (n == 0) {
        walkComplete_ = true;
        if (fetchMode) walkResult = notListed();
    } else {
        uint32_t rc = command(&listing_, "UIDL", nullptr, POP3_MULTI_LINE, 0, &text);
        if (rc == ERR_REFUSED) {
            uidl_ = false;
            rc = command(&listing_, "LIST", nullptr, POP3_MULTI_LINE, 1, &text);
        }
        if (rc != 0) return rc;
        const bool ended = readListing();
        walkResult = walk();
        if (!ended) walkComplete_ = false;
    }
    return closing(walkResult);
}

} // namespace

void Pop3Acc_SetHooks(POP3ACC_HOOKS h) {
    std::lock_guard lock(g_hooksMu);
    g_hooks = std::move(h);
}

uint32_t Pop3Acc_GetPassword(ACCOUNT* account, std::string* password, bool* prompted) {
    bool ignored;
    if (!prompted) prompted = &ignored;
    if (!account || !password) return ERR_BADARG;
    return getPassword(hooks(), account, password, prompted);
}

uint32_t Pop3Acc_Check(CheckRequest* request, SockProgress progress, void* context) {
    if (!request || !request->account) return ERR_NOT_READY;
    Check check(request, progress, context);
    return check.Run();
}
