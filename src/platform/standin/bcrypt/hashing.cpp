// SHA-256 through CNG's calls, computed by OpenSSL's libcrypto (EVP). The
// handles are registered like every other handle of the stand-in, so a
// stale one is answered with STATUS_INVALID_HANDLE.
#include <openssl/evp.h>

#include <new>

#include "../bcrypt.h"
#include "algorithm_names.h"
#include "handle_objects.h"

namespace {

const ULONG kSha256Length = 32;

struct AlgorithmObject {
    HandleObject header;
};

struct HashObject {
    HandleObject header;
    EVP_MD_CTX* context;
    bool finished; // CNG's hashes are not reusable unless asked for
};

AlgorithmObject* AlgorithmOf(BCRYPT_ALG_HANDLE handle) {
    return reinterpret_cast<AlgorithmObject*>(FindHandle(handle, HandleKind::HashAlgorithm));
}

HashObject* HashOf(BCRYPT_HASH_HANDLE handle) {
    return reinterpret_cast<HashObject*>(FindHandle(handle, HandleKind::Hash));
}

} // namespace

NTSTATUS WINAPI BCryptOpenAlgorithmProvider(BCRYPT_ALG_HANDLE* phAlgorithm, LPCWSTR pszAlgId,
                                            LPCWSTR pszImplementation, ULONG dwFlags) {
    if (phAlgorithm == nullptr || pszAlgId == nullptr)
        return STATUS_INVALID_PARAMETER;
    if (SameAlgorithmName(pszAlgId, BCRYPT_ECDSA_P256_ALGORITHM) && pszImplementation == nullptr)
        return OpenEcdsaP256(phAlgorithm, dwFlags);
    if (!SameAlgorithmName(pszAlgId, BCRYPT_SHA256_ALGORITHM) || pszImplementation != nullptr)
        return STATUS_NOT_FOUND;
    if (dwFlags != 0)
        return STATUS_NOT_SUPPORTED;
    AlgorithmObject* algorithm = new (std::nothrow) AlgorithmObject();
    if (algorithm == nullptr)
        return STATUS_NO_MEMORY;
    RegisterHandle(&algorithm->header, HandleKind::HashAlgorithm);
    *phAlgorithm = algorithm;
    return STATUS_SUCCESS;
}

NTSTATUS WINAPI BCryptCloseAlgorithmProvider(BCRYPT_ALG_HANDLE hAlgorithm, ULONG) {
    AlgorithmObject* algorithm = AlgorithmOf(hAlgorithm);
    if (algorithm == nullptr)
        return CloseEcdsaP256(hAlgorithm);
    if (!UnregisterHandle(&algorithm->header))
        return STATUS_INVALID_HANDLE;
    delete algorithm;
    return STATUS_SUCCESS;
}

NTSTATUS WINAPI BCryptCreateHash(BCRYPT_ALG_HANDLE hAlgorithm, BCRYPT_HASH_HANDLE* phHash,
                                 PUCHAR pbHashObject, ULONG cbHashObject, PUCHAR pbSecret,
                                 ULONG cbSecret, ULONG dwFlags) {
    if (AlgorithmOf(hAlgorithm) == nullptr)
        return STATUS_INVALID_HANDLE;
    if (phHash == nullptr)
        return STATUS_INVALID_PARAMETER;
    if (pbHashObject != nullptr || cbHashObject != 0 || pbSecret != nullptr || cbSecret != 0 ||
        dwFlags != 0)
        return STATUS_NOT_SUPPORTED;
    HashObject* hash = new (std::nothrow) HashObject();
    if (hash == nullptr)
        return STATUS_NO_MEMORY;
    hash->context = EVP_MD_CTX_new();
    if (hash->context == nullptr || EVP_DigestInit_ex(hash->context, EVP_sha256(), nullptr) != 1) {
        EVP_MD_CTX_free(hash->context);
        delete hash;
        return STATUS_NO_MEMORY;
    }
    RegisterHandle(&hash->header, HandleKind::Hash);
    *phHash = hash;
    return STATUS_SUCCESS;
}

NTSTATUS WINAPI BCryptHashData(BCRYPT_HASH_HANDLE hHash, PUCHAR pbInput, ULONG cbInput,
                               ULONG dwFlags) {
    HashObject* hash = HashOf(hHash);
    if (hash == nullptr || hash->finished)
        return STATUS_INVALID_HANDLE;
    if ((pbInput == nullptr && cbInput != 0) || dwFlags != 0)
        return STATUS_INVALID_PARAMETER;
    if (cbInput != 0 && EVP_DigestUpdate(hash->context, pbInput, cbInput) != 1)
        return STATUS_NO_MEMORY;
    return STATUS_SUCCESS;
}

NTSTATUS WINAPI BCryptFinishHash(BCRYPT_HASH_HANDLE hHash, PUCHAR pbOutput, ULONG cbOutput,
                                 ULONG dwFlags) {
    HashObject* hash = HashOf(hHash);
    if (hash == nullptr || hash->finished)
        return STATUS_INVALID_HANDLE;
    // The whole digest, no more and no less, as CNG asks.
    if (pbOutput == nullptr || cbOutput != kSha256Length || dwFlags != 0)
        return STATUS_INVALID_PARAMETER;
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(hash->context, pbOutput, &length) != 1 || length != kSha256Length)
        return STATUS_NO_MEMORY;
    hash->finished = true;
    return STATUS_SUCCESS;
}

NTSTATUS WINAPI BCryptDestroyHash(BCRYPT_HASH_HANDLE hHash) {
    HashObject* hash = HashOf(hHash);
    if (hash == nullptr || !UnregisterHandle(&hash->header))
        return STATUS_INVALID_HANDLE;
    EVP_MD_CTX_free(hash->context);
    delete hash;
    return STATUS_SUCCESS;
}
