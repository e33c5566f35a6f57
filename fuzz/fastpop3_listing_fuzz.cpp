// SPDX-License-Identifier: GPL-3.0-or-later
// UIDL listings come straight from the server, and fast delete acts on what
// it matches in them. The first input byte says how many of the listing's
// own ids (every third line's second word) are asked for, plus one made-up
// id; the rest is the listing.
#include "net/fastpop3.h"

#include <cstdlib>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 65536) return 0;
    const std::string_view listing(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::vector<std::string> ids{"12"};
    size_t pos = 0;
    for (int line = 0; pos < listing.size() && static_cast<int>(ids.size()) <= data[0]; ++line) {
        const size_t eol = listing.find('\n', pos);
        const std::string_view l =
            listing.substr(pos, eol == std::string_view::npos ? eol : eol - pos);
        const size_t sp = l.find(' ');
        if (line % 3 == 0 && sp != std::string_view::npos)
            ids.emplace_back(
                l.substr(sp + 1, l.find('\r') == l.npos ? l.npos : l.find('\r') - sp - 1));
        if (eol == std::string_view::npos) break;
        pos = eol + 1;
    }

    std::vector<FASTPOP3_MATCH> matches;
    const bool complete = FastPOP3_MatchListing(listing, ids, &matches);
    const std::set<std::string> asked(ids.begin(), ids.end());
    std::set<std::string> seen;
    for (const FASTPOP3_MATCH& m : matches) {
        Check(asked.count(m.id) == 1);   // only what was asked for
        Check(seen.insert(m.id).second); // each id once
        Check(m.lines >= 1);
        Check(!m.number.empty() && m.number.size() <= 10 &&
              m.number.find_first_not_of("0123456789") == std::string::npos);
        // The whole id stands on a line of the listing after its number.
        Check(listing.find(m.number + " " + m.id) != std::string_view::npos);
    }
    // A listing without a lone "." line is never complete.
    if (complete)
        Check(listing.find("\n.\r\n") != std::string_view::npos ||
              listing.find("\n.\n") != std::string_view::npos);
    return 0;
}
