// The signature of a package's manifest: `.Update.sha256.sig` beside it, one
// line of the base64 of an ECDSA P-256 signature over the SHA-256 of the
// manifest's exact bytes, in DER, as `openssl dgst -sha256 -sign` writes it
// (the line end may be there or not). It is verified through CNG
// (bcrypt.dll): the public key as a BCRYPT_ECCPUBLIC_BLOB, the signature as
// r and s of 32 bytes each.
//
// A key is given as its DER SubjectPublicKeyInfo, as `openssl pkey -pubin
// -outform DER` writes it; only a P-256 key is taken. A key is named in the
// log by the first 16 hex digits of the SHA-256 of those bytes.
#pragma once

#include <cstdint>

#include "platform/win32_api.h"
#include "text_string.h"

struct PublicKeyDer {
    const BYTE* bytes;
    std::uint32_t size;
};

enum class SignatureVerdict {
    kVerified,   // by the key `key`
    kMissing,    // no signature file
    kUnreadable, // not a plain file, or it cannot be read: `error`
    kMalformed,  // not one line of base64 of a DER signature of P-256
    kByNoKey,    // by none of the keys, or the manifest changed after signing
    kNoVerifier, // CNG refused the algorithm or a key: `error` (its NTSTATUS)
};

struct SignatureCheck {
    SignatureVerdict verdict = SignatureVerdict::kMissing;
    DWORD error = ERROR_SUCCESS;
    std::uint32_t key = 0;
};

namespace manifest_signature {

constexpr const char kFileName[] = ".Update.sha256.sig";
// A signature line is some 96 characters; a file larger than this is none.
const std::uint32_t kMaxFileBytes = 512;
const std::uint32_t kCoordinateBytes = 32;

// Decodes standard base64 with its padding; the number of bytes, or -1 for
// anything else (a line end, a blank) or more than `capacity` bytes.
std::int32_t DecodeBase64(const char* text, std::uint32_t length, BYTE* out,
                          std::uint32_t capacity);

// The signature file's text into r and s; false unless it is one line of
// base64 of a DER ECDSA signature whose integers fit 32 bytes.
bool DecodeSignature(const char* text, std::uint32_t size, BYTE rs[2 * kCoordinateBytes]);

// The point (x and y) of a P-256 key; false for any other key.
bool PublicPoint(const PublicKeyDer& key, BYTE point[2 * kCoordinateBytes]);

// The key's name in the log: 16 hex digits (empty when CNG cannot hash).
TextString KeyId(const PublicKeyDer& key);

// Reads the signature beside the manifest in packageRoot and verifies the
// manifest's bytes against each key in turn.
SignatureCheck Check(const TextString& packageRoot, const char* manifest, std::uint32_t size,
                     const PublicKeyDer* keys, std::uint32_t count);

} // namespace manifest_signature
