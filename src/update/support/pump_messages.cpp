#include "pump_messages.h"

namespace {

// One thread pumps, and it shows at most one dialog at a time.
HWND modelessDialog = nullptr;

} // namespace

void SetModelessDialog(HWND dialog) {
    modelessDialog = dialog;
}

void PumpMessages() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (modelessDialog != nullptr && IsDialogMessageA(modelessDialog, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}
