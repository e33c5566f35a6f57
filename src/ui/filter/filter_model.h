// SPDX-License-Identifier: GPL-3.0-or-later
// The rule editor's view model: the rules of one filter, read from and
// written to the plug-in through its interface (Filter_Export into a
// private file, Filter_Import back), edited without a widget so that its
// rules are tested without a display.
#pragma once

#include "message/filter.h"
#include "message/filter_rules.h"

#include <cstdint>
#include <string>
#include <vector>

// The actions the editor offers, in the order it shows them. IWF_ACT_SAVE2
// is not offered (it saves like IWF_ACT_SAVE) but a rule keeps it.
struct FILTER_ACTION_CHOICE {
    uint32_t bit;
    const char* label; // with its mnemonic
};
extern const FILTER_ACTION_CHOICE FILTER_ACTION_CHOICES[7];

// Header fields offered in the field box; "" stands for the whole header.
extern const char* const FILTER_FIELD_CHOICES[9];

class FILTER_MODEL {
  public:
    // Reads the rules of `h`. 0, or the plug-in's or the private folder's
    // code with the reason in *error.
    uint32_t Load(FILTER_HANDLE h, std::string* error);

    // Writes the rules to `h` when every rule passes FilterRules_Check;
    // otherwise *badRow is the first faulty row, *error says why, and
    // nothing is written. A plug-in failure gives its code and text.
    uint32_t Save(FILTER_HANDLE h, int* badRow, std::string* error) const;

    const std::vector<FILTER_RULE>& Rules() const { return rules_; }
    int Count() const { return static_cast<int>(rules_.size()); }
    bool Changed() const { return changed_; }

    // Appends a rule; its row.
    int Add(const FILTER_RULE& rule);
    void Set(int row, const FILTER_RULE& rule);
    void Remove(int row);
    // Moves a row one place up (-1) or down (+1); the row it lands on, or
    // `row` when it cannot move.
    int Move(int row, int by);

    // One line for the rule list: `From contains "x" → delete, spam`.
    static std::string Describe(const FILTER_RULE& rule);

    // The rule "Add Filter" proposes for a message: its sender's address
    // (the part in angle brackets, else the whole From), deleted on the
    // server with a copy in the quarantine folder.
    static FILTER_RULE RuleFromMessage(const std::string& from, const std::string& subject);

  private:
    std::vector<FILTER_RULE> rules_;
    bool changed_ = false;
};
