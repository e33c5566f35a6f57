#include "ui/print.h"

#include "platform/user_message.h"

void Print_WindowText(const std::string*, QWidget*) {
    UserMsg_Show("Inboxwarden", "Printing is not available in this version.", UM_OK | UM_ICONINFO);
}
