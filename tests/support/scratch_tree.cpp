#include "scratch_tree.h"

#include <atomic>
#include <chrono>

namespace {

std::string UniqueName() {
    static std::atomic<unsigned> counter{0};
    const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
    return "update-test-" + std::to_string(GetCurrentThreadId()) + "-" +
           std::to_string(static_cast<unsigned long long>(ticks)) + "-" + std::to_string(counter++);
}

} // namespace

ScratchTree::ScratchTree() {
    char temp[MAX_PATH];
    const DWORD length = GetTempPathA(MAX_PATH, temp);
    root_.assign(temp, length);
    if (!root_.empty() && root_.back() != '\\' && root_.back() != '/')
        root_ += '\\';
    root_ += UniqueName() + "\\";
    CreateDirectoryA(root_.c_str(), nullptr);
}

ScratchTree::~ScratchTree() {
    RemoveTree(root_);
}

bool ScratchTree::MakeDirectory(const std::string& relative) const {
    std::string path = root_;
    for (char c : relative) {
        if (c == '\\')
            CreateDirectoryA(path.c_str(), nullptr);
        path += c;
    }
    return CreateDirectoryA(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

bool ScratchTree::Write(const std::string& relative, const std::string& contents) const {
    const std::size_t slash = relative.rfind('\\');
    if (slash != std::string::npos)
        MakeDirectory(relative.substr(0, slash));
    HANDLE file = CreateFileA(Path(relative).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const BOOL ok =
        WriteFile(file, contents.data(), static_cast<DWORD>(contents.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == contents.size();
}

std::string ScratchTree::Read(const std::string& relative) const {
    HANDLE file = CreateFileA(Path(relative).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "<missing>";
    std::string contents;
    char chunk[4096];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read > 0)
        contents.append(chunk, read);
    CloseHandle(file);
    return contents;
}

bool ScratchTree::Exists(const std::string& relative) const {
    return GetFileAttributesA(Path(relative).c_str()) != INVALID_FILE_ATTRIBUTES;
}

void RemoveTree(const std::string& path) {
    std::string directory = path;
    if (!directory.empty() && directory.back() != '\\')
        directory += '\\';
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((directory + "*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = entry.cFileName;
            if (name == "." || name == "..")
                continue;
            const std::string child = directory + name;
            SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                // A link is removed as a link, never followed.
                if (!RemoveDirectoryA(child.c_str()))
                    RemoveTree(child);
            } else {
                DeleteFileA(child.c_str());
            }
        } while (FindNextFileA(search, &entry));
        FindClose(search);
    }
    RemoveDirectoryA(directory.c_str());
}
