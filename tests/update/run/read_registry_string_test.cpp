// ReadRegistryString against the stand-in's registry file.
#include <cstdlib>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "read_registry_string.h"
#include "temp_tree.h"

namespace {

const char kKey[] = "SOFTWARE\\Quorvane Software\\Brenvolt\\1.0";

class RegistryFile {
  public:
    explicit RegistryFile(const std::string& body) {
        path_ = tree_.Root() + "/registry.reg"; // a POSIX path: it is read with fopen
        std::ofstream(path_, std::ios::binary) << "Windows Registry Editor Version 5.00\r\n\r\n"
                                               << body;
        setenv("UPDATE_REGISTRY_FILE", path_.c_str(), 1);
    }
    ~RegistryFile() { unsetenv("UPDATE_REGISTRY_FILE"); }

  private:
    TempTree tree_;
    std::string path_;
};

std::string Read(HKEY root, const char* value) {
    const TextString text = ReadRegistryString(root, kKey, value);
    return std::string(text.GetText(), text.GetLength());
}

TEST(ReadRegistryString, ReadsTheDefaultAndNamedValues) {
    RegistryFile file("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvane Software\\Brenvolt\\1.0]\r\n"
                      "@=\"C:\\\\Apps\\\\Brenvolt\"\r\n\r\n"
                      "[hkey_current_user\\software\\quorvane software\\BRENVOLT\\1.0]\r\n"
                      "\"&AppPath\"=\"D:\\\\Per User\"\r\n");
    EXPECT_EQ(Read(HKEY_LOCAL_MACHINE, ""), "C:\\Apps\\Brenvolt");
    EXPECT_EQ(Read(HKEY_CURRENT_USER, "&AppPath"), "D:\\Per User");
    EXPECT_EQ(Read(HKEY_CURRENT_USER, "&apppath"), "D:\\Per User"); // names match in any case
    EXPECT_EQ(Read(HKEY_CURRENT_USER, ""), "");
    EXPECT_EQ(Read(HKEY_LOCAL_MACHINE, "&AppPath"), "");
}

TEST(ReadRegistryString, MissingKeyOrFileGivesEmpty) {
    RegistryFile file("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\r\n@=\"x\"\r\n");
    EXPECT_EQ(Read(HKEY_LOCAL_MACHINE, ""), "");
    setenv("UPDATE_REGISTRY_FILE", "/nonexistent/registry.reg", 1);
    EXPECT_EQ(Read(HKEY_LOCAL_MACHINE, ""), "");
}

TEST(ReadRegistryString, ValueOfTheBufferSizeLimit) {
    // 255 characters and the terminator fill the 256-byte buffer; one more
    // no longer fits and reads as empty.
    const std::string fits(255, 'f'), tooLong(256, 't');
    RegistryFile file("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvane Software\\Brenvolt\\1.0]\r\n"
                      "@=\"" +
                      fits + "\"\r\n\"&AppPath\"=\"" + tooLong + "\"\r\n");
    EXPECT_EQ(Read(HKEY_LOCAL_MACHINE, ""), fits);
    EXPECT_EQ(Read(HKEY_LOCAL_MACHINE, "&AppPath"), "");
    LONG status = ERROR_SUCCESS;
    ReadRegistryString(HKEY_LOCAL_MACHINE, kKey, "&AppPath", &status);
    EXPECT_EQ(status, ERROR_MORE_DATA); // told apart from a missing value
    ReadRegistryString(HKEY_LOCAL_MACHINE, kKey, "Missing", &status);
    EXPECT_EQ(status, ERROR_FILE_NOT_FOUND);
}

// Stored without a terminating zero (hex(1): bytes), a value is read up to
// the size that the query returned; 256 bytes fill the buffer exactly.
TEST(ReadRegistryString, ValueWithoutTerminatingZero) {
    std::string full = "hex(1):";
    for (int i = 0; i < 256; ++i)
        full += i == 0 ? "66" : ",66";
    RegistryFile file("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvane Software\\Brenvolt\\1.0]\r\n"
                      "@=" +
                      full + "\r\n\"Short\"=hex(1):41,42,43\r\n");
    EXPECT_EQ(Read(HKEY_LOCAL_MACHINE, ""), std::string(256, 'f'));
    EXPECT_EQ(Read(HKEY_LOCAL_MACHINE, "Short"), "ABC");
}

} // namespace
