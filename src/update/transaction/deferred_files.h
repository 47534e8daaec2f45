// Files put off for a second pass. A scanner goes through the files that
// were written or renamed in the order it heard of them, holding each for a
// moment, and the run's passes go in that same order: were each step to
// wait for its file, the run would keep pace with the scanner, file by
// file. So each pass tries every file once, puts off those held for a
// moment, and waits only for those, once all others are done.
#pragma once

#include <cstdint>

#include "change_list.h"

class DeferredFiles {
  public:
    DeferredFiles() = default;
    ~DeferredFiles();
    DeferredFiles(const DeferredFiles&) = delete;
    DeferredFiles& operator=(const DeferredFiles&) = delete;

    // A change of a list that does not change meanwhile (its path points
    // into the list).
    void Add(const ChangeList::Change& change);
    std::uint32_t Count() const { return count_; }
    const ChangeList::Change& At(std::uint32_t index) const { return changes_[index]; }

  private:
    ChangeList::Change* changes_ = nullptr;
    std::uint32_t count_ = 0, capacity_ = 0;
};
