#include "change_list.h"

#include <cstring>

#include "growing_block.h"
#include "heap.h"

ChangeList::~ChangeList() {
    if (block_ != nullptr)
        ReleaseBlock(block_);
}

void ChangeList::Add(char kind, const char* relativePath, std::uint32_t length) {
    const std::uint32_t needed = length + 2; // the kind and the closing zero
    GrowBlock(block_, capacity_, size_, needed);
    block_[size_] = kind;
    std::memcpy(block_ + size_ + 1, relativePath, length);
    block_[size_ + 1 + length] = '\0';
    size_ += needed;
}

bool ChangeList::Next(std::uint32_t& position, Change& change) const {
    if (position != 0 && change.kind != kDirectory)
        ++change.number;
    if (position >= size_)
        return false;
    change.kind = block_[position];
    change.path = block_ + position + 1;
    position += static_cast<std::uint32_t>(std::strlen(change.path)) + 2;
    return true;
}

bool ChangeList::NextFile(std::uint32_t& position, Change& change) const {
    while (Next(position, change))
        if (change.kind != kDirectory && change.kind != kForgotten)
            return true;
    return false;
}

void ChangeList::ForgetFilesFrom(std::uint32_t position) {
    while (position < size_) {
        if (block_[position] != kDirectory)
            block_[position] = kForgotten;
        position += static_cast<std::uint32_t>(std::strlen(block_ + position + 1)) + 2;
    }
}

bool ChangeList::PreviousDirectory(std::uint32_t& position, const char*& path) const {
    while (position > 0) {
        // position is just past a record's zero; its start follows the
        // zero before it, or is 0.
        std::uint32_t start = position - 1;
        while (start > 0 && block_[start - 1] != '\0')
            --start;
        position = start;
        if (block_[start] == kDirectory) {
            path = block_ + start + 1;
            return true;
        }
    }
    return false;
}
