// SPDX-License-Identifier: GPL-3.0-or-later
// The MailBox window's images: the status images of the message list and its
// attachment mark, the images of the account tree and the toolbar buttons.
// Each icon holds its picture at 1x and 2x, so that Qt takes the sharper one
// on a scaled screen; both are drawn from one vector drawing by
// tools/make_icons and compiled in from resources/icons/mailbox, so an
// executable must link iw_resources for them to load. UI thread only.
//
// The list and the tree number their images as one strip: a row or a node
// asks for image N. The list and the tree draw the same number differently
// (image 4 is a message marked for deletion in the list and a failed check
// in the tree), so each has its own accessor.
#pragma once

#include <QIcon>

// Logical sizes in pixels; the 2x pictures are twice as large.
inline constexpr int IMAGES_LIST_SIZE = 16; // list rows, column header and tree nodes
inline constexpr int IMAGES_TOOL_SIZE = 24; // toolbar buttons

// Images of the message list: a row's status image (shown in the "From"
// column) and the attachment mark of column 0. Number 3 is no image; 6 is
// the tree's root only.
enum : int {
    IMG_OTHER = 0,     // a status without an image of its own (a record halfway through a check)
    IMG_NEW = 1,       // MSG_NEW and MSG_QUIET
    IMG_OLD = 2,       // MSG_OLD: read or dealt with
    IMG_TO_DELETE = 4, // MSG_TO_DELETE: deleted on the server by the next check or "Now!"
    IMG_UNREAD = 5,    // MSG_UNREAD
    IMG_NOTIFIED = 7,  // MSG_NOTIFIED: new, announced by an earlier check
    IMG_ATTACH = 8,    // the record has an attachment (column 0, and that column's header)
    IMG_DELETED = 9,   // MSG_DELETED: gone from the server, about to leave the list
};
inline constexpr int IMAGES_STATUS[] = {IMG_OTHER,  IMG_NEW,      IMG_OLD,    IMG_TO_DELETE,
                                        IMG_UNREAD, IMG_NOTIFIED, IMG_ATTACH, IMG_DELETED};

// Images of the account tree. An account node takes the first that holds of:
// its last check failed, new or quiet messages, notified, unread, old, else
// TREE_EMPTY.
enum : int {
    TREE_EMPTY = 0,    // nothing of the above (no record, or only marked ones)
    TREE_NEW = 1,      // new or quiet messages
    TREE_OLD = 2,      // old messages only
    TREE_FAILED = 4,   // the last check failed
    TREE_UNREAD = 5,   // unread messages
    TREE_ROOT = 6,     // the root node: every mailbox of the profile
    TREE_NOTIFIED = 7, // new messages announced already
};
inline constexpr int IMAGES_TREE[] = {TREE_EMPTY,  TREE_NEW,  TREE_OLD,     TREE_FAILED,
                                      TREE_UNREAD, TREE_ROOT, TREE_NOTIFIED};

// Toolbar buttons by the command each issues, in the toolbar's order
// (separators follow "Now!", "Forward", "New", "Prev", "Auto" and "Progress").
enum : int {
    TOOL_MARK_DELETE = 40016,    // "Delete": toggles the deletion mark of the selected rows
    TOOL_DELETE_NOW = 40015,     // "Now!": deletes on the server at once
    TOOL_REPLY = 40028,          // "Reply"
    TOOL_FORWARD = 40046,        // "Forward"
    TOOL_COMPOSE = 40029,        // "New": a new message
    TOOL_FIND = 40051,           // "Find": the Find box
    TOOL_FIND_NEXT = 40052,      // "Next": down the list
    TOOL_FIND_PREV = 40053,      // "Prev": up the list
    TOOL_AUTO = 40002,           // "Auto": automatic checking on or off (check style)
    TOOL_PROGRESS = 40033,       // "Progress": the progress window on or off (check style)
    TOOL_CLIENT = 1501,          // "Client": the e-mail client
    TOOL_CHECK_CURRENT = 1502,   // "Current": check the selected account
    TOOL_CHECK_ALL = 1500,       // "All": check every account
    TOOL_CHECK_INCLUDED = 40020, // "Included": check the accounts of automatic checking
};
inline constexpr int IMAGES_TOOLBAR[] = {
    TOOL_MARK_DELETE, TOOL_DELETE_NOW,    TOOL_REPLY,     TOOL_FORWARD,       TOOL_COMPOSE,
    TOOL_FIND,        TOOL_FIND_NEXT,     TOOL_FIND_PREV, TOOL_AUTO,          TOOL_PROGRESS,
    TOOL_CLIENT,      TOOL_CHECK_CURRENT, TOOL_CHECK_ALL, TOOL_CHECK_INCLUDED};

// The list image `image` (IMG_*), the tree image `image` (TREE_*) and the
// toolbar image of `command` (TOOL_*). A number without an image gives a null
// icon, which Qt draws as nothing. The icons are loaded once and shared.
QIcon Images_Status(int image);
QIcon Images_Tree(int image);
QIcon Images_Tool(int command);

// Lets go of the loaded icons once no window shows them (UI thread); they
// are loaded again when next asked for.
void Images_ReleaseCache();
