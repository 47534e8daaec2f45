// Runs of Update.exe: finding the installation, what is copied, and files
// that cannot be.
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "update_run.h"

namespace {

TEST_F(UpdateRun, FallsThroughToCurrentUserWhenTheMachineValueIsEmptyOrWrong) {
    Product();
    WriteAll(package_ / "a.txt", "a");
    WriteAll(package_ / "b.txt", "b");
    for (const std::string& machineValue : {std::string(), (root_ / "elsewhere").string()}) {
        fs::create_directories(root_ / "elsewhere");
        Registry(machineValue, install_.string());
        if (machineValue.empty()) {
            // An empty unnamed value, present but empty.
            WriteAll(root_ / "registry.reg",
                     ReadAll(root_ / "registry.reg") +
                         "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvane Software\\Brenvolt\\1.0]\r\n"
                         "@=\"\"\r\n");
        }
        fs::remove(root_ / "notes.txt");
        const RunResult run = Run(true);
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.messageBox, kDone2) << machineValue;
        EXPECT_EQ(ReadAll(install_ / "b.txt"), "b");
        EXPECT_FALSE(fs::exists(root_ / "elsewhere" / "a.txt"));
    }
}

TEST_F(UpdateRun, FoundNowhere) {
    for (bool withFile : {false, true}) {
        if (withFile)
            Registry(install_.string(), install_.string()); // but no BV.EXE there
        WriteAll(package_ / "a.txt", "a");
        const RunResult run = Run(false);
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.messageBox, kNotFound);
        EXPECT_FALSE(fs::exists(install_ / "a.txt"));
        EXPECT_EQ(run.notes, "");
    }
}

TEST_F(UpdateRun, InstallationDirectoryEndingInASeparator) {
    for (const char* separator : {"/", "\\"}) {
        Registry(install_.string() + separator);
        Product();
        WriteAll(package_ / "Sub" / "x.txt", "x");
        WriteAll(package_ / "y.txt", "y");
        const RunResult run = Run(true);
        EXPECT_EQ(run.messageBox, kDone2) << separator;
        EXPECT_EQ(ReadAll(install_ / "Sub" / "x.txt"), "x");
        EXPECT_EQ(ReadAll(install_ / "y.txt"), "y");
    }
}

TEST_F(UpdateRun, SkipsItselfAndDotNamesAtEveryDepth) {
    Installed();
    WriteAll(package_ / "Sub" / "UPDATE.EXE", "not me");
    WriteAll(package_ / "Sub" / "Deeper" / "uPdAtE.ExE", "not me");
    WriteAll(package_ / ".hidden", "no");
    WriteAll(package_ / ".git" / "config", "no");
    WriteAll(package_ / "Sub" / ".dotfile", "no");
    WriteAll(package_ / "Sub" / "Deeper" / "kept.txt", "1");
    WriteAll(package_ / "kept.txt", "2");
    const RunResult run = Run(true);
    EXPECT_EQ(run.messageBox, kDone2);
    EXPECT_FALSE(fs::exists(install_ / "Update.exe"));
    EXPECT_FALSE(fs::exists(install_ / "Sub" / "UPDATE.EXE"));
    EXPECT_FALSE(fs::exists(install_ / "Sub" / "Deeper" / "uPdAtE.ExE"));
    EXPECT_FALSE(fs::exists(install_ / ".hidden"));
    EXPECT_FALSE(fs::exists(install_ / ".git"));
    EXPECT_FALSE(fs::exists(install_ / "Sub" / ".dotfile"));
    EXPECT_EQ(ReadAll(install_ / "Sub" / "Deeper" / "kept.txt"), "1");
}

// A read-only product is made writable; it is not a file that fails.
TEST_F(UpdateRun, EmptyPackageStillReportsAndStartsTheNotesAndReadOnlyProductIsMadeWritable) {
    Installed();
    fs::permissions(install_ / "BV.EXE", fs::perms::owner_read);
    const RunResult run = Run(true);
    EXPECT_EQ(run.messageBox,
              "Info: Es wurden 0 Dateien kopiert.\nDas Update wurde korrekt installiert.\n");
    EXPECT_EQ(run.notes, NotesStarted());
    EXPECT_NE(fs::status(install_ / "BV.EXE").permissions() & fs::perms::owner_write,
              fs::perms::none);
}

TEST_F(UpdateRun, LinkBackToAParentIsNotFollowedForever) {
    Installed();
    WriteAll(package_ / "Sub" / "x.txt", "x");
    WriteAll(package_ / "y.txt", "y");
    fs::create_directory_symlink(package_, package_ / "Sub" / "Loop");
    const RunResult run = Run(true);
    EXPECT_EQ(run.messageBox, kDone2);
    EXPECT_EQ(ReadAll(install_ / "Sub" / "x.txt"), "x");
}

TEST_F(UpdateRun, CutOrMisleadingModulePathCopiesNothing) {
    Installed();
    // A package directory deeper than the 255 characters a directory may
    // have, and one whose name holds backslashes that lead elsewhere.
    fs::path deep = root_;
    for (int i = 0; i < 6; ++i)
        deep /= std::string(50, static_cast<char>('a' + i));
    WriteAll(deep.parent_path() / "b.txt", "b");
    fs::create_directories(root_ / "pkg");
    WriteAll(root_ / "other" / "b.txt", "b");
    for (const fs::path& package : {deep, root_ / "pkg\\..\\other"}) {
        SCOPED_TRACE(package);
        WriteAll(package / "a.txt", "a");
        fs::copy_file(UPDATE_EXE_PATH, package / "Update.exe");
        package_ = package;
        const RunResult run = Run(false);
        EXPECT_EQ(run.messageBox, "Error: Das Update-Paket kann nicht ge\xC3\xB6"
                                  "ffnet werden:\nder Pfad des Update-Programms ist zu lang "
                                  "oder ung\xC3\xBCltig.\n");
        EXPECT_FALSE(fs::exists(install_ / "a.txt"));
        EXPECT_FALSE(fs::exists(install_ / "b.txt"));
    }
}

TEST_F(UpdateRun, PackageThatIsTheInstallationItselfLosesNoData) {
    // Every file would be copied onto itself: the run says so and stops
    // before it touches anything, not even the product's attributes.
    Registry(package_.string());
    WriteAll(package_ / "BV.EXE", "product");
    fs::permissions(package_ / "BV.EXE", fs::perms::owner_read);
    WriteAll(package_ / "data.txt", "data");
    const RunResult run = Run(false);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.messageBox, kPackageIsInstallation);
    EXPECT_EQ(ReadAll(package_ / "BV.EXE"), "product");
    EXPECT_EQ(fs::status(package_ / "BV.EXE").permissions(), fs::perms::owner_read);
    EXPECT_EQ(ReadAll(package_ / "data.txt"), "data");
    EXPECT_EQ(Run(false, {"/S"}).exitCode, 82);
}

// FIFOs and devices in the package cannot be copied, and are not read.
TEST_F(UpdateRun, SpecialFileInThePackageIsAFailedCopy) {
    struct Case {
        const char* name;
        mode_t type;
    } cases[] = {{"pipe.dat", S_IFIFO}, {"zero.dat", S_IFCHR}};
    bool deviceSkipped = false;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.type == S_IFCHR && geteuid() != 0) {
            deviceSkipped = true; // only root makes devices
            continue;
        }
        Registry(install_.string());
        Product();
        WriteAll(package_ / "a.txt", "a");
        const fs::path special = package_ / c.name;
        // A character device like /dev/zero, which would fill the target.
        ASSERT_EQ(mknod(special.c_str(), c.type | 0644, c.type == S_IFCHR ? makedev(1, 5) : 0), 0)
            << special;
        const RunResult run = Run(false);
        EXPECT_EQ(run.messageBox, NotInstalled(1));
        EXPECT_FALSE(fs::exists(fs::symlink_status(install_ / c.name)));
        EXPECT_FALSE(fs::exists(install_ / "a.txt"));
        fs::remove(special);
    }
    if (deviceSkipped)
        GTEST_SKIP() << "the device case needs root";
}

// A product file or a registry file that is a FIFO or a device is a file
// that cannot be opened or read.
TEST_F(UpdateRun, SpecialProductOrRegistryFileIsOneThatCannotBeOpened) {
    WriteAll(package_ / "a.txt", "a");
    Registry(install_.string());
    ASSERT_EQ(mkfifo((install_ / "BV.EXE").c_str(), 0644), 0);
    EXPECT_EQ(Run(false).messageBox, kCannotOpen);
    fs::remove(install_ / "BV.EXE");

    Product();
    // What the run shows with a given registry file, but for its name.
    auto shownWith = [this](const std::string& file) {
        registryFile_ = file;
        std::string shown = Run(false).messageBox;
        for (std::size_t at; (at = shown.find(file)) != std::string::npos;)
            shown.replace(at, file.size(), "<registry>");
        return shown;
    };
    fs::create_directories(root_ / "unreadable.reg");
    const std::string unreadable = shownWith((root_ / "unreadable.reg").string());
    EXPECT_NE(unreadable.find(kNotFound), std::string::npos) << unreadable;
    ASSERT_EQ(mkfifo((root_ / "fifo.reg").c_str(), 0644), 0);
    EXPECT_EQ(shownWith((root_ / "fifo.reg").string()), unreadable);
    EXPECT_EQ(shownWith("/dev/zero"), unreadable);
    EXPECT_FALSE(fs::exists(install_ / "a.txt"));
}

// Where file locks do not work, share modes cannot be kept: the product
// probe fails, and the run stops before it copies anything.
TEST_F(UpdateRun, WithoutFileLocksTheRunIsRefused) {
    Installed();
    WriteAll(package_ / "a.txt", "a");
    const RunResult run = Run(false, {}, true);
    if (run.exitCode == 125)
        GTEST_SKIP() << "file locks cannot be turned off here";
    EXPECT_EQ(run.messageBox, kCannotOpen);
    EXPECT_FALSE(fs::exists(install_ / "a.txt"));
    EXPECT_EQ(ReadAll(install_ / "BV.EXE"), "product");
}

} // namespace
