#pragma once
// Test support: drive the Word stand-in (tools/word-standin, described in its
// README.md), see what it did, and read the files it leaves behind.
//
// Typical fixture:
//     ComApartment com;                 // COM, apartment-threaded, on the test thread
//     StandIn::Session session;         // registered, no faults, a fresh call log
//     auto word = StandIn::StartUserWord({session.folder().write(L"a.txt", L"Hello")});
//     ... run the code under test ...
//     EXPECT_EQ(ReadDocxText(backup), L"Hello");
//     // ~Session kills every stand-in, clears the switches and unregisters.
#include "common/Handle.h"

#include <windows.h>

#include <string>
#include <vector>

// COM initialised apartment-threaded for the life of the object, as the
// program's GUI thread has it.
class ComApartment {
public:
    ComApartment();
    ~ComApartment();
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    bool initialised_ = false;
};

// A folder of its own under %TEMP%, removed with its content on destruction.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::wstring& path() const { return path_; }
    std::wstring file(const std::wstring& name) const { return path_ + L"\\" + name; }
    // Writes name as UTF-8 text (no BOM) and returns its full path.
    std::wstring write(const std::wstring& name, const std::wstring& text) const;

private:
    std::wstring path_;
};

void WriteUtf8File(const std::wstring& path, const std::wstring& text);
std::string ReadFileBytes(const std::wstring& path);  // throws Failure when unreadable
void RemoveFolderTree(const std::wstring& path);

// The text of a .docx, read by this library's own ZIP and XML reader (not the
// stand-in's code): one string per w:p; w:tab gives "\t", w:br gives "\v".
// Stored entries only, CRC-32 checked; throws Failure on anything else.
std::vector<std::wstring> ReadDocxParagraphs(const std::wstring& path);
// The paragraphs joined with "\n": what a text file with those lines holds.
std::wstring ReadDocxText(const std::wstring& path);

// The real clipboard, opened with a bounded retry.
namespace TestClipboard {
UINT RtfFormat();  // the registered "Rich Text Format"
bool Has(UINT format);
std::string Bytes(UINT format);  // exactly GlobalSize bytes, NUL included if stored
std::wstring UnicodeText();      // CF_UNICODETEXT up to its NUL
// Empties the clipboard and puts these formats on it (bytes as given).
struct Item {
    UINT format;
    std::string bytes;
};
void Set(const std::vector<Item>& items);
void SetUnicodeText(const std::wstring& text);
void Clear();
}  // namespace TestClipboard

namespace StandIn {

// Where the built executables are: %ORVELLE_BIN% (a Unix path under Wine is
// mapped to Z:), else this test's own folder.
std::wstring BinFolder();
std::wstring ExePath();

// Registration as "Word.Application" (word-standin.exe /regserver and
// /unregserver); throws Failure when the tool fails.
void Register();
void Unregister();

// The user's Word: a stand-in started by hand, holding FILEs (text files, or
// .docx files that the stand-in wrote) and never-saved documents, registered
// as the active object.  Returns once GetActiveObject finds it (the calling
// thread must have COM initialised); throws Failure when it exits instead.
struct UserWord {
    UniqueHandle process;
    DWORD pid = 0;
};
UserWord StartUserWord(const std::vector<std::wstring>& files = {}, const std::vector<std::wstring>& unsaved = {});
// The content of a document opened with --unsaved NAME.
std::wstring UnsavedText(const std::wstring& name);

// Fault switches, read by every stand-in at every call (see README.md).
struct Fault {
    std::wstring member;            // "Copy", "Range.Copy", "ClassFactory.CreateInstance" or "*"
    std::wstring action = L"fail";  // fail | slow | busy | reject | retrylater | die
    std::wstring description;       // fail: the error's description
    long number = 0;                // fail: Word's error number (0: 4198)
    unsigned milliseconds = 0;      // slow
    unsigned exitCode = 3;          // die
    unsigned call = 1;              // the first matching call that is hit, 1-based
    unsigned times = 0;             // how many are hit from there; 0: all
    std::wstring document;          // only calls about this document name
    std::wstring role;              // only "user" or only "created" instances
};
void SetFault(const std::wstring& name, const Fault& fault);
void RemoveFault(const std::wstring& name);
unsigned FaultSeen(const std::wstring& name);  // matching calls counted so far
void SetAppName(const std::wstring& name);     // what the default member and Name answer
void SetVersion(const std::wstring& version);  // what Version answers
void ClearFaults();                            // all faults, the name and the version

// The call log: one line per call of every stand-in.
struct Call {
    DWORD pid = 0;
    std::wstring role;     // "user" or "created"
    std::wstring member;   // "Range.Copy", "Application.Documents", "ClassFactory.CreateInstance"
    std::wstring args;     // e.g. "ByRef Integer 1", "FileName:=String \"C:\\x.docx\"", "= Boolean True"
    long long microseconds = 0;
    std::wstring outcome;  // "ok", "busy", "died", "rejected", "error <number> <text>"
};
void SetCallLog(const std::wstring& path);  // empty: no log
std::vector<Call> ReadCallLog(const std::wstring& path);

// Stand-in processes of this Wine prefix, found by image name.
std::vector<DWORD> RunningStandIns();
int CountRunningStandIns();
void KillAllStandIns();  // terminates each and waits until it is gone
// Waits up to timeoutMs for the process to end; true when it did.
bool WaitForExit(DWORD pid, DWORD timeoutMs);

// One test's stand-in world: on construction every stand-in is ended, the
// switches cleared, the server registered and a call log started in a
// scratch folder; on destruction the same cleaning, and the registration
// removed.  The thread needs a ComApartment for StartUserWord.
class Session {
public:
    Session();
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    const ScratchFolder& folder() const { return folder_; }
    const std::wstring& callLog() const { return callLog_; }
    std::vector<Call> calls() const { return ReadCallLog(callLog_); }

private:
    ScratchFolder folder_;
    std::wstring callLog_;
};

}  // namespace StandIn
