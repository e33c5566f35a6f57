#include "ui/profiles/profiles_dialog.h"

#include "platform/user_message.h"

bool ProfilesDialog_Run(QWidget*) {
    UserMsg_Show("Inboxwarden", "The profiles dialog is not available in this version.",
                 UM_OK | UM_ICONINFO);
    return false;
}
