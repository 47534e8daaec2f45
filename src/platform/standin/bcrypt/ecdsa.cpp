// ECDSA P-256 verification through CNG's calls, done by OpenSSL's libcrypto:
// the key blob's point becomes a SubjectPublicKeyInfo, the signature's r and
// s a DER ECDSA-Sig-Value, as libcrypto takes them.
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstring>
#include <new>

#include "../bcrypt.h"
#include "algorithm_names.h"
#include "handle_objects.h"

namespace {

const ULONG kCoordinate = 32;
// The DER of a P-256 SubjectPublicKeyInfo up to the point's x and y.
const unsigned char kSpkiPrefix[] = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2A, 0x86, 0x48,
                                     0xCE, 0x3D, 0x02, 0x01, 0x06, 0x08, 0x2A, 0x86, 0x48,
                                     0xCE, 0x3D, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00, 0x04};

struct AlgorithmObject {
    HandleObject header;
};

struct KeyObject {
    HandleObject header;
    EVP_PKEY* key;
};

AlgorithmObject* AlgorithmOf(BCRYPT_ALG_HANDLE handle) {
    return reinterpret_cast<AlgorithmObject*>(FindHandle(handle, HandleKind::SignatureAlgorithm));
}

KeyObject* KeyOf(BCRYPT_KEY_HANDLE handle) {
    return reinterpret_cast<KeyObject*>(FindHandle(handle, HandleKind::Key));
}

// The DER form of r and s, as libcrypto verifies it; 0 when it fails.
int DerSignature(const unsigned char* rs, unsigned char* der, int capacity) {
    ECDSA_SIG* signature = ECDSA_SIG_new();
    BIGNUM* r = BN_bin2bn(rs, kCoordinate, nullptr);
    BIGNUM* s = BN_bin2bn(rs + kCoordinate, kCoordinate, nullptr);
    if (signature == nullptr || r == nullptr || s == nullptr ||
        ECDSA_SIG_set0(signature, r, s) != 1) {
        BN_free(r);
        BN_free(s);
        ECDSA_SIG_free(signature);
        return 0;
    }
    int length = i2d_ECDSA_SIG(signature, nullptr);
    if (length <= 0 || length > capacity)
        length = 0;
    else
        length = i2d_ECDSA_SIG(signature, &der);
    ECDSA_SIG_free(signature);
    return length > 0 ? length : 0;
}

} // namespace

NTSTATUS OpenEcdsaP256(BCRYPT_ALG_HANDLE* phAlgorithm, ULONG dwFlags) {
    if (dwFlags != 0)
        return STATUS_NOT_SUPPORTED;
    AlgorithmObject* algorithm = new (std::nothrow) AlgorithmObject();
    if (algorithm == nullptr)
        return STATUS_NO_MEMORY;
    RegisterHandle(&algorithm->header, HandleKind::SignatureAlgorithm);
    *phAlgorithm = algorithm;
    return STATUS_SUCCESS;
}

NTSTATUS CloseEcdsaP256(BCRYPT_ALG_HANDLE hAlgorithm) {
    AlgorithmObject* algorithm = AlgorithmOf(hAlgorithm);
    if (algorithm == nullptr || !UnregisterHandle(&algorithm->header))
        return STATUS_INVALID_HANDLE;
    delete algorithm;
    return STATUS_SUCCESS;
}

NTSTATUS WINAPI BCryptImportKeyPair(BCRYPT_ALG_HANDLE hAlgorithm, BCRYPT_KEY_HANDLE hImportKey,
                                    LPCWSTR pszBlobType, BCRYPT_KEY_HANDLE* phKey, PUCHAR pbInput,
                                    ULONG cbInput, ULONG dwFlags) {
    if (AlgorithmOf(hAlgorithm) == nullptr)
        return STATUS_INVALID_HANDLE;
    if (phKey == nullptr || pbInput == nullptr || pszBlobType == nullptr)
        return STATUS_INVALID_PARAMETER;
    if (hImportKey != nullptr || dwFlags != 0 ||
        !SameAlgorithmName(pszBlobType, BCRYPT_ECCPUBLIC_BLOB))
        return STATUS_NOT_SUPPORTED;
    BCRYPT_ECCKEY_BLOB header;
    if (cbInput != sizeof header + 2 * kCoordinate)
        return STATUS_INVALID_PARAMETER;
    std::memcpy(&header, pbInput, sizeof header);
    if (header.dwMagic != BCRYPT_ECDSA_PUBLIC_P256_MAGIC || header.cbKey != kCoordinate)
        return STATUS_INVALID_PARAMETER;
    unsigned char spki[sizeof kSpkiPrefix + 2 * kCoordinate];
    std::memcpy(spki, kSpkiPrefix, sizeof kSpkiPrefix);
    std::memcpy(spki + sizeof kSpkiPrefix, pbInput + sizeof header, 2 * kCoordinate);
    const unsigned char* at = spki;
    // A point that is not on the curve is refused here, as CNG does.
    EVP_PKEY* key = d2i_PUBKEY(nullptr, &at, sizeof spki);
    if (key == nullptr)
        return STATUS_INVALID_PARAMETER;
    KeyObject* object = new (std::nothrow) KeyObject();
    if (object == nullptr) {
        EVP_PKEY_free(key);
        return STATUS_NO_MEMORY;
    }
    object->key = key;
    RegisterHandle(&object->header, HandleKind::Key);
    *phKey = object;
    return STATUS_SUCCESS;
}

NTSTATUS WINAPI BCryptVerifySignature(BCRYPT_KEY_HANDLE hKey, void* pPaddingInfo, PUCHAR pbHash,
                                      ULONG cbHash, PUCHAR pbSignature, ULONG cbSignature,
                                      ULONG dwFlags) {
    KeyObject* key = KeyOf(hKey);
    if (key == nullptr)
        return STATUS_INVALID_HANDLE;
    if (pPaddingInfo != nullptr || dwFlags != 0 || pbHash == nullptr || pbSignature == nullptr)
        return STATUS_INVALID_PARAMETER;
    // CNG takes r and s of the curve's size and nothing else.
    if (cbSignature != 2 * kCoordinate)
        return STATUS_INVALID_SIGNATURE;
    unsigned char der[80];
    const int length = DerSignature(pbSignature, der, sizeof der);
    EVP_PKEY_CTX* context = EVP_PKEY_CTX_new(key->key, nullptr);
    const bool verified =
        length > 0 && context != nullptr && EVP_PKEY_verify_init(context) == 1 &&
        EVP_PKEY_verify(context, der, static_cast<std::size_t>(length), pbHash, cbHash) == 1;
    EVP_PKEY_CTX_free(context);
    return verified ? STATUS_SUCCESS : STATUS_INVALID_SIGNATURE;
}

NTSTATUS WINAPI BCryptDestroyKey(BCRYPT_KEY_HANDLE hKey) {
    KeyObject* key = KeyOf(hKey);
    if (key == nullptr || !UnregisterHandle(&key->header))
        return STATUS_INVALID_HANDLE;
    EVP_PKEY_free(key->key);
    delete key;
    return STATUS_SUCCESS;
}
