#include "update_journal.h"
#include "lead_bytes.h"

#include <cstring>

#include "entry_name.h"
#include "growing_block.h"
#include "heap.h"
#include "scratch_buffer.h"

namespace {

const char kHeader[] = "Brenvolt-Update-Journal ";
const char kLineEnd[] = "\r\n";
// Far more than 200,000 files of the longest paths take.
const DWORD kMaxJournalSize = 128u << 20;
const std::uint32_t kMaxLine = 2 * MAX_PATH;
const std::uint32_t kReadChunk = 64 * 1024;
// Lines kept beyond this are written at once.
const std::uint32_t kWriteOutSize = 64 * 1024;

bool ReadHex8(const char* text, std::uint32_t length, DWORD& value) {
    if (length != 8)
        return false;
    value = 0;
    for (std::uint32_t i = 0; i < length; ++i) {
        const char c = text[i];
        const DWORD digit = c >= '0' && c <= '9'   ? static_cast<DWORD>(c - '0')
                            : c >= 'A' && c <= 'F' ? static_cast<DWORD>(c - 'A' + 10)
                                                   : 16;
        if (digit == 16)
            return false;
        value = value * 16 + digit;
    }
    return true;
}

bool StartsWith(const char* text, std::uint32_t length, const char* prefix) {
    std::uint32_t i = 0;
    for (; prefix[i] != '\0'; ++i)
        if (i >= length || text[i] != prefix[i])
            return false;
    return true;
}

// Takes one line (without its CR LF) into contents.
bool TakeLine(const char* line, std::uint32_t length, bool first, JournalContents& contents) {
    if (first) {
        const std::uint32_t header = sizeof kHeader - 1;
        return StartsWith(line, length, kHeader) &&
               ReadHex8(line + header, length - header, contents.processId);
    }
    if (length == 1 && line[0] == 'C') {
        if (contents.state == JournalState::kStaging)
            contents.state = JournalState::kCommitting;
        return true;
    }
    if (length == 1 && line[0] == 'K') {
        contents.state = JournalState::kCommitted;
        return true;
    }
    const char kind = length > 2 && line[1] == ' ' ? line[0] : '\0';
    if (kind != ChangeList::kDirectory && kind != ChangeList::kReplaced && kind != ChangeList::kNew)
        return false;
    TextString path;
    path.Assign(length - 2, line + 2);
    // A zero byte would end the path early.
    if (static_cast<std::uint32_t>(lstrlenA(path.GetText())) != length - 2 ||
        !IsInstallationRelativePath(path.GetText()))
        return false;
    contents.changes.Add(kind, path.GetText(), path.GetLength());
    return true;
}

} // namespace

JournalFile::~JournalFile() {
    Close();
    if (pending_ != nullptr)
        ReleaseBlock(pending_);
}

bool JournalFile::Create(const TextString& path, DWORD processId) {
    Close();
    handle_ = CreateFileA(path.GetText(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                          FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE)
        return false;
    failure_ = ERROR_SUCCESS;
    pendingSize_ = 0;
    written_ = 0;
    lines_ = 0;
    TextString header;
    header.Format("%s%08lX%s", kHeader, static_cast<unsigned long>(processId), kLineEnd);
    Keep(header.GetText(), header.GetLength());
    return WriteOut();
}

void JournalFile::Keep(const char* text, std::uint32_t length) {
    GrowBlock(pending_, pendingCapacity_, pendingSize_, length);
    std::memcpy(pending_ + pendingSize_, text, length);
    pendingSize_ += length;
}

void JournalFile::Add(char kind, const char* relativePath) {
    // Never more lines than a reader takes (as for the size below).
    if (++lines_ > kMaxJournalLines && failure_ == ERROR_SUCCESS)
        failure_ = ERROR_FILE_TOO_LARGE;
    const char start[] = {kind, ' '};
    Keep(start, sizeof start);
    Keep(relativePath, static_cast<std::uint32_t>(std::strlen(relativePath)));
    Keep(kLineEnd, sizeof kLineEnd - 1);
    if (pendingSize_ >= kWriteOutSize)
        WriteOut(); // a failure stays, and the next WriteOut reports it
}

bool JournalFile::WriteOut() {
    const std::uint32_t size = pendingSize_;
    pendingSize_ = 0;
    if (!IsOpen())
        return false;
    // Never more than a reader takes: a journal cut at the limit would
    // leave a run that cannot be undone whole.
    if (failure_ == ERROR_SUCCESS && size > kMaxJournalSize - written_)
        failure_ = ERROR_FILE_TOO_LARGE;
    if (failure_ == ERROR_SUCCESS && size != 0) {
        written_ += size;
        DWORD written = 0;
        if (!WriteFile(handle_, pending_, size, &written, nullptr) || written != size)
            failure_ = written == size ? GetLastError() : ERROR_DISK_FULL;
        unflushed_ = true;
    }
    if (failure_ == ERROR_SUCCESS)
        return true;
    SetLastError(failure_);
    return false;
}

bool JournalFile::Mark(JournalState state) {
    Keep(state == JournalState::kCommitted ? "K" : "C", 1);
    Keep(kLineEnd, sizeof kLineEnd - 1);
    return WriteOut() && Flush();
}

bool JournalFile::WriteOutDurably() {
    return WriteOut() && (!unflushed_ || Flush());
}

bool JournalFile::Flush() {
    if (!IsOpen() || !FlushFileBuffers(handle_))
        return false;
    unflushed_ = false;
    return true;
}

void JournalFile::Close() {
    if (handle_ != INVALID_HANDLE_VALUE)
        CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
}

JournalRead ReadJournal(const TextString& path, JournalContents& contents) {
    // The name itself first: a folder, a link or another reparse point of
    // that name is no journal, and is never read through.
    const DWORD before = GetFileAttributesA(path.GetText());
    if (before == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND ? JournalRead::kNone : JournalRead::kCannotRead;
    }
    if (before & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
        return JournalRead::kForeign;
    HANDLE file = CreateFileA(path.GetText(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND      ? JournalRead::kNone
               : error == ERROR_SHARING_VIOLATION ? JournalRead::kInUse
               : error == ERROR_CANT_ACCESS_FILE  ? JournalRead::kForeign // no plain file
                                                  : JournalRead::kCannotRead;
    }
    // Only a plain file, reached by no link (it may have been swapped for
    // one since the look above); one larger than any run writes is read
    // as far as a run writes, for what it names.
    BY_HANDLE_FILE_INFORMATION information;
    const DWORD attributes = GetFileAttributesA(path.GetText());
    if (!GetFileInformationByHandle(file, &information) || attributes == INVALID_FILE_ATTRIBUTES) {
        CloseHandle(file);
        return JournalRead::kCannotRead;
    }
    const DWORD kNotPlain = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    if ((attributes | information.dwFileAttributes) & kNotPlain) {
        CloseHandle(file);
        return JournalRead::kForeign;
    }
    bool usable = information.nFileSizeHigh == 0 && information.nFileSizeLow <= kMaxJournalSize;
    bool reading = true;

    // Line by line through one buffer; a line longer than any path is no
    // record and is passed over.
    ScratchBuffer buffer(kReadChunk + kMaxLine);
    char* const block = buffer.GetBlock();
    std::uint32_t held = 0;
    bool first = true, overlong = false;
    DWORD total = 0;
    // Lines after the first; beyond those of files and folders a run writes
    // and its two marks, it is no journal of a run.
    std::uint32_t lines = 0;
    while (reading) {
        DWORD count = 0;
        if (!ReadFile(file, block + held, kReadChunk, &count, nullptr)) {
            CloseHandle(file);
            return JournalRead::kCannotRead;
        }
        total += count;
        if (count == 0 || total > kMaxJournalSize)
            break; // what is held is a last line without its end: cut off
        held += count;
        std::uint32_t start = 0;
        for (std::uint32_t i = 0; i + 1 < held; ++i) {
            if (block[i] != '\r' || block[i + 1] != '\n')
                continue;
            if (!first && ++lines > kMaxJournalLines + 2) {
                usable = reading = false;
                break;
            }
            if (overlong || !TakeLine(block + start, i - start, first, contents)) {
                ++contents.skipped;
                if (first) {
                    usable = reading = false; // no journal of ours: nothing of it is taken
                    break;
                }
            }
            first = false;
            overlong = false;
            start = i + 2;
            ++i;
        }
        if (!reading)
            break;
        held -= start;
        for (std::uint32_t i = 0; i < held; ++i)
            block[i] = block[start + i];
        if (held > kMaxLine) {
            overlong = true;
            held = 0;
        }
    }
    CloseHandle(file);
    return usable && !first ? JournalRead::kRead : JournalRead::kForeign;
}

bool IsInstallationRelativePath(const char* path) {
    TextString part;
    std::uint32_t length = 0;
    const char* start = path;
    for (const char* p = path;; ++p) {
        if (*p == '\0' || *p == '\\') {
            part.Assign(static_cast<std::uint32_t>(p - start), start);
            if (part.GetLength() == 0 || part.GetText()[0] == '.' ||
                !IsWindowsFileName(part.GetText()))
                return false;
            if (*p == '\0')
                break;
            start = p + 1;
        } else if (IsLeadByte(*p) && p[1] != '\0') {
            ++p; // its trail byte may look like '\'
        }
        if (++length > MAX_PATH)
            return false;
    }
    return true;
}
