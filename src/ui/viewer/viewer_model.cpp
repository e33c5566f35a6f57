// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/viewer/viewer_model.h"

#include "common/datetime.h"
#include "common/status.h"
#include "common/text.h"
#include "common/translate.h"
#include "message/msg_header.h"
#include "net/fastpop3.h"
#include "platform/files.h"
#include "platform/private_dir.h"
#include "settings/msgbox.h"
#include "settings/msgbox_reg.h"
#include "ui/mailbox/mailbox_internal.h"

#include <QDate>
#include <QLocale>
#include <QTime>
#include <QUrl>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <span>
#include <sys/stat.h>

using mailbox::BoxBusy;
using mailbox::Param;
using mailbox::QueueHold;

namespace {

constexpr int kTxtX = 51; // then Txt_Y, Txt_W, Txt_H, Txt_S
constexpr size_t kFieldMax = 259;
constexpr size_t kListMax = 16379;

bool containsNoCase(std::string_view text, std::string_view what) {
    return std::search(text.begin(), text.end(), what.begin(), what.end(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) ==
                      std::tolower(static_cast<unsigned char>(b));
           }) != text.end();
}

// A header field at the start of a line, the first line included (a
// message saved without a "Received:" line begins with its From).
std::string header(const MimeMessage* m, std::string_view name, size_t max) {
    std::string v;
    const std::string field = "\n" + std::string(name);
    if (MIME_GetHeader(m, field, &v, max) == 0) return v;
    size_t n = 0;
    const char* text = MIME_GetRaw(m, &n);
    const std::string_view raw(text, n);
    if (raw.size() >= name.size() && containsNoCase(raw.substr(0, name.size()), name))
        MIME_GetHeader(m, name, &v, max);
    return v;
}

VIEWER_NOTICE busy() {
    const MAILBOX_NOTICE n = mailbox::BusyNotice();
    return {n.caption, n.text, n.flags};
}

VIEWER_NOTICE error(std::string text) {
    return {"Error", std::move(text), UM_OK | UM_ICONERROR};
}

std::string readWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

ACCOUNT* lookUp(const std::string& name, VIEWER_OUTCOME* out) {
    ACCOUNT* acc = name.empty() ? nullptr : Account_Get(name.c_str(), -1);
    if (!acc)
        out->notices.push_back(error(IW_N_("Inboxwarden", "Cannot retrieve account information.")));
    return acc;
}

} // namespace

ViewerModel::~ViewerModel() {
    if (!folder_.empty() && !handedOn_) PrivateDir_Remove(folder_);
}

bool ViewerModel::Open(std::string accountName, std::string_view text, const MSG_RECORD* record) {
    msg_.reset(MIME_Open(text.data(), text.size()));
    if (!msg_) return false;
    account_ = std::move(accountName);
    msgId_ = record ? std::string(Text_CutUtf8(record->MsgId(), 128)) : std::string();
    MIME_GetContentFlags(msg_.get(), &flags_);

    subject_ = header(msg_.get(), "SUBJECT:", kFieldMax);
    title_ = std::string(Text_CutUtf8("Message preview: " + subject_, kFieldMax));
    from_ = header(msg_.get(), "FROM:", kFieldMax);
    to_ = header(msg_.get(), "TO:", kListMax);
    cc_ = header(msg_.get(), "CC:", kListMax);
    size_t rawLength = 0;
    const char* raw = MIME_GetRaw(msg_.get(), &rawLength);
    DATETIME dt{};
    Msg_GetDate(std::string_view(raw, rawLength), &dt);
    if (DateTime_IsMissing(dt)) {
        date_ = "<?>";
    } else {
        const QLocale locale;
        date_ = (locale.toString(QDate(dt.wYear, dt.wMonth, dt.wDay), QLocale::LongFormat) + ' ' +
                 locale.toString(QTime(dt.wHour, dt.wMinute, dt.wSecond), QLocale::ShortFormat))
                    .toStdString();
    }

    source_ = Param(GD_SHOWHDR).value_or(1) != 0;
    fillRows();
    // A message carried as an attachment is best read in the source, whatever
    // the setting says (switching the setting over would hide it again when
    // the setting is on).
    if (eml_) source_ = true;
    text_ = chooseText(source_, false);
    return true;
}

std::string ViewerModel::chooseText(bool source, bool preferHtml) const {
    std::string out;
    if (!source) {
        if (preferHtml && HasHtml() && MIME_GetText(msg_.get(), SELECT_PREFER_HTML, &out) == 0)
            return out;
        if (MIME_GetText(msg_.get(), SELECT_PREFER_PLAIN, &out) == 0) return out;
    }
    size_t n = 0;
    const char* raw = MIME_GetRaw(msg_.get(), &n);
    return std::string(raw, n);
}

void ViewerModel::ToggleSource() {
    source_ = !source_;
    html_ = false;
    text_ = chooseText(source_, false);
}

void ViewerModel::ToggleHtml() {
    html_ = !html_;
    source_ = false;
    text_ = chooseText(false, html_);
}

std::string ViewerModel::BrowserFile(VIEWER_NOTICE* notice) {
    source_ = html_ = false;
    std::string html, path;
    VIEWER_OUTCOME out;
    if (MIME_GetText(msg_.get(), KIND_TEXT_HTML, &html) != 0 || !ensureFolder(&out) ||
        PrivateDir_WriteFile(folder_, "iw-htmlpreview.htm", html, &path) != 0) {
        *notice = out.notices.empty()
                      ? VIEWER_NOTICE{IW_N_("Inboxwarden", "Open Into Web Browser"),
                                      IW_N_("Inboxwarden", "The HTML text could not be written."),
                                      UM_OK | UM_ICONERROR}
                      : out.notices.front();
        return {};
    }
    handedOn_ = true;
    return path;
}

std::string ViewerModel::PrintHeading() const {
    std::string out;
    const auto line = [&out](std::string_view label, const std::string& value) {
        out += label;
        out += '\t';
        if (label.size() < 8) out += '\t';
        out += value;
        out += '\n';
    };
    line("From :", from_);
    line("Date :", date_);
    line("To :", to_);
    if (!cc_.empty()) line("CC :", cc_);
    line("Subject :", subject_);
    return out;
}

// ---- Attachments ------------------------------------------------------------

std::string ViewerModel::partData(const MimePart* part) const {
    std::string data;
    if (MIME_DecodeAttachment(part, &data) == ERR_ENCODING)
        data = msg_->raw.substr(part->bodyOffset, part->bodyLength);
    return data;
}

void ViewerModel::fillRows() {
    rows_.clear();
    for (MimePart* p = MIME_NextAttachment(msg_.get(), nullptr); p;
         p = MIME_NextAttachment(msg_.get(), p)) {
        std::string name(Text_CutUtf8(MIME_GetAttachmentName(p), kFieldMax));
        if (containsNoCase(name, ".eml")) eml_ = true;
        if (containsNoCase(name, "winmail.dat")) {
            // Each winmail.dat of each viewer keeps its own bytes: a "+" row
            // unpacks exactly the attachment it was listed from.
            std::string data = partData(p);
            std::vector<TNEF_NAME> names;
            TNEF_Parse(std::span(reinterpret_cast<const uint8_t*>(data.data()), data.size()),
                       TNEF_MODE::List, {}, &names);
            for (TNEF_NAME& n : names) {
                packed_.push_back(std::move(n));
                packedFrom_.push_back(static_cast<int>(tnefData_.size()));
            }
            tnefData_.push_back(std::move(data));
            tnefUnpacked_.push_back(false);
        }
        rows_.push_back({std::move(name), p, -1});
    }
    for (size_t i = 0; i < packed_.size(); ++i)
        rows_.push_back({"+" + packed_[i].display, nullptr, static_cast<int>(i)});
}

std::string ViewerModel::Extension(const std::string& name) {
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) return "dat";
    return name.substr(dot + 1);
}

std::string ViewerModel::ProposedName(int row) const {
    if (row < 0 || row >= static_cast<int>(rows_.size())) return {};
    const VIEWER_ROW& r = rows_[static_cast<size_t>(row)];
    if (r.part)
        return Files_SafeName(MIME_GetAttachmentName(r.part), static_cast<unsigned>(row) + 1);
    return Files_SafeName(packed_[static_cast<size_t>(r.packed)].display,
                          static_cast<unsigned>(r.packed) + 1);
}

bool ViewerModel::ensureFolder(VIEWER_OUTCOME* out) {
    if (!folder_.empty() || PrivateDir_Make(&folder_) == 0) return true;
    out->notices.push_back(
        error(IW_N_("Inboxwarden", "A private folder for the message's files cannot be created.")));
    return false;
}

bool ViewerModel::unpack(VIEWER_OUTCOME* out) {
    if (!ensureFolder(out)) return false;
    for (size_t k = 0; k < tnefData_.size(); ++k) {
        if (tnefUnpacked_[k]) continue;
        const std::string dir = folder_ + "/tnef-" + std::to_string(k + 1);
        if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
            out->notices.push_back(error(IW_N_(
                "Inboxwarden", "A private folder for the message's files cannot be created.")));
            return false;
        }
        TNEF_PROBLEM problem;
        const std::string& data = tnefData_[k];
        TNEF_Parse(std::span(reinterpret_cast<const uint8_t*>(data.data()), data.size()),
                   TNEF_MODE::Write, dir, nullptr, &problem);
        if (!problem.text.empty())
            out->notices.push_back({problem.caption, problem.text, UM_OK | UM_ICONWARNING});
        tnefUnpacked_[k] = true;
    }
    return true;
}

std::string ViewerModel::FileToOpen(int row, VIEWER_OUTCOME* out) {
    if (row < 0 || row >= static_cast<int>(rows_.size())) return {};
    const VIEWER_ROW& r = rows_[static_cast<size_t>(row)];
    std::string path;
    if (r.part) {
        if (!ensureFolder(out)) return {};
        if (PrivateDir_WriteFile(folder_, ProposedName(row), partData(r.part), &path) != 0) {
            out->notices.push_back({IW_N_("Inboxwarden", "Open Attachment"),
                                    IW_N_("Inboxwarden", "The attachment cannot be written."),
                                    UM_OK | UM_ICONERROR});
            return {};
        }
        handedOn_ = true;
        return path;
    }
    if (!unpack(out)) return {};
    const auto i = static_cast<size_t>(r.packed);
    path = folder_ + "/tnef-" + std::to_string(packedFrom_[i] + 1) + "/" + packed_[i].disk;
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        out->notices.push_back({IW_N_("Inboxwarden", "Run TNEF Attachment"),
                                "\"" + packed_[i].display + "\" was not unpacked.",
                                UM_OK | UM_ICONERROR});
        return {};
    }
    handedOn_ = true;
    return path;
}

bool ViewerModel::SaveRow(int row, const std::string& path, VIEWER_OUTCOME* out) {
    if (row < 0 || row >= static_cast<int>(rows_.size())) return false;
    const VIEWER_ROW& r = rows_[static_cast<size_t>(row)];
    uint32_t rc = 0;
    if (r.part) {
        rc = MIME_SaveAttachment(r.part, path);
    } else {
        VIEWER_OUTCOME quiet;
        const std::string from = FileToOpen(row, &quiet);
        for (VIEWER_NOTICE& n : quiet.notices)
            out->notices.push_back({n.caption == "Run TNEF Attachment"
                                        ? IW_N_("Inboxwarden", "Save TNEF Attachment")
                                        : n.caption,
                                    n.text, n.flags});
        if (from.empty()) return false;
        // A copy, never a move: the user's file is replaced only when whole.
        rc = Files_WriteWhole(path, readWhole(from));
    }
    if (rc == 0) return true;
    out->notices.push_back(
        {r.part ? IW_N_("Inboxwarden", "Save As") : IW_N_("Inboxwarden", "Save TNEF Attachment"),
         "The file \"" + path + "\" cannot be written.", UM_OK | UM_ICONERROR});
    return false;
}

bool ViewerModel::SaveMessage(const std::string& path, VIEWER_OUTCOME* out) const {
    size_t n = 0;
    const char* raw = MIME_GetRaw(msg_.get(), &n);
    if (Files_WriteWhole(path, std::string_view(raw, n)) == 0) return true;
    out->notices.push_back({IW_N_("Inboxwarden", "Save As"),
                            "The file \"" + path + "\" cannot be written.", UM_OK | UM_ICONERROR});
    return false;
}

std::string ViewerModel::ProposedMessageName() const {
    const size_t colon = title_.find(':');
    std::string name = colon == std::string::npos ? title_ : title_.substr(colon + 1);
    std::erase_if(name, [](char c) {
        return std::string_view("\\/:*?<>|").find(c) != std::string_view::npos;
    });
    const size_t first = name.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    name = name.substr(first, name.find_last_not_of(" \t") - first + 1);
    return Files_SafeName(name, 1);
}

// ---- Deleting -----------------------------------------------------------------

VIEWER_OUTCOME ViewerModel::Delete() {
    VIEWER_OUTCOME out;
    ACCOUNT* acc = lookUp(account_, &out);
    if (!acc) return out;
    QueueHold hold;
    if (BoxBusy(hold, mailbox::AccountIndex(acc))) {
        out.notices.push_back(busy());
        return out;
    }
    int index = -1;
    MSG_RECORD* r = msgId_.empty() ? nullptr : MsgBox_FindMsg(acc->hMsgBox, msgId_.c_str(), &index);
    if (r && r->Status != MSG_TO_DELETE) {
        MsgBox_SetStatus(acc->hMsgBox, nullptr, index, MSG_TO_DELETE, acc);
        ++acc->PendingDeletes;
        MsgBox_Recount(acc->hMsgBox, acc);
        if (std::string failed = Reg_TakeWriteFailure(); !failed.empty())
            out.notices.push_back({"Reg_UpdateMsgStatus", std::move(failed), UM_OK | UM_ICONERROR});
    }
    out.messageMarked = true;
    out.close = true;
    return out;
}

VIEWER_OUTCOME ViewerModel::DeleteNow(const ViewerDeleteRunner& run) {
    VIEWER_OUTCOME out;
    if (msgId_.empty()) {
        out.notices.push_back({IW_N_("Inboxwarden", "Delete Now!"),
                               IW_N_("Inboxwarden", "Didn't get enough info to delete message."),
                               UM_OK | UM_ICONERROR});
        return out;
    }
    ACCOUNT* acc = lookUp(account_, &out);
    if (!acc) return out;
    {
        QueueHold hold;
        if (BoxBusy(hold, mailbox::AccountIndex(acc))) {
            out.notices.push_back(busy());
            return out;
        }
        if (!MsgBox_FindMsg(acc->hMsgBox, msgId_.c_str(), nullptr)) {
            out.notices.push_back(
                {"DeleteNow",
                 IW_N_("Inboxwarden", "MsgBox_FindMsg didn't find message in table.\r\n\r\n"
                                      "Unable to delete message from table."),
                 UM_OK | UM_ICONERROR});
            out.countsChanged = true;
            out.close = true;
            return out;
        }
    }
    // The box follows what the server confirmed (FastDelete_Run drops those
    // records); a message it did not delete stays marked for the next check.
    FASTPOP3_RESULT result;
    const uint32_t rc = run(acc, {msgId_}, &result);
    if (rc == ERR_EXISTS) {
        out.notices.push_back(busy());
        return out;
    }
    out.countsChanged = true;
    // A viewer whose message is still on the server stays, so that the user
    // sees it was not deleted and may try again.
    out.close = rc == 0 && std::find(result.deleted.begin(), result.deleted.end(), msgId_) !=
                               result.deleted.end();
    return out;
}

// ---- Settings -------------------------------------------------------------------

std::optional<VIEWER_PLACEMENT> ViewerModel::SavedPlacement() {
    if (Param(GD_SAVTXTWNDPOS).value_or(1) == 0) return std::nullopt;
    const auto x = Param(kTxtX), y = Param(kTxtX + 1), w = Param(kTxtX + 2), h = Param(kTxtX + 3);
    if (!x || !y || !w || !h) return std::nullopt;
    return VIEWER_PLACEMENT{static_cast<int>(*x), static_cast<int>(*y), static_cast<int>(*w),
                            static_cast<int>(*h), Param(kTxtX + 4).value_or(0) != 0};
}

void ViewerModel::SavePlacement(const VIEWER_PLACEMENT& p) {
    GlobalData_SetParam(kTxtX, p.x);
    GlobalData_SetParam(kTxtX + 1, p.y);
    GlobalData_SetParam(kTxtX + 2, p.width);
    GlobalData_SetParam(kTxtX + 3, p.height);
    GlobalData_SetParam(kTxtX + 4, p.maximised ? 1 : 0);
}

std::string ViewerModel::LastSearch() {
    return GlobalData_GetText(GD_LASTTXTSEARCH);
}

void ViewerModel::SetLastSearch(const std::string& text) {
    GlobalData_SetParam(GD_LASTTXTSEARCH, reinterpret_cast<intptr_t>(text.c_str()));
}

// ---- The text field -------------------------------------------------------------

int ViewerText_Find(const QString& text, const QString& what, bool matchCase, bool forward,
                    int selStart, int selEnd) {
    if (what.isEmpty() || text.size() < what.size()) return -1;
    const Qt::CaseSensitivity cs = matchCase ? Qt::CaseSensitive : Qt::CaseInsensitive;
    if (forward) {
        const qsizetype at = text.indexOf(what, std::clamp<qsizetype>(selEnd, 0, text.size()), cs);
        return static_cast<int>(at >= 0 ? at : text.indexOf(what, 0, cs));
    }
    // The last match that starts before the selection (or ends by the caret
    // when nothing is selected); then around from the end.
    const qsizetype from = selStart < selEnd ? selStart - 1 : selEnd - what.size();
    const qsizetype at = from < 0 ? -1 : text.lastIndexOf(what, from, cs);
    return static_cast<int>(at >= 0 ? at : text.lastIndexOf(what, -1, cs));
}

namespace {

bool asciiWord(QChar c) {
    return c.unicode() < 128 && (c.isLetterOrNumber() || c == u'_');
}

bool endsLink(QChar c) {
    const char16_t u = c.unicode();
    return u == ' ' || (u >= '\t' && u <= '\r') || u == '<' || u == '>' || u == '"';
}

// The end of an address that starts at `at` with "scheme://", "mailto:" or
// "www." at the start of a word and goes on to the next space, '<', '>' or
// '"' (at least one character after the lead-in); -1 when none starts there.
qsizetype linkEnd(QStringView text, qsizetype at) {
    if (text[at].unicode() >= 128 || !text[at].isLetter() || (at > 0 && asciiWord(text[at - 1])))
        return -1;
    qsizetype scheme = at + 1;
    while (scheme < text.size() && text[scheme].unicode() < 128 &&
           (text[scheme].isLetterOrNumber() || text[scheme] == u'+' || text[scheme] == u'.' ||
            text[scheme] == u'-'))
        ++scheme;
    const QStringView rest = text.sliced(at);
    qsizetype leads[3] = {-1, -1, -1};
    if (text.sliced(scheme).startsWith(u"://")) leads[0] = scheme + 3;
    if (rest.startsWith(u"mailto:", Qt::CaseInsensitive)) leads[1] = at + 7;
    if (rest.startsWith(u"www.", Qt::CaseInsensitive)) leads[2] = at + 4;
    for (const qsizetype lead : leads) {
        if (lead < 0) continue;
        qsizetype end = lead;
        while (end < text.size() && !endsLink(text[end]))
            ++end;
        if (end > lead) return end;
    }
    return -1;
}

} // namespace

std::vector<VIEWER_LINK> ViewerText_Links(const QString& text) {
    std::vector<VIEWER_LINK> out;
    for (qsizetype at = 0; at < text.size();) {
        const qsizetype end = linkEnd(text, at);
        if (end < 0) {
            ++at;
            continue;
        }
        QString link = text.mid(at, end - at);
        // Punctuation that ends a sentence is not part of the address.
        while (!link.isEmpty() && QStringLiteral(".,;:!?)]}'").contains(link.back()))
            link.chop(1);
        if (link.size() > 4) {
            QString url = link;
            if (url.startsWith(QStringLiteral("www."), Qt::CaseInsensitive))
                url.prepend(QStringLiteral("http://"));
            out.push_back({static_cast<int>(at), static_cast<int>(link.size()), url});
        }
        at = end;
    }
    return out;
}

bool ViewerText_LinkAllowed(const QString& url) {
    const QUrl u(url, QUrl::StrictMode);
    if (!u.isValid()) return false;
    const QString scheme = u.scheme().toLower();
    return scheme == QStringLiteral("http") || scheme == QStringLiteral("https") ||
           scheme == QStringLiteral("mailto");
}

std::vector<std::string> ViewerText_SplitAddresses(std::string_view list) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start < list.size()) {
        const size_t at = list.find('@', start);
        const size_t dot = at == std::string_view::npos ? at : list.find('.', at);
        const size_t comma = dot == std::string_view::npos ? dot : list.find(',', dot);
        if (comma == std::string_view::npos) break;
        out.emplace_back(list.substr(start, comma + 1 - start));
        start = comma + 1;
    }
    if (start < list.size()) out.emplace_back(list.substr(start));
    return out;
}

std::string ViewerModel::MessageText() const {
    size_t length = 0;
    const char* raw = MIME_GetRaw(msg_.get(), &length);
    return raw ? std::string(raw, length) : std::string();
}
