// Reading a message box of another process: the dialog window ("#32770")
// of that process, its caption, its text and the icon it shows.
#pragma once

#include <string>

#include <windows.h>

// A visible message box of the process, or null.
HWND FindMessageBox(DWORD processId);

std::string ReadCaption(HWND box);
std::string ReadText(HWND box);

// Which system icon the box shows: "warning", "information", "error",
// "question", "none", or "unknown". Icon handles are not comparable across
// processes (nor is the icon readable from here), so the icon control's
// pixels on the screen are compared with each system icon drawn on the same
// background; only an exact match names it.
std::string IdentifyIcon(HWND box);

// Presses the OK button (or the box's only button).
void PressOk(HWND box);
