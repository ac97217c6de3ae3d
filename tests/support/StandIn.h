#pragma once
// Driving the Word stand-in (tools/word-standin, described in its README.md)
// and seeing what it did: registration, the user's Word, fault switches, the
// call log and its processes.
//
// Typical fixture:
//     ComApartment com;                 // support/ComApartment.h
//     StandIn::Session session;         // registered, no faults, a fresh call log
//     auto word = StandIn::StartUserWord({session.folder().write(L"a.txt", L"Hello")});
//     ... run the code under test ...
//     EXPECT_EQ(ReadDocxText(backup), L"Hello");   // support/Docx.h
//     // ~Session kills every stand-in, clears the switches and unregisters.
#include "common/Handle.h"
#include "support/Files.h"

#include <windows.h>

#include <string>
#include <vector>

namespace StandIn {

// word-standin.exe in the folder of the built executables.
std::wstring ExePath();

// Registration as "Word.Application" (word-standin.exe /regserver and
// /unregserver); throws Failure when the tool fails.
void Register();
void Unregister();

// The user's Word: a stand-in started by hand, holding FILEs (text files, or
// .docx files that the stand-in wrote) and never-saved documents, registered
// as the active object unless another user's Word is (it then registers once
// that one has gone).  Returns once its documents are open and an active
// object is there (the calling thread must have COM initialised); throws
// Failure when it exits instead.
struct UserWord {
    UniqueHandle process;
    DWORD pid = 0;
};
UserWord StartUserWord(const std::vector<std::wstring>& files = {}, const std::vector<std::wstring>& unsaved = {});
// A saved document that holds more than its text, as only the package carries it.
struct RichFile {
    std::wstring file;    // or the name of a never-saved document, when unsaved
    std::wstring header;  // the default header's text
    std::wstring image;   // a .png file: one picture at the end of the body
    bool unsaved = false;
    std::wstring location;  // its Path instead of the file's folder (a web address)
    bool password = false;  // HasPassword
    bool rightsManaged = false;  // Permission.Enabled, and no package
    bool modified = false;  // Saved False, with a last paragraph "Changed since it was saved." in Word only
};
UserWord StartRichUserWord(const std::vector<RichFile>& files);
// A Word that a program started (word-standin.exe /hidden): not the active
// object, no visible window.  Returns once its documents are open.
UserWord StartHiddenWord(const std::vector<std::wstring>& files);
// The paragraph --modified adds.
inline constexpr wchar_t kModifiedParagraph[] = L"Changed since it was saved.";
// Another program (word-standin.exe /answercopies) that answers the next `copies` copies of a
// stand-in (every one when negative) at once with text of its own.  Returns once it listens.
UniqueHandle StartAnswerer(const std::wstring& text, int copies);
// A 3 x 2 picture's .png bytes, for RichFile::image.
extern const std::string kTinyPng;
// The content of a document opened with --unsaved NAME.
std::wstring UnsavedText(const std::wstring& name);

// Fault switches, read by every stand-in at every call (see README.md).
struct Fault {
    std::wstring member;            // "Copy", "Range.Copy", "ClassFactory.CreateInstance" or "*"
    std::wstring action = L"fail";  // fail | slow | linger | hang | busy | reject | retrylater | die | open | close | gone
    std::wstring description;       // fail: the error's description
    long number = 0;                // fail: Word's error number (0: 4198)
    unsigned milliseconds = 0;      // slow, linger; hang (0: for ever)
    unsigned perMegabyte = 0;       // slow: this much more per MB of the package a WordOpenXML builds
    unsigned exitCode = 3;          // die
    unsigned call = 1;              // the first matching call that is hit, 1-based
    unsigned times = 0;             // how many are hit from there; 0: all
    std::wstring document;          // only calls about this document name
    std::wstring role;              // only "user" or only "created" instances
    std::wstring file;              // open: the file the user opens into the instance at that call;
                                    // close: the document the user closes then
    DWORD process = 0;              // only the stand-in of this process
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

// Stand-in processes of this Wine prefix, found by image name; and those of
// another program.
std::vector<DWORD> RunningStandIns();
std::vector<DWORD> RunningProcesses(const wchar_t* exeName);
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
