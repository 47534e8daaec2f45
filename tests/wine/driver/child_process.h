// A process started by the program under test (Notepad): found by its
// parent, described by its command line and windows, and ended.
#pragma once

#include <string>
#include <vector>

#include <windows.h>

// Ids of the running processes with that parent and executable file name
// (compared without regard to case).
std::vector<DWORD> FindChildProcesses(DWORD parentId, const char* exeName);

// The command line the process was started with, read from its process
// parameters; empty when they cannot be read.
std::string ReadCommandLine(DWORD processId);

// "title|maximized" or "title|normal" for each visible top-level window of
// the process.
std::vector<std::string> DescribeWindows(DWORD processId);

void EndProcess(DWORD processId);
