// The registry, read from one .reg file. The file is read again at every
// key open, so that a change to it shows in the next open, as in regedit.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include "handle_objects.h"
#include "reg_file_parser.h"
#include "registry_file.h"

namespace {

struct KeyObject {
    HandleObject header;
    char* path;
    RegistryKeyContents contents;
};

const char* RootName(HKEY key) {
    if (key == HKEY_LOCAL_MACHINE)
        return "HKEY_LOCAL_MACHINE";
    if (key == HKEY_CURRENT_USER)
        return "HKEY_CURRENT_USER";
    return nullptr;
}

KeyObject* KeyFromHandle(HKEY key) {
    return reinterpret_cast<KeyObject*>(FindHandle(key, HandleKind::RegistryKey));
}

// Why a registry file gave no text.
enum class Unread { Missing, Unreadable, OutOfMemory };

// Reads the whole file; a missing file is an empty registry.
unsigned char* ReadWholeFile(const char* path, std::size_t* length, Unread* why) {
    *why = Unread::Unreadable;
    *length = 0;
    // Opening never waits, and only a regular file is read: a FIFO or a
    // device is a file that cannot be read.
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            *why = Unread::Missing;
        return nullptr;
    }
    struct stat status;
    std::FILE* file = nullptr;
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) ||
        (file = fdopen(fd, "rb")) == nullptr) {
        close(fd);
        return nullptr;
    }
    std::size_t capacity = 4096;
    unsigned char* bytes = static_cast<unsigned char*>(std::malloc(capacity));
    while (bytes != nullptr) {
        std::size_t count = std::fread(bytes + *length, 1, capacity - *length, file);
        *length += count;
        if (*length < capacity)
            break;
        capacity *= 2;
        void* grown = std::realloc(bytes, capacity);
        if (grown == nullptr)
            std::free(bytes);
        bytes = static_cast<unsigned char*>(grown);
    }
    bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (bytes == nullptr)
        *why = Unread::OutOfMemory;
    if (failed) {
        std::free(bytes);
        return nullptr;
    }
    return bytes;
}

void Report(const char* path, const char* what) {
    std::fprintf(stderr, "%s: %s\n", path, what);
    std::fflush(stderr);
}

const char kOutOfMemory[] = "registry file not read whole for want of memory, ignored";

// One complaint per file and fault, however often the file is read. A
// fault at line 0 is running out of memory, not a malformed file.
void ReportMalformed(const char* path, const RegFileError& error) {
    if (error.line == 0) {
        Report(path, kOutOfMemory);
        return;
    }
    static std::mutex lock;
    static char reportedPath[4096];
    static unsigned reportedLine = 0;
    std::lock_guard<std::mutex> guard(lock);
    if (reportedLine == error.line && std::strcmp(reportedPath, path) == 0)
        return;
    std::snprintf(reportedPath, sizeof(reportedPath), "%s", path);
    reportedLine = error.line;
    std::fprintf(stderr, "%s:%u: malformed registry file, ignored: %s\n", path, error.line,
                 error.reason);
    std::fflush(stderr);
}

// Loads the key's values: ERROR_SUCCESS, ERROR_FILE_NOT_FOUND when the key
// does not exist, ERROR_NOT_ENOUGH_MEMORY when the file could not be taken
// in for want of memory.
LSTATUS LoadKey(const char* keyPath, RegistryKeyContents* contents) {
    contents->exists = false;
    contents->values = nullptr;
    char filePath[4096];
    RegistryFilePath(filePath, sizeof(filePath));
    std::size_t length = 0;
    Unread why = Unread::Missing;
    unsigned char* bytes = ReadWholeFile(filePath, &length, &why);
    if (bytes == nullptr) {
        if (why == Unread::OutOfMemory) {
            Report(filePath, kOutOfMemory);
            return ERROR_NOT_ENOUGH_MEMORY;
        }
        if (why == Unread::Unreadable)
            Report(filePath, "registry file cannot be read, ignored");
        return ERROR_FILE_NOT_FOUND;
    }
    std::size_t textLength = 0;
    RegFileError error = {0, ""};
    char* text = DecodeRegFileText(bytes, length, &textLength, &error);
    std::free(bytes);
    if (text == nullptr) {
        ReportMalformed(filePath, error);
        return error.line == 0 ? ERROR_NOT_ENOUGH_MEMORY : ERROR_FILE_NOT_FOUND;
    }
    const bool parsed = ParseRegFile(text, textLength, keyPath, contents, &error);
    std::free(text);
    if (!parsed) {
        ReportMalformed(filePath, error);
        if (error.line == 0)
            return ERROR_NOT_ENOUGH_MEMORY;
    }
    return contents->exists ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

} // namespace

LSTATUS WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM, PHKEY result) {
    if (result == nullptr)
        return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    const char* parent = RootName(key);
    if (parent == nullptr) {
        KeyObject* parentKey = KeyFromHandle(key);
        if (parentKey == nullptr)
            return ERROR_INVALID_HANDLE;
        parent = parentKey->path;
    }
    if (subKey == nullptr)
        subKey = "";
    if (subKey[0] == '\0' && RootName(key) != nullptr) {
        *result = key; // a root always exists, and opens as itself
        return ERROR_SUCCESS;
    }
    std::size_t parentLength = std::strlen(parent);
    char* path = static_cast<char*>(std::malloc(parentLength + 1 + std::strlen(subKey) + 1));
    if (path == nullptr)
        return ERROR_NOT_ENOUGH_MEMORY;
    std::strcpy(path, parent);
    if (subKey[0] != '\0') {
        path[parentLength] = '\\';
        std::strcpy(path + parentLength + 1, subKey);
    }
    KeyObject* opened = static_cast<KeyObject*>(std::calloc(1, sizeof(KeyObject)));
    if (opened == nullptr) {
        std::free(path);
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    opened->path = path;
    const LSTATUS loaded = LoadKey(path, &opened->contents);
    if (loaded != ERROR_SUCCESS) {
        FreeRegistryValues(&opened->contents);
        std::free(path);
        std::free(opened);
        return loaded;
    }
    RegisterHandle(&opened->header, HandleKind::RegistryKey);
    *result = reinterpret_cast<HKEY>(&opened->header);
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD, LPDWORD type, LPBYTE data,
                                LPDWORD dataSize) {
    if (RootName(key) != nullptr)
        return ERROR_FILE_NOT_FOUND; // the roots themselves hold no values here
    KeyObject* opened = KeyFromHandle(key);
    if (opened == nullptr)
        return ERROR_INVALID_HANDLE;
    if (data != nullptr && dataSize == nullptr)
        return ERROR_INVALID_PARAMETER;
    if (valueName == nullptr)
        valueName = "";
    const RegistryValue* value = opened->contents.values;
    while (value != nullptr && strcasecmp(value->name, valueName) != 0)
        value = value->next;
    if (value == nullptr)
        return ERROR_FILE_NOT_FOUND;
    if (type != nullptr)
        *type = value->type;
    if (dataSize == nullptr)
        return ERROR_SUCCESS;
    DWORD room = *dataSize;
    *dataSize = value->size;
    if (data == nullptr)
        return ERROR_SUCCESS;
    if (room < value->size)
        return ERROR_MORE_DATA;
    std::memcpy(data, value->data, value->size);
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCloseKey(HKEY key) {
    if (RootName(key) != nullptr)
        return ERROR_SUCCESS;
    KeyObject* opened = KeyFromHandle(key);
    if (opened == nullptr || !UnregisterHandle(&opened->header))
        return ERROR_INVALID_HANDLE;
    FreeRegistryValues(&opened->contents);
    std::free(opened->path);
    std::free(opened);
    return ERROR_SUCCESS;
}
