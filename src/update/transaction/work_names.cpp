#include "work_names.h"

#include "hex_digit.h"

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
        const int digit = HexDigitValue(*text);
        if (digit < 0)
            return nullptr;
        value = value * 16 + static_cast<DWORD>(digit);
    }
    return text;
}

// After the prefix and the process id of a work name: what follows them
// (null when name does not begin so).
const char* AfterProcessId(const char* name, DWORD& processId) {
    for (const char* p = kPrefix; *p != '\0'; ++p, ++name)
        if (*name != *p)
            return nullptr;
    return ReadHex(name, processId);
}

// Whether `rest`, what follows the process id, is "-<number><suffix>".
bool IsNumbered(const char* rest, const char* suffix) {
    DWORD number;
    rest = *rest == '-' ? ReadHex(rest + 1, number) : nullptr;
    return rest != nullptr && lstrcmpiA(rest, suffix) == 0;
}

} // namespace

void AppendStaged(TextString& path, DWORD processId, std::uint32_t number) {
    Append(path, processId, number, kStagedSuffix);
}

void AppendBackup(TextString& path, DWORD processId, std::uint32_t number) {
    Append(path, processId, number, kBackupSuffix);
}

bool IsLeftoverTemporary(const char* name, DWORD ownProcessId) {
    DWORD processId;
    const char* rest = AfterProcessId(name, processId);
    if (rest == nullptr)
        return false;
    if (lstrcmpiA(rest, kStagedSuffix) == 0)
        return true; // an earlier version's, whoever made it
    return processId != ownProcessId && IsNumbered(rest, kStagedSuffix);
}

bool IsBackup(const char* name) {
    DWORD processId;
    const char* rest = AfterProcessId(name, processId);
    return rest != nullptr && IsNumbered(rest, kBackupSuffix);
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
