#include "ui/addressbook/addressbook_picker.h"

#include "platform/user_message.h"

bool AddressBook_Pick(QWidget*, ADDRESS_LINES*) {
    UserMsg_Show("Inboxwarden", "The address book is not available in this version.",
                 UM_OK | UM_ICONINFO);
    return false;
}
