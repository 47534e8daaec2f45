#include "text_table.h"

#include "heap.h"

namespace {

// The table module's own empty text; TextString has another.
const char kTableEmptyText[1] = {0};

const std::uint32_t kHeaderSize = 16;
const std::uint32_t kEntryTableOffsetField = 4;
const std::uint32_t kEntryCountField = 12;
const std::uint32_t kEntrySize = 12;
const std::uint32_t kTextOffsetField = 0;
const std::uint32_t kTextLengthField = 4;

std::uint32_t ReadField(const char* at) {
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(at);
    return std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
           std::uint32_t{bytes[3]} << 24;
}

// Whether `size` bytes from `offset` lie inside a file of `fileSize` bytes.
bool LiesInside(std::uint64_t offset, std::uint64_t size, std::uint32_t fileSize) {
    return offset + size <= fileSize;
}

bool IsWellFormed(const char* contents, std::uint32_t fileSize) {
    if (fileSize < kHeaderSize)
        return false;
    const std::uint32_t tableOffset = ReadField(contents + kEntryTableOffsetField);
    const std::uint32_t entryCount = ReadField(contents + kEntryCountField);
    if (!LiesInside(tableOffset, std::uint64_t{entryCount} * kEntrySize, fileSize))
        return false;
    const char* entry = contents + tableOffset;
    for (std::uint32_t index = 0; index < entryCount; ++index, entry += kEntrySize) {
        if (!LiesInside(ReadField(entry + kTextOffsetField), ReadField(entry + kTextLengthField),
                        fileSize))
            return false;
    }
    return true;
}

} // namespace

const char* TextTable::EmptyText() {
    return kTableEmptyText;
}

TextTable::TextTable() : fileHandle_(nullptr), entryCount_(0), contents_(nullptr) {}

TextTable::~TextTable() {
    Release();
}

void TextTable::Release() {
    FreeContents();
    if (fileHandle_ != nullptr && fileHandle_ != INVALID_HANDLE_VALUE)
        CloseHandle(fileHandle_);
}

void TextTable::Reset() {
    Release();
    fileHandle_ = nullptr;
    entryCount_ = 0;
    contents_ = nullptr;
}

bool TextTable::Load(const char* fileName) {
    Reset();
    fileHandle_ =
        CreateFileA(fileName, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (fileHandle_ == INVALID_HANDLE_VALUE) {
        Reset();
        return false;
    }
    // A well-formed table's size fits in 32 bits: a larger file fails, as
    // does a failed size query, which gives the largest 32-bit size.
    DWORD sizeHigh = 0;
    const DWORD size = GetFileSize(fileHandle_, &sizeHigh);
    if (size == INVALID_FILE_SIZE || sizeHigh != 0) {
        Reset();
        return false;
    }
    // The size comes from the file, not from the program: a block that the
    // heap cannot give fails this Load and ends nothing else.
    contents_ = static_cast<char*>(TryAllocateBlock(size));
    if (contents_ == nullptr) {
        Reset();
        return false;
    }
    DWORD read = 0;
    if (!ReadFile(fileHandle_, contents_, size, &read, nullptr) || read != size ||
        !IsWellFormed(contents_, size)) {
        Reset();
        return false;
    }
    entryCount_ = ReadField(contents_ + kEntryCountField);
    CloseHandle(fileHandle_);
    fileHandle_ = nullptr;
    return true;
}

const char* TextTable::Lookup(std::uint32_t textId, std::uint32_t* length) const {
    if (contents_ == nullptr || textId < FirstTextId)
        return kTableEmptyText;
    const std::uint32_t index = textId - FirstTextId;
    if (entryCount_ == 0 || index >= entryCount_)
        return kTableEmptyText;
    const char* entry =
        contents_ + ReadField(contents_ + kEntryTableOffsetField) + std::size_t{kEntrySize} * index;
    if (length != nullptr)
        *length = ReadField(entry + kTextLengthField);
    return contents_ + ReadField(entry + kTextOffsetField);
}

void TextTable::FreeContents() {
    if (contents_ != nullptr) {
        ReleaseBlock(contents_);
        contents_ = nullptr;
    }
}
