// SPDX-License-Identifier: GPL-3.0-or-later
// The tray program's look-up of the texts the layers below the windows hand
// up in English, against a catalogue made by lrelease.
#include "app/translation.h"
#include "common/translate.h"

#include <QCoreApplication>
#include <QTranslator>

#include <gtest/gtest.h>

#include <cstdio>
#include <thread>
#include <vector>

TEST(Translation, LowerLayerTextsAreShownTranslated) {
    int argc = 1;
    char name[] = "translation_test";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    QTranslator catalogue;
    ASSERT_TRUE(catalogue.load(QStringLiteral(IW_TEST_QM)));
    QCoreApplication::installTranslator(&catalogue);

    // A whole text, looked up where it is shown.
    EXPECT_EQ(Translation_Shown("Connection refused"), "Verbindung abgelehnt");
    EXPECT_EQ(Translation_Shown("Host 192.0.2.1: Connection refused"),
              "Host 192.0.2.1: Connection refused");

    // A format, looked up before it is filled in, from the worker too: each
    // thread gets the one copy that lives on.
    EXPECT_STREQ(Iw_Translate(IW_TR_CONTEXT, "Retrieving message %d of %d"),
                 "Retrieving message %d of %d"); // no look-up installed: English
    Iw_SetTranslator(&Translation_Lookup);
    std::vector<const char*> seen(4);
    std::vector<std::thread> workers;
    for (auto& s : seen)
        workers.emplace_back(
            [&s] { s = Iw_Translate(IW_TR_CONTEXT, "Retrieving message %d of %d"); });
    for (auto& w : workers)
        w.join();
    for (const char* s : seen)
        EXPECT_EQ(s, seen[0]);
    char text[96];
    std::snprintf(text, sizeof text, seen[0], 2, 5);
    EXPECT_STREQ(text, "Nachricht 2 von 5 wird abgerufen");

    // A translation whose conversions differ from the source's would be
    // filled with arguments of the wrong type: the source is used.
    EXPECT_STREQ(Iw_Translate("Tray", "Mail client not found\n(%s)"),
                 "Mail client not found\n(%s)");
    Iw_SetTranslator(nullptr);
}
