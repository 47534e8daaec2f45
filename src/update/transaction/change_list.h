// The changes of one update run, in the order made: for each a kind letter
// and the path relative to the installation. One heap block for all of
// them, growing by doubling, so that 200,000 files cost their names and
// little more; no file contents are kept.
#pragma once

#include <cstdint>

class ChangeList {
  public:
    static const char kDirectory = 'D'; // a directory the run made
    static const char kReplaced = 'R';  // a file that replaces an installed one
    static const char kNew = 'N';       // a file new to the installation
    // A file noted for a folder that was then not made: it keeps its number
    // and is otherwise passed over.
    static const char kForgotten = '-';

    ChangeList() = default;
    ~ChangeList();
    ChangeList(const ChangeList&) = delete;
    ChangeList& operator=(const ChangeList&) = delete;

    void Add(char kind, const char* relativePath, std::uint32_t length);
    void Clear() { size_ = 0; }
    bool IsEmpty() const { return size_ == 0; }

    // A change as it is visited; `number` counts the files (not the
    // directories) before it, which is the number in its staged name.
    struct Change {
        char kind;
        const char* path;
        std::uint32_t number;
    };
    // Visits the changes in order: start with position 0 and a change whose
    // number is 0; false after the last.
    bool Next(std::uint32_t& position, Change& change) const;
    // The same, passing over the directories and the forgotten files.
    bool NextFile(std::uint32_t& position, Change& change) const;
    // Marks every file from `position` on (a Size() taken before) forgotten.
    void ForgetFilesFrom(std::uint32_t position);
    // Visits the directories made, last first: start with position Size().
    bool PreviousDirectory(std::uint32_t& position, const char*& path) const;
    std::uint32_t Size() const { return size_; }

  private:
    char* block_ = nullptr;
    std::uint32_t size_ = 0;
    std::uint32_t capacity_ = 0;
};
