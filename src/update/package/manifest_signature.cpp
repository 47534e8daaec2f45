#include "manifest_signature.h"

#include <cstring>

#include "sha256.h"

namespace manifest_signature {

namespace {

// The DER of a P-256 SubjectPublicKeyInfo up to its point: the algorithm
// id-ecPublicKey with the curve prime256v1, a bit string of 66 bytes, no
// unused bits, and the uncompressed point's 0x04.
const BYTE kP256KeyPrefix[] = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2A, 0x86, 0x48,
                               0xCE, 0x3D, 0x02, 0x01, 0x06, 0x08, 0x2A, 0x86, 0x48,
                               0xCE, 0x3D, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00, 0x04};
// SEQUENCE { INTEGER r, INTEGER s }: at most 2 + 2 * (2 + 33) bytes.
const std::uint32_t kMaxDerSignature = 72;

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

// One INTEGER of the signature, positive and in its shortest form, into 32
// bytes, right-aligned.
bool ReadInteger(const BYTE*& at, const BYTE* end, BYTE* out) {
    if (end - at < 2 || at[0] != 0x02)
        return false;
    std::uint32_t length = at[1];
    at += 2;
    if (length == 0 || length > static_cast<std::uint32_t>(end - at) || (at[0] & 0x80) != 0)
        return false;
    if (at[0] == 0 && length > 1) {
        if ((at[1] & 0x80) == 0)
            return false; // a leading zero that is not needed
        ++at;
        --length;
    }
    if (length > kCoordinateBytes)
        return false;
    std::memset(out, 0, kCoordinateBytes);
    std::memcpy(out + kCoordinateBytes - length, at, length);
    at += length;
    return true;
}

// The file's bytes, at most kMaxFileBytes; the verdict when there are none.
SignatureVerdict ReadSignatureFile(const TextString& path, char* text, std::uint32_t& size,
                                   DWORD& error) {
    const DWORD attributes = GetFileAttributesA(path.GetText());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND ? SignatureVerdict::kMissing
                                             : SignatureVerdict::kUnreadable;
    }
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) {
        error = ERROR_CANT_ACCESS_FILE;
        return SignatureVerdict::kUnreadable;
    }
    HANDLE file = CreateFileA(path.GetText(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        return SignatureVerdict::kUnreadable;
    }
    // One byte more than is taken tells a file that is too large.
    size = 0;
    DWORD read = 0;
    SignatureVerdict verdict = SignatureVerdict::kVerified;
    do {
        if (!ReadFile(file, text + size, kMaxFileBytes + 1 - size, &read, nullptr)) {
            error = GetLastError();
            verdict = SignatureVerdict::kUnreadable;
            break;
        }
        size += read;
    } while (read != 0 && size <= kMaxFileBytes);
    CloseHandle(file);
    if (verdict == SignatureVerdict::kVerified && size > kMaxFileBytes)
        verdict = SignatureVerdict::kMalformed;
    return verdict;
}

// Whether CNG finds the signature to be the key's over the hash.
bool VerifiedBy(BCRYPT_ALG_HANDLE algorithm, const PublicKeyDer& key, const Sha256Digest& hash,
                BYTE* rs, bool& usable, NTSTATUS& status) {
    struct {
        BCRYPT_ECCKEY_BLOB header;
        BYTE point[2 * kCoordinateBytes];
    } blob;
    usable = PublicPoint(key, blob.point);
    if (!usable)
        return false;
    blob.header.dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
    blob.header.cbKey = kCoordinateBytes;
    BCRYPT_KEY_HANDLE handle = nullptr;
    status = BCryptImportKeyPair(algorithm, nullptr, BCRYPT_ECCPUBLIC_BLOB, &handle,
                                 reinterpret_cast<PUCHAR>(&blob), sizeof blob, 0);
    if (!BCRYPT_SUCCESS(status)) {
        usable = false;
        return false;
    }
    // CNG takes the hash through a non-const pointer; it does not write it.
    const bool verified =
        BCRYPT_SUCCESS(BCryptVerifySignature(handle, nullptr, const_cast<PUCHAR>(hash.bytes),
                                             Sha256Digest::kSize, rs, 2 * kCoordinateBytes, 0));
    BCryptDestroyKey(handle);
    return verified;
}

} // namespace

std::int32_t DecodeBase64(const char* text, std::uint32_t length, BYTE* out,
                          std::uint32_t capacity) {
    if (length % 4 != 0)
        return -1;
    std::uint32_t size = 0;
    for (std::uint32_t i = 0; i < length; i += 4) {
        const bool last = i + 4 == length;
        // Padding only at the very end: "x===" is nothing, "xx==" one byte.
        const std::uint32_t padding = !last                ? 0
                                      : text[i + 3] != '=' ? 0
                                      : text[i + 2] != '=' ? 1
                                                           : 2;
        std::uint32_t group = 0;
        for (std::uint32_t j = 0; j < 4; ++j) {
            const int value = j >= 4 - padding ? 0 : Base64Value(text[i + j]);
            if (value < 0)
                return -1;
            group = group << 6 | static_cast<std::uint32_t>(value);
        }
        // The bits that padding leaves over are zero: one signature has
        // one text.
        if ((group & ((1u << 8 * padding) - 1)) != 0)
            return -1;
        const std::uint32_t bytes = 3 - padding;
        if (size + bytes > capacity)
            return -1;
        for (std::uint32_t j = 0; j < bytes; ++j)
            out[size++] = static_cast<BYTE>(group >> (16 - 8 * j));
    }
    return static_cast<std::int32_t>(size);
}

bool DecodeSignature(const char* text, std::uint32_t size, BYTE rs[2 * kCoordinateBytes]) {
    if (size > 0 && text[size - 1] == '\n')
        --size;
    if (size > 0 && text[size - 1] == '\r')
        --size;
    BYTE der[kMaxDerSignature];
    const std::int32_t length = DecodeBase64(text, size, der, sizeof der);
    // SEQUENCE in its short form, holding exactly the two integers.
    if (length < 2 || der[0] != 0x30 || der[1] != length - 2)
        return false;
    const BYTE* at = der + 2;
    const BYTE* const end = der + length;
    return ReadInteger(at, end, rs) && ReadInteger(at, end, rs + kCoordinateBytes) && at == end;
}

bool PublicPoint(const PublicKeyDer& key, BYTE point[2 * kCoordinateBytes]) {
    if (key.size != sizeof kP256KeyPrefix + 2 * kCoordinateBytes ||
        std::memcmp(key.bytes, kP256KeyPrefix, sizeof kP256KeyPrefix) != 0)
        return false;
    std::memcpy(point, key.bytes + sizeof kP256KeyPrefix, 2 * kCoordinateBytes);
    return true;
}

TextString KeyId(const PublicKeyDer& key) {
    Sha256 hasher;
    Sha256Digest digest;
    TextString id;
    if (hasher.Begin() && hasher.Add(key.bytes, key.size) && hasher.Finish(digest)) {
        static const char kHex[] = "0123456789abcdef";
        for (std::uint32_t i = 0; i < 8; ++i)
            id.Append(kHex[digest.bytes[i] >> 4]).Append(kHex[digest.bytes[i] & 15]);
    }
    return id;
}

SignatureCheck Check(const TextString& packageRoot, const char* manifest, std::uint32_t size,
                     const PublicKeyDer* keys, std::uint32_t count) {
    SignatureCheck check;
    TextString path(packageRoot);
    path.EnsureTrailingSeparator().Append(kFileName);
    char text[kMaxFileBytes + 1];
    std::uint32_t textSize = 0;
    check.verdict = ReadSignatureFile(path, text, textSize, check.error);
    if (check.verdict != SignatureVerdict::kVerified)
        return check;
    BYTE rs[2 * kCoordinateBytes];
    if (!DecodeSignature(text, textSize, rs)) {
        check.verdict = SignatureVerdict::kMalformed;
        return check;
    }
    Sha256 hasher;
    Sha256Digest hash;
    if (!hasher.Begin() || !hasher.Add(manifest, size) || !hasher.Finish(hash)) {
        check.verdict = SignatureVerdict::kNoVerifier;
        check.error = GetLastError();
        return check;
    }
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    const NTSTATUS opened =
        BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0);
    if (!BCRYPT_SUCCESS(opened)) {
        check.verdict = SignatureVerdict::kNoVerifier;
        check.error = static_cast<DWORD>(opened);
        return check;
    }
    // A key that CNG cannot take counts against the run only when no other
    // key verifies.
    check.verdict = SignatureVerdict::kByNoKey;
    for (std::uint32_t i = 0; i < count; ++i) {
        bool usable = false;
        NTSTATUS status = 0;
        if (VerifiedBy(algorithm, keys[i], hash, rs, usable, status)) {
            check.verdict = SignatureVerdict::kVerified;
            check.key = i;
            break;
        }
        if (!usable) {
            check.verdict = SignatureVerdict::kNoVerifier;
            check.error = static_cast<DWORD>(status);
        }
    }
    BCryptCloseAlgorithmProvider(algorithm, 0);
    return check;
}

} // namespace manifest_signature
