// SHA-256 through the platform (CNG on Windows and under Wine, libcrypto on
// the stand-in) against published vectors, the manifest reader, and the
// manifest's signature: its decoding, and ECDSA P-256 through the platform
// against a signature that update-manifest made.
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "manifest_signature.h"
#include "package_manifest.h"
#include "sha256.h"
#include "sha256_hex.h"
#include "temp_tree.h"

namespace {

// A public key in its PEM text, a manifest, and the signature that
// `update-manifest sign` made of it with the private key.
const char kPublicKeyBase64[] = "MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAEXPNeH2RtqnwZdbdrU8LyHnlO8ZmK"
                                "AJxPfuL7QSNrzyWyV/tS9riAnF0ie2MRoV4heJv7RHoHRA80o5dtvYb8rw==";
const char kKeyId[] = "8955ce1f12e95bca"; // openssl pkey -pubin -outform DER | sha256sum
const char kSignedManifest[] =
    "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad  abc.txt\n";
const char kSignature[] = "MEUCIGEq6rRzaZtN3KhvuYUnkOnwWYXNDoBDKNLFodxkDoDwAiEA+srnbAmDsIO+lMHZB4"
                          "MotQIMJOTHqcEw3zVhNFJ+Txc=\n";

const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string Base64(const std::string& bytes) {
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        std::uint32_t group = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size())
            group |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size())
            group |= static_cast<unsigned char>(bytes[i + 2]);
        for (std::size_t j = 0; j < 4; ++j)
            text += i + j <= bytes.size() ? kDigits[(group >> (18 - 6 * j)) & 63] : '=';
    }
    return text;
}

// An INTEGER of DER with the given content bytes.
std::string Integer(const std::string& content) {
    return std::string("\x02", 1) + static_cast<char>(content.size()) + content;
}

std::string Sequence(const std::string& content) {
    return std::string("\x30", 1) + static_cast<char>(content.size()) + content;
}

TEST(ManifestSignature, DecodesOnlyOneLineOfBase64OfAStrictDerSignature) {
    const std::string r(32, '\x11'), s(32, '\x22'), high(32, '\x80'), zero(1, '\0');
    // 70 bytes: the last group has one byte and two padding characters, so
    // the lowest 4 bits of the character before them are left over.
    const std::string good = Base64(Sequence(Integer(r) + Integer(s)));
    std::string paddingBitSet = good;
    char& last = paddingBitSet[good.size() - 3];
    last = kDigits[(std::string(kDigits).find(last)) ^ 1];
    const struct {
        const char* what;
        std::string text;
        bool decoded;
        std::string rs; // r and s as decoded
    } rows[] = {
        {"as openssl base64 -A writes it", good, true, r + s},
        {"with a line end", good + "\n", true, r + s},
        {"with CR LF", good + "\r\n", true, r + s},
        {"a leading zero where the high bit is set",
         Base64(Sequence(Integer(zero + high) + Integer(s))), true, high + s},
        {"a short integer, right-aligned", Base64(Sequence(Integer(r.substr(1)) + Integer(s))),
         true, zero + r.substr(1) + s},
        {"two line ends", good + "\n\n", false, ""},
        {"a line broken in two", good.substr(0, 40) + "\n" + good.substr(40), false, ""},
        {"a blank before it", " " + good, false, ""},
        {"padding missing", good.substr(0, good.size() - 1), false, ""},
        {"padding bits set", paddingBitSet, false, ""},
        {"a byte after the sequence", Base64(Sequence(Integer(r) + Integer(s)) + zero), false, ""},
        {"the sequence's length wrong", Base64("\x30\x43" + Integer(r) + Integer(s)), false, ""},
        {"a negative integer", Base64(Sequence(Integer(high) + Integer(s))), false, ""},
        {"a leading zero not needed", Base64(Sequence(Integer(zero + r) + Integer(s))), false, ""},
        {"an integer of 33 bytes", Base64(Sequence(Integer("\x01" + r) + Integer(s))), false, ""},
        {"an empty integer", Base64(Sequence(Integer("") + Integer(s))), false, ""},
        {"one integer only", Base64(Sequence(Integer(r))), false, ""},
        {"no sequence", Base64(Integer(r) + Integer(s)), false, ""},
        {"empty", "", false, ""},
    };
    for (const auto& row : rows) {
        BYTE rs[64] = {};
        EXPECT_EQ(manifest_signature::DecodeSignature(
                      row.text.data(), static_cast<std::uint32_t>(row.text.size()), rs),
                  row.decoded)
            << row.what;
        if (row.decoded) {
            EXPECT_EQ(std::string(reinterpret_cast<char*>(rs), 64), row.rs) << row.what;
        }
    }
}

// Through CNG (bcrypt.dll; under Wine, its GnuTLS) or the stand-in's
// libcrypto: the signature verifies against the key's bytes, and not
// against one changed byte of the manifest, nor in a package without it.
TEST(ManifestSignature, VerifiesP256ThroughThePlatformAndRefusesAChangedManifest) {
    BYTE der[128];
    const std::int32_t size = manifest_signature::DecodeBase64(
        kPublicKeyBase64, sizeof kPublicKeyBase64 - 1, der, sizeof der);
    ASSERT_EQ(size, 91);
    const PublicKeyDer key{der, static_cast<std::uint32_t>(size)};
    EXPECT_EQ(std::string(manifest_signature::KeyId(key).GetText()), kKeyId);
    TempTree tree;
    tree.WriteFile(".Update.sha256.sig", kSignature);
    const TextString root(tree.Root().c_str());
    std::string manifest = kSignedManifest;
    const auto check = [&] {
        return manifest_signature::Check(root, manifest.data(),
                                         static_cast<std::uint32_t>(manifest.size()), &key, 1);
    };
    const SignatureCheck signedAsIs = check();
    EXPECT_EQ(signedAsIs.verdict, SignatureVerdict::kVerified) << std::hex << signedAsIs.error;
    EXPECT_EQ(signedAsIs.key, 0u);
    for (std::size_t at : {std::size_t(0), std::size_t(40), manifest.size() - 1}) {
        manifest = kSignedManifest;
        manifest[at] ^= 1;
        EXPECT_EQ(check().verdict, SignatureVerdict::kByNoKey) << at;
    }
    manifest = kSignedManifest;
    tree.WriteFile(".Update.sha256.sig", std::string(kSignature).substr(0, 20) + "\n");
    EXPECT_EQ(check().verdict, SignatureVerdict::kMalformed);
    ASSERT_TRUE(DeleteFileA(tree.Path(".Update.sha256.sig").c_str()));
    EXPECT_EQ(check().verdict, SignatureVerdict::kMissing);
}

TEST(Sha256, KnownVectorsWholeAndInPieces) {
    const std::string twoBlocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    for (std::size_t chunk : {std::size_t(1), std::size_t(7), std::size_t(1000)}) {
        EXPECT_EQ(HashOf("", chunk),
                  "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
        EXPECT_EQ(HashOf("abc", chunk),
                  "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
        EXPECT_EQ(HashOf(twoBlocks, chunk),
                  "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    }
}

// Two digests are one only when all their bytes are.
TEST(Sha256, DigestsThatDifferInAnyByteDiffer) {
    Sha256Digest first = {}, second = {};
    EXPECT_TRUE(first == second);
    for (std::uint32_t at : {0u, 7u, 8u, Sha256Digest::kSize - 1}) {
        second = first;
        second.bytes[at] = 1;
        EXPECT_FALSE(first == second) << at;
    }
}

TEST(Sha256, HashFileReadsItWholeAndFailsOnAMissingOne) {
    TempTree tree;
    tree.WriteFile("abc.txt", std::string(100000, 'a'));
    Sha256 hasher;
    Sha256Digest digest = {};
    char buffer[4096];
    ASSERT_TRUE(hasher.HashFile(tree.Path("abc.txt").c_str(), buffer, sizeof buffer, digest));
    EXPECT_EQ(Hex(digest), HashOf(std::string(100000, 'a'), 65536));
    EXPECT_FALSE(hasher.HashFile(tree.Path("none").c_str(), buffer, sizeof buffer, digest));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

const std::string kAbc = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
const std::string kUpperAbc = "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD";

TEST(PackageManifest, ReadsWhatWindowsToolsWriteAndFindsWithoutCase) {
    PackageManifest manifest;
    const std::string text = kAbc + "  Update.exe\r\n" + kUpperAbc + " *Data/Sub/Map.dat\n" + kAbc +
                             "  faq.txt"; // no line end after the last
    ASSERT_TRUE(manifest.Parse(text.data(), static_cast<std::uint32_t>(text.size())));
    EXPECT_EQ(manifest.Count(), 3u);
    PackageManifest::Entry* entry = manifest.Find("data\\sub\\MAP.DAT");
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(Hex(entry->digest), kAbc);
    EXPECT_EQ(entry->line, 2u);
    EXPECT_NE(manifest.Find("FAQ.TXT"), nullptr);
    EXPECT_EQ(manifest.Find("Data\\Sub"), nullptr);
    EXPECT_EQ(manifest.Find("Data/Sub/Map.dat"), nullptr);
    const std::string umlaut = kAbc + "  \xC4.dat\n";
    ASSERT_TRUE(manifest.Parse(umlaut.data(), static_cast<std::uint32_t>(umlaut.size())));
    EXPECT_NE(manifest.Find("\xE4.DAT"), nullptr);
}

// Each refuses the whole manifest at its line (the second).
TEST(PackageManifest, RefusesEveryBadLine) {
    const std::string good = kAbc + "  ok.txt\n";
    const std::string bad[] = {
        "",                                        // an empty line
        kAbc + "  ",                               // no path
        kAbc + " ok2.txt",                         // one space
        kAbc + "\tok2.txt",                        // a tab
        kAbc.substr(1) + "  ok2.txt",              // 63 digits
        kAbc + "0  ok2.txt",                       // 65 digits
        "g" + kAbc.substr(1) + "  ok2.txt",        // not hex
        "0g" + kAbc.substr(2) + "  ok2.txt",       // not hex, as a byte's second digit
        "\\" + kAbc + "  ok\\\\2.txt",             // sha256sum's escaped form
        kAbc + "  /etc/passwd",                    // absolute
        kAbc + "  ../outside.txt",                 // up
        kAbc + "  Sub/../../outside.txt",          // up, further in
        kAbc + "  ./ok2.txt",                      // a dot name
        kAbc + "  Sub/.hidden",                    // a dot name
        kAbc + "  C:/Windows/win.ini",             // a drive
        kAbc + "  Sub\\ok2.txt",                   // a backslash
        kAbc + "  Sub//ok2.txt",                   // an empty name
        kAbc + "  Sub/",                           // a folder
        kAbc + "  NUL.txt",                        // a device
        kAbc + "  ok2.txt ",                       // a trailing blank
        kAbc + "  a\rb.txt",                       // a control character
        kAbc + "  a" + std::string(1, '\0') + "b", // a zero byte
        kAbc + "  OK.TXT",                         // listed twice, in two cases
        kAbc + "  ok.txt",                         // listed twice
    };
    for (const std::string& line : bad) {
        const std::string text = good + line + "\n" + kAbc + "  last.txt\n";
        PackageManifest manifest;
        EXPECT_FALSE(manifest.Parse(text.data(), static_cast<std::uint32_t>(text.size()))) << line;
        EXPECT_EQ(manifest.BadLine(), 2u) << line;
    }
    // A path listed twice in the pair that sorts first, or in two cases
    // that are one name on Windows, beyond ASCII too.
    const std::pair<const char*, const char*> twice[] = {{"a.txt", "A.TXT"},
                                                         {"\xC4.dat", "\xE4.dat"}};
    for (const auto& pair : twice) {
        const std::string text = kAbc + "  " + pair.first + "\n" + kAbc + "  " + pair.second +
                                 "\n" + kAbc + "  last.txt\n";
        PackageManifest manifest;
        EXPECT_FALSE(manifest.Parse(text.data(), static_cast<std::uint32_t>(text.size())))
            << pair.second;
        EXPECT_EQ(manifest.BadLine(), 2u) << pair.second;
    }
}

TEST(PackageManifest, ReadTellsAbsentUnreadableAndMalformedApart) {
    TempTree tree;
    PackageManifest manifest;
    const TextString root(tree.Root().c_str());
    EXPECT_EQ(manifest.Read(root), PackageManifest::Load::kAbsent);
    tree.MakeDirectory(".Update.sha256");
    EXPECT_EQ(manifest.Read(root), PackageManifest::Load::kUnreadable);
    RemoveTree(tree.Path(".Update.sha256"));
    tree.WriteFile(".Update.sha256", kAbc + "  a.txt\nbad\n");
    EXPECT_EQ(manifest.Read(root), PackageManifest::Load::kMalformed);
    EXPECT_EQ(manifest.BadLine(), 2u);
    tree.WriteFile(".Update.sha256", kAbc + "  a.txt\n");
    EXPECT_EQ(manifest.Read(root), PackageManifest::Load::kRead);
    EXPECT_NE(manifest.Find("A.TXT"), nullptr);
}

} // namespace
