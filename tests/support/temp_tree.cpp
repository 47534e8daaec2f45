#include "temp_tree.h"

#include <atomic>
#include <cstdio>

#include <gtest/gtest.h>

TempTree::TempTree() {
    char base[MAX_PATH];
    DWORD length = GetTempPathA(sizeof(base), base);
    EXPECT_GT(length, 0u);
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 1000; ++attempt) {
        char name[64];
        std::snprintf(name, sizeof(name), "win32-test-%lu-%u",
                      static_cast<unsigned long>(GetCurrentThreadId()), counter++);
        std::string candidate = std::string(base) + name;
        if (CreateDirectoryA(candidate.c_str(), nullptr)) {
            root_ = candidate;
            return;
        }
    }
    ADD_FAILURE() << "no scratch directory under " << base;
}

TempTree::~TempTree() {
    if (!root_.empty())
        RemoveTree(root_);
}

std::string TempTree::Path(const std::string& relative) const {
    return root_ + "\\" + relative;
}

void TempTree::WriteFile(const std::string& relative, const std::string& contents) const {
    const std::size_t separator = relative.rfind('\\');
    if (separator != std::string::npos)
        MakeDirectory(relative.substr(0, separator));
    HANDLE file = CreateFileA(Path(relative).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << relative << " error " << GetLastError();
    DWORD written = 0;
    EXPECT_TRUE(
        ::WriteFile(file, contents.data(), static_cast<DWORD>(contents.size()), &written, nullptr));
    EXPECT_EQ(written, contents.size());
    CloseHandle(file);
}

std::string TempTree::ReadFile(const std::string& relative) const {
    HANDLE file = CreateFileA(Path(relative).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "<missing>";
    std::string contents;
    char buffer[4096];
    DWORD read = 0;
    while (::ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0)
        contents.append(buffer, read);
    CloseHandle(file);
    return contents;
}

void TempTree::MakeDirectory(const std::string& relative) const {
    for (std::size_t at = relative.find('\\'); at != std::string::npos;
         at = relative.find('\\', at + 1))
        CreateDirectoryA(Path(relative.substr(0, at)).c_str(), nullptr);
    EXPECT_TRUE(CreateDirectoryA(Path(relative).c_str(), nullptr) ||
                GetLastError() == ERROR_ALREADY_EXISTS)
        << relative;
}

bool TempTree::Exists(const std::string& relative) const {
    return GetFileAttributesA(Path(relative).c_str()) != INVALID_FILE_ATTRIBUTES;
}

void RemoveTree(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DeleteFileA(path.c_str()); // a link whose target is gone
        return;
    }
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path.c_str());
        return;
    }
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((path + "\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::string name = data.cFileName;
            const std::string child = path + "\\" + name;
            if (name == "." || name == "..")
                continue;
            // Removing a directory first takes a link as a link.
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
                !RemoveDirectoryA(child.c_str()))
                RemoveTree(child);
        } while (FindNextFileA(find, &data));
        FindClose(find);
    }
    RemoveDirectoryA(path.c_str());
}
