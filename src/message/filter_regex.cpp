// SPDX-License-Identifier: GPL-3.0-or-later
#include "message/filter_regex.h"

#include <algorithm>
#include <memory>

namespace {

// Parsed expression. Nesting is bounded by kMaxDepth, so the recursive
// parser and emitter stay shallow whatever the pattern.
struct Node {
    enum Kind { Empty, Byte, Any, Class, Concat, Alt, Repeat, LineStart, LineEnd } kind = Empty;
    uint8_t byte = 0;
    uint32_t cls = 0;
    int min = 0, max = 0; // Repeat; max -1 = unbounded
    std::vector<std::unique_ptr<Node>> kids;
};

constexpr int kMaxDepth = 32;
constexpr int kMaxCount = 1000;

bool isAsciiAlpha(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
unsigned char otherCase(unsigned char c) {
    return static_cast<unsigned char>(c ^ 0x20);
}

class Parser {
  public:
    Parser(std::string_view p, bool icase, FREGEX* re) : p_(p), icase_(icase), re_(re) {}

    std::unique_ptr<Node> Parse(std::string* error) {
        auto n = alt(0);
        if (n && pos_ < p_.size()) fail("unbalanced parenthesis");
        if (!error_.empty()) {
            *error = error_ + " at " + std::to_string(pos_ + 1);
            return nullptr;
        }
        return n;
    }

  private:
    void fail(const char* why) {
        if (error_.empty()) error_ = why;
    }
    bool more() const { return pos_ < p_.size() && error_.empty(); }
    unsigned char peek() const { return static_cast<unsigned char>(p_[pos_]); }

    std::unique_ptr<Node> make(Node::Kind k) {
        auto n = std::make_unique<Node>();
        n->kind = k;
        return n;
    }

    std::unique_ptr<Node> alt(int depth) {
        if (depth > kMaxDepth) {
            fail("groups nested too deeply");
            return nullptr;
        }
        auto first = concat(depth);
        if (!more() || peek() != '|') return first;
        auto a = make(Node::Alt);
        a->kids.push_back(std::move(first));
        while (more() && peek() == '|') {
            ++pos_;
            a->kids.push_back(concat(depth));
        }
        return a;
    }

    std::unique_ptr<Node> concat(int depth) {
        auto c = make(Node::Concat);
        while (more() && peek() != '|' && peek() != ')') {
            auto a = atom(depth);
            if (!a) return c;
            c->kids.push_back(quantified(std::move(a)));
        }
        return c;
    }

    // Reads "{n}", "{n,}" or "{n,m}" at pos_; false (pos_ unchanged) when the
    // brace does not start a count, in which case it is a literal.
    bool count(int* min, int* max) {
        size_t i = pos_ + 1;
        auto number = [&](int* out) {
            const size_t start = i;
            long v = 0;
            while (i < p_.size() && p_[i] >= '0' && p_[i] <= '9' && i - start < 6)
                v = v * 10 + (p_[i++] - '0');
            *out = static_cast<int>(v);
            return i > start;
        };
        if (!number(min)) return false;
        *max = *min;
        if (i < p_.size() && p_[i] == ',') {
            ++i;
            if (!number(max)) *max = -1;
        }
        if (i >= p_.size() || p_[i] != '}') return false;
        pos_ = i + 1;
        return true;
    }

    std::unique_ptr<Node> quantified(std::unique_ptr<Node> a) {
        while (more()) {
            int min = 0, max = -1;
            const unsigned char c = peek();
            if (c == '*') {
                ++pos_;
            } else if (c == '+') {
                min = 1, ++pos_;
            } else if (c == '?') {
                max = 1, ++pos_;
            } else if (c == '{' && count(&min, &max)) {
                if (min > kMaxCount || max > kMaxCount) {
                    fail("repetition count above 1000");
                    return a;
                }
                if (max >= 0 && max < min) {
                    fail("repetition range out of order");
                    return a;
                }
            } else {
                break;
            }
            // Lazy forms match the same texts; only whether, not where, counts.
            if (more() && peek() == '?') ++pos_;
            auto r = make(Node::Repeat);
            r->min = min;
            r->max = max;
            r->kids.push_back(std::move(a));
            a = std::move(r);
        }
        return a;
    }

    uint32_t newClass() {
        re_->classes.emplace_back(256, false);
        return static_cast<uint32_t>(re_->classes.size() - 1);
    }
    void addToClass(std::vector<bool>& set, unsigned char c) {
        set[c] = true;
        if (icase_ && isAsciiAlpha(c)) set[otherCase(c)] = true;
    }
    // \d \w \s and their negations into `set`; false for another letter.
    static bool shorthand(unsigned char c, std::vector<bool>& set) {
        auto fill = [&](auto pred, bool negate) {
            for (int b = 0; b < 256; ++b)
                if (pred(static_cast<unsigned char>(b)) != negate) set[b] = true;
        };
        auto digit = [](unsigned char b) { return b >= '0' && b <= '9'; };
        auto word = [](unsigned char b) {
            return isAsciiAlpha(b) || (b >= '0' && b <= '9') || b == '_';
        };
        auto space = [](unsigned char b) {
            return b == ' ' || b == '\t' || b == '\r' || b == '\n' || b == '\f' || b == '\v';
        };
        switch (c) {
        case 'd':
        case 'D':
            fill(digit, c == 'D');
            return true;
        case 'w':
        case 'W':
            fill(word, c == 'W');
            return true;
        case 's':
        case 'S':
            fill(space, c == 'S');
            return true;
        default:
            return false;
        }
    }
    // One escaped byte (after the backslash, at pos_): the byte, or -1 with
    // the error set.
    int escapedByte() {
        if (pos_ >= p_.size()) {
            fail("pattern ends in a backslash");
            return -1;
        }
        const unsigned char c = peek();
        ++pos_;
        switch (c) {
        case 't':
            return '\t';
        case 'n':
            return '\n';
        case 'r':
            return '\r';
        case 'f':
            return '\f';
        case 'v':
            return '\v';
        default:
            break;
        }
        if (c >= '0' && c <= '9') {
            --pos_;
            fail("back references are not supported");
            return -1;
        }
        if (isAsciiAlpha(c)) {
            --pos_;
            fail("unknown escape");
            return -1;
        }
        return c;
    }

    std::unique_ptr<Node> atom(int depth) {
        const unsigned char c = peek();
        switch (c) {
        case '(': {
            ++pos_;
            if (p_.substr(pos_, 2) == "?:") {
                pos_ += 2;
            } else if (more() && peek() == '?') {
                fail("look-around is not supported");
                return nullptr;
            }
            auto inner = alt(depth + 1);
            if (!more() || peek() != ')') {
                fail("unbalanced parenthesis");
                return nullptr;
            }
            ++pos_;
            return inner;
        }
        case '*':
        case '+':
        case '?':
            fail("nothing to repeat");
            return nullptr;
        case '.':
            ++pos_;
            return make(Node::Any);
        case '^':
            ++pos_;
            return make(Node::LineStart);
        case '$':
            ++pos_;
            return make(Node::LineEnd);
        case '[':
            return bracket();
        case '\\': {
            ++pos_;
            if (more()) {
                std::vector<bool> set(256, false);
                if (shorthand(peek(), set)) {
                    ++pos_;
                    auto n = make(Node::Class);
                    n->cls = newClass();
                    re_->classes[n->cls] = std::move(set);
                    return n;
                }
            }
            const int b = escapedByte();
            if (b < 0) return nullptr;
            return literal(static_cast<unsigned char>(b));
        }
        default:
            ++pos_;
            return literal(c);
        }
    }

    std::unique_ptr<Node> literal(unsigned char c) {
        if (icase_ && isAsciiAlpha(c)) {
            auto n = make(Node::Class);
            n->cls = newClass();
            addToClass(re_->classes[n->cls], c);
            return n;
        }
        auto n = make(Node::Byte);
        n->byte = c;
        return n;
    }

    std::unique_ptr<Node> bracket() {
        ++pos_; // '['
        std::vector<bool> set(256, false);
        bool negate = false;
        if (more() && peek() == '^') negate = true, ++pos_;
        bool first = true;
        while (true) {
            if (pos_ >= p_.size()) {
                fail("unbalanced bracket");
                return nullptr;
            }
            unsigned char c = peek();
            if (c == ']' && !first) break;
            first = false;
            ++pos_;
            if (c == '\\') {
                if (more() && shorthand(peek(), set)) {
                    ++pos_;
                    continue;
                }
                const int b = escapedByte();
                if (b < 0) return nullptr;
                c = static_cast<unsigned char>(b);
            }
            unsigned char hi = c;
            if (pos_ + 1 < p_.size() && peek() == '-' && p_[pos_ + 1] != ']') {
                ++pos_;
                hi = peek();
                ++pos_;
                if (hi == '\\') {
                    const int b = escapedByte();
                    if (b < 0) return nullptr;
                    hi = static_cast<unsigned char>(b);
                }
                if (hi < c) {
                    fail("range out of order");
                    return nullptr;
                }
            }
            for (int b = c; b <= hi; ++b)
                addToClass(set, static_cast<unsigned char>(b));
        }
        ++pos_; // ']'
        if (negate) set.flip();
        auto n = make(Node::Class);
        n->cls = newClass();
        re_->classes[n->cls] = std::move(set);
        return n;
    }

    std::string_view p_;
    size_t pos_ = 0;
    bool icase_;
    FREGEX* re_;
    std::string error_;
};

// Program size of a node, saturating above the cap so that nested counts
// cannot overflow before they are refused.
size_t sizeOf(const Node& n) {
    constexpr size_t kBig = FREGEX_MAX_PROGRAM + 1;
    switch (n.kind) {
    case Node::Empty:
        return 0;
    case Node::Concat:
    case Node::Alt: {
        size_t s = n.kind == Node::Alt ? 2 * n.kids.size() : 0;
        for (const auto& k : n.kids)
            s = std::min(kBig, s + sizeOf(*k));
        return s;
    }
    case Node::Repeat: {
        const size_t body = sizeOf(*n.kids[0]) + 2;
        const size_t copies =
            n.max < 0 ? static_cast<size_t>(n.min) + 1 : static_cast<size_t>(n.max);
        return copies && body > kBig / copies ? kBig
                                              : std::min(kBig, body * std::max<size_t>(copies, 1));
    }
    default:
        return 1;
    }
}

class Emitter {
  public:
    explicit Emitter(FREGEX* re) : prog_(re->prog) {}

    void Emit(const Node& n) {
        switch (n.kind) {
        case Node::Empty:
            return;
        case Node::Byte:
            push(FREGEX_INST::Byte).byte = n.byte;
            return;
        case Node::Any:
            push(FREGEX_INST::Any);
            return;
        case Node::Class:
            push(FREGEX_INST::Class).x = n.cls;
            return;
        case Node::LineStart:
            push(FREGEX_INST::LineStart);
            return;
        case Node::LineEnd:
            push(FREGEX_INST::LineEnd);
            return;
        case Node::Concat:
            for (const auto& k : n.kids)
                Emit(*k);
            return;
        case Node::Alt: {
            std::vector<size_t> jumps;
            for (size_t i = 0; i < n.kids.size(); ++i) {
                if (i + 1 < n.kids.size()) {
                    const size_t split = here();
                    push(FREGEX_INST::Split).x = static_cast<uint32_t>(split + 1);
                    Emit(*n.kids[i]);
                    jumps.push_back(here());
                    push(FREGEX_INST::Jump);
                    prog_[split].y = static_cast<uint32_t>(here());
                } else {
                    Emit(*n.kids[i]);
                }
            }
            for (size_t j : jumps)
                prog_[j].x = static_cast<uint32_t>(here());
            return;
        }
        case Node::Repeat: {
            const Node& body = *n.kids[0];
            for (int i = 0; i < n.min; ++i)
                Emit(body);
            if (n.max < 0) {
                const size_t loop = here();
                push(FREGEX_INST::Split).x = static_cast<uint32_t>(loop + 1);
                Emit(body);
                push(FREGEX_INST::Jump).x = static_cast<uint32_t>(loop);
                prog_[loop].y = static_cast<uint32_t>(here());
                return;
            }
            std::vector<size_t> exits;
            for (int i = n.min; i < n.max; ++i) {
                exits.push_back(here());
                push(FREGEX_INST::Split).x = static_cast<uint32_t>(here() + 1);
                Emit(body);
            }
            for (size_t e : exits)
                prog_[e].y = static_cast<uint32_t>(here());
            return;
        }
        }
    }

  private:
    size_t here() const { return prog_.size(); }
    FREGEX_INST& push(FREGEX_INST::Op op) {
        prog_.push_back(FREGEX_INST{op});
        return prog_.back();
    }
    std::vector<FREGEX_INST>& prog_;
};

// The set of live program counters of one step, without duplicates.
class ThreadList {
  public:
    explicit ThreadList(size_t n) : mark_(n, 0) { pcs_.reserve(n); }
    void Clear() {
        pcs_.clear();
        if (++gen_ == 0) {
            std::fill(mark_.begin(), mark_.end(), 0);
            gen_ = 1;
        }
    }
    bool Insert(uint32_t pc) {
        if (mark_[pc] == gen_) return false;
        mark_[pc] = gen_;
        pcs_.push_back(pc);
        return true;
    }
    const std::vector<uint32_t>& Pcs() const { return pcs_; }

  private:
    std::vector<uint32_t> mark_;
    std::vector<uint32_t> pcs_;
    uint32_t gen_ = 1;
};

} // namespace

bool FRegex_Compile(std::string_view pattern, bool matchCase, FREGEX* out, std::string* error) {
    std::string ignored;
    std::string& err = error ? *error : ignored;
    *out = FREGEX{};
    out->icase = !matchCase;
    if (pattern.size() > FREGEX_MAX_PATTERN) {
        err = "pattern longer than " + std::to_string(FREGEX_MAX_PATTERN) + " bytes";
        return false;
    }
    Parser parser(pattern, !matchCase, out);
    auto tree = parser.Parse(&err);
    if (!tree) return false;
    if (sizeOf(*tree) + 1 > FREGEX_MAX_PROGRAM) {
        err = "pattern too complex (too many repetitions)";
        return false;
    }
    Emitter(out).Emit(*tree);
    out->prog.push_back(FREGEX_INST{FREGEX_INST::Match});
    return true;
}

bool FRegex_Search(const FREGEX& re, std::string_view text) {
    const auto& prog = re.prog;
    if (prog.empty()) return false;
    ThreadList cur(prog.size()), next(prog.size());
    std::vector<uint32_t> stack;
    stack.reserve(prog.size());
    // Follows the empty moves from `pc` at text position `at`; true when
    // Match is reached.
    auto add = [&](ThreadList& list, uint32_t pc, size_t at) {
        stack.push_back(pc);
        while (!stack.empty()) {
            const uint32_t p = stack.back();
            stack.pop_back();
            if (!list.Insert(p)) continue;
            const FREGEX_INST& in = prog[p];
            switch (in.op) {
            case FREGEX_INST::Match:
                stack.clear();
                return true;
            case FREGEX_INST::Jump:
                stack.push_back(in.x);
                break;
            case FREGEX_INST::Split:
                stack.push_back(in.y);
                stack.push_back(in.x);
                break;
            case FREGEX_INST::LineStart:
                if (at == 0 || text[at - 1] == '\n') stack.push_back(p + 1);
                break;
            case FREGEX_INST::LineEnd:
                if (at == text.size() || text[at] == '\n' || text[at] == '\r')
                    stack.push_back(p + 1);
                break;
            default:
                break;
            }
        }
        return false;
    };
    cur.Clear();
    for (size_t at = 0;; ++at) {
        if (add(cur, 0, at)) return true;
        if (at == text.size()) return false;
        const auto c = static_cast<unsigned char>(text[at]);
        next.Clear();
        for (uint32_t p : cur.Pcs()) {
            const FREGEX_INST& in = prog[p];
            bool step = false;
            switch (in.op) {
            case FREGEX_INST::Byte:
                step = c == in.byte;
                break;
            case FREGEX_INST::Any:
                step = c != '\n' && c != '\r';
                break;
            case FREGEX_INST::Class:
                step = re.classes[in.x][c];
                break;
            default:
                break;
            }
            if (step && add(next, p + 1, at + 1)) return true;
        }
        std::swap(cur, next);
    }
}
