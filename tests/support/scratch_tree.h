// A throwaway directory tree for tests, made and removed through Win32
// calls only, so the same test builds against the stand-in and runs under
// Wine against the real platform.
#pragma once

#include <string>

#include "platform/win32_api.h"

class ScratchTree {
  public:
    ScratchTree();
    ~ScratchTree();
    ScratchTree(const ScratchTree&) = delete;
    ScratchTree& operator=(const ScratchTree&) = delete;

    // The root, ending in a backslash.
    const std::string& Root() const { return root_; }
    // Root + relative path (backslashes).
    std::string Path(const std::string& relative) const { return root_ + relative; }

    // Writes a file, creating its directories.
    bool Write(const std::string& relative, const std::string& contents) const;
    bool MakeDirectory(const std::string& relative) const;
    // The file's contents, or "<missing>".
    std::string Read(const std::string& relative) const;
    bool Exists(const std::string& relative) const;

  private:
    std::string root_;
};

void RemoveTree(const std::string& path);
