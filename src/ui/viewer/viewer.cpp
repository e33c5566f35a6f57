#include "ui/viewer/viewer.h"

#include "platform/user_message.h"

QWidget* Viewer_Open(const std::string&, std::string, const MSG_RECORD*) {
    UserMsg_Show("Inboxwarden", "Message Viewer is not available in this version.",
                 UM_OK | UM_ICONINFO);
    return nullptr;
}

void Viewer_CloseAll() {}
