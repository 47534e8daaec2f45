// texttable build <listing> <table-file>: writes a text table file.
// texttable dump <table-file>: prints its listing on standard output.
// Errors go to standard error in one line; the exit code is then 1, or 2
// for a wrong command line.
//
// build writes the new table completely into a file of its own beside the
// old one and only then puts it in the old one's place, so that a full disk
// or a failed write leaves the old table as it was. dump reads the table
// piece by piece and writes each text as it is read.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "table_listing.h"

namespace {

int Fail(const std::string& path, const std::string& message) {
    std::cerr << "texttable: " << path << ": " << message << "\n";
    return 1;
}

std::string Reason(const std::string& what, int error) {
    return what + ": " + std::strerror(error);
}

// Listings are read as text, so that CR LF line ends on Windows become
// plain line breaks. A listing that cannot be read to its end (a directory,
// a read error) is an error, not an empty listing.
bool ReadListing(const std::string& path, std::string* text, int* error) {
    std::FILE* file = std::fopen(path.c_str(), "r");
    if (file == nullptr) {
        *error = errno;
        return false;
    }
    char chunk[65536];
    std::size_t count;
    while ((count = std::fread(chunk, 1, sizeof(chunk), file)) > 0)
        text->append(chunk, count);
    *error = errno;
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    return !failed;
}

bool SeekTo(std::FILE* file, std::uint64_t offset) {
#ifdef _WIN32
    return _fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0;
#else
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

bool SizeOf(std::FILE* file, std::uint64_t* size) {
#ifdef _WIN32
    if (_fseeki64(file, 0, SEEK_END) != 0)
        return false;
    const __int64 end = _ftelli64(file);
#else
    if (fseeko(file, 0, SEEK_END) != 0)
        return false;
    const off_t end = ftello(file);
#endif
    if (end < 0)
        return false;
    *size = static_cast<std::uint64_t>(end);
    return true;
}

// Only a regular file or a new name is written: a link, a device, a FIFO,
// a socket or a directory given as the table is left as it is (as root,
// replacing /dev/null with a table would break the system).
bool IsWritableTarget(const std::string& target, std::string* error) {
#ifdef _WIN32
    const DWORD attributes = GetFileAttributesA(target.c_str());
    const bool plain = attributes == INVALID_FILE_ATTRIBUTES ||
                       !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT |
                                       FILE_ATTRIBUTE_DEVICE));
#else
    struct stat info;
    const bool plain = lstat(target.c_str(), &info) != 0 ? errno == ENOENT : S_ISREG(info.st_mode);
#endif
    if (!plain)
        *error = "not a regular file (a link, device, FIFO, socket or directory), left as it is";
    return plain;
}

// The new table goes to a file of its own in the target's directory, made
// only for this run; it is removed again unless it is put in place.
class TableBeside {
  public:
    explicit TableBeside(const std::string& target) : target_(target) {}
    ~TableBeside() {
        if (file_ != nullptr)
            std::fclose(file_);
        if (!name_.empty())
            std::remove(name_.c_str());
    }
    TableBeside(const TableBeside&) = delete;
    TableBeside& operator=(const TableBeside&) = delete;

    // On failure, error says why.
    bool Write(const std::string& bytes, std::string* error) {
        std::vector<char> name(target_.begin(), target_.end());
        const char kSuffix[] = ".new-XXXXXX";
        name.insert(name.end(), kSuffix, kSuffix + sizeof(kSuffix));
        const int descriptor = mkstemp(name.data());
        if (descriptor < 0) {
            *error = Reason("cannot write beside it", errno);
            return false;
        }
        name_ = name.data();
#ifdef _WIN32
        _setmode(descriptor, _O_BINARY);
        file_ = _fdopen(descriptor, "wb");
#else
        // The old table's mode, or the one an ordinary new file gets; not
        // mkstemp's private one.
        const mode_t mask = umask(0);
        umask(mask);
        struct stat old;
        const bool replacing = stat(target_.c_str(), &old) == 0 && S_ISREG(old.st_mode);
        fchmod(descriptor, replacing ? old.st_mode & 0777 : 0666 & ~mask);
        file_ = fdopen(descriptor, "wb");
#endif
        if (file_ == nullptr) {
            *error = Reason("cannot write beside it", errno);
#ifdef _WIN32
            _close(descriptor);
#else
            close(descriptor);
#endif
            return false;
        }
        errno = 0;
        const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file_) == bytes.size() &&
                             std::fflush(file_) == 0 && SyncToDisk();
        const int writeError = errno;
        const bool closed = std::fclose(file_) == 0;
        file_ = nullptr;
        if (!written || !closed) {
            *error = Reason("cannot write", written ? errno : writeError);
            return false;
        }
        return true;
    }

    // Puts the written table in the target's place in one step.
    bool Replace(std::string* error) {
        if (!IsWritableTarget(target_, error))
            return false;
#ifdef _WIN32
        const bool moved = MoveFileExA(name_.c_str(), target_.c_str(),
                                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
        if (!moved)
            *error = "cannot put the new table in place: error " + std::to_string(GetLastError());
#else
        const bool moved = std::rename(name_.c_str(), target_.c_str()) == 0;
        if (!moved)
            *error = Reason("cannot put the new table in place", errno);
#endif
        if (moved)
            name_.clear();
        return moved;
    }

  private:
    bool SyncToDisk() {
#ifdef _WIN32
        return _commit(_fileno(file_)) == 0;
#else
        return fsync(fileno(file_)) == 0;
#endif
    }

    std::string target_;
    std::string name_;
    std::FILE* file_ = nullptr;
};

int Build(const std::string& listingPath, const std::string& tablePath) {
    std::string listing, table, error;
    std::vector<std::string> texts;
    int readError = 0;
    if (!ReadListing(listingPath, &listing, &readError))
        return Fail(listingPath, Reason("cannot read", readError));
    if (!ParseListing(listing, &texts, &error))
        return Fail(listingPath, error);
    if (!EncodeTable(texts, &table, &error))
        return Fail(tablePath, error);
    if (!IsWritableTarget(tablePath, &error))
        return Fail(tablePath, error);
    TableBeside beside(tablePath);
    if (!beside.Write(table, &error) || !beside.Replace(&error))
        return Fail(tablePath, error);
    return 0;
}

int Dump(const std::string& tablePath) {
    std::FILE* file = std::fopen(tablePath.c_str(), "rb");
    if (file == nullptr)
        return Fail(tablePath, Reason("cannot read", errno));
#ifndef _WIN32
    struct stat info;
    if (fstat(fileno(file), &info) == 0 && S_ISDIR(info.st_mode)) {
        std::fclose(file);
        return Fail(tablePath, Reason("cannot read", EISDIR));
    }
#endif
    // A table that cannot be read piece by piece (a pipe) is read whole.
    std::string whole;
    std::uint64_t size = 0;
    const bool seekable = SizeOf(file, &size);
    if (!seekable) {
        char chunk[65536];
        std::size_t count;
        while ((count = std::fread(chunk, 1, sizeof(chunk), file)) > 0)
            whole.append(chunk, count);
        size = whole.size();
        if (std::ferror(file)) {
            const int error = errno;
            std::fclose(file);
            return Fail(tablePath, Reason("cannot read", error));
        }
    }
    const ReadAt read = [file, seekable, &whole](std::uint64_t offset, std::size_t count,
                                                 char* out) {
        if (!seekable)
            return whole.copy(out, count, static_cast<std::size_t>(offset)) == count;
        return SeekTo(file, offset) && std::fread(out, 1, count, file) == count;
    };
    // Written as text, as listings are read.
    std::string line;
    bool writeFailed = false;
    const TextSink write = [&line, &writeFailed](const std::string& text) {
        line.clear();
        AppendListingLine(text, &line);
        writeFailed = std::fwrite(line.data(), 1, line.size(), stdout) != line.size();
        return !writeFailed;
    };
    std::string error;
    const bool dumped = ReadTable(size, read, write, &error);
    std::fclose(file);
    if (writeFailed || std::fflush(stdout) != 0)
        return Fail("<stdout>", "cannot write");
    if (!dumped)
        return Fail(tablePath, "not a text table: " + error);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    try {
        if (args.size() == 3 && args[0] == "build")
            return Build(args[1], args[2]);
        if (args.size() == 2 && args[0] == "dump")
            return Dump(args[1]);
    } catch (const std::bad_alloc&) {
        return Fail(args.back(), "out of memory");
    } catch (const std::length_error&) {
        // A text longer than a string can be, in a 32-bit build.
        return Fail(args.back(), "out of memory");
    }
    std::cerr << "usage: texttable build <listing> <table-file>\n"
                 "       texttable dump <table-file>\n";
    return 2;
}
