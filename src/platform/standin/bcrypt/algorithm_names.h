// What the stand-in's CNG calls share: the names of its algorithms, and the
// provider of ECDSA P-256 (ecdsa.cpp), which BCryptOpenAlgorithmProvider and
// BCryptCloseAlgorithmProvider hand on to.
#pragma once

#include "../bcrypt.h"

// CNG's algorithm names are compared as written.
inline bool SameAlgorithmName(LPCWSTR name, LPCWSTR expected) {
    while (*name != 0 && *name == *expected) {
        ++name;
        ++expected;
    }
    return *name == *expected;
}

NTSTATUS OpenEcdsaP256(BCRYPT_ALG_HANDLE* phAlgorithm, ULONG dwFlags);
// STATUS_INVALID_HANDLE for a handle that is no such provider.
NTSTATUS CloseEcdsaP256(BCRYPT_ALG_HANDLE hAlgorithm);
