// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/translate.h"

#include <atomic>

namespace {

std::atomic<IwTranslator> g_translator{nullptr};

} // namespace

void Iw_SetTranslator(IwTranslator translator) {
    g_translator = translator;
}

const char* Iw_Translate(const char* context, const char* text) {
    const IwTranslator t = g_translator;
    return t && text ? t(context, text) : text;
}
