// The common controls: of those, the stand-in has the progress bar.
#include "../windows.h"
#include "window_objects.h"

BOOL WINAPI InitCommonControlsEx(const INITCOMMONCONTROLSEX* controls) {
    if (controls == nullptr || controls->dwSize != sizeof(INITCOMMONCONTROLSEX))
        return FALSE;
    if (controls->dwICC & ICC_PROGRESS_CLASS)
        RegisterProgressClass();
    return TRUE;
}
