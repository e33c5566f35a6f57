// SPDX-License-Identifier: GPL-3.0-or-later
// Rule files come from other machines and hand editing: the import parser
// must never crash, and what it accepts must write back and read back the
// same. Each accepted rule then matches the input itself as a header, which
// also runs the regular expressions on hostile text.
#include "message/filter_rules.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<FILTER_RULE> rules;
    std::string error;
    if (FilterRules_Parse(text, true, &rules, &error)) {
        std::vector<FILTER_RULE> again;
        if (!FilterRules_Parse(FilterRules_Format(rules), true, &again, &error) || again != rules)
            std::abort();
    } else if (error.empty()) {
        std::abort(); // a refusal always says why
    }
    size_t skipped = 0;
    if (FilterRules_Parse(text, false, &rules, &error, &skipped)) {
        FILTER_RULESET set;
        set.Assign(rules);
        uint32_t actions = 0;
        set.Match(text, &actions);
    }
    return 0;
}
