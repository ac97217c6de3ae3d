#include "engine/WordDocument.h"

#include "common/Guard.h"
#include "common/Main.h"
#include "common/Text.h"
#include "engine/ProtectedContent.h"
#include "engine/RunState.h"
#include "engine/WebFolders.h"
#include "engine/WordInstances.h"

#include <winnetwk.h>

#include <cwctype>
#include <set>

namespace {

bool IsDrivePath(const std::wstring& name) {
    return name.size() >= 3 && std::iswalpha(name[0]) && name[1] == L':' && name[2] == L'\\';
}
bool IsUncPath(const std::wstring& name) { return name.starts_with(L"\\\\"); }
// A file on a mapped network drive by its share's name: one document,
// whichever way the user opened it.  mpr is loaded from the system folder
// the first time a network drive is met.
std::wstring UniversalName(const std::wstring& path) {
    if (!IsDrivePath(path) || GetDriveTypeW(path.substr(0, 3).c_str()) != DRIVE_REMOTE) return path;
    using Function = DWORD WINAPI(LPCWSTR, DWORD, LPVOID, LPDWORD);
    static Function* const universalName = [] {
        HMODULE mpr = LoadLibraryW((SystemFolder() + L"\\mpr.dll").c_str());
        return mpr ? reinterpret_cast<Function*>(GetProcAddress(mpr, "WNetGetUniversalNameW")) : nullptr;
    }();
    alignas(UNIVERSAL_NAME_INFOW) char buffer[2048];
    DWORD size = sizeof buffer;
    if (!universalName || universalName(path.c_str(), UNIVERSAL_NAME_INFO_LEVEL, buffer, &size) != NO_ERROR)
        return path;
    return reinterpret_cast<const UNIVERSAL_NAME_INFOW*>(buffer)->lpUniversalName;
}

// "Dec 8 10:02 AM": the month and day and the time without seconds, in the
// user's forms.
std::wstring StartedText(std::uint64_t ticks) {
    const FILETIME utc{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME universal, local;
    if (!FileTimeToSystemTime(&utc, &universal) || !SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local))
        return L"?";
    wchar_t date[80] = {}, time[80] = {};
    GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, 0, &local, L"MMM d", date, 80, nullptr);
    GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, TIME_NOSECONDS, &local, nullptr, time, 80);
    return std::wstring(date) + L" " + time;
}

// The document of identity among one Word's documents.
std::optional<OpenDocument> FindIn(const Dispatch& app, WordProcess process, const DocumentIdentity& identity) {
    if (identity.neverSaved && process.id && !(process == identity.process)) return std::nullopt;
    Word word;
    word.attach(app);
    for (const Dispatch& document : word.snapshot()) {
        if (identity.neverSaved && !process.id) process = ProcessOfWord(app);
        if (identity.neverSaved && !(process == identity.process)) return std::nullopt;
        try {
            OpenDocument open = ResolveOpenDocument(app, document, document.get(L"FullName").toText(), process);
            if (open.identity.key() == identity.key()) return open;
        } catch (const Failure& failure) {
            if (failure.number() != kWordObjectDeleted) throw;
        }
    }
    return std::nullopt;
}

}  // namespace

DocumentIdentity IdentityOf(const std::wstring& fullName, const WordProcess& process) {
    if (IsDrivePath(fullName) || IsUncPath(fullName)) return {UniversalName(fullName), false, {}};
    if (IsWebAddress(fullName)) return {fullName, false, {}};
    return {fullName, true, process};
}

OpenDocument ResolveOpenDocument(Dispatch word, Dispatch document, const std::wstring& fullName,
                                 const WordProcess& process) {
    OpenDocument open{std::move(document), std::move(word), fullName, {}, fullName, process,
                      IdentityOf(fullName, process)};
    if (open.neverSaved()) return open;
    open.onTheWeb = !IsDrivePath(fullName) && !IsUncPath(fullName);
    // As Word's Path and Name give them.
    const size_t cut = fullName.find_last_of(open.onTheWeb ? L"/" : L"\\");
    open.path = fullName.substr(0, cut);
    open.name = fullName.substr(cut + 1);
    if (open.path.size() == 2 && open.path[1] == L':') open.path += L'\\';
    return open;
}

std::wstring DocumentLabel(const DocumentIdentity& identity, const std::wstring& name, std::uint64_t firstBackup) {
    if (identity.neverSaved) return name + L", started " + StartedText(firstBackup);
    const size_t slash = identity.name.find_last_of(L"\\/");
    return slash == std::wstring::npos || slash == 0 ? name : name + L" (" + identity.name.substr(0, slash) + L")";
}

std::wstring OpenDocument::label(std::uint64_t firstBackup) const { return DocumentLabel(identity, name, firstBackup); }

WordProcess ProcessOfWord(const Dispatch& word) {
    Guard quiet = Guard::Quiet();
    DWORD pid = 0;
    quiet.step(1, [&] {
        const HWND window = reinterpret_cast<HWND>(
            static_cast<LONG_PTR>(word.get(L"ActiveWindow").toDispatch().get(L"Hwnd").toLong()));
        GetWindowThreadProcessId(window, &pid);
    });
    return pid ? ProcessOf(pid) : WordProcess{};
}

bool IsStillOpen(const Dispatch& document) {
    try {
        document.get(L"Name");
        return true;
    } catch (const Failure& failure) {
        if (failure.number() != kWordObjectDeleted) throw;
        return false;
    }
}

std::optional<OpenDocument> FindOpenDocument(const DocumentIdentity& identity) {
    WordInstances instances;
    if (instances.find() != WordState::Running) return std::nullopt;
    Guard quiet = Guard::Quiet();
    std::optional<OpenDocument> found;
    auto search = [&](const std::vector<FoundWord>& words) {
        for (const FoundWord& word : words)
            if (!found) quiet.step(2, [&] { found = FindIn(word.app, word.process, identity); });
    };
    search(instances.backedUp());
    // A saved document of a Word that only the running-object table knows.
    if (!found && !identity.neverSaved) search(instances.fromRunningObjectTable({}));
    return found;
}
