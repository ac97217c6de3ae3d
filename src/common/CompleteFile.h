#pragma once
// Files written complete or not at all: the bytes go to a temporary file in
// the target's folder, are flushed to the disk, and only then replace the
// target in one move.  A backup name never holds a partial file.
#include <functional>
#include <string>
#include <string_view>

// The temporary files' names: the prefix, eight hexadecimal digits, ".tmp".
inline constexpr wchar_t kUnfinishedPrefix[] = L"~Orvelle unfinished backup ";

// Calls act again while it fails with a sharing violation or an access
// refusal, for up to 2 s with growing pauses: scanners, indexers and sync
// clients open a file the moment its writer lets go, and let go within
// moments.  The pauses run the thread's window messages, and a
// HeldFileBudget of the thread bounds them further.  Answers act's last
// result, with its error in GetLastError().
bool RetryWhileHeld(const std::function<bool()>& act);

// While one lives, the retries of RetryWhileHeld on its thread wait at most
// what is left in all, and spend it: a run's deletes of old backups that
// another program keeps open wait for the first ones, try the rest once and
// leave them for the next run.  Writes have none: a scanner that takes
// every new file for a moment must not cost a backup.
class HeldFileBudget {
public:
    // left: milliseconds, shared by every budget made with it.
    explicit HeldFileBudget(unsigned long long& left);
    ~HeldFileBudget();
    HeldFileBudget(const HeldFileBudget&) = delete;
    HeldFileBudget& operator=(const HeldFileBudget&) = delete;

private:
    friend bool RetryWhileHeld(const std::function<bool()>& act);
    unsigned long long& left_;
    HeldFileBudget* outer_;
};

// DeleteFileW, retried while another program holds the file.
bool DeleteHeldFile(const std::wstring& path);
// Whether another program keeps the file at path open, so that a writer of
// it meets a sharing violation; false when it is not there.
bool IsHeldByAnotherProgram(const std::wstring& path);

// Writes bytes to path (replacing a file there only once the new one is
// whole; moves retried while held).  Answers false, with nothing written,
// when a file at path stays held by another program past the retry bound.
// Throws Failure with the system's message on any other failure; the
// temporary file is gone again on every failure, and the file at path is as
// it was.
bool WriteFileComplete(const std::wstring& path, std::string_view bytes);

// The system error that a new file in folder meets now (access denied,
// write-protected media, a missing folder), 0 when one can be made there.
// The file it tries is one of the temporary names, gone again at once.
unsigned long NewFileError(const std::wstring& folder);

// True for a name that WriteFileComplete gives its temporary files.
bool IsUnfinishedFileName(std::wstring_view name);

// Deletes, in folder only, temporary files of WriteFileComplete that a crash
// left behind: regular files of that name, last written over a minute ago
// and open in no process.  Never fails; answers how many went.
int RemoveUnfinishedFiles(const std::wstring& folder);
// Deletes, in folder only, the regular files that match pattern and isOurs,
// were last written at least minimumAge ago (FILETIME ticks) and are open
// in no process; read-only ones too.  Never fails; answers how many went.
int RemoveFilesNoneHolds(const std::wstring& folder, const std::wstring& pattern, bool (*isOurs)(std::wstring_view),
                         unsigned long long minimumAge);
// Deletes the regular file (attributes as listed) unless a process holds it
// open; read-only too.  Never fails; answers whether it went.
bool DeleteIfNoneHolds(const std::wstring& file, unsigned long attributes);
