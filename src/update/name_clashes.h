#pragma once

// The names of one package directory that are one name on Windows, where
// case does not count ("A.dat" and "a.dat", "Dir" and "dir"): copied one
// after the other, the later would silently replace the earlier. Only the
// clashing names are kept, sorted; the names beginning with a dot, which
// the copy never takes, are left out.
class NameClashes {
  public:
    NameClashes() = default;
    ~NameClashes();
    NameClashes(const NameClashes&) = delete;
    NameClashes& operator=(const NameClashes&) = delete;

    // Reads the names that `searchPath` (a directory and a pattern) finds.
    // A directory that cannot be read holds no clash; its reader reports it.
    void Collect(const char* searchPath);
    // Whether the name is one of the clashing names.
    bool Holds(const char* name) const;

  private:
    char* names_ = nullptr;         // the clashing names, each ending in a zero
    const char** sorted_ = nullptr; // into names_, in lstrcmpiA order
    unsigned count_ = 0;
};
