#include "commit_reader.h"

#include "report.h"

CommitReader::CommitReader(const std::string& file) : file_(file) {
    const std::size_t separator = file.find_last_of("\\/");
    pattern_ = (separator == std::string::npos ? std::string() : file.substr(0, separator + 1)) +
               ".Update-*.old";
    thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
}

CommitReader::~CommitReader() {
    InterlockedExchange(&stop_, 1);
    if (thread_ != nullptr) {
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
    }
    if (held_ != INVALID_HANDLE_VALUE)
        CloseHandle(held_);
    Report("hold-at-commit",
           file_ + (outcome_ == 0            ? std::string("|ok")
                    : outcome_ == 0xFFFFFFFF ? std::string("|no-commit")
                                             : "|error " + std::to_string(outcome_)));
}

DWORD WINAPI CommitReader::Run(LPVOID self) {
    CommitReader& reader = *static_cast<CommitReader*>(self);
    while (!reader.stop_) {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA(reader.pattern_.c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) {
            Sleep(1);
            continue;
        }
        FindClose(search);
        reader.held_ =
            CreateFileA(reader.file_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_EXISTING, 0, nullptr);
        reader.outcome_ = reader.held_ != INVALID_HANDLE_VALUE ? 0 : GetLastError();
        break;
    }
    return 0;
}
