// SPDX-License-Identifier: GPL-3.0-or-later
// Texts of the layers without Qt in the program's translation catalogue.
// Those layers write English. A text handed up whole (a box, a notice, a
// status line) is marked with IW_N_ and looked up by whoever shows it: the
// tray program through Qt, while the command line keeps English. A text that
// is formatted or pieced together cannot be matched afterwards, so its format
// or its pieces are looked up first, through Iw_Translate.
// lupdate reads IW_N_ as QT_TRANSLATE_NOOP and Iw_Translate as translate; the
// context is always IW_TR_CONTEXT, spelled out because lupdate reads only
// literals.
#pragma once

#define IW_TR_CONTEXT "Inboxwarden"
#define IW_N_(context, text) text

// Returns the text in the user's language; the result lives as long as the
// process. Any thread.
using IwTranslator = const char* (*)(const char* context, const char* text);

// Installs the look-up before any worker runs (null: English again).
void Iw_SetTranslator(IwTranslator translator);

// `text` in the user's language, or `text` itself when no look-up is
// installed. Any thread.
const char* Iw_Translate(const char* context, const char* text);
