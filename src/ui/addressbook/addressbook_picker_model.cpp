// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/addressbook/addressbook_picker_model.h"

#include "common/text.h"

#include <cstring>

AddressPickerModel::AddressPickerModel(const std::vector<ADDRESSBOOK_CONTACT>& contacts,
                                       const ADDRESS_LINES& lines) {
    for (const ADDRESSBOOK_CONTACT& c : contacts) {
        NODE n;
        for (const std::string& e : c.emails)
            n.entries.push_back(Entry(c.name, e));
        if (c.emails.size() == 1) {
            n.text = n.entries.front();
            nodes_.push_back(std::move(n));
            continue;
        }
        n.text = c.name.empty() ? c.emails.front() : c.name;
        const int parent = static_cast<int>(nodes_.size());
        const std::vector<std::string> entries = n.entries;
        nodes_.push_back(std::move(n));
        // Under the name, the address alone says which one it is.
        for (size_t i = 0; i < entries.size(); ++i)
            nodes_.push_back(NODE{c.emails[i], parent, {entries[i]}});
    }
    lists_[PICK_TO] = Split(lines.to);
    lists_[PICK_CC] = Split(lines.cc);
    lists_[PICK_BCC] = Split(lines.bcc);
}

int AddressPickerModel::Add(int list, int node) {
    if (list < 0 || list >= PICK_LISTS || node < 0 || node >= static_cast<int>(nodes_.size()))
        return 0;
    std::vector<std::string>& l = lists_[list];
    int added = 0;
    for (const std::string& e : nodes_[static_cast<size_t>(node)].entries) {
        bool there = false;
        for (const std::string& have : l)
            there = there || Text_EqualsNoCase(AddressOf(have), AddressOf(e));
        if (there) continue;
        l.push_back(e);
        ++added;
    }
    return added;
}

void AddressPickerModel::Remove(int list, int index) {
    if (list < 0 || list >= PICK_LISTS) return;
    std::vector<std::string>& l = lists_[list];
    if (index >= 0 && index < static_cast<int>(l.size())) l.erase(l.begin() + index);
}

ADDRESS_LINES AddressPickerModel::Lines() const {
    return {Join(lists_[PICK_TO]), Join(lists_[PICK_CC]), Join(lists_[PICK_BCC])};
}

std::vector<std::string> AddressPickerModel::Split(std::string_view field) {
    std::vector<std::string> out;
    auto take = [&](std::string_view piece) {
        piece = Text_TrimBlanks(piece);
        if (piece.find('@') != std::string_view::npos) out.emplace_back(piece);
    };
    bool quoted = false, angle = false;
    size_t start = 0;
    for (size_t i = 0; i < field.size(); ++i) {
        const char c = field[i];
        if (quoted) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                quoted = false;
        } else if (c == '"') {
            quoted = true;
        } else if (c == '<') {
            angle = true;
        } else if (c == '>') {
            angle = false;
        } else if ((c == ',' || c == ';') && !angle) {
            take(field.substr(start, i - start));
            start = i + 1;
        }
    }
    if (start < field.size()) take(field.substr(start));
    return out;
}

std::string AddressPickerModel::Join(const std::vector<std::string>& entries) {
    std::string out;
    for (const std::string& e : entries) {
        if (!out.empty()) out += ", ";
        out += e;
    }
    return out;
}

std::string AddressPickerModel::Entry(std::string_view name, std::string_view address) {
    if (name.empty() || name == address) return std::string(address);
    bool quote = false;
    for (const char c : name)
        quote = quote || std::strchr("()<>[]:;@\\,.\"", c) != nullptr;
    if (!quote) return std::string(name) + " <" + std::string(address) + ">";
    std::string out = "\"";
    for (const char c : name) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\" <" + std::string(address) + ">";
}

std::string_view AddressPickerModel::AddressOf(std::string_view entry) {
    const size_t lt = entry.rfind('<');
    if (lt != std::string_view::npos) {
        const size_t gt = entry.find('>', lt);
        if (gt != std::string_view::npos) return entry.substr(lt + 1, gt - lt - 1);
    }
    return Text_TrimBlanks(entry);
}
