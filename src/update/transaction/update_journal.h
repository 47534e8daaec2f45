// The journal of an update run: the file ".Update.journal" in the
// installation, written as the run goes, so that the next run can undo a
// run that was stopped at any moment (update_transaction.h). Plain text,
// lines ending in CR LF:
//   Brenvolt-Update-Journal <process id, 8 hex digits>
//   D <path>   a directory the run made
//   R <path>   a file staged to replace the installed one
//   N <path>   a file staged that is new to the installation
//   C          every staged file is durable; installed files are being replaced
//   K          every file is in and durable; only the old ones are left to remove
// Paths are relative to the installation, their parts joined by '\'. The
// n-th file line (R or N, from 0) has its staged and backup files under the
// names that the process id and n make (work_names.h).
#pragma once

#include "change_list.h"
#include "platform/win32_api.h"
#include "text_string.h"

enum class JournalState { kStaging, kCommitting, kCommitted };

// The most lines of files and folders a journal holds: more than the
// largest package (200,000 files and their folders) writes. A later run
// acts on each line, so that this, not the journal's size in bytes, bounds
// how long a recovery takes; a run whose journal would hold more fails.
const std::uint32_t kMaxJournalLines = 250000;

class JournalFile {
  public:
    JournalFile() = default;
    ~JournalFile();
    JournalFile(const JournalFile&) = delete;
    JournalFile& operator=(const JournalFile&) = delete;

    // Makes the file (never opens one that is there) with its first line.
    bool Create(const TextString& path, DWORD processId);
    bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
    // One line, kept until the next WriteOut (or until 64 KiB are kept):
    // lines are written in one call for all the files of a directory,
    // before any of them is staged.
    void Add(char kind, const char* relativePath);
    // Writes the lines kept (a run killed after it leaves them). Once a
    // write failed, every later one fails with its error: nothing is
    // appended to a line that was cut off.
    bool WriteOut();
    // WriteOut, and what was written reaches the disk before the call
    // returns: before anything that its lines name is made.
    bool WriteOutDurably();
    // The C or K line, written and flushed to the disk with everything
    // before it.
    bool Mark(JournalState state);
    bool Flush();
    void Close();

  private:
    void Keep(const char* text, std::uint32_t length);

    HANDLE handle_ = INVALID_HANDLE_VALUE;
    // The lines kept, in a block that grows by doubling (a string sized
    // exactly would copy itself for every line of a large directory).
    char* pending_ = nullptr;
    std::uint32_t pendingSize_ = 0, pendingCapacity_ = 0;
    DWORD failure_ = ERROR_SUCCESS;
    bool unflushed_ = false;    // written since the last flush
    std::uint32_t written_ = 0; // bytes written in all
    std::uint32_t lines_ = 0;   // of files and folders, kept or written
};

// What a journal left by another run says.
struct JournalContents {
    DWORD processId = 0;
    JournalState state = JournalState::kStaging;
    ChangeList changes;
    // Lines that are no record of ours (a path that leaves the
    // installation, say): not acted on.
    std::uint32_t skipped = 0;
};

enum class JournalRead {
    kNone,       // there is none
    kInUse,      // a run that is still going writes it
    kCannotRead, // it cannot be opened or read now
    kForeign,    // no journal of a run: no plain file, larger than any run writes, or
                 // not beginning as one
    kRead,
};

// Reads the journal at path. A last line without its line end (cut off by a
// stopped run) is left out. One of more lines than a run writes is no
// journal of a run: it is read as far as a run writes.
JournalRead ReadJournal(const TextString& path, JournalContents& contents);

// Whether a path of a journal stays inside the installation: parts joined
// by single '\', each a name that Windows reads as written and none that
// starts with a dot ("..", or a name of the run's own files).
bool IsInstallationRelativePath(const char* path);
