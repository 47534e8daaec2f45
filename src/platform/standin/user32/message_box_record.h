// What the last message box of the process was asked for beyond its caption
// and text: its owner and its style (buttons and icon), which the line on
// standard error does not show. Lets tests see what a box would look like.
#pragma once

#include "../windows.h"

struct MessageBoxRecord {
    HWND owner;
    UINT type;
};

// A box with a null owner and type 0 (MB_OK) before the first box.
MessageBoxRecord LastMessageBox();
