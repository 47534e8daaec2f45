// The manifest of a package: the file `.Update.sha256` at its top, in the
// format of sha256sum, one line per file that the update installs and one
// for the top-level Update.exe:
//   <64 hex digits><space><space or '*'><path below the package top, '/' between names>
// Upper-case digits and CR LF line ends are taken as Windows tools write
// them. It is read strictly: a line that does not parse, sha256sum's escaped
// form (a '\' before the digits), a path that is absolute, holds an empty
// name, a dot name (".." among them), a drive, a backslash or a name that
// Windows cannot hold, a path listed twice (in any case), or a manifest of
// more than kMaxBytes refuses the whole package.
//
// The entries lie in one heap block, each with its digest and path (names
// joined by '\', as the copy builds its paths), followed by their offsets
// sorted as the file system orders names, so that two paths are one exactly
// where the copy finds two names to be one (name_clashes.h); a path is found
// by binary search.
#pragma once

#include <cstdint>

#include "sha256.h"
#include "text_string.h"

class PackageManifest {
  public:
    static constexpr const char kFileName[] = ".Update.sha256";
    // 64 MiB: some 400,000 lines of paths of 100 bytes.
    static const std::uint32_t kMaxBytes = 64u << 20;

    struct Entry {
        Sha256Digest digest;
        std::uint32_t line; // in the manifest, from 1
        bool seen;          // the package holds it: a run marks what it finds
        const char* Path() const { return reinterpret_cast<const char*>(this + 1); }
    };

    enum class Load {
        kAbsent,     // the package has nothing of that name
        kRead,       // read and parsed
        kUnreadable, // no plain file, or it cannot be read, or is too large: Error()
        kMalformed,  // a line is refused: BadLine()
        kRefused,    // read, and refused by the gate before it was parsed
    };

    // Looks at the manifest's bytes once they are read, before they are
    // parsed (a check of their signature); false refuses them.
    struct Gate {
        void* context;
        bool (*accept)(void* context, const char* text, std::uint32_t size);
    };

    PackageManifest() = default;
    ~PackageManifest();
    PackageManifest(const PackageManifest&) = delete;
    PackageManifest& operator=(const PackageManifest&) = delete;

    // Reads the manifest at the top of packageRoot, once: the bytes that
    // the gate (when there is one) accepted are the bytes parsed.
    Load Read(const TextString& packageRoot, const Gate* gate = nullptr);
    // Parses the text of a manifest; false at the first line refused.
    bool Parse(const char* text, std::uint32_t size);

    // The line that was refused (from 1; of a path listed twice, the later),
    // and the Win32 error of a manifest that could not be read (a manifest
    // too large gives ERROR_FILE_TOO_LARGE).
    std::uint32_t BadLine() const { return badLine_; }
    DWORD Error() const { return error_; }

    std::uint32_t Count() const { return count_; }
    // The entry of a path relative to the package top, names joined by '\';
    // null when it is not listed. Case does not count.
    Entry* Find(const char* relativePath) const;
    // The entries in sorted order, 0 to Count() - 1.
    Entry& At(std::uint32_t index) const;

  private:
    bool ParseLine(const char* line, std::uint32_t length, std::uint32_t number);
    bool Index();
    void Clear();

    char* block_ = nullptr;
    std::uint32_t size_ = 0, capacity_ = 0, count_ = 0;
    std::uint32_t indexOffset_ = 0; // where the sorted offsets begin
    std::uint32_t badLine_ = 0;
    DWORD error_ = ERROR_SUCCESS;
};
