#pragma once

#include <windows.h>

namespace bw {

// Every private message and timer of the main window and of the parts that post to it, in one place, so that no
// two of them share a number.
enum WindowMessage : UINT {
    kActivateMessage = WM_APP + 1,   // a refresh asked for (activation, or a command that ended while one was due)
    kToggleMessage,                  // a check-box change, so that the list is not changed inside its own notification
    kNoticesMessage,                 // the lock is free again: the messages held back while it was taken are shown
    kStartMessage,                   // posted at creation: the first refresh runs once the window is shown
    kStartImportMessage,             // the first start's import, on its own thread, has news (TStartImport)
    kListKeyUpMessage = WM_APP + 10, // a key released in the list after it was pressed there; wParam: the key
    kFactsReadMessage,               // to the list: the reader of file facts has read something
    kIconsReadMessage,               // to the list: the reader of icons has read some
    kWatchChangedMessage = WM_APP + 20, // a watched place changed (posted by the watch's own thread)
};

enum WindowTimer : UINT_PTR {
    kImportTimer = 1,  // a long import goes on, a part at a time
    kRowsTimer = 2,    // the first start's rows go into the list, a slice at a time
    kBusyTimer = 3,    // a refresh that found the store busy tries again
    kGatherTimer = 20, // a burst of changes has passed
};

} // namespace bw
