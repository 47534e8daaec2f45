// The .reg file behind the stand-in's registry: parsing, and the registry
// calls over a file named by UPDATE_REGISTRY_FILE.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/standin/advapi32/reg_file_parser.h"
#include "platform/win32_api.h"
#include "temp_tree.h"

namespace {

const char kKey[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvane Software\\Brenvolt\\1.0";

struct Parsed {
    bool ok = false;
    bool exists = false;
    RegFileError error = {0, ""};
    std::string values; // "name=type:data;" in file order of last definition
};

// Zero bytes shown as '|', so that expectations stay plain texts.
std::string Describe(const RegistryValue* value) {
    std::string data(reinterpret_cast<const char*>(value->data), value->size);
    std::replace(data.begin(), data.end(), '\0', '|');
    return std::string(value->name) + "=" + std::to_string(value->type) + ":" + data;
}

Parsed Parse(const std::string& text, const char* key = kKey) {
    Parsed parsed;
    RegistryKeyContents contents;
    parsed.ok = ParseRegFile(text.data(), text.size(), key, &contents, &parsed.error);
    parsed.exists = contents.exists;
    for (const RegistryValue* v = contents.values; v != nullptr; v = v->next)
        parsed.values = Describe(v) + ";" + parsed.values; // stored newest first
    FreeRegistryValues(&contents);
    return parsed;
}

const std::string kHeader = "Windows Registry Editor Version 5.00\r\n\r\n";
const std::string kSection = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvane Software\\Brenvolt\\1.0]\n";

TEST(RegFileParser, WhichKeysExistAndWhatTheyHold) {
    const std::string deletedValue = kHeader + kSection + "@=\"x\"\n\"gone\"=\"y\"\n\"gone\"=-\n";
    const char* parent = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvane Software";
    struct Case {
        std::string text;
        const char* key;
        bool exists;
        const char* values;
    } cases[] = {
        {kHeader + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvane Software\\Brenvolt\\1.0]\r\n"
                   "@=\"C:\\\\Apps\\\\Brenvolt\"\r\n"
                   "\"&AppPath\"=\"say \\\"hi\\\"\"\r\n"
                   "\"Count\"=dword:0000012a\r\n"
                   "\"Bytes\"=hex:41,42,\\\r\n"
                   "  43\r\n"
                   "\"Expand\"=hex(2):25,00\r\n",
         kKey, true,
         "=1:C:\\Apps\\Brenvolt|;&AppPath=1:say \"hi\"|;Count=4:*\x01||;Bytes=3:ABC;Expand=2:%|;"},
        // Keys match without case; only the key's own section counts, the
        // last definition of a value wins.
        {"REGEDIT4\n; a comment\n"
         "[hkey_local_machine\\software\\QUORVANE SOFTWARE\\brenvolt\\1.0\\]\n\"a\"=\"1\"\n"
         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvane Software\\Brenvolt\\1.0\\Sub]\n\"b\"=\"2\"\n"
         "[HKEY_CURRENT_USER\\SOFTWARE\\Quorvane Software\\Brenvolt\\1.0]\n\"c\"=\"3\"\n" +
             kSection + "\"A\"=\"later wins\"\n",
         kKey, true, "A=1:later wins|;"},
        {deletedValue, kKey, true, "=1:x|;"},
        // Redefined and deleted without regard to case; the order is that of
        // the last definitions.
        {deletedValue + "\"a\"=\"1\"\n\"b\"=\"2\"\n\"A\"=\"3\"\n\"b\"=-\n\"GONE\"=\"4\"\n", kKey,
         true, "=1:x|;A=1:3|;GONE=1:4|;"},
        // A comment may follow a value, after blanks or none.
        {kHeader + kSection + "\"x\"=\"y\" ; note\n\"n\"=dword:00000001;note\n", kKey, true,
         "x=1:y|;n=4:\x01|||;"},
        {deletedValue, parent, true, ""},
        {deletedValue, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvane", false, ""},
        {deletedValue + "[-" + parent + "]\n", kKey, false, ""},
    };
    for (const Case& c : cases) {
        Parsed parsed = Parse(c.text, c.key);
        ASSERT_TRUE(parsed.ok) << parsed.error.line << ": " << parsed.error.reason << "\n"
                               << c.text;
        EXPECT_EQ(parsed.exists, c.exists) << c.key << "\n" << c.text;
        EXPECT_EQ(parsed.values, c.values) << c.key << "\n" << c.text;
    }
}

TEST(RegFileParser, MalformedFilesNameTheLineAndHoldNothing) {
    struct Case {
        std::string text;
        unsigned line;
    } cases[] = {
        {"", 1},
        {"[HKEY_LOCAL_MACHINE\\X]\n", 1},
        {"\n\nREGEDIT5\n", 3},
        {kHeader + "@=\"outside\"\n", 3},
        {kHeader + "[HKEY_LOCAL_MACHINE\\X\n", 3},
        {kHeader + "[HKEY_NOWHERE\\X]\n", 3},
        {kHeader + kSection + "@=\"C:\\Apps\"\n", 4},
        {kHeader + kSection + "@=\"open\n", 4},
        {kHeader + kSection + "\"n\"=dword:123456789\n", 4},
        {kHeader + kSection + "\"n\"=hex:4\n", 4},
        {kHeader + kSection + "\"n\"=hex:41,\\\n", 4},
        {kHeader + kSection + "\"n\"=text\n", 4},
        {kHeader + kSection + "\"n\" \"x\"\n", 4},
        {kHeader + kSection + "@=\"ok\"\ngarbage\n", 5},
    };
    for (const Case& c : cases) {
        Parsed parsed = Parse(c.text);
        EXPECT_FALSE(parsed.ok) << c.text;
        EXPECT_EQ(parsed.error.line, c.line) << c.text;
        EXPECT_GT(std::strlen(parsed.error.reason), 10u) << c.text;
        EXPECT_FALSE(parsed.exists) << c.text;
        EXPECT_EQ(parsed.values, "") << c.text;
    }
}

TEST(RegFileText, Utf16AndUtf8FilesBecomeCodePage1252) {
    struct Case {
        std::string bytes;
        std::string text;
    } cases[] = {
        {"plain \xFC", "plain \xFC"},                               // already code page 1252
        {"\xEF\xBB\xBFm\xC3\xBCssen", "m\xFCssen"},                 // UTF-8 with its mark
        {"m\xC3\xBCssen \xE2\x82\xAC", "m\xFCssen \x80"},           // UTF-8 without
        {std::string("\xFF\xFEm\0\xFC\0\xAC\x20", 8), "m\xFC\x80"}, // UTF-16LE
        {"\xE2\x98\x83!", "?!"},                                    // no such character
        {std::string("\xFF\xFE"
                     "a\0b\0c",
                     7),
         "ab"},                     // UTF-16LE of odd length: the stray byte goes
        {"x\n\xFC\n", "x\n\xFC\n"}, // not UTF-8, no mark: code page 1252
    };
    for (const Case& c : cases) {
        std::size_t length = 0;
        RegFileError error = {0, ""};
        char* text = DecodeRegFileText(reinterpret_cast<const unsigned char*>(c.bytes.data()),
                                       c.bytes.size(), &length, &error);
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(std::string(text, length), c.text);
        std::free(text);
    }
}

// A file that says it is UTF-8 (it begins with the byte order mark) and
// holds a byte that is not: the line of that byte is reported.
TEST(RegFileText, ByteThatIsNotUtf8InAMarkedFileNamesItsLine) {
    const std::string bytes = "\xEF\xBB\xBF" + kHeader + kSection + "@=\"m\xFCssen\"\n";
    std::size_t length = 0;
    RegFileError error = {0, ""};
    char* text = DecodeRegFileText(reinterpret_cast<const unsigned char*>(bytes.data()),
                                   bytes.size(), &length, &error);
    EXPECT_EQ(text, nullptr);
    std::free(text);
    EXPECT_EQ(error.line, 4u);
    EXPECT_STREQ(error.reason, "a byte that is not UTF-8 in a file marked as UTF-8");
}

class RegistryFileTest : public testing::Test {
  protected:
    void SetUp() override { setenv("UPDATE_REGISTRY_FILE", path_.c_str(), 1); }
    void TearDown() override { unsetenv("UPDATE_REGISTRY_FILE"); }
    void Write(const std::string& text) { std::ofstream(path_, std::ios::binary) << text; }

    TempTree tree_;
    std::string path_ = tree_.Root() + "/registry.reg";
};

const char kSubKey[] = "SOFTWARE\\Quorvane Software\\Brenvolt\\1.0";

TEST_F(RegistryFileTest, QueryReportsTypeAndSize) {
    Write(kHeader + kSection + "@=\"/opt/bv\"\n");
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software\\quorvane software\\BRENVOLT\\1.0", 0,
                            KEY_ALL_ACCESS, &key),
              ERROR_SUCCESS);
    char data[16];
    DWORD type = 0, size = sizeof(data);
    EXPECT_EQ(RegQueryValueExA(key, "", nullptr, &type, reinterpret_cast<LPBYTE>(data), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, DWORD(REG_SZ));
    EXPECT_EQ(size, 8u); // the terminator counts
    EXPECT_STREQ(data, "/opt/bv");

    size = 7;
    EXPECT_EQ(
        RegQueryValueExA(key, nullptr, nullptr, nullptr, reinterpret_cast<LPBYTE>(data), &size),
        ERROR_MORE_DATA);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(RegistryFileTest, MissingFileIsSilentAndAMalformedOneIsReportedOnce) {
    HKEY key = nullptr;
    testing::internal::CaptureStderr();
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSubKey, 0, KEY_ALL_ACCESS, &key),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    Write(kHeader + kSection + "@=\"C:\\Apps\"\n");
    testing::internal::CaptureStderr();
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSubKey, 0, KEY_ALL_ACCESS, &key),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kSubKey, 0, KEY_ALL_ACCESS, &key),
              ERROR_FILE_NOT_FOUND);
    std::string output = testing::internal::GetCapturedStderr();
    EXPECT_EQ(output.rfind(path_ + ":4: ", 0), 0u) << output;
    EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 1) << output;
}

TEST_F(RegistryFileTest, ByteThatIsNotUtf8InAMarkedFileIsReportedWithItsLine) {
    Write("\xEF\xBB\xBF" + kHeader + kSection + "@=\"m\xFCssen\"\n");
    HKEY key = nullptr;
    testing::internal::CaptureStderr();
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSubKey, 0, KEY_ALL_ACCESS, &key),
              ERROR_FILE_NOT_FOUND);
    const std::string output = testing::internal::GetCapturedStderr();
    EXPECT_EQ(output.rfind(path_ + ":4: ", 0), 0u) << output;
}

// Running out of memory while reading the file is said as such, not as a
// malformed file at line 0. A child with little address space reads a large
// (sparse) file.
TEST_F(RegistryFileTest, RunningOutOfMemoryIsNotAMalformedFile) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer does not run within an address space limit";
#endif
    std::ofstream(path_, std::ios::binary) << kHeader << kSection;
    ASSERT_EQ(truncate(path_.c_str(), off_t(1) << 30), 0);
    const std::string report = tree_.Root() + "/stderr.txt";
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        long pages = 0;
        std::ifstream("/proc/self/statm") >> pages;
        const rlim_t limit = rlim_t(pages) * sysconf(_SC_PAGESIZE) + (rlim_t(256) << 20);
        const struct rlimit space = {limit, limit};
        if (setrlimit(RLIMIT_AS, &space) != 0 || !freopen(report.c_str(), "w", stderr))
            _exit(2);
        HKEY key = nullptr;
        _exit(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSubKey, 0, KEY_ALL_ACCESS, &key) ==
                      ERROR_NOT_ENOUGH_MEMORY
                  ? 0
                  : 1);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    std::ifstream in(report);
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, path_ + ": registry file not read whole for want of memory, ignored");
}

} // namespace
