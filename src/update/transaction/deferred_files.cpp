#include "deferred_files.h"

#include "growing_block.h"
#include "heap.h"

DeferredFiles::~DeferredFiles() {
    if (changes_ != nullptr)
        ReleaseBlock(changes_);
}

void DeferredFiles::Add(const ChangeList::Change& change) {
    char* block = reinterpret_cast<char*>(changes_);
    std::uint32_t bytes = capacity_ * sizeof(ChangeList::Change);
    GrowBlock(block, bytes, count_ * sizeof(ChangeList::Change), sizeof(ChangeList::Change));
    changes_ = reinterpret_cast<ChangeList::Change*>(block);
    capacity_ = bytes / sizeof(ChangeList::Change);
    changes_[count_++] = change;
}
