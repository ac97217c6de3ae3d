#include "engine/ProtectedContent.h"

#include "common/Failure.h"
#include "common/UserProtection.h"

Protection ProtectionOf(const Dispatch& document, const std::shared_ptr<MemberIds>& permissionIds) {
    auto closed = [](const Failure& failure) { return failure.number() == kWordObjectDeleted; };
    try {
        // Word has no Permission object where the rights client is missing.
        Dispatch permission = document.get(L"Permission").toDispatch().shareIds(permissionIds);
        if (permission.get(L"Enabled").toBool()) return Protection::RightsManaged;
    } catch (const Failure& failure) {
        if (IsServerGone(failure) || DidNotAnswer(failure)) throw;
        if (closed(failure)) return Protection::Closed;
    }
    try {
        return document.get(L"HasPassword").toBool() ? Protection::Password : Protection::None;
    } catch (const Failure& failure) {
        if (closed(failure)) return Protection::Closed;
        throw;
    }
}

std::string ProtectedBackup(std::string_view package, const std::wstring& document) {
    return ProtectForUser(package, L"Orvelle backup of " + document);
}
