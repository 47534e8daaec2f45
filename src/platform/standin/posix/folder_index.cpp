#include "folder_index.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unordered_map>
#include <vector>

#include "name_case.h"

namespace {

// The spelling of a name that reading the folder gave first, and how many
// names of the folder have that key.
struct Spelling {
    std::string first;
    std::size_t count;
};

struct Index {
    dev_t device;
    ino_t inode;
    struct timespec modified, statusChanged;
    std::unordered_map<std::u16string, Spelling> names; // by Key()
    std::size_t ownChanges, ownChangeLimit;
    std::uint64_t generation, lastUse;
    // Changed by us since its times were taken: the next look at the
    // folder takes them, as those of our change.
    bool unstamped;
};

const std::size_t kFoldersKept = 16;
const std::size_t kLeastOwnChanges = 64;

std::mutex indexLock;
std::vector<std::unique_ptr<Index>> indexes;
std::uint64_t ticks = 0; // counts generations and uses

std::u16string Key(const char* name, std::size_t length) {
    return CaseKey(name, length);
}

bool SameTime(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool IsFolder(const Index& index, const struct stat& info) {
    return index.device == info.st_dev && index.inode == info.st_ino;
}

void Stamp(Index& index, const struct stat& info) {
    index.modified = info.st_mtim;
    index.statusChanged = info.st_ctim;
    index.unstamped = false;
}

// Whether the index still says what the folder `info` (just looked at)
// holds; an index changed by us since its times were taken takes them now.
bool IsCurrent(Index& index, const struct stat& info) {
    if (!IsFolder(index, info) || index.ownChanges >= index.ownChangeLimit)
        return false;
    if (index.unstamped)
        Stamp(index, info);
    return SameTime(index.modified, info.st_mtim) && SameTime(index.statusChanged, info.st_ctim);
}

Index* Kept(const struct stat& info) {
    for (auto& index : indexes)
        if (IsFolder(*index, info))
            return index.get();
    return nullptr;
}

void Drop(const Index* dropped) {
    for (auto it = indexes.begin(); it != indexes.end(); ++it)
        if (it->get() == dropped) {
            indexes.erase(it);
            return;
        }
}

// Reads the folder into a new index, kept in place of an old one of the
// same folder or of the one used longest ago. Null when it cannot be read.
Index* Read(const char* folder) {
    DIR* directory = opendir(folder);
    if (directory == nullptr)
        return nullptr;
    auto index = std::make_unique<Index>();
    struct stat info;
    // The times before reading: a change made while reading shows later.
    if (fstat(dirfd(directory), &info) != 0) {
        closedir(directory);
        return nullptr;
    }
    index->device = info.st_dev;
    index->inode = info.st_ino;
    Stamp(*index, info);
    try {
        while (struct dirent* entry = readdir(directory)) {
            const char* name = entry->d_name;
            if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
                continue;
            Spelling& spelling = index->names[Key(name, std::strlen(name))];
            if (spelling.count++ == 0)
                spelling.first = name;
        }
    } catch (const std::bad_alloc&) {
        closedir(directory);
        throw;
    }
    closedir(directory);
    index->ownChanges = 0;
    index->ownChangeLimit = std::max(kLeastOwnChanges, index->names.size());
    index->generation = ++ticks;
    Drop(Kept(info));
    if (indexes.size() >= kFoldersKept) {
        auto oldest = indexes.begin();
        for (auto it = indexes.begin(); it != indexes.end(); ++it)
            if ((*it)->lastUse < (*oldest)->lastUse)
                oldest = it;
        indexes.erase(oldest);
    }
    indexes.push_back(std::move(index));
    return indexes.back().get();
}

// The folder read as it is, where no index can be had (out of memory).
bool Scan(const char* folder, char* name, std::size_t length) {
    DIR* directory = opendir(folder);
    if (directory == nullptr)
        return false;
    bool found = false;
    const std::u16string key = Key(name, length);
    while (struct dirent* entry = readdir(directory)) {
        if (std::strlen(entry->d_name) == length && Key(entry->d_name, length) == key) {
            std::memcpy(name, entry->d_name, length);
            found = true;
            break;
        }
    }
    closedir(directory);
    return found;
}

// The folder part of entryPath into folder (size bytes), and where its last
// name begins; false when it does not fit.
bool SplitEntry(const char* entryPath, char* folder, std::size_t size, const char** name) {
    const char* slash = std::strrchr(entryPath, '/');
    *name = slash == nullptr ? entryPath : slash + 1;
    if (slash == nullptr)
        return std::snprintf(folder, size, ".") > 0;
    const std::size_t length = slash == entryPath ? 1 : static_cast<std::size_t>(slash - entryPath);
    if (length >= size)
        return false;
    std::memcpy(folder, entryPath, length);
    folder[length] = '\0';
    return true;
}

} // namespace

bool FindNameIgnoringCase(const char* folder, char* name, std::size_t length,
                          struct stat* folderLook) {
    struct stat info = {};
    const bool isFolder = stat(folder, &info) == 0 && S_ISDIR(info.st_mode);
    if (folderLook != nullptr) {
        *folderLook = info;
        if (!isFolder)
            folderLook->st_mode = 0;
    }
    if (!isFolder)
        return false;
    try {
        std::lock_guard<std::mutex> guard(indexLock);
        Index* index = Kept(info);
        if (index == nullptr || !IsCurrent(*index, info))
            index = Read(folder);
        if (index == nullptr)
            return false;
        index->lastUse = ++ticks;
        auto found = index->names.find(Key(name, length));
        if (found == index->names.end() || found->second.first.size() != length)
            return false;
        std::memcpy(name, found->second.first.data(), length);
        return true;
    } catch (const std::bad_alloc&) {
        std::lock_guard<std::mutex> guard(indexLock);
        indexes.clear();
    }
    return Scan(folder, name, length);
}

FolderChange::FolderChange(const char* entryPath, const char* newEntryPath,
                           const struct stat* folderBefore, const struct stat* newFolderBefore)
    : folder_{}, name_(nullptr), newName_(nullptr), current_(false), generation_(0) {
    if (entryPath == nullptr || !SplitEntry(entryPath, folder_, sizeof(folder_), &name_) ||
        name_[0] == '\0')
        return;
    // The new name shares the folder when everything before it is the same.
    if (newEntryPath != nullptr) {
        const char* slash = std::strrchr(newEntryPath, '/');
        const char* newName = slash == nullptr ? newEntryPath : slash + 1;
        const std::size_t folderLength = static_cast<std::size_t>(name_ - entryPath);
        if (static_cast<std::size_t>(newName - newEntryPath) == folderLength &&
            std::strncmp(entryPath, newEntryPath, folderLength) == 0 && newName[0] != '\0')
            newName_ = newName;
    }
    if (folderBefore == nullptr && newName_ != nullptr)
        folderBefore = newFolderBefore;
    struct stat info;
    if (folderBefore != nullptr)
        info = *folderBefore;
    else if (stat(folder_, &info) != 0)
        return;
    std::lock_guard<std::mutex> guard(indexLock);
    Index* index = Kept(info);
    current_ = index != nullptr && IsCurrent(*index, info);
    generation_ = current_ ? index->generation : 0;
}

namespace {

// Puts one name's change into the index; false when the index can no
// longer say what the folder holds.
bool Apply(Index& index, const char* name, bool added) {
    const std::u16string key = Key(name, std::strlen(name));
    auto found = index.names.find(key);
    if (added) {
        if (found == index.names.end())
            index.names[key] = Spelling{name, 1};
        else if (found->second.first != name)
            ++found->second.count; // another case of a name it held
    } else if (found == index.names.end() || found->second.first == name) {
        // Not known, or the spelling it gave: whether another case of
        // the name is left is known only to the folder.
        if (found == index.names.end() || found->second.count > 1)
            return false;
        index.names.erase(found);
    } else {
        --found->second.count;
    }
    return true;
}

} // namespace

void FolderChange::Done(bool added, const struct stat* folderAfter, bool renamed) {
    if (!current_)
        return;
    std::lock_guard<std::mutex> guard(indexLock);
    Index* index = nullptr;
    for (auto& kept : indexes)
        if (kept->generation == generation_)
            index = kept.get();
    if (index == nullptr)
        return;
    if (folderAfter != nullptr && !IsFolder(*index, *folderAfter)) {
        Drop(index);
        return;
    }
    try {
        const bool applied = renamed ? Apply(*index, name_, false) &&
                                           (newName_ == nullptr || Apply(*index, newName_, true))
                                     : Apply(*index, name_, added);
        if (!applied) {
            Drop(index);
            return;
        }
    } catch (const std::bad_alloc&) {
        Drop(index);
        return;
    }
    if (folderAfter != nullptr)
        Stamp(*index, *folderAfter);
    else
        index->unstamped = true;
    ++index->ownChanges;
}
