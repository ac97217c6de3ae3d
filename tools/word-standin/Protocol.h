#pragma once
// What the stand-in and the tests that drive it agree on: its class, its
// control key in the registry and the fixed texts it answers with.
#include <guiddef.h>

#include <string>

namespace standin {

// Our own class id: "Word.Application" points here once /regserver has run.
inline constexpr wchar_t kClsidText[] = L"{2D67EDBC-E807-4AC6-BF7B-1F407235F1D3}";
inline constexpr GUID kClsid = {0x2d67edbc, 0xe807, 0x4ac6, {0xbf, 0x7b, 0x1f, 0x40, 0x72, 0x35, 0xf1, 0xd3}};
inline constexpr wchar_t kProgId[] = L"Word.Application";
inline constexpr wchar_t kExeName[] = L"word-standin.exe";
inline constexpr wchar_t kWindowClass[] = L"OrvelleWordStandIn";
// Word's own: each document's top-level window, and the pane in it that
// answers WM_GETOBJECT for OBJID_NATIVEOM.
inline constexpr wchar_t kDocumentWindowClass[] = L"OpusApp";
inline constexpr wchar_t kDocumentPaneClass[] = L"_WwG";

// HKCU key read at every call, so that tests reach instances that COM starts
// with its own environment, and can change things while a run goes on.
inline constexpr wchar_t kControlKey[] = L"Software\\Orvelle Test\\Word Stand-in";
inline constexpr wchar_t kValueCallLog[] = L"CallLog";    // REG_SZ: file that gets one line per call
inline constexpr wchar_t kValueAppName[] = L"AppName";    // REG_SZ: the application's name instead of Word's
inline constexpr wchar_t kValueVersion[] = L"Version";    // REG_SZ: Version text instead of "16.0"
inline constexpr wchar_t kFaultsKey[] = L"Faults";        // subkeys: one fault each
// Values of one fault subkey.
inline constexpr wchar_t kFaultMember[] = L"Member";            // "Copy", "Range.Copy" or "*"
inline constexpr wchar_t kFaultAction[] = L"Action";            // fail | slow | busy | reject | retrylater | die | open
inline constexpr wchar_t kFaultDescription[] = L"Description";  // fail: the error's description
inline constexpr wchar_t kFaultNumber[] = L"Number";            // fail: Word's error number
inline constexpr wchar_t kFaultMilliseconds[] = L"Milliseconds";  // slow: time to sleep
inline constexpr wchar_t kFaultPerMegabyte[] = L"MillisecondsPerMB";  // slow: more per MB of the member's work
inline constexpr wchar_t kFaultExitCode[] = L"ExitCode";        // die: the process's exit code
inline constexpr wchar_t kFaultCall[] = L"Call";                // first matching call that is hit (1-based)
inline constexpr wchar_t kFaultTimes[] = L"Times";              // how many calls are hit; 0 = all from Call on
inline constexpr wchar_t kFaultDocument[] = L"Document";        // only calls about this document name
inline constexpr wchar_t kFaultProcess[] = L"Process";          // only the stand-in of this process id
inline constexpr wchar_t kFaultRole[] = L"Role";                // only "user" or only "created" instances
inline constexpr wchar_t kFaultSeen[] = L"Seen";                // matching calls so far (kept by the stand-ins)
inline constexpr wchar_t kFaultFile[] = L"File";                // open: the file the user opens into the instance

// The user closes a document: posted to the hidden window (WM_APP + 10),
// wParam the document's 1-based index (0: Word itself), lParam the answer
// to Word's question whether to save.  Word fires DocumentBeforeClose first.
inline constexpr unsigned kUserCloseMessage = 0x8000 + 10;
inline constexpr long kAnswerDontSave = 0, kAnswerSave = 1, kAnswerCancel = 2;

inline constexpr wchar_t kDefaultAppName[] = L"Microsoft Word";
inline constexpr wchar_t kDefaultVersion[] = L"16.0";

// The content of a document named on the command line with --unsaved NAME.
inline std::wstring UnsavedText(const std::wstring& name) { return L"Unsaved text of " + name + L"."; }

}  // namespace standin
