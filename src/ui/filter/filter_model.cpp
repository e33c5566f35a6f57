// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/filter/filter_model.h"

#include "common/status.h"
#include "common/translate.h"
#include "platform/private_dir.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>

const FILTER_ACTION_CHOICE FILTER_ACTION_CHOICES[7] = {
    {IWF_ACT_DELETE, IW_N_("Inboxwarden", "&Delete on the server")},
    {IWF_ACT_SPAM, IW_N_("Inboxwarden", "Keep a copy in the &quarantine folder when deleting")},
    {IWF_ACT_SAVE, IW_N_("Inboxwarden", "Sa&ve to the download folder")},
    {IWF_ACT_SAVE_STRICT, IW_N_("Inboxwarden", "Save, and cancel everything &if saving fails")},
    {IWF_ACT_QUIET, IW_N_("Inboxwarden", "Add &without notification")},
    {IWF_ACT_SHOW, IW_N_("Inboxwarden", "S&how the message at once")},
    {IWF_ACT_BOUNCE, IW_N_("Inboxwarden", "Return to the sender as undelivera&ble")},
};

const char* const FILTER_FIELD_CHOICES[9] = {
    "From", "To", "Cc", "Subject", "Reply-To", "Sender", "List-Id", "X-Spam-Flag", ""};

namespace {

// A private folder for the rule file the plug-in and the editor exchange,
// removed with everything in it when it goes.
class ExchangeDir {
  public:
    ExchangeDir() { rc_ = PrivateDir_Make(&dir_); }
    ~ExchangeDir() {
        if (rc_ == 0) PrivateDir_Remove(dir_);
    }
    ExchangeDir(const ExchangeDir&) = delete;
    ExchangeDir& operator=(const ExchangeDir&) = delete;
    uint32_t Result() const { return rc_; }
    std::string File() const { return dir_ + "/rules.iwfl"; }

  private:
    std::string dir_;
    uint32_t rc_ = ERR_CREATE;
};

std::string pluginError(FILTER_HANDLE h, uint32_t rc) {
    std::string text = Filter_LastError(h);
    if (text.empty()) {
        char code[32];
        std::snprintf(code, sizeof code, "the filter plug-in failed (0x%X)", rc);
        text = code;
    }
    return text;
}

} // namespace

uint32_t FILTER_MODEL::Load(FILTER_HANDLE h, std::string* error) {
    ExchangeDir dir;
    if (dir.Result() != 0) {
        *error = IW_N_("Inboxwarden", "No private folder for the rule file could be made.");
        return dir.Result();
    }
    if (const uint32_t rc = Filter_Export(h, dir.File().c_str()); rc != 0) {
        *error = pluginError(h, rc);
        return rc;
    }
    std::ifstream in(dir.File(), std::ios::binary);
    std::string text;
    if (in) {
        std::ostringstream all;
        all << in.rdbuf();
        text = all.str();
    }
    std::vector<FILTER_RULE> rules;
    if (!FilterRules_Parse(text, true, &rules, error)) {
        // A plug-in of another kind, or one that wrote nothing.
        *error = "The filter plug-in's rules cannot be read: " + *error;
        return ERR_OPERATION;
    }
    rules_ = std::move(rules);
    changed_ = false;
    return 0;
}

uint32_t FILTER_MODEL::Save(FILTER_HANDLE h, int* badRow, std::string* error) const {
    *badRow = -1;
    for (size_t i = 0; i < rules_.size(); ++i) {
        if (!FilterRules_Check(rules_[i], error)) {
            *badRow = static_cast<int>(i);
            return ERR_BADARG;
        }
    }
    ExchangeDir dir;
    if (dir.Result() != 0) {
        *error = IW_N_("Inboxwarden", "No private folder for the rule file could be made.");
        return dir.Result();
    }
    const std::string text = FilterRules_Format(rules_);
    {
        std::ofstream out(dir.File(), std::ios::binary | std::ios::trunc);
        out << text;
        if (!out.flush()) {
            *error = IW_N_("Inboxwarden", "The rule file could not be written.");
            return ERR_CREATE;
        }
    }
    if (const uint32_t rc = Filter_Import(h, dir.File().c_str()); rc != 0) {
        *error = pluginError(h, rc);
        return rc;
    }
    return 0;
}

int FILTER_MODEL::Add(const FILTER_RULE& rule) {
    rules_.push_back(rule);
    changed_ = true;
    return Count() - 1;
}

void FILTER_MODEL::Set(int row, const FILTER_RULE& rule) {
    if (row < 0 || row >= Count() || rules_[static_cast<size_t>(row)] == rule) return;
    rules_[static_cast<size_t>(row)] = rule;
    changed_ = true;
}

void FILTER_MODEL::Remove(int row) {
    if (row < 0 || row >= Count()) return;
    rules_.erase(rules_.begin() + row);
    changed_ = true;
}

int FILTER_MODEL::Move(int row, int by) {
    const int to = row + by;
    if (row < 0 || row >= Count() || to < 0 || to >= Count()) return row;
    std::swap(rules_[static_cast<size_t>(row)], rules_[static_cast<size_t>(to)]);
    changed_ = true;
    return to;
}

std::string FILTER_MODEL::Describe(const FILTER_RULE& r) {
    static const char* const kMatch[] = {"contains", "is", "starts with", "matches"};
    std::string out = r.field.empty() ? Iw_Translate("Inboxwarden", "Whole header") : r.field;
    out += ' ';
    out += kMatch[static_cast<size_t>(r.match)];
    out += " \"" + r.pattern + "\"";
    if (r.matchCase) out += " (case)";
    out += " \u2192 ";
    std::string actions;
    for (const auto& a : FILTER_ACTION_NAMES)
        if (r.actions & a.bit) actions += (actions.empty() ? "" : ", ") + std::string(a.name);
    out += actions.empty() ? "no action" : actions;
    return out;
}

FILTER_RULE FILTER_MODEL::RuleFromMessage(const std::string& from, const std::string& subject) {
    FILTER_RULE r;
    r.actions = IWF_ACT_DELETE | IWF_ACT_SPAM;
    std::string_view f = from;
    const size_t lt = f.rfind('<'), gt = f.rfind('>');
    if (lt != std::string_view::npos && gt != std::string_view::npos && gt > lt + 1)
        f = f.substr(lt + 1, gt - lt - 1);
    while (!f.empty() && (f.front() == ' ' || f.front() == '"'))
        f.remove_prefix(1);
    while (!f.empty() && (f.back() == ' ' || f.back() == '"'))
        f.remove_suffix(1);
    if (!f.empty()) {
        r.field = "From";
        r.pattern = std::string(f.substr(0, FREGEX_MAX_PATTERN));
    } else {
        r.field = "Subject";
        r.match = FILTER_MATCH::Equals;
        r.pattern = subject.substr(0, FREGEX_MAX_PATTERN);
    }
    return r;
}
