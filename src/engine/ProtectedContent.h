#pragma once
// Documents whose content must not leave Word in plain: those that rights
// management restricts, and those protected by a password to open.
#include "common/Automation.h"

#include <memory>
#include <string>
#include <string_view>

// Word's "Object has been deleted.": the document was closed meanwhile.
inline constexpr long kWordObjectDeleted = static_cast<long>(0x800A0000u + 5825);

enum class Protection {
    None,
    Password,       // HasPassword: only an encrypted copy may be written
    RightsManaged,  // Permission.Enabled: no copy at all
    Closed,         // the document was closed meanwhile
};

// What protects a document of the user's Word.  A Permission object that
// fails (no rights client installed) means no rights management.  Throws
// Failure when Word has gone or stays busy, or HasPassword fails.
// permissionIds: one id cache for every document's Permission object.
Protection ProtectionOf(const Dispatch& document, const std::shared_ptr<MemberIds>& permissionIds);

// A password-protected document's backup: its package encrypted for the
// current Windows user, with a description that names the document.
std::string ProtectedBackup(std::string_view package, const std::wstring& document);
