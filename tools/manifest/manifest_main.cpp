// update-manifest make <package>: writes the package's manifest,
//   <package>/.Update.sha256, listing every file that Update.exe would
//   install and the top-level Update.exe, in the format of sha256sum.
// update-manifest check <package>: checks the package against it: every
//   listed file there and of the listed SHA-256; files not listed are
//   named (an update leaves them out) but fail nothing.
// Both walk the package by the rules of Update.exe (package_entries.h); an
// entry it refuses fails both. Messages go to standard error, one line
// each; the exit code is 0 when all is well, 1 when not, 2 for a wrong
// command line.
//
// make writes the new manifest under a name of its own beside the old one
// and only then puts it in place, so that a failure leaves the old one.
#include <cstdio>
#include <cstring>

#include "package_manifest.h"
#include "package_walk.h"
#include "scratch_buffer.h"
#include "sha256.h"

namespace {

const DWORD kChunk = 1 << 20;

void Say(const char* what, const TextString& path, DWORD error = ERROR_SUCCESS) {
    if (error == ERROR_SUCCESS)
        std::fprintf(stderr, "update-manifest: %s: %s\n", what, path.GetText());
    else
        std::fprintf(stderr, "update-manifest: %s: %s (error %lu)\n", what, path.GetText(),
                     static_cast<unsigned long>(error));
}

// The manifest's form of a relative path: '/' between names.
void AppendManifestPath(TextString& line, const char* relative) {
    for (const char* p = relative; *p != '\0'; ++p) {
        if (IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1] != '\0') {
            line.Append(2, p++);
            continue;
        }
        line.Append(*p == '\\' ? '/' : *p);
    }
}

class Hashing : public PackageVisitor {
  public:
    bool Hash(const TextString& path, Sha256Digest& digest) {
        if (hasher_.HashFile(path.GetText(), buffer_.GetBlock(), kChunk, digest))
            return true;
        Say("cannot read", path, GetLastError());
        ++failures_;
        return false;
    }
    void Refused(const TextString& path, DWORD error) override {
        Say(error == ERROR_INVALID_NAME     ? "not a Windows name"
            : error == ERROR_ALREADY_EXISTS ? "one name on Windows with another entry"
                                            : "cannot read",
            path, error);
        ++failures_;
    }
    std::uint32_t Failures() const { return failures_; }

  protected:
    ~Hashing() = default;
    std::uint32_t failures_ = 0;

  private:
    Sha256 hasher_;
    ScratchBuffer buffer_{kChunk};
};

class Maker final : public Hashing {
  public:
    explicit Maker(HANDLE file) : file_(file) {}
    void File(const TextString& path, const char* relative) override {
        Sha256Digest digest;
        if (!Hash(path, digest))
            return;
        line_.Clear();
        for (BYTE byte : digest.bytes) {
            static const char kHex[] = "0123456789abcdef";
            line_.Append(kHex[byte >> 4]).Append(kHex[byte & 15]);
        }
        line_.Append("  ");
        AppendManifestPath(line_, relative);
        line_.Append('\n');
        DWORD written = 0;
        if (!WriteFile(file_, line_.GetText(), line_.GetLength(), &written, nullptr) ||
            written != line_.GetLength()) {
            Say("cannot write the manifest", path, GetLastError());
            ++failures_;
        }
        ++files_;
    }
    std::uint32_t Files() const { return files_; }

  private:
    HANDLE file_;
    TextString line_;
    std::uint32_t files_ = 0;
};

class Checker final : public Hashing {
  public:
    explicit Checker(PackageManifest& manifest) : manifest_(manifest) {}
    void File(const TextString& path, const char* relative) override {
        PackageManifest::Entry* entry = manifest_.Find(relative);
        if (entry == nullptr) {
            Say("not listed, an update leaves it out", path);
            return;
        }
        entry->seen = true;
        Sha256Digest digest;
        if (!Hash(path, digest))
            return;
        if (digest != entry->digest) {
            Say("differs from its line", path);
            ++failures_;
        }
    }

  private:
    PackageManifest& manifest_;
};

int Make(const TextString& root) {
    TextString target(root), beside;
    target.EnsureTrailingSeparator();
    beside.Format("%s%s-%lu.tmp", target.GetText(), PackageManifest::kFileName,
                  static_cast<unsigned long>(GetCurrentProcessId()));
    target.Append(PackageManifest::kFileName);
    HANDLE file = CreateFileA(beside.GetText(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        Say("cannot write beside the manifest", beside, GetLastError());
        return 1;
    }
    Maker maker(file);
    WalkPackage(root, maker);
    bool made = maker.Failures() == 0 && FlushFileBuffers(file);
    CloseHandle(file);
    made = made && MoveFileExA(beside.GetText(), target.GetText(), MOVEFILE_REPLACE_EXISTING);
    if (!made) {
        if (maker.Failures() == 0)
            Say("cannot put the manifest in place", target, GetLastError());
        DeleteFileA(beside.GetText());
        return 1;
    }
    std::fprintf(stderr, "update-manifest: %lu files listed in %s\n",
                 static_cast<unsigned long>(maker.Files()), target.GetText());
    return 0;
}

int Check(const TextString& root) {
    TextString path(root);
    path.EnsureTrailingSeparator().Append(PackageManifest::kFileName);
    PackageManifest manifest;
    switch (manifest.Read(root)) {
    case PackageManifest::Load::kAbsent:
        Say("no manifest", path);
        return 1;
    case PackageManifest::Load::kUnreadable:
        Say("cannot read", path, manifest.Error());
        return 1;
    case PackageManifest::Load::kMalformed:
        std::fprintf(stderr, "update-manifest: %s: line %lu refused\n", path.GetText(),
                     static_cast<unsigned long>(manifest.BadLine()));
        return 1;
    case PackageManifest::Load::kRead:
        break;
    }
    Checker checker(manifest);
    WalkPackage(root, checker);
    std::uint32_t missing = 0;
    TextString listed;
    for (std::uint32_t i = 0; i < manifest.Count(); ++i) {
        if (!manifest.At(i).seen) {
            Say("missing",
                listed.Assign(root).EnsureTrailingSeparator().Append(manifest.At(i).Path()));
            ++missing;
        }
    }
    if (checker.Failures() + missing != 0)
        return 1;
    std::fprintf(stderr, "update-manifest: %lu files as listed in %s\n",
                 static_cast<unsigned long>(manifest.Count()), path.GetText());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3 || (std::strcmp(argv[1], "make") != 0 && std::strcmp(argv[1], "check") != 0)) {
        std::fputs("usage: update-manifest make <package>\n"
                   "       update-manifest check <package>\n",
                   stderr);
        return 2;
    }
    const TextString root(argv[2]);
    return std::strcmp(argv[1], "make") == 0 ? Make(root) : Check(root);
}
