// Declarations of the CNG hashing subset (bcrypt.dll) that the stand-in
// implements; types, values and signatures follow <bcrypt.h>, results are
// NTSTATUS values as there. Hashing is done by OpenSSL's libcrypto.
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

#define BCRYPT_SUCCESS(Status) (((NTSTATUS)(Status)) >= 0)
// The stand-in's wide characters are 16 bits, as Windows' are.
#define BCRYPT_SHA256_ALGORITHM u"SHA256"

// From <ntstatus.h>, which a Win32 caller includes for them.
#define STATUS_SUCCESS ((NTSTATUS)0x00000000L)
#define STATUS_INVALID_HANDLE ((NTSTATUS)0xC0000008L)
#define STATUS_INVALID_PARAMETER ((NTSTATUS)0xC000000DL)
#define STATUS_NO_MEMORY ((NTSTATUS)0xC0000017L)
#define STATUS_NOT_SUPPORTED ((NTSTATUS)0xC00000BBL)
#define STATUS_NOT_FOUND ((NTSTATUS)0xC0000225L)

// Only SHA-256, from the default provider (pszImplementation null), with
// the hash object left to the call (pbHashObject null, cbHashObject 0) and
// no secret (no HMAC); anything else is refused.
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
