#include "common/IsInstalled.h"

#include "common/Automation.h"
#include "common/Guard.h"
#include "common/MessagePump.h"

#include <windows.h>

bool FileExists(const std::wstring& path) {
    // The file's date must be readable; wildcards and empty text are not files.
    if (path.empty() || path.find_first_of(L"*?") != std::wstring::npos) return false;
    WIN32_FILE_ATTRIBUTE_DATA data;
    return GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) != 0;
}

void RemoveFile(const std::wstring& path) {
    ProcessPendingMessages();
    Guard quiet = Guard::Quiet();
    if (!DeleteFileW(path.c_str())) quiet.step(1, [&] { ForceDeleteFile(path); });
}

void ForceDeleteFile(const std::wstring& path) {
    Dispatch fso = Dispatch::Create(L"Scripting.FileSystemObject");
    fso.call(L"DeleteFile", {path, true});
}
