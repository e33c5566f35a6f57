// SPDX-License-Identifier: GPL-3.0-or-later
// The hand-over between a second start and the running copy, over the
// store's per-user local socket (platform/instance.h). One request per
// connection, one line each way: "menu", "check" (the text itself travels
// as the "CheckCmd" store value) or "shutdown"; the running copy answers
// "ok" once it has taken the request in.
#pragma once

#include <functional>
#include <string>

// Running copy: listens for requests and hands each to `onRequest` on the
// UI thread. Needs a QCoreApplication. false when the socket cannot be made.
bool Handover_Listen(std::function<void(const std::string& request)> onRequest);
void Handover_Close();

// Second copy: delivers one request, retrying the connection while the
// running copy may still be starting, at most `timeoutMs` in all. true when
// the running copy acknowledged it.
bool Handover_Send(const std::string& request, int timeoutMs);
