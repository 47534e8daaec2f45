#include "sha256.h"

#include <cstring>

bool Sha256Digest::operator==(const Sha256Digest& other) const {
    return std::memcmp(bytes, other.bytes, kSize) == 0;
}

Sha256::~Sha256() {
    DropHash();
    if (algorithm_ != nullptr)
        BCryptCloseAlgorithmProvider(algorithm_, 0);
}

bool Sha256::Failed(NTSTATUS status) {
    if (BCRYPT_SUCCESS(status))
        return false;
    SetLastError(ERROR_NOT_SUPPORTED);
    return true;
}

void Sha256::DropHash() {
    if (hash_ != nullptr)
        BCryptDestroyHash(hash_);
    hash_ = nullptr;
}

bool Sha256::Begin() {
    DropHash();
    if (algorithm_ == nullptr &&
        Failed(BCryptOpenAlgorithmProvider(&algorithm_, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
        algorithm_ = nullptr;
        return false;
    }
    // No object buffer of ours: CNG keeps the hash's state itself.
    if (Failed(BCryptCreateHash(algorithm_, &hash_, nullptr, 0, nullptr, 0, 0))) {
        hash_ = nullptr;
        return false;
    }
    return true;
}

bool Sha256::Add(const void* data, DWORD size) {
    // CNG takes the input through a non-const pointer; it does not write it.
    return !Failed(BCryptHashData(hash_, static_cast<PUCHAR>(const_cast<void*>(data)), size, 0));
}

bool Sha256::Finish(Sha256Digest& digest) {
    const bool finished = !Failed(BCryptFinishHash(hash_, digest.bytes, Sha256Digest::kSize, 0));
    DropHash();
    return finished;
}

bool Sha256::HashFile(const char* path, char* buffer, DWORD bufferSize, Sha256Digest& digest) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bool hashed = Begin();
    DWORD read = 0;
    while (hashed) {
        if (!ReadFile(file, buffer, bufferSize, &read, nullptr)) {
            hashed = false;
            break;
        }
        if (read == 0)
            break;
        hashed = Add(buffer, read);
    }
    hashed = hashed && Finish(digest);
    const DWORD error = GetLastError();
    CloseHandle(file);
    SetLastError(error);
    return hashed;
}
