// Declarations of the CNG subset (bcrypt.dll) that the stand-in implements:
// SHA-256 hashing and the verification of ECDSA P-256 signatures; types,
// values and signatures follow <bcrypt.h>, results are NTSTATUS values as
// there. OpenSSL's libcrypto does the work.
#pragma once

#include "windows.h"

typedef LONG NTSTATUS;
typedef std::uint32_t ULONG;
typedef unsigned char UCHAR;
typedef UCHAR* PUCHAR;
typedef void* PVOID;
typedef PVOID BCRYPT_HANDLE;
typedef PVOID BCRYPT_ALG_HANDLE;
typedef PVOID BCRYPT_HASH_HANDLE;
typedef PVOID BCRYPT_KEY_HANDLE;

#define BCRYPT_SUCCESS(Status) (((NTSTATUS)(Status)) >= 0)
// The stand-in's wide characters are 16 bits, as Windows' are.
#define BCRYPT_SHA256_ALGORITHM u"SHA256"
#define BCRYPT_ECDSA_P256_ALGORITHM u"ECDSA_P256"
#define BCRYPT_ECCPUBLIC_BLOB u"ECCPUBLICBLOB"
#define BCRYPT_ECDSA_PUBLIC_P256_MAGIC 0x31534345 // "ECS1"

// A public key blob: this header, then x and y of cbKey bytes each.
typedef struct _BCRYPT_ECCKEY_BLOB {
    ULONG dwMagic;
    ULONG cbKey;
} BCRYPT_ECCKEY_BLOB;

// From <ntstatus.h>, which a Win32 caller includes for them.
#define STATUS_SUCCESS ((NTSTATUS)0x00000000L)
#define STATUS_INVALID_HANDLE ((NTSTATUS)0xC0000008L)
#define STATUS_INVALID_PARAMETER ((NTSTATUS)0xC000000DL)
#define STATUS_NO_MEMORY ((NTSTATUS)0xC0000017L)
#define STATUS_NOT_SUPPORTED ((NTSTATUS)0xC00000BBL)
#define STATUS_NOT_FOUND ((NTSTATUS)0xC0000225L)
#define STATUS_INVALID_SIGNATURE ((NTSTATUS)0xC000A000L)

// Only SHA-256 and ECDSA P-256, from the default provider
// (pszImplementation null); a hash with its object left to the call
// (pbHashObject null, cbHashObject 0) and no secret (no HMAC); anything else
// is refused.
NTSTATUS WINAPI BCryptOpenAlgorithmProvider(BCRYPT_ALG_HANDLE* phAlgorithm, LPCWSTR pszAlgId,
                                            LPCWSTR pszImplementation, ULONG dwFlags);
NTSTATUS WINAPI BCryptCloseAlgorithmProvider(BCRYPT_ALG_HANDLE hAlgorithm, ULONG dwFlags);
NTSTATUS WINAPI BCryptCreateHash(BCRYPT_ALG_HANDLE hAlgorithm, BCRYPT_HASH_HANDLE* phHash,
                                 PUCHAR pbHashObject, ULONG cbHashObject, PUCHAR pbSecret,
                                 ULONG cbSecret, ULONG dwFlags);
NTSTATUS WINAPI BCryptHashData(BCRYPT_HASH_HANDLE hHash, PUCHAR pbInput, ULONG cbInput,
                               ULONG dwFlags);
NTSTATUS WINAPI BCryptFinishHash(BCRYPT_HASH_HANDLE hHash, PUCHAR pbOutput, ULONG cbOutput,
                                 ULONG dwFlags);
NTSTATUS WINAPI BCryptDestroyHash(BCRYPT_HASH_HANDLE hHash);

// ECDSA P-256: a public key imported from a BCRYPT_ECCPUBLIC_BLOB (no
// import key, no flags), and a signature of r and s, 32 bytes each, checked
// against a hash (no padding information, no flags): STATUS_SUCCESS, or
// STATUS_INVALID_SIGNATURE.
NTSTATUS WINAPI BCryptImportKeyPair(BCRYPT_ALG_HANDLE hAlgorithm, BCRYPT_KEY_HANDLE hImportKey,
                                    LPCWSTR pszBlobType, BCRYPT_KEY_HANDLE* phKey, PUCHAR pbInput,
                                    ULONG cbInput, ULONG dwFlags);
NTSTATUS WINAPI BCryptVerifySignature(BCRYPT_KEY_HANDLE hKey, void* pPaddingInfo, PUCHAR pbHash,
                                      ULONG cbHash, PUCHAR pbSignature, ULONG cbSignature,
                                      ULONG dwFlags);
NTSTATUS WINAPI BCryptDestroyKey(BCRYPT_KEY_HANDLE hKey);
