// SPDX-License-Identifier: GPL-3.0-or-later
// The address book picker's rules without its widgets: the contact tree,
// the To, Cc and Bcc lists, and how a recipient field becomes a list and a
// list a field again.
//
// A field is split at ',' and ';' that stand outside a quoted name and
// outside angle brackets, so that "Doe, John" <j@x.example> stays one
// entry; the pieces holding '@' are trimmed and listed. A list is joined
// with ", ". A contact's entry quotes its name when the name holds a
// character that would otherwise split it or end it.
#pragma once

#include "ui/addressbook/addressbook.h"
#include "ui/addressbook/addressbook_picker.h"

#include <string>
#include <string_view>
#include <vector>

enum PICK_LIST : int { PICK_TO = 0, PICK_CC = 1, PICK_BCC = 2, PICK_LISTS = 3 };

class AddressPickerModel {
  public:
    struct NODE {
        std::string text;                 // what the tree shows
        int parent = -1;                  // -1: a top-level contact
        std::vector<std::string> entries; // what choosing it adds to a list
    };

    AddressPickerModel(const std::vector<ADDRESSBOOK_CONTACT>& contacts,
                       const ADDRESS_LINES& lines);

    // Contacts with one address are one node; a contact with several is a
    // node whose children are its addresses (choosing it adds them all).
    // Children follow their parent.
    const std::vector<NODE>& Nodes() const { return nodes_; }
    const std::vector<std::string>& List(int list) const { return lists_[list]; }

    // Adds the node's entries to the list, each unless the list already
    // holds its address (ignoring case). Returns how many were added.
    int Add(int list, int node);
    // Removes entry `index` of the list (nothing when out of range).
    void Remove(int list, int index);
    // The three fields as OK writes them back.
    ADDRESS_LINES Lines() const;

    static std::vector<std::string> Split(std::string_view field);
    static std::string Join(const std::vector<std::string>& entries);
    // "Name <address>", the name quoted when it must be; the bare address
    // without a name.
    static std::string Entry(std::string_view name, std::string_view address);
    // The address of an entry: inside its angle brackets, else the entry.
    static std::string_view AddressOf(std::string_view entry);

  private:
    std::vector<NODE> nodes_;
    std::vector<std::string> lists_[PICK_LISTS];
};
