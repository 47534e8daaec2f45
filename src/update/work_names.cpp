#include "work_names.h"

namespace work_names {

namespace {

const char kPrefix[] = ".Update-";
const char kStagedSuffix[] = ".tmp";
const char kBackupSuffix[] = ".old";
const unsigned kDigits = 8;

void Append(TextString& path, DWORD processId, std::uint32_t number, const char* suffix) {
    TextString name;
    name.Format("%s%08lX-%08lX%s", kPrefix, static_cast<unsigned long>(processId),
                static_cast<unsigned long>(number), suffix);
    path.Append(name);
}

// Reads 8 hexadecimal digits into value; null when they are not there.
const char* ReadHex(const char* text, DWORD& value) {
    value = 0;
    for (unsigned i = 0; i < kDigits; ++i, ++text) {
        const char c = *text;
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else
            return nullptr;
        value = value * 16 + digit;
    }
    return text;
}

} // namespace

void AppendStaged(TextString& path, DWORD processId, std::uint32_t number) {
    Append(path, processId, number, kStagedSuffix);
}

void AppendBackup(TextString& path, DWORD processId, std::uint32_t number) {
    Append(path, processId, number, kBackupSuffix);
}

bool IsLeftoverTemporary(const char* name, DWORD ownProcessId) {
    for (const char* p = kPrefix; *p != '\0'; ++p, ++name)
        if (*name != *p)
            return false;
    DWORD processId, number;
    name = ReadHex(name, processId);
    if (name == nullptr)
        return false;
    if (lstrcmpiA(name, kStagedSuffix) == 0)
        return true; // an earlier version's, whoever made it
    if (*name != '-' || processId == ownProcessId)
        return false;
    name = ReadHex(name + 1, number);
    return name != nullptr && lstrcmpiA(name, kStagedSuffix) == 0;
}

bool IsBackup(const char* name) {
    for (const char* p = kPrefix; *p != '\0'; ++p, ++name)
        if (*name != *p)
            return false;
    DWORD processId, number;
    name = ReadHex(name, processId);
    if (name == nullptr || *name != '-')
        return false;
    name = ReadHex(name + 1, number);
    return name != nullptr && lstrcmpiA(name, kBackupSuffix) == 0;
}

bool RemoveWorkFile(const TextString& path) {
    if (DeleteFileA(path.GetText()))
        return true;
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
        return true;
    const DWORD attributes = GetFileAttributesA(path.GetText());
    if (error == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_READONLY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
        SetFileAttributesA(path.GetText(), FILE_ATTRIBUTE_NORMAL)) {
        if (DeleteFileA(path.GetText()))
            return true;
        error = GetLastError();
    }
    SetLastError(error);
    return false;
}

} // namespace work_names
