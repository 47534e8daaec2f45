#include "scanner.h"

#include <cstdlib>

#include "report.h"

Scanner::Scanner(const std::string& folder) : folder_(folder) {
    directory_ = CreateFileA(folder.c_str(), FILE_LIST_DIRECTORY,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (directory_ != INVALID_HANDLE_VALUE)
        thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
}

Scanner::~Scanner() {
    // The thread may wait in ReadDirectoryChangesW: it is left to the end
    // of the process, which follows.
    InterlockedExchange(&stop_, 1);
    Report("scanned", std::to_string(held_));
    Report("refused", std::to_string(refused_));
}

DWORD WINAPI Scanner::Run(LPVOID self) {
    Scanner& scanner = *static_cast<Scanner*>(self);
    std::srand(12345);
    alignas(DWORD) char buffer[64 * 1024];
    while (!scanner.stop_) {
        DWORD length = 0;
        if (!ReadDirectoryChangesW(scanner.directory_, buffer, sizeof buffer, TRUE,
                                   FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE,
                                   &length, nullptr, nullptr))
            break;
        for (DWORD at = 0; length != 0 && !scanner.stop_;) {
            const auto* event = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(buffer + at);
            if (event->Action == FILE_ACTION_ADDED || event->Action == FILE_ACTION_MODIFIED ||
                event->Action == FILE_ACTION_RENAMED_NEW_NAME) {
                std::wstring name(event->FileName, event->FileNameLength / sizeof(wchar_t));
                std::wstring path(scanner.folder_.begin(), scanner.folder_.end());
                path += L"\\" + name;
                HANDLE file =
                    CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
                if (file != INVALID_HANDLE_VALUE) {
                    Sleep(20 + static_cast<DWORD>(std::rand() % 131));
                    CloseHandle(file);
                    InterlockedIncrement(&scanner.held_);
                } else if (GetLastError() == ERROR_SHARING_VIOLATION) {
                    InterlockedIncrement(&scanner.refused_);
                }
            }
            if (event->NextEntryOffset == 0)
                break;
            at += event->NextEntryOffset;
        }
    }
    return 0;
}
