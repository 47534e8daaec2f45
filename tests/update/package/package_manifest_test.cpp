// SHA-256 through the platform (CNG on Windows and under Wine, libcrypto on
// the stand-in) against published vectors, and the manifest reader.
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "package_manifest.h"
#include "sha256.h"
#include "sha256_hex.h"
#include "temp_tree.h"

namespace {

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
