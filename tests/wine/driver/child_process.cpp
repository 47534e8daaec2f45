#include "child_process.h"

#include <winternl.h>

#include <tlhelp32.h>

#include "report.h"

namespace {

typedef NTSTATUS(NTAPI* QueryInformationProcess)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);

struct WindowList {
    DWORD processId;
    std::vector<std::string>* descriptions;
};

BOOL CALLBACK DescribeWindow(HWND window, LPARAM parameter) {
    WindowList* list = reinterpret_cast<WindowList*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != list->processId || !IsWindowVisible(window) || GetParent(window) != nullptr)
        return TRUE;
    wchar_t title[512] = {};
    GetWindowTextW(window, title, 512);
    list->descriptions->push_back(Utf8FromWide(title) +
                                  (IsZoomed(window) ? "|maximized" : "|normal"));
    return TRUE;
}

template <typename T> bool ReadRemote(HANDLE process, const void* address, T* value) {
    SIZE_T read = 0;
    return ReadProcessMemory(process, address, value, sizeof(T), &read) && read == sizeof(T);
}

} // namespace

std::vector<DWORD> FindChildProcesses(DWORD parentId, const char* exeName) {
    std::vector<DWORD> found;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return found;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more;
         more = Process32Next(snapshot, &entry)) {
        if (entry.th32ParentProcessID == parentId && lstrcmpiA(entry.szExeFile, exeName) == 0)
            found.push_back(entry.th32ProcessID);
    }
    CloseHandle(snapshot);
    return found;
}

std::string ReadCommandLine(DWORD processId) {
    QueryInformationProcess query =
        reinterpret_cast<QueryInformationProcess>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationProcess")));
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
    if (query == nullptr || process == nullptr)
        return std::string();
    std::string commandLine;
    PROCESS_BASIC_INFORMATION basic;
    PEB peb;
    RTL_USER_PROCESS_PARAMETERS parameters;
    if (query(process, ProcessBasicInformation, &basic, sizeof basic, nullptr) == 0 &&
        ReadRemote(process, basic.PebBaseAddress, &peb) &&
        ReadRemote(process, peb.ProcessParameters, &parameters)) {
        std::wstring text(parameters.CommandLine.Length / sizeof(wchar_t) + 1, L'\0');
        SIZE_T read = 0;
        if (ReadProcessMemory(process, parameters.CommandLine.Buffer, &text[0],
                              parameters.CommandLine.Length, &read))
            commandLine = Utf8FromWide(text.c_str());
    }
    CloseHandle(process);
    return commandLine;
}

std::vector<std::string> DescribeWindows(DWORD processId) {
    std::vector<std::string> descriptions;
    WindowList list = {processId, &descriptions};
    EnumWindows(DescribeWindow, reinterpret_cast<LPARAM>(&list));
    return descriptions;
}

void EndProcess(DWORD processId) {
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, processId);
    if (process == nullptr)
        return;
    TerminateProcess(process, 0);
    WaitForSingleObject(process, 5000);
    CloseHandle(process);
}
