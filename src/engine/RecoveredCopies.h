#pragma once
// Plain copies of password-protected backups, made for the user to read in
// Word (Open a Copy, Compare).  They live only in a folder of Orvelle's own
// under the user's temporary folder, never beside the backup (which may be
// a synced folder), are read-only (Word then asks where to save a change),
// and are deleted once no program holds them.  While one is open, a backup
// run treats it, and the document Word's comparison made from it, as
// password-protected: an encrypted backup or none.
#include "engine/ProtectedContent.h"

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

// "%TEMP%\Orvelle Recovered Copies", made when missing.  Throws Failure
// when it cannot be made.
std::wstring RecoveredCopiesFolder();

// A recovered copy's name: "Report (recovered 2026-12-08 10-15).docx", with
// " (2)", " (3)" before the extension while a name is taken.  True also for
// Word's owner file of one ("~$port (recovered ...).docx").
std::wstring RecoveredCopyName(std::wstring_view stem, const SYSTEMTIME& now, int number,
                               std::wstring_view extension);
bool IsRecoveredCopyName(std::wstring_view name);

// Deletes the recovered copies that no program holds, and the unfinished
// files of a write that a crash cut short.  A copy seen held by an earlier
// call goes the moment it is let go; one never seen held stays a few
// minutes, since the program it was handed to may not have opened it yet.
// Cheap enough for a timer of the window's.  Never fails; answers how many
// copies went.
int RemoveReleasedCopies();

// Remembers the document that Word's comparison made from a recovered copy,
// or with a protected document: a new one, known by its name until the user
// saves it under a name of their own.  One with a rights-managed document
// gets no backup at all, the others only encrypted ones.  Throws Failure
// when it cannot be written down.
void RememberComparison(const std::wstring& name, Protection protection);

// What a backup run knows of recovered content, read once as it starts.
class RecoveredContent {
public:
    RecoveredContent();
    // What protects a document (Word's Path, empty when never saved, and its
    // Name) that holds a protected backup's content in plain: Password for
    // a recovered copy or a comparison made from protected content,
    // RightsManaged for a comparison with a rights-managed document, else
    // None.  Called for every document of a run.
    Protection protectionOf(const std::wstring& folder, const std::wstring& name);
    // After a run that went through every document: comparisons that no
    // longer are open are forgotten (Word gives their names again).
    void forgetClosedComparisons() const;

    struct Comparison {
        std::wstring name;
        bool rightsManaged = false;
    };

private:
    std::vector<std::wstring> folders_;     // the copies' folder, long and short form
    std::vector<Comparison> comparisons_;  // as remembered when the run began
    std::vector<std::wstring> seen_;        // the never-saved documents the run met
    bool nameMissing_ = false;              // a document whose name could not be read
};
