#pragma once

// Whether a directory entry's name can name a file on Windows as it is: no
// character that Windows forbids in names (control characters and
// < > : " / \ | ? *), no trailing space or dot (which Windows drops, so that
// the path would name another file), and no reserved device name (CON, PRN,
// AUX, NUL, COM1-COM9, LPT1-LPT9, with or without an extension), which
// Windows opens as the device. A name that fails this is never made into a
// path: on a file system that allows it, it would be read as something else.
bool IsWindowsFileName(const char* name);
