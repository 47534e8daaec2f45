// A scratch directory for a test, made and removed with Win32 calls only.
#pragma once

#include <string>

#include "platform/win32_api.h"

class TempTree {
  public:
    TempTree();
    ~TempTree();
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    // The directory, without a trailing separator.
    const std::string& Root() const { return root_; }
    // root + "\\" + relative.
    std::string Path(const std::string& relative) const;

    // Writes a file, making the directories it lies in.
    void WriteFile(const std::string& relative, const std::string& contents) const;
    // The contents, or "<missing>" when the file cannot be read.
    std::string ReadFile(const std::string& relative) const;
    // Makes a directory with the directories it lies in; one that exists is
    // no failure.
    void MakeDirectory(const std::string& relative) const;
    bool Exists(const std::string& relative) const;

  private:
    std::string root_;
};

// Removes a file or a directory with everything below it, read-only files
// included. A link to a directory is removed as a link, never followed.
void RemoveTree(const std::string& path);
