#include "ui/savedmsgs/savedmsgs_window.h"

#include "common/status.h"
#include "platform/user_message.h"

uint32_t SavedMessages_Open(QWidget*) {
    UserMsg_Show("Inboxwarden", "Saved Messages is not available in this version.",
                 UM_OK | UM_ICONINFO);
    return ERR_NOT_READY;
}
