#include "package_manifest.h"
#include "lead_bytes.h"

#include <algorithm>
#include <cstring>

#include "entry_name.h"
#include "growing_block.h"
#include "heap.h"
#include "hex_digit.h"
#include "name_clashes.h"

namespace {

const std::uint32_t kHexDigits = 2 * Sha256Digest::kSize;
const std::uint32_t kPathStart = kHexDigits + 2; // the digits, a space, a space or '*'

std::uint32_t Padded(std::uint32_t size) {
    const std::uint32_t alignment = alignof(PackageManifest::Entry);
    return (size + alignment - 1) / alignment * alignment;
}

} // namespace

PackageManifest::~PackageManifest() {
    Clear();
}

void PackageManifest::Clear() {
    if (block_ != nullptr)
        ReleaseBlock(block_);
    block_ = nullptr;
    size_ = capacity_ = count_ = indexOffset_ = badLine_ = 0;
    error_ = ERROR_SUCCESS;
}

PackageManifest::Load PackageManifest::Read(const TextString& packageRoot, const Gate* gate) {
    Clear();
    TextString path(packageRoot);
    path.EnsureTrailingSeparator().Append(kFileName);
    // Only a name that is not there at all is no manifest: a link there
    // (one that leads nowhere, too) or a folder is one that cannot be read.
    const DWORD attributes = GetFileAttributesA(path.GetText());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        error_ = GetLastError();
        return error_ == ERROR_FILE_NOT_FOUND ? Load::kAbsent : Load::kUnreadable;
    }
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) {
        error_ = ERROR_CANT_ACCESS_FILE;
        return Load::kUnreadable;
    }
    HANDLE file = CreateFileA(path.GetText(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error_ = GetLastError();
        return Load::kUnreadable;
    }
    DWORD sizeHigh = 0;
    const DWORD size = GetFileSize(file, &sizeHigh);
    char* text = nullptr;
    if (size == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS)
        error_ = GetLastError();
    else if (sizeHigh != 0 || size > kMaxBytes)
        error_ = ERROR_FILE_TOO_LARGE;
    else if ((text = static_cast<char*>(TryAllocateBlock(size + 1))) == nullptr)
        error_ = ERROR_NOT_ENOUGH_MEMORY;
    DWORD total = 0, read = 0;
    while (error_ == ERROR_SUCCESS && total < size) {
        if (!ReadFile(file, text + total, size - total, &read, nullptr))
            error_ = GetLastError();
        else if (read == 0)
            error_ = ERROR_HANDLE_EOF; // it shrank while being read
        total += read;
    }
    CloseHandle(file);
    Load load = Load::kUnreadable;
    if (error_ == ERROR_SUCCESS && gate != nullptr && !gate->accept(gate->context, text, size))
        load = Load::kRefused;
    else if (error_ == ERROR_SUCCESS)
        load = Parse(text, size) ? Load::kRead : Load::kMalformed;
    if (text != nullptr)
        ReleaseBlock(text);
    return load;
}

bool PackageManifest::Parse(const char* text, std::uint32_t size) {
    Clear();
    std::uint32_t number = 0;
    for (std::uint32_t start = 0; start < size;) {
        const char* line = text + start;
        const void* newline = std::memchr(line, '\n', size - start);
        std::uint32_t length =
            newline != nullptr
                ? static_cast<std::uint32_t>(static_cast<const char*>(newline) - line)
                : size - start;
        start += length + (newline != nullptr ? 1 : 0);
        if (length > 0 && line[length - 1] == '\r')
            --length;
        if (!ParseLine(line, length, ++number)) {
            badLine_ = number;
            return false;
        }
    }
    return Index();
}

// One line into one entry at the end of the block.
bool PackageManifest::ParseLine(const char* line, std::uint32_t length, std::uint32_t number) {
    // sha256sum's escaped form starts with '\', which is no hex digit.
    if (length <= kPathStart || line[kHexDigits] != ' ' ||
        (line[kHexDigits + 1] != ' ' && line[kHexDigits + 1] != '*'))
        return false;
    const char* const path = line + kPathStart;
    const std::uint32_t pathLength = length - kPathStart;
    if (std::memchr(path, '\0', pathLength) != nullptr)
        return false;
    const std::uint32_t needed = Padded(static_cast<std::uint32_t>(sizeof(Entry)) + pathLength + 1);
    GrowBlock(block_, capacity_, size_, needed);
    Entry* entry = reinterpret_cast<Entry*>(block_ + size_);
    for (std::uint32_t i = 0; i < Sha256Digest::kSize; ++i) {
        const int high = HexDigitValue(line[2 * i]), low = HexDigitValue(line[2 * i + 1]);
        if (high < 0 || low < 0)
            return false;
        entry->digest.bytes[i] = static_cast<BYTE>(high * 16 + low);
    }
    entry->line = number;
    entry->seen = false;
    // Each name is checked on its own, then joined to the next by '\'. A
    // trail byte of a double-byte character is never taken for a '/'.
    char* const stored = block_ + size_ + sizeof(Entry);
    std::memset(stored, 0, needed - sizeof(Entry));
    std::uint32_t nameStart = 0;
    for (std::uint32_t i = 0; i <= pathLength; ++i) {
        if (i < pathLength && path[i] != '/') {
            stored[i] = path[i];
            if (IsLeadByte(path[i]) && i + 1 < pathLength) {
                ++i;
                stored[i] = path[i];
            }
            continue;
        }
        stored[i] = '\0';
        const char* name = stored + nameStart;
        if (name[0] == '\0' || name[0] == '.' || !IsWindowsFileName(name))
            return false;
        if (i < pathLength)
            stored[i] = '\\';
        nameStart = i + 1;
    }
    size_ += needed;
    ++count_;
    return true;
}

// Appends the entries' offsets, sorted, and refuses a path listed twice.
bool PackageManifest::Index() {
    indexOffset_ = size_;
    std::uint32_t* offsets = nullptr;
    if (count_ != 0) {
        GrowBlock(block_, capacity_, size_,
                  count_ * static_cast<std::uint32_t>(sizeof(std::uint32_t)));
        offsets = reinterpret_cast<std::uint32_t*>(block_ + indexOffset_);
    }
    std::uint32_t offset = 0;
    for (std::uint32_t i = 0; i < count_; ++i) {
        offsets[i] = offset;
        const Entry* entry = reinterpret_cast<const Entry*>(block_ + offset);
        offset +=
            Padded(static_cast<std::uint32_t>(sizeof(Entry) + std::strlen(entry->Path()) + 1));
    }
    size_ += count_ * static_cast<std::uint32_t>(sizeof(std::uint32_t));
    const char* const block = block_;
    const auto pathAt = [block](std::uint32_t at) {
        return reinterpret_cast<const Entry*>(block + at)->Path();
    };
    std::sort(offsets, offsets + count_, [&pathAt](std::uint32_t first, std::uint32_t second) {
        return CompareFileNames(pathAt(first), pathAt(second)) < 0;
    });
    for (std::uint32_t i = 1; i < count_; ++i) {
        if (CompareFileNames(pathAt(offsets[i - 1]), pathAt(offsets[i])) == 0) {
            badLine_ = std::max(At(i - 1).line, At(i).line);
            return false;
        }
    }
    return true;
}

PackageManifest::Entry& PackageManifest::At(std::uint32_t index) const {
    const std::uint32_t* offsets = reinterpret_cast<const std::uint32_t*>(block_ + indexOffset_);
    return *reinterpret_cast<Entry*>(block_ + offsets[index]);
}

PackageManifest::Entry* PackageManifest::Find(const char* relativePath) const {
    std::uint32_t low = 0, high = count_;
    while (low < high) {
        const std::uint32_t middle = low + (high - low) / 2;
        Entry& entry = At(middle);
        const int order = CompareFileNames(relativePath, entry.Path());
        if (order == 0)
            return &entry;
        if (order < 0)
            high = middle;
        else
            low = middle + 1;
    }
    return nullptr;
}
