// update-manifest make <package>: writes the package's manifest,
//   <package>/.Update.sha256, listing every file that Update.exe would
//   install and the top-level Update.exe, in the format of sha256sum.
// update-manifest check <package>: checks the package against it: every
//   listed file there and of the listed SHA-256; files not listed are
//   named (an update leaves them out) but fail nothing.
// update-manifest sign --key <private.pem> <package>: writes
//   <package>/.Update.sha256.sig, the ECDSA P-256 signature of the
//   manifest's bytes (signing.h; the Linux build only). A manifest that
//   does not parse is not signed.
// update-manifest verify --key <public.pem> <package>: checks that
//   signature as Update.exe does, against each public key of the file
//   (PEM "PUBLIC KEY" blocks), and names the key that verified it.
// Both walk the package by the rules of Update.exe (package_entries.h); an
// entry it refuses fails both. Messages go to standard error, one line
// each; the exit code is 0 when all is well, 1 when not, 2 for a wrong
// command line.
//
// make writes the new manifest under a name of its own beside the old one
// and only then puts it in place, so that a failure leaves the old one.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "manifest_signature.h"
#include "package_manifest.h"
#include "package_walk.h"
#include "scratch_buffer.h"
#include "sha256.h"
#include "signing.h"

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
    case PackageManifest::Load::kRefused: // no gate here
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

// Writes the bytes under a name of their own beside the target, then puts
// them in place.
bool WriteInPlace(const TextString& target, const std::string& bytes) {
    TextString beside;
    beside.Format("%s-%lu.tmp", target.GetText(),
                  static_cast<unsigned long>(GetCurrentProcessId()));
    HANDLE file = CreateFileA(beside.GetText(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        Say("cannot write beside", target, GetLastError());
        return false;
    }
    DWORD written = 0;
    bool done =
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
        written == bytes.size() && FlushFileBuffers(file);
    DWORD error = GetLastError();
    CloseHandle(file);
    if (done) {
        done = MoveFileExA(beside.GetText(), target.GetText(), MOVEFILE_REPLACE_EXISTING);
        error = GetLastError();
    }
    if (!done) {
        Say("cannot write", target, error);
        DeleteFileA(beside.GetText());
    }
    return done;
}

// The manifest's bytes, kept as they were read and parsed.
bool KeepBytes(void* context, const char* text, std::uint32_t size) {
    static_cast<std::string*>(context)->assign(text, size);
    return true;
}

int Sign(const TextString& root, const char* keyPath) {
    TextString path(root), target(root);
    path.EnsureTrailingSeparator().Append(PackageManifest::kFileName);
    target.EnsureTrailingSeparator().Append(manifest_signature::kFileName);
    std::string bytes, line, error;
    PackageManifest manifest;
    const PackageManifest::Gate gate{&bytes, KeepBytes};
    if (manifest.Read(root, &gate) != PackageManifest::Load::kRead) {
        Say("no manifest that parses, nothing signed", path, manifest.Error());
        return 1;
    }
    if (!SignBytes(keyPath, bytes, line, error)) {
        std::fprintf(stderr, "update-manifest: %s: %s\n", keyPath, error.c_str());
        return 1;
    }
    if (!WriteInPlace(target, line + "\n"))
        return 1;
    std::fprintf(stderr, "update-manifest: signed %s in %s\n", path.GetText(), target.GetText());
    return 0;
}

// The DER of each "PUBLIC KEY" block of a PEM file.
bool ReadPublicKeys(const char* keyPath, std::vector<std::vector<BYTE>>& keys) {
    std::FILE* file = std::fopen(keyPath, "rb");
    if (file == nullptr)
        return false;
    std::string text;
    char chunk[4096];
    for (std::size_t read; (read = std::fread(chunk, 1, sizeof chunk, file)) != 0;)
        text.append(chunk, read);
    std::fclose(file);
    const std::string begin = "-----BEGIN PUBLIC KEY-----", end = "-----END PUBLIC KEY-----";
    for (std::size_t at = text.find(begin); at != std::string::npos; at = text.find(begin, at)) {
        const std::size_t stop = text.find(end, at);
        if (stop == std::string::npos)
            return false;
        std::string base64;
        for (std::size_t i = at + begin.size(); i < stop; ++i)
            if (text[i] != '\n' && text[i] != '\r')
                base64 += text[i];
        std::vector<BYTE> der(base64.size());
        const std::int32_t size = manifest_signature::DecodeBase64(
            base64.data(), static_cast<std::uint32_t>(base64.size()), der.data(),
            static_cast<std::uint32_t>(der.size()));
        if (size < 0)
            return false;
        der.resize(static_cast<std::size_t>(size));
        keys.push_back(der);
        at = stop;
    }
    return !keys.empty();
}

struct Verification {
    const TextString* root;
    const std::vector<PublicKeyDer>* keys;
    SignatureCheck check;
};

bool VerifyBytes(void* context, const char* text, std::uint32_t size) {
    Verification& verification = *static_cast<Verification*>(context);
    verification.check =
        manifest_signature::Check(*verification.root, text, size, verification.keys->data(),
                                  static_cast<std::uint32_t>(verification.keys->size()));
    return verification.check.verdict == SignatureVerdict::kVerified;
}

int Verify(const TextString& root, const char* keyPath) {
    std::vector<std::vector<BYTE>> ders;
    if (!ReadPublicKeys(keyPath, ders)) {
        std::fprintf(stderr, "update-manifest: %s: no PEM public key\n", keyPath);
        return 1;
    }
    std::vector<PublicKeyDer> keys;
    BYTE point[2 * manifest_signature::kCoordinateBytes];
    for (const std::vector<BYTE>& der : ders) {
        keys.push_back(PublicKeyDer{der.data(), static_cast<std::uint32_t>(der.size())});
        if (!manifest_signature::PublicPoint(keys.back(), point)) {
            std::fprintf(stderr, "update-manifest: %s: a key is not ECDSA P-256\n", keyPath);
            return 1;
        }
    }
    TextString path(root), signature(root);
    path.EnsureTrailingSeparator().Append(PackageManifest::kFileName);
    signature.EnsureTrailingSeparator().Append(manifest_signature::kFileName);
    Verification verification{&root, &keys, {}};
    const PackageManifest::Gate gate{&verification, VerifyBytes};
    PackageManifest manifest;
    const PackageManifest::Load load = manifest.Read(root, &gate);
    if (load == PackageManifest::Load::kAbsent || load == PackageManifest::Load::kUnreadable) {
        Say("cannot read", path, manifest.Error());
        return 1;
    }
    switch (verification.check.verdict) {
    case SignatureVerdict::kVerified:
        break;
    case SignatureVerdict::kMissing:
        Say("not signed", signature);
        return 1;
    case SignatureVerdict::kUnreadable:
        Say("cannot read", signature, verification.check.error);
        return 1;
    case SignatureVerdict::kMalformed:
        Say("not one line of base64 of an ECDSA signature", signature);
        return 1;
    case SignatureVerdict::kByNoKey:
        Say("signed by none of the keys, or the manifest changed after signing", signature);
        return 1;
    case SignatureVerdict::kNoVerifier:
        Say("CNG cannot verify ECDSA P-256", signature, verification.check.error);
        return 1;
    }
    std::fprintf(stderr, "update-manifest: %s verified with key %s\n", path.GetText(),
                 manifest_signature::KeyId(keys[verification.check.key]).GetText());
    if (load != PackageManifest::Load::kRead) {
        Say("but it does not parse", path);
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const bool keyed = argc == 5 && std::strcmp(argv[2], "--key") == 0 &&
                       (std::strcmp(argv[1], "sign") == 0 || std::strcmp(argv[1], "verify") == 0);
    const bool plain =
        argc == 3 && (std::strcmp(argv[1], "make") == 0 || std::strcmp(argv[1], "check") == 0);
    if (!keyed && !plain) {
        std::fputs("usage: update-manifest make <package>\n"
                   "       update-manifest check <package>\n"
                   "       update-manifest sign --key <private.pem> <package>\n"
                   "       update-manifest verify --key <public.pem> <package>\n",
                   stderr);
        return 2;
    }
    if (keyed) {
        const TextString root(argv[4]);
        return std::strcmp(argv[1], "sign") == 0 ? Sign(root, argv[3]) : Verify(root, argv[3]);
    }
    const TextString root(argv[2]);
    return std::strcmp(argv[1], "make") == 0 ? Make(root) : Check(root);
}
