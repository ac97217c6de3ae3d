#pragma once
// The per-user settings store: eleven string values under application
// "Kelvane", section "Orvelle".  They live where the classic runtime kept
// them, so the settings of existing installations carry over.
#include <string>
#include <vector>

namespace settings {

inline constexpr wchar_t kKeyPath[] = L"Software\\VB and VBA Program Settings\\Kelvane\\Orvelle";

inline constexpr wchar_t kPath[] = L"Path";
inline constexpr wchar_t kWhereOption[] = L"WhereOption";
inline constexpr wchar_t kOftenIndex[] = L"OftenIndex";
inline constexpr wchar_t kBackupSwitch[] = L"BackupSwitch";
inline constexpr wchar_t kBackupOption[] = L"Backup Option";
inline constexpr wchar_t kWindowsStartup[] = L"Windows Startup";
inline constexpr wchar_t kMinimized[] = L"Minimized";
// Housekeeping: "On" or "Off" (default "Off"), and the days backups are
// kept in new-file mode, "0" (keep all, the default), "1", "7" or "30", or
// "thin" for thinning.
inline constexpr wchar_t kSkipUnchanged[] = L"Skip Unchanged";
inline constexpr wchar_t kKeepBackups[] = L"Keep Backups";
// How documents are copied: "On" pastes each through the clipboard into a
// hidden Word, as for Word 2003; "Off" (the default) writes the .docx from
// the document's own package.
inline constexpr wchar_t kClipboardCopy[] = L"Clipboard Copy";
// Whether a balloon tells of documents that Word closed with changes that
// were not saved: "On" (the default) or "Off".
inline constexpr wchar_t kClosedUnsaved[] = L"Closed Unsaved";
// Whether Orvelle listens to Word and backs up a changed document when Word
// is about to close it, and every changed one before the session ends or
// the machine sleeps: "On" (the default) or "Off".
inline constexpr wchar_t kLastMoment[] = L"Last Moment";
// The folders backups were written to, exactly, most recent first: a
// REG_MULTI_SZ, since the history file spells a folder in the ANSI code page
// only.  The Backups window reads them.
inline constexpr wchar_t kBackupFolders[] = L"Backup Folders";
inline constexpr size_t kMaxBackupFolders = 300;

}  // namespace settings

// The stored text, or the default when the value is absent (or not text).
std::wstring GetSetting(const std::wstring& key, const std::wstring& defaultValue = {});
// Stores the text, creating the key when needed; raises a Failure when the
// store refuses the write.  A setting that a policy sets is not written:
// the user's own choice stays for when the policy goes.
void SaveSetting(const std::wstring& key, const std::wstring& value);

// The remembered backup folders; none when the value is absent or no list.
std::vector<std::wstring> GetBackupFolders();
// Puts folder first in the remembered ones (once, whatever its case), and
// keeps the kMaxBackupFolders most recent.  Raises a Failure when the store
// refuses the write.
void RememberBackupFolder(const std::wstring& folder);

// The classic Val(): the number at the start of the text, blanks, tabs and
// line feeds skipped; text that does not begin with a number is 0.  Never fails.
double LeadingNumber(const std::wstring& text);
// The classic CInt() of a text: locale-aware, rounds half to even, raises
// Failure::TypeMismatch() for a text that is no number and
// Failure::Overflow() outside -32768..32767.
short ToInteger16(const std::wstring& text);
