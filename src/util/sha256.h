// SHA-256 through the platform's CNG (bcrypt.dll): one algorithm provider
// per object, opened at the first hash and kept for every later one, as
// opening it is the costly part. Not copied; one thread at a time.
#pragma once

#include <cstdint>

#include "platform/win32_api.h"

struct Sha256Digest {
    static const std::uint32_t kSize = 32;
    BYTE bytes[kSize];

    bool operator==(const Sha256Digest& other) const;
    bool operator!=(const Sha256Digest& other) const { return !(*this == other); }
};

class Sha256 {
  public:
    Sha256() = default;
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    // Starts a new hash (dropping one not finished). Each call is false,
    // with ERROR_NOT_SUPPORTED as the last error, when CNG refused.
    bool Begin();
    bool Add(const void* data, DWORD size);
    bool Finish(Sha256Digest& digest);

    // The hash of a whole file, read in chunks into `buffer`; false with the
    // last error when the file cannot be opened or read. Others may read
    // the file meanwhile, and rename or delete it (an update run holds its
    // staged files for that), none may write it.
    bool HashFile(const char* path, char* buffer, DWORD bufferSize, Sha256Digest& digest);

  private:
    bool Failed(NTSTATUS status);
    void DropHash();

    BCRYPT_ALG_HANDLE algorithm_ = nullptr;
    BCRYPT_HASH_HANDLE hash_ = nullptr;
};
