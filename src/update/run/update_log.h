// The log of a run (/LOG=<file>): plain text in the ANSI code page, one line
// per event, each written to the file as it happens, so that a run that is
// ended early still leaves what it did. Every line begins with the local
// date and time. A run without a log, or whose log failed, writes nothing.
// A control character (below 0x20, and 0x7F) in a line, which a file name
// may hold, is written as "\x" and two hex digits, so that a name can never
// break a line or forge one.
#pragma once

#include "copy_tree.h"
#include "manifest_signature.h"
#include "package_check.h"
#include "package_manifest.h"
#include "text_string.h"
#include "update_transaction.h"

class UpdateLog {
  public:
    UpdateLog() = default;
    ~UpdateLog();
    UpdateLog(const UpdateLog&) = delete;
    UpdateLog& operator=(const UpdateLog&) = delete;

    // Keeps the lines written from now until Open, which writes them first:
    // a log is opened only once its path has been checked against the
    // installation, which the first lines tell of.
    void Hold() { holding_ = true; }
    // Makes the file, or empties it. A file that cannot be made leaves the
    // run without a log, which Failed() then tells.
    void Open(const char* path);

    // True when a log was asked for and it could not be made, or a line of
    // it could not be written; nothing more is written after that.
    bool Failed() const { return failed_; }
    // What went wrong, for the user: the file and the system's words.
    const TextString& Failure() const { return failure_; }

    // The program's version, the command line and the package folder (null
    // when it could not be found).
    void Started(const char* commandLine, const TextString* packageRoot);
    // A word of the command line that is no switch, passed over.
    void WordIgnored(const TextString& word);
    // The installation directory read under a registry root, and whether
    // it holds the product; `error` tells why not when it is not empty.
    // An empty directory with error ERROR_MORE_DATA: the value was too long.
    void InstallationChecked(const char* rootName, const TextString& directory, bool found,
                             DWORD error);
    // The run waits for another run's lock, for at most the milliseconds.
    void Waiting(const TextString& lockFile, DWORD limitMilliseconds);
    void ProductNotOpened(const TextString& executablePath, DWORD error);
    // The package does not fit on the installation's volume (megabytes).
    void DiskFull(const TextString& installDirectory, std::uint32_t neededMegabytes,
                  std::uint32_t freeMegabytes);
    // The free space there could not be read.
    void SpaceUnknown(const TextString& installDirectory, DWORD error);
    void FileCopied(const TextString& target, DWORD error); // error 0: copied
    void DirectoryFailed(const TextString& path, CopyStep step, DWORD error);
    void NotRestored(const TextString& path, DWORD error);
    // The first file told to NotRestored (empty when none was) and why: the
    // box names it.
    const TextString& FirstNotRestored() const { return firstNotRestored_; }
    DWORD FirstNotRestoredError() const { return firstNotRestoredError_; }
    void Waited(const TextString& path, DWORD milliseconds, DWORD error); // error 0: then done
    void ReadOnlyReplaced(const TextString& target);
    // What was found of a stopped run (not called when nothing was).
    void Recovered(const TextString& installDirectory, Recovery recovery, std::uint32_t skipped);
    void Finished(const TextString& result, int exitCode);
    // What became of the package's manifest (at `path`): absent (the
    // package is not checked, or, when `required`, refused), read, or
    // refused. Nothing for one refused by its signature, which
    // SignatureChecked tells.
    void ManifestRead(const TextString& path, PackageManifest::Load load,
                      const PackageManifest& manifest, bool required);
    // The signature (at `path`) of the manifest: not checked (null: a
    // build without keys), or the check of it against the `keys` keys;
    // `keyId` names the key that verified it.
    void SignatureChecked(const TextString& path, const SignatureCheck* check, std::uint32_t keys,
                          const TextString& keyId);
    // A finding of the package's check; the function for PackageCheck,
    // with this log as its context.
    void PackageFound(const TextString& path, PackageFinding finding);
    static void TellPackageFinding(void* log, const TextString& path, PackageFinding finding);

    // Tells this log of every file and directory that CopyTree handles, and
    // keeps the log itself out of the copy when it lies in the package.
    CopyReporter Reporter();

    // Whether the file is this log (same name, then same file).
    bool IsLogFile(const char* name, const TextString& path) const;

  private:
    void Write(const TextString& text);
    void WriteLine(const TextString& line); // time stamp, text and CR LF

    HANDLE file_ = INVALID_HANDLE_VALUE;
    bool failed_ = false;
    bool holding_ = false;
    TextString held_; // the lines written while holding, each with its CR LF
    TextString path_;
    TextString name_; // the last component of the path
    BY_HANDLE_FILE_INFORMATION identity_ = {};
    TextString failure_;
    TextString firstNotRestored_;
    DWORD firstNotRestoredError_ = ERROR_SUCCESS;
};

// " (Fehler <code>: <the system's text>)", or without the text when the
// system has none.
void AppendErrorText(TextString& text, DWORD error);
