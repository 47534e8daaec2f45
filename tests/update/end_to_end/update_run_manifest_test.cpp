// Runs of Update.exe on a package with a manifest (.Update.sha256, made by
// update-manifest): a package not as listed is refused whole, with the
// installation byte for byte as it was and nothing left behind. A build
// with trusted keys (UpdateSigned: the test's keys "first" and "second")
// takes only a manifest that one of them signed.
#include <cstdio>
#include <functional>

#include "update_run.h"

namespace {

const char kDamaged[] =
    "Error: Das Update-Paket ist unvollst\xC3\xA4ndig oder besch\xC3\xA4"
    "digt:\n1 Dateien fehlen oder weichen ab.\n\n"
    "Das Update wurde nicht installiert, die Installation ist unver\xC3\xA4ndert.\n";
const char kManifestInvalid[] =
    "Error: Das Update-Paket kann nicht gepr\xC3\xBC"
    "ft werden:\nseine Dateiliste (.Update.sha256) ist nicht lesbar oder ung\xC3\xBCltig.\n\n"
    "Das Update wurde nicht installiert, die Installation ist unver\xC3\xA4ndert.\n";
const char kNotSigned[] =
    "Error: Das Update-Paket ist nicht vom Hersteller signiert oder wurde nach dem\n"
    "Signieren ver\xC3\xA4ndert.\n\n"
    "Das Update wurde nicht installiert, die Installation ist unver\xC3\xA4ndert.\n";

class ManifestRun : public UpdateRun {
  protected:
    // An installation with old files, a package of new ones (one of 3 MiB)
    // and its manifest.
    void SetUp() override {
        UpdateRun::SetUp();
        Installed();
        WriteAll(install_ / "a.txt", "old a");
        WriteAll(install_ / "Data" / "big.dat", "old big");
        WriteAll(package_ / "a.txt", "new a");
        WriteAll(package_ / "faq.txt", "notes");
        WriteAll(package_ / "Data" / "big.dat", Filled(3 << 20, 'b'));
        MakeManifest();
    }

    void MakeManifest() {
        const std::string command = std::string(UPDATE_MANIFEST_TOOL) + " make " +
                                    Quoted(package_.string()) + " 2>/dev/null";
        ASSERT_EQ(std::system(command.c_str()), 0);
    }

    std::string Log() const { return ReadAll(root_ / "u.log"); }
    std::vector<std::string> LogSwitch() const { return {"/LOG=" + (root_ / "u.log").string()}; }

    // The installation as SetUp made it, and none of the run's own files.
    void ExpectUnchanged(const std::string& what) {
        EXPECT_EQ(ReadAll(install_ / "a.txt"), "old a") << what;
        EXPECT_TRUE(ReadAll(install_ / "Data" / "big.dat") == "old big") << what;
        EXPECT_FALSE(fs::exists(install_ / "faq.txt")) << what;
        EXPECT_EQ(TemporaryFiles(install_), "") << what;
        EXPECT_EQ(TemporaryFiles(install_ / "Data"), "") << what;
    }
};

TEST_F(ManifestRun, APackageAsListedInstallsAndAnUnlistedFileIsLeftOutAndLogged) {
    WriteAll(package_ / "Data" / "Thumbs.db", "thumbs");
    const RunResult run = Run(true, LogSwitch());
    EXPECT_EQ(run.messageBox, "Info: Es wurden 3 Dateien kopiert.\nDas Update wurde korrekt "
                              "installiert.\n");
    EXPECT_EQ(run.notes, NotesStarted());
    EXPECT_TRUE(ReadAll(install_ / "Data" / "big.dat") == Filled(3 << 20, 'b'));
    EXPECT_FALSE(fs::exists(install_ / "Data" / "Thumbs.db"));
    const std::string log = Log();
    EXPECT_NE(log.find(".Update.sha256 (4 Dateien)"), std::string::npos) << log;
    // A build without keys says that it did not look at a signature.
    EXPECT_NE(log.find("ft, dieses Update.exe hat keinen Schl\xFCssel eingebaut: "),
              std::string::npos)
        << log;
    const std::string unlisted = "Nicht in der Dateiliste, nicht kopiert: ";
    const std::size_t at = log.find(unlisted);
    ASSERT_NE(at, std::string::npos) << log;
    EXPECT_NE(log.find("Thumbs.db", at), std::string::npos) << log;
    EXPECT_EQ(log.find(unlisted, at + 1), std::string::npos) << log;
}

TEST_F(ManifestRun, WithoutAManifestInstallsAsBeforeAndSaysItWasNotChecked) {
    fs::remove(package_ / ".Update.sha256");
    WriteAll(package_ / "Thumbs.db", "thumbs");
    const RunResult run = Run(true, LogSwitch());
    EXPECT_EQ(run.messageBox, "Info: Es wurden 4 Dateien kopiert.\nDas Update wurde korrekt "
                              "installiert.\n");
    EXPECT_EQ(ReadAll(install_ / "Thumbs.db"), "thumbs");
    EXPECT_NE(Log().find("ft, es hat keine Dateiliste: "), std::string::npos) << Log();
}

// One row per kind of damage; each fails the run with 23 and is logged.
TEST_F(ManifestRun, ADamagedOrIncompletePackageIsRefusedAndTheInstallationStaysAsItWas) {
    const fs::path big = package_ / "Data" / "big.dat";
    const struct {
        const char* what;
        std::function<void()> damage;
        const char* logged;
    } rows[] = {
        {"a listed file missing", [&] { fs::remove(package_ / "faq.txt"); }, "Fehlt im Paket: "},
        {"a file one byte shorter", [&] { fs::resize_file(big, (3 << 20) - 1); },
         "Anders als in der Dateiliste (SHA-256): "},
        {"a byte changed in the middle",
         [&] {
             std::string bytes = ReadAll(big);
             bytes[bytes.size() / 2] ^= 1;
             WriteAll(big, bytes);
         },
         "Anders als in der Dateiliste (SHA-256): "},
        {"Update.exe changed",
         [&] { std::ofstream(package_ / "Update.exe", std::ios::app) << '\0'; }, "Update.exe"},
        // A manifest cut short: a.txt, installed, is a product file it lost.
        {"an installed file left out of the manifest",
         [&] {
             const std::string text = ReadAll(package_ / ".Update.sha256");
             const std::size_t at = text.find("  a.txt\n");
             ASSERT_NE(at, std::string::npos) << text;
             const std::size_t start = text.rfind('\n', at);
             WriteAll(package_ / ".Update.sha256",
                      text.substr(0, start == std::string::npos ? 0 : start + 1) +
                          text.substr(at + 8));
         },
         "Nicht in der Dateiliste, aber installiert (Dateiliste unvollst\xE4ndig): "},
    };
    const std::string good = ReadAll(big);
    bool boxShown = false;
    for (const auto& row : rows) {
        MakeManifest();
        row.damage();
        // One row shows the box; the others run silently.
        std::vector<std::string> arguments = LogSwitch();
        if (boxShown)
            arguments.push_back("/S");
        const RunResult run = Run(false, arguments);
        if (boxShown) {
            EXPECT_EQ(run.exitCode, 23) << row.what;
        } else {
            EXPECT_EQ(AfterProgressLine(run.messageBox), kDamaged) << row.what;
            EXPECT_EQ(run.notes, "") << row.what;
        }
        boxShown = true;
        ExpectUnchanged(row.what);
        EXPECT_NE(Log().find(row.logged), std::string::npos) << row.what << "\n" << Log();
        // The package made whole again for the next row.
        WriteAll(package_ / "faq.txt", "notes");
        WriteAll(big, good);
        fs::copy_file(UPDATE_EXE_PATH, package_ / "Update.exe",
                      fs::copy_options::overwrite_existing);
    }
}

// Another program writes a package file while the run copies it (slowed to
// a pause after each MiB): the staged copy is not the file listed.
TEST_F(ManifestRun, AFileChangedWhileItIsCopiedIsCaught) {
    environment_ = "UPDATE_STANDIN_COPY_DELAY_MS=300";
    StartedRun run(Command(package_, "exec") + " /S", root_ / "stderr.txt");
    bool staging = false;
    for (int i = 0; i < 6000 && !staging && !run.Ended(); ++i) {
        for (const auto& entry : fs::directory_iterator(install_ / "Data"))
            staging = staging || entry.path().extension() == ".tmp";
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(staging);
    {
        // In the last MiB, which the copy has not read yet.
        std::fstream big(package_ / "Data" / "big.dat",
                         std::ios::in | std::ios::out | std::ios::binary);
        big.seekp((3 << 20) - 10);
        big.put('X');
    }
    EXPECT_EQ(run.Finish(), 23);
    ExpectUnchanged("changed while copied");
}

TEST_F(ManifestRun, AManifestThatDoesNotParseRefusesThePackageBeforeAnythingIsTouched) {
    WriteAll(package_ / ".Update.sha256", ReadAll(package_ / ".Update.sha256") + "../x\n");
    const RunResult silent = Run(false, {"/S"});
    EXPECT_EQ(silent.exitCode, 13);
    const RunResult shown = Run(false, LogSwitch());
    EXPECT_EQ(shown.messageBox, kManifestInvalid);
    ExpectUnchanged("malformed");
    EXPECT_FALSE(fs::exists(install_ / ".Update.journal"));
    EXPECT_NE(Log().find(".Update.sha256, Zeile 5"), std::string::npos) << Log();
    // A link that leads nowhere is no absent manifest either.
    fs::remove(package_ / ".Update.sha256");
    fs::create_symlink(root_ / "nowhere", package_ / ".Update.sha256");
    EXPECT_EQ(Run(false, {"/S"}).exitCode, 13);
    ExpectUnchanged("a dangling link");
}

// The program that trusts the test's keys "first" and "second", in a
// package signed with "first" by update-manifest.
class SignedRun : public ManifestRun {
  protected:
    void SetUp() override {
        ManifestRun::SetUp();
        fs::copy_file(UPDATE_SIGNED_EXE_PATH, package_ / "Update.exe",
                      fs::copy_options::overwrite_existing);
        MakeManifest();
        Sign("first");
    }

    void Sign(const std::string& key) {
        const std::string command = std::string(UPDATE_MANIFEST_TOOL) + " sign --key " +
                                    Quoted(KeyFile(key + ".pem")) + " " +
                                    Quoted(package_.string()) + " 2>/dev/null";
        ASSERT_EQ(std::system(command.c_str()), 0);
    }

    // The signature as the openssl command line makes it.
    void SignWithOpenssl(const std::string& key) {
        const std::string command = "openssl dgst -sha256 -sign " + Quoted(KeyFile(key + ".pem")) +
                                    " " + Quoted((package_ / ".Update.sha256").string()) +
                                    " | openssl base64 -A > " +
                                    Quoted((package_ / ".Update.sha256.sig").string());
        ASSERT_EQ(std::system(command.c_str()), 0);
    }

    static std::string KeyFile(const std::string& name) {
        return (fs::path(UPDATE_TEST_KEYS) / name).string();
    }

    // The name of a key in the log, as the openssl command line makes it.
    static std::string KeyId(const std::string& key) {
        const std::string command = "openssl pkey -pubin -in " + Quoted(KeyFile(key + ".pub")) +
                                    " -outform DER | sha256sum | cut -c1-16";
        std::FILE* pipe = popen(command.c_str(), "r");
        char id[17] = "";
        if (pipe != nullptr) {
            if (std::fgets(id, sizeof id, pipe) == nullptr)
                id[0] = '\0';
            pclose(pipe);
        }
        return id;
    }

    void EditManifest(const std::function<void(std::string&)>& edit) {
        std::string text = ReadAll(package_ / ".Update.sha256");
        edit(text);
        WriteAll(package_ / ".Update.sha256", text);
    }
};

// One row per package: signed as it is, or changed on the way; each run
// silent, with its exit code (577 on Windows ends as 65 here, where an exit
// status keeps 8 bits) and its log line. Every refused one is refused before
// the lock is taken: the installation as it was, no journal, no lock file.
TEST_F(SignedRun, OnlyAManifestSignedByATrustedKeyIsTakenAndTheLogNamesTheKey) {
    const fs::path manifest = package_ / ".Update.sha256",
                   signature = package_ / ".Update.sha256.sig";
    const std::string byNoKey = "die Signatur ist von keinem der 2 eingebauten Schl\xFCssel";
    const struct {
        const char* what;
        std::function<void()> change;
        int exitCode;
        std::string logged;
    } rows[] = {
        {"signed by the first key", [] {}, 0, "mit dem Schl\xFCssel " + KeyId("first") + ": "},
        {"signed by the second key", [&] { Sign("second"); }, 0,
         "mit dem Schl\xFCssel " + KeyId("second") + ": "},
        {"signed by the openssl command line", [&] { SignWithOpenssl("second"); }, 0,
         "mit dem Schl\xFCssel " + KeyId("second") + ": "},
        {"no signature", [&] { fs::remove(signature); }, 65, "die Dateiliste ist nicht signiert: "},
        {"a byte of the signature flipped",
         [&] {
             // In s, near the end: the line still decodes.
             std::string text = ReadAll(signature);
             char& c = text[text.size() - 8];
             c = c == 'A' ? 'B' : 'A';
             WriteAll(signature, text);
         },
         65, byNoKey},
        {"signed by a key not built in", [&] { Sign("other"); }, 65, byNoKey},
        {"a file line edited after signing",
         [&] {
             EditManifest([](std::string& text) {
                 const std::size_t at = text.find("  faq.txt");
                 ASSERT_NE(at, std::string::npos);
                 text[at - 1] = text[at - 1] == '0' ? '1' : '0';
             });
         },
         65, byNoKey},
        {"a line dropped after signing",
         [&] {
             EditManifest([](std::string& text) {
                 const std::size_t at = text.find("  faq.txt\n");
                 ASSERT_NE(at, std::string::npos);
                 const std::size_t start = text.rfind('\n', at) + 1; // 0 on the first line
                 text.erase(start, at + 10 - start);
             });
         },
         65, byNoKey},
        {"a line added after signing",
         [&] {
             WriteAll(package_ / "extra.dll", "");
             EditManifest([](std::string& text) {
                 text += "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855  "
                         "extra.dll\n";
             });
         },
         65, byNoKey},
        {"no manifest", [&] { fs::remove(manifest); }, 65,
         "es hat keine Dateiliste (und damit keine Signatur): "},
        {"a signature that is no base64", [&] { WriteAll(signature, "not a signature\n"); }, 65,
         "keine Zeile Base64"},
        {"a signature that is a folder",
         [&] {
             fs::remove(signature);
             fs::create_directory(signature);
         },
         65, "die Signatur ist nicht lesbar: "},
        // Its manifest is genuine: the file is caught by the check.
        {"a file changed after signing", [&] { WriteAll(package_ / "faq.txt", "changed"); }, 23,
         "Anders als in der Dateiliste (SHA-256): "},
        // Verified first, then parsed: a signed manifest that does not parse.
        {"a signed manifest with a line that does not parse",
         [&] {
             EditManifest([](std::string& text) { text += "../x\n"; });
             SignWithOpenssl("first");
         },
         13, ".Update.sha256, Zeile 5"},
        {"a manifest that is a folder",
         [&] {
             fs::remove(manifest);
             fs::create_directory(manifest);
         },
         13, "Dateiliste nicht lesbar: "},
    };
    for (const auto& row : rows) {
        row.change();
        const RunResult run = Run(false, {"/S", LogSwitch()[0]});
        EXPECT_EQ(run.exitCode, row.exitCode) << row.what;
        EXPECT_NE(Log().find(row.logged), std::string::npos) << row.what << "\n" << Log();
        if (row.exitCode == 0) {
            EXPECT_EQ(ReadAll(install_ / "a.txt"), "new a") << row.what;
            WriteAll(install_ / "a.txt", "old a");
            WriteAll(install_ / "Data" / "big.dat", "old big");
            fs::remove(install_ / "faq.txt");
        } else {
            ExpectUnchanged(row.what);
            EXPECT_FALSE(fs::exists(install_ / ".Update.journal")) << row.what;
            EXPECT_FALSE(fs::exists(install_ / ".Update.lock")) << row.what;
        }
        // The package as SetUp made it, for the next row.
        fs::remove_all(manifest);
        fs::remove_all(signature);
        fs::remove(package_ / "extra.dll");
        WriteAll(package_ / "faq.txt", "notes");
        MakeManifest();
        Sign("first");
    }
}

TEST_F(SignedRun, AChangedPackageGetsItsOwnBoxAndNothingIsTouched) {
    WriteAll(package_ / ".Update.sha256", ReadAll(package_ / ".Update.sha256") + "\n");
    const RunResult run = Run(false);
    EXPECT_EQ(run.messageBox, kNotSigned);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.notes, "");
    ExpectUnchanged("changed");
}

} // namespace
