#include "ui/filter/filter_editor.h"

#include "platform/user_message.h"

bool FilterEditor_Open(QWidget*, const std::string&) {
    UserMsg_Show("Inboxwarden", "The filter editor is not available in this version.",
                 UM_OK | UM_ICONINFO);
    return false;
}
